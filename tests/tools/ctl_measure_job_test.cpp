// qz417ctl measure --job: on a recording written here (known geometry, so
// the values are checked), as CSV and JSON lines, the exit status of failed
// limits, bad jobs and files; and on the stream of the emulated scanner.
// qz417ctl stream --record --job: the results stored with the recording,
// shown by `recording info` and exported as the same CSV `measure
// --recording` writes on the file.
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ctl_e2e_fixture.h"
#include "ctl_process.h"
#include "model/recording/recording_file.h"
#include <gtest/gtest.h>

namespace qz417::ctl::test {
namespace {

namespace rec = qz417::recording;

// Scale of the recording: 230 mm, 250 mm, 16384, error value 0.
constexpr double kRangeX = 230, kRangeZ = 250, kDiscrete = 16384;

// Profile i: a step of 1 + 0.5 i mm at x = 0 on a level surface 50 mm high,
// X from -40 to 40 mm; every 10th point invalid.
rec::Packet StepPacket(int i) {
    rec::Packet p{};
    p[0] = static_cast<std::uint8_t>(i);
    for (int k = 0; k < 1024; ++k) {
        const double x = -40.0 + 80.0 * k / 1023.0;
        const double z = 50.0 + (x > 0 ? 1.0 + 0.5 * i : 0.0);
        auto xr = static_cast<std::int16_t>(std::lround(x * kDiscrete / kRangeX));
        auto zr = static_cast<std::int16_t>(std::lround(z * kDiscrete / kRangeZ));
        if (k % 10 == 5)
            zr = 0;
        std::uint8_t *q = p.data() + 4 + 4 * k;
        q[0] = static_cast<std::uint8_t>(zr), q[1] = static_cast<std::uint8_t>(zr >> 8);
        q[2] = static_cast<std::uint8_t>(xr), q[3] = static_cast<std::uint8_t>(xr >> 8);
    }
    return p;
}

const char *kJob = R"({"format": "qz417-measure-job", "version": 1, "tools": [
  {"name": "step", "tool": "step", "regions": [{"x": [-35, -5]}, {"x": [5, 35]}],
   "limits": {"step": {"min": 0.5, "max": 1.6}}},
  {"name": "top", "tool": "height", "region": {"x": [10, 30]}},
  {"name": "nothing", "tool": "height", "region": {"x": [100, 200]}}
]})";

class CtlMeasure : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        recording_ = dir_ + "/r.h5";
        job_ = dir_ + "/job.json";
        std::ofstream(job_) << kJob;
        rec::Announcement a{};
        a[12 + 6] = 250, a[12 + 10] = 230, a[12 + 13] = 0x40; // 250, 230, 16384, 0
        rec::RecordingWriter w(recording_, {a, rec::ParameterBlock{}, "test"});
        for (int i = 0; i < 3; ++i) {
            const rec::Packet p = StepPacket(i);
            const rec::ReceiveTime t{1'000'000'000 + i * 1'000'000, 1'765'000'000'000'000'000};
            w.Append(p.data(), &t, 1);
        }
        w.Close(0, rec::EndState::Closed);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string dir_, recording_, job_;
};

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, ',');)
        fields.push_back(f);
    if (!line.empty() && line.back() == ',')
        fields.emplace_back();
    return fields;
}

