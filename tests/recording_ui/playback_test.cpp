// The "Playback" page of the window, offscreen and with no scanner: opening
// a recording shows its device description on its own page (never on the
// "Information" page, never as the window's scale) and its first profile
// with its recorded counter; step, seek and the slider move to the right profile;
// playing pushes every profile into the profile feed in order, paced at the
// chosen speed, and the chart follows.
#include <QtTest>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "feed/profile_feed.h"
#include "health/stream_health.h"
#include "model/profile_packet.h"
#include "model/recording/recording_file.h"
#include "offscreen_window.h"
#include "recording/playback_page.h"
#include "source/profile_source.h"
#include "widgets/profile_chart.h"

namespace rec = qz417::recording;

namespace {

constexpr std::uint32_t kProfiles = 2000;
constexpr std::int64_t kPeriodNs = 1'000'000; // recorded at 1 kHz

// Profile i: packetCount i, a line of points.
rec::Packet MakePacket(std::uint32_t i) {
    rec::Packet p{};
    p[0] = static_cast<std::uint8_t>(i & 0xFF);
    p[1] = static_cast<std::uint8_t>(i >> 8);
    p[2] = static_cast<std::uint8_t>(i & 0xFF);
    p[3] = static_cast<std::uint8_t>(i >> 8);
    for (int k = 0; k < 1024; ++k) {
        const auto x = static_cast<std::uint16_t>(k * 16);
        const auto z = static_cast<std::uint16_t>(4000 + (i % 100) * 10);
        std::uint8_t *q = p.data() + 4 + 4 * k;
        q[0] = static_cast<std::uint8_t>(x & 0xFF);
        q[1] = static_cast<std::uint8_t>(x >> 8);
        q[2] = static_cast<std::uint8_t>(z & 0xFF);
        q[3] = static_cast<std::uint8_t>(z >> 8);
    }
    return p;
}

void WriteRecording(const std::string &path) {
    rec::Announcement a{};
    a[0] = 417 & 0xFF;
    a[1] = 417 >> 8;
    std::uint8_t *d = a.data() + 12; // the description
    d[0] = 0x02;                     // Ethernet
    d[1] = 0x39;                     // serial number 12345
    d[2] = 0x30;
    d[4] = 80;    // base distance
    d[6] = 250;   // range Z
    d[8] = 140;   // range X (SMR)
    d[10] = 230;  // range X (EMR)
    d[12] = 0x00; // discrete value 16384
    d[13] = 0x40;
    rec::RecordingHeader header{a, std::nullopt, "playback test"};
    rec::RecordingWriter writer(path, header);
    std::vector<std::uint8_t> packets;
    std::vector<rec::ReceiveTime> times;
    for (std::uint32_t i = 0; i < kProfiles; ++i) {
        const rec::Packet p = MakePacket(i);
        packets.insert(packets.end(), p.begin(), p.end());
        times.push_back({1'000'000'000 + i * kPeriodNs, 1'700'000'000'000'000'000 + i * kPeriodNs});
    }
    writer.Append(packets.data(), times.data(), kProfiles);
    writer.Close(0, rec::EndState::Closed);
}

std::uint16_t ShownCount(qz417::PlaybackPage *page) {
    std::array<std::uint8_t, qz417::kProfilePacketSize> packet;
    std::int64_t index = -1;
    if (!page->player().Current(packet, &index))
        return 0xFFFF;
    return qz417::ProfilePacket(packet.data()).packetCount();
}

} // namespace

class PlaybackTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TFormMain> form_;
    QTemporaryDir dir_;
    QString path_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        path_ = dir_.filePath(QStringLiteral("play.qzrec"));
        WriteRecording(QFile::encodeName(path_).toStdString());
        QVERIFY(qz417::test::ShowWindow(form_));
        form_->PageControlQZ417->setCurrentWidget(form_->Additions().TabSheetPlayback);
    }

    void cleanupTestCase() { qz417::test::CloseWindow(form_); }

    void openingShowsTheDescriptionAndTheFirstProfile() {
        qz417::PlaybackPage *page = form_->Additions().PlaybackView;
        QVERIFY(!page->playButton()->isEnabled());
        QVERIFY(!page->OpenRecording(dir_.filePath(QStringLiteral("missing.qzrec"))));
        QVERIFY(page->OpenRecording(path_));
        QCOMPARE(page->player().profiles(), std::uint64_t{kProfiles});
        QVERIFY(page->descriptionLabel()->text().contains(QStringLiteral("12345")));
        QVERIFY(page->descriptionLabel()->toolTip().contains(QStringLiteral("SERIAL NUMBER")));
        QVERIFY(!form_->MemoInfo->toPlainText().contains(QStringLiteral("12345")));
        QVERIFY(qz417::CurrentScale() == qz417::ProfileScale{});
        QVERIFY(form_->Additions().sources.playback->scale() == page->player().scale());
        QCOMPARE(page->counterLabel()->text(), QStringLiteral("0"));
        QCOMPARE(page->player().shown(), std::int64_t{0});
        QCOMPARE(ShownCount(page), std::uint16_t{0});
        QVERIFY(page->plotted() >= 1);
        QVERIFY(page->chart()->pointCount() > 0);
        QCOMPARE(page->positionLabel()->text(), QStringLiteral("Profile 1 of 2000"));
        QVERIFY(page->playButton()->isEnabled());
    }

