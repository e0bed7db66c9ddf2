// Profile output formats: CSV and PLY shapes, invalid points, float texts,
// and the text format delegating to the program's own writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "profile_output.h"

namespace qzctl {
namespace {

PacketBytes MakePacket(std::uint16_t counter) {
    PacketBytes p{};
    p[0] = static_cast<std::uint8_t>(counter);
    p[1] = static_cast<std::uint8_t>(counter >> 8);
    for (int i = 0; i < 1024; ++i) {
        const auto z = static_cast<std::int16_t>(i % 3 == 0 ? 0 : 16 * i); // every third invalid
        const auto x = static_cast<std::int16_t>(8 * (i - 512));
        const std::size_t at = 4 + 4 * static_cast<std::size_t>(i);
        p[at] = static_cast<std::uint8_t>(z);
        p[at + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(z) >> 8);
        p[at + 2] = static_cast<std::uint8_t>(x);
        p[at + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
    }
    return p;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST(ProfileOutput, FloatTextIsShortestRoundTrip) {
    EXPECT_EQ(FloatText(115.0f), "115");
    EXPECT_EQ(FloatText(-115.0f), "-115");
    EXPECT_EQ(FloatText(0.0152587890625f), "0.015258789");
}

TEST(ProfileOutput, RecordedProfileStoresInvalidPointsAsZero) {
    const PacketBytes packet = MakePacket(77);
    const qz::RecordedProfile r =
        qz::RecordProfile(qz::ProfilePacket(packet.data()), qz::ProfileScale{});
    EXPECT_EQ(r.number, 77);
    EXPECT_EQ(r.points[0].x, 0.0f); // zRaw 0: invalid
    EXPECT_EQ(r.points[0].z, 0.0f);
    EXPECT_FLOAT_EQ(r.points[1].x, 230.0f * 8 * (1 - 512) / 16384);
    EXPECT_FLOAT_EQ(r.points[1].z, 250.0f * 16 / 16384);
    EXPECT_EQ(ProfileTxt(MakePacket(77), qz::ProfileScale{}), qz::ProfileFileText(r));
}

TEST(ProfileOutput, CsvHasOneRowPerPoint) {
    const std::vector<PacketBytes> packets = {MakePacket(1), MakePacket(2)};
    const auto lines = Lines(ProfilesCsv(packets, qz::ProfileScale{}));
    ASSERT_EQ(lines.size(), 1u + 2048u);
    EXPECT_EQ(lines[0], "profile,point,valid,x_mm,z_mm");
    EXPECT_EQ(lines[1], "1,1,0,,");
    EXPECT_EQ(lines[2], "1,2,1," + FloatText(230.0f * 8 * (1 - 512) / 16384) + "," +
                            FloatText(250.0f * 16 / 16384));
    EXPECT_EQ(lines[1025].rfind("2,1,", 0), 0u);
}

TEST(ProfileOutput, PlyListsValidPointsWithTheirCount) {
    const std::vector<PacketBytes> packets = {MakePacket(1), MakePacket(2)};
    const auto lines = Lines(ProfilesPly(packets, qz::ProfileScale{}));
    const auto end = std::find(lines.begin(), lines.end(), "end_header");
    ASSERT_NE(end, lines.end());
    EXPECT_EQ(lines[0], "ply");
    // Points 0, 3, ..., 1023 (zRaw 0) and 512 (xRaw 0) are invalid: 681 per profile.
    EXPECT_NE(std::find(lines.begin(), end, "element vertex 1362"), end);
    EXPECT_EQ(static_cast<std::size_t>(lines.end() - end - 1), 1362u);
    EXPECT_NE(lines.back().find(" 1 "), std::string::npos); // y of the second profile
}

TEST(ProfileOutput, ZeroDiscreteValueGivesNoPoints) {
    qz::ProfileScale scale;
    scale.discreteValue = 0;
    const auto lines = Lines(ProfilesPly({MakePacket(1)}, scale));
    EXPECT_EQ(lines.back(), "end_header");
}

} // namespace
} // namespace qzctl
