// LinkLock: the one process-wide lock held for the whole of every TCP
// exchange, so that exchanges from different threads never interleave on the
// wire, whether on one socket or on different ones.
//
// The exchange that holds LinkLock also marks the descriptor it works on, so
// that a disconnect from another thread can tell whether closing now would
// pull the descriptor from under that exchange (see CloseSocket).
#ifndef QZ417LINK_LINK_LOCK_H
#define QZ417LINK_LINK_LOCK_H

#include <cstdint>

namespace qz417::link {

// Holds LinkLock from construction to destruction, and marks `fd` as the
// descriptor of the running exchange for as long. Taking the lock cannot
// throw out of the library: should the system refuse it, held() is false and
// the exchange fails instead.
class LinkLockHold {
public:
    explicit LinkLockHold(int fd) noexcept;
    ~LinkLockHold();
    LinkLockHold(const LinkLockHold &) = delete;
    LinkLockHold &operator=(const LinkLockHold &) = delete;

    bool held() const noexcept { return held_; }

private:
    bool held_ = false;
    bool marked_ = false;
};

// Closes `fd` without taking LinkLock; returns close()'s result (0 or -1).
// When no exchange is working on `fd` it is closed at once. When the running
// exchange is, the caller has already shut the socket down, so that exchange
// fails at its next call; the descriptor is closed as soon as it has left,
// never while it may still be between two calls on it, where a new
// connection could otherwise receive the same number and the rest of that
// exchange. The call returns once the descriptor is closed (or, should the
// exchange not leave within `leaveTimeoutMs`, returns 0 and the exchange
// closes it when it leaves).
int CloseSocket(int fd, int leaveTimeoutMs) noexcept;

} // namespace qz417::link

#endif // QZ417LINK_LINK_LOCK_H
