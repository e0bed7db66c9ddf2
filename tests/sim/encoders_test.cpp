// The emulator's own encoders and decoders, byte for byte, without sockets.
#include "announcement.h"
#include "command_header.h"
#include "config_block.h"
#include "profile_packet.h"

#include <gtest/gtest.h>

namespace qz417::sim {
namespace {

TEST(AnnouncementEncoding, FieldsSitAtTheirOffsetsLittleEndian) {
    DescriptionOptions d;
    d.modification = 0x0F;
    d.baseDistance = 0x1234;
    d.rangeZ = 250;
    d.rangeXSmr = 140;
    d.rangeXEmr = 230;
    d.discreteValue = 16384;
    d.errorValue = -32768;
    d.firmwareVersion = 0x01020304;
    const Announcement a =
        encodeAnnouncement(417, Ipv4{{127, 0, 0, 2}}, macFor(1), encodeDescription(d, 12345));
    EXPECT_EQ(a[0], 0xA1);
    EXPECT_EQ(a[1], 0x01);
    EXPECT_EQ((std::array<std::uint8_t, 4>{a[2], a[3], a[4], a[5]}),
              (std::array<std::uint8_t, 4>{127, 0, 0, 2}));
    EXPECT_EQ((std::array<std::uint8_t, 6>{a[6], a[7], a[8], a[9], a[10], a[11]}),
              (MacAddress{0x02, 0x51, 0x5A, 0x04, 0x17, 0x01}));
    const std::uint8_t *desc = &a[kDescriptionOffset];
    EXPECT_EQ(desc[0], 0x0F);
    EXPECT_EQ(desc[1], 0x39); // 12345 = 0x003039
    EXPECT_EQ(desc[2], 0x30);
    EXPECT_EQ(desc[3], 0x00);
    EXPECT_EQ(desc[4], 0x34);
    EXPECT_EQ(desc[5], 0x12);
    EXPECT_EQ(getU16(desc + 6), 250);
    EXPECT_EQ(getU16(desc + 8), 140);
    EXPECT_EQ(getU16(desc + 10), 230);
    EXPECT_EQ(getU16(desc + 12), 16384);
    EXPECT_EQ(desc[14], 0x00);
    EXPECT_EQ(desc[15], 0x80);
    EXPECT_EQ(desc[16], 0x04);
    EXPECT_EQ(desc[19], 0x01);
    EXPECT_EQ(a[267], 0);
}

TEST(AnnouncementEncoding, SerialNumbersAndLargeSerialTruncation) {
    DescriptionOptions d;
    EXPECT_EQ(serialFor(d, 0), 10000u);
    EXPECT_EQ(serialFor(d, 2), 10002u);
    d.serialNumber = 500;
    EXPECT_EQ(serialFor(d, 3), 503u);
    const Description big = encodeDescription(d, 0x01FFFFFF);
    EXPECT_EQ(getU24(&big[1]), 0xFFFFFFu);
    EXPECT_EQ(big[4], d.baseDistance & 0xFF); // the serial did not spill over
}

TEST(AnnouncementEncoding, MalformedVariantsAreTheAdvertisedOnes) {
    const Announcement a = encodeAnnouncement(417, Ipv4{{127, 0, 0, 3}}, macFor(2),
                                              encodeDescription(DescriptionOptions{}, 10002));
    const auto bad = malformedAnnouncements(a, 2);
    ASSERT_EQ(bad.size(), 5u);
    EXPECT_EQ(bad[0].size(), 267u);
    EXPECT_EQ(bad[1].size(), 269u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), bad[2].begin(), bad[2].end()));
    ASSERT_EQ(bad[3].size(), 268u);
    EXPECT_EQ(bad[3][2] | bad[3][3] | bad[3][4] | bad[3][5], 0);
    ASSERT_EQ(bad[4].size(), 268u);
    EXPECT_EQ(getU16(bad[4].data()), 418);
    EXPECT_EQ((std::array<std::uint8_t, 4>{bad[4][2], bad[4][3], bad[4][4], bad[4][5]}),
              (std::array<std::uint8_t, 4>{127, 0, 1, 3}));
}

TEST(ConfigBlock, AddressesAreStoredLastOctetFirst) {
    ConfigBlock b{};
    writeAddress(b, cfg::netAddress, Ipv4{{192, 168, 1, 30}});
    writeAddress(b, cfg::netMask, Ipv4{{255, 255, 255, 0}});
    EXPECT_EQ((std::array<std::uint8_t, 8>{b[18], b[19], b[20], b[21], b[22], b[23], b[24], b[25]}),
              (std::array<std::uint8_t, 8>{30, 1, 168, 192, 0, 255, 255, 255}));
    EXPECT_EQ(readAddress(b, cfg::netAddress).text(), "192.168.1.30");
}

