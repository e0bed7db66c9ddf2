#include "model/recording/recording_writer_thread.h"

#include "model/recording/recorded_results.h"
#include "model/recording/recording_export.h"
#include "model/thread_weight.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

namespace qz417::recording {

namespace {
// Profiles appended in one call: a few megabytes, whole chunks of the file.
constexpr std::size_t kMaxBatch = 1024;
// Without an eventfd (the system refused one) the writer looks this often.
constexpr int kFallbackWaitMs = 1;
using Clock = std::chrono::steady_clock;

// CPU time of the calling thread (not the time it waited for a CPU).
std::int64_t ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}
} // namespace

const char *StopReasonText(StopReason reason) {
    switch (reason) {
    case StopReason::None:
        return "Recording";
    case StopReason::Requested:
        return "Stopped";
    case StopReason::DurationLimit:
        return "Duration limit reached";
    case StopReason::CountLimit:
        return "Profile limit reached";
    case StopReason::SizeLimit:
        return "Size limit reached";
    case StopReason::Error:
        return "Stopped by an error";
    }
    return "";
}

RecordingWriterThread::RecordingWriterThread() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

RecordingWriterThread::~RecordingWriterThread() {
    Stop();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void RecordingWriterThread::Wake() noexcept {
    if (wakeFd_ < 0)
        return;
    // Adds to the eventfd's counter; never blocks (a counter at its maximum
    // already wakes the writer).
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void RecordingWriterThread::WaitForWork(int timeoutMs) {
    if (wakeFd_ < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kFallbackWaitMs));
        return;
    }
    writerWaiting_.store(true);
    // Looked at after announcing the sleep: a packet published before this
    // is seen here, one published after it finds writerWaiting_ and wakes.
    if (head_.load() == tail_.load(std::memory_order_relaxed) && !stopRequested_.load()) {
        pollfd p{wakeFd_, POLLIN, 0};
        poll(&p, 1, timeoutMs);
    }
    writerWaiting_.store(false);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count); // clears it
}

