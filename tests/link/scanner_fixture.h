// Starting a fake scanner in a test, or skipping the test where port 417
// cannot be bound, and a connection that is closed when the test ends.
#ifndef QZ417_TESTS_LINK_SCANNER_FIXTURE_H
#define QZ417_TESTS_LINK_SCANNER_FIXTURE_H

#include "fake_scanner.h"
#include "qz417link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

// Declares `var` as a running FakeScanner with `options`; skips the test when
// the system does not permit binding port 417.
#define QZ417_START_SCANNER(var, options)                                                          \
    auto var = std::make_unique<qz417::test::FakeScanner>(options);                                \
    if (var->bindError() == EACCES || var->bindError() == EPERM)                                   \
        GTEST_SKIP() << "binding TCP port 417 is not permitted here (needs root or "               \
                        "CAP_NET_BIND_SERVICE)";                                                   \
    ASSERT_EQ(var->bindError(), 0)                                                                 \
        << "cannot listen on port 417: " << std::strerror(var->bindError())

namespace qz417::test {

// A command connection, closed when it goes out of scope.
class Connection {
public:
    explicit Connection(const FakeScanner &scanner) {
        const DeviceAnnouncement device = scanner.announcement();
        fd_ = QZ417_Connect(&device);
    }
    ~Connection() { close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int32_t fd() const { return fd_; }
    bool ok() const { return fd_ > 0; }
    int32_t close() {
        const int32_t result = QZ417_Disconnect(fd_);
        fd_ = -1;
        return result;
    }

private:
    int32_t fd_ = -1;
};

} // namespace qz417::test

#endif // QZ417_TESTS_LINK_SCANNER_FIXTURE_H
