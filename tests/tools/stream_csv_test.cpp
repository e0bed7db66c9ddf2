// The rows "stream --csv" writes: UTC and elapsed time to the microsecond.
#include <gtest/gtest.h>

#include "stream_csv.h"

namespace qz417::ctl {
namespace {

using namespace std::chrono;

TEST(StreamCsv, RowsCarryBothTimesToTheMicrosecond) {
    EXPECT_EQ(StreamCsvHeader(), "received_utc,elapsed_s,measurement_count,packet_count\n");
    // 2026-12-09 04:01:02.000123 UTC
    const system_clock::time_point t{seconds(1796788862) + microseconds(123)};
    EXPECT_EQ(StreamCsvRow(t, milliseconds(250) + microseconds(31), 4, 1),
              "2026-12-09T04:01:02.000123Z,0.250031,4,1\n");
    EXPECT_EQ(
        StreamCsvRow(t + hours(24 * 365), seconds(86399) + microseconds(999999), 65535, 65535),
        "2027-12-09T04:01:02.000123Z,86399.999999,65535,65535\n");
    // Nanoseconds are cut, not rounded up into the next second.
    EXPECT_EQ(StreamCsvRow(system_clock::time_point{seconds(59) + nanoseconds(999999999)},
                           nanoseconds(1999), 0, 0),
              "1970-01-01T00:00:59.999999Z,0.000001,0,0\n");
    // Before 1970 the fraction still counts forward from the whole second.
    EXPECT_EQ(StreamCsvRow(system_clock::time_point{-microseconds(1)}, nanoseconds(0), 0, 0),
              "1969-12-31T23:59:59.999999Z,0.000000,0,0\n");
}

} // namespace
} // namespace qz417::ctl
