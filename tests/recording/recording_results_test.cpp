// Measurement results stored in a recording: the recorder measures every
// profile it writes with the job in force, a changed job applies from the
// profile pushed after the change, the results read back are those the
// Measurer gives on the recorded profiles, the results CSV equals the one
// `qz417ctl measure --recording` writes, files without results still read,
// files with results read through the version-1 path, and damaged results
// tables are reported while the profiles stay readable.
#include "model/measure/result_csv.h"
#include "model/recording/recorded_results.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_writer_thread.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <array>
#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace qz417::recording {
namespace {

namespace ms = qz417::measure;
using test::MakePacket;
using test::TempDir;
using namespace std::chrono_literals;

// On the synthetic profiles (default scale): X runs from -115 to 115 mm, Z
// between 122 and 183 mm, changing with the profile.
ms::Job FirstJob() {
    return ms::ParseJob(R"({"format": "qz417-measure-job", "version": 1, "tools": [
      {"name": "middle", "tool": "height", "region": {"x": [-50, 50]},
       "limits": {"max": {"max": 175}}},
      {"name": "surface", "tool": "line", "region": {"x": [-100, 100]}},
      {"name": "outside", "tool": "height", "region": {"x": [500, 600]}}]})");
}

ms::Job SecondJob() {
    return ms::ParseJob(R"({"format": "qz417-measure-job", "version": 1, "tools": [
      {"name": "left", "tool": "height", "region": {"x": [-100, -20]},
       "limits": {"mean": {"min": 150}}}]})");
}

// Pushes profiles first .. first + n - 1, waiting while the ring is full.
void PushRange(RecordingWriterThread &rec, std::uint64_t first, std::uint64_t n) {
    for (std::uint64_t i = first; i < first + n; ++i) {
        const Packet p = MakePacket(i);
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!rec.Push(p.data(), {static_cast<std::int64_t>(i), 0}) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(100us);
    }
}

std::string Record(const TempDir &dir, std::optional<ms::Job> job, std::uint64_t n) {
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("r.h5");
    s.job = std::move(job);
    std::string error;
    EXPECT_TRUE(rec.Start(s, &error)) << error;
    PushRange(rec, 0, n);
    rec.Stop();
    EXPECT_EQ(rec.Status().written, n);
    return s.path;
}

// What the Measurer gives on profile i of the recording, as CSV rows.
std::string MeasuredCsv(RecordingReader &r, const ms::Job &job, std::uint64_t first,
                        std::uint64_t end) {
    ms::Measurer measurer(job);
    std::string csv = ms::ResultCsvHeader(job);
    std::array<ProfilePoint, kProfilePoints> points{};
    Packet p{};
    for (std::uint64_t i = first; i < end; ++i) {
        r.Read(i, 1, p.data(), nullptr);
        DecodePacket(ProfilePacket(p.data()), RecordedScale(r.announcement()), points);
        ms::AppendResultCsvRow(csv, job, i, ProfilePacket(p.data()).measurementCount(),
                               measurer.Measure(points));
    }
    return csv;
}

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ExportResults(RecordingReader &r, const std::string &out, std::uint64_t first = 0,
                          std::uint64_t count = 0) {
    ExportRequest q;
    q.format = ExportFormat::ResultsCsv;
    q.first = first;
    q.count = count ? count : r.profiles();
    ExportRecording(r, q, out);
    return ReadText(out);
}

