// Emulated scanners started inside the test process, reached through the
// device link library exactly as the setup program reaches a real scanner.
#pragma once

#include "emulator.h"
#include "qz417link.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace qz417::sim::e2e {

using Block = std::array<std::uint8_t, 512>;
using Packet = std::array<std::uint8_t, QZ417_PACKET_SIZE>;

inline std::uint16_t u16(const std::uint8_t *p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}

// A list node built from the bytes scanner k announces.
inline DeviceAnnouncement recordOf(const std::array<std::uint8_t, 268> &a) {
    DeviceAnnouncement d{};
    d.type = u16(a.data());
    std::memcpy(d.ip, &a[2], 4);
    std::memcpy(d.mac, &a[6], 6);
    std::memcpy(d.description, &a[12], 255);
    return d;
}

class EmulatorTest : public ::testing::Test {
protected:
    virtual EmulatorOptions options() const {
        EmulatorOptions o;
        o.count = 3;
        o.announceIntervalMs = 50;
        return o;
    }

    void SetUp() override {
        emulator_ = std::make_unique<Emulator>(options());
        std::string error;
        if (!emulator_->start(&error)) {
            if (error.find("CAP_NET_BIND_SERVICE") != std::string::npos)
                GTEST_SKIP() << "cannot bind port 417 here: " << error;
            FAIL() << error;
        }
    }
    void TearDown() override {
        for (int s : sockets_)
            QZ417_Disconnect(s);
        emulator_.reset();
    }

    // Connects to scanner k through the library; the socket is closed at the end.
    int connect(int k) {
        const DeviceAnnouncement d = recordOf(emulator_->announcement(k));
        const int s = QZ417_Connect(&d);
        EXPECT_GT(s, 0) << "connect to " << emulator_->address(k);
        if (s > 0)
            sockets_.push_back(s);
        return s;
    }
    void disconnect(int s) {
        std::erase(sockets_, s);
        QZ417_Disconnect(s);
    }

    Emulator &emu() { return *emulator_; }

private:
    std::unique_ptr<Emulator> emulator_;
    std::vector<int> sockets_;
};

inline double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace qz417::sim::e2e
