// Parameter files from the "Parameters" page, end to end: the window and
// qz417ctl against an emulated scanner on 127.0.0.1 (TCP 417, UDP 6001).
#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <nlohmann/json.hpp>

#include "config/params_file_buttons.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulator.h"
#include "message_box_watch.h"
#include "model/config_area.h"

namespace {

using qz417::ConfigArea;
using Block = std::array<std::uint8_t, 512>;

constexpr int kWaitMs = 4000;

// Random bytes everywhere, the fields the page shows kept showable (the
// track bars stop at laser level 31 and angle -32767), the UDP stream off
// and aimed at loopback.
Block ScannerBlock(std::mt19937 &rng) {
    Block b;
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &x : b)
        x = static_cast<std::uint8_t>(byte(rng));
    ConfigArea a(b.data());
    a.setLaserLevel(static_cast<std::uint8_t>(a.laserLevel() % 32));
    a.setAnalogPoints(static_cast<std::uint8_t>(a.analogPoints() % 5));
    if (a.angle() == -32768)
        a.setAngle(-32767);
    b = a.bytes();
    b[32] = 0;
    b[29] = 127;
    return b;
}

Block WindowBlock() {
    return DeviceConfig.read().bytes();
}

std::string ReadAll(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

void WriteAll(const QString &path, const std::string &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(text.data(), static_cast<qint64>(text.size())),
             static_cast<qint64>(text.size()));
}

} // namespace

class ParamsFileTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<qz417::sim::Emulator> emu_;
    std::unique_ptr<TFormMain> form_;
    QTemporaryDir dir_;
    std::mt19937 rng_{417};

    TFormMain &f() { return *form_; }
    qz417::ParamsFileButtons &files() { return *form_->Additions().ParamsFile; }
    std::uint64_t writes() const { return emu_->commandsServed(0, 5); }
    QString path(const char *name) const { return dir_.filePath(QString::fromLatin1(name)); }

    bool connected() { return f().ButtonConnect->text() == QLatin1String("Disconnect"); }

    void waitIdle() {
        QVERIFY(QTest::qWaitFor(
            [] {
                return RequestWriteParams == 0 && RequestReadParams == 0 &&
                       RequestFlushParams == 0 && RequestImage == 0;
            },
            kWaitMs));
    }

    // Every earlier command on the window's connection has been served once
    // a command with a reply has returned.
    void settle() {
        waitIdle();
        std::uint8_t reply[QZ417_ANGLE_SIZE];
        QVERIFY(QZ417_CalcAngle(DeviceSocket.load(), reply) == 1);
    }

    // The scanner gets `block` and the window reads it.
    void showFromScanner(const Block &block) {
        settle();
        emu_->setConfig(0, block);
        const auto reads = emu_->commandsServed(0, 4);
        f().ButtonReadCfg->click();
        QVERIFY(QTest::qWaitFor([&] { return emu_->commandsServed(0, 4) > reads; }, kWaitMs));
        settle();
        QVERIFY(WindowBlock() == block);
    }

    // qz417ctl params ACTION 127.0.0.1 FILE; its exit status.
    int ctl(const char *action, const QString &file, QString *output = nullptr) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(QZ417CTL_PATH),
                {QStringLiteral("params"), QString::fromLatin1(action), QStringLiteral("127.0.0.1"),
                 file});
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(1000);
            return -1;
        }
        if (output)
            *output = QString::fromLocal8Bit(p.readAll());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // Loads `file` through the button; the block before and after, and the
    // message boxes, are checked by the caller.
    void clickLoad(const QString &file) {
        files().SetFilePathForTest(file);
        files().loadButton()->click();
        files().SetFilePathForTest(QString());
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qz417::ResetAppState();
        qz417::sim::EmulatorOptions options;
        options.count = 1;
        options.announceIntervalMs = 100;
        emu_ = std::make_unique<qz417::sim::Emulator>(options);
        std::string error;
        if (!emu_->start(&error))
            QSKIP(("the emulated scanner cannot listen on 127.0.0.1:417 here: " + error).c_str());

        form_ = std::make_unique<TFormMain>();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        f().SetSearchTimeoutForTest(700);
        f().ButtonSearch->click();
        QVERIFY2(QTest::qWaitFor([this] { return f().ButtonConnect->isEnabled(); }, 5000),
                 "the search found no emulated scanner");
        f().ButtonConnect->click();
        QVERIFY2(connected(), "the window did not connect to the emulated scanner");
        f().PageControlMore->setCurrentWidget(f().TabSheetParameters);
        settle();
    }

    void cleanupTestCase() {
        if (form_) {
            if (connected())
                f().ButtonConnect->click();
            (void)QTest::qWaitFor([this] { return !connected(); }, kWaitMs);
            form_.reset();
        }
        emu_.reset();
    }

    // The buttons sit below the block's four, inside the page, overlapping
    // none of them.
    void buttonsPlaced() {
        QPushButton *save = files().saveButton();
        QPushButton *load = files().loadButton();
        QCOMPARE(save->parentWidget(), f().TabSheetParameters);
        QCOMPARE(save->text(), QStringLiteral("Save to file"));
        QCOMPARE(load->text(), QStringLiteral("Load from file"));
        const QRect page = f().TabSheetParameters->rect();
        for (QPushButton *b : {save, load}) {
            QVERIFY2(page.contains(b->geometry()),
                     qPrintable(QStringLiteral("%1 outside the page of height %2")
                                    .arg(b->objectName())
                                    .arg(page.height())));
            for (QPushButton *old :
                 {f().ButtonReadCfg, f().ButtonWriteCfg, f().ButtonFlushCfg, f().ButtonDefaultCfg})
                QVERIFY(!b->geometry().intersects(old->geometry()));
        }
        QVERIFY(!save->geometry().intersects(load->geometry()));
        QCOMPARE(f().ButtonFlushCfg->geometry(), QRect(4, 536, 134, 24));
    }

    // Window → file → qz417ctl params load: the scanner gets every byte back.
    void windowSaveRestoredByCtl() {
        const Block saved = ScannerBlock(rng_);
        showFromScanner(saved);
        const QString file = path("window.json");
        qz417::test::MessageBoxWatch boxes;
        files().SetFilePathForTest(file);
        files().saveButton()->click();
        files().SetFilePathForTest(QString());
        QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join('\n')));
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0}); // saving writes nothing

        emu_->setConfig(0, ScannerBlock(rng_));
        QString out;
        QCOMPARE(ctl("load", file, &out), 0);
        QVERIFY2(emu_->config(0) == saved, qPrintable(out));
    }

    // qz417ctl params save → window load: the block byte for byte, bytes no
    // field names included, and written to the scanner by one write.
    void ctlSaveLoadedByWindow() {
        const Block saved = ScannerBlock(rng_);
        emu_->setConfig(0, saved);
        const QString file = path("ctl.json");
        QString out;
        QCOMPARE(ctl("save", file, &out), 0);

        const Block other = ScannerBlock(rng_);
        showFromScanner(other);
        const auto before = writes();
        qz417::test::MessageBoxWatch boxes;
        clickLoad(file);
        QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join('\n')));
        QVERIFY(WindowBlock() == saved);
        // The page shows it.
        const ConfigArea area(saved.data());
        QCOMPARE(f().TrackBarLaser->value(), int{area.laserLevel()});
        QCOMPARE(f().TrackBarAngle->value(), int{area.angle()});
        QCOMPARE(f().EditUDPPort->text(), QString::number(area.udpPort()));
        QCOMPARE(f().EditInterfaceIP0->text(), QString::number(area.netAddressOctet(0)));

        // The track bars' own steps may raise the flag too while the page
        // is shown; every write sends the whole loaded block, already in
        // DeviceConfig before the first control moved.
        QVERIFY(QTest::qWaitFor([&] { return writes() > before; }, kWaitMs));
        settle();
        QVERIFY(emu_->config(0) == saved);
        QVERIFY(WindowBlock() == saved);
    }

    // A field edited in the file applies on top of the saved bytes; every
    // other byte stays as saved.
    void editedFieldOnTop() {
        const Block saved = ScannerBlock(rng_);
        showFromScanner(saved);
        const QString file = path("edited.json");
        QVERIFY(files().SaveTo(file));

        ConfigArea expected(saved.data());
        const int laser = (expected.laserLevel() + 7) % 32;
        const int port = expected.udpPort() == 6003 ? 6004 : 6003;
        expected.setLaserLevel(static_cast<std::uint8_t>(laser));
        expected.setUdpPort(static_cast<std::uint16_t>(port));
        auto doc = nlohmann::ordered_json::parse(ReadAll(file));
        doc["fields"]["laserLevel"] = laser;
        doc["fields"]["udpPort"] = port;
        WriteAll(file, doc.dump(2));

        showFromScanner(ScannerBlock(rng_));
        qz417::test::MessageBoxWatch boxes;
        clickLoad(file);
        QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join('\n')));
        QVERIFY(WindowBlock() == expected.bytes());
        QCOMPARE(f().TrackBarLaser->value(), laser);
        QCOMPARE(f().EditUDPPort->text(), QString::number(port));
        settle();
        QVERIFY(emu_->config(0) == expected.bytes());
    }

    // A file that differs only in a byte no field names moves no control:
    // the load's own request writes it to the scanner.
    void unnamedByteWrittenByLoad() {
        const Block shown = ScannerBlock(rng_);
        showFromScanner(shown);
        const QString file = path("unnamed.json");
        QVERIFY(files().SaveTo(file));
        Block expected = shown;
        expected[300] = static_cast<std::uint8_t>(shown[300] ^ 0x5a);
        auto doc = nlohmann::ordered_json::parse(ReadAll(file));
        std::string line = doc["block"][18].get<std::string>(); // bytes 0x120..0x12f
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", expected[300]);
        line.replace(4 + 3 * 12 + 1, 2, hex);
        doc["block"][18] = line;
        WriteAll(file, doc.dump(2));

        const auto before = writes();
        qz417::test::MessageBoxWatch boxes;
        clickLoad(file);
        QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join('\n')));
        QVERIFY(WindowBlock() == expected);
        QVERIFY(QTest::qWaitFor([&] { return writes() > before; }, kWaitMs));
        settle();
        QCOMPARE(writes(), before + 1);
        QVERIFY(emu_->config(0) == expected);
    }

    // A file that is no valid parameter file: one message captioned
    // "QZ417-SP" naming the file, the block and the scanner unchanged, no
    // write requested.
    void badFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // part of the message
        QTest::newRow("other scanner type") << "other.json"
                                            << "not a parameter file";
        QTest::newRow("newer version") << "version.json"
                                       << "version 2";
        QTest::newRow("field out of range") << "range.json"
                                            << "laserLevel";
        QTest::newRow("unknown field") << "unknown.json"
                                       << "unknown parameter 'shutter'";
        QTest::newRow("damaged JSON") << "damaged.json"
                                      << "not JSON";
        QTest::newRow("damaged block line") << "line.json"
                                            << "block line 7";
        QTest::newRow("short block") << "short.json"
                                     << "32 lines";
        QTest::newRow("empty file") << "empty.json"
                                    << "not JSON";
        QTest::newRow("missing file") << "missing.json"
                                      << "cannot read";
        QTest::newRow("huge file") << "huge.json"
                                   << "larger than";
        QTest::newRow("a directory") << "folder.json"
                                     << "folder.json";
    }

    void badFile() {
        QFETCH(QString, name);
        QFETCH(QString, expected);

        const Block shown = ScannerBlock(rng_);
        showFromScanner(shown);
        const QString good = path("good.json");
        QVERIFY(files().SaveTo(good));
        const std::string text = ReadAll(good);
        auto doc = nlohmann::ordered_json::parse(text);

        const QString file = path(qPrintable(name));
        QFile::remove(file);
        if (name == "other.json") {
            doc["format"] = "qz418 parameter block";
            WriteAll(file, doc.dump(2));
        } else if (name == "version.json") {
            doc["version"] = 2;
            WriteAll(file, doc.dump(2));
        } else if (name == "range.json") {
            doc["fields"]["laserLevel"] = 32;
            WriteAll(file, doc.dump(2));
        } else if (name == "unknown.json") {
            doc["fields"]["shutter"] = 1;
            WriteAll(file, doc.dump(2));
        } else if (name == "damaged.json") {
            WriteAll(file, text.substr(0, text.size() / 2));
        } else if (name == "line.json") {
            std::string line = doc["block"][6].get<std::string>();
            line[10] = 'g';
            doc["block"][6] = line;
            WriteAll(file, doc.dump(2));
        } else if (name == "short.json") {
            doc["block"].erase(31);
            WriteAll(file, doc.dump(2));
        } else if (name == "huge.json") {
            WriteAll(file, text + std::string(std::size_t{2} << 20, ' '));
        } else if (name == "empty.json") {
            WriteAll(file, "");
        } else if (name == "folder.json") {
            QVERIFY(QDir().mkpath(file));
        }

        const auto before = writes();
        qz417::test::MessageBoxWatch boxes;
        clickLoad(file);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
        QVERIFY(QTest::qWaitFor([&] { return !boxes.texts.isEmpty(); }, kWaitMs));
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(boxes.titles.value(0), QStringLiteral("QZ417-SP"));
        QVERIFY2(boxes.texts.value(0).contains(expected), qPrintable(boxes.texts.value(0)));
        QVERIFY2(boxes.texts.value(0).contains(file), qPrintable(boxes.texts.value(0)));
        QVERIFY(WindowBlock() == shown);
        settle();
        QCOMPARE(writes(), before);
        QVERIFY(emu_->config(0) == shown);
    }

    // The same bad files are refused by qz417ctl: one reader for both.
    void ctlRefusesWhatWindowRefuses() {
        const Block shown = ScannerBlock(rng_);
        emu_->setConfig(0, shown);
        for (const char *name : {"other.json", "range.json", "damaged.json", "line.json"}) {
            QString out;
            QVERIFY2(ctl("load", path(name), &out) != 0, name);
            QVERIFY2(out.contains(path(name)), qPrintable(out));
        }
        QVERIFY(emu_->config(0) == shown);
    }

    // A save that cannot be written shows a message and leaves nothing behind.
    void saveFailureReported() {
        const QString file = path("no/such/folder/params.json");
        qz417::test::MessageBoxWatch boxes;
        QVERIFY(!files().SaveTo(file));
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(boxes.titles.value(0), QStringLiteral("QZ417-SP"));
        QVERIFY(boxes.texts.value(0).contains(QStringLiteral("cannot write")));
        QVERIFY(!QFile::exists(file));
    }
};

QTEST_MAIN(ParamsFileTest)
#include "params_file_test.moc"
