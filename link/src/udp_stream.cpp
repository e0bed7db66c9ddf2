// Receiving profile packets that a scanner streams by UDP.
#include "qz417link.h"

#include "link_lock.h"
#include "socket_util.h"
#include "wire_codec.h"

#include <sys/socket.h>

using namespace qz417::link;

extern "C" {

QZ417LINK_API int32_t QZ417_UDP_Connect(int32_t port) {
    const int fd = net::OpenSocket(SOCK_DGRAM);
    if (fd < 0)
        return -1;
    net::SetReceiveTimeout(fd, net::kStreamReceiveTimeoutMs);
    // A large buffer rides out the moments the receiving thread waits for a
    // CPU; the kernel caps it at net.core.rmem_max (the package raises that
    // to 32 MiB, /usr/lib/sysctl.d/60-qz417link.conf).
    net::RequestReceiveBuffer(fd, net::kStreamReceiveBufferBytes);
    // No address reuse: a port that is taken elsewhere is a failure.
    if (!net::BindAny(fd, wire::Low16(port)) || !AdoptDescriptor(fd)) {
        net::CloseKeepingErrno(fd);
        return -1;
    }
    return fd;
}

QZ417LINK_API int32_t QZ417_UDP_GetResult(int32_t socket, void *packet) {
    if (wire::IsNoConnection(socket) || packet == nullptr)
        return 0;
    // A longer datagram arrives cut to the buffer; its real length rejects it.
    return net::ReceiveDatagram(socket, packet, wire::kPacketSize) ==
                   static_cast<ssize_t>(wire::kPacketSize)
               ? 1
               : 0;
}

} // extern "C"
