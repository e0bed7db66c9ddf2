// The "Parameters" page end to end: the window against an emulated scanner
// on 127.0.0.1 (TCP port 417, announcements on UDP port 6001).
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "core/app_state.h"
#include "core/form_main.h"
#include "emulator.h"
#include "model/config_area.h"
#include "window_waits.h"

namespace {

using qz417::ConfigArea;
using Block = std::array<std::uint8_t, 512>;

constexpr int kWaitMs = 4000;

ConfigArea AreaOf(const Block &b) {
    return ConfigArea(b.data());
}
Block BlockOf(const ConfigArea &a) {
    return a.bytes();
}

// A block of random bytes whose interpreted fields the page can all show.
Block RandomShowableBlock(std::mt19937 &rng) {
    Block b;
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &x : b)
        x = static_cast<std::uint8_t>(byte(rng));
    ConfigArea a = AreaOf(b);
    a.setLaserLevel(static_cast<std::uint8_t>(a.laserLevel() % 32));
    a.setAnalogPoints(static_cast<std::uint8_t>(a.analogPoints() % 5));
    if (a.angle() == -32768)
        a.setAngle(-32767);
    return BlockOf(a);
}

// A showable block for the emulated scanner: its UDP stream stays off and,
// should a test switch it on, goes to loopback only.
Block ScannerBlock(std::mt19937 &rng) {
    Block b = RandomShowableBlock(rng);
    b[32] = 0;   // udpFrequency: disabled
    b[29] = 127; // first octet of the stream's destination
    return b;
}

// The first byte where two blocks differ, or -1.
int FirstDifference(const ConfigArea &a, const ConfigArea &b) {
    for (std::size_t i = 0; i < ConfigArea::kSize; ++i)
        if (a.byteAt(i) != b.byteAt(i))
            return static_cast<int>(i);
    return -1;
}

// Closes every message box that opens while it lives and keeps their texts.
class MessageBoxCloser {
public:
    MessageBoxCloser() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (box && box->isVisible()) {
                    texts_ << box->text();
                    box->done(QMessageBox::Ok);
                }
            }
        });
        timer_.start();
    }
    const QStringList &texts() const { return texts_; }

private:
    QTimer timer_;
    QStringList texts_;
};

void SendFocusOut(QWidget *w) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}

} // namespace

class ParametersPageTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<qz417::sim::Emulator> emu_;
    std::unique_ptr<TFormMain> form_;
    Block factory_{};

    TFormMain &f() { return *form_; }
    std::uint64_t served(int code) const { return emu_->commandsServed(0, code); }

    bool connected() { return f().ButtonConnect->text() == QLatin1String("Disconnect"); }

    void disconnect() {
        if (connected())
            f().ButtonConnect->click();
        QVERIFY(QTest::qWaitFor([this] { return !connected(); }, kWaitMs));
    }

    void connectScanner() {
        disconnect();
        f().ButtonConnect->click();
        QVERIFY2(connected(), "the window did not connect to the emulated scanner");
        f().PageControlMore->setCurrentWidget(f().TabSheetParameters);
        waitIdle();
    }

    // Until the idle duty has serviced every request and fetched the image.
    void waitIdle() {
        QVERIFY(QTest::qWaitFor(
            [] {
                return RequestWriteParams == 0 && RequestReadParams == 0 &&
                       RequestFlushParams == 0 && RequestImage == 0;
            },
            kWaitMs));
    }

    // A write has no reply: the scanner may still be taking the block in when
    // the window's tick is over. A request with a reply on the same
    // connection returns only after every earlier command was served.
    void barrier() { QVERIFY(qz417::test::ScannerServedEverythingSent()); }

    // Ticks of the idle duty, each of which would have served a request.
    void idleTicks() { QVERIFY(qz417::test::WaitForViewTicks(form_.get())); }

    void settle() {
        waitIdle();
        barrier();
    }

    // Loads a block into the scanner and reads it into the window.
    void loadFromScanner(const Block &block) {
        if (!connected())
            connectScanner();
        settle();
        emu_->setConfig(0, block);
        const auto reads = served(4);
        f().ButtonReadCfg->click();
        QVERIFY(QTest::qWaitFor([&] { return served(4) > reads; }, kWaitMs));
        settle();
        QCOMPARE(FirstDifference(DeviceConfig.read(), AreaOf(block)), -1);
    }

    // Writes the window's block to the scanner and waits until it arrived.
    void writeToScanner() {
        const auto writes = served(5);
        f().ButtonWriteCfg->click();
        QVERIFY(QTest::qWaitFor([&] { return served(5) > writes; }, kWaitMs));
        settle();
    }

    // Shows a block on the page without any scanner involved.
    void showOffline(const Block &block) {
        DeviceConfig.write(AreaOf(block));
        f().ApplyConfigToControls();
    }

