// Playback beside a connected, measuring scanner (the whole window against
// the emulated scanner, scale 230/250/16384/0): opening, playing and
// scrubbing a recording made under another scale (200/300/8192/-32768) and
// another serial number changes nothing of the scanner's: not the scale,
// not the "Information" page, not the parameter groups, not the chart
// titles, not the profile file "Save" writes. The "Surface" page bound to
// live never receives a played profile, and bound to the playback never a
// live one. A worker that ends keeps its source's statistics; a damaged
// recording ends playing without a hang.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>

#include <fstream>
#include <set>
#include <vector>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulated_window.h"
#include "model/profile_file.h"
#include "model/recording/recording_file.h"
#include "recording/playback_page.h"
#include "source/profile_source.h"
#include "surface/surface_view.h"
#include "widgets/profile_chart.h"

namespace rec = qz417::recording;

namespace {

constexpr std::uint32_t kProfiles = 3000;

qz417::ProfileScale RecordedScale() {
    qz417::ProfileScale s;
    s.rangeXEmr = 300;
    s.rangeZ = 200;
    s.discreteValue = 8192;
    s.errorValue = -32768;
    return s;
}

// A recording of serial number 77777 under RecordedScale(), at 1 kHz.
void WriteRecording(const std::string &path) {
    rec::Announcement a{};
    a[0] = 417 & 0xFF;
    a[1] = 417 >> 8;
    std::uint8_t *d = a.data() + 12;
    d[0] = 0x02; // Ethernet only: no sync, no analog out
    d[1] = 77777 & 0xFF;
    d[2] = (77777 >> 8) & 0xFF;
    d[3] = 77777 >> 16;
    d[4] = 60;          // base distance
    d[6] = 200;         // range Z
    d[8] = 100;         // range X (SMR)
    d[10] = 300 & 0xFF; // range X (EMR)
    d[11] = 300 >> 8;
    d[12] = 0x00; // discrete value 8192
    d[13] = 0x20;
    d[14] = 0x00; // error value -32768
    d[15] = 0x80;
    rec::RecordingWriter writer(path, {a, std::nullopt, "playback live test"});
    std::vector<std::uint8_t> packets;
    std::vector<rec::ReceiveTime> times;
    for (std::uint32_t i = 0; i < kProfiles; ++i) {
        rec::Packet p{};
        p[0] = static_cast<std::uint8_t>(i);
        p[1] = static_cast<std::uint8_t>(i >> 8);
        p[2] = p[0];
        p[3] = p[1];
        for (int k = 0; k < 1024; ++k) {
            const auto x = static_cast<std::uint16_t>(k * 8);
            std::uint8_t *q = p.data() + 4 + 4 * k;
            q[0] = 0x00;
            q[1] = 0x10; // z 4096
            q[2] = static_cast<std::uint8_t>(x);
            q[3] = static_cast<std::uint8_t>(x >> 8);
        }
        packets.insert(packets.end(), p.begin(), p.end());
        times.push_back(
            {1'000'000'000 + i * 1'000'000LL, 1'700'000'000'000'000'000 + i * 1'000'000LL});
    }
    writer.Append(packets.data(), times.data(), kProfiles);
    writer.Close(0, rec::EndState::Closed);
}

} // namespace

class PlaybackLiveTest : public QObject {
    Q_OBJECT

private:
    qz417::test::EmulatedWindow window_;
    QTemporaryDir dir_;
    QString recording_;
    std::set<QString> saved_; // profile files seen
    TFormMain &f() { return window_.form(); }

    // What a playback must never change, as the window shows it.
    struct Scanner {
        qz417::ProfileScale scale;
        QString information;
        std::vector<bool> groups;
        bool operator==(const Scanner &) const = default;
    };
    Scanner Seen() {
        Scanner s;
        s.scale = qz417::CurrentScale();
        s.information = f().MemoInfo->toPlainText();
        for (QWidget *w : {static_cast<QWidget *>(f().GroupBoxResultSync),
                           static_cast<QWidget *>(f().GroupBoxMeasureSync),
                           static_cast<QWidget *>(f().GroupBoxAnalogOut),
                           static_cast<QWidget *>(f().CheckBoxResultSyncEnable),
                           static_cast<QWidget *>(f().ComboBoxSyncDivider)})
            s.groups.push_back(w->isEnabled());
        return s;
    }

    // "Save" on the "Result viewer" page: the new profile file must hold the
    // profile of its number as the scanner measured it, in the scanner's
    // scale (the TCP source's packets are the witness).
    void SaveAndCheck(qz417::FeedSubscription &tcp) {
        QVERIFY(QTest::qWaitFor([this] { return f().ButtonResultSave->isEnabled(); }, 5000));
        f().ButtonResultSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(f().ButtonResultSave->isEnabled(), 10000);
        QString path;
        QDirIterator it(dir_.filePath(QStringLiteral("Profiles")), QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            if (saved_.insert(p).second)
                path = p;
        }
        QVERIFY2(!path.isEmpty(), "no new profile file");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        const QList<QByteArray> lines = text.split('\n');
        QVERIFY(lines.size() > 2);
        const int number = lines[1].trimmed().split(' ').last().toInt();
        // The packet of that number among those the TCP worker received.
        qz417::FeedPacket packet, match;
        bool found = false;
        while (tcp.Pop(packet)) {
            QVERIFY(packet.scale == scannerScale_);
            if (qz417::ProfilePacket(packet.bytes.data()).measurementCount() == number) {
                match = packet;
                found = true;
            }
        }
        QVERIFY2(found, qPrintable(QStringLiteral("profile %1 not received").arg(number)));
        const std::string expected = qz417::ProfileFileText(
            qz417::RecordProfile(qz417::ProfilePacket(match.bytes.data()), scannerScale_));
        QCOMPARE(text, QByteArray::fromStdString(expected));
    }

    qz417::ProfileScale scannerScale_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        recording_ = dir_.filePath(QStringLiteral("other-scale.qzrec"));
        WriteRecording(QFile::encodeName(recording_).toStdString());
        QVERIFY(QDir::setCurrent(dir_.path())); // profile files go below it
        qz417::sim::EmulatorOptions options;
        options.streamRateHz = 1000; // to 127.0.0.1:6003, the block's default
        const std::string error = window_.start(options);
        if (!window_.scannerStarted())
            QSKIP(error.c_str());
        QVERIFY2(error.empty(), error.c_str());
        const std::string connected = window_.connect();
        QVERIFY2(connected.empty(), connected.c_str());
        scannerScale_ = qz417::CurrentScale();
        QCOMPARE(scannerScale_.rangeXEmr, std::uint16_t{230});
        QCOMPARE(scannerScale_.discreteValue, std::uint16_t{16384});
    }

    void cleanupTestCase() { window_.stop(); }

    void playbackChangesNothingOfTheConnectedScanner() {
        qz417::WindowAdditions &a = f().Additions();
        auto tcp = a.sources.tcp->Subscribe(1 << 14);
        auto udpWitness = a.sources.udp->Subscribe(1 << 14);
        auto played = a.sources.playback->Subscribe(1 << 14);
        QVERIFY(tcp && udpWitness && played);
        qz417::SurfaceView *surface = a.SurfaceView;
        QCOMPARE(surface->sourceBox()->currentText(), QStringLiteral("Live"));

        // Streaming and measuring.
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 5000);
        f().PageControlQZ417->setCurrentWidget(f().TabSheetResultViewer);
        f().ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(a.sources.udp->pushed() > 200, 5000);

        const Scanner before = Seen();
        SaveAndCheck(*tcp);

        // Open, play, scrub.
        qz417::PlaybackPage *page = a.PlaybackView;
        QVERIFY(page->OpenRecording(recording_));
        QVERIFY(page->descriptionLabel()->text().contains(QStringLiteral("77777")));
        QVERIFY(a.sources.playback->scale() == RecordedScale());
        QCOMPARE(Seen(), before);
        page->speedBox()->setCurrentIndex(2); // 10x
        page->playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(page->player().shown() > 500, 5000);
        QCOMPARE(Seen(), before);
        SaveAndCheck(*tcp); // saved while playing
        for (int v : {2500, 10, 1700}) {
            page->slider()->setValue(v);
            QCOMPARE(Seen(), before);
        }
        page->stepForwardButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page->player().Playing() ||
                                     page->player().shown() == std::int64_t{kProfiles - 1},
                                 20000);
        if (page->player().Playing())
            page->playButton()->click();
        QCOMPARE(Seen(), before);
        SaveAndCheck(*tcp); // and after

