// The angle group of the "Parameters" page: the angle setting by hand, back
// to zero, and the scanner's own calculation, shown or taken over negated.
#include <QGroupBox>
#include <QSlider>

#include "core/app_state.h"
#include "core/form_main.h"
#include "model/angle_units.h"

namespace {

void ShowAngleCaption(QGroupBox *group, std::int16_t setting) {
    group->setTitle(QString::fromStdString(qz417::AngleCaption(setting, LastCalculatedAngle)));
}

// Asks the scanner for its angle (on the window thread; the library's lock
// keeps it apart from a worker's exchange). On failure the connection is
// closed and LastCalculatedAngle keeps its value.
bool CalculateAngle() {
    std::uint8_t reply[QZ417_ANGLE_SIZE] = {};
    if (QZ417_CalcAngle(DeviceSocket.load(), reply) != 1) {
        // Taken out first, so that no other thread closes the same handle.
        const std::int32_t socket = DeviceSocket.exchange(-1);
        QZ417_Disconnect(socket);
        return false;
    }
    LastCalculatedAngle = static_cast<std::int16_t>(reply[0] | (reply[1] << 8));
    return true;
}

} // namespace

void TFormMain::TrackBarAngleChange() {
    const auto position = static_cast<std::int16_t>(TrackBarAngle->value());
    DeviceConfig.edit([&](qz417::ConfigArea &area) { area.setAngle(position); });
    ShowAngleCaption(GroupBoxAngle, position);
    RequestWriteParams = 1;
}

void TFormMain::ButtonAngleResetClick() {
    TrackBarAngle->setValue(0);
}

void TFormMain::ButtonAngleCalcClick() {
    const std::int16_t setting = DeviceConfig.read().angle();
    if (!CalculateAngle())
        return;
    ShowAngleCaption(GroupBoxAngle, setting);
}

void TFormMain::ButtonAngleApplyClick() {
    if (!CalculateAngle())
        return;
    if (LastCalculatedAngle == qz417::kAngleOutOfRange) {
        ShowAngleCaption(GroupBoxAngle, DeviceConfig.read().angle());
        return;
    }
    // A different position runs TrackBarAngleChange; the same one runs nothing.
    TrackBarAngle->setValue(-LastCalculatedAngle);
}
