// Small POSIX socket helpers shared by the emulator's servers.
#pragma once

#include "config_block.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qz417::sim {

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&o) noexcept : fd_(o.release()) {}
    Fd &operator=(Fd &&o) noexcept {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

sockaddr_in socketAddress(const Ipv4 &ip, std::uint16_t port);
bool parseIpv4(const std::string &text, Ipv4 *out);
std::string endpointText(const sockaddr_in &a); // "a.b.c.d:port"

// Whole-buffer transfers on a blocking socket; false on error or end of stream.
bool sendAll(int fd, const std::uint8_t *data, std::size_t size);
bool recvAll(int fd, std::uint8_t *data, std::size_t size);

// Path of the running program, for messages that tell how to grant rights.
std::string selfExecutable();

} // namespace qz417::sim
