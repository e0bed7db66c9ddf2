// Discovery: the announcement filter and the building of the device list.
//
// Input: the type filter (2 bytes), a node budget (1 byte; 0 = unlimited),
// then datagrams, each as a 2-byte length (taken modulo 540, so both sides of
// the 268-byte announcement are reached) and that many bytes. The list built
// by the collector is checked against a plain model of the rules: exactly 268
// bytes, a wanted type, a new non-zero address, kept in order of first arrival.
#include "device_list.h"
#include "fuzz_input.h"
#include "wire_codec.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

using qz417::link::AnnouncementCollector;
using qz417::link::NodeAllocator;
namespace wire = qz417::link::wire;
using qz417::fuzz::Check;

constexpr std::size_t kMaxDatagram = 540;

// Heap nodes with a budget, so that running out of memory is exercised too.
int g_budget = 0;
int g_live = 0;

DeviceAnnouncement *BudgetAllocate() {
    if (g_budget == 0)
        return nullptr;
    if (g_budget > 0)
        --g_budget;
    auto *node = new DeviceAnnouncement{};
    ++g_live;
    return node;
}

void BudgetRelease(DeviceAnnouncement *node) {
    --g_live;
    delete node;
}

struct ModelNode {
    std::array<std::uint8_t, wire::kAnnouncementSize> bytes;
};

bool SameAddress(const std::uint8_t *a, const std::uint8_t *b) {
    return std::memcmp(a + wire::kAnnouncementIpOffset, b + wire::kAnnouncementIpOffset, 4) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qz417::fuzz::FuzzInput in(data, size);
    const std::uint16_t filter = in.u16();
    const std::uint8_t budget = in.u8();
    g_budget = budget == 0 ? -1 : budget - 1;
    g_live = 0;

    std::vector<ModelNode> model;
    {
        AnnouncementCollector collector(filter, NodeAllocator{&BudgetAllocate, &BudgetRelease});
        while (!in.empty()) {
            const std::size_t length = in.u16() % kMaxDatagram;
            const auto datagram = in.bytes(length);

            // The model's verdict.
            bool wanted = datagram.size() == wire::kAnnouncementSize;
            if (wanted) {
                const std::uint16_t type = wire::GetU16(datagram.data());
                wanted = filter == wire::kAcceptEveryType || type == filter;
            }
            Check(wanted == wire::IsWantedAnnouncement(datagram, filter), "announcement filter");
            static const std::uint8_t kZero[wire::kAnnouncementSize] = {};
            if (wanted && SameAddress(datagram.data(), kZero))
                wanted = false;
            for (const ModelNode &node : model)
                if (wanted && SameAddress(datagram.data(), node.bytes.data()))
                    wanted = false;

            const auto outcome = collector.Offer(datagram);
            if (!wanted) {
                Check(outcome == AnnouncementCollector::Outcome::Ignored, "unwanted datagram kept");
                continue;
            }
            if (outcome == AnnouncementCollector::Outcome::OutOfMemory) {
                Check(g_budget == 0, "out of memory reported with memory left");
                continue;
            }
            Check(outcome == AnnouncementCollector::Outcome::Added, "wanted datagram dropped");
            ModelNode node;
            std::memcpy(node.bytes.data(), datagram.data(), node.bytes.size());
            model.push_back(node);
        }

        DeviceAnnouncement *list = collector.Take();
        std::size_t index = 0;
        for (const DeviceAnnouncement *node = list; node != nullptr; node = node->next, ++index) {
            Check(index < model.size(), "list longer than the announcements kept");
            const std::uint8_t *expected = model[index].bytes.data();
            Check(node->type == wire::GetU16(expected), "node type");
            Check(std::memcmp(node->ip, expected + wire::kAnnouncementIpOffset, 4) == 0,
                  "node address");
            Check(std::memcmp(node->mac, expected + wire::kAnnouncementMacOffset, 6) == 0,
                  "node MAC");
            Check(std::memcmp(node->description, expected + wire::kAnnouncementDescriptionOffset,
                              wire::kDescriptionSize) == 0,
                  "node description");
            Check(node->reserved == 0, "reserved byte of a node");
            Check(wire::IsKnownDevice(expected, list), "a listed address is not known");
            // What a scanner would send for this node is the datagram with byte 267 cleared.
            const auto encoded = wire::EncodeAnnouncement(*node);
            Check(std::memcmp(encoded.data(), expected, wire::kAnnouncementSize - 1) == 0,
                  "announcement encoding");
        }
        Check(index == model.size(), "list shorter than the announcements kept");
        qz417::link::FreeDeviceList(list, NodeAllocator{&BudgetAllocate, &BudgetRelease});
    }
    Check(g_live == 0, "list nodes leaked or freed twice");
    Check(!wire::IsKnownDevice(nullptr, nullptr), "null list knows a device");
    return 0;
}
