#include "wire_codec.h"

#include <cstdio>
#include <cstring>

namespace qz417::link::wire {

HeaderBytes EncodeCommandHeader(const CommandHeader &header) {
    HeaderBytes bytes{};
    PutU32(&bytes[0], header.command);
    PutU32(&bytes[4], header.length);
    PutU32(&bytes[8], header.offset);
    PutU32(&bytes[12], header.size);
    return bytes;
}

CommandHeader DecodeCommandHeader(std::span<const uint8_t, kCommandHeaderSize> bytes) {
    return CommandHeader{GetU32(&bytes[0]), GetU32(&bytes[4]), GetU32(&bytes[8]),
                         GetU32(&bytes[12])};
}

CommandHeader MakeRequest(Command command) {
    return CommandHeader{static_cast<uint32_t>(command), 0, 0, 0};
}

CommandHeader MakeWriteParamsRequest() {
    return CommandHeader{static_cast<uint32_t>(Command::WriteParams),
                         static_cast<uint32_t>(kConfigSize), 0, 0};
}

CommandHeader MakeFlushRequest(int32_t mode) {
    // The store mode travels unchanged, as its 32-bit two's complement pattern.
    return CommandHeader{static_cast<uint32_t>(Command::FlushParams), 0,
                         static_cast<uint32_t>(mode), 0};
}

CommandHeader MakeImageChunkRequest(uint32_t offset) {
    const uint32_t remaining = offset < kImageSize ? static_cast<uint32_t>(kImageSize) - offset : 0;
    const uint32_t size = remaining < kImageChunkSize ? remaining : kImageChunkSize;
    return CommandHeader{static_cast<uint32_t>(Command::ImageChunk), 0, offset, size};
}

void FormatDottedAddress(const uint8_t ip[4], char out[16]) {
    std::snprintf(out, 16, "%u.%u.%u.%u", static_cast<unsigned>(ip[0]),
                  static_cast<unsigned>(ip[1]), static_cast<unsigned>(ip[2]),
                  static_cast<unsigned>(ip[3]));
}

bool IsWantedAnnouncement(std::span<const uint8_t> datagram, uint16_t typeFilter) {
    if (datagram.size() != kAnnouncementSize)
        return false;
    return typeFilter == kAcceptEveryType ||
           GetU16(&datagram[kAnnouncementTypeOffset]) == typeFilter;
}

void DecodeAnnouncement(std::span<const uint8_t, kAnnouncementSize> datagram,
                        DeviceAnnouncement &node) {
    node.type = GetU16(&datagram[kAnnouncementTypeOffset]);
    std::memcpy(node.ip, &datagram[kAnnouncementIpOffset], sizeof node.ip);
    std::memcpy(node.mac, &datagram[kAnnouncementMacOffset], sizeof node.mac);
    std::memcpy(node.description, &datagram[kAnnouncementDescriptionOffset],
                sizeof node.description);
    node.reserved = 0;
    node.next = nullptr;
}

std::array<uint8_t, kAnnouncementSize> EncodeAnnouncement(const DeviceAnnouncement &node) {
    std::array<uint8_t, kAnnouncementSize> bytes{};
    PutU16(&bytes[kAnnouncementTypeOffset], node.type);
    std::memcpy(&bytes[kAnnouncementIpOffset], node.ip, sizeof node.ip);
    std::memcpy(&bytes[kAnnouncementMacOffset], node.mac, sizeof node.mac);
    std::memcpy(&bytes[kAnnouncementDescriptionOffset], node.description, sizeof node.description);
    return bytes;
}

bool IsKnownDevice(const uint8_t *datagram, const DeviceAnnouncement *list) {
    if (datagram == nullptr)
        return false;
    const uint8_t *ip = datagram + kAnnouncementIpOffset;
    for (const DeviceAnnouncement *node = list; node != nullptr; node = node->next) {
        if (node->ip[0] == ip[0] && node->ip[1] == ip[1] && node->ip[2] == ip[2] &&
            node->ip[3] == ip[3])
            return true;
    }
    return false;
}

} // namespace qz417::link::wire
