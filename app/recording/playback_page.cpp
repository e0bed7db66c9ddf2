#include "recording/playback_page.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>
#include <QStringList>

#include "model/device_description.h"
#include "recording/export_controls.h"
#include "widgets/profile_chart.h"

namespace qz417 {

namespace {

constexpr int kPanelWidth = 640;
// The chart's panel, and two lines of the recorded description below it,
// above the counters.
constexpr int kPanelHeight = 476;
constexpr int kDescriptionTop = kPanelHeight + 2;
constexpr int kRowsTop = 512;
constexpr int kBevel = 2;
constexpr int kRefreshMs = 16;

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, int x, int y, int w) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, y, w, 16);
    return label;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &text, int x, int y,
                        int w) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, w, 25);
    return button;
}

// The recorded description in two lines; every row of the "Information"
// page's layout in the tooltip.
void ShowDescription(QLabel *label, const std::optional<recording::Announcement> &a,
                     const ProfileScale &scale) {
    if (!a) {
        label->setText(
            QStringLiteral("The recording holds no device description: scale %1/%2/%3/%4 assumed.")
                .arg(scale.rangeXEmr)
                .arg(scale.rangeZ)
                .arg(scale.discreteValue)
                .arg(scale.errorValue));
        label->setToolTip(QString());
        return;
    }
    const DeviceDescription d = DecodeDescription(a->data() + 12);
    label->setText(
        QStringLiteral("Recorded device: serial number %1, %2, firmware %3.\n"
                       "Base %4 mm, range of Z %5 mm, range of X %6 mm (SMR) / %7 mm (EMR), "
                       "discrete value %8, error value %9.")
            .arg(d.serialNumber)
            .arg((d.modification & 0x02u) != 0 ? QStringLiteral("Ethernet")
                                               : QStringLiteral("rs485"))
            .arg(d.firmwareVersion)
            .arg(d.baseDistance)
            .arg(d.rangeZ)
            .arg(d.rangeXSmr)
            .arg(d.rangeXEmr)
            .arg(d.discreteValue)
            .arg(d.errorValue));
    QStringList rows;
    for (const std::string &row : DescriptionRows(d))
        rows << QString::fromStdString(row);
    label->setToolTip(rows.join(QLatin1Char('\n')));
}

} // namespace

PlaybackPage::PlaybackPage(QWidget *parent, std::shared_ptr<ProfileSource> source)
    : QWidget(parent), player_(std::move(source)) {
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("PanelPlayback"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(kBevel);
    panel->setGeometry(0, 0, kPanelWidth, kPanelHeight);
    chart_ = new ProfileChart(panel, QStringLiteral("SeriesPlayback"));
    chart_->setObjectName(QStringLiteral("ChartPlayback"));
    chart_->setGeometry(kBevel, kBevel, kPanelWidth - 2 * kBevel, kPanelHeight - 2 * kBevel);

    description_ = new QLabel(this);
    description_->setObjectName(QStringLiteral("LabelPlaybackDescription"));
    description_->setGeometry(4, kDescriptionTop, kPanelWidth - 8, kRowsTop - kDescriptionTop);
    description_->setWordWrap(false);

    constexpr int kRow1 = kRowsTop + 4;
    MakeLabel(this, "LabelPlaybackCntTitle", QStringLiteral("Profiles counter:"), 4, kRow1, 110);
    counter_ = MakeLabel(this, "LabelPlaybackCnt", QStringLiteral("0"), 116, kRow1, 60);
    MakeLabel(this, "LabelPlaybackPerSecTitle", QStringLiteral("Profiles per sec.:"), 180, kRow1,
              110);
    rate_ = MakeLabel(this, "LabelPlaybackPerSec", QStringLiteral("0"), 292, kRow1, 60);
    position_ =
        MakeLabel(this, "LabelPlaybackPosition", QStringLiteral("No recording"), 356, kRow1, 280);
    position_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("SliderPlayback"));
    slider_->setGeometry(4, kRow1 + 17, 632, 16);
    slider_->setEnabled(false);

    constexpr int kRow3 = kRow1 + 34;
    open_ = MakeButton(this, "ButtonPlaybackOpen", QStringLiteral("Open..."), 4, kRow3, 76);
    play_ = MakeButton(this, "ButtonPlaybackPlay", QStringLiteral("Play"), 84, kRow3, 64);
    back_ = MakeButton(this, "ButtonPlaybackBack", QStringLiteral("<"), 152, kRow3, 30);
    forward_ = MakeButton(this, "ButtonPlaybackForward", QStringLiteral(">"), 186, kRow3, 30);
    speed_ = new QComboBox(this);
    speed_->setObjectName(QStringLiteral("ComboBoxPlaybackSpeed"));
    speed_->addItems({QStringLiteral("Real time"), QStringLiteral("2x"), QStringLiteral("10x"),
                      QStringLiteral("As fast as possible")});
    speed_->setGeometry(222, kRow3 + 1, 140, 23);
    file_ = MakeLabel(this, "LabelPlaybackFile", QString(), 368, kRow3 + 4, 188);
    export_ = new ExportControls(this, QRect(560, kRow3, 76, 25), [this] {
        return ExportSource{recordingPath_, player_.profiles(), player_.shown()};
    });
    for (QWidget *w : {static_cast<QWidget *>(play_), static_cast<QWidget *>(back_),
                       static_cast<QWidget *>(forward_)})
        w->setEnabled(false);

    connect(open_, &QPushButton::clicked, this, &PlaybackPage::OpenClick);
    connect(play_, &QPushButton::clicked, this, &PlaybackPage::PlayClick);
    connect(back_, &QPushButton::clicked, this, [this] {
        player_.Step(-1);
        Refresh();
    });
    connect(forward_, &QPushButton::clicked, this, [this] {
        player_.Step(1);
        Refresh();
    });
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (slider_->isSliderDown() || !player_.Playing()) {
            player_.Seek(static_cast<std::uint64_t>(value));
            Refresh();
        }
    });
    connect(speed_, &QComboBox::currentIndexChanged, this, &PlaybackPage::SpeedChanged);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &PlaybackPage::Refresh);
}

