// A measurement job: the list of tools to run on every profile, each with
// its regions, parameters and optional limits, and its JSON file.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qz417::measure {

// Name and version written into and required from every job file.
inline constexpr std::string_view kJobFormat = "qz417-measure-job";
inline constexpr int kJobVersion = 1;

// Coordinates beyond this (mm) are refused: no scanner measures there, and
// such a region is a typing error.
inline constexpr double kCoordinateLimitMm = 10000.0;

// X range, optionally narrowed in Z (both closed intervals, mm).
struct Region {
    double xMin = 0.0;
    double xMax = 0.0;
    double zMin = -std::numeric_limits<double>::infinity();
    double zMax = std::numeric_limits<double>::infinity();
    bool Contains(double x, double z) const {
        return x >= xMin && x <= xMax && z >= zMin && z <= zMax;
    }
    bool operator==(const Region &) const = default;
};

enum class ToolKind { Height, Line, Step, Edge, Width, Gap, Angle, Area };
inline constexpr int kToolKinds = 8;

enum class EdgeDirection { Rising, Falling, Any };
enum class EdgePick { First, Last };
enum class Polarity { Bead, Groove };

// Robust line fit: least squares, then points farther than rejectSigma times
// the robust spread (1.4826 x median absolute residual) are left out and the
// line refitted, until the kept set stays the same or maxIterations.
// With level, the line is held horizontal (only its height is fitted): for
// surfaces known to lie level, it halves the noise of a step compared with
// fitting each surface's tilt as well.
struct FitOptions {
    double rejectSigma = 3.0;
    int maxIterations = 8;
    bool level = false;
    bool operator==(const FitOptions &) const = default;
};

// One output of a tool: its name in the job file and the results, and its unit.
struct OutputInfo {
    const char *name;
    const char *unit;
};
inline constexpr int kMaxOutputs = 5;

struct ToolInfo {
    ToolKind kind;
    const char *name; // as in the job file
    int outputCount;
    std::array<OutputInfo, kMaxOutputs> outputs;
};
const ToolInfo &InfoOf(ToolKind kind);
// nullptr for an unknown name.
const ToolInfo *FindTool(std::string_view name);
// Index of the named output of kind, -1 when it has none of that name.
int FindOutput(ToolKind kind, std::string_view name);

// A limit on one output; NaN = no bound on that side.
struct Limit {
    int output = 0;
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
};

// One tool. Which fields count depends on the kind (see docs/measurement.md):
//   Height, Line, Edge, Width, Area: region
//   Step, Angle: region (first line) and second (second line)
//   Gap: region (left surface) and second (right surface)
struct ToolSetup {
    std::string name;
    ToolKind kind = ToolKind::Height;
    Region region;
    Region second;
    FitOptions fit;
    // Step: X where the lines are compared; NaN = halfway between the regions' centres.
    double referenceX = std::numeric_limits<double>::quiet_NaN();
    // Edge, Width: the height the profile crosses; with levelBase non-empty it
    // is relative to the line fitted on those regions, else absolute Z.
    double level = 0.0;
    std::vector<Region> levelBase;
    EdgeDirection direction = EdgeDirection::Any;
    EdgePick pick = EdgePick::First;
    Polarity polarity = Polarity::Bead;
    // Gap: how far (mm) a point may lie off its surface's line and still belong to it.
    double gapTolerance = 0.2;
    // Area: the base line, fitted on areaBase regions, or fixed (angle in
    // degrees, offset = Z at X = 0) when areaBase is empty.
    std::vector<Region> areaBase;
    double baseAngleDeg = 0.0;
    double baseOffset = 0.0;
    std::vector<Limit> limits;
};

struct Job {
    std::vector<ToolSetup> tools;
};

// A job file or text that cannot be used; what() names the entry.
class JobError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses and checks a job. Throws JobError naming the first bad entry
// ("tools[2] \"bead\": limits.width: min 3 is above max 2").
Job ParseJob(std::string_view text);
// Reads and parses a file; the message starts with the path.
Job LoadJob(const std::string &path);
// The job as the file format (ParseJob(JobToJson(j)) gives the same job).
std::string JobToJson(const Job &job);
// Checks a job built in code the same way ParseJob checks a file; throws JobError.
void ValidateJob(const Job &job);

} // namespace qz417::measure
