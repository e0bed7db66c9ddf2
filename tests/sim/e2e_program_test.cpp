// The qz417sim program as a process: it stops cleanly on SIGINT and SIGTERM,
// reports connections on stderr, and says how to grant the right to bind
// port 417 when it lacks it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Child {
    pid_t pid = -1;
    int stderrFd = -1; // stdout and stderr
};

// Starts the program with `args`; with `uid` >= 0 the child first gives up root.
Child spawn(std::vector<std::string> args, int uid = -1) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    args.insert(args.begin(), QZ417SIM_PATH);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1); // the program writes only --help to stdout
        ::dup2(pipeFds[1], 2);
        if (uid >= 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

// Waits at most `limit` for the child; returns its wait status or -1.
int waitFor(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

std::string drain(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return out;
}

// Reads the child's output until it holds `text` or `limit` has passed;
// returns what it read.
std::string readUntil(int fd, const std::string &text, std::chrono::milliseconds limit) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    while (out.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1)
            break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

bool connectWithin(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

TEST(Program, StopsCleanlyOnSigtermAndReportsConnections) {
    Child c = spawn({"--count", "2", "--port", "4171", "--announce-interval", "0"});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(connectWithin(0x7F000002, 4171, 3000ms));
    // It has noticed the connection's end once it says so.
    std::string err = readUntil(c.stderrFd, "closed after 0 commands", 3000ms);
    const auto start = std::chrono::steady_clock::now();
    ::kill(c.pid, SIGTERM);
    const int status = waitFor(c.pid, 2000ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    err += drain(c.stderrFd);
    EXPECT_NE(err.find("127.0.0.2:4171: connection from"), std::string::npos) << err;
    EXPECT_NE(err.find("closed after 0 commands"), std::string::npos) << err;
    EXPECT_NE(err.find("SIGTERM"), std::string::npos) << err;
}

TEST(Program, QuietStopsOnSigintWithoutAWord) {
    Child c = spawn({"--quiet", "--port", "4171", "--announce-interval", "0"});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(connectWithin(0x7F000001, 4171, 3000ms));
    ::kill(c.pid, SIGINT);
    const int status = waitFor(c.pid, 2000ms);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(drain(c.stderrFd), "");
}

TEST(Program, ExplainsHowToGrantPort417) {
    int unprivilegedStart = 1024;
    std::ifstream("/proc/sys/net/ipv4/ip_unprivileged_port_start") >> unprivilegedStart;
    if (unprivilegedStart <= 417)
        GTEST_SKIP() << "port 417 needs no privilege on this system";
    Child c = spawn({"--announce-interval", "0"}, ::getuid() == 0 ? 65534 : -1);
    ASSERT_GT(c.pid, 0);
    const int status = waitFor(c.pid, 3000ms);
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 126)
        GTEST_SKIP() << "cannot drop root privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = drain(c.stderrFd);
    EXPECT_NE(err.find("needs root or CAP_NET_BIND_SERVICE"), std::string::npos) << err;
    EXPECT_NE(err.find("sudo setcap cap_net_bind_service=+ep "), std::string::npos) << err;
}

TEST(Program, RefusesBadOptionsAndDocumentsItself) {
    Child bad = spawn({"--count", "0"});
    int status = waitFor(bad.pid, 2000ms);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(drain(bad.stderrFd).find("--count"), std::string::npos);
    Child help = spawn({"--help"});
    status = waitFor(help.pid, 2000ms);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(drain(help.stderrFd).find("--malformed-announcements"), std::string::npos);
}

} // namespace
