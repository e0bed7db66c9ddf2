// The "Export..." button of the "Playback" page and what follows it: the
// dialog, the export on a thread of its own (ExportJob) with a progress
// window and its Cancel, and the message at the end. Playback goes on while
// an export runs; one export at a time.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>

#include "recording/export_dialog.h"
#include "recording/export_job.h"

class QProgressDialog;
class QPushButton;
class QWidget;

namespace qz417 {

class ExportControls : public QObject {
    Q_OBJECT

public:
    // The open recording, asked for when the button is clicked.
    using SourceFn = std::function<ExportSource()>;

    static constexpr int kProgressMs = 100;

    // Puts the button at `geometry` on `page`.
    ExportControls(QWidget *page, const QRect &geometry, SourceFn source);
    ~ExportControls() override;

    // Enables the button while a recording with profiles is open and no
    // export runs; the page calls it after opening a file.
    void Update();

    // Opens the dialog (not modal to the window); its "Export" starts the
    // export. Returns it, for tests.
    ExportDialog *OpenDialog();
    // Starts exporting profiles of the open recording to `path`; a request
    // the recording cannot satisfy gets a message and starts nothing (false).
    bool StartExport(const recording::ExportRequest &request, const QString &path);
    void CancelExport() { job_.Cancel(); }
    bool Exporting() const { return job_.Running(); }

    QPushButton *button() const { return button_; }
    QProgressDialog *progressDialog() const { return progress_; }
    // The message of the last export or refusal (empty before any).
    const QString &lastMessage() const { return lastMessage_; }

signals:
    // After each export ended, on the window thread.
    void exportFinished(const qz417::ExportOutcome &outcome);

private:
    void Finished(const ExportOutcome &outcome);
    void RefreshProgress();
    void ShowMessage(QMessageBox::Icon icon, const QString &text);

    QPushButton *button_ = nullptr;
    SourceFn source_;
    ExportJob job_;
    QTimer timer_;
    QPointer<QProgressDialog> progress_;
    QString lastMessage_;
};

} // namespace qz417