TEST_F(CtlMeasure, CsvLinePerProfileSummaryAndExitStatusOfFailedLimits) {
    const CtlResult r = RunCtl({"measure", "--job", job_, "--recording", recording_});
    // Step 1, 1.5, 2 mm against the limits 0.5 .. 1.6: the last fails.
    EXPECT_EQ(r.status, 3) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "profile,measurement,step.step,step.x,step.state,top.min,top.max,top.mean,"
                        "top.median,top.count,top.state,nothing.min,nothing.max,nothing.mean,"
                        "nothing.median,nothing.count,nothing.state,passed");
    for (int i = 0; i < 3; ++i) {
        const auto f = Fields(lines[static_cast<std::size_t>(i) + 1]);
        ASSERT_EQ(f.size(), 18u) << lines[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(f[0], std::to_string(i));
        EXPECT_EQ(f[1], std::to_string(i));
        // A level surface rounds to one raw Z value: each side is off by up
        // to half a Z unit (0.0076 mm), the step by up to one.
        EXPECT_NEAR(std::stod(f[2]), 1.0 + 0.5 * i, 0.0153)
            << lines[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(f[4], i < 2 ? "pass" : "fail");
        EXPECT_NEAR(std::stod(f[7]), 51.0 + 0.5 * i, 0.0077);
        EXPECT_EQ(f[10], "pass"); // no limits
        EXPECT_EQ(f[11], "");     // no result: empty, never 0
        EXPECT_EQ(f[16], "no result: no valid points in the region");
        EXPECT_EQ(f[17], i < 2 ? "1" : "0");
    }
    EXPECT_NE(r.err.find("profiles=3 passed=2 failed=1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("step.step"), std::string::npos) << r.err;
    // count, mean 1.5 and the one failure of the step.
    const auto at = r.err.find("step.step");
    std::istringstream row(r.err.substr(at));
    std::string name, unit, count, mean, sd, min, max, failures, noResult;
    row >> name >> unit >> count >> mean >> sd >> min >> max >> failures >> noResult;
    EXPECT_EQ(unit, "mm");
    EXPECT_EQ(count, "3");
    EXPECT_NEAR(std::stod(mean), 1.5, 0.0153);
    EXPECT_NEAR(std::stod(sd), 0.5, 0.01);
    EXPECT_EQ(failures, "1");
    EXPECT_EQ(noResult, "0");
}

TEST_F(CtlMeasure, JsonLinesToAFileAndCountBound) {
    const std::string out = dir_ + "/m.jsonl";
    const CtlResult r = RunCtl(
        {"measure", "--job", job_, "--recording", recording_, "--json", "--count", "2", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err; // the two profiles within the limits
    EXPECT_EQ(r.out, "");
    const auto lines = Lines(ReadFile(out));
    ASSERT_EQ(lines.size(), 2u);
    const auto j = nlohmann::json::parse(lines[1]);
    EXPECT_EQ(j["profile"], 1);
    EXPECT_EQ(j["passed"], true);
    EXPECT_NEAR(j["tools"]["step"]["values"]["step"].get<double>(), 1.5, 0.0153);
    EXPECT_EQ(j["tools"]["step"]["limits"]["step"], "pass");
    EXPECT_EQ(j["tools"]["nothing"]["ok"], false);
    EXPECT_EQ(j["tools"]["nothing"]["reason"], "no valid points in the region");
    const auto summary = nlohmann::json::parse(Lines(r.err).back());
    EXPECT_EQ(summary["profiles"], 2);
    EXPECT_EQ(summary["tools"]["step"]["outputs"]["step"]["count"], 2);
    EXPECT_EQ(summary["tools"]["nothing"]["noResult"], 2);
}

TEST_F(CtlMeasure, BadJobsFilesAndLinesAreRefused) {
    std::ofstream(dir_ + "/bad.json")
        << R"({"format": "qz417-measure-job", "version": 1, "tools": [{"name": "w", "tool": "width", "region": {"x": [0, 1]}, "level": 0, "limits": {"width": {"min": 3, "max": 2}}}]})";
    CtlResult r = RunCtl({"measure", "--job", dir_ + "/bad.json", "--recording", recording_});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "qz417ctl: " + dir_ +
                         "/bad.json: tools[0] \"w\": limits.width: min 3 is above max 2\n");
    r = RunCtl({"measure", "--recording", recording_});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--job FILE is missing"), std::string::npos);
    r = RunCtl({"measure", "--job", job_, "--recording", recording_, "--port", "6003"});
    EXPECT_EQ(r.status, 2);
    r = RunCtl({"measure", "--job", job_, "--recording", recording_, "--scale", "230,250"});
    EXPECT_EQ(r.status, 2);
    r = RunCtl({"measure", "--job", job_, "--recording", dir_ + "/missing.h5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.h5"), std::string::npos) << r.err;
}

TEST_F(CtlMeasure, ScaleOptionOverridesTheRecordedScale) {
    // Twice the Z range: every height doubles, so does the step.
    const CtlResult r = RunCtl({"measure", "--job", job_, "--recording", recording_, "--count", "1",
                                "--scale", "230,500,16384,0"});
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_NEAR(std::stod(Fields(lines[1])[2]), 2.0, 0.0306); // one unit of 500 / 16384 mm
}

// The emulator streams by UDP once its block names this port: every line
// carries the tools' results, the count bounds the run.
TEST_F(CtlE2E, MeasuresTheEmulatorsStream) {
    const std::string job = path("job.json");
    std::ofstream(job) << R"({"format": "qz417-measure-job", "version": 1, "tools": [
      {"name": "all", "tool": "height", "region": {"x": [-5000, 5000]}, "limits": {"count": {"min": 1}}},
      {"name": "surface", "tool": "line", "region": {"x": [-5000, 5000]}}]})";
    const int port = 16011;
    CtlProcess ctl({"measure", "--job", job, "--port", std::to_string(port), "--count", "20",
                    "--seconds", "20", "--scale", "300,500,16000,0", "--json"});
    const CtlResult set = RunCtl({"params", "set", "127.0.0.1", "udpAddress=127.0.0.1",
                                  "udpPort=" + std::to_string(port), "udpFrequency=100"});
    ASSERT_EQ(set.status, 0) << set.err;
    const CtlResult r = ctl.finish(25000);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 20u) << r.out;
    for (const auto &line : lines) {
        const auto j = nlohmann::json::parse(line);
        EXPECT_EQ(j["tools"]["all"]["ok"], true) << line;
        EXPECT_GT(j["tools"]["all"]["values"]["count"].get<double>(), 10) << line;
        EXPECT_EQ(j["tools"]["surface"]["ok"], true) << line;
    }
    EXPECT_NE(r.err.find("\"profiles\":20"), std::string::npos) << r.err;
}

