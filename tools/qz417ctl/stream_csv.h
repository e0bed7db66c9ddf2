// The CSV that "stream --csv" writes while it receives: one row per packet
// with the time it was received, on the wall clock (UTC) and since the start.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qz417::ctl {

// "received_utc,elapsed_s,measurement_count,packet_count\n"
std::string StreamCsvHeader();

// "2026-12-09T04:01:02.123456Z,0.250031,4,1\n": microseconds in both times.
std::string StreamCsvRow(std::chrono::system_clock::time_point received,
                         std::chrono::steady_clock::duration sinceStart,
                         std::uint16_t measurementCount, std::uint16_t packetCount);

} // namespace qz417::ctl
