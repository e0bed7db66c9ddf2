#include "link_lock.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unistd.h>

namespace qz417::link {

namespace {

// Constant-initialised: the lock exists as soon as the library is mapped,
// before any constructor of any library runs, and needs no set-up call. It
// is released with the library's image when the library is unloaded.
constinit std::mutex linkLock;

// Which descriptor the exchange holding LinkLock works on. Only one exchange
// runs at a time (LinkLock), so one slot suffices. Guarded by `mutex`, which
// is only ever held for a few instructions or a close(), never across a send
// or receive, so a disconnect never waits for the network.
struct DescriptorInUse {
    std::mutex mutex;
    std::condition_variable left; // an exchange left its descriptor
    int fd = -1;
    uint64_t leftCount = 0; // exchanges that left so far
    bool closeWhenLeft = false;
    int closeResult = 0;
};

// Never destroyed: a thread may still leave an exchange while the process
// runs its exit handlers.
DescriptorInUse &InUse() {
    static DescriptorInUse *const inUse = new DescriptorInUse;
    return *inUse;
}

// Linux releases the descriptor even when close reports EINTR, so that
// counts as closed (reporting failure would invite a second close).
int CloseOnce(int fd) noexcept {
    return close(fd) == 0 || errno == EINTR ? 0 : -1;
}

} // namespace

LinkLockHold::LinkLockHold(int fd) noexcept {
    try {
        linkLock.lock();
        held_ = true;
        DescriptorInUse &use = InUse();
        const std::lock_guard guard(use.mutex);
        use.fd = fd;
        use.closeWhenLeft = false;
        marked_ = true;
    } catch (...) {
        // Without the mark a disconnect would close under the exchange:
        // give up the exchange rather than risk it.
        if (held_)
            linkLock.unlock();
        held_ = false;
    }
}

LinkLockHold::~LinkLockHold() {
    if (marked_) {
        DescriptorInUse &use = InUse();
        const std::lock_guard guard(use.mutex);
        if (use.closeWhenLeft)
            use.closeResult = CloseOnce(use.fd);
        use.closeWhenLeft = false;
        use.fd = -1;
        ++use.leftCount;
        use.left.notify_all();
    }
    if (held_)
        linkLock.unlock();
}

int CloseSocket(int fd, int leaveTimeoutMs) noexcept {
    try {
        DescriptorInUse &use = InUse();
        std::unique_lock guard(use.mutex);
        if (use.fd != fd)
            return CloseOnce(fd);
        // The running exchange works on `fd`: it closes the descriptor as it
        // leaves, which it does at once now that the socket is shut down.
        use.closeWhenLeft = true;
        const uint64_t before = use.leftCount;
        use.left.wait_for(guard, std::chrono::milliseconds(leaveTimeoutMs),
                          [&] { return use.leftCount != before; });
        return use.leftCount != before ? use.closeResult : 0;
    } catch (...) {
        return -1;
    }
}

} // namespace qz417::link