// The emulator's stream recorded with a job: every profile measured, and
// the stored results are those qz417ctl measure computes on the file.
TEST_F(CtlE2E, StreamRecordsTheResultsOfAJob) {
    const std::string job = path("job.json");
    std::ofstream(job) << R"({"format": "qz417-measure-job", "version": 1, "tools": [
      {"name": "all", "tool": "height", "region": {"x": [-5000, 5000]}, "limits": {"count": {"min": 600}}},
      {"name": "surface", "tool": "line", "region": {"x": [-5000, 5000]}},
      {"name": "nowhere", "tool": "height", "region": {"x": [9000, 9500]}}]})";
    const std::string recording = path("r.h5");
    const int port = 16012;
    CtlProcess ctl({"stream", "--port", std::to_string(port), "--seconds", "2", "--record",
                    recording, "--job", job});
    ASSERT_TRUE(ctl.waitForOutput("receiving on UDP port", 10000));
    const CtlResult set = RunCtl({"params", "set", "127.0.0.1", "udpAddress=127.0.0.1",
                                  "udpPort=" + std::to_string(port), "udpFrequency=100"});
    ASSERT_EQ(set.status, 0) << set.err;
    const CtlResult r = ctl.finish(15000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" unmeasured=0 with " + job), std::string::npos) << r.out;

    rec::RecordingReader reader(recording);
    const std::uint64_t profiles = reader.profiles();
    ASSERT_GT(profiles, 20u);
    const CtlResult info = RunCtl({"recording", "info", recording});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("results: " + std::to_string(profiles) + " profiles measured, 1 job\n"),
              std::string::npos)
        << info.out;
    EXPECT_NE(
        info.out.find("job 1 from profile 0: all (height), surface (line), nowhere (height)\n"),
        std::string::npos)
        << info.out;

    const std::string exported = path("results.csv");
    const CtlResult e =
        RunCtl({"recording", "export", recording, "--format", "results-csv", "-o", exported});
    ASSERT_EQ(e.status, 0) << e.err;
    const CtlResult m = RunCtl({"measure", "--job", job, "--recording", recording});
    ASSERT_TRUE(m.status == 0 || m.status == 3) << m.err;
    EXPECT_EQ(ReadFile(exported), m.out);
    EXPECT_EQ(Lines(m.out).size(), profiles + 1);

    // Without --record the job has nowhere to go.
    const CtlResult bad = RunCtl({"stream", "--job", job, "--seconds", "1"});
    EXPECT_EQ(bad.status, 2) << bad.err;
    EXPECT_NE(bad.err.find("--job needs --record"), std::string::npos) << bad.err;
}

} // namespace
} // namespace qz417::ctl::test
