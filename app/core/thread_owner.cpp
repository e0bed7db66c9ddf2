#include "core/thread_owner.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <climits>
#include <thread>

namespace qz417 {

struct ThreadOwner::Entry {
    pthread_t id{};
    std::shared_ptr<ManualResetEvent> run;
    ManualResetEvent finished; // set once body has returned
    std::function<void()> body;
};

namespace {

void *ThreadMain(void *arg) {
    // The owner keeps its own reference; this one lives as long as the thread.
    auto *holder = static_cast<std::shared_ptr<ThreadOwner::Entry> *>(arg);
    std::shared_ptr<ThreadOwner::Entry> entry = std::move(*holder);
    delete holder;
    entry->body();
    entry->body = nullptr; // release what the body captured before announcing the end
    entry->finished.set();
    return nullptr;
}

} // namespace

std::size_t EffectiveStackBytes(std::size_t requested) {
    return std::max({requested, static_cast<std::size_t>(PTHREAD_STACK_MIN), kMinStackBytes});
}

ThreadOwner::~ThreadOwner() {
    stopAll();
    joinAll(std::chrono::milliseconds(10000));
}

bool ThreadOwner::start(const ThreadParams &params, std::shared_ptr<ManualResetEvent> run,
                        std::function<void()> body) {
    auto entry = std::make_shared<Entry>();
    entry->run = std::move(run);
    entry->body = std::move(body);

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_attr_setstacksize(&attr, EffectiveStackBytes(params.stackBytes));
    auto *holder = new std::shared_ptr<Entry>(entry);
    const int rc = pthread_create(&entry->id, &attr, &ThreadMain, holder);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete holder;
        return false;
    }

    // Raised after creation, as the thread runs already; without the
    // permission for real-time scheduling the thread simply keeps its
    // normal priority.
    bool realTime = false;
    if (params.timeCritical) {
        sched_param param{};
        param.sched_priority = sched_get_priority_max(SCHED_FIFO);
        realTime = pthread_setschedparam(entry->id, SCHED_FIFO, &param) == 0;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    reapFinishedLocked();
    threads_.push_back(std::move(entry));
    lastRealTime_ = realTime;
    return true;
}

void ThreadOwner::stopAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &t : threads_)
        if (t->run)
            t->run->reset();
}

bool ThreadOwner::joinAll(std::chrono::milliseconds bound) {
    std::vector<std::shared_ptr<Entry>> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(threads_);
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    bool all = true;
    for (auto &t : threads) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (t->finished.wait(std::max(left, std::chrono::milliseconds(0)))) {
            pthread_join(t->id, nullptr);
        } else {
            pthread_detach(t->id);
            all = false;
        }
    }
    return all;
}

std::size_t ThreadOwner::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.size();
}

std::size_t ThreadOwner::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count_if(
        threads_.begin(), threads_.end(), [](const auto &t) { return !t->finished.isSet(); }));
}

bool ThreadOwner::lastWasRealTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastRealTime_;
}

void ThreadOwner::reapFinishedLocked() {
    auto done = std::stable_partition(threads_.begin(), threads_.end(),
                                      [](const auto &t) { return !t->finished.isSet(); });
    for (auto it = done; it != threads_.end(); ++it)
        pthread_join((*it)->id, nullptr);
    threads_.erase(done, threads_.end());
}

} // namespace qz417
