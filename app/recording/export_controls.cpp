#include "recording/export_controls.h"

#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QWidget>

namespace qz417 {

namespace {

// "1 profile", "2 profiles", "0 points".
QString Counted(std::uint64_t count, const char *noun) {
    return QStringLiteral("%1 %2%3")
        .arg(count)
        .arg(QLatin1String(noun))
        .arg(count == 1 ? QString() : QStringLiteral("s"));
}

constexpr int kProgressSteps = 1000;

} // namespace

ExportControls::ExportControls(QWidget *page, const QRect &geometry, SourceFn source)
    : QObject(page), source_(std::move(source)) {
    setObjectName(QStringLiteral("PlaybackExport"));
    button_ = new QPushButton(QStringLiteral("Export..."), page);
    button_->setObjectName(QStringLiteral("ButtonPlaybackExport"));
    button_->setGeometry(geometry);
    button_->setEnabled(false);
    connect(button_, &QPushButton::clicked, this, [this] { OpenDialog(); });
    connect(&job_, &ExportJob::finished, this, &ExportControls::Finished);
    timer_.setInterval(kProgressMs);
    connect(&timer_, &QTimer::timeout, this, &ExportControls::RefreshProgress);
}

ExportControls::~ExportControls() {
    job_.Cancel(); // the job's destructor waits for its thread
}

void ExportControls::Update() {
    button_->setEnabled(source_().profiles > 0 && !job_.Running());
}

ExportDialog *ExportControls::OpenDialog() {
    auto *dialog = new ExportDialog(button_->window(), source_());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this,
            [this, dialog] { StartExport(dialog->request(), dialog->path()); });
    dialog->open();
    return dialog;
}

bool ExportControls::StartExport(const recording::ExportRequest &request, const QString &path) {
    const ExportSource source = source_();
    std::string problem = recording::ExportRequestProblem(
        request, source.profiles, QFile::encodeName(source.recordingPath).toStdString());
    if (problem.empty() && path.trimmed().isEmpty())
        problem = "no file to write";
    if (problem.empty() && job_.Running())
        problem = "an export is running";
    if (!problem.empty()) {
        ShowMessage(QMessageBox::Critical,
                    QStringLiteral("Cannot export: %1.").arg(QString::fromStdString(problem)));
        return false;
    }
    job_.Start(QFile::encodeName(source.recordingPath).toStdString(), request,
               QFile::encodeName(path).toStdString());
    lastMessage_.clear();
    button_->setEnabled(false);

    progress_ = new QProgressDialog(
        QStringLiteral("Exporting %1 to %2...").arg(Counted(request.count, "profile"), path),
        QStringLiteral("Cancel"), 0, kProgressSteps, button_->window());
    progress_->setObjectName(QStringLiteral("ExportProgress"));
    progress_->setWindowTitle(QStringLiteral("Export"));
    progress_->setWindowModality(Qt::NonModal); // playback goes on meanwhile
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setMinimumDuration(0);
    progress_->setAttribute(Qt::WA_DeleteOnClose);
    connect(progress_, &QProgressDialog::canceled, this, [this] { job_.Cancel(); });
    progress_->setValue(0);
    progress_->show();
    timer_.start();
    return true;
}

void ExportControls::RefreshProgress() {
    const std::uint64_t total = job_.total();
    if (progress_ && total > 0)
        progress_->setValue(static_cast<int>(job_.done() * kProgressSteps / total));
}

void ExportControls::Finished(const ExportOutcome &outcome) {
    timer_.stop();
    if (progress_) {
        // Closed without its canceled signal: the export is over.
        disconnect(progress_, &QProgressDialog::canceled, this, nullptr);
        progress_->close();
    }
    Update();
    const QString path = QFile::decodeName(outcome.outputPath.c_str());
    switch (outcome.status) {
    case ExportOutcome::Status::Done:
        ShowMessage(QMessageBox::Information,
                    QStringLiteral("%1 (%2) %3 exported to %4.")
                        .arg(Counted(outcome.profiles, "profile"), Counted(outcome.points, "point"),
                             outcome.profiles == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                             path));
        break;
    case ExportOutcome::Status::Cancelled:
        lastMessage_ =
            QStringLiteral("The export was cancelled; nothing was saved as %1.").arg(path);
        break;
    case ExportOutcome::Status::Failed:
        ShowMessage(QMessageBox::Critical,
                    QStringLiteral("The export failed: %1\nNothing was saved as %2.")
                        .arg(QString::fromStdString(outcome.message), path));
        break;
    }
    emit exportFinished(outcome);
}

void ExportControls::ShowMessage(QMessageBox::Icon icon, const QString &text) {
    lastMessage_ = text;
    // Not blocking: playback and the view timer keep running.
    auto *box =
        new QMessageBox(icon, QStringLiteral("QZ417-SP"), text, QMessageBox::Ok, button_->window());
    box->setObjectName(QStringLiteral("ExportMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace qz417