bool RecordingWriterThread::Start(const RecorderSettings &settings, std::string *error) {
    auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    {
        std::lock_guard lock(mu_);
        if (state_ == RecorderState::Recording)
            return fail("a recording is already running");
    }
    if (thread_.joinable())
        thread_.join(); // a recording that ended by itself
    if (settings.queueCapacity == 0)
        return fail("the queue needs room for at least one profile");
    if (settings.job && !settings.job->tools.empty()) {
        try {
            measure::ValidateJob(*settings.job);
        } catch (const measure::JobError &e) {
            return fail(std::string("the measurement job: ") + e.what());
        }
    }

    try {
        writer_ = std::make_unique<RecordingWriter>(settings.path, settings.header);
    } catch (const RecordingError &e) {
        return fail(e.what());
    }
    if (capacity_ != settings.queueCapacity) {
        capacity_ = settings.queueCapacity;
        // Not initialised: pages are touched only as the ring fills.
        packets_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_ * kPacketSize);
        times_ = std::make_unique_for_overwrite<ReceiveTime[]>(capacity_);
    }
    limits_ = settings.limits;
    flushInterval_ = std::max(settings.flushInterval, std::chrono::milliseconds(1));
    maxProfiles_ = std::numeric_limits<std::uint64_t>::max();
    countReason_ = StopReason::None;
    if (limits_.profiles > 0) {
        maxProfiles_ = limits_.profiles;
        countReason_ = StopReason::CountLimit;
    }
    if (limits_.bytes > 0) {
        const std::uint64_t fit = std::max<std::uint64_t>(1, limits_.bytes / kBytesPerProfile);
        if (fit < maxProfiles_) {
            maxProfiles_ = fit;
            countReason_ = StopReason::SizeLimit;
        }
    }
    deadlineNs_ = 0;
    if (limits_.seconds > 0)
        deadlineNs_ =
            ReceiveTime::Now().monotonicNs + static_cast<std::int64_t>(limits_.seconds * 1e9);

    head_.store(0);
    tail_.store(0);
    received_.store(0);
    dropped_.store(0);
    lost_.store(0);
    outOfOrder_.store(0);
    restarts_.store(0);
    written_.store(0);
    stopRequested_.store(false);
    stream_ = StreamStats();
    measured_.store(0);
    unmeasured_.store(0);
    measureNs_.store(0);
    measurer_.reset();
    outputs_ = 0;
    scale_ = RecordedScale(settings.header.announcement);
    {
        std::lock_guard lock(mu_);
        pendingBlocks_.clear();
        pendingJobs_.clear();
        if (settings.job)
            pendingJobs_.push_back({settings.job, ReceiveTime::Now().wallNs, 0});
        state_ = RecorderState::Recording;
        reason_ = StopReason::None;
        path_ = settings.path;
        error_.clear();
        started_ = Clock::now();
    }
    accepting_.store(true, std::memory_order_release);
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool RecordingWriterThread::Push(const std::uint8_t *packet, const ReceiveTime &time) noexcept {
    if (!accepting_.load(std::memory_order_acquire))
        return false;
    // Announce this call before looking again, so that a writer that stops
    // accepting waits for it to publish or leave.
    pushing_.fetch_add(1);
    struct Leave {
        std::atomic<int> &n;
        ~Leave() { n.fetch_sub(1, std::memory_order_release); }
    } leave{pushing_};
    if (!accepting_.load())
        return false;
    if (deadlineNs_ != 0 && time.monotonicNs >= deadlineNs_)
        return false;
    const std::uint64_t h = head_.load(std::memory_order_relaxed);
    if (h >= maxProfiles_)
        return false;
    received_.fetch_add(1, std::memory_order_relaxed);
    stream_.ObservePacket(packet);
    const StreamCounts &counts = stream_.counts();
    lost_.store(counts.lost, std::memory_order_relaxed);
    outOfOrder_.store(OutOfOrder(counts), std::memory_order_relaxed);
    restarts_.store(counts.restarts, std::memory_order_relaxed);
    if (h - tail_.load(std::memory_order_acquire) >= capacity_) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const std::size_t slot = h % capacity_;
    std::memcpy(packets_.get() + slot * kPacketSize, packet, kPacketSize);
    times_[slot] = time;
    // Sequentially consistent, as the writer's announcement of its sleep and
    // its look at head_: either the writer sees this packet before it
    // sleeps, or this sees that it sleeps and wakes it.
    head_.store(h + 1);
    if (writerWaiting_.load() && writerWaiting_.exchange(false))
        Wake();
    return true;
}

void RecordingWriterThread::PushParameterBlock(const ParameterBlock &block, std::int64_t wallNs) {
    std::lock_guard lock(mu_);
    if (state_ != RecorderState::Recording)
        return;
    pendingBlocks_.push_back({block, wallNs, head_.load(std::memory_order_acquire)});
}

void RecordingWriterThread::SetJob(std::optional<measure::Job> job) {
    if (job && !job->tools.empty())
        measure::ValidateJob(*job);
    const std::int64_t wallNs = ReceiveTime::Now().wallNs;
    std::lock_guard lock(mu_);
    if (state_ != RecorderState::Recording)
        return;
    pendingJobs_.push_back({std::move(job), wallNs, head_.load(std::memory_order_acquire)});
}

