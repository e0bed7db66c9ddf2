// Starts the program's threads with a stack size and a priority, and keeps
// every one of them so that it can be stopped and awaited at shutdown.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/manual_reset_event.h"

namespace qz417 {

// How a thread is created. The stack size is raised to kMinStackBytes when
// smaller: the thread procedures call into the C library, the socket layer
// and std::function targets, which need far more than a few kilobytes.
struct ThreadParams {
    std::size_t stackBytes = 0;
    bool timeCritical = false; // highest real-time priority where permitted
};

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: ThreadSanitizer keeps its per-thread state in static TLS,
// which glibc takes from the thread's stack, and both tools enlarge frames.
constexpr std::size_t kMinStackBytes = 2 * 1024 * 1024;
#else
constexpr std::size_t kMinStackBytes = 256 * 1024;
#endif

// The stack size a thread with these parameters is created with.
std::size_t EffectiveStackBytes(std::size_t requested);

class ThreadOwner {
public:
    ThreadOwner() = default;
    ~ThreadOwner(); // stops and awaits whatever still runs (bounded)
    ThreadOwner(const ThreadOwner &) = delete;
    ThreadOwner &operator=(const ThreadOwner &) = delete;

    // Creates a thread running body. run (may be null: the search cannot be
    // stopped) is reset by stopAll(). Returns false when no thread could be
    // created; body is then not run.
    bool start(const ThreadParams &params, std::shared_ptr<ManualResetEvent> run,
               std::function<void()> body);

    // Resets the run event of every thread still running.
    void stopAll();

    // Waits until every thread has returned from its body, for at most
    // bound in total, and joins them. A thread still running after the bound
    // is detached. Returns true when every thread was joined.
    bool joinAll(std::chrono::milliseconds bound);

    // Threads created and not yet joined (finished or not).
    std::size_t count() const;
    // Threads whose body has not yet returned.
    std::size_t running() const;
    // True when the last created thread runs with a real-time priority.
    bool lastWasRealTime() const;

    struct Entry; // one created thread (defined in the .cpp)

private:
    void reapFinishedLocked();

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> threads_;
    bool lastRealTime_ = false;
};

} // namespace qz417
