// Profile files are never lost: an existing file is never replaced or cut
// short, and a full or read-only disk ends a recording with the error
// message while every file already there stays as it was.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <QDir>
#include <QTemporaryDir>

#include "model/profile_file.h"
#include "reliability_fixture.h"

using qz417::rel::MessageBoxWatch;
using qz417::rel::WindowResponds;

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Every regular file below `dir` with its content.
std::map<std::string, std::string> Snapshot(const std::string &dir) {
    std::map<std::string, std::string> files;
    QDir root(QString::fromStdString(dir));
    const auto entries = root.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &e : entries) {
        if (e.isDir()) {
            for (const auto &[k, v] : Snapshot(e.absoluteFilePath().toStdString()))
                files[k] = v;
        } else {
            files[e.absoluteFilePath().toStdString()] =
                ReadFile(e.absoluteFilePath().toStdString());
        }
    }
    return files;
}

qz417::RecordedProfile Profile(std::uint16_t number) {
    qz417::RecordedProfile p;
    p.number = number;
    for (int i = 0; i < qz417::kProfilePoints; ++i)
        p.points[static_cast<std::size_t>(i)] = {float(i) * 0.25f - 100.0f, float(i) * 0.125f};
    return p;
}

// A small tmpfs, unmounted again at the end; empty reason when mounted.
class SmallDisk {
public:
    explicit SmallDisk(const std::string &at) : at_(at) {
        if (::mount("qz417-test", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0)
            mounted_ = true;
        else
            reason_ = std::string("mount -t tmpfs -o size=64k failed: ") + std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string &reason() const { return reason_; }
    bool makeReadOnly() {
        return ::mount("qz417-test", at_.c_str(), "tmpfs",
                       MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, "size=64k") == 0;
    }

private:
    std::string at_;
    bool mounted_ = false;
    std::string reason_;
};

} // namespace

class DataSafetyTest : public QObject {
    Q_OBJECT

    qz417::rel::WindowFixture fx_;

    // Records one profile through the window into `startDirectory` and
    // returns the texts of the message boxes it showed.
    QStringList recordThroughTheWindow(const std::string &startDirectory) {
        std::string why;
        if (!fx_.startEmulator(qz417::sim::EmulatorOptions{}, &why))
            return {QStringLiteral("skip: ") + QString::fromStdString(why)};
        fx_.create();
        MessageBoxWatch watch;
        if (!fx_.searchAndConnect())
            return {QStringLiteral("no connection")};
        StartDirectory = startDirectory;
        fx_.button("ButtonResult")->click();
        (void)QTest::qWaitFor([] { return WorkerMode.load() == kModeResult; }, 3000);
        fx_.button("ButtonResultSave")->click();
        // The button reads "Save" again once the file was written or refused;
        // a refusal's message came first (the worker posts it and waits until
        // it is closed before it gives the button back).
        (void)QTest::qWaitFor(
            [this] { return fx_.button("ButtonResultSave")->text() == QStringLiteral("Save"); },
            5000);
        const bool saveBack = fx_.button("ButtonResultSave")->text() == QStringLiteral("Save") &&
                              fx_.button("ButtonResultSave")->isEnabled();
        fx_.button("ButtonResult")->click();
        (void)QTest::qWaitFor([] { return WorkerMode.load() == 0; }, 5000);
        QStringList texts = watch.texts;
        if (!saveBack)
            texts << QStringLiteral("the Save button did not come back");
        if (!WindowResponds())
            texts << QStringLiteral("the window does not respond");
        return texts;
    }

private slots:
    void cleanup() { fx_.destroy(); }

