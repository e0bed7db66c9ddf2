#include "link_lock.h"

#include <mutex>

namespace qz417::link {

namespace {

// Constant-initialised: the lock exists as soon as the library is mapped,
// before any constructor of any library runs, and needs no set-up call. It
// is released with the library's image when the library is unloaded.
constinit std::mutex linkLock;

} // namespace

LinkLockHold::LinkLockHold() noexcept {
    try {
        linkLock.lock();
        held_ = true;
    } catch (...) {
        held_ = false;
    }
}

LinkLockHold::~LinkLockHold() {
    if (held_)
        linkLock.unlock();
}

} // namespace qz417::link
