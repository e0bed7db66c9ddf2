// The results of a job as CSV, one row per measured profile: the columns
// `qz417ctl measure` writes and the window's "Measure" page exports.
//   profile,measurement, per tool its outputs then <tool>.state, passed
// A value is empty when its tool has no result; the state is "pass", "fail"
// or "no result: <reason>". Numbers are written with 7 significant digits,
// independently of the C locale.
#pragma once

#include <cstdint>
#include <string>

#include "model/measure/job.h"
#include "model/measure/measurer.h"

namespace qz417::measure {

// The text quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string &text);
// 7 significant digits, '.' as decimal point.
std::string CsvNumber(double value);
// The header line, with its line break.
std::string ResultCsvHeader(const Job &job);
// Appends one row (with its line break) of the result of job on a profile.
void AppendResultCsvRow(std::string &line, const Job &job, std::uint64_t profile,
                        std::uint16_t measurement, const JobResult &result);

} // namespace qz417::measure
