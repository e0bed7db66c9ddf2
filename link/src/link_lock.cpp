#include "link_lock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qz417::link {

namespace {

// One descriptor the library opened and has not closed yet.
struct Owned {
    int fd = -1;
    int users = 0;            // exchanges registered on it: waiting for LinkLock or running
    bool closing = false;     // a disconnect began: no new exchange, waiting ones give up
    bool closerWaits = false; // that disconnect closes it itself once `users` is 0
};

// LinkLock itself is `busy`, taken and given back under `mutex`, so that an
// exchange waiting for it can also notice that its descriptor is being
// closed and give up without ever taking it. `mutex` is only ever held for
// a few instructions, a shutdown() or a close(), never across a send or
// receive, so a disconnect never waits for the network.
struct Registry {
    std::mutex mutex;
    std::condition_variable changed; // LinkLock given back, an exchange left, a close began
    bool busy = false;
    std::vector<Owned> owned;

    Owned *find(int fd) {
        const auto it =
            std::find_if(owned.begin(), owned.end(), [fd](const Owned &o) { return o.fd == fd; });
        return it == owned.end() ? nullptr : &*it;
    }
    // The entry of `fd` when the library owns it and no disconnect of it has
    // begun; else null, with errno EBADF.
    Owned *usable(int fd) {
        Owned *const entry = find(fd);
        if (entry == nullptr || entry->closing) {
            errno = EBADF;
            return nullptr;
        }
        return entry;
    }
    void forget(int fd) {
        std::erase_if(owned, [fd](const Owned &o) { return o.fd == fd; });
    }
};

// Never destroyed: a thread may still leave an exchange while the process
// runs its exit handlers.
Registry &Table() {
    static Registry *const registry = new Registry;
    return *registry;
}

// Linux releases the descriptor even when close reports EINTR, so that
// counts as closed (reporting failure would invite a second close).
bool CloseOnce(int fd) noexcept {
    return close(fd) == 0 || errno == EINTR;
}

} // namespace

bool AdoptDescriptor(int fd) noexcept {
    try {
        Registry &table = Table();
        const std::lock_guard guard(table.mutex);
        // A number still listed belongs to a socket that was closed behind the
        // library's back; the new socket replaces it.
        table.forget(fd);
        table.owned.push_back(Owned{fd});
        return true;
    } catch (...) {
        errno = ENOMEM;
        return false;
    }
}

LinkLockHold::LinkLockHold(int fd) noexcept : fd_(fd) {
    try {
        Registry &table = Table();
        std::unique_lock guard(table.mutex);
        // A descriptor the library did not open (a caller's own connection)
        // is the caller's to close: its exchange runs under LinkLock as
        // always, unregistered. One being disconnected takes no new exchange.
        if (Owned *const entry = table.find(fd)) {
            if (entry->closing) {
                errno = EBADF;
                return;
            }
            ++entry->users;
            registered_ = true;
        }
        // The entry stays listed while an exchange is registered on it (unless
        // the number was closed behind the library's back and opened again).
        const auto givenUp = [&] {
            const Owned *const owned = table.find(fd);
            return registered_ && (owned == nullptr || owned->closing);
        };
        table.changed.wait(guard, [&] { return !table.busy || givenUp(); });
        if (givenUp()) {
            errno = EBADF;
            return;
        }
        table.busy = true;
        held_ = true;
    } catch (...) {
        // The destructor unregisters; without the lock the exchange fails.
        held_ = false;
    }
}

LinkLockHold::~LinkLockHold() {
    if (!registered_ && !held_)
        return;
    try {
        Registry &table = Table();
        const std::lock_guard guard(table.mutex);
        if (held_)
            table.busy = false;
        if (registered_) {
            Owned *entry = table.find(fd_);
            if (entry != nullptr && --entry->users == 0 && entry->closing && !entry->closerWaits) {
                // The disconnect gave up waiting: the last exchange closes.
                CloseOnce(fd_);
                table.forget(fd_);
            }
        }
        table.changed.notify_all();
    } catch (...) {
        // Locking a std::mutex fails only on a broken system; nothing to do.
    }
}

bool CloseOwned(int fd, int leaveTimeoutMs) noexcept {
    try {
        Registry &table = Table();
        std::unique_lock guard(table.mutex);
        Owned *const entry = table.usable(fd);
        if (entry == nullptr)
            return false;
        entry->closing = true;
        entry->closerWaits = true;
        // Closing alone would leave a receive pending in another thread asleep
        // until its time-out; shutting down first makes it return at once.
        // The result is ignored: a UDP socket has no connection to shut down.
        shutdown(fd, SHUT_RDWR);
        table.changed.notify_all(); // exchanges waiting on this socket give up
        const auto left = [&] {
            const Owned *const owned = table.find(fd);
            return owned == nullptr || owned->users == 0;
        };
        if (!table.changed.wait_for(guard, std::chrono::milliseconds(leaveTimeoutMs), left)) {
            table.find(fd)->closerWaits = false;
            errno = EBUSY;
            return false;
        }
        const bool closed = CloseOnce(fd);
        const int error = errno;
        table.forget(fd);
        errno = error;
        return closed;
    } catch (...) {
        return false;
    }
}

} // namespace qz417::link
