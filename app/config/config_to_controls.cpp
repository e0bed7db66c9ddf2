// ApplyConfigToControls: after every read of the parameter block the whole
// "Parameters" page (and the image window) shows DeviceConfig again.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/image_window.h"
#include "model/config_area.h"
#include "model/parameter_texts.h"

namespace {

using qz417::ConfigArea;

// Rising checked for a clear bit, Falling for a set one; the button that
// loses its mark is set first.
void ShowEdge(QRadioButton *rising, QRadioButton *falling, bool fallingEdge) {
    if (fallingEdge) {
        rising->setChecked(false);
        falling->setChecked(true);
    } else {
        rising->setChecked(true);
        falling->setChecked(false);
    }
}

// An index beyond the list leaves the list without a selected item.
void ShowListIndex(QComboBox *combo, int index) {
    combo->setCurrentIndex(index < combo->count() ? index : -1);
}

} // namespace

void TFormMain::ApplyConfigToControls() {
    const ConfigArea area = DeviceConfig.read();

    // 1, 2: the track bar stops at 31; if it moves, its own step stores the
    // position and requests a write.
    TrackBarLaser->setValue(area.laserLevel());
    GroupBoxLaser->setTitle(QString::fromStdString(qz417::LaserCaption(TrackBarLaser->value())));

    // 3, 4
    GroupBoxIntegration->setTitle(
        QString::fromStdString(qz417::IntegrationCaption(area.integration())));
    TrackBarIntegration->setValue(area.integration());

    // 5
    ApplyImageWindowFromConfig(area);

    // 6: -32768 stops at -32767.
    TrackBarAngle->setValue(area.angle());

    // 7: check marks set by the program run no click step.
    CheckBoxResultSyncEnable->setChecked(area.syncBit(ConfigArea::kResultSyncEnable));
    ShowEdge(RadioButtonResultSyncRising, RadioButtonResultSyncFalling,
             area.syncBit(ConfigArea::kResultSyncFalling));
    CheckBoxMeasureSyncEnable->setChecked(area.syncBit(ConfigArea::kMeasureSyncEnable));
    ShowEdge(RadioButtonMeasureSyncRising, RadioButtonMeasureSyncFalling,
             area.syncBit(ConfigArea::kMeasureSyncFalling));
    CheckBoxAnalogSyncEnable->setChecked(area.syncBit(ConfigArea::kAnalogSyncEnable));
    ShowEdge(RadioButtonAnalogSyncRising, RadioButtonAnalogSyncFalling,
             area.syncBit(ConfigArea::kAnalogSyncFalling));
    CheckBoxAnalogSyncLevel->setChecked(area.syncBit(ConfigArea::kAnalogSyncLevel));

    // 8
    ShowListIndex(ComboBoxSyncDivider, area.syncDivider());
    ShowListIndex(ComboBoxSyncDelay, area.syncDelay());
    ShowListIndex(ComboBoxAnalogOutPoints, area.analogPoints());
    ShowListIndex(ComboBoxAnalogOutTime, area.analogTime());

    // 9: texts set by the program run no exit step.
    QLineEdit *const ip[4] = {EditInterfaceIP0, EditInterfaceIP1, EditInterfaceIP2,
                              EditInterfaceIP3};
    QLineEdit *const mask[4] = {EditInterfaceMask0, EditInterfaceMask1, EditInterfaceMask2,
                                EditInterfaceMask3};
    QLineEdit *const udp[4] = {EditUDPIP0, EditUDPIP1, EditUDPIP2, EditUDPIP3};
    for (int i = 0; i < 4; ++i) {
        ip[i]->setText(QString::number(area.netAddressOctet(i)));
        mask[i]->setText(QString::number(area.netMaskOctet(i)));
        udp[i]->setText(QString::number(area.udpAddressOctet(i)));
    }
    EditUDPPort->setText(QString::number(area.udpPort()));

    // 10
    ShowListIndex(ComboBoxUDPFrequency, area.udpFrequency());
}
