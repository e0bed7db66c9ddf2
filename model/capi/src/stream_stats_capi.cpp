// The stream statistics (qz417::StreamStats) and the socket's receive figures
// (qz417::ReadSocketReceive) behind the plain C functions of qz417model_c.h, so
// that the Python package counts a stream exactly as the window does.
#include "model/capi/qz417model_c.h"

#include <new>

#include "model/capi/capi_util.h"
#include "model/profile_packet.h"
#include "model/socket_receive.h"
#include "model/stream_stats.h"

struct qz417m_stream_stats {
    qz417::StreamStats stats;
};

static_assert(QZ417M_PACKET_SIZE == qz417::kProfilePacketSize);

extern "C" {

qz417m_stream_stats *qz417m_stream_stats_new(char *error, size_t error_size) {
    auto *stats = new (std::nothrow) qz417m_stream_stats;
    if (stats == nullptr)
        qz417::capi::SetError(error, error_size, "out of memory");
    return stats;
}

void qz417m_stream_stats_free(qz417m_stream_stats *stats) {
    delete stats;
}

int qz417m_stream_stats_observe(qz417m_stream_stats *stats, uint16_t packet_count) {
    if (stats == nullptr)
        return -1;
    stats->stats.Observe(packet_count);
    return 0;
}

int qz417m_stream_stats_observe_packet(qz417m_stream_stats *stats, const uint8_t *packet,
                                       size_t size) {
    if (stats == nullptr || packet == nullptr || size != QZ417M_PACKET_SIZE)
        return -1;
    stats->stats.ObservePacket(packet);
    return 0;
}

int qz417m_stream_stats_counts(const qz417m_stream_stats *stats, qz417m_stream_counts *counts) {
    if (stats == nullptr || counts == nullptr)
        return -1;
    const qz417::StreamCounts &c = stats->stats.counts();
    *counts = {c.received, c.lost, c.late, c.duplicates, c.restarts};
    return 0;
}

int qz417m_socket_receive_read(int fd, qz417m_socket_receive *receive) {
    if (receive == nullptr)
        return -1;
    // ReadSocketReceive never throws by contract; the guard keeps that true
    // across this boundary even if its reading of /proc ever allocates and fails.
    const qz417::SocketReceive r = qz417::capi::Guard(
        nullptr, 0, qz417::SocketReceive{}, [fd] { return qz417::ReadSocketReceive(fd); });
    receive->granted_bytes = r.grantedBytes;
    receive->drops_known = r.drops.has_value() ? 1 : 0;
    receive->drops = r.drops.value_or(0);
    return 0;
}

} // extern "C"
