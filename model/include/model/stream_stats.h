// Statistics of a profile stream from the scanner's 16-bit packetCount: one
// definition of "received", "lost", "late", "duplicate" and "restart" for the
// window's stream-health row, the recorder, a recording's summary and
// `qz417ctl stream`.
//
// Definitions, for packets observed in the order they arrived:
// - received: every packet observed.
// - The counter is read modulo 65536: 65535 followed by 0 is one step forward.
//   A packet d = 1..32768 steps ahead of the newest one seen so far becomes the
//   newest; the d - 1 counters skipped are lost.
// - late: a packet behind the newest whose counter had not been seen; when it
//   lies within kWindow (64) counters of the newest it fills a gap and takes
//   one back off "lost". A packet further behind is late as well, unless it
//   starts a restart.
// - duplicate: a packet whose counter was already seen among the last
//   kWindow counters (the newest included). Late packets and duplicates are
//   the packets that arrived out of order (OutOfOrder).
// - restart: a packet more than kWindow counters behind the newest, followed
//   by a packet 1..kWindow counters ahead of it. The scanner started counting
//   again: its counter is followed from there, nothing is counted lost for
//   the jump, and the first packet of the restart is not late. One stale
//   packet alone (the next one continues the old sequence) is late, never a
//   restart. A counter that jumps forward (up to 32768) cannot be told from
//   a gap and counts as lost.
//
// Observe is a few integer operations: no lock, no allocation. Counts are a
// plain struct, so a C interface can hand them out as they are.
#pragma once

#include <cstdint>

namespace qz417 {

struct StreamCounts {
    std::uint64_t received = 0;
    std::uint64_t lost = 0;
    std::uint64_t late = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t restarts = 0;
    bool operator==(const StreamCounts &) const = default;
};

// Packets that arrived after a later one: late packets and duplicates.
inline std::uint64_t OutOfOrder(const StreamCounts &c) {
    return c.late + c.duplicates;
}

class StreamStats {
public:
    // How far behind the newest counter a packet still fills a gap, and the
    // step back beyond which a continued sequence is a restart.
    static constexpr int kWindow = 64;

    // One received packet's packetCount (one thread).
    void Observe(std::uint16_t packetCount);
    // The packetCount of a 4100-byte profile packet, through ProfilePacket.
    void ObservePacket(const std::uint8_t *packet);

    const StreamCounts &counts() const { return counts_; }

private:
    void Advance(std::uint16_t packetCount);

    StreamCounts counts_;
    bool started_ = false;
    std::uint16_t newest_ = 0;
    // Bit k set: counter newest_ - k has arrived (k < kWindow).
    std::uint64_t seen_ = 0;
    // Bit k set: counter newest_ - k was skipped and counted lost.
    std::uint64_t gaps_ = 0;
    // A packet far behind the newest, counted late until the next packet
    // shows whether it began a restart.
    bool candidate_ = false;
    std::uint16_t candidateCount_ = 0;
};

} // namespace qz417
