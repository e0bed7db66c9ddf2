// The job file: a full job reads back as written, and every kind of bad
// input is refused with one message naming the bad entry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "model/measure/job.h"
#include "model/measure/measurer.h"

namespace {

using qz417::measure::JobError;
using qz417::measure::ParseJob;
using qz417::measure::ToolKind;

const char *kFullJob = R"({
  "format": "qz417-measure-job", "version": 1,
  "tools": [
    {"name": "top", "tool": "height", "region": {"x": [-10, 10], "z": [-5, 5]},
     "limits": {"mean": {"min": 0.5, "max": 1.5}, "count": {"min": 100}}},
    {"name": "flat", "tool": "line", "region": {"x": [-40, -20]}, "fit": {"rejectSigma": 2.5, "iterations": 4},
     "limits": {"straightness": {"max": 0.05}}},
    {"name": "step", "tool": "step", "regions": [{"x": [-40, -5]}, {"x": [5, 40]}], "referenceX": 0},
    {"name": "edge", "tool": "edge", "region": {"x": [-5, 5]}, "level": 0.5,
     "levelBase": [{"x": [-40, -20]}], "direction": "rising", "pick": "last"},
    {"name": "bead", "tool": "width", "region": {"x": [-20, 20]}, "level": 1, "polarity": "groove"},
    {"name": "joint", "tool": "gap", "regions": [{"x": [-30, -3]}, {"x": [3, 30]}], "tolerance": 0.1},
    {"name": "vee", "tool": "angle", "regions": [{"x": [-30, -2]}, {"x": [2, 30]}],
     "limits": {"angle": {"min": 89, "max": 91}}},
    {"name": "fill", "tool": "area", "region": {"x": [-10, 10]}, "base": [{"x": [-40, -20]}, {"x": [20, 40]}]},
    {"name": "fixed", "tool": "area", "region": {"x": [-10, 10]}, "base": {"angle": 2, "offset": -1}}
  ]
})";

TEST(MeasureJob, FullJobParsesAndRoundTrips) {
    const auto job = ParseJob(kFullJob);
    ASSERT_EQ(job.tools.size(), 9u);
    EXPECT_EQ(job.tools[0].kind, ToolKind::Height);
    EXPECT_EQ(job.tools[0].region.zMax, 5.0);
    ASSERT_EQ(job.tools[0].limits.size(), 2u);
    EXPECT_EQ(job.tools[0].limits[1].output, 4); // count
    EXPECT_TRUE(std::isnan(job.tools[0].limits[1].max));
    EXPECT_EQ(job.tools[1].fit.maxIterations, 4);
    EXPECT_EQ(job.tools[3].pick, qz417::measure::EdgePick::Last);
    EXPECT_EQ(job.tools[3].levelBase.size(), 1u);
    EXPECT_EQ(job.tools[4].polarity, qz417::measure::Polarity::Groove);
    EXPECT_EQ(job.tools[5].gapTolerance, 0.1);
    EXPECT_EQ(job.tools[7].areaBase.size(), 2u);
    EXPECT_EQ(job.tools[8].baseOffset, -1.0);

    const std::string again = qz417::measure::JobToJson(job);
    EXPECT_EQ(qz417::measure::JobToJson(ParseJob(again)), again);
    EXPECT_EQ(ParseJob(again).tools[6].limits[0].min, 89.0);
}

std::string Message(const std::string &text) {
    try {
        ParseJob(text);
    } catch (const JobError &e) {
        return e.what();
    }
    return "(accepted)";
}

std::string WithTool(const std::string &tool) {
    return R"({"format": "qz417-measure-job", "version": 1, "tools": [)" + tool + "]}";
}

