#include "model/recording/recording_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string_view>
#include <vector>

#include "model/device_description.h"
#include "model/measure/result_csv.h"
#include "model/point_export.h"
#include "model/profile_file.h"
#include "model/recording/recorded_results.h"

namespace qz417::recording {

namespace {

constexpr std::uint64_t kBatch = 256;            // profiles read at once (1 MB of packets)
constexpr std::size_t kFlushBytes = 1024 * 1024; // output written in pieces of about this size
constexpr int kTempNameAttempts = 16;
constexpr std::uint64_t kMaxIndex = std::numeric_limits<std::uint64_t>::max();

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// The output: a file beside the chosen name, renamed onto it by Commit; the
// destructor removes it when Commit was not reached. An existing output that
// is no regular file (a device, a pipe) is written in place.
class ExportFile {
public:
    explicit ExportFile(const std::string &path) : path_(path) {
        struct stat st {};
        const bool exists = ::stat(path.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode))
            Fail(EISDIR);
        struct stat own {};
        const bool symlink = ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
        std::string target = path;
        if (exists && S_ISREG(st.st_mode) && symlink) {
            // A link to a file: the finished file replaces the file, the link stays.
            if (char *real = ::realpath(path.c_str(), nullptr)) {
                target = real;
                std::free(real);
            } else {
                target.clear();
            }
        }
        // A device, a pipe (/dev/stdout), a dangling link: written in place.
        if ((exists && !S_ISREG(st.st_mode)) || (!exists && symlink) || target.empty()) {
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd_ < 0)
                Fail(errno);
            return;
        }
        target_ = target;
        std::random_device random;
        for (int attempt = 0; attempt < kTempNameAttempts && fd_ < 0; ++attempt) {
            char suffix[32];
            const auto [end, ec] =
                std::to_chars(suffix, suffix + sizeof suffix,
                              (std::uint64_t{random()} << 32) ^ random() ^ ::getpid(), 16);
            temp_ = target + ".part-" + std::string(suffix, end);
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST)
                Fail(errno);
        }
        if (fd_ < 0)
            Fail(EEXIST);
        // A replaced file keeps its permissions.
        if (exists)
            static_cast<void>(::fchmod(fd_, st.st_mode & 07777));
    }
    ~ExportFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_ && !temp_.empty())
            ::unlink(temp_.c_str());
    }
    ExportFile(const ExportFile &) = delete;
    ExportFile &operator=(const ExportFile &) = delete;

    // Bytes appended here go out when enough have gathered.
    std::string &buffer() { return buffer_; }
    void Drain() {
        if (buffer_.size() >= kFlushBytes)
            Flush();
    }

    // Writes what is left, makes the file durable and gives it its name.
    void Commit() {
        Flush();
        if (!temp_.empty() && ::fsync(fd_) != 0)
            Fail(errno);
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            Fail(errno);
        if (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0)
            Fail(errno);
        committed_ = true;
    }

private:
    void Flush() {
        std::string_view rest = buffer_;
        while (!rest.empty()) {
            const ssize_t n = ::write(fd_, rest.data(), rest.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                Fail(errno);
            }
            if (n == 0)
                Fail(ENOSPC);
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        buffer_.clear();
    }
    [[noreturn]] void Fail(int error) const {
        throw ExportError(ExportError::Kind::Write,
                          "cannot write " + path_ + ": " + ErrnoText(error));
    }

    std::string path_;   // as the caller named it
    std::string target_; // what the finished file is renamed to (empty: written in place)
    std::string temp_;
    int fd_ = -1;
    std::string buffer_;
    bool committed_ = false;
};

void AppendUnsigned(std::string &out, std::uint64_t value) {
    char text[24];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, end);
}

// A header line may not be broken by what a file name holds.
std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, '?');
    return text;
}

// Reads profiles [first, first + count) in batches and hands each to
// visit(index, packet, seconds since profile 0); after each batch reports
// the work done and stops when told to.
class BatchReader {
public:
    BatchReader(RecordingReader &reader, std::uint64_t total, const ExportProgress &progress)
        : reader_(reader), total_(total), progress_(progress), packets_(kBatch * kPacketSize),
          times_(kBatch) {
        if (reader_.profiles() > 0)
            reader_.Read(0, 1, nullptr, &origin_);
    }

