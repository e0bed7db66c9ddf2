#include "recording/record_controls.h"

#include "recording/save_folder.h"

#include <QComboBox>
#include <QDateTime>

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <algorithm>

namespace qz417 {

namespace {

QString SizeText(std::uint64_t bytes) {
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 kB").arg(static_cast<double>(bytes) / 1024.0, 0, 'f', 0);
    if (bytes < 1024ull * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0), 0, 'f',
                                           1);
    return QStringLiteral("%1 GB").arg(static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0), 0,
                                       'f', 2);
}

// Asks for the file and the limit; false when cancelled.
bool AskRecording(QWidget *parent, QString *path, recording::RecordingLimits *limits) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Record profiles"));
    auto *form = new QFormLayout(&dialog);
    auto *pathEdit = new QLineEdit(&dialog);
    pathEdit->setText(QDir(DefaultSaveFolder())
                          .filePath(QStringLiteral("profiles-%1.h5")
                                        .arg(QDateTime::currentDateTime().toString(
                                            QStringLiteral("yyyyMMdd-HHmmss")))));
    pathEdit->setMinimumWidth(360);
    auto *browse = new QPushButton(QStringLiteral("Browse..."), &dialog);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(pathEdit);
    pathRow->addWidget(browse);
    form->addRow(QStringLiteral("File:"), pathRow);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, pathEdit] {
        const QString chosen = QFileDialog::getSaveFileName(
            &dialog, QStringLiteral("Record profiles to"), pathEdit->text(),
            QStringLiteral("Recordings (*.h5 *.qzrec);;All files (*)"));
        if (!chosen.isEmpty())
            pathEdit->setText(chosen);
    });
    auto *kind = new QComboBox(&dialog);
    kind->addItems({QStringLiteral("No limit"), QStringLiteral("Seconds"),
                    QStringLiteral("Profiles"), QStringLiteral("Megabytes")});
    auto *value = new QSpinBox(&dialog);
    value->setRange(1, 1000000000);
    value->setValue(60);
    value->setEnabled(false);
    QObject::connect(kind, &QComboBox::currentIndexChanged, value,
                     [value](int index) { value->setEnabled(index != 0); });
    auto *limitRow = new QHBoxLayout;
    limitRow->addWidget(kind);
    limitRow->addWidget(value);
    form->addRow(QStringLiteral("Stop after:"), limitRow);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || pathEdit->text().trimmed().isEmpty())
        return false;
    *path = pathEdit->text().trimmed();
    *limits = {};
    const auto n = static_cast<std::uint64_t>(value->value());
    switch (kind->currentIndex()) {
    case 1:
        limits->seconds = static_cast<double>(n);
        break;
    case 2:
        limits->profiles = n;
        break;
    case 3:
        limits->bytes = n * 1024 * 1024;
        break;
    default:
        break;
    }
    return true;
}

} // namespace

RecordControls::RecordControls(QWidget *page, const char *name, int statusX, int buttonX, int top,
                               std::shared_ptr<ProfileSource> source, HeaderSource header)
    : QObject(page), source_(std::move(source)), header_(std::move(header)) {
    setObjectName(QString::fromLatin1(name));
    button_ = new QPushButton(QStringLiteral("Record"), page);
    button_->setObjectName(QString::fromLatin1(name) + QStringLiteral("Button"));
    button_->setGeometry(buttonX, top, 84, 25);
    status_ = new QLabel(page);
    status_->setObjectName(QString::fromLatin1(name) + QStringLiteral("Status"));
    status_->setGeometry(statusX, top - 2, buttonX - statusX - 4, 29);
    QFont small = status_->font();
    if (small.pixelSize() > 0)
        small.setPixelSize(std::max(8, small.pixelSize() * 85 / 100));
    else
        small.setPointSizeF(small.pointSizeF() * 0.85);
    status_->setFont(small);
    status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(button_, &QPushButton::clicked, this, &RecordControls::ButtonClick);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &RecordControls::Refresh);
}

void RecordControls::SetComputerDrops(std::function<std::optional<std::uint64_t>()> drops) {
    computerDrops_ = std::move(drops);
    // Room for a third line: the same bottom, a line higher.
    const QRect g = status_->geometry();
    const int line = QFontMetrics(status_->font()).lineSpacing();
    status_->setGeometry(g.x(), g.y() - (line - 6), g.width(), g.height() + (line - 6));
}

RecordControls::~RecordControls() {
    recorder_.StopAndWait();
}

void RecordControls::NoteParameterBlock(const recording::ParameterBlock &block,
                                        std::int64_t wallNs) {
    if (recorder_.Running())
        recorder_.PushParameterBlock(block, wallNs);
}

bool RecordControls::Recording() const {
    return recorder_.Status().state == recording::RecorderState::Recording;
}

