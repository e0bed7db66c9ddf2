#include "measure/measure_worker.h"

#include "model/thread_weight.h"

#include <utility>

namespace qz417 {

MeasureWorker::MeasureWorker() = default;

MeasureWorker::~MeasureWorker() {
    Stop();
}

bool MeasureWorker::Start(const std::vector<std::shared_ptr<ProfileSource>> &sources) {
    Stop();
    stop_.store(false);
    thread_ = std::thread([this] { Run(); });
    for (const auto &source : sources) {
        auto subscription = source->Subscribe(static_cast<FeedSink *>(this));
        if (!subscription) {
            Stop();
            return false;
        }
        subscriptions_.push_back(std::move(subscription));
    }
    return true;
}

void MeasureWorker::Stop() {
    // No producer touches the queue once every subscription is gone.
    subscriptions_.clear();
    if (!thread_.joinable())
        return;
    stop_.store(true);
    signal_.fetch_add(1, std::memory_order_release);
    signal_.notify_all();
    thread_.join();
}

std::uint64_t MeasureWorker::SetJob(std::optional<measure::Job> job) {
    std::shared_ptr<const measure::Job> copy;
    if (job) {
        measure::ValidateJob(*job);
        copy = std::make_shared<const measure::Job>(std::move(*job));
    }
    const std::lock_guard lock(jobMutex_);
    pendingJob_ = std::move(copy);
    return jobVersion_.fetch_add(1) + 1;
}

std::shared_ptr<const measure::Job> MeasureWorker::job() const {
    const std::lock_guard lock(jobMutex_);
    return pendingJob_;
}

void MeasureWorker::TakeResults(std::vector<MeasuredProfile> &out) {
    const std::lock_guard lock(resultMutex_);
    for (auto &r : results_)
        out.push_back(std::move(r));
    results_.clear();
}

bool MeasureWorker::TakeLatest(FeedPacket &out) {
    const std::lock_guard lock(resultMutex_);
    if (!haveLatest_)
        return false;
    out = latest_;
    haveLatest_ = false;
    return true;
}

void MeasureWorker::Take(const FeedPacket &packet) noexcept {
    if (!queue_.TryPush(packet)) {
        queueDropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    signal_.fetch_add(1, std::memory_order_release);
    signal_.notify_one();
}

void MeasureWorker::Run() {
    // Every profile of the source is to be measured: a larger share of the
    // CPU than the window's drawing and the programs beside it, where
    // permitted. (The UDP worker, real-time, still comes first.)
    RaiseThreadWeight();
    FeedPacket packet;
    for (;;) {
        // Read before draining: a push after the drain changes it, so the
        // wait below returns at once instead of missing that packet.
        const std::uint32_t seen = signal_.load(std::memory_order_acquire);
        // A stop ends the pass after the profile in hand: what is still
        // queued is left unmeasured, so a stop takes one profile's time.
        while (!stop_.load(std::memory_order_relaxed) && queue_.TryPop(packet))
            Process(packet);
        if (stop_.load())
            break;
        signal_.wait(seen, std::memory_order_acquire);
    }
    // Left for the next Start: nothing of this binding.
    while (queue_.TryPop(packet)) {
    }
}

void MeasureWorker::Process(const FeedPacket &packet) {
    const std::uint64_t version = jobVersion_.load(std::memory_order_acquire);
    if (version != threadJobVersion_) {
        std::shared_ptr<const measure::Job> job;
        {
            const std::lock_guard lock(jobMutex_);
            job = pendingJob_;
            threadJobVersion_ = jobVersion_.load();
        }
        measurer_ = job ? std::make_unique<measure::Measurer>(*job) : nullptr;
    }
    const ProfilePacket view(packet.bytes.data());
    MeasuredProfile out;
    out.sequence = packet.sequence;
    out.measurement = view.measurementCount();
    out.time = packet.time;
    out.jobVersion = threadJobVersion_;
    const bool measuring = measurer_ != nullptr;
    if (measuring) {
        DecodePacket(view, packet.scale, points_);
        out.result = measurer_->Measure(points_);
    }
    {
        const std::lock_guard lock(resultMutex_);
        latest_ = packet;
        haveLatest_ = true;
        if (measuring) {
            if (results_.size() >= kResultCapacity) {
                results_.pop_front();
                resultsDropped_.fetch_add(1, std::memory_order_relaxed);
            }
            results_.push_back(std::move(out));
        }
    }
    // Counted once its result can be taken: whoever reads the count finds
    // the result of every profile it counts.
    if (measuring)
        measured_.fetch_add(1, std::memory_order_release);
    received_.fetch_add(1, std::memory_order_release);
}

} // namespace qz417