    template <typename Visit>
    void Run(std::uint64_t first, std::uint64_t count, bool withTimes, Visit &&visit) {
        for (std::uint64_t at = first; at < first + count; at += kBatch) {
            const auto n = static_cast<std::size_t>(std::min(kBatch, first + count - at));
            reader_.Read(at, n, packets_.data(), withTimes ? times_.data() : nullptr);
            for (std::size_t i = 0; i < n; ++i) {
                const double seconds =
                    withTimes
                        ? static_cast<double>(times_[i].monotonicNs - origin_.monotonicNs) * 1e-9
                        : 0.0;
                visit(at + i, ProfilePacket(packets_.data() + i * kPacketSize), seconds);
            }
            done_ += n;
            if (progress_ && !progress_(done_, total_))
                throw ExportError(ExportError::Kind::Cancelled, "the export was cancelled");
        }
    }

private:
    RecordingReader &reader_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    const ExportProgress &progress_;
    std::vector<std::uint8_t> packets_;
    std::vector<ReceiveTime> times_;
    ReceiveTime origin_;
};

ExportResult WriteCsv(RecordingReader &reader, const ExportRequest &request,
                      const ProfileScale &scale, ExportFile &out, const ExportProgress &progress) {
    ExportResult result;
    const auto csv = MakeCsvExporter(CsvColumns::Time);
    out.buffer() += csv->Header(request.count, 0);
    BatchReader batches(reader, request.count, progress);
    std::array<ProfilePoint, kProfilePoints> points;
    batches.Run(request.first, request.count, true,
                [&](std::uint64_t profile, const ProfilePacket &packet, double seconds) {
                    DecodePacket(packet, scale, points);
                    // Counted from 1, as the Playback page and the export
                    // dialog number profiles.
                    result.points += csv->Append(out.buffer(), {points, profile + 1, seconds});
                    out.Drain();
                });
    result.profiles = request.count;
    return result;
}

// PLY or PCD: the headers name the number of points, so the range is read
// twice, first to count them.
ExportResult WriteCloud(RecordingReader &reader, const ExportRequest &request,
                        const ProfileScale &scale, ExportFile &out,
                        const ExportProgress &progress) {
    ExportResult result;
    BatchReader batches(reader, 2 * request.count, progress);
    std::array<ProfilePoint, kProfilePoints> points;
    std::uint64_t valid = 0;
    batches.Run(request.first, request.count, false,
                [&](std::uint64_t, const ProfilePacket &packet, double) {
                    DecodePacket(packet, scale, points);
                    for (const ProfilePoint &p : points)
                        valid += p.valid ? 1 : 0;
                });

    std::string range;
    AppendUnsigned(range, request.first);
    range += "..";
    AppendUnsigned(range, request.first + request.count - 1);
    const auto cloud =
        request.format == ExportFormat::Ply
            ? MakePlyExporter(CloudEncoding::Ascii,
                              "qz417 recording " + OneLine(reader.path()) + " profiles " + range)
            : MakePcdExporter(PcdShape::Unorganised, CloudEncoding::Ascii,
                              {".PCD v0.7 - qz417 recording, profiles " + range});
    out.buffer() += cloud->Header(request.count, valid);

    const auto yOf = [&](std::uint64_t profile, double seconds) {
        return static_cast<float>(request.speedMmPerS
                                      ? seconds * *request.speedMmPerS
                                      : static_cast<double>(profile) * request.pitchMm);
    };
    batches.Run(
        request.first, request.count, true,
        [&](std::uint64_t profile, const ProfilePacket &packet, double seconds) {
            DecodePacket(packet, scale, points);
            result.points += cloud->Append(out.buffer(), {points, 0, 0.0, yOf(profile, seconds)});
            out.Drain();
        });
    // The recording cannot change under the reader; the header holds the truth.
    if (result.points != valid)
        throw RecordingError(reader.path() + ": the profiles changed while they were read");
    result.profiles = request.count;
    return result;
}

ExportResult WriteProfileText(RecordingReader &reader, const ExportRequest &request,
                              const ProfileScale &scale, ExportFile &out,
                              const ExportProgress &progress) {
    Packet packet{};
    reader.Read(request.first, 1, packet.data(), nullptr);
    out.buffer() += ProfileFileText(RecordProfile(ProfilePacket(packet.data()), scale));
    if (progress && !progress(1, 1))
        throw ExportError(ExportError::Kind::Cancelled, "the export was cancelled");
    return {1, static_cast<std::uint64_t>(kProfilePoints)};
}

