// Listening for scanner announcements on UDP port 6001 and releasing the list.
#include "qz417link.h"

#include "device_list.h"
#include "socket_util.h"
#include "wire_codec.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>
#include <unistd.h>

using namespace qz417::link;

extern "C" {

QZ417LINK_API DeviceAnnouncement *QZ_Search(int32_t typeFilter, int32_t timeMs) {
    const uint16_t filter = wire::Low16(typeFilter);
    const std::chrono::milliseconds listeningTime{wire::Low16(timeMs)};

    const int fd = net::OpenSocket(SOCK_DGRAM);
    if (fd < 0)
        return nullptr;
    net::SetReceiveTimeout(fd, net::kSearchReceiveTimeoutMs);
    // A UDP port is shared only when every socket on it asked for reuse, so
    // ask before the first bind; then a second search can listen as well.
    net::SetReuseAddress(fd);
    if (!net::BindAny(fd, wire::kSearchPort)) {
        if (errno == EADDRINUSE)
            net::SetReuseAddress(fd);
        if (!net::BindAny(fd, wire::kSearchPort)) {
            net::CloseKeepingErrno(fd);
            return nullptr;
        }
    }

    AnnouncementCollector collector(filter, HeapNodeAllocator());
    // Elapsed time on the monotonic clock: no wrap-around, no wall-clock jumps.
    const auto start = std::chrono::steady_clock::now();
    std::array<uint8_t, wire::kAnnouncementSize> datagram;
    while (std::chrono::steady_clock::now() - start < listeningTime) {
        const ssize_t length = net::ReceiveDatagram(fd, datagram.data(), datagram.size());
        // The real length tells a longer datagram from one that just fits.
        if (length != static_cast<ssize_t>(datagram.size()))
            continue;
        if (collector.Offer(datagram) == AnnouncementCollector::Outcome::OutOfMemory)
            break; // keep what was collected so far
    }
    DeviceAnnouncement *list = collector.Take();
    close(fd);
    return list;
}

QZ417LINK_API void QZ_ClearList(DeviceAnnouncement *list) {
    FreeDeviceList(list, HeapNodeAllocator());
}

} // extern "C"
