#include "stream_csv.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace qz417::ctl {

std::string StreamCsvHeader() {
    return "received_utc,elapsed_s,measurement_count,packet_count\n";
}

std::string StreamCsvRow(std::chrono::system_clock::time_point received,
                         std::chrono::steady_clock::duration sinceStart,
                         std::uint16_t measurementCount, std::uint16_t packetCount) {
    using namespace std::chrono;
    // Whole seconds rounded down, also before 1970, so that the fraction is
    // never negative.
    const auto micros = duration_cast<microseconds>(received.time_since_epoch()).count();
    auto seconds = micros / 1000000;
    auto fraction = micros % 1000000;
    if (fraction < 0) {
        fraction += 1000000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    const auto elapsed = duration_cast<microseconds>(sinceStart).count();
    char row[128];
    std::snprintf(row, sizeof row,
                  "%04d-%02d-%02dT%02d:%02d:%02d.%06" PRId64 "Z,%" PRId64 ".%06" PRId64 ",%u,%u\n",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<std::int64_t>(fraction),
                  static_cast<std::int64_t>(elapsed / 1000000),
                  static_cast<std::int64_t>(elapsed % 1000000), unsigned{measurementCount},
                  unsigned{packetCount});
    return row;
}

} // namespace qz417::ctl
