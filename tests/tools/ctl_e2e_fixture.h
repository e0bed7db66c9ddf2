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
#include "wait.h"

namespace qz417::ctl::test {

using Block = std::array<std::uint8_t, 512>;

class CtlE2E : public ::testing::Test {
protected:
    static qz417::sim::EmulatorOptions Options() {
        qz417::sim::EmulatorOptions o;
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
            emulator_ = std::make_unique<qz417::sim::Emulator>(Options());
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

    void TearDown() override {
        emulator_.reset();
        if (!dir_.empty())
            std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // The block of scanner `index` once it equals `expected`, or as it is after
    // 2 s. A written block is not answered, so qz417ctl may exit before the
    // emulator's thread has applied it.
    Block configOnce(int index, const Block &expected) const {
        qz417::test::WaitUntil([&] { return emulator_->config(index) == expected; },
                               std::chrono::seconds(2));
        return emulator_->config(index);
    }
    // The same for the count of commands `code` that scanner `index` served.
    std::uint64_t servedOnce(int index, int code, std::uint64_t expected) const {
        qz417::test::WaitUntil([&] { return emulator_->commandsServed(index, code) == expected; },
                               std::chrono::seconds(2));
        return emulator_->commandsServed(index, code);
    }

    // stderr of a failed run: exactly one line starting with "qz417ctl: ".
    static void ExpectOneErrorLine(const CtlResult &r, const std::string &part) {
        EXPECT_EQ(r.err.rfind("qz417ctl: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    }

    std::unique_ptr<qz417::sim::Emulator> emulator_;
    std::string dir_;
};

} // namespace qz417::ctl::test