void RecordControls::ButtonClick() {
    if (running_) {
        StopRecording();
        return;
    }
    if (Recording())
        return; // the last file is still being finished
    QString path;
    recording::RecordingLimits limits;
    if (AskRecording(button_->window(), &path, &limits))
        StartRecording(path, limits);
}

bool RecordControls::StartRecording(const QString &path, const recording::RecordingLimits &limits) {
    recording::RecorderSettings settings;
    settings.path = QFile::encodeName(path).toStdString();
    if (header_)
        settings.header = header_();
    settings.header.software = "qz417setup";
    settings.limits = limits;
    settings.job = MeasureJob();
    std::string error;
    if (!recorder_.Start(source_, settings, &error)) {
        ShowMessage(
            QStringLiteral("The recording could not start: %1").arg(QString::fromStdString(error)));
        return false;
    }
    running_ = true;
    dropsAtStart_ = computerDrops_ ? computerDrops_() : std::nullopt;
    lastMessage_.clear();
    button_->setText(QStringLiteral("Stop rec."));
    status_->setToolTip(path);
    Refresh();
    timer_.start();
    return true;
}

void RecordControls::StopRecording() {
    recorder_.Stop();
    Refresh();
}

QString RecordControls::StatusText(const recording::RecorderStatus &s,
                                   std::optional<std::uint64_t> computerDrops) {
    const auto seconds = static_cast<long long>(s.elapsedSeconds);
    const QString elapsed = QStringLiteral("%1:%2:%3")
                                .arg(seconds / 3600)
                                .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
                                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    QString text = QStringLiteral("%1  %2 prof.  %3\nlost %4  dropped %5")
                       .arg(s.finishing ? QStringLiteral("Finishing...") : elapsed)
                       .arg(s.written)
                       .arg(SizeText(s.bytes))
                       .arg(s.lost)
                       .arg(s.dropped);
    if (computerDrops) {
        const std::uint64_t computer = std::min(*computerDrops, s.lost);
        text +=
            QStringLiteral("\nnetwork %1  this computer %2").arg(s.lost - computer).arg(computer);
    }
    return text;
}

void RecordControls::Refresh() {
    const recording::RecorderStatus s = recorder_.Status();
    std::optional<std::uint64_t> drops;
    if (computerDrops_ && running_) {
        // Counted from the start of the recording; a socket opened later
        // (the stream started or restarted meanwhile) counts from 0.
        const std::optional<std::uint64_t> now = computerDrops_();
        if (now) {
            if (!dropsAtStart_ || *now < *dropsAtStart_)
                dropsAtStart_ = dropsAtStart_ ? 0 : *now;
            drops = *now - *dropsAtStart_;
        }
    }
    status_->setText(StatusText(s, drops));
    if (!running_)
        return;
    if (s.state == recording::RecorderState::Recording) {
        // "Stop rec." pressed: the file is being finished; the button
        // returns once it is closed.
        if (s.finishing) {
            button_->setText(QStringLiteral("Record"));
            button_->setEnabled(false);
        }
        return;
    }
    // Ended: by the user, a limit or an error. What was written stays.
    running_ = false;
    timer_.stop();
    recorder_.Stop(); // releases the subscription of a recording that ended by itself
    button_->setText(QStringLiteral("Record"));
    button_->setEnabled(true);
    if (s.state == recording::RecorderState::Failed) {
        ShowMessage(QStringLiteral("The recording stopped: %1\n%2 profiles were written to %3.")
                        .arg(QString::fromStdString(s.error))
                        .arg(s.written)
                        .arg(QString::fromStdString(s.path)));
    } else if (s.reason != recording::StopReason::Requested) {
        lastMessage_ = QString::fromLatin1(recording::StopReasonText(s.reason));
        status_->setToolTip(lastMessage_);
    }
}

void RecordControls::SetMeasureJob(std::uint64_t version, std::shared_ptr<const measure::Job> job) {
    if (version == jobVersion_)
        return;
    jobVersion_ = version;
    job_ = std::move(job);
    // The job run on the source changed (or stopped): a recording taking
    // profiles stores the new one's results from the next profile on. A
    // recording that ended by itself or is being finished ignores it.
    if (recorder_.Running())
        recorder_.SetJob(MeasureJob());
}

std::optional<measure::Job> RecordControls::MeasureJob() const {
    if (job_ == nullptr || job_->tools.empty())
        return std::nullopt;
    return *job_;
}

void RecordControls::ShowMessage(const QString &text) {
    lastMessage_ = text;
    status_->setToolTip(text);
    emit messageShown(text);
    // Not modal: acquisition and the view timer keep running.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Recording"), text,
                                QMessageBox::Ok, button_->window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("RecordingMessage"));
    box->open();
}

} // namespace qz417