TEST(ConfigBlock, FactoryBlockFieldsAndFiller) {
    const ConfigBlock b = defaultConfig(2, Ipv4{{127, 0, 0, 3}}, 300);
    const ConfigFields f = decodeConfig(b);
    EXPECT_EQ(f.laserLevel, 16);
    EXPECT_EQ(f.integrationUs, 500);
    EXPECT_EQ(f.windowLeft, 0);
    EXPECT_EQ(f.windowWidth, 255);
    EXPECT_EQ(f.windowTop, 0);
    EXPECT_EQ(f.windowHeight, 255);
    EXPECT_EQ(f.angleUnits, 0);
    EXPECT_FALSE(f.measureSync);
    EXPECT_EQ(f.udpAddress.text(), "127.0.0.1");
    EXPECT_EQ(f.udpPort, 6003);
    EXPECT_EQ(b[30], 0x73);
    EXPECT_EQ(b[31], 0x17);
    EXPECT_EQ(f.udpFrequency, 255); // clamped to what the byte can hold
    EXPECT_EQ(readAddress(b, cfg::netAddress).text(), "127.0.0.3");
    EXPECT_EQ(readAddress(b, cfg::netMask).text(), "255.0.0.0");
    // Bytes without meaning are never zero, so losing them shows.
    for (std::size_t i : {std::size_t{3}, std::size_t{4}, std::size_t{13}})
        EXPECT_NE(b[i], 0) << i;
    for (std::size_t i = cfg::firstFreeByte; i < kConfigSize; ++i)
        ASSERT_NE(b[i], 0) << i;
    EXPECT_NE(b[cfg::syncFlags] & 0x80, 0);
    EXPECT_NE(defaultConfig(0, Ipv4{{127, 0, 0, 1}}, 0)[100], b[100]); // differs per scanner
}

TEST(CommandHeaderDecoding, WireExampleOfTheSecondImageChunk) {
    const std::uint8_t bytes[16] = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0x80, 0, 0};
    const CommandHeader h = decodeHeader(bytes);
    EXPECT_EQ(h.command, 3u);
    EXPECT_EQ(h.length, 0u);
    EXPECT_EQ(h.offset, 32768u);
    EXPECT_EQ(h.size, 32768u);
    EXPECT_EQ(checkHeader(h), HeaderCheck::ok);
    EXPECT_EQ(replySize(h), 32768u);
}

TEST(CommandHeaderDecoding, ChecksAndReplySizes) {
    struct Row {
        CommandHeader h;
        HeaderCheck check;
        std::size_t reply;
    };
    const Row rows[] = {
        {{0, 0, 0, 0}, HeaderCheck::unknownCommand, 0},
        {{8, 0, 0, 0}, HeaderCheck::unknownCommand, 0},
        {{1, 0, 0, 0}, HeaderCheck::ok, 4100},
        {{1, 512, 0, 0}, HeaderCheck::wrongLength, 4100},
        {{2, 0, 0, 0}, HeaderCheck::ok, 0},
        {{3, 0, 294912, 32768}, HeaderCheck::ok, 32768},
        {{3, 0, 294913, 32768}, HeaderCheck::badImageRange, 32768},
        {{3, 0, 0, 0}, HeaderCheck::badImageRange, 0},
        {{3, 0, 0xFFFFFFFFu, 2}, HeaderCheck::badImageRange, 2}, // no wrap-around
        {{4, 0, 0, 0}, HeaderCheck::ok, 512},
        {{5, 512, 0, 0}, HeaderCheck::ok, 0},
        {{5, 0, 0, 0}, HeaderCheck::wrongLength, 0},
        {{5, 511, 0, 0}, HeaderCheck::wrongLength, 0},
        {{6, 0, 1, 0}, HeaderCheck::ok, 2},
        {{7, 0, 0, 0}, HeaderCheck::ok, 2},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(checkHeader(r.h), r.check) << "command " << r.h.command;
        EXPECT_EQ(replySize(r.h), r.reply) << "command " << r.h.command;
    }
}

TEST(ProfilePacketEncoding, CountersThenZAndXPerPoint) {
    RawProfile points{};
    points[0] = {-1, 0x1234};
    points[1023] = {-32768, 32767};
    PacketBytes out{};
    encodeProfilePacket(0xABCD, 0x0102, points, out.data());
    EXPECT_EQ(out[0], 0xCD);
    EXPECT_EQ(out[1], 0xAB);
    EXPECT_EQ(out[2], 0x02);
    EXPECT_EQ(out[3], 0x01);
    EXPECT_EQ(out[4], 0xFF);
    EXPECT_EQ(out[5], 0xFF);
    EXPECT_EQ(out[6], 0x34);
    EXPECT_EQ(out[7], 0x12);
    EXPECT_EQ(out[4096], 0x00);
    EXPECT_EQ(out[4097], 0x80);
    EXPECT_EQ(out[4098], 0xFF);
    EXPECT_EQ(out[4099], 0x7F);
    setPacketCount(out.data(), 65535);
    EXPECT_EQ(getU16(&out[2]), 65535);
    EXPECT_EQ(getU16(&out[0]), 0xABCD);
}

} // namespace
} // namespace qz417::sim