TEST(MeasureJob, MalformedOrForeignFilesAreRefused) {
    EXPECT_EQ(Message("{\"format\": \"qz417-measure-job\", "),
              "not a measurement job: the text is not JSON (at byte 33)");
    EXPECT_EQ(Message(""), "not a measurement job: the text is not JSON (at byte 1)");
    EXPECT_EQ(Message("[1, 2]"), "not a measurement job: \"format\" is not \"qz417-measure-job\"");
    EXPECT_EQ(Message(R"({"format": "qz417-parameters", "version": 1})"),
              "not a measurement job: \"format\" is not \"qz417-measure-job\"");
    EXPECT_EQ(Message(R"({"format": "qz417-measure-job", "version": 2, "tools": []})"),
              "version 2 is not supported (this program reads version 1)");
    EXPECT_EQ(Message(R"({"format": "qz417-measure-job", "version": "1", "tools": []})"),
              "version: expected a whole number");
    EXPECT_EQ(Message(R"({"format": "qz417-measure-job", "version": 1, "tools": []})"),
              "tools: the job has no tools");
    EXPECT_EQ(Message(R"({"format": "qz417-measure-job", "version": 1, "tools": {}})"),
              "tools: expected a list of tools");
    EXPECT_EQ(Message(R"({"format": "qz417-measure-job", "version": 1, "tool": []})"),
              "unknown entry \"tool\"");
}

TEST(MeasureJob, BadToolsAreNamed) {
    EXPECT_EQ(Message(WithTool(R"({"name": "a", "tool": "diameter", "region": {"x": [0, 1]}})")),
              "tools[0] \"a\": unknown tool \"diameter\" (known: height, line, step, edge, width, "
              "gap, angle, area)");
    EXPECT_EQ(Message(WithTool(R"({"region": {"x": [0, 1]}})")),
              "tools[0] \"tool 1\": \"tool\" is missing");
    EXPECT_EQ(Message(WithTool("3")), "tools[0]: expected an object");
    EXPECT_EQ(Message(WithTool(R"({"name": "", "tool": "height"})")),
              "tools[0]: name: must not be empty");
    EXPECT_EQ(Message(WithTool(
                  R"({"name": "h", "tool": "height", "region": {"x": [0, 1]}, "level": 1})")),
              "tools[0] \"h\": unknown entry \"level\"");
    EXPECT_EQ(Message(WithTool(R"({"name": "h", "tool": "height"})")),
              "tools[0] \"h\": \"region\" is missing");
    EXPECT_EQ(Message(WithTool(R"({"name": "s", "tool": "step", "regions": [{"x": [0, 1]}]})")),
              "tools[0] \"s\": regions: expected exactly two regions, found 1");
    EXPECT_EQ(Message(WithTool(R"({"name": "e", "tool": "edge", "region": {"x": [0, 1]}})")),
              "tools[0] \"e\": \"level\" is missing");
    EXPECT_EQ(
        Message(WithTool(
            R"({"name": "e", "tool": "edge", "region": {"x": [0, 1]}, "level": 0, "direction": "up"})")),
        "tools[0] \"e\": direction: \"up\" is none of rising, falling, any");
    EXPECT_EQ(
        Message(WithTool(R"({"name": "a", "tool": "area", "region": {"x": [0, 1]}})")),
        "tools[0] \"a\": \"base\" is missing (regions to fit it on, or {\"angle\", \"offset\"})");
    EXPECT_EQ(
        Message(WithTool(
            R"({"name": "g", "tool": "gap", "regions": [{"x": [0, 1]}, {"x": [2, 3]}], "tolerance": 0})")),
        "tools[0] \"g\": tolerance: 0 must be above 0");
    EXPECT_EQ(
        Message(WithTool(
            R"({"name": "l", "tool": "line", "region": {"x": [0, 1]}, "fit": {"iterations": 0}})")),
        "tools[0] \"l\": fit.iterations: 0 lies outside 1 .. 50");
    EXPECT_EQ(
        Message(WithTool(
            R"({"name": "x", "tool": "height", "region": {"x": [0, 1]}}, {"name": "x", "tool": "height", "region": {"x": [0, 1]}})")),
        "tools[1] \"x\": the name is already used by tools[0]");
}