TEST(RecordingResults, EveryProfileIsStoredWithTheMeasurersResultAndReadsBack) {
    TempDir dir;
    const std::string path = Record(dir, FirstJob(), 3000);
    RecordingReader r(path);
    ASSERT_EQ(r.profiles(), 3000u);
    const RecordedResults t = r.Results();
    EXPECT_EQ(t.minorVersion, kFormatMinorVersion);
    ASSERT_EQ(t.jobs.size(), 1u);
    EXPECT_EQ(t.jobs[0].firstProfile, 0u);
    EXPECT_EQ(t.jobs[0].job.json, ms::JobToJson(FirstJob()));
    EXPECT_EQ(t.jobs[0].job.outputs.front(), "middle.min");
    EXPECT_EQ(t.jobs[0].job.units.front(), "mm");
    EXPECT_EQ(t.jobs[0].job.outputs.size(), 15u); // height 5, line 5, height 5
    EXPECT_EQ(t.values, 3000u * 15u);

    // Each value row: the profile, its status, NaN exactly for "no result".
    std::vector<ResultValue> rows(t.values);
    r.ReadResultValues(0, rows.size(), rows.data());
    std::uint64_t failed = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].profile, i / 15) << i;
        ASSERT_EQ(rows[i].output, i % 15) << i;
        const bool outside = i % 15 >= 10;
        ASSERT_EQ(rows[i].status == ResultStatus::NoResult, outside) << i;
        ASSERT_EQ(std::isnan(rows[i].value), outside) << i;
        ASSERT_EQ(t.reasons[rows[i].reason],
                  outside ? "no valid points in the region" : std::string())
            << i;
        failed += rows[i].status == ResultStatus::LimitFailed;
        if (rows[i].status == ResultStatus::LimitFailed) {
            EXPECT_EQ(i % 15, 1u); // middle.max, the one output with a limit
        }
    }
    EXPECT_GT(failed, 0u);
    EXPECT_LT(failed, 3000u);

    // The results read back as JobResults give the Measurer's CSV, byte for byte.
    EXPECT_EQ(ExportResults(r, dir.file("results.csv")), MeasuredCsv(r, FirstJob(), 0, 3000));
    // A range of profiles: only their rows.
    EXPECT_EQ(ExportResults(r, dir.file("part.csv"), 1000, 25),
              MeasuredCsv(r, FirstJob(), 1000, 1025));

    const RecordingSummary s = r.Summary();
    EXPECT_EQ(s.resultJobs, 1u);
    EXPECT_EQ(s.resultProfiles, 3000u);
    EXPECT_TRUE(s.resultsError.empty()) << s.resultsError;
}

TEST(RecordingResults, AChangedJobAppliesFromTheProfilePushedAfterIt) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("r.h5");
    std::string error;
    ASSERT_TRUE(rec.Start(s, &error)) << error;
    PushRange(rec, 0, 300); // no job: no results
    rec.SetJob(FirstJob()); // from profile 300
    PushRange(rec, 300, 1000);
    rec.SetJob(SecondJob()); // from profile 1300
    PushRange(rec, 1300, 700);
    rec.SetJob(std::nullopt); // nothing measured from 2000 on
    PushRange(rec, 2000, 200);
    rec.SetJob(SecondJob()); // again from 2200
    PushRange(rec, 2200, 100);
    ms::Job bad = FirstJob();
    bad.tools[0].region.xMax = -100; // narrower than it starts: refused, the job stays
    EXPECT_THROW(rec.SetJob(bad), ms::JobError);
    rec.Stop();
    const RecorderStatus st = rec.Status();
    EXPECT_EQ(st.written, 2300u);
    EXPECT_EQ(st.measured + st.unmeasured, 1700u + 100u);

    RecordingReader r(s.path);
    RecordedResultsReader results(r);
    const auto &jobs = results.tables().jobs;
    ASSERT_EQ(jobs.size(), 4u);
    EXPECT_EQ(jobs[0].firstProfile, 300u);
    EXPECT_EQ(jobs[1].firstProfile, 1300u);
    EXPECT_EQ(jobs[2].firstProfile, 2000u);
    EXPECT_TRUE(jobs[2].job.json.empty());
    EXPECT_TRUE(jobs[2].job.outputs.empty());
    EXPECT_EQ(jobs[3].firstProfile, 2200u);
    EXPECT_EQ(jobs[1].firstOutput, 15u);
    EXPECT_EQ(jobs[3].firstOutput, 20u); // each job's outputs stored anew
    EXPECT_EQ(jobs[3].job.json, ms::JobToJson(SecondJob()));

    // Profile indexes line up with the profiles, each with its job's result.
    std::vector<std::pair<std::size_t, std::uint64_t>> seen;
    std::string csv;
    std::size_t header = 99;
    ASSERT_TRUE(results.ForEach(
        0, r.profiles(), [&](std::size_t job, std::uint64_t profile, const ms::JobResult &result) {
            seen.emplace_back(job, profile);
            if (job != header)
                csv += ms::ResultCsvHeader(results.jobs()[job]);
            header = job;
            Packet p{};
            r.Read(profile, 1, p.data(), nullptr);
            ms::AppendResultCsvRow(csv, results.jobs()[job], profile,
                                   ProfilePacket(p.data()).measurementCount(), result);
        }));
    ASSERT_EQ(seen.size(), 2000u - 300u + 100u);
    for (std::size_t k = 0; k < seen.size(); ++k) {
        const std::uint64_t profile = k < 1700 ? 300 + k : 2200 + (k - 1700);
        ASSERT_EQ(seen[k].second, profile);
        ASSERT_EQ(seen[k].first, profile < 1300 ? 0u : profile < 2000 ? 1u : 3u);
    }
    const std::string expected = MeasuredCsv(r, FirstJob(), 300, 1300) +
                                 MeasuredCsv(r, SecondJob(), 1300, 2000) +
                                 MeasuredCsv(r, SecondJob(), 2200, 2300);
    EXPECT_EQ(csv, expected);
    EXPECT_EQ(ExportResults(r, dir.file("all.csv")), expected);
}