void RecordingWriterThread::Stop() {
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

void RecordingWriterThread::RequestStop() {
    if (!thread_.joinable())
        return;
    // No packet is taken from here on; the writer writes what was taken.
    if (!stopRequested_.exchange(true)) {
        accepting_.store(false);
        Wake();
    }
}

RecorderStatus RecordingWriterThread::Status() const {
    RecorderStatus s;
    std::lock_guard lock(mu_);
    s.state = state_;
    s.reason = reason_;
    s.path = path_;
    s.error = error_;
    if (state_ != RecorderState::Idle) {
        const auto end = state_ == RecorderState::Recording ? Clock::now() : ended_;
        s.elapsedSeconds = std::chrono::duration<double>(end - started_).count();
    }
    s.received = received_.load(std::memory_order_relaxed);
    s.written = written_.load(std::memory_order_relaxed);
    s.bytes = s.written * kBytesPerProfile;
    s.lost = lost_.load(std::memory_order_relaxed);
    s.outOfOrder = outOfOrder_.load(std::memory_order_relaxed);
    s.restarts = restarts_.load(std::memory_order_relaxed);
    s.dropped = dropped_.load(std::memory_order_relaxed);
    s.measured = measured_.load(std::memory_order_relaxed);
    s.unmeasured = unmeasured_.load(std::memory_order_relaxed);
    s.measureSeconds = static_cast<double>(measureNs_.load(std::memory_order_relaxed)) * 1e-9;
    s.finishing = state_ == RecorderState::Recording && stopRequested_.load();
    return s;
}

void RecordingWriterThread::WritePendingBlocks() {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    std::vector<PendingBlock> due;
    std::vector<PendingJob> jobs;
    {
        std::lock_guard lock(mu_);
        auto it = pendingBlocks_.begin();
        while (it != pendingBlocks_.end() && it->beforeProfile <= tail)
            ++it;
        due.assign(pendingBlocks_.begin(), it);
        pendingBlocks_.erase(pendingBlocks_.begin(), it);
        auto jt = pendingJobs_.begin();
        while (jt != pendingJobs_.end() && jt->beforeProfile <= tail)
            ++jt;
        jobs.assign(std::make_move_iterator(pendingJobs_.begin()), std::make_move_iterator(jt));
        pendingJobs_.erase(pendingJobs_.begin(), jt);
    }
    for (const PendingBlock &b : due)
        writer_->AppendParameterBlock(b.block, b.wallNs);
    for (PendingJob &j : jobs) {
        const bool measure = j.job && !j.job->tools.empty();
        if (!measure && !measurer_)
            continue; // nothing was measured, nothing is
        const ResultsJob table = measure ? ResultsJobOf(*j.job) : ResultsJob{};
        firstOutput_ = writer_->AppendResultsJob(table, j.wallNs);
        outputs_ = table.outputs.size();
        measurer_ = measure ? std::make_unique<measure::Measurer>(std::move(*j.job)) : nullptr;
    }
}

void RecordingWriterThread::Measure(std::uint64_t first, std::size_t slot, std::size_t n,
                                    bool behind) {
    rows_.clear();
    const std::uint16_t notMeasured = behind ? writer_->ResultReason(kNotMeasuredReason) : 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (behind) {
            AppendUnmeasuredRows(rows_, notMeasured, firstOutput_, outputs_, first + i);
            continue;
        }
        DecodePacket(ProfilePacket(packets_.get() + (slot + i) * kPacketSize), scale_, points_);
        AppendResultRows(rows_, *writer_, measurer_->job(), firstOutput_, first + i,
                         measurer_->Measure(points_));
    }
    writer_->AppendResultValues(rows_.data(), rows_.size());
    (behind ? unmeasured_ : measured_).fetch_add(n, std::memory_order_relaxed);
}

std::size_t RecordingWriterThread::WriteBatch() {
    WritePendingBlocks();
    const std::uint64_t t = tail_.load(std::memory_order_relaxed);
    const std::uint64_t h = head_.load(std::memory_order_acquire);
    if (h == t)
        return 0;
    const std::size_t slot = t % capacity_;
    std::uint64_t n = std::min<std::uint64_t>({h - t, capacity_ - slot, kMaxBatch});
    {
        // A parameter block goes in before the first profile it applies to.
        std::lock_guard lock(mu_);
        if (!pendingBlocks_.empty() && pendingBlocks_.front().beforeProfile > t)
            n = std::min(n, pendingBlocks_.front().beforeProfile - t);
        // So does a job.
        if (!pendingJobs_.empty() && pendingJobs_.front().beforeProfile > t)
            n = std::min(n, pendingJobs_.front().beforeProfile - t);
    }
    writer_->Append(packets_.get() + slot * kPacketSize, times_.get() + slot,
                    static_cast<std::size_t>(n));
    if (measurer_) {
        // Measured before the slots are handed back to Push. When the ring
        // is more than half full the profiles go in unmeasured: writing
        // every profile comes first.
        const bool behind = head_.load(std::memory_order_acquire) - (t + n) > capacity_ / 2;
        const std::int64_t start = ThreadCpuNs();
        Measure(t, slot, static_cast<std::size_t>(n), behind);
        // Counted for measured profiles only: the rows of those written
        // unmeasured cost little, and would spread over the measured ones.
        if (!behind)
            measureNs_.fetch_add(
                static_cast<std::uint64_t>(std::max<std::int64_t>(0, ThreadCpuNs() - start)),
                std::memory_order_relaxed);
    }
    tail_.store(t + n, std::memory_order_release);
    written_.store(t + n, std::memory_order_relaxed);
    return static_cast<std::size_t>(n);
}