        // Bound to live: only live profiles, each with the scanner's scale.
        surface->Drain();
        QVERIFY(surface->history().size() > 0);
        for (std::size_t age = 0; age < surface->history().size(); ++age)
            QVERIFY(surface->history().Row(age).scale == scannerScale_);
        // The playback's profiles went to its own subscribers only, with
        // the recorded scale.
        qz417::FeedPacket packet;
        std::uint64_t playedCount = 0;
        while (played->Pop(packet)) {
            QCOMPARE(packet.source, qz417::FeedSource::Playback);
            QVERIFY(packet.scale == RecordedScale());
            ++playedCount;
        }
        QVERIFY(playedCount > 500);
        while (udpWitness->Pop(packet)) {
            QCOMPARE(packet.source, qz417::FeedSource::Udp);
            QVERIFY(packet.scale == scannerScale_);
        }

        // Bound to the playback: no live profile arrives.
        surface->sourceBox()->setCurrentIndex(1);
        page->player().Seek(0);
        page->playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(surface->history().added() > 100, 5000);
        page->playButton()->click();
        surface->Drain();
        for (std::size_t age = 0; age < surface->history().size(); ++age)
            QVERIFY(surface->history().Row(age).scale == RecordedScale());
        surface->sourceBox()->setCurrentIndex(0);
        QCOMPARE(Seen(), before);

