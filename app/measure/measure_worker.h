// The measuring thread of the "Measure" page: every profile of the sources it
// is bound to is measured, not only those the page happens to draw. Pure C++
// (qz417appcore), no Qt.
//
// The producers hand each packet to Take (a sink of the source's feed), which
// copies it into a bounded lock-free queue and wakes the thread; it never
// blocks or allocates. The thread decodes the packet with the scale it
// carries, runs its Measurer and appends the result, by value, to a bounded
// list the window thread takes on its timer. The job is replaced by handing
// a new copy (SetJob); the thread picks it up before its next profile and
// builds a new Measurer, so no job is ever shared while it is changed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "feed/profile_feed.h"
#include "model/measure/job.h"
#include "model/measure/measurer.h"
#include "source/profile_source.h"

namespace qz417 {

// One measured profile, handed to the window thread by value.
struct MeasuredProfile {
    std::uint64_t sequence = 0;    // the packet's order in its feed
    std::uint16_t measurement = 0; // the scanner's measurement counter
    std::uint64_t jobVersion = 0;  // SetJob's return for the job measured with
    ReceiveTime time;
    measure::JobResult result;
};

class MeasureWorker final : private FeedSink {
public:
    static constexpr std::size_t kQueueCapacity = 8192;
    // Results kept for the window thread; older ones are dropped (counted).
    static constexpr std::size_t kResultCapacity = 16384;

    MeasureWorker();
    ~MeasureWorker();
    MeasureWorker(const MeasureWorker &) = delete;
    MeasureWorker &operator=(const MeasureWorker &) = delete;

    // Subscribes to the sources and starts the thread (stops a running one
    // first). False when a source has no room for another subscriber.
    bool Start(const std::vector<std::shared_ptr<ProfileSource>> &sources);
    // Unsubscribes, asks the thread to stop, wakes and joins it: within the
    // time of the profile being measured. Profiles still queued are dropped.
    void Stop();
    bool running() const { return thread_.joinable(); }

    // A copy of the job for the following profiles (none: measure nothing).
    // Throws measure::JobError when it does not validate; the previous job
    // then stays. Returns the job's version, carried by its results.
    std::uint64_t SetJob(std::optional<measure::Job> job);
    // The job handed over last (null: none), which the thread measures with
    // from its next profile on.
    std::shared_ptr<const measure::Job> job() const;

    // Moves every result made since the last call to the end of out.
    void TakeResults(std::vector<MeasuredProfile> &out);
    // The last profile received (drawn by the page); false when none since
    // the last call.
    bool TakeLatest(FeedPacket &out);

    // Profiles received, measured (with a job) and lost to a full queue or
    // a full result list. A profile counts as received and measured once
    // its result can be taken (TakeResults).
    std::uint64_t received() const { return received_.load(std::memory_order_acquire); }
    std::uint64_t measured() const { return measured_.load(std::memory_order_acquire); }
    std::uint64_t dropped() const {
        return queueDropped_.load(std::memory_order_relaxed) +
               resultsDropped_.load(std::memory_order_relaxed);
    }

private:
    void Take(const FeedPacket &packet) noexcept override;
    void Run();
    void Process(const FeedPacket &packet);

    FeedQueue queue_{kQueueCapacity};
    std::atomic<std::uint32_t> signal_{0}; // bumped at each push and at stop
    std::atomic<bool> stop_{false};
    std::vector<std::unique_ptr<FeedSubscription>> subscriptions_;
    std::thread thread_;

    // The job handed over: a new copy under jobMutex_, noticed by version.
    mutable std::mutex jobMutex_;
    std::shared_ptr<const measure::Job> pendingJob_;
    std::atomic<std::uint64_t> jobVersion_{0};

    // Thread only.
    std::uint64_t threadJobVersion_ = 0;
    std::unique_ptr<measure::Measurer> measurer_;
    std::array<ProfilePoint, kProfilePoints> points_{};

    std::mutex resultMutex_;
    std::deque<MeasuredProfile> results_;
    FeedPacket latest_;
    bool haveLatest_ = false;

    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> measured_{0};
    std::atomic<std::uint64_t> queueDropped_{0};
    std::atomic<std::uint64_t> resultsDropped_{0};
};

} // namespace qz417
