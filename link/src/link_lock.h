// LinkLock: the one process-wide lock held for the whole of every TCP
// exchange, so that exchanges from different threads never interleave on the
// wire, whether on one socket or on different ones.
//
// Beside it, the table of the descriptors the library owns: those its connect
// functions opened and no disconnect has closed yet. An exchange registers on
// its descriptor before it waits for LinkLock and leaves it only when it has
// finished, so a disconnect never frees a number that a waiting or running
// exchange may still call on: a new connection could otherwise receive the
// same number and the rest of that exchange.
#ifndef QZ417LINK_LINK_LOCK_H
#define QZ417LINK_LINK_LOCK_H

namespace qz417::link {

// Notes `fd`, just opened by the library, as owned. False (errno ENOMEM)
// when the table cannot grow; the caller then closes `fd` and fails.
bool AdoptDescriptor(int fd) noexcept;

// Registers an exchange on `fd` when the library owns it, then holds
// LinkLock from construction to destruction. held() is false, and the
// exchange must fail, when a disconnect of `fd` has begun or begins while the
// exchange waits for the lock (errno EBADF), or should the system refuse the
// lock; nothing is sent then. A descriptor the library does not own (a
// caller's own connection) is used unregistered: the library never closes it.
class LinkLockHold {
public:
    explicit LinkLockHold(int fd) noexcept;
    ~LinkLockHold();
    LinkLockHold(const LinkLockHold &) = delete;
    LinkLockHold &operator=(const LinkLockHold &) = delete;

    bool held() const noexcept { return held_; }

private:
    int fd_ = -1;
    bool registered_ = false;
    bool held_ = false;
};

// Closes `fd` if the library owns it, without taking LinkLock. Returns true
// once it is closed. An owned socket is shut down first, so the exchange
// running on it fails at its next call, and exchanges waiting for LinkLock on
// it give up at once; the descriptor is closed when the last of them has left.
// False, and nothing is done, for a descriptor the library does not own or
// that another disconnect is already closing (errno EBADF). False as well
// (errno EBUSY) when an exchange on it has not left within `leaveTimeoutMs`:
// that exchange closes it as it leaves, and the number stays taken until then.
bool CloseOwned(int fd, int leaveTimeoutMs) noexcept;

} // namespace qz417::link

#endif // QZ417LINK_LINK_LOCK_H
