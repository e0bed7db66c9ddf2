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
    // window, validated, and its version (a new one with each change; null:
    // none runs). A recording stores the results of the job in force for
    // every profile it writes, measured on the recorder's writer thread: the
    // job at the start, and a new version from the next profile taken after
    // this call. The version seen last again changes nothing.
    void SetMeasureJob(std::uint64_t version, std::shared_ptr<const measure::Job> job);

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
    // A copy of the job in force for the recorder (none without tools).
    std::optional<measure::Job> MeasureJob() const;

    std::uint64_t jobVersion_ = 0; // of the job in force (0: none handed yet)
    std::shared_ptr<const measure::Job> job_;
    std::optional<std::uint64_t> dropsAtStart_;
};

} // namespace qz417