TEST(RecordingResults, AJobThatDoesNotValidateDoesNotStartARecording) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("r.h5");
    s.job = FirstJob();
    s.job->tools[1].fit.rejectSigma = -1;
    std::string error;
    EXPECT_FALSE(rec.Start(s, &error));
    EXPECT_NE(error.find("measurement job"), std::string::npos) << error;
}

// A file without results tables, as every writer before version 1.1 made it:
// the same file with the group and the minor version taken out.
void RemoveResults(const std::string &path) {
    const hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    ASSERT_GE(f, 0);
    EXPECT_GE(H5Ldelete(f, kResultsGroup, H5P_DEFAULT), 0);
    EXPECT_GE(H5Adelete(f, kAttrMinorVersion), 0);
    H5Fclose(f);
}

TEST(RecordingResults, AFileWithoutResultsReadsWithTheNewReader) {
    TempDir dir;
    const std::string path = Record(dir, std::nullopt, 500);
    {
        RecordingReader r(path);
        EXPECT_TRUE(r.Results().jobs.empty()); // tables there, empty
        EXPECT_EQ(r.Results().values, 0u);
    }
    RemoveResults(path);
    RecordingReader r(path);
    EXPECT_EQ(r.profiles(), 500u);
    const RecordedResults t = r.Results();
    EXPECT_EQ(t.minorVersion, 0u);
    EXPECT_TRUE(t.jobs.empty());
    const RecordingSummary s = r.Summary();
    EXPECT_EQ(s.resultJobs, 0u);
    EXPECT_TRUE(s.resultsError.empty()) << s.resultsError;
    try {
        ExportResults(r, dir.file("x.csv"));
        ADD_FAILURE() << "exported results of a file without any";
    } catch (const ExportError &e) {
        EXPECT_EQ(e.kind(), ExportError::Kind::Request);
        EXPECT_NE(std::string(e.what()).find("holds no measurement results"), std::string::npos);
    }
    EXPECT_FALSE(std::ifstream(dir.file("x.csv")).good());
}

