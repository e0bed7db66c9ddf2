// Wire codec of the QZ417 protocol: pure functions on byte arrays.
//
// Nothing here touches a socket, a lock or the heap, so tests, the emulator
// and fuzz harnesses can call it directly without the C interface. Every
// multi-byte field is written and read byte by byte in little-endian order,
// never by copying a struct, so the results do not depend on the host.
#ifndef QZ417LINK_WIRE_CODEC_H
#define QZ417LINK_WIRE_CODEC_H

#include "qz417link.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qz417::link::wire {

// Command codes of the TCP channel.
enum class Command : uint32_t {
    GetResult = 1,   // reply: one profile packet
    StartImage = 2,  // no reply; freezes the camera image for the chunk requests
    ImageChunk = 3,  // reply: `size` image bytes from `offset`
    ReadParams = 4,  // reply: the parameter block
    WriteParams = 5, // followed by the parameter block, no reply
    FlushParams = 6, // `offset` carries the store mode; reply: 2-byte acknowledgement
    CalcAngle = 7,   // reply: 2 bytes, signed 16-bit little-endian
};

inline constexpr std::size_t kCommandHeaderSize = 16;
inline constexpr std::size_t kAnnouncementSize = QZ417_ANNOUNCEMENT_SIZE;
inline constexpr std::size_t kPacketSize = QZ417_PACKET_SIZE;
inline constexpr std::size_t kImageSize = QZ417_IMAGE_SIZE;
inline constexpr std::size_t kConfigSize = QZ417_CONFIG_SIZE;
inline constexpr std::size_t kAngleSize = QZ417_ANGLE_SIZE;
inline constexpr std::size_t kFlushAckSize = 2;
inline constexpr std::size_t kImageChunkSize = 32768;
inline constexpr std::size_t kImageChunkCount = kImageSize / kImageChunkSize;
inline constexpr std::size_t kDescriptionSize = 255;

// Offsets inside an announcement datagram.
inline constexpr std::size_t kAnnouncementTypeOffset = 0;
inline constexpr std::size_t kAnnouncementIpOffset = 2;
inline constexpr std::size_t kAnnouncementMacOffset = 6;
inline constexpr std::size_t kAnnouncementDescriptionOffset = 12;

inline constexpr uint16_t kTypeCode = QZ417_TYPE_CODE;
inline constexpr uint16_t kAcceptEveryType = 0xFFFF;
inline constexpr uint16_t kCommandPort = QZ417_TCP_PORT;
inline constexpr uint16_t kSearchPort = QZ417_SEARCH_PORT;

static_assert(kImageChunkCount * kImageChunkSize == kImageSize);
static_assert(kAnnouncementDescriptionOffset + kDescriptionSize + 1 == kAnnouncementSize);
static_assert(offsetof(DeviceAnnouncement, type) == kAnnouncementTypeOffset);
static_assert(offsetof(DeviceAnnouncement, ip) == kAnnouncementIpOffset);
static_assert(offsetof(DeviceAnnouncement, mac) == kAnnouncementMacOffset);
static_assert(offsetof(DeviceAnnouncement, description) == kAnnouncementDescriptionOffset);
static_assert(offsetof(DeviceAnnouncement, reserved) == kAnnouncementSize - 1);
// 272 bytes on 32-bit builds, 280 on 64-bit ones.
static_assert(sizeof(DeviceAnnouncement) == (sizeof(void *) == 8 ? 280 : 272));
static_assert(offsetof(DeviceAnnouncement, next) ==
              (kAnnouncementSize + alignof(void *) - 1) / alignof(void *) * alignof(void *));

// Little-endian field access.
constexpr void PutU16(uint8_t *out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}
constexpr void PutU32(uint8_t *out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}
constexpr uint16_t GetU16(const uint8_t *in) {
    return static_cast<uint16_t>(in[0] | (static_cast<uint16_t>(in[1]) << 8));
}
constexpr uint32_t GetU32(const uint8_t *in) {
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

// The 16-byte header that starts every request.
struct CommandHeader {
    uint32_t command = 0;
    uint32_t length = 0; // data bytes following the header in the same request
    uint32_t offset = 0; // image offset (command 3) or store mode (command 6)
    uint32_t size = 0;   // image bytes requested (command 3)

    friend bool operator==(const CommandHeader &, const CommandHeader &) = default;
};

using HeaderBytes = std::array<uint8_t, kCommandHeaderSize>;

HeaderBytes EncodeCommandHeader(const CommandHeader &header);
CommandHeader DecodeCommandHeader(std::span<const uint8_t, kCommandHeaderSize> bytes);

// Headers of the individual requests.
CommandHeader MakeRequest(Command command);
CommandHeader MakeWriteParamsRequest();
CommandHeader MakeFlushRequest(int32_t mode);
// Request for the image chunk at `offset`: 32768 bytes, fewer for the last one.
// `offset` must be below the image size.
CommandHeader MakeImageChunkRequest(uint32_t offset);

// A socket handle that stands for "no connection".
constexpr bool IsNoConnection(int32_t socket) {
    return socket == 0 || socket == -1;
}

// Only the low 16 bits of ports, filters and listening times count.
constexpr uint16_t Low16(int32_t value) {
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

// Dotted address text "a.b.c.d" of four address bytes; `out` holds at least 16 chars.
void FormatDottedAddress(const uint8_t ip[4], char out[16]);

// True when a datagram of `length` bytes is a well-formed announcement of a
// type the filter accepts: exactly 268 bytes, and a type equal to the
// filter's low 16 bits unless those are 0xFFFF.
bool IsWantedAnnouncement(std::span<const uint8_t> datagram, uint16_t typeFilter);

// Fills `node` from a 268-byte announcement: type (to host order), address,
// MAC and description; the reserved byte is 0 and `next` is null.
void DecodeAnnouncement(std::span<const uint8_t, kAnnouncementSize> datagram,
                        DeviceAnnouncement &node);

// The 268 bytes a scanner sends for `node` (reserved byte 0).
std::array<uint8_t, kAnnouncementSize> EncodeAnnouncement(const DeviceAnnouncement &node);

// True as soon as a node from `list` on has the same four address bytes as the
// datagram (bytes 2..5). A null datagram or list gives false.
bool IsKnownDevice(const uint8_t *datagram, const DeviceAnnouncement *list);

} // namespace qz417::link::wire

#endif // QZ417LINK_WIRE_CODEC_H
