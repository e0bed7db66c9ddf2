// The whole window against an emulated scanner streaming 2000 profiles a
// second: the "UDP" page's Record control writes every profile the worker
// receives, in order and byte for byte; a limit ends the recording while
// acquisition runs on; a file that cannot be created gives a message and
// leaves acquisition running. With a job on the "Measure" page, bound to the
// live sources, the recording stores that job's results for every profile,
// and a change of the job from the profile after the change.
#include <QtTest>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulated_window.h"
#include "measure/measure_page.h"
#include "model/measure/result_csv.h"
#include "model/profile_packet.h"
#include "model/recording/recorded_results.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"
#include "recording/record_controls.h"
#include "source/profile_source.h"

namespace rec = qz417::recording;

class RecordWindowTest : public QObject {
    Q_OBJECT

private:
    qz417::test::EmulatedWindow window_;

    TFormMain &f() { return window_.form(); }
    QTemporaryDir dir_;

    void StartUdp() {
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 5000);
    }
    void StopUdp() {
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qz417::sim::EmulatorOptions options;
        options.streamRateHz = 2000; // to 127.0.0.1:6003, the block's default
        const std::string error = window_.start(options);
        if (!window_.scannerStarted())
            QSKIP(error.c_str());
        QVERIFY2(error.empty(), error.c_str());
        f().PageControlQZ417->setCurrentWidget(f().TabSheetUDP);
    }

    void cleanupTestCase() { window_.stop(); }

    void recordsEveryReceivedProfileInOrder() {
        qz417::RecordControls *controls = f().Additions().UdpRecord;
        QVERIFY(controls != nullptr);
        // An independent subscriber sees what the worker received.
        auto witness = f().Additions().sources.udp->Subscribe(1 << 16);
        QVERIFY(witness);
        const QString path = dir_.filePath(QStringLiteral("udp.qzrec"));
        QVERIFY(controls->StartRecording(path, {}));
        QCOMPARE(controls->button()->text(), QStringLiteral("Stop rec."));
        StartUdp();
        QTRY_VERIFY_WITH_TIMEOUT(controls->Status().written > 1500, 10000);
        QVERIFY(controls->statusLabel()->text().contains(QStringLiteral("prof.")));
        StopUdp();
        // "Stop rec." returns at once; the file is finished in the background.
        controls->button()->click();
        QCOMPARE(controls->button()->text(), QStringLiteral("Record"));
        QTRY_VERIFY_WITH_TIMEOUT(!controls->Recording(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(controls->button()->isEnabled(), 2000);
        QVERIFY(!controls->statusLabel()->text().contains(QStringLiteral("Finishing")));

        std::vector<qz417::FeedPacket> received;
        qz417::FeedPacket packet;
        while (witness->Pop(packet))
            if (packet.source == qz417::FeedSource::Udp)
                received.push_back(packet);
        QCOMPARE(witness->dropped(), std::uint64_t{0});
        QVERIFY2(received.size() > 1000, qPrintable(QString::number(received.size())));

        const rec::RecorderStatus s = controls->Status();
        QCOMPARE(s.dropped, std::uint64_t{0});
        rec::RecordingReader reader(QFile::encodeName(path).toStdString());
        QCOMPARE(reader.profiles(), std::uint64_t{received.size()});
        QVERIFY(reader.parameterBlocks().size() == 1); // the block in force at the start
        std::vector<std::uint8_t> bytes(received.size() * qz417::kFeedPacketSize);
        std::vector<rec::ReceiveTime> times(received.size());
        reader.Read(0, received.size(), bytes.data(), times.data());
        std::uint64_t gaps = 0;
        for (std::size_t i = 0; i < received.size(); ++i) {
            QVERIFY2(
                std::equal(received[i].bytes.begin(), received[i].bytes.end(),
                           bytes.begin() + static_cast<std::ptrdiff_t>(i * qz417::kFeedPacketSize)),
                qPrintable(QStringLiteral("profile %1 differs").arg(i)));
            QCOMPARE(times[i].monotonicNs, received[i].time.monotonicNs);
            if (i > 0) {
                const auto step = static_cast<std::uint16_t>(
                    qz417::ProfilePacket(received[i].bytes.data()).packetCount() -
                    qz417::ProfilePacket(received[i - 1].bytes.data()).packetCount());
                QVERIFY2(step >= 1, "packet counters out of order");
                gaps += step - 1u;
            }
        }
        QCOMPARE(s.lost, gaps);
        QCOMPARE(s.written, std::uint64_t{received.size()});
    }

    void aCountLimitEndsTheRecordingWhileAcquisitionRuns() {
        qz417::RecordControls *controls = f().Additions().UdpRecord;
        const QString path = dir_.filePath(QStringLiteral("limit.qzrec"));
        rec::RecordingLimits limits;
        limits.profiles = 300;
        QVERIFY(controls->StartRecording(path, limits));
        StartUdp();
        QTRY_VERIFY_WITH_TIMEOUT(!controls->Recording(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(controls->button()->text(), QStringLiteral("Record"), 2000);
        QCOMPARE(controls->Status().reason, rec::StopReason::CountLimit);
        QCOMPARE(WorkerMode.load(), std::uint8_t{kModeUdp});
        const std::uint64_t pushed = f().Additions().sources.udp->pushed();
        QTRY_VERIFY_WITH_TIMEOUT(f().Additions().sources.udp->pushed() > pushed + 100, 5000);
        StopUdp();
        rec::RecordingReader reader(QFile::encodeName(path).toStdString());
        QCOMPARE(reader.profiles(), std::uint64_t{300});
        QVERIFY(!controls->lastMessage().isEmpty());
    }

    void storesTheResultsOfTheJobTheMeasurePageRuns() {
        qz417::RecordControls *controls = f().Additions().UdpRecord;
        qz417::MeasurePage *page = f().Additions().MeasureView;
        QVERIFY(page != nullptr);
        QCOMPARE(page->bound(), 0); // "Live"
        const auto jobOf = [](double xMax) {
            return qz417::measure::ParseJob(
                R"({"format": "qz417-measure-job", "version": 1, "tools": [
                  {"name": "all", "tool": "height", "region": {"x": [-5000, )" +
                std::to_string(xMax) + R"(]}}]})");
        };
        QVERIFY(page->ApplyJob(jobOf(5000)));
        const QString path = dir_.filePath(QStringLiteral("results.qzrec"));
        QVERIFY(controls->StartRecording(path, {}));
        StartUdp();
        QTRY_VERIFY_WITH_TIMEOUT(controls->Status().written > 500, 10000);
        // The change reaches the recording at once: from a profile taken
        // after the call, so none written before it.
        const std::uint64_t changedAt = controls->Status().written;
        QVERIFY(page->ApplyJob(jobOf(0)));
        QTRY_VERIFY_WITH_TIMEOUT(controls->Status().written > changedAt + 1000, 10000);
        StopUdp();
        controls->button()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!controls->Recording(), 5000);
        QVERIFY(page->ApplyJob({})); // no job for the tests after this one

        const rec::RecorderStatus s = controls->Status();
        rec::RecordingReader reader(QFile::encodeName(path).toStdString());
        QCOMPARE(reader.profiles(), s.written);
        QCOMPARE(s.measured + s.unmeasured, s.written);
        rec::RecordedResultsReader results(reader);
        QCOMPARE(results.jobs().size(), std::size_t{2});
        QCOMPARE(results.tables().jobs[0].firstProfile, std::uint64_t{0});
        const std::uint64_t second = results.tables().jobs[1].firstProfile;
        QVERIFY2(second >= changedAt && second < reader.profiles(),
                 qPrintable(QStringLiteral("%1 after %2").arg(second).arg(changedAt)));
        QCOMPARE(results.tables().jobs[1].job.json, qz417::measure::JobToJson(jobOf(0)));
        // Every profile with the result the Measurer gives on it, for its job.
        std::string expected;
        std::array<qz417::ProfilePoint, qz417::kProfilePoints> points{};
        rec::Packet packet{};
        for (std::size_t j = 0; j < 2; ++j) {
            const qz417::measure::Job job = jobOf(j == 0 ? 5000 : 0);
            qz417::measure::Measurer measurer(job);
            expected += qz417::measure::ResultCsvHeader(job);
            const std::uint64_t end = j == 0 ? second : reader.profiles();
            for (std::uint64_t i = j == 0 ? 0 : second; i < end; ++i) {
                reader.Read(i, 1, packet.data(), nullptr);
                const qz417::ProfilePacket p(packet.data());
                qz417::DecodePacket(p, rec::RecordedScale(reader.announcement()), points);
                qz417::measure::AppendResultCsvRow(expected, job, i, p.measurementCount(),
                                                   measurer.Measure(points));
            }
        }
        const std::string csv =
            QFile::encodeName(dir_.filePath(QStringLiteral("r.csv"))).toStdString();
        rec::ExportRequest request;
        request.format = rec::ExportFormat::ResultsCsv;
        request.count = reader.profiles();
        rec::ExportRecording(reader, request, csv);
        QFile file(QString::fromStdString(csv));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().toStdString() == expected);
    }

    void anUnwritablePathGivesAMessageAndAcquisitionRunsOn() {
        qz417::RecordControls *controls = f().Additions().UdpRecord;
        StartUdp();
        QSignalSpy messages(controls, &qz417::RecordControls::messageShown);
        QVERIFY(!controls->StartRecording(QStringLiteral("/nonexistent-qz417-dir/x.qzrec"), {}));
        QCOMPARE(messages.count(), 1);
        QVERIFY(controls->lastMessage().contains(QStringLiteral("could not start")));
        QCOMPARE(controls->button()->text(), QStringLiteral("Record"));
        const std::uint64_t pushed = f().Additions().sources.udp->pushed();
        QTRY_VERIFY_WITH_TIMEOUT(f().Additions().sources.udp->pushed() > pushed + 100, 5000);
        QCOMPARE(WorkerMode.load(), std::uint8_t{kModeUdp});
        qz417::test::EmulatedWindow::CloseMessageBoxes();
        StopUdp();
        QCOMPARE(f().Additions().sources.udp->feed()->subscriberCount(),
                 2); // the "Surface" and "Measure" pages' own
    }
};

QTEST_MAIN(RecordWindowTest)
#include "record_window_test.moc"
