// Handles the library gives out: never descriptor 0, always close-on-exec.
#include "scanner_fixture.h"

#include "qz417link.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using qz417::test::Connection;
using qz417::test::FakeScannerOptions;

namespace {

bool IsCloseOnExec(int fd) {
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

TEST(Descriptors, HandlesAreCloseOnExec) {
    const int32_t udp = QZ417_UDP_Connect(0); // any free port
    ASSERT_GT(udp, 0);
    EXPECT_TRUE(IsCloseOnExec(udp));
    QZ417_UDP_Disconnect(udp);

    FakeScannerOptions options;
    options.address = "127.0.0.70";
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    EXPECT_TRUE(IsCloseOnExec(connection.fd()));
}

// Child exit bits: which check failed.
enum : int {
    kUdpGotZero = 1,
    kZeroLeftOpen = 2,
    kTcpGotZero = 4,
    kTcpFailed = 8,
    kUdpFailed = 16,
};

TEST(Descriptors, SocketNumberedZeroIsNeverHandedOut) {
    FakeScannerOptions options;
    options.address = "127.0.0.71";
    QZ417_START_SCANNER(scanner, options);
    const DeviceAnnouncement device = scanner->announcement();

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As in a process started with standard input closed: the next
        // socket the system creates is numbered 0.
        close(0);
        int failed = 0;
        const int32_t udp = QZ417_UDP_Connect(0);
        if (udp == 0)
            failed |= kUdpGotZero;
        if (udp < 0)
            failed |= kUdpFailed;
        if (fcntl(0, F_GETFD) != -1)
            failed |= kZeroLeftOpen;
        const int32_t tcp = QZ417_Connect(&device);
        if (tcp == 0)
            failed |= kTcpGotZero;
        if (tcp < 0)
            failed |= kTcpFailed;
        if (fcntl(0, F_GETFD) != -1)
            failed |= kZeroLeftOpen;
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks (bits): " << WEXITSTATUS(status);
}

} // namespace
