// tests/support/in-netns: the program runs in a network namespace of its own
// with loopback up, where the scanner's fixed ports are free whatever the
// machine runs; where no namespace can be made the test is skipped, never run
// on the machine's ports.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Binds (and for TCP listens on) address:port; returns errno, 0 on success.
// The socket is closed again before returning.
int BindError(int type, const char *address, uint16_t port) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0)
        return errno;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    int error = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 1) != 0))
        error = errno;
    ::close(fd);
    return error;
}

struct CommandRun {
    int status = -1; // exit status, -1 when it did not exit
    std::string output;
};

// Runs a shell command line, stdout and stderr together; bounded by `timeout`.
CommandRun RunCommand(const std::string &command) {
    CommandRun run;
    FILE *pipe = ::popen(("timeout 20 " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        run.output += buffer;
    const int status = ::pclose(pipe);
    if (status != -1 && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    return run;
}

TEST(InNetns, RunsInANamespaceOfItsOwnWithLoopbackUp) {
    char own[64] = {};
    ASSERT_GT(::readlink("/proc/self/ns/net", own, sizeof own - 1), 0);
    const char *outer = std::getenv("QZ417_OUTER_NETNS");
    ASSERT_NE(outer, nullptr) << "not started through in-netns";
    EXPECT_STRNE(own, outer) << "still in the namespace ctest runs in";
    // The scanner's fixed ports, on several loopback addresses, TCP and UDP:
    // all free here, as root of the namespace, whatever the machine runs.
    EXPECT_EQ(BindError(SOCK_STREAM, "127.0.0.1", 417), 0);
    EXPECT_EQ(BindError(SOCK_STREAM, "127.0.0.2", 417), 0);
    EXPECT_EQ(BindError(SOCK_DGRAM, "127.0.0.1", 6001), 0);
    EXPECT_EQ(BindError(SOCK_DGRAM, "127.0.0.1", 6003), 0);
}

TEST(InNetns, EachRunHasItsOwnPorts) {
    // Holding port 417 here does not keep a second program, started through
    // in-netns meanwhile, from binding it.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(417);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    const CommandRun nested =
        RunCommand(std::string(QZ417_IN_NETNS) +
                   " python3 -c 'import socket; s = socket.socket(); "
                   "s.bind((\"127.0.0.1\", 417)); s.listen(1); print(\"bound\")'");
    ::close(fd);
    if (nested.status == 77)
        GTEST_SKIP() << "no nested namespace here: " << nested.output;
    EXPECT_EQ(nested.status, 0) << nested.output;
    EXPECT_NE(nested.output.find("bound"), std::string::npos) << nested.output;
}

TEST(InNetns, MountVariantAlsoHasMountsOfItsOwn) {
    char own[64] = {};
    ASSERT_GT(::readlink("/proc/self/ns/mnt", own, sizeof own - 1), 0);
    const std::string wrapper = QZ417_IN_NETNS;
    const CommandRun plain = RunCommand(wrapper + " /bin/readlink /proc/self/ns/mnt");
    const CommandRun mount = RunCommand(wrapper + "-mount /bin/readlink /proc/self/ns/mnt");
    if (plain.status == 77 || mount.status == 77)
        GTEST_SKIP() << "no nested namespace here: " << plain.output << mount.output;
    ASSERT_EQ(plain.status, 0) << plain.output;
    ASSERT_EQ(mount.status, 0) << mount.output;
    EXPECT_EQ(plain.output, std::string(own) + "\n");
    EXPECT_NE(mount.output, std::string(own) + "\n");
    EXPECT_EQ(mount.output.rfind("mnt:[", 0), 0u) << mount.output;
}

TEST(InNetns, WithoutUnshareItSkipsWithTheReason) {
    // No unshare on the path: the program must not run on the machine's
    // ports; in-netns says why and exits with ctest's skip status.
    const CommandRun run = RunCommand("env PATH=/nonexistent /bin/sh " +
                                      std::string(QZ417_IN_NETNS) + " /bin/echo ran");
    EXPECT_EQ(run.status, 77) << run.output;
    EXPECT_EQ(run.output.find("ran"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("in-netns: skipped: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("unshare"), std::string::npos) << run.output;

    // A test listing binds nothing: it runs all the same.
    const CommandRun listing =
        RunCommand("env PATH=/nonexistent /bin/sh " + std::string(QZ417_IN_NETNS) +
                   " /bin/echo --gtest_list_tests");
    EXPECT_EQ(listing.status, 0) << listing.output;
    EXPECT_EQ(listing.output, "--gtest_list_tests\n");
}

} // namespace
