#include "model/measure/job.h"

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>

namespace qz417::measure {

namespace {

// Keeps the file's order of entries (the limits come out in the order written).
using json = nlohmann::ordered_json;

constexpr std::array<ToolInfo, kToolKinds> kTools = {{
    {ToolKind::Height,
     "height",
     5,
     {{{"min", "mm"}, {"max", "mm"}, {"mean", "mm"}, {"median", "mm"}, {"count", "points"}}}},
    {ToolKind::Line,
     "line",
     5,
     {{{"angle", "deg"},
       {"offset", "mm"},
       {"rms", "mm"},
       {"straightness", "mm"},
       {"inliers", "points"}}}},
    {ToolKind::Step, "step", 2, {{{"step", "mm"}, {"x", "mm"}}}},
    {ToolKind::Edge, "edge", 2, {{{"x", "mm"}, {"z", "mm"}}}},
    {ToolKind::Width,
     "width",
     4,
     {{{"width", "mm"}, {"centre", "mm"}, {"left", "mm"}, {"right", "mm"}}}},
    {ToolKind::Gap,
     "gap",
     5,
     {{{"gap", "mm"}, {"flush", "mm"}, {"centre", "mm"}, {"left", "mm"}, {"right", "mm"}}}},
    {ToolKind::Angle, "angle", 3, {{{"angle", "deg"}, {"x", "mm"}, {"z", "mm"}}}},
    {ToolKind::Area, "area", 3, {{{"above", "mm2"}, {"below", "mm2"}, {"net", "mm2"}}}},
}};

const char *DirectionName(EdgeDirection d) {
    switch (d) {
    case EdgeDirection::Rising:
        return "rising";
    case EdgeDirection::Falling:
        return "falling";
    case EdgeDirection::Any:
        break;
    }
    return "any";
}

// Formats a number for a message.
std::string Num(double v) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << v;
    return s.str();
}

// Text from the file as it appears in a message: control characters as
// \xNN, so the message stays one line; long texts cut.
std::string Printable(const std::string &text) {
    std::string out;
    for (const char c : text.substr(0, 64)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return text.size() > 64 ? out + "..." : out;
}

class Parser {
public:
    explicit Parser(std::string where) : where_(std::move(where)) {}

    [[noreturn]] void Fail(const std::string &what) const {
        throw JobError(where_.empty() ? what : where_ + ": " + what);
    }

    double Number(const json &v, const std::string &key) const {
        if (!v.is_number())
            Fail(key + ": expected a number");
        const double d = v.get<double>();
        if (!std::isfinite(d))
            Fail(key + ": " + Num(d) + " is not a finite number");
        return d;
    }

    double Coordinate(const json &v, const std::string &key) const {
        const double d = Number(v, key);
        if (std::fabs(d) > kCoordinateLimitMm)
            Fail(key + ": " + Num(d) + " mm lies outside the range +-" + Num(kCoordinateLimitMm) +
                 " mm");
        return d;
    }

    // [min, max]; with open, either may be null (no bound on that side).
    void Pair(const json &v, const std::string &key, double &lo, double &hi,
              bool open = false) const {
        if (!v.is_array() || v.size() != 2)
            Fail(key + ": expected [min, max]");
        if (!(open && v[0].is_null()))
            lo = Coordinate(v[0], key + "[0]");
        if (!(open && v[1].is_null()))
            hi = Coordinate(v[1], key + "[1]");
        if (!(lo < hi))
            Fail(key + ": the range [" + Num(lo) + ", " + Num(hi) + "] is empty or inverted");
    }

    Region ParseRegion(const json &v, const std::string &key) const {
        if (!v.is_object())
            Fail(key + ": expected an object {\"x\": [min, max]}");
        Region r;
        OnlyKeys(v, key, {"x", "z"});
        if (!v.contains("x"))
            Fail(key + ": \"x\" is missing");
        Pair(v["x"], key + ".x", r.xMin, r.xMax);
        if (v.contains("z"))
            Pair(v["z"], key + ".z", r.zMin, r.zMax, true);
        return r;
    }

    std::vector<Region> Regions(const json &v, const std::string &key) const {
        if (!v.is_array() || v.empty())
            Fail(key + ": expected a non-empty list of regions");
        std::vector<Region> out;
        for (std::size_t i = 0; i < v.size(); ++i)
            out.push_back(ParseRegion(v[i], key + "[" + std::to_string(i) + "]"));
        return out;
    }

    void OnlyKeys(const json &v, const std::string &key,
                  std::initializer_list<const char *> allowed) const {
        for (const auto &item : v.items()) {
            bool known = false;
            for (const char *a : allowed)
                known = known || item.key() == a;
            if (!known)
                Fail((key.empty() ? "" : key + ": ") + "unknown entry \"" + Printable(item.key()) +
                     "\"");
        }
    }

    std::string Text(const json &v, const std::string &key) const {
        if (!v.is_string())
            Fail(key + ": expected a text");
        return v.get<std::string>();
    }

private:
    std::string where_;
};

ToolSetup ParseTool(const json &v, std::size_t index) {
    const std::string at = "tools[" + std::to_string(index) + "]";
    if (!v.is_object())
        Parser(at).Fail("expected an object");
    ToolSetup setup;
    setup.name = "tool " + std::to_string(index + 1);
    if (v.contains("name")) {
        setup.name = Parser(at).Text(v["name"], "name");
        if (setup.name.empty())
            Parser(at).Fail("name: must not be empty");
        for (const char c : setup.name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                Parser(at).Fail("name: \"" + Printable(setup.name) +
                                "\" holds a control character");
    }
    const Parser p(at + " \"" + setup.name + "\"");
    if (!v.contains("tool"))
        p.Fail("\"tool\" is missing");
    const std::string kind = p.Text(v["tool"], "tool");
    const ToolInfo *info = FindTool(kind);
    if (!info) {
        std::string known;
        for (const ToolInfo &t : kTools)
            known += std::string(known.empty() ? "" : ", ") + t.name;
        p.Fail("unknown tool \"" + Printable(kind) + "\" (known: " + known + ")");
    }
    setup.kind = info->kind;

    const bool two = setup.kind == ToolKind::Step || setup.kind == ToolKind::Gap ||
                     setup.kind == ToolKind::Angle;
    switch (setup.kind) {
    case ToolKind::Height:
    case ToolKind::Line:
        p.OnlyKeys(v, "", {"name", "tool", "region", "fit", "limits"});
        break;
    case ToolKind::Step:
        p.OnlyKeys(v, "", {"name", "tool", "regions", "fit", "referenceX", "limits"});
        break;
    case ToolKind::Edge:
        p.OnlyKeys(
            v, "",
            {"name", "tool", "region", "fit", "level", "levelBase", "direction", "pick", "limits"});
        break;
    case ToolKind::Width:
        p.OnlyKeys(v, "",
                   {"name", "tool", "region", "fit", "level", "levelBase", "polarity", "limits"});
        break;
    case ToolKind::Gap:
        p.OnlyKeys(v, "", {"name", "tool", "regions", "fit", "tolerance", "limits"});
        break;
    case ToolKind::Angle:
        p.OnlyKeys(v, "", {"name", "tool", "regions", "fit", "limits"});
        break;
    case ToolKind::Area:
        p.OnlyKeys(v, "", {"name", "tool", "region", "fit", "base", "limits"});
        break;
    }

    if (two) {
        if (!v.contains("regions"))
            p.Fail("\"regions\" is missing (two regions)");
        const std::vector<Region> r = p.Regions(v["regions"], "regions");
        if (r.size() != 2)
            p.Fail("regions: expected exactly two regions, found " + std::to_string(r.size()));
        setup.region = r[0];
        setup.second = r[1];
    } else {
        if (!v.contains("region"))
            p.Fail("\"region\" is missing");
        setup.region = p.ParseRegion(v["region"], "region");
    }

    if (v.contains("fit")) {
        const json &f = v["fit"];
        if (!f.is_object())
            p.Fail("fit: expected an object");
        p.OnlyKeys(f, "fit", {"rejectSigma", "iterations", "level"});
        if (f.contains("level")) {
            if (!f["level"].is_boolean())
                p.Fail("fit.level: expected true or false");
            setup.fit.level = f["level"].get<bool>();
        }
        if (f.contains("rejectSigma")) {
            setup.fit.rejectSigma = p.Number(f["rejectSigma"], "fit.rejectSigma");
            if (!(setup.fit.rejectSigma >= 1.0 && setup.fit.rejectSigma <= 100.0))
                p.Fail("fit.rejectSigma: " + Num(setup.fit.rejectSigma) + " lies outside 1 .. 100");
        }
        if (f.contains("iterations")) {
            if (!f["iterations"].is_number_integer())
                p.Fail("fit.iterations: expected a whole number");
            const auto n = f["iterations"].get<long long>();
            if (n < 1 || n > 50)
                p.Fail("fit.iterations: " + std::to_string(n) + " lies outside 1 .. 50");
            setup.fit.maxIterations = static_cast<int>(n);
        }
    }
    if (v.contains("referenceX"))
        setup.referenceX = p.Coordinate(v["referenceX"], "referenceX");
    if (setup.kind == ToolKind::Edge || setup.kind == ToolKind::Width) {
        if (!v.contains("level"))
            p.Fail("\"level\" is missing");
        setup.level = p.Coordinate(v["level"], "level");
        if (v.contains("levelBase"))
            setup.levelBase = p.Regions(v["levelBase"], "levelBase");
    }
    if (v.contains("direction")) {
        const std::string d = p.Text(v["direction"], "direction");
        if (d == "rising")
            setup.direction = EdgeDirection::Rising;
        else if (d == "falling")
            setup.direction = EdgeDirection::Falling;
        else if (d == "any")
            setup.direction = EdgeDirection::Any;
        else
            p.Fail("direction: \"" + Printable(d) + "\" is none of rising, falling, any");
    }
    if (v.contains("pick")) {
        const std::string d = p.Text(v["pick"], "pick");
        if (d == "first")
            setup.pick = EdgePick::First;
        else if (d == "last")
            setup.pick = EdgePick::Last;
        else
            p.Fail("pick: \"" + Printable(d) + "\" is neither first nor last");
    }
    if (v.contains("polarity")) {
        const std::string d = p.Text(v["polarity"], "polarity");
        if (d == "bead")
            setup.polarity = Polarity::Bead;
        else if (d == "groove")
            setup.polarity = Polarity::Groove;
        else
            p.Fail("polarity: \"" + Printable(d) + "\" is neither bead nor groove");
    }
    if (v.contains("tolerance")) {
        setup.gapTolerance = p.Number(v["tolerance"], "tolerance");
        if (!(setup.gapTolerance > 0.0 && setup.gapTolerance <= kCoordinateLimitMm))
            p.Fail("tolerance: " + Num(setup.gapTolerance) + " must be above 0");
    }
    if (setup.kind == ToolKind::Area) {
        if (!v.contains("base"))
            p.Fail("\"base\" is missing (regions to fit it on, or {\"angle\", \"offset\"})");
        const json &b = v["base"];
        if (b.is_array()) {
            setup.areaBase = p.Regions(b, "base");
        } else if (b.is_object()) {
            p.OnlyKeys(b, "base", {"angle", "offset"});
            if (b.contains("angle")) {
                setup.baseAngleDeg = p.Number(b["angle"], "base.angle");
                if (!(std::fabs(setup.baseAngleDeg) < 89.0))
                    p.Fail("base.angle: " + Num(setup.baseAngleDeg) + " lies outside -89 .. 89");
            }
            if (b.contains("offset"))
                setup.baseOffset = p.Coordinate(b["offset"], "base.offset");
        } else {
            p.Fail("base: expected a list of regions or {\"angle\": deg, \"offset\": mm}");
        }
    }
    if (v.contains("limits")) {
        const json &l = v["limits"];
        if (!l.is_object())
            p.Fail("limits: expected an object {\"<output>\": {\"min\": .., \"max\": ..}}");
        for (const auto &item : l.items()) {
            const std::string key = "limits." + Printable(item.key());
            Limit limit;
            limit.output = FindOutput(setup.kind, item.key());
            if (limit.output < 0) {
                std::string names;
                for (int i = 0; i < info->outputCount; ++i)
                    names += std::string(i ? ", " : "") + info->outputs[i].name;
                p.Fail(key + ": the tool " + info->name + " has no output \"" +
                       Printable(item.key()) + "\" (outputs: " + names + ")");
            }
            const json &bounds = item.value();
            if (!bounds.is_object())
                p.Fail(key + ": expected {\"min\": .., \"max\": ..}");
            p.OnlyKeys(bounds, key, {"min", "max"});
            if (!bounds.contains("min") && !bounds.contains("max"))
                p.Fail(key + ": give min, max or both");
            if (bounds.contains("min"))
                limit.min = p.Number(bounds["min"], key + ".min");
            if (bounds.contains("max"))
                limit.max = p.Number(bounds["max"], key + ".max");
            if (!std::isnan(limit.min) && !std::isnan(limit.max) && limit.min > limit.max)
                p.Fail(key + ": min " + Num(limit.min) + " is above max " + Num(limit.max));
            setup.limits.push_back(limit);
        }
    }
    return setup;
}

json RegionJson(const Region &r) {
    json o = {{"x", {r.xMin, r.xMax}}};
    const auto bound = [](double v) { return std::isinf(v) ? json(nullptr) : json(v); };
    if (!std::isinf(r.zMin) || !std::isinf(r.zMax))
        o["z"] = {bound(r.zMin), bound(r.zMax)};
    return o;
}

json RegionsJson(const std::vector<Region> &regions) {
    json a = json::array();
    for (const Region &r : regions)
        a.push_back(RegionJson(r));
    return a;
}

} // namespace

const ToolInfo &InfoOf(ToolKind kind) {
    return kTools[static_cast<std::size_t>(kind)];
}

const ToolInfo *FindTool(std::string_view name) {
    for (const ToolInfo &t : kTools)
        if (name == t.name)
            return &t;
    return nullptr;
}

int FindOutput(ToolKind kind, std::string_view name) {
    const ToolInfo &info = InfoOf(kind);
    for (int i = 0; i < info.outputCount; ++i)
        if (name == info.outputs[static_cast<std::size_t>(i)].name)
            return i;
    return -1;
}

Job ParseJob(std::string_view text) {
    json doc;
    try {
        doc = json::parse(text.begin(), text.end());
    } catch (const json::exception &e) {
        std::string where;
        if (const auto *parse = dynamic_cast<const json::parse_error *>(&e))
            where = " (at byte " + std::to_string(parse->byte) + ")";
        throw JobError("not a measurement job: the text is not JSON" + where);
    }
    if (!doc.is_object() || !doc.contains("format") || !doc["format"].is_string() ||
        doc["format"].get<std::string>() != kJobFormat)
        throw JobError("not a measurement job: \"format\" is not \"" + std::string(kJobFormat) +
                       "\"");
    const Parser top("");
    top.OnlyKeys(doc, "", {"format", "version", "tools"});
    if (!doc.contains("version") || !doc["version"].is_number_integer())
        throw JobError("version: expected a whole number");
    const auto version = doc["version"].get<long long>();
    if (version != kJobVersion)
        throw JobError("version " + std::to_string(version) +
                       " is not supported (this program reads version " +
                       std::to_string(kJobVersion) + ")");
    if (!doc.contains("tools") || !doc["tools"].is_array())
        throw JobError("tools: expected a list of tools");
    const json &tools = doc["tools"];
    if (tools.empty())
        throw JobError("tools: the job has no tools");
    Job job;
    for (std::size_t i = 0; i < tools.size(); ++i)
        job.tools.push_back(ParseTool(tools[i], i));
    for (std::size_t i = 0; i < job.tools.size(); ++i)
        for (std::size_t k = 0; k < i; ++k)
            if (job.tools[k].name == job.tools[i].name)
                throw JobError("tools[" + std::to_string(i) + "] \"" + job.tools[i].name +
                               "\": the name is already used by tools[" + std::to_string(k) + "]");
    return job;
}

Job LoadJob(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw JobError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw JobError(path + ": cannot be read");
    try {
        return ParseJob(text.str());
    } catch (const JobError &e) {
        throw JobError(path + ": " + e.what());
    }
}

std::string JobToJson(const Job &job) {
    json tools = json::array();
    for (const ToolSetup &t : job.tools) {
        json o = {{"name", t.name}, {"tool", InfoOf(t.kind).name}};
        if (t.kind == ToolKind::Step || t.kind == ToolKind::Gap || t.kind == ToolKind::Angle)
            o["regions"] = RegionsJson({t.region, t.second});
        else
            o["region"] = RegionJson(t.region);
        o["fit"] = {{"rejectSigma", t.fit.rejectSigma},
                    {"iterations", t.fit.maxIterations},
                    {"level", t.fit.level}};
        if (t.kind == ToolKind::Step && !std::isnan(t.referenceX))
            o["referenceX"] = t.referenceX;
        if (t.kind == ToolKind::Edge || t.kind == ToolKind::Width) {
            o["level"] = t.level;
            if (!t.levelBase.empty())
                o["levelBase"] = RegionsJson(t.levelBase);
        }
        if (t.kind == ToolKind::Edge) {
            o["direction"] = DirectionName(t.direction);
            o["pick"] = t.pick == EdgePick::First ? "first" : "last";
        }
        if (t.kind == ToolKind::Width)
            o["polarity"] = t.polarity == Polarity::Bead ? "bead" : "groove";
        if (t.kind == ToolKind::Gap)
            o["tolerance"] = t.gapTolerance;
        if (t.kind == ToolKind::Area) {
            if (t.areaBase.empty())
                o["base"] = {{"angle", t.baseAngleDeg}, {"offset", t.baseOffset}};
            else
                o["base"] = RegionsJson(t.areaBase);
        }
        if (!t.limits.empty()) {
            json limits = json::object();
            for (const Limit &l : t.limits) {
                if (l.output < 0 || l.output >= InfoOf(t.kind).outputCount)
                    throw JobError("\"" + t.name + "\": a limit names output " +
                                   std::to_string(l.output) + ", which the tool does not have");
                json b = json::object();
                if (!std::isnan(l.min))
                    b["min"] = l.min;
                if (!std::isnan(l.max))
                    b["max"] = l.max;
                limits[InfoOf(t.kind).outputs[static_cast<std::size_t>(l.output)].name] = b;
            }
            o["limits"] = limits;
        }
        tools.push_back(o);
    }
    const json doc = {{"format", kJobFormat}, {"version", kJobVersion}, {"tools", tools}};
    return doc.dump(2) + "\n";
}

void ValidateJob(const Job &job) {
    // The file format carries every check; a job built in code goes through it.
    ParseJob(JobToJson(job));
}

} // namespace qz417::measure
