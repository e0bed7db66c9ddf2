#include "model/measure/measurer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace qz417::measure {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double Degrees(double slope) {
    return std::atan(slope) * 180.0 / std::numbers::pi;
}

// What a tool works with: the workspace, its lines (fitted on first use).
struct Context {
    Workspace &ws;
    Measurer &measurer;
    const std::array<int, 3> &slots;
    const Line &First() const { return measurer.Fitted(slots[0]); }
    const Line &Second() const { return measurer.Fitted(slots[1]); }
    const Line &Base() const { return measurer.Fitted(slots[2]); }
};

void Fail(ToolResult &out, const char *reason) {
    out.ok = false;
    out.reason = reason;
}

void Height(const ToolSetup &setup, const Context &c, ToolResult &out) {
    Workspace &ws = c.ws;
    const Region regions[] = {setup.region};
    const Gathered points = ws.Gather(regions);
    const std::size_t n = points.n;
    if (n == 0)
        return Fail(out, "no valid points in the region");
    const Spread spread = SpreadOf(points.z, n);
    double *z = ws.scratch.data();
    std::memcpy(z, points.z, n * sizeof *z);
    const double mean = spread.sum / static_cast<double>(n);
    const double median = MedianInPlace(z, n);
    out.values = {spread.least, spread.greatest, mean, median, static_cast<double>(n)};
}

void LineTool(const ToolSetup &, const Context &c, ToolResult &out) {
    const Line &line = c.First();
    if (!line.ok)
        return Fail(out, line.reason);
    out.values = {Degrees(line.slope), line.intercept, line.rms, line.largestDeviation,
                  static_cast<double>(line.inliers)};
}

double Centre(const Region &r) {
    return 0.5 * (r.xMin + r.xMax);
}

void Step(const ToolSetup &setup, const Context &c, ToolResult &out) {
    const Line &first = c.First();
    if (!first.ok)
        return Fail(out, first.reason);
    const Line &second = c.Second();
    if (!second.ok)
        return Fail(out, second.reason);
    const double x = std::isnan(setup.referenceX)
                         ? 0.5 * (Centre(setup.region) + Centre(setup.second))
                         : setup.referenceX;
    out.values[0] = second.At(x) - first.At(x);
    out.values[1] = x;
}

// The height the profile is compared with at x.
struct LevelLine {
    double slope = 0.0;
    double intercept = 0.0;
    double At(double x) const { return slope * x + intercept; }
};

const char *MakeLevel(const ToolSetup &setup, const Context &c, LevelLine &level) {
    level.slope = 0.0;
    level.intercept = setup.level;
    if (setup.levelBase.empty())
        return nullptr;
    const Line &base = c.Base();
    if (!base.ok)
        return base.reason;
    level.slope = base.slope;
    level.intercept = base.intercept + setup.level;
    return nullptr;
}

struct Crossing {
    double x;
    bool rising;
};

// X where the profile crosses the level between two neighbouring valid
// points of the region (linear between them, also across invalid points).
// Calls visit(crossing) for each in X order; stops when it returns false.
template <typename Visit>
std::size_t Crossings(const Workspace &ws, const Region &region, const LevelLine &level,
                      Visit visit) {
    const auto points = ws.points();
    const auto [first, last] = ws.Span(region);
    bool have = false;
    double px = 0.0, pd = 0.0;
    std::size_t used = 0;
    for (std::size_t i = first; i < last; ++i) {
        const Point p = points[i];
        if (p.z < region.zMin || p.z > region.zMax)
            continue;
        ++used;
        const double d = p.z - level.At(p.x);
        if (have) {
            const bool rising = pd < 0.0 && d >= 0.0;
            const bool falling = pd >= 0.0 && d < 0.0;
            if (rising || falling) {
                const double t = pd / (pd - d);
                if (!visit(Crossing{px + t * (p.x - px), rising}))
                    return used;
            }
        }
        have = true;
        px = p.x;
        pd = d;
    }
    return used;
}