private slots:
    void initTestCase() {
        qz417::ResetAppState();
        qz417::sim::EmulatorOptions options;
        options.count = 1;
        options.announceIntervalMs = 100;
        emu_ = std::make_unique<qz417::sim::Emulator>(options);
        std::string error;
        if (!emu_->start(&error))
            QSKIP(("the emulated scanner cannot listen on 127.0.0.1:417 here: " + error).c_str());
        factory_ = emu_->config(0);

        form_ = std::make_unique<TFormMain>();
        form_->show();
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));

        f().SetSearchTimeoutForTest(700);
        f().ButtonSearch->click();
        QVERIFY2(QTest::qWaitFor([this] { return f().ButtonConnect->isEnabled(); }, 5000),
                 "the search found no emulated scanner");
    }

    void cleanupTestCase() {
        if (form_) {
            disconnect();
            form_.reset();
        }
        emu_.reset();
    }

    // ---- before the first connection ----

    void creationState() {
        QCOMPARE(f().GroupBoxLaser->title(), QStringLiteral("Laser level:"));
        QCOMPARE(f().GroupBoxIntegration->title(), QStringLiteral("Integration: 0 us"));
        QCOMPARE(f().GroupBoxAngle->title(), QStringLiteral("Angle: 0.000°; Calculate: 0.000°"));
        QCOMPARE(f().TrackBarLaser->value(), 0);
        QCOMPARE(f().TrackBarIntegration->value(), 0);
        QCOMPARE(f().TrackBarAngle->value(), 0);
        QVERIFY(f().RadioButtonResultSyncRising->isChecked());
        QVERIFY(!f().RadioButtonResultSyncFalling->isChecked());
        QVERIFY(f().RadioButtonMeasureSyncRising->isChecked());
        QVERIFY(!f().RadioButtonAnalogSyncRising->isChecked());
        QVERIFY(!f().RadioButtonAnalogSyncFalling->isChecked());
        for (QCheckBox *c : {f().CheckBoxResultSyncEnable, f().CheckBoxMeasureSyncEnable,
                             f().CheckBoxAnalogSyncEnable, f().CheckBoxAnalogSyncLevel})
            QVERIFY2(!c->isChecked(), qPrintable(c->objectName()));
        QCOMPARE(f().ComboBoxUDPFrequency->currentIndex(), 0);
        for (QComboBox *c : {f().ComboBoxSyncDivider, f().ComboBoxSyncDelay,
                             f().ComboBoxAnalogOutPoints, f().ComboBoxAnalogOutTime})
            QVERIFY2(c->currentIndex() == -1, qPrintable(c->objectName()));
        QCOMPARE(f().EditInterfaceIP0->text(), QStringLiteral("0"));
        QCOMPARE(f().EditInterfaceMask3->text(), QStringLiteral("0"));
        QCOMPARE(f().EditUDPIP0->text(), QStringLiteral("255"));
        QCOMPARE(f().EditUDPIP3->text(), QStringLiteral("255"));
        QCOMPARE(f().EditUDPPort->text(), QStringLiteral("6003"));
        QCOMPARE(f().EditUDPPort->maxLength(), 5);
        QCOMPARE(f().EditInterfaceIP2->maxLength(), 3);
        QCOMPARE(f().ButtonWriteCfg->text(), QStringLiteral("Wtite config area"));
        QCOMPARE(f().GroupBoxEthernrt->title(), QStringLiteral("Network:"));
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
    }

    void pageLayout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("top");
        QTest::newRow("laser") << "GroupBoxLaser" << 4;
        QTest::newRow("integration") << "GroupBoxIntegration" << 45;
        QTest::newRow("angle") << "GroupBoxAngle" << 86;
        QTest::newRow("sync") << "GroupBoxExtSig" << 148;
        QTest::newRow("analog") << "GroupBoxAnalogOut" << 282;
        QTest::newRow("interface") << "GroupBoxInterface" << 340;
        QTest::newRow("read") << "ButtonReadCfg" << 512;
        QTest::newRow("write") << "ButtonWriteCfg" << 512;
        QTest::newRow("flush") << "ButtonFlushCfg" << 536;
        QTest::newRow("default") << "ButtonDefaultCfg" << 536;
    }

    void pageLayout() {
        QFETCH(QString, name);
        QFETCH(int, top);
        auto *w = f().TabSheetParameters->findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->y(), top);
        QVERIFY(w->x() >= 4);
        QVERIFY(w->geometry().right() <= 281 - 4);
        // Every named control lies wholly inside the group box that holds it.
        for (QWidget *c : w->findChildren<QWidget *>()) {
            auto *box = qobject_cast<QGroupBox *>(c->parentWidget());
            if (!box || c->objectName().isEmpty())
                continue;
            QVERIFY2(box->rect().contains(c->geometry()), qPrintable(c->objectName()));
        }
    }

    void comboListsAndNames() {
        QCOMPARE(f().ComboBoxUDPFrequency->count(), 256);
        QCOMPARE(f().ComboBoxUDPFrequency->itemText(0), QStringLiteral("disable"));
        QCOMPARE(f().ComboBoxUDPFrequency->itemText(255), QStringLiteral("255 Hz."));
        QCOMPARE(f().ComboBoxAnalogOutPoints->count(), 5);
        QCOMPARE(f().ComboBoxAnalogOutPoints->itemText(4), QStringLiteral("1024 pnt."));
        QCOMPARE(f().ComboBoxAnalogOutTime->itemText(0), QStringLiteral("1 us."));
        QCOMPARE(f().ComboBoxSyncDivider->itemText(255), QStringLiteral("Meas. / 256"));
        QCOMPARE(f().ComboBoxSyncDelay->itemText(0), QStringLiteral("0 ms."));
        for (QComboBox *c : f().TabSheetParameters->findChildren<QComboBox *>())
            QVERIFY2(!c->isEditable(), qPrintable(c->objectName()));
        // objectName == member name for a sample of every kind of control.
        QCOMPARE(f().TrackBarAngle->objectName(), QStringLiteral("TrackBarAngle"));
        QCOMPARE(f().RadioButtonAnalogSyncFalling->objectName(),
                 QStringLiteral("RadioButtonAnalogSyncFalling"));
        QCOMPARE(f().EditUDPIP2->objectName(), QStringLiteral("EditUDPIP2"));
        QCOMPARE(f().ComboBoxUDPFrequency->objectName(), QStringLiteral("ComboBoxUDPFrequency"));
        QCOMPARE(f().LabelSyncDelay->text(), QStringLiteral("Delay:"));
    }

    // Random blocks shown and not touched stay byte for byte the same.
    void applyKeepsAShowableBlock() {
        std::mt19937 rng(512);
        for (int round = 0; round < 200; ++round) {
            const Block block = RandomShowableBlock(rng);
            showOffline(block);
            QCOMPARE(FirstDifference(DeviceConfig.read(), AreaOf(block)), -1);
            QCOMPARE(f().TrackBarLaser->value(), int{block[0]});
            const int flags = block[12];
            QCOMPARE(f().CheckBoxResultSyncEnable->isChecked(), (flags & 0x01) != 0);
            QCOMPARE(f().RadioButtonResultSyncFalling->isChecked(), (flags & 0x02) != 0);
            QCOMPARE(f().RadioButtonResultSyncRising->isChecked(), (flags & 0x02) == 0);
            QCOMPARE(f().CheckBoxMeasureSyncEnable->isChecked(), (flags & 0x04) != 0);
            QCOMPARE(f().RadioButtonMeasureSyncFalling->isChecked(), (flags & 0x08) != 0);
            QCOMPARE(f().CheckBoxAnalogSyncEnable->isChecked(), (flags & 0x10) != 0);
            QCOMPARE(f().RadioButtonAnalogSyncFalling->isChecked(), (flags & 0x20) != 0);
            QCOMPARE(f().RadioButtonAnalogSyncRising->isChecked(), (flags & 0x20) == 0);
            QCOMPARE(f().CheckBoxAnalogSyncLevel->isChecked(), (flags & 0x40) != 0);
            QCOMPARE(f().ComboBoxSyncDivider->currentIndex(), int{block[14]});
            QCOMPARE(f().ComboBoxSyncDelay->currentIndex(), int{block[15]});
            QCOMPARE(f().ComboBoxAnalogOutPoints->currentIndex(), int{block[16]});
            QCOMPARE(f().ComboBoxAnalogOutTime->currentIndex(), int{block[17]});
            QCOMPARE(f().ComboBoxUDPFrequency->currentIndex(), int{block[32]});
            QCOMPARE(f().TrackBarAngle->value(), int{DeviceConfig.read().angle()});
            QCOMPARE(f().EditInterfaceMask3->text(), QString::number(block[22]));
            QCOMPARE(f().EditUDPIP1->text(), QString::number(block[28]));
            QCOMPARE(f().EditInterfaceIP0->text(), QString::number(block[21]));
            QCOMPARE(f().EditUDPPort->text(), QString::number(block[30] | (block[31] << 8)));
            QCOMPARE(f().GroupBoxIntegration->title(),
                     QStringLiteral("Integration: %1 us").arg((block[1] | (block[2] << 8)) + 1));
        }
    }

    void applyClampsWhatCannotBeShown_data() {
        QTest::addColumn<int>("laserBefore");
        QTest::addColumn<int>("laserRead");
        QTest::addColumn<int>("laserStored");
        QTest::addColumn<bool>("writeRequested");
        QTest::newRow("moves to 31") << 5 << 40 << 31 << true;
        QTest::newRow("already at 31") << 31 << 200 << 200 << false;
        QTest::newRow("same position") << 12 << 12 << 12 << false;
        QTest::newRow("other position") << 3 << 12 << 12 << true;
    }

    void applyClampsWhatCannotBeShown() {
        QFETCH(int, laserBefore);
        QFETCH(int, laserRead);
        QFETCH(int, laserStored);
        QFETCH(bool, writeRequested);
        std::mt19937 rng(static_cast<unsigned>(laserRead));
        Block before = RandomShowableBlock(rng);
        before[0] = static_cast<std::uint8_t>(laserBefore);
        showOffline(before);
        Block block = before;
        block[0] = static_cast<std::uint8_t>(laserRead);
        RequestWriteParams = 0;
        showOffline(block);
        QCOMPARE(int{DeviceConfig.read().laserLevel()}, laserStored);
        QCOMPARE(RequestWriteParams.load() == 1, writeRequested);
        QCOMPARE(f().GroupBoxLaser->title(),
                 QStringLiteral("Laser: %1 level").arg(std::min(laserRead, 31)));
        block[0] = static_cast<std::uint8_t>(laserStored);
        QCOMPARE(FirstDifference(DeviceConfig.read(), AreaOf(block)), -1);
        RequestWriteParams = 0;
    }

    void applyLeavesListsBeyondTheirItemsUnselected() {
        Block block{};
        block[16] = 7; // analogPoints beyond "1024 pnt."
        showOffline(block);
        QCOMPARE(f().ComboBoxAnalogOutPoints->currentIndex(), -1);
        QCOMPARE(int{DeviceConfig.read().analogPoints()}, 7);
        block[16] = 4;
        showOffline(block);
        QCOMPARE(f().ComboBoxAnalogOutPoints->currentIndex(), 4);
    }

    void applyStopsTheAngleAtMinus32767() {
        Block block{};
        showOffline(block); // track bar at 0
        RequestWriteParams = 0;
        block[10] = 0x00;
        block[11] = 0x80; // -32768
        showOffline(block);
        QCOMPARE(f().TrackBarAngle->value(), -32767);
        QCOMPARE(int{DeviceConfig.read().angle()}, -32767);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{1});
        // Read again while the bar already stands at -32767: the byte keeps -32768.
        RequestWriteParams = 0;
        showOffline(block);
        QCOMPARE(int{DeviceConfig.read().angle()}, -32768);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
    }

    // ---- connected to the emulated scanner ----

    void connectWritesBackLaserLevel12() {
        showOffline(Block{}); // the track bars stand at 0
        RequestWriteParams = 0;
        Block block = factory_;
        block[0] = 12;
        emu_->setConfig(0, block);
        const auto writes = served(5);
        connectScanner();
        QVERIFY(QTest::qWaitFor([&] { return served(5) > writes; }, kWaitMs));
        QCOMPARE(served(5), writes + 1);
        QCOMPARE(int{emu_->config(0)[0]}, 12);
        QVERIFY(emu_->config(0) == block);
        QCOMPARE(f().GroupBoxLaser->title(), QStringLiteral("Laser: 12 level"));
    }

    void eachControlChangesOnlyItsOwnField_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QList<int>>("bytes");
        QTest::addColumn<int>("mask");
        for (const char *c :
             {"CheckBoxResultSyncEnable", "CheckBoxMeasureSyncEnable", "CheckBoxAnalogSyncEnable",
              "CheckBoxAnalogSyncLevel", "RadioButtonResultSyncRising",
              "RadioButtonMeasureSyncRising", "RadioButtonAnalogSyncRising"}) {
            static const QHash<QString, int> bit{
                {"CheckBoxResultSyncEnable", 0},  {"RadioButtonResultSyncRising", 1},
                {"CheckBoxMeasureSyncEnable", 2}, {"RadioButtonMeasureSyncRising", 3},
                {"CheckBoxAnalogSyncEnable", 4},  {"RadioButtonAnalogSyncRising", 5},
                {"CheckBoxAnalogSyncLevel", 6}};
            QTest::newRow(c) << QString::fromLatin1(c) << QList<int>{12} << (1 << bit[c]);
        }
        QTest::newRow("TrackBarLaser") << "TrackBarLaser" << QList<int>{0} << 0xFF;
        QTest::newRow("TrackBarIntegration") << "TrackBarIntegration" << QList<int>{1, 2} << 0xFF;
        QTest::newRow("TrackBarAngle") << "TrackBarAngle" << QList<int>{10, 11} << 0xFF;
        QTest::newRow("ComboBoxSyncDivider") << "ComboBoxSyncDivider" << QList<int>{14} << 0xFF;
        QTest::newRow("ComboBoxSyncDelay") << "ComboBoxSyncDelay" << QList<int>{15} << 0xFF;
        QTest::newRow("ComboBoxAnalogOutPoints")
            << "ComboBoxAnalogOutPoints" << QList<int>{16} << 0xFF;
        QTest::newRow("ComboBoxAnalogOutTime") << "ComboBoxAnalogOutTime" << QList<int>{17} << 0xFF;
        QTest::newRow("ComboBoxUDPFrequency") << "ComboBoxUDPFrequency" << QList<int>{32} << 0xFF;
        const char *edits[12] = {"EditInterfaceIP0",   "EditInterfaceIP1",   "EditInterfaceIP2",
                                 "EditInterfaceIP3",   "EditInterfaceMask0", "EditInterfaceMask1",
                                 "EditInterfaceMask2", "EditInterfaceMask3", "EditUDPIP0",
                                 "EditUDPIP1",         "EditUDPIP2",         "EditUDPIP3"};
        const int bytes[12] = {21, 20, 19, 18, 25, 24, 23, 22, 29, 28, 27, 26};
        for (int i = 0; i < 12; ++i)
            QTest::newRow(edits[i]) << edits[i] << QList<int>{bytes[i]} << 0xFF;
        QTest::newRow("EditUDPPort") << "EditUDPPort" << QList<int>{30, 31} << 0xFF;
    }

    void eachControlChangesOnlyItsOwnField() {
        QFETCH(QString, control);
        QFETCH(QList<int>, bytes);
        QFETCH(int, mask);
        QWidget *w = f().TabSheetParameters->findChild<QWidget *>(control);
        QVERIFY2(w, qPrintable(control));
        std::mt19937 rng(static_cast<unsigned>(qHash(control)));
        for (int round = 0; round < 8; ++round) {
            const Block block = ScannerBlock(rng);
            loadFromScanner(block);
            const ConfigArea before = DeviceConfig.read();

            if (auto *check = qobject_cast<QCheckBox *>(w)) {
                QTest::mouseClick(check, Qt::LeftButton);
            } else if (auto *radio = qobject_cast<QRadioButton *>(w)) {
                // Click whichever of the pair is not checked: the bit flips.
                const auto pair = radio->parentWidget()->findChildren<QRadioButton *>();
                for (QRadioButton *r : pair)
                    if (!r->isChecked()) {
                        QTest::mouseClick(r, Qt::LeftButton);
                        break;
                    }
            } else if (auto *bar = qobject_cast<QSlider *>(w)) {
                const int v = bar->value();
                bar->setValue(v < bar->maximum() ? v + 1 : v - 1);
            } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
                combo->setFocus(Qt::TabFocusReason);
                QTest::keyClick(combo, combo->currentIndex() + 1 < combo->count() ? Qt::Key_Down
                                                                                  : Qt::Key_Up);
            } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
                const int limit = control == QLatin1String("EditUDPPort") ? 65535 : 255;
                const int v = edit->text().toInt();
                edit->setText(QString::number(v < limit ? v + 1 : v - 1));
                SendFocusOut(edit);
            }

            const ConfigArea after = DeviceConfig.read();
            bool changed = false;
            for (std::size_t i = 0; i < ConfigArea::kSize; ++i) {
                const int allowed = bytes.contains(static_cast<int>(i)) ? mask : 0;
                QVERIFY2((after.byteAt(i) & ~allowed) == (before.byteAt(i) & ~allowed),
                         qPrintable(QStringLiteral("byte %1 changed").arg(i)));
                changed = changed || after.byteAt(i) != before.byteAt(i);
            }
            QVERIFY2(changed, "the control did not change its own field");
            waitIdle();
        }
    }

    void checkBoxThenLaserReachTheScannerInOneWrite() {
        Block block = factory_;
        block[0] = 10;
        block[12] = 0x00;
        loadFromScanner(block);
        const auto writes = served(5);
        QTest::mouseClick(f().CheckBoxMeasureSyncEnable, Qt::LeftButton);
        idleTicks(); // the check box alone writes nothing
        settle();
        QCOMPARE(served(5), writes);
        f().TrackBarLaser->setValue(20);
        QVERIFY(QTest::qWaitFor([&] { return served(5) > writes; }, kWaitMs));
        settle();
        QCOMPARE(served(5), writes + 1);
        const Block sent = emu_->config(0);
        QCOMPARE(int{sent[0]}, 20);
        QCOMPARE(int{sent[12]}, 0x04);
        block[0] = 20;
        block[12] = 0x04;
        QVERIFY(sent == block);
    }

    void readThrowsLocalChangesAway() {
        Block block = factory_;
        block[12] = 0x00;
        block[14] = 3;
        loadFromScanner(block);
        const auto writes = served(5);
        QTest::mouseClick(f().CheckBoxResultSyncEnable, Qt::LeftButton);
        QTest::mouseClick(f().RadioButtonMeasureSyncFalling, Qt::LeftButton);
        QCOMPARE(int{DeviceConfig.read().syncFlags()}, 0x09);
        const auto reads = served(4);
        f().ButtonReadCfg->click();
        QVERIFY(QTest::qWaitFor([&] { return served(4) > reads; }, kWaitMs));
        waitIdle();
        QCOMPARE(served(5), writes);
        QCOMPARE(int{DeviceConfig.read().syncFlags()}, 0x00);
        QVERIFY(!f().CheckBoxResultSyncEnable->isChecked());
        QVERIFY(f().RadioButtonMeasureSyncRising->isChecked());
        QVERIFY(!f().RadioButtonMeasureSyncFalling->isChecked());
        QCOMPARE(f().ComboBoxSyncDivider->currentIndex(), 3);
    }

    void randomBlocksRoundTripThroughTheScanner() {
        std::mt19937 rng(6001);
        for (int round = 0; round < 10; ++round) {
            const Block block = ScannerBlock(rng);
            loadFromScanner(block);
            writeToScanner();
            QVERIFY2(emu_->config(0) == block, qPrintable(QStringLiteral("round %1").arg(round)));
        }
    }

    void addressEditValidation_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("error");
        QTest::newRow("above the limit") << "300"
                                         << "192" << 192 << false;
        QTest::newRow("zero") << "0"
                              << "0" << 0 << false;
        QTest::newRow("in range") << "10"
                                  << "10" << 10 << false;
        QTest::newRow("empty") << ""
                               << "192" << 192 << false;
        QTest::newRow("letters") << "abc"
                                 << "abc" << 192 << true;
        QTest::newRow("negative") << "-1"
                                  << "192" << 192 << false;
    }

    void addressEditValidation() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, stored);
        QFETCH(bool, error);
        Block block = factory_;
        block[21] = 192; // first octet of the scanner's address
        loadFromScanner(block);
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));

        MessageBoxCloser closer;
        QLineEdit *edit = f().EditInterfaceIP0;
        edit->setFocus(Qt::MouseFocusReason);
        QVERIFY(QTest::qWaitFor([edit] { return edit->hasFocus(); }, kWaitMs));
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, typed);
        f().EditInterfaceIP1->setFocus(Qt::TabFocusReason); // leaves the edit
        QVERIFY(QTest::qWaitFor([&] { return !error || !closer.texts().isEmpty(); }, kWaitMs));

        QCOMPARE(edit->text(), shown);
        QCOMPARE(int{DeviceConfig.read().byteAt(21)}, stored);
        if (error)
            QCOMPARE(closer.texts(),
                     QStringList{QStringLiteral("'abc' is not a valid integer value")});
        else
            QVERIFY(closer.texts().isEmpty());
        // Nothing else of the block moved.
        Block expected = block;
        expected[21] = static_cast<std::uint8_t>(stored);
        QCOMPARE(FirstDifference(DeviceConfig.read(), AreaOf(expected)), -1);
    }

    void portEditValidation() {
        Block block = factory_;
        block[30] = 0x73;
        block[31] = 0x17; // 6003
        loadFromScanner(block);
        MessageBoxCloser closer;

        f().EditUDPPort->setText(QStringLiteral("70000"));
        SendFocusOut(f().EditUDPPort);
        QCOMPARE(f().EditUDPPort->text(), QStringLiteral("6003"));
        QCOMPARE(int{DeviceConfig.read().udpPort()}, 6003);

        f().EditUDPPort->setText(QStringLiteral("-5"));
        SendFocusOut(f().EditUDPPort);
        QCOMPARE(f().EditUDPPort->text(), QStringLiteral("6003"));

        f().EditUDPPort->setText(QStringLiteral("6004"));
        SendFocusOut(f().EditUDPPort);
        QCOMPARE(int{DeviceConfig.read().byteAt(30)}, 0x74);
        QCOMPARE(int{DeviceConfig.read().byteAt(31)}, 0x17);
        writeToScanner();
        QCOMPARE(int{emu_->config(0)[30]}, 0x74);
        QCOMPARE(int{emu_->config(0)[31]}, 0x17);
        QVERIFY(closer.texts().isEmpty());
    }

    void programmaticChangesRunNoStep() {
        Block block = factory_;
        block[12] = 0x00;
        block[21] = 50;
        loadFromScanner(block);
        // A text set by the program, a check mark and a list selection.
        f().EditInterfaceIP0->setText(QStringLiteral("99"));
        f().CheckBoxAnalogSyncLevel->setChecked(true);
        f().ComboBoxSyncDelay->setCurrentIndex(9);
        // A focus change of the whole window is no exit from the edit.
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(f().EditInterfaceIP0, &away);
        QCOMPARE(FirstDifference(DeviceConfig.read(), AreaOf(block)), -1);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
        f().ApplyConfigToControls();
    }

    void flushThenDefaultIsOneFlushWithArgument1() {
        Block changed = factory_;
        changed[0] = 3;
        changed[15] = 77;
        loadFromScanner(changed);
        const auto flushes = served(6);
        const auto reads = served(4);
        f().ButtonFlushCfg->click();
        f().ButtonDefaultCfg->click();
        QCOMPARE(FlushArgument.load(), std::uint8_t{1});
        QVERIFY(QTest::qWaitFor([&] { return served(6) > flushes; }, kWaitMs));
        idleTicks();
        settle();
        QCOMPARE(served(6), flushes + 1);
        QVERIFY(served(4) >= reads + 1);
        QVERIFY2(emu_->config(0) == factory_, "the scanner did not return to its defaults");
        QCOMPARE(FirstDifference(DeviceConfig.read(), AreaOf(factory_)), -1);
        QCOMPARE(f().TrackBarLaser->value(), int{factory_[0]});
    }

    void angleCalculateAndApply() {
        Block block = factory_;
        block[10] = 0;
        block[11] = 0;
        loadFromScanner(block);
        qz417::sim::FaultOptions faults;
        faults.angleReply = 16384;
        emu_->setFaults(0, faults);

        const auto writes = served(5);
        f().ButtonAngleCalc->click();
        QCOMPARE(f().GroupBoxAngle->title(), QStringLiteral("Angle: 0.000°; Calculate: 30.001°"));
        QCOMPARE(LastCalculatedAngle, std::int16_t{16384});
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});

        f().ButtonAngleApply->click();
        QCOMPARE(f().TrackBarAngle->value(), -16384);
        QCOMPARE(int{DeviceConfig.read().byteAt(10)}, 0x00);
        QCOMPARE(int{DeviceConfig.read().byteAt(11)}, 0xC0);
        QCOMPARE(f().GroupBoxAngle->title(), QStringLiteral("Angle: -30.001°; Calculate: 30.001°"));
        QVERIFY(QTest::qWaitFor([&] { return served(5) > writes; }, kWaitMs));
        waitIdle();
        QCOMPARE(int{emu_->config(0)[10]}, 0x00);
        QCOMPARE(int{emu_->config(0)[11]}, 0xC0);

        // Apply again with the same reply: the bar already stands there.
        const auto writes2 = served(5);
        f().ButtonAngleApply->click();
        idleTicks();
        settle();
        QCOMPARE(served(5), writes2);

        // Moving the bar keeps the calculated angle in the caption.
        f().TrackBarAngle->setValue(546);
        QCOMPARE(f().GroupBoxAngle->title(), QStringLiteral("Angle: 1.000°; Calculate: 30.001°"));
        waitIdle();

        faults.angleReply = -32767;
        emu_->setFaults(0, faults);
        f().ButtonAngleApply->click();
        QCOMPARE(f().TrackBarAngle->value(), 32767);
        QCOMPARE(f().GroupBoxAngle->title(), QStringLiteral("Angle: 60.000°; Calculate: -60.000°"));
        waitIdle();
        emu_->setFaults(0, qz417::sim::FaultOptions{});
    }

    void angleOutOfRange() {
        Block block = factory_;
        block[10] = 0x00;
        block[11] = 0xC0; // -16384
        loadFromScanner(block);
        qz417::sim::FaultOptions faults;
        faults.angleReply = -32768;
        emu_->setFaults(0, faults);
        const auto writes = served(5);

        f().ButtonAngleCalc->click();
        QCOMPARE(f().GroupBoxAngle->title(),
                 QStringLiteral("Angle: -30.001°; Calculate: Out of range"));
        f().ButtonAngleApply->click();
        QCOMPARE(f().TrackBarAngle->value(), -16384);
        QCOMPARE(int{DeviceConfig.read().angle()}, -16384);
        QCOMPARE(f().GroupBoxAngle->title(),
                 QStringLiteral("Angle: -30.001°; Calculate: Out of range"));
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
        idleTicks();
        settle();
        QCOMPARE(served(5), writes);
        emu_->setFaults(0, qz417::sim::FaultOptions{});
    }

    void angleReset() {
        Block block = factory_;
        block[10] = 0x00;
        block[11] = 0x00;
        loadFromScanner(block);
        const QString caption = f().GroupBoxAngle->title();
        f().ButtonAngleReset->click(); // already at 0: nothing happens
        QCOMPARE(f().GroupBoxAngle->title(), caption);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});

        f().TrackBarAngle->setValue(1);
        QVERIFY(f().GroupBoxAngle->title().startsWith(QStringLiteral("Angle: 0.002°; ")));
        waitIdle();
        barrier();
        const auto writes = served(5);
        f().ButtonAngleReset->click();
        QCOMPARE(f().TrackBarAngle->value(), 0);
        QVERIFY(f().GroupBoxAngle->title().startsWith(QStringLiteral("Angle: 0.000°; ")));
        QVERIFY(QTest::qWaitFor([&] { return served(5) > writes; }, kWaitMs));
        waitIdle();
        barrier();
        QCOMPARE(int{emu_->config(0)[10]}, 0);
    }

    // Last: a failed calculation closes the connection.
    void failedCalculationClosesTheConnection() {
        waitIdle();
        const QString caption = f().GroupBoxAngle->title();
        const std::int16_t last = LastCalculatedAngle;
        qz417::sim::FaultOptions faults;
        faults.resetAfterCommands = 0; // every further command resets the connection
        emu_->setFaults(0, faults);
        f().ButtonAngleCalc->click();
        QCOMPARE(DeviceSocket.load(), -1);
        QCOMPARE(f().GroupBoxAngle->title(), caption);
        QCOMPARE(LastCalculatedAngle, last);
        emu_->setFaults(0, qz417::sim::FaultOptions{});
        // The next serviced request fails on the closed socket and the window
        // leaves the connected state.
        f().ButtonReadCfg->click();
        QVERIFY(QTest::qWaitFor([this] { return !connected(); }, kWaitMs));
        RequestReadParams = 0;
    }
};

QTEST_MAIN(ParametersPageTest)
#include "parameters_page_test.moc"