    void stepSeekAndTheSliderShowTheRightProfile() {
        qz417::PlaybackPage *page = form_->Additions().PlaybackView;
        page->stepForwardButton()->click();
        QCOMPARE(ShownCount(page), std::uint16_t{1});
        page->stepBackButton()->click();
        page->stepBackButton()->click(); // stays at the first
        QCOMPARE(page->player().shown(), std::int64_t{0});
        page->slider()->setValue(1500);
        QCOMPARE(page->player().shown(), std::int64_t{1500});
        QCOMPARE(ShownCount(page), std::uint16_t{1500});
        page->stepForwardButton()->click();
        QCOMPARE(ShownCount(page), std::uint16_t{1501});
        QCOMPARE(page->slider()->value(), 1501);
        QCOMPARE(page->positionLabel()->text(), QStringLiteral("Profile 1502 of 2000"));
        // The recorded packet's own counter, not a count of profiles shown.
        QCOMPARE(page->counterLabel()->text(), QStringLiteral("1501"));
        page->player().Seek(999999); // beyond the end: the last
        QCOMPARE(page->player().shown(), std::int64_t{kProfiles - 1});
        for (int i = 0; i < 3; ++i)
            page->stepForwardButton()->click();
        QCOMPARE(page->player().shown(), std::int64_t{kProfiles - 1});
    }

    void realTimeIsPaced() {
        qz417::PlaybackPage *page = form_->Additions().PlaybackView;
        page->speedBox()->setCurrentIndex(0);
        page->player().Seek(0);
        page->playButton()->click(); // 2 s of recording
        QVERIFY(page->player().Playing());
        QCOMPARE(page->playButton()->text(), QStringLiteral("Pause"));
        QElapsedTimer paced;
        paced.start();
        QTRY_VERIFY_WITH_TIMEOUT(page->player().shown() > 100, 5000);
        // Paced by the recorded times (1 kHz): about as far as the time gone.
        QVERIFY2(page->player().shown() < paced.elapsed() * 2 + 200,
                 qPrintable(QString::number(page->player().shown())));
        QVERIFY2(page->player().shown() < 1500,
                 qPrintable(QString::number(page->player().shown())));
        page->playButton()->click();
        QVERIFY(!page->player().Playing());
        const std::int64_t paused = page->player().shown();
        const std::uint64_t pushed = page->player().pushed();
        QTest::qWait(100); // nothing may move while paused: a wait is the test
        QCOMPARE(page->player().shown(), paused);
        QCOMPARE(page->player().pushed(), pushed);
    }

    void playingPushesEveryProfileInOrderAndTheChartFollows() {
        qz417::PlaybackPage *page = form_->Additions().PlaybackView;
        auto witness = form_->Additions().sources.playback->Subscribe(1 << 13);
        QVERIFY(witness);
        page->speedBox()->setCurrentIndex(3); // as fast as possible
        page->player().Seek(0);
        qz417::FeedPacket packet;
        while (witness->Pop(packet)) {
        } // the sought profile
        const std::uint64_t plotted = page->plotted();
        QElapsedTimer clock;
        clock.start();
        page->playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page->player().Playing(), 20000);
        const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        qInfo("played %u profiles recorded at 1 kHz in %.3f s: %.1f times real time", kProfiles,
              seconds, 2.0 / seconds);
        QCOMPARE(page->player().shown(), std::int64_t{kProfiles - 1});
        std::uint32_t next = 1;
        while (witness->Pop(packet)) {
            QCOMPARE(packet.source, qz417::FeedSource::Playback);
            QCOMPARE(qz417::ProfilePacket(packet.bytes.data()).packetCount(),
                     static_cast<std::uint16_t>(next));
            QCOMPARE(packet.time.monotonicNs, 1'000'000'000 + next * kPeriodNs);
            QVERIFY(packet.scale == page->player().scale()); // in-band
            ++next;
        }
        QCOMPARE(witness->dropped(), std::uint64_t{0});
        QCOMPARE(next, kProfiles);
        QTRY_VERIFY_WITH_TIMEOUT(page->plotted() > plotted, 2000);
        QCOMPARE(ShownCount(page), static_cast<std::uint16_t>(kProfiles - 1));
        // Play at the end starts over.
        page->playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page->player().Playing(), 20000);
        QCOMPARE(page->player().shown(), std::int64_t{kProfiles - 1});
    }

    // Each opened recording is a run of the playback source: its statistics
    // count the profiles played from it, none of the previous recording's.
    void statisticsCountWhatIsPlayedFromEachOpenedRecording() {
        qz417::PlaybackPage *page = form_->Additions().PlaybackView;
        const std::shared_ptr<qz417::ProfileSource> &source = form_->Additions().sources.playback;
        const std::shared_ptr<qz417::StreamHealth> before = source->statistics();
        QVERIFY(page->OpenRecording(path_));
        const std::shared_ptr<qz417::StreamHealth> stats = source->statistics();
        QVERIFY(stats != nullptr);
        QVERIFY(stats != before);
        QCOMPARE(stats->received(), std::uint64_t{1}); // the first profile, shown
        page->speedBox()->setCurrentIndex(3);          // as fast as possible
        page->playButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page->player().Playing(), 20000);
        QCOMPARE(stats->received(), std::uint64_t{kProfiles});
        QCOMPARE(stats->lost(), std::uint64_t{0});
        QCOMPARE(stats->restarts(), std::uint64_t{0});
        QVERIFY(page->OpenRecording(path_));
        QVERIFY(source->statistics() != stats);
        QCOMPARE(source->statistics()->received(), std::uint64_t{1});
        QCOMPARE(stats->received(), std::uint64_t{kProfiles}); // kept
    }
};

QTEST_MAIN(PlaybackTest)
#include "playback_test.moc"