        f().ButtonResult->click();
        QTRY_VERIFY_WITH_TIMEOUT(WorkerMode.load() != kModeResult, 5000);
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
    }

    // A worker that ends keeps its source's statistics until the next Start.
    void anEndedWorkerKeepsItsStatistics() {
        qz417::WindowAdditions &a = f().Additions();
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 5000);
        std::shared_ptr<qz417::StreamHealth> stats = a.sources.udp->statistics();
        QVERIFY(stats);
        QTRY_VERIFY_WITH_TIMEOUT(stats->received() > 100, 5000);
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
        const std::uint64_t received = stats->received();
        QCOMPARE(a.sources.udp->statistics(), stats);
        QCOMPARE(a.sources.udp->statistics()->received(), received);

        // The TCP source alike: one set of statistics per Start, kept after.
        const std::shared_ptr<qz417::StreamHealth> tcpBefore = a.sources.tcp->statistics();
        f().PageControlQZ417->setCurrentWidget(f().TabSheetResultViewer);
        f().ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 5000);
        std::shared_ptr<qz417::StreamHealth> tcpStats = a.sources.tcp->statistics();
        QVERIFY(tcpStats && tcpStats != tcpBefore);
        QTRY_VERIFY_WITH_TIMEOUT(tcpStats->received() > 100, 5000);
        f().ButtonResult->click();
        QTRY_VERIFY_WITH_TIMEOUT(WorkerMode.load() != kModeResult, 5000);
        const std::uint64_t tcpReceived = tcpStats->received();
        QCOMPARE(a.sources.tcp->statistics(), tcpStats);
        QCOMPARE(tcpStats->received(), tcpReceived);
    }

    // A recording cut short: it opens with what it holds or is refused with
    // a message; playing it ends by itself.
    void aCutRecordingEndsPlayingWithoutAHang() {
        const QString cut = dir_.filePath(QStringLiteral("cut.qzrec"));
        QFile::remove(cut);
        QVERIFY(QFile::copy(recording_, cut));
        QFile file(cut);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(file.size() / 2));
        file.close();
        qz417::PlaybackPage *page = f().Additions().PlaybackView;
        if (page->OpenRecording(cut)) {
            page->speedBox()->setCurrentIndex(3);
            page->player().Seek(0);
            page->playButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!page->player().Playing(), 10000);
        }
        qz417::test::EmulatedWindow::CloseMessageBoxes();
        QVERIFY(qz417::CurrentScale() == scannerScale_);
    }
};

QTEST_MAIN(PlaybackLiveTest)
#include "playback_live_test.moc"
