#include "ctl_process.h"
#include "wait.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace qz417::ctl::test {

namespace {

std::string TempFile(const char *tag) {
    std::string path = std::string("/tmp/qz417ctl-test-") + tag + "-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    close(fd);
    return path;
}

} // namespace

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MakeTempDir() {
    std::string path = "/tmp/qz417ctl-test-dir-XXXXXX";
    if (mkdtemp(path.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return path;
}

CtlProcess::CtlProcess(const std::vector<std::string> &args)
    : outPath_(TempFile("out")), errPath_(TempFile("err")) {
    std::vector<std::string> argv = {QZ417CTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> raw;
    for (auto &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    const int rc = posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
}

CtlProcess::~CtlProcess() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

bool CtlProcess::waitForOutput(const std::string &text, int timeoutMs) {
    return qz417::test::WaitUntil(
        [&] { return ReadFile(outPath_).find(text) != std::string::npos; },
        std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(5));
}

bool CtlProcess::waitForError(const std::string &text, int timeoutMs) {
    return qz417::test::WaitUntil(
        [&] { return ReadFile(errPath_).find(text) != std::string::npos; },
        std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(5));
}

bool CtlProcess::interrupt() {
    return !exited_ && pid_ > 0 && kill(pid_, SIGINT) == 0;
}

CtlResult CtlProcess::finish(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exited_) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            exited_ = true;
            status_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return CtlResult{status_, ReadFile(outPath_), ReadFile(errPath_)};
}

CtlResult RunCtl(const std::vector<std::string> &args, int timeoutMs) {
    CtlProcess process(args);
    return process.finish(timeoutMs);
}

} // namespace qz417::ctl::test
