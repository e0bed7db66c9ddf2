// A manual-reset event: stays signalled from set() until reset(), and every
// waiter sees it. Used for the workers' run and done signals.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qz417 {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    ManualResetEvent(const ManualResetEvent &) = delete;
    ManualResetEvent &operator=(const ManualResetEvent &) = delete;

    void set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            set_ = true;
        }
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = false;
    }
    // True when the event is (or becomes) signalled within the time-out;
    // returns at once when it already is.
    bool wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return set_; });
    }
    bool isSet() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return set_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;
};

} // namespace qz417
