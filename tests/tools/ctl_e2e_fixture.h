// Two emulated scanners inside the test process (127.0.0.1 and 127.0.0.2,
// announcing to 127.0.0.1:6001), driven through the qz417ctl executable.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ctl_process.h"
#include "emulator.h"

namespace qzctltest {

using Block = std::array<std::uint8_t, 512>;

class CtlE2E : public ::testing::Test {
protected:
    static qzsim::EmulatorOptions Options() {
        qzsim::EmulatorOptions o;
        o.count = 2;
        o.announceIntervalMs = 50;
        // A scale other than the program's initial one, so that a profile
        // decoded with the wrong scale shows.
        o.description.rangeZ = 500;
        o.description.rangeXEmr = 300;
        o.description.discreteValue = 16000;
        return o;
    }

    void SetUp() override {
        // Another test program may still be releasing the ports: retry briefly.
        std::string error;
        for (int attempt = 0; attempt < 20; ++attempt) {
            emulator_ = std::make_unique<qzsim::Emulator>(Options());
            if (emulator_->start(&error))
                break;
            emulator_.reset();
            if (error.find("CAP_NET_BIND_SERVICE") != std::string::npos)
                GTEST_SKIP() << "cannot bind port 417 here: " << error;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        if (!emulator_)
            FAIL() << error;
        dir_ = MakeTempDir();
    }

    // A parameter write has no reply: the emulator may take it in just after
    // qz417ctl has exited. The block of scanner k once it equals `expected`, or
    // what it holds after 2 s.
    Block ConfigOnceWritten(int k, const Block &expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        Block now = emulator_->config(k);
        while (now != expected && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            now = emulator_->config(k);
        }
        return now;
    }

    void TearDown() override {
        emulator_.reset();
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // stderr of a failed run: exactly one line starting with "qz417ctl: ".
    static void ExpectOneErrorLine(const CtlResult &r, const std::string &part) {
        EXPECT_EQ(r.err.rfind("qz417ctl: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    }

    std::unique_ptr<qzsim::Emulator> emulator_;
    std::string dir_;
};

} // namespace qzctltest
