// The profile text format delegating to the program's own writer.
#include <gtest/gtest.h>

#include "profile_output.h"

namespace qz417::ctl {
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

TEST(ProfileOutput, RecordedProfileStoresInvalidPointsAsZero) {
    const PacketBytes packet = MakePacket(77);
    const qz417::RecordedProfile r =
        qz417::RecordProfile(qz417::ProfilePacket(packet.data()), qz417::ProfileScale{});
    EXPECT_EQ(r.number, 77);
    EXPECT_EQ(r.points[0].x, 0.0f); // zRaw 0: invalid
    EXPECT_EQ(r.points[0].z, 0.0f);
    EXPECT_FLOAT_EQ(r.points[1].x, 230.0f * 8 * (1 - 512) / 16384);
    EXPECT_FLOAT_EQ(r.points[1].z, 250.0f * 16 / 16384);
    EXPECT_EQ(ProfileTxt(MakePacket(77), qz417::ProfileScale{}), qz417::ProfileFileText(r));
}

} // namespace
} // namespace qz417::ctl
