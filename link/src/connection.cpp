// Opening and closing the TCP command connection; closing also serves the
// UDP stream socket under its second name.
#include "qz417link.h"

#include "link_lock.h"
#include "socket_util.h"
#include "wire_codec.h"

#include <arpa/inet.h>
#include <sys/socket.h>

using namespace qz417::link;

namespace {

// How long a disconnect waits for an exchange on its socket to leave. Once
// the socket is shut down every call of that exchange fails at once, so this
// bound is only reached when that thread does not run at all.
constexpr int kLeaveTimeoutMs = net::kCommandReceiveTimeoutMs;

} // namespace

extern "C" {

QZ417LINK_API int32_t QZ417_Connect(const DeviceAnnouncement *device) {
    if (device == nullptr || device->type != wire::kTypeCode)
        return -1;
    const int fd = net::OpenSocket(SOCK_STREAM);
    if (fd < 0)
        return -1;
    net::SetReceiveTimeout(fd, net::kCommandReceiveTimeoutMs);
    net::SetReceiveBuffer(fd, net::kReceiveBufferBytes);
    // Requests are small and often sent in two pieces (command 5): send each
    // at once instead of waiting for the previous one to be acknowledged.
    net::SetNoDelay(fd);

    char text[16];
    wire::FormatDottedAddress(device->ip, text);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(wire::kCommandPort);
    if (inet_pton(AF_INET, text, &address.sin_addr) != 1 || !net::Connect(fd, address) ||
        !AdoptDescriptor(fd)) {
        net::CloseKeepingErrno(fd);
        return -1;
    }
    return fd;
}

QZ417LINK_API int32_t QZ417_Disconnect(int32_t socket) {
    if (wire::IsNoConnection(socket))
        return 0;
    // Only a socket the library opened and has not closed is shut down and
    // closed: any other number may belong to someone else. It is closed at
    // once unless exchanges are registered on it; then as soon as they, failing
    // now, have left it. Exchanges on other sockets are never waited for. 1
    // only when the descriptor is closed.
    return CloseOwned(socket, kLeaveTimeoutMs) ? 1 : 0;
}

QZ417LINK_API int32_t QZ417_UDP_Disconnect(int32_t socket)
    __attribute__((alias("QZ417_Disconnect")));

} // extern "C"
