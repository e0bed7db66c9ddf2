// The change steps of the "Parameters" page: each control edits its own
// field of DeviceConfig (one edit() per step, so a transfer never sees half a
// change) and some raise a request for the servicing thread.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "config/integer_text.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "model/config_area.h"
#include "model/parameter_texts.h"

namespace {

using qz417::ConfigArea;

void SetSyncBit(ConfigArea::SyncBit bit, bool on) {
    DeviceConfig.edit([&](ConfigArea &area) { area.setSyncBit(bit, on); });
}

// The item index of a list as the byte of its field; no selection stores nothing.
template <class Setter> void StoreListIndex(const QComboBox *combo, Setter set) {
    const int index = combo->currentIndex();
    if (index < 0 || index > 255)
        return;
    DeviceConfig.edit([&](ConfigArea &area) { (area.*set)(static_cast<std::uint8_t>(index)); });
}

bool IsAddressByte(int offset) {
    return offset >= static_cast<int>(ConfigArea::kNetAddress) &&
           offset < static_cast<int>(ConfigArea::kUdpAddress) + 4;
}

} // namespace

void TFormMain::TrackBarLaserChange() {
    const int position = TrackBarLaser->value();
    DeviceConfig.edit(
        [&](ConfigArea &area) { area.setLaserLevel(static_cast<std::uint8_t>(position)); });
    GroupBoxLaser->setTitle(QString::fromStdString(qz417::LaserCaption(position)));
    RequestWriteParams = 1;
}

void TFormMain::TrackBarIntegrationChange() {
    const int position = TrackBarIntegration->value();
    DeviceConfig.edit(
        [&](ConfigArea &area) { area.setIntegration(static_cast<std::uint16_t>(position)); });
    GroupBoxIntegration->setTitle(QString::fromStdString(qz417::IntegrationCaption(position)));
    RequestWriteParams = 1;
}

void TFormMain::CheckBoxResultSyncEnableClick() {
    SetSyncBit(ConfigArea::kResultSyncEnable, CheckBoxResultSyncEnable->isChecked());
}

void TFormMain::RadioButtonResultSyncRisingClick() {
    SetSyncBit(ConfigArea::kResultSyncFalling, RadioButtonResultSyncFalling->isChecked());
}

void TFormMain::CheckBoxMeasureSyncEnableClick() {
    SetSyncBit(ConfigArea::kMeasureSyncEnable, CheckBoxMeasureSyncEnable->isChecked());
}

void TFormMain::RadioButtonMeasureSyncRisingClick() {
    SetSyncBit(ConfigArea::kMeasureSyncFalling, RadioButtonMeasureSyncFalling->isChecked());
}

void TFormMain::CheckBoxAnalogSyncEnableClick() {
    SetSyncBit(ConfigArea::kAnalogSyncEnable, CheckBoxAnalogSyncEnable->isChecked());
}

void TFormMain::RadioButtonAnalogSyncRisingClick() {
    SetSyncBit(ConfigArea::kAnalogSyncFalling, RadioButtonAnalogSyncFalling->isChecked());
}

void TFormMain::CheckBoxAnalogSyncLevelClick() {
    SetSyncBit(ConfigArea::kAnalogSyncLevel, CheckBoxAnalogSyncLevel->isChecked());
}

void TFormMain::ComboBoxSyncDividerChange() {
    StoreListIndex(ComboBoxSyncDivider, &ConfigArea::setSyncDivider);
}

void TFormMain::ComboBoxSyncDelayChange() {
    StoreListIndex(ComboBoxSyncDelay, &ConfigArea::setSyncDelay);
}

void TFormMain::ComboBoxAnalogOutPointsChange() {
    StoreListIndex(ComboBoxAnalogOutPoints, &ConfigArea::setAnalogPoints);
}

void TFormMain::ComboBoxAnalogOutTimeChange() {
    StoreListIndex(ComboBoxAnalogOutTime, &ConfigArea::setAnalogTime);
}

void TFormMain::ComboBoxUDPFrequencyChange() {
    StoreListIndex(ComboBoxUDPFrequency, &ConfigArea::setUdpFrequency);
}

void TFormMain::EditAddressExit(QLineEdit *edit, int byteOffset) {
    if (!edit || !IsAddressByte(byteOffset))
        return;
    const auto offset = static_cast<std::size_t>(byteOffset);
    const QString typed = edit->text();
    qz417::TypedNumber number;
    // The current octet is read and the new one stored under one lock.
    DeviceConfig.edit([&](ConfigArea &area) {
        number = qz417::ResolveTypedNumber(typed, area.byteAt(offset), 255);
        if (number.valid)
            area.setByteAt(offset, static_cast<std::uint8_t>(number.value));
    });
    if (!number.valid) {
        qz417::ShowConversionError(this, typed);
        return;
    }
    if (number.text != typed)
        edit->setText(number.text);
}

void TFormMain::EditUDPPortExit() {
    const QString typed = EditUDPPort->text();
    qz417::TypedNumber number;
    DeviceConfig.edit([&](ConfigArea &area) {
        number = qz417::ResolveTypedNumber(typed, area.udpPort(), 65535);
        if (number.valid)
            area.setUdpPort(static_cast<std::uint16_t>(number.value));
    });
    if (!number.valid) {
        qz417::ShowConversionError(this, typed);
        return;
    }
    if (number.text != typed)
        EditUDPPort->setText(number.text);
}

void TFormMain::ButtonReadCfgClick() {
    RequestReadParams = 1;
}

void TFormMain::ButtonWriteCfgClick() {
    RequestWriteParams = 1;
}

void TFormMain::ButtonFlushCfgClick() {
    FlushArgument = QZ417_FLUSH_STORE;
    RequestFlushParams = 1;
}

void TFormMain::ButtonDefaultCfgClick() {
    FlushArgument = QZ417_FLUSH_DEFAULTS;
    RequestFlushParams = 1;
}
