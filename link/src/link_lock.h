// LinkLock: the one process-wide lock held for the whole of every TCP
// exchange, so that exchanges from different threads never interleave on the
// wire, whether on one socket or on different ones.
#ifndef QZ417LINK_LINK_LOCK_H
#define QZ417LINK_LINK_LOCK_H

namespace qz417::link {

// Holds LinkLock from construction to destruction. Taking the lock cannot
// throw out of the library: should the system refuse it, held() is false and
// the exchange fails instead.
class LinkLockHold {
public:
    LinkLockHold() noexcept;
    ~LinkLockHold();
    LinkLockHold(const LinkLockHold &) = delete;
    LinkLockHold &operator=(const LinkLockHold &) = delete;

    bool held() const noexcept { return held_; }

private:
    bool held_ = false;
};

} // namespace qz417::link

#endif // QZ417LINK_LINK_LOCK_H
