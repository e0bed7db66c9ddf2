// The whole window connected to an emulated scanner that also streams 2000
// profiles a second:
// - a parameter block written while the "Result viewer" page records is
//   noted in the file, after the block in force at the start, with the
//   profile it applies from and the time it was written;
// - a disk that fills up while the "UDP" page records ends the recording
//   with a message; the file keeps, readable and byte for byte, the profiles
//   written before, and acquisition runs on.
// Runs in a network and mount namespace of its own (a 2 MiB tmpfs).
#include <QtTest>

#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulated_window.h"
#include "model/recording/recording_file.h"
#include "recording/record_controls.h"
#include "source/profile_source.h"

namespace rec = qz417::recording;

class RecordParamsDiskTest : public QObject {
    Q_OBJECT

private:
    qz417::test::EmulatedWindow window_;
    QTemporaryDir dir_;

    TFormMain &f() { return window_.form(); }
    qz417::sim::Emulator &sim() { return window_.sim(); }

    void startWorker(QPushButton *button, std::uint8_t mode) {
        button->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), mode, 5000);
    }
    void stopWorker(QPushButton *button) {
        button->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
    }
    static std::string Native(const QString &path) { return QFile::encodeName(path).toStdString(); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qz417::sim::EmulatorOptions options;
        options.count = 1;
        options.announceIntervalMs = 100;
        options.streamRateHz = 2000; // to 127.0.0.1:6003, the block's default
        const std::string error = window_.start(options);
        if (!window_.scannerStarted())
            QSKIP(error.c_str());
        QVERIFY2(error.empty(), error.c_str());
        const std::string failed = window_.connect();
        QVERIFY2(failed.empty(), failed.c_str());
    }

    void cleanupTestCase() { window_.stop(); }

    void aBlockWrittenWhileRecordingIsNoted() {
        qz417::RecordControls *controls = f().Additions().ResultRecord;
        QVERIFY(controls != nullptr);
        f().PageControlQZ417->setCurrentWidget(f().TabSheetResultViewer);
        const rec::ParameterBlock atStart = [] {
            rec::ParameterBlock b{};
            const qz417::ConfigArea c = DeviceConfig.read();
            std::memcpy(b.data(), c.data(), b.size());
            return b;
        }();

        // A block written while nothing records is not noted anywhere.
        RequestWriteParams = 1;
        QTRY_COMPARE_WITH_TIMEOUT(RequestWriteParams.load(), std::uint8_t{0}, 5000);

        const QString path = dir_.filePath(QStringLiteral("params.qzrec"));
        QVERIFY(controls->StartRecording(path, {}));
        startWorker(f().ButtonResult, kModeResult);
        QTRY_VERIFY_WITH_TIMEOUT(controls->Status().written > 20, 5000);

        // Two writes by the result worker, each of a changed block.
        std::vector<rec::ParameterBlock> written;
        for (std::uint8_t value : {std::uint8_t{0x5A}, std::uint8_t{0xA5}}) {
            DeviceConfig.edit([value](qz417::ConfigArea &c) { c.data()[500] = value; });
            const auto writes = sim().commandsServed(0, 5);
            RequestWriteParams = 1;
            QTRY_VERIFY_WITH_TIMEOUT(sim().commandsServed(0, 5) > writes, 5000);
            QCOMPARE(sim().config(0)[500], value);
            rec::ParameterBlock b{};
            std::memcpy(b.data(), sim().config(0).data(), b.size());
            written.push_back(b);
            const std::uint64_t count = controls->Status().written;
            QTRY_VERIFY_WITH_TIMEOUT(controls->Status().written > count + 20, 5000);
        }
        stopWorker(f().ButtonResult);
        controls->StopRecording();
        QTRY_VERIFY_WITH_TIMEOUT(!controls->Recording(), 5000);

        rec::RecordingReader reader(Native(path));
        const std::vector<rec::ParameterBlockEntry> blocks = reader.parameterBlocks();
        QCOMPARE(blocks.size(), std::size_t{3});
        QVERIFY(blocks[0].block == atStart);
        QCOMPARE(blocks[0].firstProfile, std::uint64_t{0});
        for (std::size_t i = 1; i < blocks.size(); ++i) {
            QVERIFY2(blocks[i].block == written[i - 1], qPrintable(QString::number(i)));
            QVERIFY(blocks[i].firstProfile > blocks[i - 1].firstProfile);
            QVERIFY(blocks[i].firstProfile < reader.profiles());
            QVERIFY(blocks[i].wallNs > blocks[i - 1].wallNs);
        }
        // Each block is noted where it was written: the profiles around its
        // place were received within half a second of the write (the note
        // reaches the file through the window thread, so it may trail a
        // little, never by much).
        constexpr std::int64_t kSlackNs = 500'000'000;
        for (std::size_t i = 1; i < blocks.size(); ++i) {
            rec::ReceiveTime around[2]{};
            reader.Read(blocks[i].firstProfile - 1, 2, nullptr, around);
            QVERIFY2(around[0].wallNs <= blocks[i].wallNs + kSlackNs,
                     qPrintable(QStringLiteral("block %1 noted late").arg(i)));
            QVERIFY2(around[1].wallNs >= blocks[i].wallNs - kSlackNs,
                     qPrintable(QStringLiteral("block %1 noted early").arg(i)));
        }
    }

    void aFullDiskEndsTheRecordingWithAMessageAndKeepsWhatWasWritten() {
        const QString disk = dir_.filePath(QStringLiteral("small-disk"));
        QVERIFY(QDir().mkpath(disk));
        if (::mount("qz417-test", Native(disk).c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=2m") !=
            0)
            QSKIP(qPrintable(QStringLiteral("no small tmpfs to fill (needs a mount namespace): ") +
                             QString::fromLocal8Bit(std::strerror(errno))));
        struct Unmount {
            std::string at;
            ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
        } unmount{Native(disk)};

        qz417::RecordControls *controls = f().Additions().UdpRecord;
        f().PageControlQZ417->setCurrentWidget(f().TabSheetUDP);
        auto witness = f().Additions().sources.udp->Subscribe(1 << 16);
        QVERIFY(witness);
        QSignalSpy messages(controls, &qz417::RecordControls::messageShown);
        const QString path = disk + QStringLiteral("/full.qzrec");
        QVERIFY(controls->StartRecording(path, {}));
        startWorker(f().ButtonUDPResult, kModeUdp);

        // About 500 profiles fill 2 MiB: a quarter of a second of the stream.
        QTRY_VERIFY_WITH_TIMEOUT(!controls->Recording(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(controls->button()->text(), QStringLiteral("Record"), 2000);
        QCOMPARE(messages.count(), 1);
        QVERIFY2(controls->lastMessage().contains(QStringLiteral("No space left on device")),
                 qPrintable(controls->lastMessage()));
        const rec::RecorderStatus status = controls->Status();
        QCOMPARE(status.state, rec::RecorderState::Failed);

        // Acquisition runs on after the recording ended.
        const std::uint64_t pushed = f().Additions().sources.udp->pushed();
        QTRY_VERIFY_WITH_TIMEOUT(f().Additions().sources.udp->pushed() > pushed + 100, 5000);
        QCOMPARE(WorkerMode.load(), std::uint8_t{kModeUdp});
        stopWorker(f().ButtonUDPResult);
        qz417::test::EmulatedWindow::CloseMessageBoxes();

        // The file holds the first profiles the worker received, byte for byte.
        rec::RecordingReader reader(Native(path));
        const std::uint64_t kept = reader.profiles();
        QVERIFY2(kept > 100,
                 qPrintable(QStringLiteral("kept %1, written %2, received %3, end %4: %5")
                                .arg(kept)
                                .arg(status.written)
                                .arg(status.received)
                                .arg(int(reader.endState()))
                                .arg(controls->lastMessage())));
        QCOMPARE(kept, status.written); // the file holds all the status reports written
        std::vector<std::uint8_t> bytes(kept * qz417::kFeedPacketSize);
        reader.Read(0, kept, bytes.data(), nullptr);
        qz417::FeedPacket packet;
        std::uint64_t i = 0;
        while (i < kept && witness->Pop(packet)) {
            if (packet.source != qz417::FeedSource::Udp)
                continue;
            QVERIFY2(
                std::equal(packet.bytes.begin(), packet.bytes.end(),
                           bytes.begin() + static_cast<std::ptrdiff_t>(i * qz417::kFeedPacketSize)),
                qPrintable(QStringLiteral("profile %1 differs").arg(i)));
            ++i;
        }
        QCOMPARE(i, kept);
    }
};

QTEST_MAIN(RecordParamsDiskTest)
#include "record_params_disk_test.moc"
