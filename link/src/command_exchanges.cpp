// The six request/reply exchanges of the TCP command channel. Each checks its
// arguments before taking LinkLock, then holds it for all of its requests.
#include "qz417link.h"

#include "link_lock.h"
#include "socket_util.h"
#include "wire_codec.h"

#include <cstring>

using namespace qz417::link;

namespace {

bool SendHeader(int fd, const wire::CommandHeader &header) noexcept {
    const wire::HeaderBytes bytes = wire::EncodeCommandHeader(header);
    return net::SendExactly(fd, bytes.data(), bytes.size());
}

// One request that is answered by exactly `replySize` bytes into `reply`.
int32_t Exchange(int fd, const wire::CommandHeader &header, void *reply,
                 std::size_t replySize) noexcept {
    LinkLockHold hold(fd);
    if (!hold.held())
        return 0;
    return SendHeader(fd, header) && net::ReceiveExactly(fd, reply, replySize) ? 1 : 0;
}

// The buffer ends as if it had been zeroed before the transfer: a complete
// image overwrites every byte, and after a failure the bytes not received
// are zeroed then. Zeroing only on failure saves a pass over 320 KiB per
// image (measured: QZ417_GetImage went from 0.90 to about 1.0 of a raw
// socket client).
bool ReceiveImage(int fd, uint8_t *image) noexcept {
    std::size_t filled = 0;
    auto fail = [&] {
        std::memset(image + filled, 0, wire::kImageSize - filled);
        return false;
    };
    if (!SendHeader(fd, wire::MakeRequest(wire::Command::StartImage)))
        return false; // before the zeroing: the buffer stays as it was
    for (uint32_t offset = 0; offset < wire::kImageSize;) {
        const wire::CommandHeader chunk = wire::MakeImageChunkRequest(offset);
        if (!SendHeader(fd, chunk))
            return fail();
        std::size_t received = 0;
        const bool ok = net::ReceiveExactly(fd, image + offset, chunk.size, &received);
        filled = offset + received;
        if (!ok)
            return fail();
        offset += chunk.size;
    }
    return true;
}

} // namespace

extern "C" {

QZ417LINK_API int32_t QZ417_GetResult(int32_t socket, void *packet) {
    if (wire::IsNoConnection(socket) || packet == nullptr)
        return 0;
    return Exchange(socket, wire::MakeRequest(wire::Command::GetResult), packet, wire::kPacketSize);
}

QZ417LINK_API int32_t QZ417_GetImage(int32_t socket, void *image) {
    if (wire::IsNoConnection(socket) || image == nullptr)
        return 0;
    LinkLockHold hold(socket);
    if (!hold.held())
        return 0;
    return ReceiveImage(socket, static_cast<uint8_t *>(image)) ? 1 : 0;
}

QZ417LINK_API int32_t QZ417_ReadParams(int32_t socket, void *config) {
    if (wire::IsNoConnection(socket) || config == nullptr)
        return 0;
    return Exchange(socket, wire::MakeRequest(wire::Command::ReadParams), config,
                    wire::kConfigSize);
}

QZ417LINK_API int32_t QZ417_WriteParams(int32_t socket, const void *config) {
    if (wire::IsNoConnection(socket) || config == nullptr)
        return 0;
    LinkLockHold hold(socket);
    if (!hold.held())
        return 0;
    // No reply follows: the scanner acknowledges nothing.
    return SendHeader(socket, wire::MakeWriteParamsRequest()) &&
                   net::SendExactly(socket, config, wire::kConfigSize)
               ? 1
               : 0;
}

QZ417LINK_API int32_t QZ417_FlushParams(int32_t socket, int32_t mode) {
    if (wire::IsNoConnection(socket))
        return 0;
    // The acknowledgement's value carries no meaning; only its arrival counts.
    uint8_t acknowledgement[wire::kFlushAckSize];
    return Exchange(socket, wire::MakeFlushRequest(mode), acknowledgement, sizeof acknowledgement);
}

QZ417LINK_API int32_t QZ417_CalcAngle(int32_t socket, void *angle) {
    if (wire::IsNoConnection(socket) || angle == nullptr)
        return 0;
    return Exchange(socket, wire::MakeRequest(wire::Command::CalcAngle), angle, wire::kAngleSize);
}

} // extern "C"
