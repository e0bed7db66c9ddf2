// Discovery on UDP port 6001, fed by a sender on loopback.
#include "loopback_peers.h"

#include "qz417link.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using qz417::test::MakeAnnouncement;
using qz417::test::MillisecondsSince;
using namespace std::chrono_literals;

namespace {

constexpr uint16_t kSearchPort = QZ417_SEARCH_PORT;

// What a list node should hold: last address byte, type, description byte.
struct Expected {
    int last;
    uint16_t type;
    uint8_t fill;
};

struct Scenario {
    const char *name;
    int32_t filter;
    std::vector<std::vector<uint8_t>> datagrams; // sent in this order
    std::vector<Expected> list;
};

std::vector<uint8_t> Resized(std::vector<uint8_t> datagram, std::size_t size) {
    datagram.resize(size, 0x77);
    return datagram;
}

// Emulated scanners, or these tests run by another build at the same time,
// may announce themselves during a test; only nodes from this process's own
// addresses 10.a.b.x (a.b from the process id) count.
const uint8_t kMid1 = static_cast<uint8_t>(getpid() >> 8);
const uint8_t kMid2 = static_cast<uint8_t>(getpid());

std::vector<uint8_t> Announce(uint16_t type, uint8_t last, uint8_t fill, uint8_t reserved = 0) {
    return MakeAnnouncement(type, {10, kMid1, kMid2, last}, fill, reserved);
}

bool IsTestAddress(const DeviceAnnouncement *node) {
    return node->ip[0] == 10 && node->ip[1] == kMid1 && node->ip[2] == kMid2;
}

const DeviceAnnouncement *NextTestNode(const DeviceAnnouncement *node) {
    while (node != nullptr && !IsTestAddress(node))
        node = node->next;
    return node;
}

// Runs one search of `timeMs`, sending the datagrams once it listens.
DeviceAnnouncement *SearchWhileSending(int32_t filter, int32_t timeMs,
                                       const std::vector<std::vector<uint8_t>> &datagrams) {
    auto search = std::async(std::launch::async, [=] { return QZ_Search(filter, timeMs); });
    if (qz417::test::WaitForUdpPortBound(kSearchPort, 1s)) {
        qz417::test::UdpSender sender;
        // One at a time, each read before the next is sent: in the order
        // given, and never more than the receive buffer holds.
        for (const auto &datagram : datagrams) {
            sender.send(datagram, kSearchPort);
            qz417::test::WaitUntil([] { return qz417::test::UdpBytesQueued(kSearchPort) == 0; },
                                   1s);
        }
    }
    return search.get();
}

TEST(Discovery, ListsScannersByFirstArrivalAfterAllChecks) {
    const Scenario scenarios[] = {
        {"repeat from one address keeps the first",
         -1,
         {Announce(417, 1, 0x11), Announce(418, 1, 0x22)},
         {{1, 417, 0x11}}},
        {"address 0.0.0.0 is dropped",
         -1,
         {MakeAnnouncement(417, {0, 0, 0, 0}, 0x11), Announce(417, 2, 0x22)},
         {{2, 417, 0x22}}},
        {"only exactly 268 bytes count",
         -1,
         {Resized(Announce(417, 3, 1), 267), Resized(Announce(417, 4, 2), 269),
          Resized(Announce(417, 5, 3), 4100), Announce(417, 6, 4)},
         {{6, 417, 4}}},
        {"filter 417 drops type 418",
         417,
         {Announce(418, 7, 1), Announce(417, 8, 2)},
         {{8, 417, 2}}},
        {"filter -1 lists every type",
         -1,
         {Announce(418, 7, 1), Announce(417, 8, 2)},
         {{7, 418, 1}, {8, 417, 2}}},
        {"only the filter's low 16 bits count",
         418 + 65536,
         {Announce(418, 7, 1), Announce(417, 8, 2)},
         {{7, 418, 1}}},
        {"order of first arrival",
         -1,
         {Announce(417, 30, 1), Announce(417, 10, 2), Announce(417, 30, 3), Announce(417, 20, 4)},
         {{30, 417, 1}, {10, 417, 2}, {20, 417, 4}}},
    };
    for (const Scenario &s : scenarios) {
        SCOPED_TRACE(s.name);
        DeviceAnnouncement *list = SearchWhileSending(s.filter, 300, s.datagrams);
        std::size_t index = 0;
        for (const DeviceAnnouncement *node = NextTestNode(list); node != nullptr;
             node = NextTestNode(node->next), ++index) {
            ASSERT_LT(index, s.list.size()) << "more nodes than expected";
            EXPECT_EQ(node->ip[3], s.list[index].last);
            EXPECT_EQ(node->type, s.list[index].type);
            EXPECT_EQ(node->description[0], s.list[index].fill);
            EXPECT_EQ(node->description[254], s.list[index].fill);
            EXPECT_EQ(node->mac[5], s.list[index].fill + 0x50);
            EXPECT_EQ(node->reserved, 0);
        }
        EXPECT_EQ(index, s.list.size());
        QZ_ClearList(list);
    }
}

TEST(Discovery, ReservedByteOfANodeIsAlwaysZero) {
    DeviceAnnouncement *list = SearchWhileSending(-1, 200, {Announce(417, 9, 5, 0xEE)});
    const DeviceAnnouncement *node = NextTestNode(list);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->ip[3], 9);
    EXPECT_EQ(node->reserved, 0);
    EXPECT_EQ(NextTestNode(node->next), nullptr);
    QZ_ClearList(list);
}

TEST(Discovery, ListeningTimeZeroReturnsAtOnce) {
    for (const int32_t time : {0, 65536}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(QZ_Search(-1, time), nullptr) << time;
        EXPECT_LT(MillisecondsSince(start), 50) << time;
    }
}

TEST(Discovery, ListensForTheWholeTimeAndNotMuchLonger) {
    const auto start = std::chrono::steady_clock::now();
    QZ_ClearList(QZ_Search(-1, 300 + 65536));
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 300 + 100 + 150);
}

TEST(Discovery, TwoSearchesAtOnceBothListenForTheirWholeTime) {
    const auto start = std::chrono::steady_clock::now();
    auto first = std::async(std::launch::async, [] { return QZ_Search(-1, 400); });
    ASSERT_TRUE(qz417::test::WaitForUdpPortBound(kSearchPort, 1s));
    auto secondStart = std::chrono::steady_clock::now();
    QZ_ClearList(QZ_Search(-1, 300));
    EXPECT_GE(MillisecondsSince(secondStart), 300) << "the second search did not bind";
    QZ_ClearList(first.get());
    EXPECT_GE(MillisecondsSince(start), 400);
}

TEST(Discovery, PortHeldWithoutReuseFailsAtOnce) {
    const int holder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kSearchPort);
    ASSERT_EQ(bind(holder, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const std::size_t before = qz417::test::CountOpenDescriptors();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ_Search(-1, 1000), nullptr);
    EXPECT_LT(MillisecondsSince(start), 100);
    EXPECT_EQ(qz417::test::CountOpenDescriptors(), before);
    close(holder);
}

TEST(Discovery, ClearListOfNullDoesNothing) {
    QZ_ClearList(nullptr);
}

} // namespace
