// Building the device list from announcement datagrams, without sockets.
//
// Discovery feeds every datagram it receives to an AnnouncementCollector,
// which keeps the ones that pass the size, type and address checks as list
// nodes in order of first arrival. Node memory comes from an allocator that
// tests can replace to simulate exhaustion.
#ifndef QZ417LINK_DEVICE_LIST_H
#define QZ417LINK_DEVICE_LIST_H

#include "qz417link.h"

#include <cstdint>
#include <span>

namespace qz417::link {

struct NodeAllocator {
    DeviceAnnouncement *(*allocate)(); // a zero-filled node, or null when memory is short
    void (*release)(DeviceAnnouncement *);
};

// Nodes from the C library's heap, so that QZ_ClearList can free them.
NodeAllocator HeapNodeAllocator();

// Frees every node of `list` (null allowed), reading `next` before each release.
void FreeDeviceList(DeviceAnnouncement *list, const NodeAllocator &allocator);

class AnnouncementCollector {
public:
    enum class Outcome { Added, Ignored, OutOfMemory };

    AnnouncementCollector(uint16_t typeFilter, NodeAllocator allocator);
    ~AnnouncementCollector(); // frees the nodes that were not taken
    AnnouncementCollector(const AnnouncementCollector &) = delete;
    AnnouncementCollector &operator=(const AnnouncementCollector &) = delete;

    // Keeps `datagram` as a new last node when it is exactly one announcement,
    // its type passes the filter and no node so far has its address. The
    // zero-filled head the search starts from takes part in the address check,
    // so an announcement from 0.0.0.0 is never kept.
    Outcome Offer(std::span<const uint8_t> datagram);

    // Hands the list over to the caller (null when empty); the collector is empty after.
    DeviceAnnouncement *Take();

private:
    uint16_t filter_;
    NodeAllocator allocator_;
    DeviceAnnouncement head_{};
    DeviceAnnouncement *tail_ = &head_;
};

} // namespace qz417::link

#endif // QZ417LINK_DEVICE_LIST_H
