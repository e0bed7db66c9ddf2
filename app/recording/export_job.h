// One export of a recording's profiles (model/recording/recording_export.h)
// on a thread of its own, so that the window thread never waits for the
// disk. The worker opens its own RecordingReader (playback goes on with the
// player's), touches no widget, publishes its progress in two counters and
// hands its outcome to the window thread by value through a queued call.
#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "model/recording/recording_export.h"

namespace qz417 {

struct ExportOutcome {
    enum class Status { Done, Cancelled, Failed };
    Status status = Status::Failed;
    std::string message; // why it failed
    std::string outputPath;
    std::uint64_t profiles = 0;
    std::uint64_t points = 0;
};

class ExportJob : public QObject {
    Q_OBJECT

public:
    explicit ExportJob(QObject *parent = nullptr);
    ~ExportJob() override; // cancels a running export and waits for its thread

    // Starts exporting; false when an export is still running.
    bool Start(const std::string &recordingPath, const recording::ExportRequest &request,
               const std::string &outputPath);
    // Asks the running export to stop after its current batch.
    void Cancel() { cancel_ = true; }
    bool Running() const { return running_; }
    // Work done and the whole work, as the export last reported them.
    std::uint64_t done() const { return done_.load(); }
    std::uint64_t total() const { return total_.load(); }

signals:
    // On the window thread, once per Start.
    void finished(const qz417::ExportOutcome &outcome);

private:
    void Finish(const ExportOutcome &outcome);

    std::thread thread_;
    bool running_ = false; // window thread only
    std::atomic<bool> cancel_{false};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
};

} // namespace qz417
