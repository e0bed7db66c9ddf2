// The wire codec and the device-list collector, without sockets.
#include "device_list.h"
#include "loopback_peers.h"
#include "wire_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace wire = qz417::link::wire;
using qz417::link::AnnouncementCollector;
using qz417::link::NodeAllocator;
using qz417::test::MakeAnnouncement;

namespace {

std::vector<uint8_t> Hex(const std::string &text) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size() + 1; i += 3)
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> Bytes(const wire::HeaderBytes &header) {
    return std::vector<uint8_t>(header.begin(), header.end());
}

struct HeaderCase {
    const char *name;
    wire::CommandHeader header;
    const char *bytes;
};

TEST(WireCodec, HeadersEncodeLittleEndianByteForByte) {
    const HeaderCase cases[] = {
        {"profile", wire::MakeRequest(wire::Command::GetResult),
         "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"second image chunk", wire::MakeImageChunkRequest(32768),
         "03 00 00 00 00 00 00 00 00 80 00 00 00 80 00 00"},
        {"write parameters", wire::MakeWriteParamsRequest(),
         "05 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00"},
        {"flush mode 1", wire::MakeFlushRequest(1),
         "06 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
        {"flush mode -1 passes unchanged", wire::MakeFlushRequest(-1),
         "06 00 00 00 00 00 00 00 FF FF FF FF 00 00 00 00"},
        {"all four fields", wire::CommandHeader{0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D},
         "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.name);
        const wire::HeaderBytes encoded = wire::EncodeCommandHeader(c.header);
        EXPECT_EQ(Bytes(encoded), Hex(c.bytes));
        EXPECT_EQ(wire::DecodeCommandHeader(encoded), c.header);
    }
}

TEST(WireCodec, ImageChunksCoverTheImageInTenRequests) {
    uint32_t offset = 0;
    int requests = 0;
    while (offset < wire::kImageSize) {
        const wire::CommandHeader chunk = wire::MakeImageChunkRequest(offset);
        EXPECT_EQ(chunk.command, 3u);
        EXPECT_EQ(chunk.length, 0u);
        EXPECT_EQ(chunk.offset, offset);
        EXPECT_EQ(chunk.size, 32768u);
        offset += chunk.size;
        ++requests;
    }
    EXPECT_EQ(requests, 10);
    EXPECT_EQ(offset, wire::kImageSize);
    // A request near the end asks only for what is left.
    EXPECT_EQ(wire::MakeImageChunkRequest(wire::kImageSize - 100).size, 100u);
}

TEST(WireCodec, Low16AndNoConnection) {
    EXPECT_EQ(wire::Low16(6003 + 65536), 6003);
    EXPECT_EQ(wire::Low16(-1), 0xFFFF);
    EXPECT_EQ(wire::Low16(65536), 0);
    EXPECT_TRUE(wire::IsNoConnection(0));
    EXPECT_TRUE(wire::IsNoConnection(-1));
    EXPECT_FALSE(wire::IsNoConnection(1));
    EXPECT_FALSE(wire::IsNoConnection(-2));
}

TEST(WireCodec, DottedAddressUsesUnsignedBytes) {
    const uint8_t ip[4] = {192, 168, 0, 255};
    char text[16];
    wire::FormatDottedAddress(ip, text);
    EXPECT_STREQ(text, "192.168.0.255");
    const uint8_t widest[4] = {255, 255, 255, 255};
    wire::FormatDottedAddress(widest, text);
    EXPECT_STREQ(text, "255.255.255.255");
}

TEST(WireCodec, AnnouncementDecodesFieldsAndClearsReservedAndNext) {
    std::vector<uint8_t> datagram = MakeAnnouncement(0, {10, 1, 2, 3}, 0x5A, 0xEE);
    datagram[0] = 0xA1; // 417 = 0x01A1, little-endian
    datagram[1] = 0x01;
    DeviceAnnouncement node;
    std::memset(&node, 0xCC, sizeof node);
    wire::DecodeAnnouncement(std::span<const uint8_t, 268>(datagram.data(), 268), node);
    EXPECT_EQ(node.type, 417);
    EXPECT_EQ(node.ip[0], 10);
    EXPECT_EQ(node.ip[3], 3);
    EXPECT_EQ(node.mac[0], 0x5A);
    EXPECT_EQ(node.mac[5], 0x5A + 0x50);
    EXPECT_EQ(node.description[0], 0x5A);
    EXPECT_EQ(node.description[254], 0x5A);
    EXPECT_EQ(node.reserved, 0);
    EXPECT_EQ(node.next, nullptr);
    const auto again = wire::EncodeAnnouncement(node);
    EXPECT_TRUE(std::equal(again.begin(), again.end() - 1, datagram.begin()));
}

TEST(WireCodec, WantedAnnouncementNeedsExactSizeAndMatchingType) {
    struct Case {
        std::size_t size;
        uint16_t type;
        uint16_t filter;
        bool wanted;
    } const cases[] = {
        {268, 417, 417, true},       {268, 418, 417, false}, {268, 418, 0xFFFF, true},
        {267, 417, 417, false},      {269, 417, 417, false}, {0, 417, 0xFFFF, false},
        {268, 0xFFFF, 0xFFFF, true}, {268, 418, 418, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.size << " bytes, type " << c.type << ", filter " << c.filter);
        std::vector<uint8_t> datagram = MakeAnnouncement(c.type, {10, 0, 0, 1}, 1);
        datagram.resize(c.size, 0);
        EXPECT_EQ(wire::IsWantedAnnouncement(datagram, c.filter), c.wanted);
    }
}

TEST(WireCodec, KnownDeviceComparesOnlyTheFourAddressBytes) {
    DeviceAnnouncement second{};
    second.ip[0] = 10;
    second.ip[3] = 7;
    DeviceAnnouncement first{};
    first.ip[0] = 10;
    first.ip[3] = 6;
    first.next = &second;

    EXPECT_TRUE(wire::IsKnownDevice(MakeAnnouncement(999, {10, 0, 0, 7}, 9).data(), &first));
    EXPECT_FALSE(wire::IsKnownDevice(MakeAnnouncement(417, {10, 0, 0, 8}, 0).data(), &first));
    // Each address byte counts on its own: the same bytes in another order differ.
    EXPECT_FALSE(wire::IsKnownDevice(MakeAnnouncement(417, {7, 0, 0, 10}, 0).data(), &first));
    EXPECT_FALSE(wire::IsKnownDevice(nullptr, &first));
    EXPECT_FALSE(wire::IsKnownDevice(MakeAnnouncement(417, {10, 0, 0, 7}, 0).data(), nullptr));
}

// An allocator that hands out a fixed number of nodes, then reports exhaustion.
int nodesLeft = 0;
int nodesLive = 0;
DeviceAnnouncement *LimitedAllocate() {
    if (nodesLeft == 0)
        return nullptr;
    --nodesLeft;
    ++nodesLive;
    return static_cast<DeviceAnnouncement *>(std::calloc(1, sizeof(DeviceAnnouncement)));
}
void LimitedRelease(DeviceAnnouncement *node) {
    --nodesLive;
    std::free(node);
}

std::vector<int> LastAddressBytes(const DeviceAnnouncement *list) {
    std::vector<int> bytes;
    for (; list != nullptr; list = list->next)
        bytes.push_back(list->ip[3]);
    return bytes;
}

TEST(AnnouncementCollector, KeepsFirstArrivalOrderAndDropsRepeatsAndZeroAddress) {
    nodesLeft = 100;
    nodesLive = 0;
    const NodeAllocator allocator{&LimitedAllocate, &LimitedRelease};
    AnnouncementCollector collector(0xFFFF, allocator);
    using Outcome = AnnouncementCollector::Outcome;
    EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {10, 0, 0, 3}, 1)), Outcome::Added);
    EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {0, 0, 0, 0}, 2)), Outcome::Ignored);
    EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {10, 0, 0, 1}, 3)), Outcome::Added);
    EXPECT_EQ(collector.Offer(MakeAnnouncement(418, {10, 0, 0, 3}, 4)), Outcome::Ignored);
    EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {10, 0, 0, 2}, 5)), Outcome::Added);
    DeviceAnnouncement *list = collector.Take();
    EXPECT_EQ(LastAddressBytes(list), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(list->description[0], 1); // the first announcement's bytes stay
    qz417::link::FreeDeviceList(list, allocator);
    EXPECT_EQ(nodesLive, 0);
}

TEST(AnnouncementCollector, ExhaustedMemoryKeepsTheListSoFar) {
    nodesLeft = 2;
    nodesLive = 0;
    const NodeAllocator allocator{&LimitedAllocate, &LimitedRelease};
    {
        AnnouncementCollector collector(417, allocator);
        using Outcome = AnnouncementCollector::Outcome;
        EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {10, 0, 0, 1}, 1)), Outcome::Added);
        EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {10, 0, 0, 2}, 1)), Outcome::Added);
        EXPECT_EQ(collector.Offer(MakeAnnouncement(417, {10, 0, 0, 3}, 1)), Outcome::OutOfMemory);
        EXPECT_EQ(nodesLive, 2);
        // Nodes never taken are freed with the collector.
    }
    EXPECT_EQ(nodesLive, 0);
}

} // namespace