void RecordingWriterThread::Finish(StopReason reason) {
    accepting_.store(false);
    // A Push that passed its check before the store publishes its packet or
    // leaves within a few instructions.
    while (pushing_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
    while (WriteBatch() > 0) {
    }
    WritePendingBlocks();
    writer_->Close(dropped_.load(), EndState::Closed);
    writer_.reset();
    std::lock_guard lock(mu_);
    state_ = RecorderState::Finished;
    reason_ = reason;
    ended_ = Clock::now();
}

void RecordingWriterThread::Fail(const std::string &message) {
    accepting_.store(false);
    while (pushing_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
    tail_.store(head_.load());
    if (writer_) {
        written_.store(writer_->profiles());
        // Mark the file as ended by an error if it can still be written to;
        // otherwise keep it as the last flush left it.
        try {
            writer_->Close(dropped_.load(), EndState::Failed);
        } catch (const RecordingError &) {
            writer_->Abandon();
        }
        writer_.reset();
    }
    std::lock_guard lock(mu_);
    state_ = RecorderState::Failed;
    reason_ = StopReason::Error;
    error_ = message;
    ended_ = Clock::now();
}

void RecordingWriterThread::Run() {
    // The ring absorbs the disk's pauses, not a writer starved of CPU by
    // busy programs beside it: ask for a larger share where permitted.
    RaiseThreadWeight();
    try {
        auto lastFlush = Clock::now();
        bool unflushed = false; // written since the last flush
        for (;;) {
            const std::size_t n = WriteBatch();
            unflushed = unflushed || n > 0;
            const auto now = Clock::now();
            if (now - lastFlush >= flushInterval_) {
                writer_->Flush(dropped_.load());
                lastFlush = now;
                unflushed = false;
            }
            if (n > 0)
                continue;
            if (stopRequested_.load()) {
                Finish(StopReason::Requested);
                return;
            }
            if (deadlineNs_ != 0 && ReceiveTime::Now().monotonicNs >= deadlineNs_) {
                Finish(StopReason::DurationLimit);
                return;
            }
            if (head_.load(std::memory_order_acquire) >= maxProfiles_) {
                Finish(countReason_);
                return;
            }
            // Sleeps until a packet or a stop comes, at most until the next
            // flush is due (with something to flush) or the duration limit.
            // -1: only a packet or a stop ends the wait.
            std::int64_t waitNs = -1;
            if (unflushed)
                waitNs =
                    std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                  lastFlush + flushInterval_ - now)
                                                  .count());
            if (deadlineNs_ != 0) {
                // Never negative: a limit that passed since the check above
                // ends the wait at once.
                const std::int64_t left =
                    std::max<std::int64_t>(0, deadlineNs_ - ReceiveTime::Now().monotonicNs);
                waitNs = waitNs < 0 ? left : std::min(waitNs, left);
            }
            WaitForWork(waitNs < 0 ? -1
                                   : static_cast<int>(std::min<std::int64_t>(
                                         (waitNs + 999'999) / 1'000'000, 60'000)));
        }
    } catch (const RecordingError &e) {
        Fail(e.what());
    } catch (const std::exception &e) {
        Fail(std::string("recording stopped: ") + e.what());
    }
}

} // namespace qz417::recording
