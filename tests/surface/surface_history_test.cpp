// The surface view's history: binning a profile into height-map columns,
// newest first, the depth, and re-binning when the X extent changes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "surface/surface_history.h"

namespace qz417 {
namespace {

using Packet = std::array<std::uint8_t, kProfilePacketSize>;

void SetPoint(Packet &p, int i, std::int16_t z, std::int16_t x) {
    const auto base = static_cast<std::size_t>(4 + 4 * i);
    p[base] = static_cast<std::uint8_t>(z);
    p[base + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(z) >> 8);
    p[base + 2] = static_cast<std::uint8_t>(x);
    p[base + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
}

Packet Counted(std::uint16_t n) {
    Packet p{};
    p[0] = static_cast<std::uint8_t>(n);
    p[1] = static_cast<std::uint8_t>(n >> 8);
    p[2] = p[0];
    p[3] = p[1];
    SetPoint(p, 0, static_cast<std::int16_t>(1000 + n), 100);
    return p;
}

// With the initial scale 1 raw X unit is 230/16384 mm, 1 raw Z unit 250/16384 mm.
constexpr SurfaceColumns kTen{-100, 100, 10}; // 20 mm per column

TEST(SurfaceBinning, NearestZPerColumnNaNWhereNoPoint) {
    Packet p{};
    SetPoint(p, 0, 8192, -5000); // X -70.2, Z 125 -> column 1
    SetPoint(p, 1, 4096, -5100); // X -71.6, Z 62.5 -> column 1, nearer
    SetPoint(p, 2, 8192, 0);     // invalid (X is the error value)
    SetPoint(p, 3, 1000, 8192);  // X 115: outside the columns
    SetPoint(p, 4, 16384, 100);  // X 1.4, Z 250 -> column 5
    std::array<float, 10> row{};
    BinProfile(p.data(), ProfileScale{}, kTen, row.data());
    EXPECT_FLOAT_EQ(row[1], 62.5f);
    EXPECT_FLOAT_EQ(row[5], 250.0f);
    int empty = 0;
    for (float v : row)
        empty += std::isnan(v) ? 1 : 0;
    EXPECT_EQ(empty, 8);
    EXPECT_EQ(kTen.ColumnOf(-100), 0);
    EXPECT_EQ(kTen.ColumnOf(99.999), 9);
    EXPECT_EQ(kTen.ColumnOf(100), -1);
    EXPECT_DOUBLE_EQ(kTen.CentreOf(0), -90);
}

TEST(SurfaceHistory, NewestFirstAndAtMostDepthRows) {
    SurfaceHistory h(10, kTen);
    for (std::uint16_t n = 0; n < 25; ++n) {
        const Packet p = Counted(n);
        h.Add(p.data(), ProfileScale{}, n * 100);
    }
    ASSERT_EQ(h.size(), 10u);
    EXPECT_EQ(h.added(), 25u);
    for (std::size_t age = 0; age < 10; ++age) {
        const auto n = static_cast<std::uint16_t>(24 - age);
        EXPECT_EQ(h.Row(age).measurementCount, n);
        EXPECT_EQ(h.Row(age).packetCount, n);
        EXPECT_EQ(h.Row(age).monotonicNs, n * 100);
        EXPECT_EQ(h.Row(age).packet, Counted(n));
        EXPECT_FLOAT_EQ(h.Cells(age)[5], static_cast<float>(250.0 * (1000 + n) / 16384));
    }
}

TEST(SurfaceHistory, ChangingTheDepthKeepsTheNewest) {
    SurfaceHistory h(50, kTen);
    for (std::uint16_t n = 0; n < 30; ++n) {
        const Packet p = Counted(n);
        h.Add(p.data(), ProfileScale{}, 0);
    }
    h.SetDepth(12);
    ASSERT_EQ(h.size(), 12u);
    EXPECT_EQ(h.Row(0).measurementCount, 29);
    EXPECT_EQ(h.Row(11).measurementCount, 18);
    h.SetDepth(100); // growing keeps what is there
    ASSERT_EQ(h.size(), 12u);
    EXPECT_EQ(h.Row(0).measurementCount, 29);
    const Packet p = Counted(30);
    h.Add(p.data(), ProfileScale{}, 0);
    EXPECT_EQ(h.size(), 13u);
    EXPECT_EQ(h.Row(0).measurementCount, 30);
    EXPECT_EQ(h.Row(12).measurementCount, 18);
    EXPECT_FLOAT_EQ(h.Cells(12)[5], static_cast<float>(250.0 * 1018 / 16384));
    h.SetDepth(1); // clamped to the minimum
    EXPECT_EQ(h.depth(), SurfaceHistory::kMinDepth);
    EXPECT_EQ(h.Row(0).measurementCount, 30);
}

TEST(SurfaceHistory, NewColumnsRebinEachRowWithItsOwnScale) {
    SurfaceHistory h(10, kTen);
    Packet p{};
    SetPoint(p, 0, 8192, 4096); // X 57.5 mm with the initial scale
    h.Add(p.data(), ProfileScale{}, 0);
    ProfileScale half;
    half.rangeXEmr = 115; // the same raw X is 28.75 mm
    h.Add(p.data(), half, 0);
    EXPECT_FALSE(std::isnan(h.Cells(1)[7])); // 57.5 -> column 7
    EXPECT_FALSE(std::isnan(h.Cells(0)[6])); // 28.75 -> column 6
    h.SetColumns(SurfaceColumns{0, 100, 4}); // 25 mm per column
    EXPECT_EQ(h.columns().count, 4);
    EXPECT_FLOAT_EQ(h.Cells(1)[2], 125.0f);
    EXPECT_FLOAT_EQ(h.Cells(0)[1], 125.0f);
    EXPECT_TRUE(std::isnan(h.Cells(0)[2]));
}

} // namespace
} // namespace qz417
