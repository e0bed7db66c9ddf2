#include "model/thread_weight.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace qz417 {

bool RaiseThreadWeight(int nice) noexcept {
    // On Linux a nice value belongs to one thread: PRIO_PROCESS with the
    // thread's own ID changes that thread and no other.
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, self);
    if (errno == 0 && now <= nice)
        return true;
    return setpriority(PRIO_PROCESS, self, nice) == 0;
}

} // namespace qz417
