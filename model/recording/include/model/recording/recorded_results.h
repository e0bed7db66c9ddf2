// The measurement results a recording keeps (docs/recording-format.md,
// "Measurement results"), in the terms of model/measure: a job as the
// results tables hold it, the rows of one measured profile, and the results
// read back as a measure::JobResult per profile, so that they go through the
// one CSV writer of results (model/measure/result_csv.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/measure/job.h"
#include "model/measure/measurer.h"
#include "model/recording/recording_file.h"

namespace qz417::recording {

// The job as the results tables keep it: its JSON (measure::JobToJson),
// and per value its name "tool.output", its unit and its tool.
ResultsJob ResultsJobOf(const measure::Job &job);

// Appends the value rows of one measured profile: one per output of each
// tool, in the job's order. firstOutput is AppendResultsJob's return; the
// writer gives the reasons their rows.
void AppendResultRows(std::vector<ResultValue> &rows, RecordingWriter &writer,
                      const measure::Job &job, std::uint64_t firstOutput, std::uint64_t profile,
                      const measure::JobResult &result);
// The rows of a profile that was not measured (every tool without a result,
// for `reason`).
void AppendUnmeasuredRows(std::vector<ResultValue> &rows, std::uint16_t reason,
                          std::uint64_t firstOutput, std::size_t outputs, std::uint64_t profile);

// The results of a recording, profile by profile. Throws RecordingError
// when the tables are damaged (naming the table and the row) or a stored
// job cannot be read; the profiles of the recording stay readable.
class RecordedResultsReader {
public:
    explicit RecordedResultsReader(RecordingReader &reader);

    const RecordedResults &tables() const { return tables_; }
    // The jobs parsed; an entry without tools stands for "nothing measured".
    const std::vector<measure::Job> &jobs() const { return jobs_; }
    bool empty() const { return tables_.values == 0; }

    // Calls visit(job index, profile index, result) for every profile in
    // [first, first + count) that has results, in file order; after each
    // batch of rows progress(profiles passed, count), which stops the
    // reading by returning false (then ForEach returns false).
    using Visit = std::function<void(std::size_t job, std::uint64_t profile,
                                     const measure::JobResult &result)>;
    using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;
    bool ForEach(std::uint64_t first, std::uint64_t count, const Visit &visit,
                 const Progress &progress = {});

private:
    // Per job: the tool and the place among its outputs of each value.
    struct Slot {
        std::uint16_t tool;
        std::uint16_t output;
    };
    RecordingReader &reader_;
    RecordedResults tables_;
    std::vector<measure::Job> jobs_;
    std::vector<std::vector<Slot>> slots_;
};

} // namespace qz417::recording