TEST(MeasureJob, BadRegionsAreNamed) {
    const auto region = [](const std::string &r) {
        return Message(WithTool(R"({"name": "h", "tool": "height", "region": )" + r + "}"));
    };
    EXPECT_EQ(region(R"({"x": [5, 1]})"),
              "tools[0] \"h\": region.x: the range [5, 1] is empty or inverted");
    EXPECT_EQ(region(R"({"x": [1, 1]})"),
              "tools[0] \"h\": region.x: the range [1, 1] is empty or inverted");
    EXPECT_EQ(region(R"({"x": [0, 20000]})"),
              "tools[0] \"h\": region.x[1]: 20000 mm lies outside the range +-10000 mm");
    EXPECT_EQ(region(R"({"x": [0, 1], "z": [3, -3]})"),
              "tools[0] \"h\": region.z: the range [3, -3] is empty or inverted");
    EXPECT_EQ(region(R"({"x": [0]})"), "tools[0] \"h\": region.x: expected [min, max]");
    EXPECT_EQ(region(R"({"x": ["0", 1]})"), "tools[0] \"h\": region.x[0]: expected a number");
    EXPECT_EQ(region(R"({"z": [0, 1]})"), "tools[0] \"h\": region: \"x\" is missing");
    EXPECT_EQ(region(R"({"x": [0, 1], "y": [0, 1]})"),
              "tools[0] \"h\": region: unknown entry \"y\"");
    // Numbers beyond double (1e999) are refused by the JSON reader itself,
    // never read as a silent infinity.
    EXPECT_EQ(
        region(R"({"x": [0, 1e999]})").rfind("not a measurement job: the text is not JSON", 0), 0u);
    // An open Z side is null.
    EXPECT_EQ(region(R"({"x": [0, 1], "z": [null, 2]})"), "(accepted)");
    EXPECT_EQ(region(R"({"x": [null, 1]})"), "tools[0] \"h\": region.x[0]: expected a number");
}

TEST(MeasureJob, BadLimitsAreNamed) {
    const auto limits = [](const std::string &l) {
        return Message(WithTool(
            R"({"name": "w", "tool": "width", "region": {"x": [0, 1]}, "level": 0, "limits": )" +
            l + "}"));
    };
    EXPECT_EQ(limits(R"({"width": {"min": 3, "max": 2}})"),
              "tools[0] \"w\": limits.width: min 3 is above max 2");
    EXPECT_EQ(limits(R"({"height": {"max": 2}})"),
              "tools[0] \"w\": limits.height: the tool width has no output \"height\" (outputs: "
              "width, centre, left, right)");
    EXPECT_EQ(limits(R"({"width": {}})"), "tools[0] \"w\": limits.width: give min, max or both");
    EXPECT_EQ(limits(R"({"width": {"max": null}})"),
              "tools[0] \"w\": limits.width.max: expected a number");
    EXPECT_EQ(limits(R"({"width": {"low": 1}})"),
              "tools[0] \"w\": limits.width: unknown entry \"low\"");
    EXPECT_EQ(
        limits(R"([1, 2])"),
        "tools[0] \"w\": limits: expected an object {\"<output>\": {\"min\": .., \"max\": ..}}");
}

TEST(MeasureJob, JobsBuiltInCodeAreCheckedToo) {
    qz417::measure::Job job;
    qz417::measure::ToolSetup t;
    t.name = "n";
    t.region.xMin = 0;
    t.region.xMax = std::nan("");
    job.tools = {t};
    EXPECT_THROW(qz417::measure::Measurer m(job), JobError);
    job.tools[0].region.xMax = 1;
    job.tools[0].limits = {{7, 0, 1}};
    EXPECT_THROW(qz417::measure::Measurer m(job), JobError);
    job.tools[0].limits = {{0, 2, 1}};
    EXPECT_THROW(qz417::measure::Measurer m(job), JobError);
    job.tools[0].limits = {{0, 1, 2}};
    EXPECT_NO_THROW(qz417::measure::Measurer m(job));
}

TEST(MeasureJob, LoadNamesTheFile) {
    EXPECT_THROW(qz417::measure::LoadJob("/nonexistent/job.json"), JobError);
    char name[] = "/tmp/qz417-job-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    { std::ofstream(name) << "{\"format\": \"other\"}"; }
    try {
        qz417::measure::LoadJob(name);
        ADD_FAILURE() << "accepted";
    } catch (const JobError &e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string(name) +
                      ": not a measurement job: \"format\" is not \"qz417-measure-job\"");
    }
    { std::ofstream(name) << kFullJob; }
    EXPECT_EQ(qz417::measure::LoadJob(name).tools.size(), 9u);
    std::remove(name);
}

} // namespace
