#include "profile_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "failure.h"
#include "file_io.h"
#include "model/point_export.h"

namespace qz417::ctl {

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

std::uint64_t ValidCount(const std::array<qz417::ProfilePoint, qz417::kProfilePoints> &points) {
    std::uint64_t n = 0;
    for (const auto &p : points)
        n += p.valid ? 1 : 0;
    return n;
}

class TxtWriter : public ProfileWriter {
public:
    TxtWriter(const std::optional<std::string> &path, int count, const qz417::ProfileScale &scale)
        : scale_(scale), numbered_(path && count > 1), path_(path.value_or("")) {
        if (!numbered_)
            output_ = std::make_unique<Output>(path);
    }
    void add(const PacketBytes &packet) override {
        std::array<qz417::ProfilePoint, qz417::kProfilePoints> points;
        qz417::DecodePacket(qz417::ProfilePacket(packet.data()), scale_, points);
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
    qz417::ProfileScale scale_;
    bool numbered_;
    std::string path_;
    std::unique_ptr<Output> output_;
};

// CSV, PLY or PCD in the model's formats (model/point_export.h): the CSV's
// profile column is the measurement counter, y of the clouds the profile's
// index. A header that names counts known only at the end is written at its
// largest size first; finish() writes the real one over it, filled to the
// same length with a comment line before its last line. Where the output
// cannot be rewritten (a pipe), the points go to a temporary file and follow
// the header at the end.
class PointsWriter : public ProfileWriter {
public:
    PointsWriter(const std::optional<std::string> &path, const qz417::ProfileScale &scale,
                 std::unique_ptr<qz417::PointExporter> exporter)
        : scale_(scale), output_(path), exporter_(std::move(exporter)) {
        if (!exporter_->HeaderNamesCounts()) {
            output_.write(exporter_->Header(0, 0));
            return;
        }
        reserved_ = exporter_->Header(kMaxProfiles, kMaxProfiles * qz417::kProfilePoints).size() +
                    exporter_->CommentMark().size() + 1;
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
    ~PointsWriter() override {
        if (spool_ != nullptr)
            std::fclose(spool_);
    }
    void add(const PacketBytes &packet) override {
        const qz417::ProfilePacket view(packet.data());
        std::array<qz417::ProfilePoint, qz417::kProfilePoints> points;
        qz417::DecodePacket(view, scale_, points);
        std::string out;
        const std::uint64_t n = exporter_->Append(
            out, {points, view.measurementCount(), 0.0, static_cast<float>(tally_.profiles)});
        count(packet, ValidCount(points));
        if (spool_ == nullptr) {
            output_.write(out);
        } else if (!out.empty() && std::fwrite(out.data(), 1, out.size(), spool_) != out.size()) {
            throw Failure(std::string("cannot write a temporary file: ") + std::strerror(errno));
        }
        written_ += n;
    }
    void finish() override {
        if (exporter_->HeaderNamesCounts()) {
            const std::string header = Header(tally_.profiles, written_);
            if (spool_ == nullptr) {
                output_.seek(start_);
                output_.write(header);
                output_.seekEnd();
            } else {
                output_.write(header);
                CopySpool();
            }
        }
        output_.close();
    }

private:
    std::string Header(std::uint64_t profiles, std::uint64_t points) const {
        std::string text = exporter_->Header(profiles, points);
        const std::string_view mark = exporter_->CommentMark();
        const auto lastLine = text.rfind('\n', text.size() - 2) + 1;
        const std::size_t fill = reserved_ - text.size() - mark.size() - 1;
        text.insert(lastLine, std::string(mark) + std::string(fill, ' ') + "\n");
        return text;
    }
    void CopySpool() {
        if (std::fflush(spool_) != 0 || std::fseek(spool_, 0, SEEK_SET) != 0)
            throw Failure(std::string("temporary file: ") + std::strerror(errno));
        std::array<char, 65536> buffer;
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), spool_)) > 0)
            output_.write(buffer.data(), n);
        if (std::ferror(spool_))
            throw Failure(std::string("temporary file: ") + std::strerror(errno));
    }

    qz417::ProfileScale scale_;
    Output output_;
    std::unique_ptr<qz417::PointExporter> exporter_;
    std::size_t reserved_ = 0;
    long start_ = 0;
    std::FILE *spool_ = nullptr;
    std::uint64_t written_ = 0;
};

std::unique_ptr<ProfileWriter> MakePly(const std::optional<std::string> &path,
                                       const qz417::ProfileScale &scale,
                                       qz417::CloudEncoding encoding) {
    return std::make_unique<PointsWriter>(
        path, scale,
        qz417::MakePlyExporter(encoding, "qz417ctl profiles: x, z in mm, y = profile index"));
}

std::unique_ptr<ProfileWriter> MakePcd(const std::optional<std::string> &path,
                                       const qz417::ProfileScale &scale,
                                       qz417::CloudEncoding encoding) {
    return std::make_unique<PointsWriter>(
        path, scale,
        qz417::MakePcdExporter(
            qz417::PcdShape::Organised, encoding,
            {".PCD v0.7 - Point Cloud Data file format",
             "qz417ctl profiles: x, z in mm, y = profile index, NaN = no point"}));
}

} // namespace

void ProfileWriter::count(const PacketBytes &packet, std::uint64_t valid) {
    const auto measurement = static_cast<std::uint16_t>(packet[0] | (packet[1] << 8));
    if (tally_.profiles == 0)
        tally_.firstMeasurement = measurement;
    tally_.lastMeasurement = measurement;
    ++tally_.profiles;
    tally_.points += qz417::kProfilePoints;
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
                                                 const qz417::ProfileScale &scale) {
    switch (format) {
    case ProfileFormat::Txt:
        return std::make_unique<TxtWriter>(path, count, scale);
    case ProfileFormat::Csv:
        return std::make_unique<PointsWriter>(path, scale,
                                              qz417::MakeCsvExporter(qz417::CsvColumns::ValidFlag));
    case ProfileFormat::Ply:
        return MakePly(path, scale, qz417::CloudEncoding::Ascii);
    case ProfileFormat::PlyBinary:
        return MakePly(path, scale, qz417::CloudEncoding::Binary);
    case ProfileFormat::Pcd:
        return MakePcd(path, scale, qz417::CloudEncoding::Ascii);
    case ProfileFormat::PcdBinary:
        return MakePcd(path, scale, qz417::CloudEncoding::Binary);
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

} // namespace qz417::ctl
