#include "profile_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include "failure.h"
#include "file_io.h"

namespace qzctl {

namespace {

constexpr std::uint64_t kMaxProfiles = 65535;

// An output file or standard output; every failed write becomes a Failure
// that names the file.
class Output {
public:
    explicit Output(const std::optional<std::string> &path)
        : name_(path ? *path : std::string("standard output")),
          file_(path ? std::fopen(path->c_str(), "wb") : stdout), owned_(path.has_value()) {
        if (file_ == nullptr)
            throw UsageError("cannot write " + name_ + ": " + std::strerror(errno));
    }
    ~Output() {
        if (owned_ && file_ != nullptr)
            std::fclose(file_);
    }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void write(const void *data, std::size_t size) {
        if (size != 0 && std::fwrite(data, 1, size, file_) != size)
            fail();
    }
    void write(const std::string &text) { write(text.data(), text.size()); }
    // A regular file opened without O_APPEND: its header can be rewritten.
    bool rewritable() const {
        const int flags = fcntl(fileno(file_), F_GETFL);
        return flags >= 0 && (flags & O_APPEND) == 0 && std::fseek(file_, 0, SEEK_CUR) == 0 &&
               std::ftell(file_) >= 0;
    }
    long position() const { return std::ftell(file_); }
    void seek(long at) {
        if (std::fseek(file_, at, SEEK_SET) != 0)
            fail();
    }
    void seekEnd() {
        if (std::fseek(file_, 0, SEEK_END) != 0)
            fail();
    }
    void close() {
        const bool ok = std::fflush(file_) == 0;
        if (owned_) {
            const int rc = std::fclose(file_);
            file_ = nullptr;
            if (rc != 0 || !ok)
                fail();
        } else if (!ok) {
            fail();
        }
    }
    std::FILE *file() const { return file_; }
    [[noreturn]] void fail() const {
        throw Failure("cannot write " + name_ + ": " + std::strerror(errno));
    }

private:
    std::string name_;
    std::FILE *file_;
    bool owned_;
};

void PutFloatLe(std::string &out, float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

std::string PointText(float v) {
    return std::isnan(v) ? std::string("nan") : FloatText(v);
}

std::uint64_t ValidCount(const std::array<qz::ProfilePoint, qz::kProfilePoints> &points) {
    std::uint64_t n = 0;
    for (const auto &p : points)
        n += p.valid ? 1 : 0;
    return n;
}

class TxtWriter : public ProfileWriter {
public:
    TxtWriter(const std::optional<std::string> &path, int count, const qz::ProfileScale &scale)
        : scale_(scale), numbered_(path && count > 1), path_(path.value_or("")) {
        if (!numbered_)
            output_ = std::make_unique<Output>(path);
    }
    void add(const PacketBytes &packet) override {
        std::array<qz::ProfilePoint, qz::kProfilePoints> points;
        qz::DecodePacket(qz::ProfilePacket(packet.data()), scale_, points);
        count(packet, ValidCount(points));
        const std::string text = ProfileTxt(packet, scale_);
        if (numbered_)
            WriteFile(NumberedPath(path_, static_cast<int>(tally_.profiles)), text);
        else
            output_->write(text);
    }
    void finish() override {
        if (output_)
            output_->close();
    }

private:
    qz::ProfileScale scale_;
    bool numbered_;
    std::string path_;
    std::unique_ptr<Output> output_;
};

class CsvWriter : public ProfileWriter {
public:
    CsvWriter(const std::optional<std::string> &path, const qz::ProfileScale &scale)
        : scale_(scale), output_(path) {
        output_.write(std::string("profile,point,valid,x_mm,z_mm\n"));
    }
    void add(const PacketBytes &packet) override {
        std::string rows = ProfilesCsv({packet}, scale_);
        rows.erase(0, rows.find('\n') + 1); // the header is written once
        std::array<qz::ProfilePoint, qz::kProfilePoints> points;
        qz::DecodePacket(qz::ProfilePacket(packet.data()), scale_, points);
        count(packet, ValidCount(points));
        output_.write(rows);
    }
    void finish() override { output_.close(); }

private:
    qz::ProfileScale scale_;
    Output output_;
};

// A point cloud whose header holds counts known only at the end. The header
// is written at its largest size first; finish() writes the real one over
// it, filled to the same length with a comment line before its last line.
// Where the output cannot be rewritten (a pipe), the points go to a
// temporary file and follow the header at the end.
class CloudWriter : public ProfileWriter {
public:
    // header(profiles, points) without the filling comment; `comment` starts
    // a comment line in the format ("comment", "#").
    CloudWriter(const std::optional<std::string> &path, const qz::ProfileScale &scale,
                std::function<std::string(std::uint64_t, std::uint64_t)> header,
                std::string comment)
        : scale_(scale), output_(path), header_(std::move(header)), comment_(std::move(comment)) {
        reserved_ =
            header_(kMaxProfiles, kMaxProfiles * qz::kProfilePoints).size() + comment_.size() + 1;
        if (output_.rewritable()) {
            start_ = output_.position();
            output_.write(Header(0, 0));
        } else {
            spool_ = std::tmpfile();
            if (spool_ == nullptr)
                throw Failure(std::string("cannot create a temporary file: ") +
                              std::strerror(errno));
        }
    }
    ~CloudWriter() override {
        if (spool_ != nullptr)
            std::fclose(spool_);
    }
    void finish() override {
        const std::string header = Header(tally_.profiles, written_);
        if (spool_ == nullptr) {
            output_.seek(start_);
            output_.write(header);
            output_.seekEnd();
        } else {
            output_.write(header);
            if (std::fflush(spool_) != 0 || std::fseek(spool_, 0, SEEK_SET) != 0)
                throw Failure(std::string("temporary file: ") + std::strerror(errno));
            std::array<char, 65536> buffer;
            std::size_t n = 0;
            while ((n = std::fread(buffer.data(), 1, buffer.size(), spool_)) > 0)
                output_.write(buffer.data(), n);
            if (std::ferror(spool_))
                throw Failure(std::string("temporary file: ") + std::strerror(errno));
        }
        output_.close();
    }

protected:
    void body(const std::string &bytes, std::uint64_t points) {
        if (spool_ == nullptr) {
            output_.write(bytes);
        } else if (!bytes.empty() &&
                   std::fwrite(bytes.data(), 1, bytes.size(), spool_) != bytes.size()) {
            throw Failure(std::string("cannot write a temporary file: ") + std::strerror(errno));
        }
        written_ += points;
    }
    qz::ProfileScale scale_;

private:
    std::string Header(std::uint64_t profiles, std::uint64_t points) const {
        std::string text = header_(profiles, points);
        const auto lastLine = text.rfind('\n', text.size() - 2) + 1;
        const std::size_t fill = reserved_ - text.size() - comment_.size() - 1;
        text.insert(lastLine, comment_ + std::string(fill, ' ') + "\n");
        return text;
    }

    Output output_;
    std::function<std::string(std::uint64_t, std::uint64_t)> header_;
    std::string comment_;
    std::size_t reserved_ = 0;
    long start_ = 0;
    std::FILE *spool_ = nullptr;
    std::uint64_t written_ = 0;
};

// Valid points only: x and z in millimetres, y the profile's index.
class PlyWriter : public CloudWriter {
public:
    PlyWriter(const std::optional<std::string> &path, const qz::ProfileScale &scale, bool binary)
        : CloudWriter(
              path, scale,
              [binary](std::uint64_t, std::uint64_t points) {
                  return std::string("ply\nformat ") + (binary ? "binary_little_endian" : "ascii") +
                         " 1.0\ncomment qz417ctl profiles: x, z in mm, y = profile index\n"
                         "element vertex " +
                         std::to_string(points) +
                         "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
              },
              "comment"),
          binary_(binary) {}
    void add(const PacketBytes &packet) override {
        std::array<qz::ProfilePoint, qz::kProfilePoints> points;
        qz::DecodePacket(qz::ProfilePacket(packet.data()), scale_, points);
        const auto y = static_cast<float>(tally_.profiles);
        const std::string yText = std::to_string(tally_.profiles);
        std::string out;
        std::uint64_t n = 0;
        for (const auto &p : points) {
            if (!p.valid)
                continue;
            ++n;
            if (binary_) {
                PutFloatLe(out, p.x);
                PutFloatLe(out, y);
                PutFloatLe(out, p.z);
            } else {
                out += FloatText(p.x) + " " + yText + " " + FloatText(p.z) + "\n";
            }
        }
        count(packet, n);
        body(out, n);
    }

private:
    bool binary_;
};

// An organised cloud as PCL keeps scans: WIDTH 1024 points per profile,
// HEIGHT one row per profile, an invalid point as NaN (so is_dense is
// false); y is the profile's index.
class PcdWriter : public CloudWriter {
public:
    PcdWriter(const std::optional<std::string> &path, const qz::ProfileScale &scale, bool binary)
        : CloudWriter(
              path, scale,
              [binary](std::uint64_t profiles, std::uint64_t points) {
                  return "# .PCD v0.7 - Point Cloud Data file format\n"
                         "# qz417ctl profiles: x, z in mm, y = profile index, NaN = no point\n"
                         "VERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\n"
                         "WIDTH " +
                         std::to_string(qz::kProfilePoints) + "\nHEIGHT " +
                         std::to_string(profiles) + "\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " +
                         std::to_string(points) + "\nDATA " + (binary ? "binary" : "ascii") + "\n";
              },
              "#"),
          binary_(binary) {}
    void add(const PacketBytes &packet) override {
        std::array<qz::ProfilePoint, qz::kProfilePoints> points;
        qz::DecodePacket(qz::ProfilePacket(packet.data()), scale_, points);
        const auto y = static_cast<float>(tally_.profiles);
        const std::string yText = std::to_string(tally_.profiles);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        std::string out;
        for (const auto &p : points) {
            const float x = p.valid ? p.x : nan;
            const float py = p.valid ? y : nan;
            const float z = p.valid ? p.z : nan;
            if (binary_) {
                PutFloatLe(out, x);
                PutFloatLe(out, py);
                PutFloatLe(out, z);
            } else {
                out += PointText(x) + " " + (p.valid ? yText : std::string("nan")) + " " +
                       PointText(z) + "\n";
            }
        }
        count(packet, ValidCount(points));
        body(out, qz::kProfilePoints);
    }

private:
    bool binary_;
};

} // namespace

void ProfileWriter::count(const PacketBytes &packet, std::uint64_t valid) {
    const auto measurement = static_cast<std::uint16_t>(packet[0] | (packet[1] << 8));
    if (tally_.profiles == 0)
        tally_.firstMeasurement = measurement;
    tally_.lastMeasurement = measurement;
    ++tally_.profiles;
    tally_.points += qz::kProfilePoints;
    tally_.validPoints += valid;
}

std::optional<ProfileFormat> ParseProfileFormat(const std::string &name) {
    if (name == "txt")
        return ProfileFormat::Txt;
    if (name == "csv")
        return ProfileFormat::Csv;
    if (name == "ply")
        return ProfileFormat::Ply;
    if (name == "ply-binary")
        return ProfileFormat::PlyBinary;
    if (name == "pcd")
        return ProfileFormat::Pcd;
    if (name == "pcd-binary")
        return ProfileFormat::PcdBinary;
    return std::nullopt;
}

std::unique_ptr<ProfileWriter> MakeProfileWriter(ProfileFormat format,
                                                 const std::optional<std::string> &path, int count,
                                                 const qz::ProfileScale &scale) {
    switch (format) {
    case ProfileFormat::Txt:
        return std::make_unique<TxtWriter>(path, count, scale);
    case ProfileFormat::Csv:
        return std::make_unique<CsvWriter>(path, scale);
    case ProfileFormat::Ply:
        return std::make_unique<PlyWriter>(path, scale, false);
    case ProfileFormat::PlyBinary:
        return std::make_unique<PlyWriter>(path, scale, true);
    case ProfileFormat::Pcd:
        return std::make_unique<PcdWriter>(path, scale, false);
    case ProfileFormat::PcdBinary:
        return std::make_unique<PcdWriter>(path, scale, true);
    }
    return nullptr;
}

std::string NumberedPath(const std::string &path, int n) {
    std::filesystem::path p(path);
    const std::string extension = p.extension().string();
    char number[16];
    std::snprintf(number, sizeof number, "_%05d", n);
    p.replace_filename(p.stem().string() + number + extension);
    return p.string();
}

} // namespace qzctl
