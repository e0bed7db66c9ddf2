// Runs the qz417ctl executable as a child process for the end-to-end tests:
// stdout and stderr go to temporary files, every wait is bounded, and a child
// still running at the end is killed by its process id.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace qz417::ctl::test {

struct CtlResult {
    int status = -1; // exit status; -1 when the child was killed or did not exit
    std::string out;
    std::string err;
};

class CtlProcess {
public:
    explicit CtlProcess(const std::vector<std::string> &args);
    ~CtlProcess();
    CtlProcess(const CtlProcess &) = delete;
    CtlProcess &operator=(const CtlProcess &) = delete;

    // Waits until stdout contains `text`; false after timeoutMs.
    bool waitForOutput(const std::string &text, int timeoutMs);
    // The same for stderr (where --json sends the lines that are not JSON).
    bool waitForError(const std::string &text, int timeoutMs);
    // Sends SIGINT to the child, as Ctrl-C would.
    bool interrupt();
    // Waits for the exit (killing the child after timeoutMs) and collects the output.
    CtlResult finish(int timeoutMs);

private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
    bool exited_ = false;
    int status_ = -1;
};

// Runs qz417ctl with the arguments and waits for it (at most timeoutMs).
CtlResult RunCtl(const std::vector<std::string> &args, int timeoutMs = 30000);

std::string ReadFile(const std::string &path);
// A fresh empty directory below the system's temporary directory.
std::string MakeTempDir();

} // namespace qz417::ctl::test