PlaybackPage::~PlaybackPage() {
    player_.Close();
}

void PlaybackPage::OpenClick() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open a recording"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
        QStringLiteral("Recordings (*.h5 *.qzrec);;All files (*)"));
    if (!path.isEmpty())
        OpenRecording(path);
}

bool PlaybackPage::OpenRecording(const QString &path) {
    std::string error;
    const bool opened = player_.Open(QFile::encodeName(path).toStdString(), &error);
    recordingPath_ = opened ? path : QString();
    export_->Update();
    if (!opened) {
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Playback"),
                                    QStringLiteral("The recording could not be opened: %1")
                                        .arg(QString::fromStdString(error)),
                                    QMessageBox::Ok, window());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    player_.SetSpeed(std::array<double, 4>{
        1, 2, 10, 0}[static_cast<std::size_t>(std::clamp(speed_->currentIndex(), 0, 3))]);
    file_->setText(QFileInfo(path).fileName());
    file_->setToolTip(path);
    const ProfileScale scale = player_.scale();
    // The recorded description stays on this page: the "Information" page
    // and the scale belong to the connected scanner.
    if (const auto &a = player_.announcement())
        chart_->SetTitle(DecodeDescription(a->data() + 12).serialNumber);
    ShowDescription(description_, player_.announcement(), scale);
    const double xHalf = scale.rangeXEmr * 1.05 * 0.5;
    chart_->SetAxisRanges(-xHalf, xHalf, 0.0, scale.rangeZ * 1.05);
    {
        const QSignalBlocker block(slider_);
        slider_->setRange(0, static_cast<int>(std::max<std::uint64_t>(player_.profiles(), 1) - 1));
        slider_->setValue(0);
    }
    const bool any = player_.profiles() > 0;
    slider_->setEnabled(any);
    play_->setEnabled(any);
    back_->setEnabled(any);
    forward_->setEnabled(any);
    play_->setText(QStringLiteral("Play"));
    drawn_ = -1;
    plotted_ = 0;
    rateMark_ = 0;
    rateClock_.start();
    if (any)
        player_.Step(1); // the first profile
    timer_.start();
    Refresh();
    return true;
}

void PlaybackPage::PlayClick() {
    if (player_.Playing())
        player_.Pause();
    else
        player_.Play();
    Refresh();
}

void PlaybackPage::SpeedChanged(int index) {
    static constexpr double kSpeeds[] = {1, 2, 10, 0};
    player_.SetSpeed(kSpeeds[std::clamp(index, 0, 3)]);
}

void PlaybackPage::Refresh() {
    if (!player_.IsOpen())
        return;
    std::array<std::uint8_t, kProfilePacketSize> packet;
    std::int64_t index = -1;
    const bool any = player_.Current(packet, &index);
    if (any && index != drawn_) {
        chart_->PlotProfile(packet.data(), player_.scale());
        drawn_ = index;
        ++plotted_;
    }
    // The shown profile's own counter, as the live pages show the live
    // packet's.
    if (any)
        counter_->setText(QString::number(ProfilePacket(packet.data()).measurementCount()));
    const std::uint64_t pushed = player_.pushed();
    if (rateClock_.elapsed() >= 1000) {
        const double seconds = static_cast<double>(rateClock_.restart()) / 1000.0;
        rate_->setText(QString::number(
            static_cast<std::uint64_t>(static_cast<double>(pushed - rateMark_) / seconds)));
        rateMark_ = pushed;
    }
    const std::string error = player_.error();
    position_->setText(
        error.empty() ? QStringLiteral("Profile %1 of %2").arg(index + 1).arg(player_.profiles())
                      : QStringLiteral("Profile %1 of %2: unreadable")
                            .arg(index + 2)
                            .arg(player_.profiles()));
    position_->setToolTip(QString::fromStdString(error));
    if (!slider_->isSliderDown() && index >= 0) {
        const QSignalBlocker block(slider_);
        slider_->setValue(static_cast<int>(index));
    }
    play_->setText(player_.Playing() ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

} // namespace qz417