bool Wanted(EdgeDirection direction, bool rising) {
    return direction == EdgeDirection::Any || (direction == EdgeDirection::Rising) == rising;
}

void Edge(const ToolSetup &setup, const Context &ctx, ToolResult &out) {
    Workspace &ws = ctx.ws;
    LevelLine level;
    if (const char *reason = MakeLevel(setup, ctx, level))
        return Fail(out, reason);
    bool found = false;
    double x = 0.0;
    const std::size_t used = Crossings(ws, setup.region, level, [&](const Crossing &c) {
        if (!Wanted(setup.direction, c.rising))
            return true;
        found = true;
        x = c.x;
        return setup.pick == EdgePick::Last;
    });
    if (used == 0)
        return Fail(out, "no valid points in the region");
    if (!found)
        return Fail(out, "edge not found");
    out.values[0] = x;
    out.values[1] = level.At(x);
}

void Width(const ToolSetup &setup, const Context &ctx, ToolResult &out) {
    Workspace &ws = ctx.ws;
    LevelLine level;
    if (const char *reason = MakeLevel(setup, ctx, level))
        return Fail(out, reason);
    // A bead rises above the level and falls back, a groove the other way;
    // the outermost such edges bound it.
    const bool leftRising = setup.polarity == Polarity::Bead;
    bool haveLeft = false, haveRight = false;
    double left = 0.0, right = 0.0;
    const std::size_t used = Crossings(ws, setup.region, level, [&](const Crossing &c) {
        if (!haveLeft) {
            if (c.rising == leftRising) {
                haveLeft = true;
                left = c.x;
            }
        } else if (c.rising != leftRising) {
            haveRight = true;
            right = c.x;
        }
        return true;
    });
    if (used == 0)
        return Fail(out, "no valid points in the region");
    if (!haveLeft)
        return Fail(out, "left edge not found");
    if (!haveRight)
        return Fail(out, "right edge not found");
    out.values = {right - left, 0.5 * (left + right), left, right, kNaN};
}

// Where the profile leaves a surface's line, walking from the surface's
// region towards the gap (step +1 rightwards from its last point, -1
// leftwards from its first point). The edge is the last point on the line
// before invalid points, or the X where |deviation| reaches the tolerance.
bool SurfaceEdge(const Workspace &ws, const Line &line, std::size_t start, int step, double stopX,
                 double tolerance, double &edge) {
    const auto points = ws.points();
    std::size_t i = start;
    double pd = points[i].z - line.At(points[i].x);
    for (;;) {
        if (step > 0 ? i + 1 >= points.size() : i == 0)
            return false;
        const std::size_t j = step > 0 ? i + 1 : i - 1;
        const Point p = points[i];
        const Point q = points[j];
        if (std::abs(q.index - p.index) > 1) {
            edge = p.x;
            return true;
        }
        if (step > 0 ? q.x > stopX : q.x < stopX)
            return false;
        const double d = q.z - line.At(q.x);
        if (std::fabs(d) > tolerance) {
            const double target = d > 0.0 ? tolerance : -tolerance;
            const double t = std::clamp((target - pd) / (d - pd), 0.0, 1.0);
            edge = p.x + t * (q.x - p.x);
            return true;
        }
        pd = d;
        i = j;
    }
}

