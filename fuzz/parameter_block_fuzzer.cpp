// The parameter block as a scanner sends it, applied to the "Parameters"
// page and written back, with user changes on the page in between.
//
// Input: the 512-byte block (shorter input is padded with zeros), then
// actions, one byte each (with their arguments after it): click a check box
// or radio button, pick a list item, type digits into an address or port edit
// and leave it, move a track bar, show a device description. The window is
// created once (offscreen). After every input the bytes the program does not
// interpret (3-4, 13, 33-511, bit 7 of 12) must be exactly those received,
// and each interpreted field may differ only in the ways its control allows.
#include "core/app_state.h"
#include "core/form_main.h"
#include "fuzz_input.h"
#include "model/config_area.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

using qz417::ConfigArea;
using qz417::fuzz::Check;

QApplication *g_app = nullptr;

bool Uninterpreted(std::size_t offset) {
    return offset == 3 || offset == 4 || offset == 13 || offset >= 33;
}

void CheckUninterpreted(const ConfigArea::Bytes &received, const ConfigArea &now) {
    for (std::size_t i = 0; i < ConfigArea::kSize; ++i)
        if (Uninterpreted(i))
            Check(now.byteAt(i) == received[i], "an uninterpreted byte changed");
    Check((now.byteAt(ConfigArea::kSyncFlags) & 0x80) == (received[ConfigArea::kSyncFlags] & 0x80),
          "bit 7 of the sync flags changed");
}

// Digits only: a non-number would open the conversion message box, which
// waits for a user.
QString DigitText(qz417::fuzz::FuzzInput &in, int maxLength) {
    const int length = in.u8() % (maxLength + 1);
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar('0' + in.u8() % 10);
    return text;
}

struct AddressEdit {
    QLineEdit *TFormMain::*edit;
    int byte;
};

constexpr AddressEdit kAddressEdits[] = {
    {&TFormMain::EditInterfaceIP0, 21},   {&TFormMain::EditInterfaceIP1, 20},
    {&TFormMain::EditInterfaceIP2, 19},   {&TFormMain::EditInterfaceIP3, 18},
    {&TFormMain::EditInterfaceMask0, 25}, {&TFormMain::EditInterfaceMask1, 24},
    {&TFormMain::EditInterfaceMask2, 23}, {&TFormMain::EditInterfaceMask3, 22},
    {&TFormMain::EditUDPIP0, 29},         {&TFormMain::EditUDPIP1, 28},
    {&TFormMain::EditUDPIP2, 27},         {&TFormMain::EditUDPIP3, 26},
};

void PickItem(qz417::fuzz::FuzzInput &in, QComboBox *combo, void (TFormMain::*step)()) {
    const int index = in.u16() % (combo->count() + 2) - 1; // -1 and beyond the list too
    combo->setCurrentIndex(index < combo->count() ? index : -1);
    (FormMain->*step)();
}

