// ShowDeviceDescription: the information memo, the option-dependent control
// groups, the chart titles and axes, and the scale of the shown device.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStringList>

#include "core/app_state.h"
#include "core/form_main.h"
#include "model/device_description.h"
#include "widgets/profile_chart.h"

namespace {

void SetGroupEnabled(QGroupBox *group, std::initializer_list<QWidget *> controls, bool on) {
    group->setEnabled(on);
    for (QWidget *w : controls)
        w->setEnabled(on);
}

} // namespace

void TFormMain::ShowDeviceDescription(const std::uint8_t *description) {
    const qz417::DeviceDescription d = qz417::DecodeDescription(description);

    MemoInfo->clear();
    QStringList lines;
    for (const std::string &row : qz417::DescriptionRows(d))
        lines << QString::fromStdString(row);
    MemoInfo->setPlainText(lines.join(QLatin1Char('\n')));

    const unsigned m = d.modification;
    SetGroupEnabled(
        GroupBoxResultSync,
        {CheckBoxResultSyncEnable, RadioButtonResultSyncRising, RadioButtonResultSyncFalling},
        (m & 0x01u) != 0);
    SetGroupEnabled(GroupBoxMeasureSync,
                    {CheckBoxMeasureSyncEnable, RadioButtonMeasureSyncRising,
                     RadioButtonMeasureSyncFalling, LabelSyncDivider, LabelSyncDelay,
                     ComboBoxSyncDivider, ComboBoxSyncDelay},
                    (m & 0x04u) != 0);
    const unsigned analog = (m >> 3) & 0x03u;
    if (analog != 3) // an undefined code leaves the group as it was
        SetGroupEnabled(GroupBoxAnalogOut,
                        {GroupBoxAnalogSync, LabelAnalogOutPoints, ComboBoxAnalogOutPoints,
                         LabelAnalogOutTime, ComboBoxAnalogOutTime, CheckBoxAnalogSyncEnable,
                         RadioButtonAnalogSyncRising, RadioButtonAnalogSyncFalling,
                         CheckBoxAnalogSyncLevel},
                        analog != 0);

    qz417::ProfileScale scale;
    scale.rangeZ = d.rangeZ;
    scale.rangeXEmr = d.rangeXEmr;
    scale.discreteValue = d.discreteValue;
    scale.errorValue = d.errorValue;
    qz417::SetCurrentScale(scale);

    ChartResult->SetTitle(d.serialNumber);
    ChartUDP->SetTitle(d.serialNumber);

    // Formed in extended precision from the integer ranges, then handed to
    // the charts as doubles.
    const long double rangeZ = d.rangeZ;
    const long double rangeX = d.rangeXEmr;
    const double zMax = static_cast<double>(rangeZ + rangeZ * 0.05L);
    const double xHalf = static_cast<double>((rangeX + rangeX * 0.05L) * 0.5L);
    ChartResult->SetAxisRanges(-xHalf, xHalf, 0.0, zMax);
    ChartUDP->SetAxisRanges(-xHalf, xHalf, 0.0, zMax);
}
