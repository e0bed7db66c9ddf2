// One command connection to a scanner, closed when the object goes. Every
// exchange either succeeds or throws a Failure whose line says what failed
// (no scanner at the address, time-out, connection closed).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device_address.h"

namespace qzctl {

class ScannerConnection {
public:
    explicit ScannerConnection(const Ipv4 &ip);
    ~ScannerConnection();
    ScannerConnection(const ScannerConnection &) = delete;
    ScannerConnection &operator=(const ScannerConnection &) = delete;

    std::array<std::uint8_t, QZ417_CONFIG_SIZE> readParams();
    void writeParams(const std::array<std::uint8_t, QZ417_CONFIG_SIZE> &block);
    void flushParams(int mode); // QZ417_FLUSH_STORE or QZ417_FLUSH_DEFAULTS
    std::array<std::uint8_t, QZ417_PACKET_SIZE> getResult();
    std::vector<std::uint8_t> getImage(); // QZ417_IMAGE_SIZE bytes
    std::int16_t calcAngle();

    const std::string &address() const { return address_; }

private:
    [[noreturn]] void fail(const std::string &what) const;

    std::string address_;
    std::int32_t socket_ = -1;
};

} // namespace qzctl
