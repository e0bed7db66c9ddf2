// The Record button and its status beside the existing controls of a page
// ("Result viewer", "UDP"): records every profile of the source the page is
// bound to (its worker's), with a limit by duration, count or size. "Stop
// rec." returns at once; the status shows "Finishing..." until the file is
// closed, then the final figures.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/measure/job.h"
#include "recording/source_recorder.h"

class QLabel;
class QPushButton;
class QWidget;

namespace qz417 {

class RecordControls : public QObject {
    Q_OBJECT

public:
    // What the file notes before its first profile: the announcement and
    // the parameter block in force.
    using HeaderSource = std::function<recording::RecordingHeader()>;

    static constexpr int kRefreshMs = 250;

    // Puts the button at (buttonX, top) and the status at its left, from
    // statusX, on `page`.
    RecordControls(QWidget *page, const char *name, int statusX, int buttonX, int top,
                   std::shared_ptr<ProfileSource> source, HeaderSource header);
    ~RecordControls() override;

    // Starts recording to `path`; false (and a message) when it cannot.
    bool StartRecording(const QString &path, const recording::RecordingLimits &limits);
    // Stops taking profiles and returns; the file is finished in the
    // background.
    void StopRecording();
    // From Start until the file is closed (also while finishing).
    bool Recording() const;
    // A parameter block written to the scanner at wallNs: the running
    // recording notes it before the profiles that follow. Ignored when not
    // recording.
    void NoteParameterBlock(const recording::ParameterBlock &block, std::int64_t wallNs);
    recording::RecorderStatus Status() const { return recorder_.Status(); }

    QPushButton *button() const { return button_; }
    QLabel *statusLabel() const { return status_; }
    // The last error or end message shown to the user (empty if none).
    const QString &lastMessage() const { return lastMessage_; }

    // The measurement job run on this control's source elsewhere in the
    // window (none: none runs). A recording stores the results of that job
    // for every profile it writes, measured on the recorder's writer
    // thread: taken at the start and looked at again on each refresh, so a
    // changed job applies from the next profile taken after the refresh.
    using JobSource = std::function<std::optional<measure::Job>()>;
    void SetJobSource(JobSource jobs) { jobSource_ = std::move(jobs); }

    // The datagrams this computer dropped for a full receive buffer so far
    // (empty: unknown); the status then tells them apart from the network's.
    // The status grows upwards by a line's height for it.
    void SetComputerDrops(std::function<std::optional<std::uint64_t>()> drops);

    // The status text of a recording: elapsed time, profiles, size, lost and
    // dropped profiles; with the computer's drops during the recording known,
    // a third line: lost by the network, dropped by this computer.
    static QString StatusText(const recording::RecorderStatus &status,
                              std::optional<std::uint64_t> computerDrops = std::nullopt);

signals:
    void messageShown(const QString &text);

private:
    void ButtonClick();
    void Refresh();
    void ShowMessage(const QString &text);

    QPushButton *button_ = nullptr;
    QLabel *status_ = nullptr;
    std::shared_ptr<ProfileSource> source_;
    HeaderSource header_;
    SourceRecorder recorder_;
    QTimer timer_;
    bool running_ = false; // as the button shows it
    QString lastMessage_;
    std::function<std::optional<std::uint64_t>()> computerDrops_;
    JobSource jobSource_;
    std::string jobText_; // the job handed to the running recording, as JSON ("" none)
    std::optional<std::uint64_t> dropsAtStart_;
};

} // namespace qz417
