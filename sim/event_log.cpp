#include "event_log.h"

#include <cstdio>

namespace qz417::sim {

// One fprintf per line: stdio locks the stream, so lines from different
// threads never mix.
void EventLog::event(const std::string &line) const {
    if (!quiet_)
        std::fprintf(stderr, "qz417sim: %s\n", line.c_str());
}

void EventLog::warning(const std::string &line) const {
    std::fprintf(stderr, "qz417sim: %s\n", line.c_str());
}

} // namespace qz417::sim