// What a reader of version 1 relies on, looked at with HDF5 alone: the
// version is still 1, and every table of version 1 keeps its type and shape.
TEST(RecordingResults, AFileWithResultsKeepsEverythingAVersion1ReaderReads) {
    TempDir dir;
    const std::string path = Record(dir, FirstJob(), 300);
    const hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(f, 0);
    std::uint32_t version = 0;
    const hid_t a = H5Aopen(f, kAttrVersion, H5P_DEFAULT);
    H5Aread(a, H5T_NATIVE_UINT32, &version);
    H5Aclose(a);
    EXPECT_EQ(version, 1u);
    const auto expect = [&](const char *name, std::size_t bytes, int rank, hsize_t row) {
        const hid_t d = H5Dopen2(f, name, H5P_DEFAULT);
        ASSERT_GE(d, 0) << name;
        const hid_t t = H5Dget_type(d);
        EXPECT_EQ(H5Tget_class(t), H5T_INTEGER) << name;
        EXPECT_EQ(H5Tget_size(t), bytes) << name;
        const hid_t sp = H5Dget_space(d);
        hsize_t dims[2] = {0, 0};
        EXPECT_EQ(H5Sget_simple_extent_dims(sp, dims, nullptr), rank) << name;
        if (rank == 2) {
            EXPECT_EQ(dims[1], row) << name;
        }
        H5Sclose(sp);
        H5Tclose(t);
        H5Dclose(d);
    };
    expect(kPackets, 1, 2, kPacketSize);
    expect(kMonotonicNs, 8, 1, 0);
    expect(kWallNs, 8, 1, 0);
    expect(kParameterBlocks, 1, 2, kParameterBlockSize);
    expect(kParameterFirstProfile, 8, 1, 0);
    expect(kParameterWallNs, 8, 1, 0);
    expect(kWriterStatus, 8, 1, 0);
    H5Fclose(f);
    RecordingReader r(path);
    EXPECT_EQ(r.version(), 1u);
    EXPECT_EQ(r.profiles(), 300u);
}

// Opens the file for changing one results table.
class DamagedResults : public ::testing::Test {
protected:
    void SetUp() override { path_ = Record(dir_, FirstJob(), 400); }
    hid_t Open() { return H5Fopen(path_.c_str(), H5F_ACC_RDWR, H5P_DEFAULT); }
    // Overwrites one byte-sized row of a table.
    void WriteByte(const char *table, hsize_t row, std::uint8_t value) {
        const hid_t f = Open();
        const hid_t d = H5Dopen2(f, table, H5P_DEFAULT);
        const hsize_t start[1] = {row}, one[1] = {1};
        const hid_t space = H5Dget_space(d);
        H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, one, nullptr);
        const hid_t mem = H5Screate_simple(1, one, nullptr);
        EXPECT_GE(H5Dwrite(d, H5T_NATIVE_UINT8, mem, space, H5P_DEFAULT, &value), 0);
        H5Sclose(mem);
        H5Sclose(space);
        H5Dclose(d);
        H5Fclose(f);
    }
    // The profiles read as before, and the results say what is wrong.
    // (summary: whether reading the tables alone finds it, as `recording
    // info` does; the export reads every row against its job.)
    void ExpectReported(const std::string &fragment, bool summary = true) {
        RecordingReader r(path_);
        EXPECT_EQ(r.profiles(), 400u);
        Packet p{};
        r.Read(399, 1, p.data(), nullptr);
        EXPECT_EQ(p, MakePacket(399));
        const RecordingSummary s = r.Summary();
        EXPECT_EQ(s.profiles, 400u);
        if (summary) {
            EXPECT_NE(s.resultsError.find(fragment), std::string::npos) << s.resultsError;
        }
        try {
            ExportResults(r, dir_.file("x.csv"));
            ADD_FAILURE() << "exported damaged results";
        } catch (const RecordingError &e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::ifstream(dir_.file("x.csv")).good());
    }
    TempDir dir_;
    std::string path_;
};

TEST_F(DamagedResults, AMissingTableIsNamed) {
    const hid_t f = Open();
    ASSERT_GE(H5Ldelete(f, kResultStatus, H5P_DEFAULT), 0);
    H5Fclose(f);
    ExpectReported("'results/status' is missing");
}

