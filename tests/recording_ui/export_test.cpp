// "Export..." on the "Playback" page, offscreen and with no scanner: the
// dialog's defaults, CSV and profile text written through the dialog equal
// the recording library's own output byte for byte, a bad range or a file
// that cannot be written gets its "QZ417-SP" message and leaves no file,
// and neither the window thread nor playback waits for an export, which
// Cancel stops. "Measurement results" writes the results a recording stores,
// as the library does, and says so when it stores none.
#include <QtTest>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "model/measure/job.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"
#include "model/recording/recording_writer_thread.h"
#include "offscreen_window.h"
#include "recording/export_controls.h"
#include "recording/export_dialog.h"
#include "recording/playback_page.h"

namespace rec = qz417::recording;

namespace {

constexpr std::uint32_t kProfiles = 3000;
constexpr int kValidPoints = 16; // per profile: small files, many batches

// Profile i: counters i, points 100 .. 115 on a slope that moves with i,
// every other point invalid (zero, the error value).
rec::Packet MakePacket(std::uint32_t i) {
    rec::Packet p{};
    p[0] = static_cast<std::uint8_t>(i & 0xFF);
    p[1] = static_cast<std::uint8_t>(i >> 8);
    p[2] = p[0];
    p[3] = p[1];
    for (int k = 100; k < 100 + kValidPoints; ++k) {
        const auto x = static_cast<std::uint16_t>(k * 16 - 8192);
        const auto z = static_cast<std::uint16_t>(4000 + k * 3 + i % 500);
        std::uint8_t *q = p.data() + 4 + 4 * k;
        q[0] = static_cast<std::uint8_t>(z & 0xFF);
        q[1] = static_cast<std::uint8_t>(z >> 8);
        q[2] = static_cast<std::uint8_t>(x & 0xFF);
        q[3] = static_cast<std::uint8_t>(x >> 8);
    }
    return p;
}

void WriteRecording(const std::string &path) {
    rec::Announcement a{};
    std::uint8_t *d = a.data() + 12; // range Z 300, range X 200, discrete value 16384
    d[6] = 300 & 0xFF;
    d[7] = 300 >> 8;
    d[10] = 200;
    d[13] = 0x40;
    rec::RecordingWriter writer(path, {a, std::nullopt, "export test"});
    std::vector<std::uint8_t> packets;
    std::vector<rec::ReceiveTime> times;
    for (std::uint32_t i = 0; i < kProfiles; ++i) {
        const rec::Packet p = MakePacket(i);
        packets.insert(packets.end(), p.begin(), p.end());
        times.push_back({1'000'000'000 + i * 1'000'000LL, 1'700'000'000'000'000'000 + i});
    }
    writer.Append(packets.data(), times.data(), kProfiles);
    writer.Close(0, rec::EndState::Closed);
}

std::string ReadAll(const QString &path) {
    std::ifstream f(QFile::encodeName(path).toStdString(), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// The visible message boxes of the export under `parent`, closed after reading.
QStringList TakeMessages(QWidget *parent) {
    QStringList texts;
    for (QMessageBox *box : parent->findChildren<QMessageBox *>(QStringLiteral("ExportMessage"))) {
        if (!box->isVisible())
            continue;
        texts << (box->windowTitle() == QStringLiteral("QZ417-SP")
                      ? box->text()
                      : QStringLiteral("caption ") + box->windowTitle());
        box->done(QMessageBox::Ok);
    }
    return texts;
}

} // namespace

class ExportTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TFormMain> form_;
    QTemporaryDir dir_;
    QString path_;
    std::vector<qz417::ExportOutcome> outcomes_;

    qz417::PlaybackPage *page() { return form_->Additions().PlaybackView; }
    qz417::ExportControls *controls() { return page()->exportControls(); }

    // Clicks "Export..." and returns the dialog it opened.
    qz417::ExportDialog *ClickExport() {
        controls()->button()->click();
        for (qz417::ExportDialog *d : form_->findChildren<qz417::ExportDialog *>())
            if (d->isVisible())
                return d;
        return nullptr;
    }

    // Waits for the export started last; false on a time-out.
    bool WaitForOutcome(std::size_t count) {
        return QTest::qWaitFor([&] { return outcomes_.size() >= count; }, 30000);
    }

    // The library's output for the same request, as the reference.
    std::string Reference(const rec::ExportRequest &request) {
        const QString out = dir_.filePath(QStringLiteral("reference.out"));
        rec::RecordingReader reader(QFile::encodeName(path_).toStdString());
        rec::ExportRecording(reader, request, QFile::encodeName(out).toStdString());
        const std::string bytes = ReadAll(out);
        QFile::remove(out);
        return bytes;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        path_ = dir_.filePath(QStringLiteral("line1.h5"));
        WriteRecording(QFile::encodeName(path_).toStdString());
        QVERIFY(qz417::test::ShowWindow(form_));
        form_->PageControlQZ417->setCurrentWidget(form_->Additions().TabSheetPlayback);
        connect(controls(), &qz417::ExportControls::exportFinished, this,
                [this](const qz417::ExportOutcome &o) { outcomes_.push_back(o); });
    }

    void cleanupTestCase() { qz417::test::CloseWindow(form_); }

    void theButtonSitsBesideThePagesControlsAndWaitsForARecording() {
        QPushButton *button = controls()->button();
        QCOMPARE(button->text(), QStringLiteral("Export..."));
        QVERIFY(!button->isEnabled());
        QVERIFY(!page()->OpenRecording(dir_.filePath(QStringLiteral("missing.h5"))));
        QVERIFY(!button->isEnabled());
        TakeMessages(form_.get()); // playback's own message about the missing file
        for (QMessageBox *box : form_->findChildren<QMessageBox *>())
            box->done(QMessageBox::Ok);
        QVERIFY(page()->OpenRecording(path_));
        QVERIFY(button->isEnabled());
        // Inside the page and clear of every control that was there before.
        QVERIFY(page()->rect().contains(button->geometry()));
        for (const char *name :
             {"ButtonPlaybackOpen", "ButtonPlaybackPlay", "ButtonPlaybackBack",
              "ButtonPlaybackForward", "ComboBoxPlaybackSpeed", "LabelPlaybackFile",
              "SliderPlayback", "LabelPlaybackPosition", "PanelPlayback"}) {
            auto *w = page()->findChild<QWidget *>(QString::fromLatin1(name));
            QVERIFY2(w != nullptr, name);
            QVERIFY2(!w->geometry().intersects(button->geometry()), name);
        }
    }

    void csvFromTheDialogEqualsTheLibrarysOutput() {
        qz417::ExportDialog *dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        // Defaults: CSV of the whole recording, beside it.
        QCOMPARE(dialog->formatBox()->currentIndex(), 0);
        QCOMPARE(dialog->firstBox()->value(), 1);
        QCOMPARE(dialog->countBox()->value(), static_cast<int>(kProfiles));
        QCOMPARE(dialog->pathEdit()->text(), dir_.filePath(QStringLiteral("line1.csv")));
        QVERIFY(!dialog->pitchBox()->isEnabled());

        dialog->firstBox()->setValue(101); // profiles 100 .. 2099
        dialog->countBox()->setValue(2000);
        const QString out = dir_.filePath(QStringLiteral("from the window.csv"));
        dialog->pathEdit()->setText(out);
        const std::size_t before = outcomes_.size();
        dialog->okButton()->click();
        QVERIFY(WaitForOutcome(before + 1));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Done);
        QCOMPARE(outcomes_.back().profiles, std::uint64_t{2000});

        rec::ExportRequest request;
        request.format = rec::ExportFormat::Csv;
        request.first = 100;
        request.count = 2000;
        const std::string bytes = ReadAll(out);
        QCOMPARE(bytes.size(), Reference(request).size());
        QVERIFY(bytes == Reference(request));
        // The CSV numbers profiles as the dialog does: "First profile: 101" is profile 101.
        QVERIFY(bytes.rfind("profile,point,time_s,x_mm,z_mm\n101,101,0.100000000,", 0) == 0);
        QVERIFY(bytes.find("\n2100,116,") != std::string::npos);
        QVERIFY(bytes.find("\n2101,") == std::string::npos);
        QCOMPARE(outcomes_.back().points, std::uint64_t{2000 * kValidPoints});
        const QStringList messages = TakeMessages(form_.get());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("2000 profiles")), qPrintable(messages[0]));
        QVERIFY(controls()->button()->isEnabled());
    }

