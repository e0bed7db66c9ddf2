// The scale of the shown device is one value: readers on other threads,
// while the window thread writes one scale after another, always see one of
// the scales written, never parts of two.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/app_state.h"

namespace {

// Scale k: every field follows from k, so a mixture of two is recognisable.
qz417::ProfileScale ScaleNumber(std::uint16_t k) {
    qz417::ProfileScale s;
    s.rangeXEmr = k;
    s.rangeZ = static_cast<std::uint16_t>(k * 3u + 1u);
    s.discreteValue = static_cast<std::uint16_t>(k * 7u + 2u);
    s.errorValue = static_cast<std::int16_t>(-static_cast<int>(k % 30000u));
    return s;
}

bool IsAScaleWritten(const qz417::ProfileScale &s) {
    return s == ScaleNumber(s.rangeXEmr);
}

TEST(Scale, ReadersNeverSeeHalfOfANewScale) {
    qz417::SetCurrentScale(ScaleNumber(0));
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (!stop.load()) {
                if (!IsAScaleWritten(qz417::CurrentScale()))
                    torn.fetch_add(1);
                reads.fetch_add(1);
            }
        });
    // Two writers, as a description shown and a reset may overlap.
    auto write = [](std::uint16_t from) {
        for (std::uint16_t k = from; k < from + 20000; ++k)
            qz417::SetCurrentScale(ScaleNumber(k));
    };
    std::thread second(write, std::uint16_t{30000});
    write(1);
    second.join();
    // Bounded: the readers have run while the writers ran; some more reads.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const long seen = reads.load();
    while (reads.load() < seen + 1000 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    stop = true;
    for (std::thread &t : readers)
        t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 1000);
    EXPECT_TRUE(IsAScaleWritten(qz417::CurrentScale()));
}

TEST(Scale, ResetGivesTheDefaultScale) {
    qz417::SetCurrentScale(ScaleNumber(77));
    qz417::ResetAppState();
    EXPECT_EQ(qz417::CurrentScale(), qz417::ProfileScale{});
    EXPECT_EQ(RangeXEmr.load(), 230);
}

} // namespace