    void existingFilesAreNeverOverwritten() {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const std::string start = temp.path().toStdString();
        const std::string date = "20260101";
        const std::string day = start + "/Profiles/" + date;
        QVERIFY(QDir().mkpath(QString::fromStdString(day)));
        WriteFile(day + "/00001.txt", "first, keep me");
        WriteFile(day + "/00002.txt", "");
        WriteFile(day + "/00004.txt", "fourth, keep me");
        const auto before = Snapshot(start);

        // The gap is filled, then the numbers after the last one.
        const char *expected[] = {"00003.txt", "00005.txt", "00006.txt", "00007.txt"};
        for (const char *name : expected) {
            const auto r = qz417::WriteProfileFile(start, date, Profile(7));
            QCOMPARE(r.status, qz417::ProfileWriteResult::Status::Written);
            QCOMPARE(QString::fromStdString(r.path), QString::fromStdString(day + "/" + name));
            QCOMPARE(ReadFile(r.path), qz417::ProfileFileText(Profile(7)));
        }
        for (const auto &[path, text] : before)
            QVERIFY2(ReadFile(path) == text, path.c_str());
    }

    void aNameTakenByALinkIsNotFollowed() {
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const std::string start = temp.path().toStdString();
        const std::string day = start + "/Profiles/20260101";
        QVERIFY(QDir().mkpath(QString::fromStdString(day)));
        WriteFile(day + "/00001.txt", "keep");
        const std::string outside = start + "/outside.txt";
        QCOMPARE(::symlink(outside.c_str(), (day + "/00002.txt").c_str()), 0);

        const auto r = qz417::WriteProfileFile(start, "20260101", Profile(1));
        // Whatever the outcome, nothing is written through the link.
        QVERIFY(::access(outside.c_str(), F_OK) != 0);
        QCOMPARE(ReadFile(day + "/00001.txt"), std::string("keep"));
        if (r.status == qz417::ProfileWriteResult::Status::Written)
            QVERIFY(r.path != day + "/00002.txt");
        else
            QCOMPARE(r.status, qz417::ProfileWriteResult::Status::Failed);
    }

    void fullOrReadOnlyDisk_data() {
        QTest::addColumn<QString>("disk");
        QTest::newRow("full") << QStringLiteral("full");
        QTest::newRow("read-only") << QStringLiteral("read-only");
        QTest::newRow("read-only, no Profiles directory") << QStringLiteral("read-only empty");
    }
    void fullOrReadOnlyDisk() {
        QFETCH(QString, disk);
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        const std::string start = temp.path().toStdString();
        SmallDisk mount(start);
        if (!mount.mounted())
            QSKIP(mount.reason().c_str());
        const std::string date = qz417::DateStamp(std::time(nullptr));

        int written = 0;
        if (disk == QStringLiteral("full")) {
            // Fill the disk with profiles until one is refused.
            for (int i = 0; i < 10; ++i) {
                const auto r = qz417::WriteProfileFile(start, date, Profile(std::uint16_t(i)));
                if (r.status != qz417::ProfileWriteResult::Status::Written) {
                    QCOMPARE(r.status, qz417::ProfileWriteResult::Status::Failed);
                    QCOMPARE(r.error, ENOSPC);
                    break;
                }
                ++written;
            }
            QVERIFY(written >= 1);
            QVERIFY(written < 10);
        } else {
            if (disk == QStringLiteral("read-only"))
                QCOMPARE(qz417::WriteProfileFile(start, date, Profile(1)).status,
                         qz417::ProfileWriteResult::Status::Written);
            if (!mount.makeReadOnly())
                QSKIP(qPrintable(QStringLiteral("remounting read-only failed: ") +
                                 QString::fromLatin1(std::strerror(errno))));
            const auto r = qz417::WriteProfileFile(start, date, Profile(2));
            QCOMPARE(r.status, qz417::ProfileWriteResult::Status::Failed);
            QCOMPARE(r.error, EROFS);
        }
        const auto before = Snapshot(start);
        if (disk == QStringLiteral("full"))
            QCOMPARE(int(before.size()), written); // the refused one left nothing behind

        // Through the window: the recording error, and the files as they were.
        const QStringList texts = recordThroughTheWindow(start);
        if (!texts.isEmpty() && texts.first().startsWith(QStringLiteral("skip: ")))
            QSKIP(qPrintable(texts.first()));
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().startsWith(QStringLiteral("The profile was not saved.")),
                 qPrintable(texts.first()));
        QCOMPARE(Snapshot(start), before);
        QVERIFY(fx_.connected());
    }
};

QTEST_MAIN(DataSafetyTest)
#include "data_safety_test.moc"