    void oneProfileIsNamedInTheSingular() {
        qz417::ExportDialog *dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        dialog->firstBox()->setValue(3);
        dialog->countBox()->setValue(1);
        const QString out = dir_.filePath(QStringLiteral("one.csv"));
        dialog->pathEdit()->setText(out);
        const std::size_t before = outcomes_.size();
        dialog->okButton()->click();
        QVERIFY(WaitForOutcome(before + 1));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Done);
        QVERIFY(ReadAll(out).rfind("profile,point,time_s,x_mm,z_mm\n3,101,", 0) == 0);
        const QStringList messages = TakeMessages(form_.get());
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0], QStringLiteral("1 profile (16 points) was exported to %1.").arg(out));
        QVERIFY(QFile::remove(out)); // the later tests list the folder
    }

    void profileTextDefaultsToTheShownProfile() {
        page()->player().Seek(41);
        QTRY_COMPARE(page()->player().shown(), std::int64_t{41});
        qz417::ExportDialog *dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        dialog->formatBox()->setCurrentIndex(3);
        QCOMPARE(dialog->firstBox()->value(), 42);
        QCOMPARE(dialog->countBox()->value(), 1);
        QVERIFY(!dialog->countBox()->isEnabled());
        QCOMPARE(dialog->pathEdit()->text(), dir_.filePath(QStringLiteral("line1_00042.txt")));
        // Back to a cloud: the whole recording again, y from the pitch.
        dialog->formatBox()->setCurrentIndex(1);
        QCOMPARE(dialog->firstBox()->value(), 1);
        QCOMPARE(dialog->countBox()->value(), static_cast<int>(kProfiles));
        QVERIFY(dialog->pitchBox()->isEnabled());
        QVERIFY(dialog->pathEdit()->text().endsWith(QStringLiteral("line1.ply")));
        dialog->formatBox()->setCurrentIndex(3);
        dialog->firstBox()->setValue(50); // the offered name follows the profile
        QCOMPARE(dialog->pathEdit()->text(), dir_.filePath(QStringLiteral("line1_00050.txt")));
        dialog->firstBox()->setValue(42);

        const QString out = dir_.filePath(QStringLiteral("shown.txt"));
        dialog->pathEdit()->setText(out);
        const std::size_t before = outcomes_.size();
        dialog->okButton()->click();
        QVERIFY(WaitForOutcome(before + 1));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Done);
        rec::ExportRequest request;
        request.format = rec::ExportFormat::ProfileText;
        request.first = 41;
        request.count = 1;
        QVERIFY(ReadAll(out) == Reference(request));
        QVERIFY(ReadAll(out).find("Profile nember: 41\r\n") != std::string::npos);
        TakeMessages(form_.get());
    }

    void measurementResultsAreExportedAsTheLibraryWritesThem() {
        // A recording of the same profiles made with a job: its results stored.
        const QString withResults = dir_.filePath(QStringLiteral("measured.h5"));
        {
            rec::RecordingWriterThread recorder;
            rec::RecorderSettings settings;
            settings.path = QFile::encodeName(withResults).toStdString();
            settings.job = qz417::measure::ParseJob(R"({"format": "qz417-measure-job", "version": 1,
              "tools": [{"name": "h", "tool": "height", "region": {"x": [-100, -50]}},
                        {"name": "none", "tool": "height", "region": {"x": [50, 100]}}]})");
            std::string error;
            QVERIFY2(recorder.Start(settings, &error), error.c_str());
            for (std::uint32_t i = 0; i < 500; ++i) {
                const rec::Packet p = MakePacket(i);
                QVERIFY(recorder.Push(p.data(), {1'000'000'000 + i * 1'000'000LL, 0}));
            }
            recorder.Stop();
        }
        QVERIFY(page()->OpenRecording(withResults));
        qz417::ExportDialog *dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        dialog->formatBox()->setCurrentIndex(4);
        QCOMPARE(dialog->request().format, rec::ExportFormat::ResultsCsv);
        QCOMPARE(dialog->pathEdit()->text(), dir_.filePath(QStringLiteral("measured_results.csv")));
        dialog->firstBox()->setValue(11); // profiles 10 .. 109
        dialog->countBox()->setValue(100);
        std::size_t before = outcomes_.size();
        dialog->okButton()->click();
        QVERIFY(WaitForOutcome(before + 1));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Done);
        QCOMPARE(outcomes_.back().profiles, std::uint64_t{100});
        const QString out = dir_.filePath(QStringLiteral("measured_results.csv"));
        const QString reference = dir_.filePath(QStringLiteral("reference.out"));
        {
            rec::RecordingReader reader(QFile::encodeName(withResults).toStdString());
            rec::ExportRequest request;
            request.format = rec::ExportFormat::ResultsCsv;
            request.first = 10;
            request.count = 100;
            rec::ExportRecording(reader, request, QFile::encodeName(reference).toStdString());
        }
        const std::string bytes = ReadAll(out);
        QVERIFY(bytes == ReadAll(reference));
        QVERIFY(bytes.rfind("profile,measurement,h.min,", 0) == 0);
        QVERIFY(bytes.find("\n10,10,") != std::string::npos);
        QVERIFY(bytes.find("no result: no valid points in the region") != std::string::npos);
        TakeMessages(form_.get());

        // The recording without results: a message, and no file.
        QVERIFY(page()->OpenRecording(path_));
        dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        dialog->formatBox()->setCurrentIndex(4);
        const QString none = dir_.filePath(QStringLiteral("none.csv"));
        dialog->pathEdit()->setText(none);
        before = outcomes_.size();
        dialog->okButton()->click();
        QVERIFY(WaitForOutcome(before + 1));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Failed);
        const QStringList messages = TakeMessages(form_.get());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("holds no measurement results")),
                 qPrintable(messages[0]));
        QVERIFY(!QFile::exists(none));
        // The later tests list the folder.
        QVERIFY(QFile::remove(out));
        QVERIFY(QFile::remove(reference));
        QVERIFY(QFile::remove(withResults));
    }

    void speedTakesYFromTheRecordedTime() {
        qz417::ExportDialog *dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        dialog->formatBox()->setCurrentIndex(2); // PCD
        dialog->firstBox()->setValue(11);
        dialog->countBox()->setValue(5);
        dialog->speedButton()->setChecked(true);
        QVERIFY(dialog->speedBox()->isEnabled());
        QVERIFY(!dialog->pitchBox()->isEnabled());
        dialog->speedBox()->setValue(250.0);
        const QString out = dir_.filePath(QStringLiteral("speed.pcd"));
        dialog->pathEdit()->setText(out);
        const std::size_t before = outcomes_.size();
        dialog->okButton()->click();
        QVERIFY(WaitForOutcome(before + 1));
        rec::ExportRequest request;
        request.format = rec::ExportFormat::Pcd;
        request.first = 10;
        request.count = 5;
        request.speedMmPerS = 250.0;
        QVERIFY(ReadAll(out) == Reference(request));
        // Profile 10 was recorded 10 ms after profile 0: y = 2.5 mm.
        QVERIFY(ReadAll(out).find(" 2.5 ") != std::string::npos);
        TakeMessages(form_.get());
    }

    void aBadRangeGetsItsMessageAndWritesNothing() {
        qz417::ExportDialog *dialog = ClickExport();
        QVERIFY(dialog != nullptr);
        const QString out = dir_.filePath(QStringLiteral("beyond.csv"));
        dialog->pathEdit()->setText(out);
        dialog->firstBox()->setValue(2990);
        dialog->countBox()->setValue(20);
        dialog->okButton()->click();
        QStringList messages = TakeMessages(dialog);
        QCOMPARE(messages, QStringList{QStringLiteral(
                               "Profiles 2990 to 3009 lie beyond the 3000 profiles of the "
                               "recording.")});
        QVERIFY(dialog->isVisible()); // to correct it
        dialog->firstBox()->setValue(3001);
        dialog->countBox()->setValue(1);
        dialog->okButton()->click();
        QCOMPARE(TakeMessages(dialog),
                 QStringList{QStringLiteral(
                     "Profile 3001 lies beyond the 3000 profiles of the recording.")});
        dialog->countBox()->setValue(0);
        dialog->firstBox()->setValue(1);
        dialog->okButton()->click();
        QCOMPARE(TakeMessages(dialog),
                 QStringList{QStringLiteral("Give at least one profile to export.")});
        dialog->reject();
        QVERIFY(!controls()->Exporting());

        // The same through the window's own entry, past the dialog.
        rec::ExportRequest request;
        request.first = 2999;
        request.count = 2;
        QVERIFY(!controls()->StartExport(request, out));
        messages = TakeMessages(form_.get());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("profiles 2999 to 3000 lie beyond the 3000")),
                 qPrintable(messages[0]));
        QVERIFY(!QFile::exists(out));
        QVERIFY(!controls()->Exporting());
    }

    void aFileThatCannotBeWrittenGetsItsMessage() {
        rec::ExportRequest request;
        request.count = kProfiles;
        const QString out = dir_.filePath(QStringLiteral("no such folder/p.csv"));
        const std::size_t before = outcomes_.size();
        QVERIFY(controls()->StartExport(request, out));
        QVERIFY(WaitForOutcome(before + 1));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Failed);
        const QStringList messages = TakeMessages(form_.get());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith(QStringLiteral("The export failed: cannot write ")),
                 qPrintable(messages[0]));
        QVERIFY(messages[0].contains(QStringLiteral("No such file or directory")));
        QVERIFY(!QFile::exists(out));
        QVERIFY(controls()->button()->isEnabled());
    }

    // The output is a pipe nobody reads yet: the export's thread waits in
    // its first write, the window and the player do not.
    void theWindowNeverWaitsForAnExportAndItsCancelStopsIt() {
        const QString fifo = dir_.filePath(QStringLiteral("held.ply"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        rec::ExportRequest request;
        request.format = rec::ExportFormat::Ply;
        request.count = kProfiles;
        const std::size_t before = outcomes_.size();
        QVERIFY(controls()->StartExport(request, fifo));
        QVERIFY(controls()->Exporting());
        QVERIFY(!controls()->button()->isEnabled());
        QVERIFY(controls()->progressDialog() != nullptr);
        QVERIFY(controls()->progressDialog()->isVisible());
        const std::int64_t shown = page()->player().shown();
        page()->stepForwardButton()->click();
        QCOMPARE(page()->player().shown(), shown + 1);
        // A quiet moment: the step neither ends nor disturbs the export, which
        // cannot go on before the FIFO has a reader.
        QTest::qWait(50);
        QVERIFY(controls()->Exporting());

        QTest::mouseClick(controls()->progressDialog()->findChild<QPushButton *>(), Qt::LeftButton);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QElapsedTimer clock;
        clock.start();
        char sink[4096];
        while (outcomes_.size() == before && clock.elapsed() < 30000) {
            while (::read(reader, sink, sizeof sink) > 0) {
            }
            QTest::qWait(10);
        }
        ::close(reader);
        QCOMPARE(outcomes_.size(), before + 1);
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Cancelled);
        QVERIFY(TakeMessages(form_.get()).isEmpty());
        QVERIFY(controls()->lastMessage().contains(QStringLiteral("cancelled")));
        QVERIFY(controls()->button()->isEnabled());
        QTRY_VERIFY(controls()->progressDialog() == nullptr);

        // A reader that goes away: the export fails, the program lives on.
        rec::ExportRequest csv;
        csv.count = kProfiles;
        QVERIFY(controls()->StartExport(csv, fifo));
        const int gone = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(gone >= 0);
        // Past the opening: the first profiles were read.
        QTRY_VERIFY(controls()->progressDialog() && controls()->progressDialog()->value() > 0);
        ::close(gone);
        QVERIFY(WaitForOutcome(before + 2));
        QCOMPARE(outcomes_.back().status, qz417::ExportOutcome::Status::Failed);
        const QStringList messages = TakeMessages(form_.get());
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("Broken pipe")), qPrintable(messages[0]));

        // What the other cases wrote and nothing else: no part of a file.
        QVERIFY(QFile::remove(fifo));
        QStringList names = QDir(dir_.path()).entryList(QDir::Files | QDir::System | QDir::Hidden);
        names.sort();
        QCOMPARE(names,
                 (QStringList{QStringLiteral("from the window.csv"), QStringLiteral("line1.h5"),
                              QStringLiteral("shown.txt"), QStringLiteral("speed.pcd")}));
    }
};

QTEST_MAIN(ExportTest)
#include "export_test.moc"
