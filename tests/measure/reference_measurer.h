// A plain reference for the measuring tools: each tool on its own, every
// region found by walking the whole profile, every line fitted afresh,
// every set of points copied. It does the same arithmetic in the same
// order as the library, so the library's shared and indexed path must give
// the very same bits; the randomised comparison test holds it to that.
#pragma once

#include <span>

#include "model/measure/job.h"
#include "model/measure/measurer.h"
#include "model/profile_packet.h"

namespace qz417::measuretest {

qz417::measure::JobResult MeasureReference(const qz417::measure::Job &job,
                                           std::span<const qz417::ProfilePoint> profile);

} // namespace qz417::measuretest
