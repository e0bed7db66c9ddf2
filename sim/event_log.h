// One short line per event on stderr. Connection events can be silenced;
// warnings (for example a refused stream destination) are always shown.
#pragma once

#include <string>

namespace qz417::sim {

class EventLog {
public:
    explicit EventLog(bool quiet) : quiet_(quiet) {}
    void event(const std::string &line) const; // silenced by quiet
    void warning(const std::string &line) const;

private:
    bool quiet_;
};

} // namespace qz417::sim