void Gap(const ToolSetup &setup, const Context &c, ToolResult &out) {
    Workspace &ws = c.ws;
    const Line &left = c.First();
    if (!left.ok)
        return Fail(out, left.reason);
    const Line &right = c.Second();
    if (!right.ok)
        return Fail(out, right.reason);
    const auto [lFirst, lLast] = ws.Span(setup.region);
    const auto [rFirst, rLast] = ws.Span(setup.second);
    double leftEdge = 0.0, rightEdge = 0.0;
    if (!SurfaceEdge(ws, left, lLast - 1, +1, setup.second.xMax, setup.gapTolerance, leftEdge))
        return Fail(out, "left edge not found");
    if (!SurfaceEdge(ws, right, rFirst, -1, setup.region.xMin, setup.gapTolerance, rightEdge))
        return Fail(out, "right edge not found");
    (void)lFirst;
    (void)rLast;
    if (!(rightEdge > leftEdge))
        return Fail(out, "edge not found: the surfaces do not part");
    const double centre = 0.5 * (leftEdge + rightEdge);
    out.values = {rightEdge - leftEdge, right.At(centre) - left.At(centre), centre, leftEdge,
                  rightEdge};
}

void Angle(const ToolSetup &setup, const Context &c, ToolResult &out) {
    const bool swap = Centre(setup.second) < Centre(setup.region);
    const Line &left = swap ? c.Second() : c.First();
    if (!left.ok)
        return Fail(out, left.reason);
    const Line &right = swap ? c.First() : c.Second();
    if (!right.ok)
        return Fail(out, right.reason);
    const double ds = left.slope - right.slope;
    if (std::fabs(ds) < 1e-12)
        return Fail(out, "the lines are parallel: no intersection");
    const double x = (right.intercept - left.intercept) / ds;
    out.values = {180.0 + Degrees(left.slope) - Degrees(right.slope), x, left.At(x), kNaN, kNaN};
}

void Area(const ToolSetup &setup, const Context &c, ToolResult &out) {
    Workspace &ws = c.ws;
    LevelLine base;
    base.slope = std::tan(setup.baseAngleDeg * std::numbers::pi / 180.0);
    base.intercept = setup.baseOffset;
    if (!setup.areaBase.empty()) {
        const Line &fitted = c.Base();
        if (!fitted.ok)
            return Fail(out, fitted.reason);
        base.slope = fitted.slope;
        base.intercept = fitted.intercept;
    }
    const auto points = ws.points();
    const auto [first, last] = ws.Span(setup.region);
    const Region &region = setup.region;
    double above = 0.0, below = 0.0, px = 0.0, pd = 0.0;
    std::size_t used = 0;
    for (std::size_t i = first; i < last; ++i) {
        const Point p = points[i];
        if (p.z < region.zMin || p.z > region.zMax)
            continue;
        const double d = p.z - base.At(p.x);
        if (used > 0) {
            const double dx = p.x - px;
            if ((pd >= 0.0) == (d >= 0.0)) {
                const double a = 0.5 * (pd + d) * dx;
                (a >= 0.0 ? above : below) += std::fabs(a);
            } else {
                // Split where the segment crosses the base.
                const double t = pd / (pd - d);
                const double a1 = 0.5 * pd * t * dx;
                const double a2 = 0.5 * d * (1.0 - t) * dx;
                (a1 >= 0.0 ? above : below) += std::fabs(a1);
                (a2 >= 0.0 ? above : below) += std::fabs(a2);
            }
        }
        px = p.x;
        pd = d;
        ++used;
    }
    if (used == 0)
        return Fail(out, "no valid points in the region");
    if (used < 2)
        return Fail(out, "fewer than 2 valid points in the region");
    out.values = {above, below, above - below, kNaN, kNaN};
}

void Run(const ToolSetup &setup, const Context &ws, ToolResult &out) {
    switch (setup.kind) {
    case ToolKind::Height:
        return Height(setup, ws, out);
    case ToolKind::Line:
        return LineTool(setup, ws, out);
    case ToolKind::Step:
        return Step(setup, ws, out);
    case ToolKind::Edge:
        return Edge(setup, ws, out);
    case ToolKind::Width:
        return Width(setup, ws, out);
    case ToolKind::Gap:
        return Gap(setup, ws, out);
    case ToolKind::Angle:
        return Angle(setup, ws, out);
    case ToolKind::Area:
        return Area(setup, ws, out);
    }
    Fail(out, "unknown tool");
}

} // namespace