void Act(qz417::fuzz::FuzzInput &in, TFormMain &w) {
    switch (in.u8() % 16) {
    case 0:
        w.CheckBoxResultSyncEnable->click();
        break;
    case 1:
        (in.u8() & 1 ? w.RadioButtonResultSyncFalling : w.RadioButtonResultSyncRising)->click();
        break;
    case 2:
        w.CheckBoxMeasureSyncEnable->click();
        break;
    case 3:
        (in.u8() & 1 ? w.RadioButtonMeasureSyncFalling : w.RadioButtonMeasureSyncRising)->click();
        break;
    case 4:
        w.CheckBoxAnalogSyncEnable->click();
        break;
    case 5:
        (in.u8() & 1 ? w.RadioButtonAnalogSyncFalling : w.RadioButtonAnalogSyncRising)->click();
        break;
    case 6:
        w.CheckBoxAnalogSyncLevel->click();
        break;
    case 7:
        PickItem(in, w.ComboBoxSyncDivider, &TFormMain::ComboBoxSyncDividerChange);
        break;
    case 8:
        PickItem(in, w.ComboBoxSyncDelay, &TFormMain::ComboBoxSyncDelayChange);
        break;
    case 9:
        PickItem(in, w.ComboBoxAnalogOutPoints, &TFormMain::ComboBoxAnalogOutPointsChange);
        break;
    case 10:
        PickItem(in, w.ComboBoxAnalogOutTime, &TFormMain::ComboBoxAnalogOutTimeChange);
        break;
    case 11:
        PickItem(in, w.ComboBoxUDPFrequency, &TFormMain::ComboBoxUDPFrequencyChange);
        break;
    case 12: {
        const AddressEdit &e = kAddressEdits[in.u8() % std::size(kAddressEdits)];
        QLineEdit *edit = w.*(e.edit);
        const QString text = DigitText(in, 3);
        const std::uint8_t before = DeviceConfig.read().byteAt(static_cast<std::size_t>(e.byte));
        edit->setText(text);
        w.EditAddressExit(edit, e.byte);
        const std::uint8_t after = DeviceConfig.read().byteAt(static_cast<std::size_t>(e.byte));
        const int typed = text.isEmpty() ? -1 : text.toInt();
        if (typed >= 0 && typed <= 255)
            Check(after == typed, "typed octet not stored");
        else
            Check(after == before && edit->text() == QString::number(before),
                  "rejected octet not restored");
        break;
    }
    case 13: {
        const QString text = DigitText(in, 5);
        const std::uint16_t before = DeviceConfig.read().udpPort();
        w.EditUDPPort->setText(text);
        w.EditUDPPortExit();
        const std::uint16_t after = DeviceConfig.read().udpPort();
        const int typed = text.isEmpty() ? -1 : text.toInt();
        if (typed >= 0 && typed <= 65535)
            Check(after == typed, "typed port not stored");
        else
            Check(after == before && w.EditUDPPort->text() == QString::number(before),
                  "rejected port not restored");
        break;
    }
    case 14: {
        QSlider *const bars[] = {w.TrackBarLaser, w.TrackBarIntegration, w.TrackBarAngle};
        QSlider *bar = bars[in.u8() % 3];
        bar->setValue(static_cast<std::int16_t>(in.u16()));
        break;
    }
    case 15: {
        std::array<std::uint8_t, 255> description{};
        const auto bytes = in.bytes(description.size());
        std::copy(bytes.begin(), bytes.end(), description.begin());
        w.ShowDeviceDescription(description.data());
        Check(w.MemoInfo->document()->blockCount() == 34, "information page row count");
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    g_app = new QApplication(*argc, *argv);
    FormMain = new TFormMain;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qz417::fuzz::FuzzInput in(data, size);
    ConfigArea::Bytes received{};
    const auto block = in.bytes(received.size());
    std::copy(block.begin(), block.end(), received.begin());

    // As after a read from the scanner.
    DeviceConfig.write(received.data());
    FormMain->ApplyConfigToControls();

    ConfigArea applied = DeviceConfig.read();
    CheckUninterpreted(received, applied);
    // Only the track bars may change their fields, and only to a position they can take.
    for (std::size_t i = 0; i < ConfigArea::kSize; ++i) {
        if (i == ConfigArea::kLaserLevel || i == ConfigArea::kAngle || i == ConfigArea::kAngle + 1)
            continue;
        Check(applied.byteAt(i) == received[i], "applying the block changed a field");
    }
    const ConfigArea original(received.data());
    Check(applied.laserLevel() == original.laserLevel() ||
              (original.laserLevel() > 31 && applied.laserLevel() == 31),
          "laser level after applying");
    Check(applied.angle() == original.angle() ||
              (original.angle() == -32768 && applied.angle() == -32767),
          "angle after applying");
    Check(FormMain->TrackBarLaser->value() == std::min<int>(original.laserLevel(), 31),
          "laser track bar position");
    Check(FormMain->TrackBarIntegration->value() == original.integration(),
          "integration track bar position");

    // The user edits the page; each step touches its own field only.
    int actions = 0;
    while (!in.empty() && actions++ < 64) {
        Act(in, *FormMain);
        CheckUninterpreted(received, DeviceConfig.read());
    }
    RequestWriteParams = 0;
    return 0;
}
