#include "recording/export_job.h"

#include <pthread.h>
#include <signal.h>

#include <exception>

#include "model/recording/recording_file.h"

namespace qz417 {

ExportJob::ExportJob(QObject *parent) : QObject(parent) {}

ExportJob::~ExportJob() {
    cancel_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool ExportJob::Start(const std::string &recordingPath, const recording::ExportRequest &request,
                      const std::string &outputPath) {
    if (running_)
        return false;
    if (thread_.joinable())
        thread_.join();
    running_ = true;
    cancel_ = false;
    done_ = 0;
    total_ = 0;
    thread_ = std::thread([this, recordingPath, request, outputPath] {
        // Writing into a pipe whose reader went away fails with EPIPE
        // instead of ending the program.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        ExportOutcome outcome;
        outcome.outputPath = outputPath;
        try {
            recording::RecordingReader reader(recordingPath);
            const recording::ExportResult result = recording::ExportRecording(
                reader, request, outputPath, [this](std::uint64_t done, std::uint64_t total) {
                    done_ = done;
                    total_ = total;
                    return !cancel_.load();
                });
            outcome.status = ExportOutcome::Status::Done;
            outcome.profiles = result.profiles;
            outcome.points = result.points;
        } catch (const recording::ExportError &e) {
            outcome.status = e.kind() == recording::ExportError::Kind::Cancelled
                                 ? ExportOutcome::Status::Cancelled
                                 : ExportOutcome::Status::Failed;
            outcome.message = e.what();
        } catch (const std::exception &e) { // the recording could not be read, memory
            outcome.status = ExportOutcome::Status::Failed;
            outcome.message = e.what();
        }
        // Dropped by Qt when the job is gone by then.
        QMetaObject::invokeMethod(
            this, [this, outcome] { Finish(outcome); }, Qt::QueuedConnection);
    });
    return true;
}

void ExportJob::Finish(const ExportOutcome &outcome) {
    if (thread_.joinable())
        thread_.join(); // it has nothing left to do but return
    running_ = false;
    emit finished(outcome);
}

} // namespace qz417
