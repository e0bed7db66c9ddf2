// The "Parameters" page: creates its controls at their places, fills the
// combo boxes' value lists and connects every control to its change step.
#include <functional>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "core/form_main.h"
#include "model/angle_units.h"
#include "model/config_area.h"
#include "model/parameter_texts.h"

namespace {

// Runs a step when an edit loses the focus to another control of the window.
// A change of the active window or an opened popup is no exit: the focus
// comes back to the same edit. A text set by the program runs nothing.
class FocusExitFilter : public QObject {
public:
    FocusExitFilter(QObject *parent, std::function<void()> step)
        : QObject(parent), step_(std::move(step)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                step_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> step_;
};

void OnFocusExit(QLineEdit *edit, std::function<void()> step) {
    edit->installEventFilter(new FocusExitFilter(edit, std::move(step)));
}

template <class W> W *Make(QWidget *parent, const char *name, int x, int y, int w, int h) {
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QGroupBox *MakeGroup(QWidget *parent, const char *name, const QString &title, int x, int y, int w,
                     int h) {
    auto *box = Make<QGroupBox>(parent, name, x, y, w, h);
    box->setTitle(title);
    return box;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, int x, int y, int w,
                  int h) {
    auto *label = Make<QLabel>(parent, name, x, y, w, h);
    label->setText(text);
    return label;
}

template <class B>
B *MakeButton(QWidget *parent, const char *name, const QString &text, int x, int y, int w, int h) {
    auto *button = Make<B>(parent, name, x, y, w, h);
    button->setText(text);
    return button;
}

QSlider *MakeTrackBar(QWidget *parent, const char *name, int minimum, int maximum, int x, int y,
                      int w, int h) {
    auto *slider = Make<QSlider>(parent, name, x, y, w, h);
    slider->setOrientation(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setValue(0);
    return slider;
}

QComboBox *MakeList(QWidget *parent, const char *name, int x, int y, int w, int h) {
    auto *combo = Make<QComboBox>(parent, name, x, y, w, h);
    combo->setEditable(false); // a drop-down list: only items can be picked
    return combo;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name, const char *text, int maxLength, int x,
                    int y, int w, int h) {
    auto *edit = Make<QLineEdit>(parent, name, x, y, w, h);
    edit->setMaxLength(maxLength);
    edit->setText(QString::fromLatin1(text));
    return edit;
}

void FillList(QComboBox *combo, const std::vector<std::string> &items, int selected) {
    combo->clear();
    for (const std::string &item : items)
        combo->addItem(QString::fromStdString(item));
    combo->setCurrentIndex(selected);
}

// Geometry of the page (pixels from the page's top left corner).
constexpr int kMargin = 4;
constexpr int kPageWidth = 281;
constexpr int kBlockWidth = kPageWidth - 2 * kMargin;
constexpr int kButtonHeight = 24;
constexpr int kRowHeight = 21;
constexpr int kEditWidth = 34;
constexpr int kEditPitch = 38;

} // namespace

void TFormMain::BuildParametersPage() {
    QWidget *page = TabSheetParameters;
    const int w = kBlockWidth;

    // Laser level and integration time: one track bar each.
    GroupBoxLaser =
        MakeGroup(page, "GroupBoxLaser", QStringLiteral("Laser level:"), kMargin, 4, w, 41);
    TrackBarLaser = MakeTrackBar(GroupBoxLaser, "TrackBarLaser", 0, 31, 4, 15, w - 8, 24);
    TrackBarLaser->setTickPosition(QSlider::TicksBelow);
    TrackBarLaser->setTickInterval(1);
    TrackBarLaser->setPageStep(1);

    GroupBoxIntegration =
        MakeGroup(page, "GroupBoxIntegration", QStringLiteral("Integration:"), kMargin, 45, w, 41);
    TrackBarIntegration =
        MakeTrackBar(GroupBoxIntegration, "TrackBarIntegration", 0, 65535, 4, 16, w - 8, 21);
    TrackBarIntegration->setPageStep(100);
    // Until the first change the caption shows 0, not the time of position 0.
    GroupBoxIntegration->setTitle(QStringLiteral("Integration: 0 us"));

    // Angle: track bar and the three calibration buttons below it.
    GroupBoxAngle =
        MakeGroup(page, "GroupBoxAngle", QString::fromStdString(qz417::AngleCaption(0, 0)), kMargin,
                  86, w, 62);
    TrackBarAngle = MakeTrackBar(GroupBoxAngle, "TrackBarAngle", -32767, 32767, 4, 15, w - 8, 21);
    TrackBarAngle->setPageStep(546); // one degree
    {
        const int bw = (w - 8 - 2 * 4) / 3;
        ButtonAngleReset = MakeButton<QPushButton>(GroupBoxAngle, "ButtonAngleReset",
                                                   QStringLiteral("Reset"), 4, 36, bw, 22);
        ButtonAngleCalc = MakeButton<QPushButton>(GroupBoxAngle, "ButtonAngleCalc",
                                                  QStringLiteral("Calculate"), 8 + bw, 36, bw, 22);
        ButtonAngleApply = MakeButton<QPushButton>(
            GroupBoxAngle, "ButtonAngleApply", QStringLiteral("Apply"), 12 + 2 * bw, 36, bw, 22);
    }

    // External synchronisation: result, measure and analog-out groups side by
    // side, then the measurement divider and delay.
    GroupBoxExtSig = MakeGroup(page, "GroupBoxExtSig", QStringLiteral("External synchronization:"),
                               kMargin, 148, w, 134);
    {
        const int gw = (w - 8 - 2 * 3) / 3;
        const int gh = 88;
        const int cw = gw - 8;
        GroupBoxResultSync = MakeGroup(GroupBoxExtSig, "GroupBoxResultSync",
                                       QStringLiteral("Result:"), 4, 14, gw, gh);
        CheckBoxResultSyncEnable =
            MakeButton<QCheckBox>(GroupBoxResultSync, "CheckBoxResultSyncEnable",
                                  QStringLiteral("Enabled"), 4, 16, cw, 17);
        RadioButtonResultSyncRising =
            MakeButton<QRadioButton>(GroupBoxResultSync, "RadioButtonResultSyncRising",
                                     QStringLiteral("Rising"), 4, 33, cw, 17);
        RadioButtonResultSyncFalling =
            MakeButton<QRadioButton>(GroupBoxResultSync, "RadioButtonResultSyncFalling",
                                     QStringLiteral("Falling"), 4, 50, cw, 17);
        RadioButtonResultSyncRising->setChecked(true);

        GroupBoxMeasureSync = MakeGroup(GroupBoxExtSig, "GroupBoxMeasureSync",
                                        QStringLiteral("Measure:"), 7 + gw, 14, gw, gh);
        CheckBoxMeasureSyncEnable =
            MakeButton<QCheckBox>(GroupBoxMeasureSync, "CheckBoxMeasureSyncEnable",
                                  QStringLiteral("Enabled"), 4, 16, cw, 17);
        RadioButtonMeasureSyncRising =
            MakeButton<QRadioButton>(GroupBoxMeasureSync, "RadioButtonMeasureSyncRising",
                                     QStringLiteral("Rising"), 4, 33, cw, 17);
        RadioButtonMeasureSyncFalling =
            MakeButton<QRadioButton>(GroupBoxMeasureSync, "RadioButtonMeasureSyncFalling",
                                     QStringLiteral("Falling"), 4, 50, cw, 17);
        RadioButtonMeasureSyncRising->setChecked(true);

        GroupBoxAnalogSync = MakeGroup(GroupBoxExtSig, "GroupBoxAnalogSync",
                                       QStringLiteral("Analog out:"), 10 + 2 * gw, 14, gw, gh);
        CheckBoxAnalogSyncEnable =
            MakeButton<QCheckBox>(GroupBoxAnalogSync, "CheckBoxAnalogSyncEnable",
                                  QStringLiteral("Enabled"), 4, 16, cw, 17);
        RadioButtonAnalogSyncRising =
            MakeButton<QRadioButton>(GroupBoxAnalogSync, "RadioButtonAnalogSyncRising",
                                     QStringLiteral("Rising"), 4, 33, cw, 17);
        RadioButtonAnalogSyncFalling =
            MakeButton<QRadioButton>(GroupBoxAnalogSync, "RadioButtonAnalogSyncFalling",
                                     QStringLiteral("Falling"), 4, 50, cw, 17);
        CheckBoxAnalogSyncLevel =
            MakeButton<QCheckBox>(GroupBoxAnalogSync, "CheckBoxAnalogSyncLevel",
                                  QStringLiteral("Hi level"), 4, 67, cw, 17);

        const int y = 14 + gh + 6;
        LabelSyncDivider = MakeLabel(GroupBoxExtSig, "LabelSyncDivider", QStringLiteral("Divider:"),
                                     6, y, 44, kRowHeight);
        ComboBoxSyncDivider =
            MakeList(GroupBoxExtSig, "ComboBoxSyncDivider", 50, y, 88, kRowHeight);
        LabelSyncDelay = MakeLabel(GroupBoxExtSig, "LabelSyncDelay", QStringLiteral("Delay:"), 146,
                                   y, 36, kRowHeight);
        ComboBoxSyncDelay =
            MakeList(GroupBoxExtSig, "ComboBoxSyncDelay", 182, y, w - 186, kRowHeight);
    }

    // Analog output: points and time.
    GroupBoxAnalogOut =
        MakeGroup(page, "GroupBoxAnalogOut", QStringLiteral("Analog out:"), kMargin, 282, w, 58);
    LabelAnalogOutPoints = MakeLabel(GroupBoxAnalogOut, "LabelAnalogOutPoints",
                                     QStringLiteral("Points:"), 6, 24, 44, kRowHeight);
    ComboBoxAnalogOutPoints =
        MakeList(GroupBoxAnalogOut, "ComboBoxAnalogOutPoints", 50, 24, 88, kRowHeight);
    LabelAnalogOutTime = MakeLabel(GroupBoxAnalogOut, "LabelAnalogOutTime", QStringLiteral("Time:"),
                                   146, 24, 36, kRowHeight);
    ComboBoxAnalogOutTime =
        MakeList(GroupBoxAnalogOut, "ComboBoxAnalogOutTime", 182, 24, w - 186, kRowHeight);

    // Interface configuration: the scanner's own address and mask, and the
    // destination of the UDP result stream.
    GroupBoxInterface = MakeGroup(page, "GroupBoxInterface",
                                  QStringLiteral("Interface configuration:"), kMargin, 340, w, 170);
    {
        const int iw = w - 8;
        const int x0 = 50;
        GroupBoxEthernrt = MakeGroup(GroupBoxInterface, "GroupBoxEthernrt",
                                     QStringLiteral("Network:"), 4, 16, iw, 70);
        MakeLabel(GroupBoxEthernrt, "LabelInterfaceIP", QStringLiteral("IP:"), 8, 18, 40, 21);
        MakeLabel(GroupBoxEthernrt, "LabelInterfaceMask", QStringLiteral("Mask:"), 8, 43, 40, 21);
        QLineEdit **ip[4] = {&EditInterfaceIP0, &EditInterfaceIP1, &EditInterfaceIP2,
                             &EditInterfaceIP3};
        QLineEdit **mask[4] = {&EditInterfaceMask0, &EditInterfaceMask1, &EditInterfaceMask2,
                               &EditInterfaceMask3};
        const char *ipNames[4] = {"EditInterfaceIP0", "EditInterfaceIP1", "EditInterfaceIP2",
                                  "EditInterfaceIP3"};
        const char *maskNames[4] = {"EditInterfaceMask0", "EditInterfaceMask1",
                                    "EditInterfaceMask2", "EditInterfaceMask3"};
        for (int i = 0; i < 4; ++i) {
            *ip[i] = MakeEdit(GroupBoxEthernrt, ipNames[i], "0", 3, x0 + i * kEditPitch, 18,
                              kEditWidth, 21);
            *mask[i] = MakeEdit(GroupBoxEthernrt, maskNames[i], "0", 3, x0 + i * kEditPitch, 43,
                                kEditWidth, 21);
        }

        GroupBoxUDP =
            MakeGroup(GroupBoxInterface, "GroupBoxUDP", QStringLiteral("UDP:"), 4, 88, iw, 76);
        MakeLabel(GroupBoxUDP, "LabelUDPIP", QStringLiteral("IP:"), 8, 18, 40, 21);
        QLineEdit **udp[4] = {&EditUDPIP0, &EditUDPIP1, &EditUDPIP2, &EditUDPIP3};
        const char *udpNames[4] = {"EditUDPIP0", "EditUDPIP1", "EditUDPIP2", "EditUDPIP3"};
        for (int i = 0; i < 4; ++i)
            *udp[i] = MakeEdit(GroupBoxUDP, udpNames[i], "255", 3, x0 + i * kEditPitch, 18,
                               kEditWidth, 21);
        MakeLabel(GroupBoxUDP, "LabelUDPPort", QStringLiteral("Port:"), 8, 45, 40, 21);
        EditUDPPort = MakeEdit(GroupBoxUDP, "EditUDPPort", "6003", 5, x0, 45, 48, 21);
        MakeLabel(GroupBoxUDP, "LabelUDPFrequency", QStringLiteral("Frequency:"), 106, 45, 60, 21);
        ComboBoxUDPFrequency = MakeList(GroupBoxUDP, "ComboBoxUDPFrequency", 166, 45, iw - 172, 21);
    }

    // The four buttons of the whole area.
    {
        const int bw = (w - 4) / 2;
        ButtonReadCfg =
            MakeButton<QPushButton>(page, "ButtonReadCfg", QStringLiteral("Read config area"),
                                    kMargin, 512, bw, kButtonHeight);
        ButtonWriteCfg =
            MakeButton<QPushButton>(page, "ButtonWriteCfg", QStringLiteral("Wtite config area"),
                                    kMargin + bw + 4, 512, bw, kButtonHeight);
        ButtonFlushCfg =
            MakeButton<QPushButton>(page, "ButtonFlushCfg", QStringLiteral("Flush config area"),
                                    kMargin, 536, bw, kButtonHeight);
        ButtonDefaultCfg =
            MakeButton<QPushButton>(page, "ButtonDefaultCfg", QStringLiteral("Default config area"),
                                    kMargin + bw + 4, 536, bw, kButtonHeight);
    }

    // Track bars run their step on every change of position, by the user or
    // by the program; check marks, radio buttons and lists only on a user's
    // click or pick.
    connect(TrackBarLaser, &QSlider::valueChanged, this, &TFormMain::TrackBarLaserChange);
    connect(TrackBarIntegration, &QSlider::valueChanged, this,
            &TFormMain::TrackBarIntegrationChange);
    connect(TrackBarAngle, &QSlider::valueChanged, this, &TFormMain::TrackBarAngleChange);
    connect(ButtonAngleReset, &QPushButton::clicked, this, &TFormMain::ButtonAngleResetClick);
    connect(ButtonAngleCalc, &QPushButton::clicked, this, &TFormMain::ButtonAngleCalcClick);
    connect(ButtonAngleApply, &QPushButton::clicked, this, &TFormMain::ButtonAngleApplyClick);

    connect(CheckBoxResultSyncEnable, &QCheckBox::clicked, this,
            &TFormMain::CheckBoxResultSyncEnableClick);
    connect(RadioButtonResultSyncRising, &QRadioButton::clicked, this,
            &TFormMain::RadioButtonResultSyncRisingClick);
    connect(RadioButtonResultSyncFalling, &QRadioButton::clicked, this,
            &TFormMain::RadioButtonResultSyncRisingClick);
    connect(CheckBoxMeasureSyncEnable, &QCheckBox::clicked, this,
            &TFormMain::CheckBoxMeasureSyncEnableClick);
    connect(RadioButtonMeasureSyncRising, &QRadioButton::clicked, this,
            &TFormMain::RadioButtonMeasureSyncRisingClick);
    connect(RadioButtonMeasureSyncFalling, &QRadioButton::clicked, this,
            &TFormMain::RadioButtonMeasureSyncRisingClick);
    connect(CheckBoxAnalogSyncEnable, &QCheckBox::clicked, this,
            &TFormMain::CheckBoxAnalogSyncEnableClick);
    connect(RadioButtonAnalogSyncRising, &QRadioButton::clicked, this,
            &TFormMain::RadioButtonAnalogSyncRisingClick);
    connect(RadioButtonAnalogSyncFalling, &QRadioButton::clicked, this,
            &TFormMain::RadioButtonAnalogSyncRisingClick);
    connect(CheckBoxAnalogSyncLevel, &QCheckBox::clicked, this,
            &TFormMain::CheckBoxAnalogSyncLevelClick);

    connect(ComboBoxSyncDivider, &QComboBox::activated, this,
            &TFormMain::ComboBoxSyncDividerChange);
    connect(ComboBoxSyncDelay, &QComboBox::activated, this, &TFormMain::ComboBoxSyncDelayChange);
    connect(ComboBoxAnalogOutPoints, &QComboBox::activated, this,
            &TFormMain::ComboBoxAnalogOutPointsChange);
    connect(ComboBoxAnalogOutTime, &QComboBox::activated, this,
            &TFormMain::ComboBoxAnalogOutTimeChange);
    connect(ComboBoxUDPFrequency, &QComboBox::activated, this,
            &TFormMain::ComboBoxUDPFrequencyChange);

    const struct {
        QLineEdit *edit;
        std::size_t byte;
    } addressEdits[] = {
        {EditInterfaceIP0, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetAddress, 0)},
        {EditInterfaceIP1, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetAddress, 1)},
        {EditInterfaceIP2, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetAddress, 2)},
        {EditInterfaceIP3, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetAddress, 3)},
        {EditInterfaceMask0, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetMask, 0)},
        {EditInterfaceMask1, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetMask, 1)},
        {EditInterfaceMask2, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetMask, 2)},
        {EditInterfaceMask3, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kNetMask, 3)},
        {EditUDPIP0, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kUdpAddress, 0)},
        {EditUDPIP1, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kUdpAddress, 1)},
        {EditUDPIP2, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kUdpAddress, 2)},
        {EditUDPIP3, qz417::ConfigArea::octetOffset(qz417::ConfigArea::kUdpAddress, 3)},
    };
    for (const auto &a : addressEdits) {
        QLineEdit *edit = a.edit;
        const int byte = static_cast<int>(a.byte);
        OnFocusExit(edit, [this, edit, byte] { EditAddressExit(edit, byte); });
    }
    OnFocusExit(EditUDPPort, [this] { EditUDPPortExit(); });

    connect(ButtonReadCfg, &QPushButton::clicked, this, &TFormMain::ButtonReadCfgClick);
    connect(ButtonWriteCfg, &QPushButton::clicked, this, &TFormMain::ButtonWriteCfgClick);
    connect(ButtonFlushCfg, &QPushButton::clicked, this, &TFormMain::ButtonFlushCfgClick);
    connect(ButtonDefaultCfg, &QPushButton::clicked, this, &TFormMain::ButtonDefaultCfgClick);
}

void TFormMain::FillParameterLists() {
    FillList(ComboBoxUDPFrequency, qz417::UdpFrequencyItems(), 0);
    FillList(ComboBoxAnalogOutPoints, qz417::AnalogOutPointsItems(), -1);
    FillList(ComboBoxAnalogOutTime, qz417::AnalogOutTimeItems(), -1);
    FillList(ComboBoxSyncDivider, qz417::SyncDividerItems(), -1);
    FillList(ComboBoxSyncDelay, qz417::SyncDelayItems(), -1);
}
