// The one way a subcommand fails: a Failure carries the single line that the
// tool prints on stderr (without the program name) and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace qz417::ctl {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1, // the scanner or the network did not do what was asked
    kExitUsage = 2,   // bad command line, bad value, bad file
    kExitLimits = 3,  // measure: a measured value lay outside its limits
};

class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string &line, int exitCode = kExitFailure)
        : std::runtime_error(line), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// A mistake of the caller: wrong option, value out of range, unreadable file.
inline Failure UsageError(const std::string &line) {
    return Failure(line, kExitUsage);
}

} // namespace qz417::ctl
