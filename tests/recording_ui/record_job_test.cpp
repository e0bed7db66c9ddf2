// The Record controls of the whole window and the job the "Measure" page
// runs, offscreen and with no scanner: the test pushes the profiles into the
// live sources as their workers would. A job changed on the page while
// recording is stored once per change, from the first profile after it (it
// reaches the recording at once, not at a later refresh); a job left as it
// is is stored once, however often the status refreshes; a job the page
// refuses, the page bound to "Playback" or its job cleared stores no results
// from then on, and binding it back to "Live" stores its job again.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "measure/measure_page.h"
#include "model/measure/job.h"
#include "model/recording/recorded_results.h"
#include "model/recording/recording_file.h"
#include "offscreen_window.h"
#include "recording/record_controls.h"
#include "source/profile_source.h"

namespace ms = qz417::measure;
namespace rec = qz417::recording;

namespace {

ms::Job HeightJob(double xMax) {
    ms::ToolSetup t;
    t.name = "top";
    t.kind = ms::ToolKind::Height;
    t.region = {-50, xMax};
    return {{t}};
}

// A stored job: its text ("" for "nothing measured from here on") and first
// profile.
using Stored = std::pair<std::string, std::uint64_t>;

Stored JobAt(const ms::Job &job, std::uint64_t first) {
    return {ms::JobToJson(job), first};
}

// "first profile: tools" per stored job, for a failure's message.
QByteArray Describe(const std::vector<Stored> &jobs) {
    QByteArray text;
    for (const auto &[json, first] : jobs)
        text += QByteArray::number(static_cast<qulonglong>(first)) + ": " +
                (json.empty() ? QByteArray("none") : QByteArray::fromStdString(json)) + "\n";
    return text;
}

} // namespace

class RecordJobTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TFormMain> form_;
    QTemporaryDir dir_;
    std::uint16_t counter_ = 0;

    qz417::WindowAdditions &a() { return form_->Additions(); }
    qz417::MeasurePage *page() { return a().MeasureView; }

    // Pushes n profiles into `source` and waits until `controls` wrote them
    // all (the window's timers run meanwhile).
    bool Push(qz417::ProfileSource &source, qz417::RecordControls *controls, int n) {
        const std::uint64_t want = controls->Status().written + static_cast<std::uint64_t>(n);
        rec::Packet packet{};
        for (int i = 0; i < n; ++i, ++counter_) {
            packet[0] = packet[2] = static_cast<std::uint8_t>(counter_ & 0xFF);
            packet[1] = packet[3] = static_cast<std::uint8_t>(counter_ >> 8);
            source.PushNow(packet.data());
        }
        return QTest::qWaitFor([&] { return controls->Status().written >= want; }, 5000) &&
               controls->Status().written == want;
    }

    // Stops the recording, waits for the file and reads its stored jobs and
    // the profiles with results, each with the job it was measured with.
    bool Finish(qz417::RecordControls *controls, const QString &path, std::vector<Stored> &jobs,
                std::vector<std::pair<std::uint64_t, std::size_t>> &measured) {
        controls->StopRecording();
        if (!QTest::qWaitFor([&] { return !controls->Recording(); }, 5000))
            return false;
        rec::RecordingReader reader(QFile::encodeName(path).toStdString());
        rec::RecordedResultsReader results(reader);
        for (std::size_t j = 0; j < results.jobs().size(); ++j)
            jobs.emplace_back(results.jobs()[j].tools.empty() ? std::string()
                                                              : ms::JobToJson(results.jobs()[j]),
                              results.tables().jobs[j].firstProfile);
        return results.ForEach(0, reader.profiles(),
                               [&](std::size_t job, std::uint64_t profile, const ms::JobResult &) {
                                   measured.emplace_back(profile, job);
                               });
    }

    // The profiles with results, each with its job's index, in runs of
    // [first, end) measured with job.
    static std::vector<std::pair<std::uint64_t, std::size_t>>
    Profiles(std::initializer_list<std::tuple<std::uint64_t, std::uint64_t, std::size_t>> runs) {
        std::vector<std::pair<std::uint64_t, std::size_t>> out;
        for (const auto &[first, end, job] : runs)
            for (std::uint64_t p = first; p < end; ++p)
                out.emplace_back(p, job);
        return out;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(qz417::test::ShowWindow(form_));
        QCOMPARE(page()->bound(), 0); // "Live"
    }

    void cleanupTestCase() { qz417::test::CloseWindow(form_); }

    void eachChangeOfTheJobIsStoredOnceFromTheProfileAfterIt() {
        qz417::RecordControls *controls = a().UdpRecord;
        qz417::ProfileSource &udp = *a().sources.udp;
        QVERIFY(page()->ApplyJob(HeightJob(0)));
        const QString path = dir_.filePath(QStringLiteral("changes.qzrec"));
        QVERIFY(controls->StartRecording(path, {}));

        // Left as it is while the status refreshes (its text follows the
        // profiles): nothing more is stored.
        QVERIFY(Push(udp, controls, 50));
        QTRY_VERIFY_WITH_TIMEOUT(
            controls->statusLabel()->text().contains(QLatin1String(" 50 prof.")), 2000);
        QVERIFY(Push(udp, controls, 50));
        QTRY_VERIFY_WITH_TIMEOUT(
            controls->statusLabel()->text().contains(QLatin1String(" 100 prof.")), 2000);

        // Changed: from the very next profile, no refresh in between.
        QVERIFY(page()->ApplyJob(HeightJob(50)));
        QVERIFY(Push(udp, controls, 50));
        // Refused by the page: its job stays, nothing is stored.
        ms::Job bad = HeightJob(50);
        bad.tools[0].region = {50, -50};
        QVERIFY(!page()->ApplyJob(bad));
        for (QMessageBox *box : page()->findChildren<QMessageBox *>())
            box->close();
        QVERIFY(Push(udp, controls, 50));
        // Bound to "Playback": no results from here on; back to "Live": its
        // job again.
        page()->Bind(1);
        QVERIFY(Push(udp, controls, 50));
        page()->Bind(0);
        QVERIFY(Push(udp, controls, 50));
        // Cleared: no results from here on.
        QVERIFY(page()->ApplyJob({}));
        QVERIFY(Push(udp, controls, 50));

        std::vector<Stored> jobs;
        std::vector<std::pair<std::uint64_t, std::size_t>> measured;
        QVERIFY(Finish(controls, path, jobs, measured));
        const std::vector<Stored> expected = {JobAt(HeightJob(0), 0),
                                              JobAt(HeightJob(50), 100),
                                              {std::string(), 200},
                                              JobAt(HeightJob(50), 250),
                                              {std::string(), 300}};
        QVERIFY2(jobs == expected, Describe(jobs).constData());
        QCOMPARE(measured, Profiles({{0, 100, 0}, {100, 200, 1}, {250, 300, 3}}));
    }

    void aRecordingStoresNoResultsUntilThePageMeasuresTheLiveSources() {
        // The "Result viewer" page's control, on the TCP source.
        qz417::RecordControls *controls = a().ResultRecord;
        qz417::ProfileSource &tcp = *a().sources.tcp;
        QVERIFY(page()->ApplyJob(HeightJob(20)));
        page()->Bind(1);
        const QString path = dir_.filePath(QStringLiteral("later.qzrec"));
        QVERIFY(controls->StartRecording(path, {}));
        QVERIFY(Push(tcp, controls, 40));
        QTRY_VERIFY_WITH_TIMEOUT(
            controls->statusLabel()->text().contains(QLatin1String(" 40 prof.")), 2000);
        page()->sourceBox()->setCurrentIndex(0); // "Live", as the user chooses it
        QCOMPARE(page()->bound(), 0);
        QVERIFY(Push(tcp, controls, 40));

        std::vector<Stored> jobs;
        std::vector<std::pair<std::uint64_t, std::size_t>> measured;
        QVERIFY(Finish(controls, path, jobs, measured));
        QVERIFY2(jobs == std::vector<Stored>{JobAt(HeightJob(20), 40)}, Describe(jobs).constData());
        QCOMPARE(measured, Profiles({{40, 80, 0}}));

        // Without a job nothing is stored at all.
        QVERIFY(page()->ApplyJob({}));
        const QString none = dir_.filePath(QStringLiteral("none.qzrec"));
        QVERIFY(controls->StartRecording(none, {}));
        QVERIFY(Push(tcp, controls, 20));
        jobs.clear();
        measured.clear();
        QVERIFY(Finish(controls, none, jobs, measured));
        QVERIFY(jobs.empty());
        QVERIFY(measured.empty());
    }
};

QTEST_MAIN(RecordJobTest)
#include "record_job_test.moc"