// The stored results of the profiles in the range, through the one CSV
// writer of results. The measurement counter comes from the packets, read
// in batches as the rows reach them.
ExportResult WriteResultsCsv(RecordingReader &reader, const ExportRequest &request, ExportFile &out,
                             const ExportProgress &progress) {
    RecordedResultsReader results(reader);
    if (results.empty())
        throw ExportError(ExportError::Kind::Request,
                          reader.path() + " holds no measurement results");
    ExportResult result;
    std::vector<std::uint8_t> packets(kBatch * kPacketSize);
    std::uint64_t batchFirst = 0, batchCount = 0;
    std::size_t headerJob = std::numeric_limits<std::size_t>::max();
    const auto visit = [&](std::size_t job, std::uint64_t profile, const measure::JobResult &jr) {
        if (profile < batchFirst || profile >= batchFirst + batchCount) {
            batchFirst = profile;
            batchCount = std::min(kBatch, reader.profiles() - profile);
            reader.Read(batchFirst, static_cast<std::size_t>(batchCount), packets.data(), nullptr);
        }
        const ProfilePacket packet(packets.data() + (profile - batchFirst) * kPacketSize);
        const measure::Job &setup = results.jobs()[job];
        if (job != headerJob) {
            out.buffer() += measure::ResultCsvHeader(setup);
            headerJob = job;
        }
        measure::AppendResultCsvRow(out.buffer(), setup, profile, packet.measurementCount(), jr);
        ++result.profiles;
        ++result.points;
        out.Drain();
    };
    const auto step = [&](std::uint64_t done, std::uint64_t total) {
        return !progress || progress(done, total);
    };
    if (!results.ForEach(request.first, request.count, visit, step))
        throw ExportError(ExportError::Kind::Cancelled, "the export was cancelled");
    if (progress && !progress(request.count, request.count))
        throw ExportError(ExportError::Kind::Cancelled, "the export was cancelled");
    if (result.profiles == 0)
        throw ExportError(ExportError::Kind::Request,
                          "no profile of the range has measurement results in " + reader.path());
    return result;
}

} // namespace

ProfileScale RecordedScale(const std::optional<Announcement> &announcement) {
    ProfileScale scale; // the program's initial scale
    if (announcement) {
        const DeviceDescription d = DecodeDescription(announcement->data() + 12);
        scale.rangeXEmr = d.rangeXEmr;
        scale.rangeZ = d.rangeZ;
        scale.discreteValue = d.discreteValue;
        scale.errorValue = d.errorValue;
    }
    return scale;
}

std::string ExportRangeProblem(std::uint64_t profiles, std::uint64_t first, std::uint64_t count,
                               const std::string &path) {
    if (profiles == 0)
        return path + " holds no profile";
    if (count == 0)
        return "no profile to export (the count is 0)";
    const std::string beyond = " beyond the " + std::to_string(profiles) + " profiles of " + path;
    if (first >= profiles)
        return "profile " + std::to_string(first) + " lies" + beyond;
    if (count > profiles - first) {
        const std::uint64_t last = count - 1 > kMaxIndex - first ? kMaxIndex : first + count - 1;
        return "profiles " + std::to_string(first) + " to " + std::to_string(last) + " lie" +
               beyond;
    }
    return {};
}

std::string ExportRequestProblem(const ExportRequest &request, std::uint64_t profiles,
                                 const std::string &path) {
    if (request.format == ExportFormat::ProfileText && request.count != 1)
        return "the profile text holds one profile";
    std::string problem = ExportRangeProblem(profiles, request.first, request.count, path);
    if (!problem.empty())
        return problem;
    if (!std::isfinite(request.pitchMm))
        return "the pitch is no finite number";
    if (request.speedMmPerS && !std::isfinite(*request.speedMmPerS))
        return "the speed is no finite number";
    return {};
}

ExportResult ExportRecording(RecordingReader &reader, const ExportRequest &request,
                             const std::string &outputPath, const ExportProgress &progress) {
    const std::string problem = ExportRequestProblem(request, reader.profiles(), reader.path());
    if (!problem.empty())
        throw ExportError(ExportError::Kind::Request, problem);
    // Written onto its own recording, the export would replace what it reads.
    struct stat in {};
    struct stat existing {};
    if (::stat(reader.path().c_str(), &in) == 0 && ::stat(outputPath.c_str(), &existing) == 0 &&
        in.st_dev == existing.st_dev && in.st_ino == existing.st_ino)
        throw ExportError(ExportError::Kind::Request,
                          outputPath + " is the recording itself: choose another file");
    const ProfileScale scale = RecordedScale(reader.announcement());
    ExportFile out(outputPath);
    ExportResult result;
    switch (request.format) {
    case ExportFormat::Csv:
        result = WriteCsv(reader, request, scale, out, progress);
        break;
    case ExportFormat::Ply:
    case ExportFormat::Pcd:
        result = WriteCloud(reader, request, scale, out, progress);
        break;
    case ExportFormat::ProfileText:
        result = WriteProfileText(reader, request, scale, out, progress);
        break;
    case ExportFormat::ResultsCsv:
        try {
            result = WriteResultsCsv(reader, request, out, progress);
        } catch (const measure::JobError &e) {
            throw RecordingError(reader.path() + ": a stored job cannot be read: " + e.what());
        }
        break;
    }
    out.Commit();
    return result;
}

} // namespace qz417::recording