Measurer::Measurer(Job job, std::size_t points) : job_(std::move(job)), ws_(points) {
    ValidateJob(job_);
    result_.tools.resize(job_.tools.size());
    for (std::size_t i = 0; i < job_.tools.size(); ++i) {
        const ToolSetup &setup = job_.tools[i];
        result_.tools[i].limits.resize(setup.limits.size());
        std::array<int, 3> slots = {-1, -1, -1};
        switch (setup.kind) {
        case ToolKind::Line:
            slots[0] = Request({setup.region}, setup.fit, true);
            break;
        case ToolKind::Step:
        case ToolKind::Gap:
        case ToolKind::Angle:
            slots[0] = Request({setup.region}, setup.fit);
            slots[1] = Request({setup.second}, setup.fit);
            break;
        case ToolKind::Edge:
        case ToolKind::Width:
            if (!setup.levelBase.empty())
                slots[2] = Request(setup.levelBase, setup.fit);
            break;
        case ToolKind::Area:
            if (!setup.areaBase.empty())
                slots[2] = Request(setup.areaBase, setup.fit);
            break;
        case ToolKind::Height:
            break;
        }
        toolFits_.push_back(slots);
    }
    std::size_t regions = 1;
    for (const FitRequest &f : fits_)
        regions = std::max(regions, f.regions.size());
    ws_.ReserveRegions(regions);
    lines_.resize(fits_.size());
    fitted_.resize(fits_.size());
}

int Measurer::Request(std::vector<Region> regions, const FitOptions &options, bool statistics) {
    for (std::size_t i = 0; i < fits_.size(); ++i) {
        const FitRequest &f = fits_[i];
        if (f.regions == regions && f.options == options) {
            fits_[i].statistics = fits_[i].statistics || statistics;
            return static_cast<int>(i);
        }
    }
    fits_.push_back({std::move(regions), options, statistics});
    return static_cast<int>(fits_.size() - 1);
}

const Line &Measurer::Fitted(int slot) {
    const auto i = static_cast<std::size_t>(slot);
    if (!fitted_[i]) {
        lines_[i] = FitLine(ws_, fits_[i].regions, fits_[i].options, fits_[i].statistics);
        fitted_[i] = 1;
    }
    return lines_[i];
}

const JobResult &Measurer::Measure(std::span<const ProfilePoint> profile) {
    ws_.Load(profile);
    return Evaluate();
}

const JobResult &Measurer::Measure(std::span<const double> x, std::span<const double> z) {
    ws_.Load(x, z);
    return Evaluate();
}

const JobResult &Measurer::Evaluate() {
    result_.passed = true;
    std::fill(fitted_.begin(), fitted_.end(), 0);
    for (std::size_t t = 0; t < job_.tools.size(); ++t) {
        const ToolSetup &setup = job_.tools[t];
        ToolResult &out = result_.tools[t];
        out.ok = true;
        out.reason = nullptr;
        out.values.fill(kNaN);
        Run(setup, Context{ws_, *this, toolFits_[t]}, out);
        if (!out.ok)
            out.values.fill(kNaN);
        out.passed = true;
        for (std::size_t l = 0; l < setup.limits.size(); ++l) {
            const Limit &limit = setup.limits[l];
            LimitState state = LimitState::NoResult;
            if (out.ok) {
                const double v = out.values[static_cast<std::size_t>(limit.output)];
                const bool low = !std::isnan(limit.min) && !(v >= limit.min);
                const bool high = !std::isnan(limit.max) && !(v <= limit.max);
                state = low || high ? LimitState::Fail : LimitState::Pass;
            }
            out.limits[l] = state;
            out.passed = out.passed && state == LimitState::Pass;
        }
        result_.passed = result_.passed && out.passed;
    }
    return result_;
}

} // namespace qz417::measure
