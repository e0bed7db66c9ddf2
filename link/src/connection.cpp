// Opening and closing the TCP command connection; closing also serves the
// UDP stream socket under its second name.
#include "qz417link.h"

#include "link_lock.h"
#include "socket_util.h"
#include "wire_codec.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

using namespace qz417::link;

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
    if (inet_pton(AF_INET, text, &address.sin_addr) != 1 || !net::Connect(fd, address)) {
        net::CloseKeepingErrno(fd);
        return -1;
    }
    return fd;
}

QZ417LINK_API int32_t QZ417_Disconnect(int32_t socket) {
    if (wire::IsNoConnection(socket))
        return 0;
    // Closing alone would leave a receive pending in another thread asleep
    // until its time-out; shutting down first makes it return at once. The
    // result is ignored: a UDP socket has no connection to shut down.
    shutdown(socket, SHUT_RDWR);
    // An exchange woken that way may still be between two of its calls on
    // this descriptor; closing under it would let a new connection reuse the
    // number and receive the rest of that exchange. Waiting for LinkLock lets
    // it leave first (at once, as the socket is shut down). Datagram sockets
    // are never used by an exchange and are closed without waiting.
    int type = 0;
    socklen_t typeSize = sizeof type;
    if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 && type == SOCK_STREAM) {
        LinkLockHold hold;
        return close(socket) == 0 || errno == EINTR ? 1 : 0;
    }
    // Linux releases the descriptor even when close reports EINTR, so that
    // counts as closed (reporting failure would invite a second close).
    return close(socket) == 0 || errno == EINTR ? 1 : 0;
}

QZ417LINK_API int32_t QZ417_UDP_Disconnect(int32_t socket)
    __attribute__((alias("QZ417_Disconnect")));

} // extern "C"