TEST_F(DamagedResults, ATableOfTheWrongTypeIsNamed) {
    const hid_t f = Open();
    ASSERT_GE(H5Ldelete(f, kResultValue, H5P_DEFAULT), 0);
    const hsize_t dims[1] = {6000};
    const hid_t space = H5Screate_simple(1, dims, nullptr);
    const hid_t d =
        H5Dcreate2(f, kResultValue, H5T_STD_I32LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dclose(d);
    H5Sclose(space);
    H5Fclose(f);
    ExpectReported("'results/value' has the wrong element type");
}

TEST_F(DamagedResults, ACutValueTableLeavesAProfileShortOfValues) {
    const hid_t f = Open();
    const hid_t d = H5Dopen2(f, kResultProfile, H5P_DEFAULT);
    // Truncated: the last profile keeps 7 of its 15 values. Reading the
    // rows of a cut file stops at the shortest table, so all five are cut.
    const hsize_t rows[1] = {400 * 15 - 8};
    for (const char *name : {kResultOutput, kResultValue, kResultStatus, kResultReason}) {
        const hid_t t = H5Dopen2(f, name, H5P_DEFAULT);
        H5Dset_extent(t, rows);
        H5Dclose(t);
    }
    H5Dset_extent(d, rows);
    H5Dclose(d);
    H5Fclose(f);
    ExpectReported("profile 399 has 7 of the 15 values of its job", false);
}

TEST_F(DamagedResults, AJobTextThatIsNoJobIsReported) {
    WriteByte(kJobJson, 0, '[');
    RecordingReader r(path_);
    EXPECT_EQ(r.profiles(), 400u);
    EXPECT_EQ(r.Summary().resultJobs, 1u); // the tables themselves read
    try {
        ExportResults(r, dir_.file("x.csv"));
        ADD_FAILURE() << "exported the results of a damaged job";
    } catch (const RecordingError &e) {
        EXPECT_NE(std::string(e.what()).find("job 0 cannot be read"), std::string::npos)
            << e.what();
    }
}

TEST_F(DamagedResults, AnUnknownStatusIsReported) {
    WriteByte(kResultStatus, 20, 9);
    ExpectReported("value row 20 has an unknown status");
}

// A writer killed mid-recording: the results of every profile that reached
// the file read back (kill -9 of the helper, which records with a job).
TEST(RecordingResults, ACutRecordingKeepsTheResultsOfItsProfiles) {
    TempDir dir;
    const std::string path = dir.file("cut.h5");
    const std::string command = std::string(QZ417_RECORDING_HELPER) + " '" + path +
                                "' 2000 120000 job & echo $! > '" + dir.file("pid") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // Bounded wait until at least two flushes are in the file.
    const auto until = std::chrono::steady_clock::now() + 20s;
    std::uint64_t profiles = 0;
    while (profiles < 2500 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(50ms);
        try {
            RecordingReader r(path);
            profiles = r.profiles();
        } catch (const RecordingError &) {
        }
    }
    const std::string kill = "kill -9 $(cat '" + dir.file("pid") + "')";
    ASSERT_EQ(std::system(kill.c_str()), 0);
    ASSERT_GE(profiles, 2500u);
    std::this_thread::sleep_for(100ms); // the kernel closes the file
    RecordingReader r(path);
    RecordedResultsReader results(r);
    std::uint64_t next = 0;
    ASSERT_TRUE(results.ForEach(0, r.profiles(),
                                [&](std::size_t job, std::uint64_t profile, const ms::JobResult &) {
                                    EXPECT_EQ(job, 0u);
                                    EXPECT_EQ(profile, next);
                                    ++next;
                                }));
    // Results follow their profiles; the flushes took both along.
    EXPECT_GE(next, 1000u);
    EXPECT_LE(next, r.profiles());
}

} // namespace
} // namespace qz417::recording
