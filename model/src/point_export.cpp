#include "model/point_export.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

namespace qz417 {

namespace {

void AppendUnsigned(std::string &out, std::uint64_t value) {
    char text[24];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, end);
}

// The shortest text that reads back as the same float; NaN as "nan".
void AppendFloat(std::string &out, float value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec == std::errc())
        out.append(text, end);
    else
        out += "nan";
}

// Seconds with nine decimals.
void AppendSeconds(std::string &out, double seconds) {
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 9);
    if (ec == std::errc())
        out.append(text, end);
    else
        out += "nan";
}

void AppendFloatLe(std::string &out, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

void AppendPoint(std::string &out, CloudEncoding encoding, float x, float y, float z) {
    if (encoding == CloudEncoding::Binary) {
        AppendFloatLe(out, x);
        AppendFloatLe(out, y);
        AppendFloatLe(out, z);
        return;
    }
    AppendFloat(out, x);
    out += ' ';
    AppendFloat(out, y);
    out += ' ';
    AppendFloat(out, z);
    out += '\n';
}

class CsvExporter : public PointExporter {
public:
    explicit CsvExporter(CsvColumns columns) : columns_(columns) {}
    std::string Header(std::uint64_t, std::uint64_t) const override {
        return columns_ == CsvColumns::ValidFlag ? "profile,point,valid,x_mm,z_mm\n"
                                                 : "profile,point,time_s,x_mm,z_mm\n";
    }
    std::uint64_t Append(std::string &out, const ExportedProfile &profile) const override {
        std::uint64_t written = 0;
        for (std::size_t k = 0; k < profile.points.size(); ++k) {
            const ProfilePoint &p = profile.points[k];
            if (!p.valid && columns_ == CsvColumns::Time)
                continue;
            AppendUnsigned(out, profile.number);
            out += ',';
            AppendUnsigned(out, k + 1);
            out += ',';
            if (columns_ == CsvColumns::Time) {
                AppendSeconds(out, profile.seconds);
                out += ',';
            } else if (!p.valid) {
                out += "0,,\n";
                ++written;
                continue;
            } else {
                out += "1,";
            }
            AppendFloat(out, p.x);
            out += ',';
            AppendFloat(out, p.z);
            out += '\n';
            ++written;
        }
        return written;
    }
    bool HeaderNamesCounts() const override { return false; }
    std::string_view CommentMark() const override { return {}; }

private:
    CsvColumns columns_;
};

class PlyExporter : public PointExporter {
public:
    PlyExporter(CloudEncoding encoding, std::string comment)
        : encoding_(encoding), comment_(std::move(comment)) {}
    std::string Header(std::uint64_t, std::uint64_t points) const override {
        std::string out = "ply\nformat ";
        out += encoding_ == CloudEncoding::Binary ? "binary_little_endian" : "ascii";
        out += " 1.0\ncomment " + comment_ + "\nelement vertex ";
        AppendUnsigned(out, points);
        out += "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
        return out;
    }
    std::uint64_t Append(std::string &out, const ExportedProfile &profile) const override {
        std::uint64_t written = 0;
        for (const ProfilePoint &p : profile.points) {
            if (!p.valid)
                continue;
            AppendPoint(out, encoding_, p.x, profile.y, p.z);
            ++written;
        }
        return written;
    }
    bool HeaderNamesCounts() const override { return true; }
    std::string_view CommentMark() const override { return "comment"; }

private:
    CloudEncoding encoding_;
    std::string comment_;
};

class PcdExporter : public PointExporter {
public:
    PcdExporter(PcdShape shape, CloudEncoding encoding, std::vector<std::string> comments)
        : shape_(shape), encoding_(encoding), comments_(std::move(comments)) {}
    std::string Header(std::uint64_t profiles, std::uint64_t points) const override {
        std::string out;
        for (const std::string &comment : comments_)
            out += "# " + comment + "\n";
        out += "VERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\nWIDTH ";
        AppendUnsigned(out, shape_ == PcdShape::Organised ? kProfilePoints : points);
        out += "\nHEIGHT ";
        AppendUnsigned(out, shape_ == PcdShape::Organised ? profiles : 1);
        out += "\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS ";
        AppendUnsigned(out, points);
        out += encoding_ == CloudEncoding::Binary ? "\nDATA binary\n" : "\nDATA ascii\n";
        return out;
    }
    std::uint64_t Append(std::string &out, const ExportedProfile &profile) const override {
        constexpr float nan = std::numeric_limits<float>::quiet_NaN();
        std::uint64_t written = 0;
        for (const ProfilePoint &p : profile.points) {
            if (p.valid)
                AppendPoint(out, encoding_, p.x, profile.y, p.z);
            else if (shape_ == PcdShape::Organised)
                AppendPoint(out, encoding_, nan, nan, nan);
            else
                continue;
            ++written;
        }
        return written;
    }
    bool HeaderNamesCounts() const override { return true; }
    std::string_view CommentMark() const override { return "#"; }

private:
    PcdShape shape_;
    CloudEncoding encoding_;
    std::vector<std::string> comments_;
};

} // namespace

std::unique_ptr<PointExporter> MakeCsvExporter(CsvColumns columns) {
    return std::make_unique<CsvExporter>(columns);
}

std::unique_ptr<PointExporter> MakePlyExporter(CloudEncoding encoding, std::string comment) {
    return std::make_unique<PlyExporter>(encoding, std::move(comment));
}

std::unique_ptr<PointExporter> MakePcdExporter(PcdShape shape, CloudEncoding encoding,
                                               std::vector<std::string> comments) {
    return std::make_unique<PcdExporter>(shape, encoding, std::move(comments));
}

} // namespace qz417
