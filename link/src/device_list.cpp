#include "device_list.h"

#include "wire_codec.h"

#include <cstdlib>

namespace qz417::link {

namespace {

DeviceAnnouncement *AllocateFromHeap() {
    return static_cast<DeviceAnnouncement *>(std::calloc(1, sizeof(DeviceAnnouncement)));
}

void ReleaseToHeap(DeviceAnnouncement *node) {
    std::free(node);
}

} // namespace

NodeAllocator HeapNodeAllocator() {
    return NodeAllocator{&AllocateFromHeap, &ReleaseToHeap};
}

void FreeDeviceList(DeviceAnnouncement *list, const NodeAllocator &allocator) {
    while (list != nullptr) {
        DeviceAnnouncement *next = list->next;
        allocator.release(list);
        list = next;
    }
}

AnnouncementCollector::AnnouncementCollector(uint16_t typeFilter, NodeAllocator allocator)
    : filter_(typeFilter), allocator_(allocator) {}

AnnouncementCollector::~AnnouncementCollector() {
    FreeDeviceList(Take(), allocator_);
}

AnnouncementCollector::Outcome AnnouncementCollector::Offer(std::span<const uint8_t> datagram) {
    if (!wire::IsWantedAnnouncement(datagram, filter_) ||
        wire::IsKnownDevice(datagram.data(), &head_))
        return Outcome::Ignored;
    DeviceAnnouncement *node = allocator_.allocate();
    if (node == nullptr)
        return Outcome::OutOfMemory;
    wire::DecodeAnnouncement(datagram.first<wire::kAnnouncementSize>(), *node);
    tail_->next = node;
    tail_ = node;
    return Outcome::Added;
}

DeviceAnnouncement *AnnouncementCollector::Take() {
    DeviceAnnouncement *list = head_.next;
    head_.next = nullptr;
    tail_ = &head_;
    return list;
}

} // namespace qz417::link
