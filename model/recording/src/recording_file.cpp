#include "model/recording/recording_file.h"

#include "hdf5_util.h"
#include "model/stream_stats.h"

#include <sys/statvfs.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>

namespace qz417::recording {

namespace {

using h5::Check;
using h5::Id;
using h5::Make;

// Rows per chunk: about half a megabyte of packets, so that the chunk being
// filled fits HDF5's default chunk cache of 1 MiB and is written to the file
// once, when full (or at a flush). Every write copies its rows into the
// cached chunk; writing whole chunks past the cache (H5Dwrite_chunk) was
// tried and made the writer no faster: the page cache's copy is its cost.
constexpr hsize_t kPacketChunkRows = 128;
constexpr hsize_t kTimeChunkRows = 8192;
constexpr hsize_t kBlockChunkRows = 16;
constexpr hsize_t kJobChunkRows = 16;
constexpr hsize_t kJobJsonChunkBytes = 4096;
constexpr hsize_t kOutputChunkRows = 64;
constexpr hsize_t kValueChunkRows = 8192;
// Bytes of one row of the five value tables.
constexpr std::uint64_t kValueRowBytes = 8 + 4 + 8 + 1 + 2;
// A reader refuses more jobs or outputs than this, and a job text longer.
constexpr hsize_t kMaxJobs = 1u << 20;
constexpr hsize_t kMaxOutputs = 1u << 24;
constexpr hsize_t kMaxJobJson = 64u << 20;
// A reader refuses tables larger than this many parameter blocks.
constexpr hsize_t kMaxParameterBlocks = 1u << 20;
constexpr std::size_t kMaxAttributeText = 4096;
constexpr std::size_t kCounterBatch = 4096;
// The two counters at the head of a packet: measurementCount, packetCount.
constexpr std::size_t kCounterBytes = 4;
constexpr unsigned kMetadataReadAttempts = 5;
// Room kept free on the disk for the metadata that closing the file writes.
constexpr std::uint64_t kSpaceReserve = 256 * 1024;

Id CreateExtendable(hid_t file, const char *name, hid_t type, hsize_t rowSize, hsize_t chunkRows,
                    const std::string &where) {
    const int rank = rowSize == 0 ? 1 : 2;
    const hsize_t dims[2] = {0, rowSize};
    const hsize_t maxDims[2] = {H5S_UNLIMITED, rowSize};
    const hsize_t chunk[2] = {chunkRows, rowSize};
    Id space = Make(H5Screate_simple(rank, dims, maxDims), H5Sclose, where);
    Id dcpl = Make(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, where);
    Check(H5Pset_chunk(dcpl.get(), rank, chunk), where);
    return Make(H5Dcreate2(file, name, type, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT),
                H5Dclose, where + " (" + name + ")");
}

Id CreateFixed(hid_t file, const char *name, hid_t type, hsize_t size, const std::string &where) {
    const hsize_t dims[1] = {size};
    Id space = Make(H5Screate_simple(1, dims, nullptr), H5Sclose, where);
    return Make(H5Dcreate2(file, name, type, space.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                H5Dclose, where + " (" + name + ")");
}

// Texts are fixed-length strings, stored inside the checksummed object
// header; variable-length ones would live in HDF5's global heap, which has
// no checksum and which a damaged file can send the library into a loop with.
void WriteTextAttribute(hid_t object, const char *name, const std::string &value,
                        const std::string &where) {
    Id type = Make(H5Tcopy(H5T_C_S1), H5Tclose, where);
    Check(H5Tset_size(type.get(), std::max<std::size_t>(1, value.size())), where);
    Check(H5Tset_strpad(type.get(), H5T_STR_NULLPAD), where);
    Check(H5Tset_cset(type.get(), H5T_CSET_UTF8), where);
    Id space = Make(H5Screate(H5S_SCALAR), H5Sclose, where);
    Id attr = Make(H5Acreate2(object, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose, where);
    std::string padded = value;
    padded.resize(std::max<std::size_t>(1, value.size()), '\0');
    Check(H5Awrite(attr.get(), type.get(), padded.data()), where);
}

void WriteU32Attribute(hid_t object, const char *name, std::uint32_t value,
                       const std::string &where) {
    Id space = Make(H5Screate(H5S_SCALAR), H5Sclose, where);
    Id attr = Make(H5Acreate2(object, name, H5T_STD_U32LE, space.get(), H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose, where);
    Check(H5Awrite(attr.get(), H5T_NATIVE_UINT32, &value), where);
}

// A fixed-length UTF-8 string type of `size` bytes, null-padded.
Id TextType(std::size_t size, const std::string &where) {
    Id type = Make(H5Tcopy(H5T_C_S1), H5Tclose, where);
    Check(H5Tset_size(type.get(), size), where);
    Check(H5Tset_strpad(type.get(), H5T_STR_NULLPAD), where);
    Check(H5Tset_cset(type.get(), H5T_CSET_UTF8), where);
    return type;
}

// Texts as rows of `size` bytes each, cut to size - 1 bytes so that a row
// always ends in a zero byte.
std::vector<char> TextRows(const std::vector<std::string> &texts, std::size_t size) {
    std::vector<char> rows(texts.size() * size, '\0');
    for (std::size_t i = 0; i < texts.size(); ++i)
        std::memcpy(rows.data() + i * size, texts[i].data(), std::min(texts[i].size(), size - 1));
    return rows;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

// Grows a dataset by n rows and writes them from `data` (memory type `type`).
void AppendRows(hid_t dataset, hsize_t oldRows, hsize_t n, hsize_t rowSize, hid_t type,
                const void *data, const std::string &where) {
    const int rank = rowSize == 0 ? 1 : 2;
    const hsize_t newDims[2] = {oldRows + n, rowSize};
    Check(H5Dset_extent(dataset, newDims), where);
    Id fileSpace = Make(H5Dget_space(dataset), H5Sclose, where);
    const hsize_t start[2] = {oldRows, 0};
    const hsize_t count[2] = {n, rowSize};
    Check(H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr),
          where);
    Id memSpace = Make(H5Screate_simple(rank, count, nullptr), H5Sclose, where);
    Check(H5Dwrite(dataset, type, memSpace.get(), fileSpace.get(), H5P_DEFAULT, data), where);
}

} // namespace

// ---------------------------------------------------------------- writer

struct RecordingWriter::Handles {
    Id file, packets, monotonic, wall, blocks, blockFirst, blockWall, status;
    // The results tables.
    Id group, jobJson, jobJsonFirst, jobJsonLength, jobFirstOutput, jobOutputCount, jobWall,
        jobFirstProfile, outputName, outputUnit, outputTool, reasons, valueOutput, value,
        valueStatus, valueReason, valueProfile;
    Id nameType, unitType, reasonType;
    std::vector<Id *> tables() {
        return {&packets,        &monotonic,      &wall,        &blocks,          &blockFirst,
                &blockWall,      &status,         &jobJson,     &jobJsonFirst,    &jobJsonLength,
                &jobFirstOutput, &jobOutputCount, &jobWall,     &jobFirstProfile, &outputName,
                &outputUnit,     &outputTool,     &reasons,     &valueOutput,     &value,
                &valueStatus,    &valueReason,    &valueProfile};
    }
};

RecordingWriter::RecordingWriter(const std::string &path, const RecordingHeader &header)
    : path_(path), directory_(std::filesystem::path(path).parent_path().string()),
      h_(std::make_unique<Handles>()) {
    if (directory_.empty())
        directory_ = ".";
    h5::Quiet();
    const std::string where = "cannot create " + path;
    Id fapl = Make(H5Pcreate(H5P_FILE_ACCESS), H5Pclose, where);
    // Single-writer/multiple-reader mode needs the newest file format.
    Check(H5Pset_libver_bounds(fapl.get(), H5F_LIBVER_LATEST, H5F_LIBVER_LATEST), where);
    h_->file =
        Make(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()), H5Fclose, where);
    const hid_t f = h_->file.get();
    WriteTextAttribute(f, kAttrFormat, kFormatName, where);
    WriteU32Attribute(f, kAttrVersion, kFormatVersion, where);
    WriteTextAttribute(f, kAttrCreated, UtcNow(), where);
    WriteTextAttribute(f, kAttrSoftware, header.software, where);

    h_->packets = CreateExtendable(f, kPackets, H5T_STD_U8LE, kPacketSize, kPacketChunkRows, where);
    h_->monotonic = CreateExtendable(f, kMonotonicNs, H5T_STD_I64LE, 0, kTimeChunkRows, where);
    h_->wall = CreateExtendable(f, kWallNs, H5T_STD_I64LE, 0, kTimeChunkRows, where);
    h_->blocks = CreateExtendable(f, kParameterBlocks, H5T_STD_U8LE, kParameterBlockSize,
                                  kBlockChunkRows, where);
    h_->blockFirst =
        CreateExtendable(f, kParameterFirstProfile, H5T_STD_U64LE, 0, kBlockChunkRows, where);
    h_->blockWall = CreateExtendable(f, kParameterWallNs, H5T_STD_I64LE, 0, kBlockChunkRows, where);
    h_->status = CreateFixed(f, kWriterStatus, H5T_STD_U64LE, 2, where);
    // The results tables: SWMR creates no object after the start, so they
    // are there, empty, in every file, for a job set at any time.
    WriteU32Attribute(f, kAttrMinorVersion, kFormatMinorVersion, where);
    h_->group =
        Make(H5Gcreate2(f, kResultsGroup, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose, where);
    h_->nameType = TextType(kOutputNameSize, where);
    h_->unitType = TextType(kOutputUnitSize, where);
    h_->reasonType = TextType(kReasonSize, where);
    h_->jobJson = CreateExtendable(f, kJobJson, H5T_STD_U8LE, 0, kJobJsonChunkBytes, where);
    h_->jobJsonFirst = CreateExtendable(f, kJobJsonFirst, H5T_STD_U64LE, 0, kJobChunkRows, where);
    h_->jobJsonLength = CreateExtendable(f, kJobJsonLength, H5T_STD_U64LE, 0, kJobChunkRows, where);
    h_->jobFirstOutput =
        CreateExtendable(f, kJobFirstOutput, H5T_STD_U64LE, 0, kJobChunkRows, where);
    h_->jobOutputCount =
        CreateExtendable(f, kJobOutputCount, H5T_STD_U64LE, 0, kJobChunkRows, where);
    h_->jobWall = CreateExtendable(f, kJobWallNs, H5T_STD_I64LE, 0, kJobChunkRows, where);
    h_->jobFirstProfile =
        CreateExtendable(f, kJobFirstProfile, H5T_STD_U64LE, 0, kJobChunkRows, where);
    h_->outputName =
        CreateExtendable(f, kOutputNames, h_->nameType.get(), 0, kOutputChunkRows, where);
    h_->outputUnit =
        CreateExtendable(f, kOutputUnits, h_->unitType.get(), 0, kOutputChunkRows, where);
    h_->outputTool = CreateExtendable(f, kOutputTool, H5T_STD_U16LE, 0, kOutputChunkRows, where);
    h_->reasons = CreateExtendable(f, kReasons, h_->reasonType.get(), 0, kOutputChunkRows, where);
    h_->valueOutput = CreateExtendable(f, kResultOutput, H5T_STD_U32LE, 0, kValueChunkRows, where);
    h_->value = CreateExtendable(f, kResultValue, H5T_IEEE_F64LE, 0, kValueChunkRows, where);
    h_->valueStatus = CreateExtendable(f, kResultStatus, H5T_STD_U8LE, 0, kValueChunkRows, where);
    h_->valueReason = CreateExtendable(f, kResultReason, H5T_STD_U16LE, 0, kValueChunkRows, where);
    h_->valueProfile =
        CreateExtendable(f, kResultProfile, H5T_STD_U64LE, 0, kValueChunkRows, where);
    // Row 0 of the reasons: the empty text of a value with a result.
    reasonTexts_.push_back({});
    {
        const std::vector<char> row = TextRows({""}, kReasonSize);
        AppendRows(h_->reasons.get(), 0, 1, 0, h_->reasonType.get(), row.data(), where);
        results_.reasons = 1;
    }
    if (header.announcement) {
        Id a = CreateFixed(f, kAnnouncement, H5T_STD_U8LE, kAnnouncementSize, where);
        Check(H5Dwrite(a.get(), H5T_NATIVE_UINT8, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                       header.announcement->data()),
              where);
    }
    WriteStatus(0, EndState::Open);
    if (header.parameterBlock)
        AppendParameterBlock(*header.parameterBlock, ReceiveTime::Now().wallNs);
    Check(H5Fstart_swmr_write(f), where); // flushes everything so far
    durableBlocks_ = parameterBlocks_;
    durableResults_ = results_;
}

RecordingWriter::~RecordingWriter() {
    Abandon();
}

void RecordingWriter::WriteStatus(std::uint64_t dropped, EndState end) {
    const std::uint64_t status[2] = {dropped, static_cast<std::uint64_t>(end)};
    Check(H5Dwrite(h_->status.get(), H5T_NATIVE_UINT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, status),
          "cannot write " + path_);
}

void RecordingWriter::Append(const std::uint8_t *packets, const ReceiveTime *times, std::size_t n) {
    if (n == 0)
        return;
    h5::Quiet();
    const std::string where = "cannot write " + path_;
    // What fits goes in, then the recording stops for want of space.
    const std::size_t fit = FittingProfiles(n);
    if (fit < n) {
        Append(packets, times, fit);
        throw RecordingError(where + ": " + std::strerror(ENOSPC));
    }
    std::vector<std::int64_t> monotonic(n), wall(n);
    for (std::size_t i = 0; i < n; ++i) {
        monotonic[i] = times[i].monotonicNs;
        wall[i] = times[i].wallNs;
    }
    failed_ = true; // until the rows are in
    // Times first: a reader counts a profile only once its packet is there too.
    AppendRows(h_->monotonic.get(), profiles_, n, 0, H5T_NATIVE_INT64, monotonic.data(), where);
    AppendRows(h_->wall.get(), profiles_, n, 0, H5T_NATIVE_INT64, wall.data(), where);
    AppendRows(h_->packets.get(), profiles_, n, kPacketSize, H5T_NATIVE_UINT8, packets, where);
    failed_ = false;
    profiles_ += n;
}

std::size_t RecordingWriter::FittingProfiles(std::size_t n) const {
    // HDF5 cannot take back what it allocated when a write fails half-way, so
    // the recording stops while there is still room to close the file cleanly.
    struct statvfs fs {};
    if (statvfs(directory_.c_str(), &fs) != 0)
        return n; // no figure: rely on the write's own error
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    // A chunk takes its whole size on disk once it is written. The chunk
    // that holds the last row written may still wait in HDF5's chunk cache,
    // partly filled or just completed (it is written when a later chunk
    // takes its place, or at the next flush): count it, and every chunk the
    // new rows touch, as not yet on the disk.
    const auto chunks = [](std::uint64_t first, std::uint64_t end, std::uint64_t perChunk) {
        return (end + perChunk - 1) / perChunk - first / perChunk;
    };
    const std::uint64_t lastRow = profiles_ == 0 ? 0 : profiles_ - 1;
    // While a job is measured: two chunks of each value table, the one in
    // the cache and the next.
    const std::uint64_t resultsReserve =
        results_.outputs > 0 ? 2 * kValueChunkRows * kValueRowBytes : 0;
    const auto needed = [&](std::uint64_t m) {
        const std::uint64_t after = profiles_ + m;
        return chunks(lastRow, after, kPacketChunkRows) * kPacketChunkRows * kPacketSize +
               2 * chunks(lastRow, after, kTimeChunkRows) * kTimeChunkRows * sizeof(std::int64_t) +
               kSpaceReserve + resultsReserve;
    };
    if (needed(n) <= free)
        return n;
    std::size_t lo = 0, hi = n; // needed(lo) may fit, needed(hi) does not
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        (needed(mid) <= free ? lo : hi) = mid;
    }
    return needed(lo) <= free ? lo : 0;
}

void RecordingWriter::AppendParameterBlock(const ParameterBlock &block, std::int64_t wallNs) {
    h5::Quiet();
    const std::string where = "cannot write " + path_;
    const std::uint64_t first = profiles_;
    failed_ = true;
    AppendRows(h_->blockFirst.get(), parameterBlocks_, 1, 0, H5T_NATIVE_UINT64, &first, where);
    AppendRows(h_->blockWall.get(), parameterBlocks_, 1, 0, H5T_NATIVE_INT64, &wallNs, where);
    AppendRows(h_->blocks.get(), parameterBlocks_, 1, kParameterBlockSize, H5T_NATIVE_UINT8,
               block.data(), where);
    failed_ = false;
    ++parameterBlocks_;
}

std::uint64_t RecordingWriter::AppendResultsJob(const ResultsJob &job, std::int64_t wallNs) {
    h5::Quiet();
    const std::string where = "cannot write " + path_;
    const std::size_t k = job.outputs.size();
    if (job.units.size() != k || job.outputTool.size() != k)
        throw RecordingError(where + ": a job's outputs, units and tools differ in number");
    const std::uint64_t jsonFirst = results_.jsonBytes;
    const std::uint64_t jsonLength = job.json.size();
    const std::uint64_t firstOutput = results_.outputs;
    const std::uint64_t outputs = k;
    const std::uint64_t firstProfile = profiles_;
    failed_ = true;
    // The text and the outputs first: a reader counts a job once its row is
    // complete, and then all it names is there.
    if (jsonLength > 0)
        AppendRows(h_->jobJson.get(), jsonFirst, jsonLength, 0, H5T_NATIVE_UINT8, job.json.data(),
                   where);
    if (k > 0) {
        const std::vector<char> names = TextRows(job.outputs, kOutputNameSize);
        const std::vector<char> units = TextRows(job.units, kOutputUnitSize);
        AppendRows(h_->outputName.get(), firstOutput, k, 0, h_->nameType.get(), names.data(),
                   where);
        AppendRows(h_->outputUnit.get(), firstOutput, k, 0, h_->unitType.get(), units.data(),
                   where);
        AppendRows(h_->outputTool.get(), firstOutput, k, 0, H5T_NATIVE_UINT16,
                   job.outputTool.data(), where);
    }
    const hsize_t j = results_.jobs;
    AppendRows(h_->jobJsonFirst.get(), j, 1, 0, H5T_NATIVE_UINT64, &jsonFirst, where);
    AppendRows(h_->jobJsonLength.get(), j, 1, 0, H5T_NATIVE_UINT64, &jsonLength, where);
    AppendRows(h_->jobFirstOutput.get(), j, 1, 0, H5T_NATIVE_UINT64, &firstOutput, where);
    AppendRows(h_->jobOutputCount.get(), j, 1, 0, H5T_NATIVE_UINT64, &outputs, where);
    AppendRows(h_->jobWall.get(), j, 1, 0, H5T_NATIVE_INT64, &wallNs, where);
    AppendRows(h_->jobFirstProfile.get(), j, 1, 0, H5T_NATIVE_UINT64, &firstProfile, where);
    failed_ = false;
    results_.jsonBytes += jsonLength;
    results_.outputs += k;
    ++results_.jobs;
    return firstOutput;
}

std::uint16_t RecordingWriter::ResultReason(const char *text) {
    if (text == nullptr || *text == '\0')
        return 0;
    const std::string cut(text, strnlen(text, kReasonSize - 1));
    for (std::size_t i = 1; i < reasonTexts_.size(); ++i)
        if (reasonTexts_[i] == cut)
            return static_cast<std::uint16_t>(i);
    if (reasonTexts_.size() > std::numeric_limits<std::uint16_t>::max())
        return 0;
    h5::Quiet();
    const std::vector<char> row = TextRows({cut}, kReasonSize);
    failed_ = true;
    AppendRows(h_->reasons.get(), results_.reasons, 1, 0, h_->reasonType.get(), row.data(),
               "cannot write " + path_);
    failed_ = false;
    ++results_.reasons;
    reasonTexts_.push_back(cut);
    return static_cast<std::uint16_t>(reasonTexts_.size() - 1);
}

void RecordingWriter::AppendResultValues(const ResultValue *values, std::size_t n) {
    if (n == 0)
        return;
    h5::Quiet();
    const std::string where = "cannot write " + path_;
    std::vector<std::uint32_t> output(n);
    std::vector<double> value(n);
    std::vector<std::uint8_t> status(n);
    std::vector<std::uint16_t> reason(n);
    std::vector<std::uint64_t> profile(n);
    for (std::size_t i = 0; i < n; ++i) {
        output[i] = values[i].output;
        value[i] = values[i].value;
        status[i] = static_cast<std::uint8_t>(values[i].status);
        reason[i] = values[i].reason;
        profile[i] = values[i].profile;
    }
    const hsize_t at = results_.values;
    failed_ = true;
    // The profile column last: a reader counts a row once it is in every table.
    AppendRows(h_->valueOutput.get(), at, n, 0, H5T_NATIVE_UINT32, output.data(), where);
    AppendRows(h_->value.get(), at, n, 0, H5T_NATIVE_DOUBLE, value.data(), where);
    AppendRows(h_->valueStatus.get(), at, n, 0, H5T_NATIVE_UINT8, status.data(), where);
    AppendRows(h_->valueReason.get(), at, n, 0, H5T_NATIVE_UINT16, reason.data(), where);
    AppendRows(h_->valueProfile.get(), at, n, 0, H5T_NATIVE_UINT64, profile.data(), where);
    failed_ = false;
    results_.values += n;
}

void RecordingWriter::Flush(std::uint64_t droppedProfiles) {
    h5::Quiet();
    failed_ = true;
    WriteStatus(droppedProfiles, EndState::Open);
    Check(H5Fflush(h_->file.get(), H5F_SCOPE_LOCAL), "cannot write " + path_);
    failed_ = false;
    durableProfiles_ = profiles_;
    durableBlocks_ = parameterBlocks_;
    durableResults_ = results_;
}

void RecordingWriter::Close(std::uint64_t droppedProfiles, EndState end) {
    h5::Quiet();
    const std::string where = "cannot write " + path_;
    if (failed_) {
        // After a failed write the file's tables may be ahead of its data.
        Abandon();
        throw RecordingError(where + ": an earlier write failed");
    }
    WriteStatus(droppedProfiles, end);
    Check(H5Fflush(h_->file.get(), H5F_SCOPE_LOCAL), where);
    bool ok = true;
    for (Id *d : h_->tables())
        ok = d->close() && ok;
    ok = h_->group.close() && ok;
    ok = h_->file.close() && ok;
    if (!ok)
        h5::Fail(where);
    durableProfiles_ = profiles_;
    durableBlocks_ = parameterBlocks_;
    durableResults_ = results_;
}

void RecordingWriter::Abandon() noexcept {
    if (!h_ || !h_->file.valid())
        return;
    h5::Quiet();
    // Rows appended since the last flush may never have reached the disk
    // (it is full, say); the tables end where the last flush left them, so
    // that no reader takes unwritten rows for profiles.
    if (profiles_ != durableProfiles_ || parameterBlocks_ != durableBlocks_) {
        const hsize_t rows[2] = {durableProfiles_, kPacketSize};
        const hsize_t blockRows[2] = {durableBlocks_, kParameterBlockSize};
        H5Dset_extent(h_->monotonic.get(), rows);
        H5Dset_extent(h_->wall.get(), rows);
        H5Dset_extent(h_->packets.get(), rows);
        H5Dset_extent(h_->blockFirst.get(), blockRows);
        H5Dset_extent(h_->blockWall.get(), blockRows);
        H5Dset_extent(h_->blocks.get(), blockRows);
    }
    const ResultRows &r = durableResults_;
    const auto cut = [](Id &table, hsize_t rows) {
        if (table.valid())
            H5Dset_extent(table.get(), &rows);
    };
    for (Id *d : {&h_->jobJsonFirst, &h_->jobJsonLength, &h_->jobFirstOutput, &h_->jobOutputCount,
                  &h_->jobWall, &h_->jobFirstProfile})
        cut(*d, r.jobs);
    cut(h_->jobJson, r.jsonBytes);
    for (Id *d : {&h_->outputName, &h_->outputUnit, &h_->outputTool})
        cut(*d, r.outputs);
    cut(h_->reasons, r.reasons);
    for (Id *d :
         {&h_->valueOutput, &h_->value, &h_->valueStatus, &h_->valueReason, &h_->valueProfile})
        cut(*d, r.values);
    for (Id *d : h_->tables())
        d->close();
    h_->group.close();
    h_->file.close();
}

// ---------------------------------------------------------------- reader

namespace {

constexpr unsigned char kHdf5Signature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};

struct Shape {
    int rank = 0;
    hsize_t dims[2] = {0, 0};
};

Shape ShapeOf(hid_t dataset, const std::string &where) {
    Id space = Make(H5Dget_space(dataset), H5Sclose, where);
    Shape s;
    s.rank = H5Sget_simple_extent_ndims(space.get());
    if (s.rank < 1 || s.rank > 2)
        throw RecordingError(where + ": unexpected number of dimensions");
    if (H5Sget_simple_extent_dims(space.get(), s.dims, nullptr) < 0)
        h5::Fail(where);
    return s;
}

// Opens a dataset and checks that it holds integers of `bytes` bytes in
// `rank` dimensions (the second, if any, of `rowSize`).
Id OpenTable(hid_t file, const char *name, std::size_t bytes, int rank, hsize_t rowSize,
             const std::string &path) {
    const std::string where = path + " is damaged or not a recording: dataset '" + name + "'";
    if (H5Lexists(file, name, H5P_DEFAULT) <= 0)
        throw RecordingError(where + " is missing");
    Id d = Make(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose, where + " cannot be opened");
    Id type = Make(H5Dget_type(d.get()), H5Tclose, where);
    if (H5Tget_class(type.get()) != H5T_INTEGER || H5Tget_size(type.get()) != bytes)
        throw RecordingError(where + " has the wrong element type");
    const Shape s = ShapeOf(d.get(), where);
    if (s.rank != rank || (rank == 2 && s.dims[1] != rowSize))
        throw RecordingError(where + " has the wrong shape");
    return d;
}

// Opens a one-dimensional table of the results and checks its element type.
Id OpenColumn(hid_t file, const char *name, H5T_class_t kind, std::size_t bytes,
              const std::string &path) {
    const std::string where = path + ": the results table '" + name + "'";
    if (H5Lexists(file, name, H5P_DEFAULT) <= 0)
        throw RecordingError(where + " is missing");
    Id d = Make(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose, where + " cannot be opened");
    Id type = Make(H5Dget_type(d.get()), H5Tclose, where);
    if (H5Tget_class(type.get()) != kind || H5Tget_size(type.get()) != bytes ||
        (kind == H5T_STRING && H5Tis_variable_str(type.get()) != 0))
        throw RecordingError(where + " has the wrong element type");
    Id space = Make(H5Dget_space(d.get()), H5Sclose, where);
    if (H5Sget_simple_extent_ndims(space.get()) != 1)
        throw RecordingError(where + " has the wrong shape");
    return d;
}

std::string ReadTextAttribute(hid_t object, const char *name, const std::string &where) {
    if (H5Aexists(object, name) <= 0)
        return {};
    Id attr = Make(H5Aopen(object, name, H5P_DEFAULT), H5Aclose, where);
    Id type = Make(H5Aget_type(attr.get()), H5Tclose, where);
    if (H5Tget_class(type.get()) != H5T_STRING)
        throw RecordingError(where + ": attribute '" + name + "' is not text");
    Id space = Make(H5Aget_space(attr.get()), H5Sclose, where);
    if (H5Sget_simple_extent_npoints(space.get()) != 1)
        throw RecordingError(where + ": attribute '" + name + "' is not one text");
    const htri_t variable = H5Tis_variable_str(type.get());
    if (variable < 0)
        h5::Fail(where);
    if (variable > 0) {
        Id memType = Make(H5Tcopy(H5T_C_S1), H5Tclose, where);
        Check(H5Tset_size(memType.get(), H5T_VARIABLE), where);
        Check(H5Tset_cset(memType.get(), H5Tget_cset(type.get())), where);
        char *text = nullptr;
        Check(H5Aread(attr.get(), memType.get(), &text), where);
        std::string value = text ? std::string(text, strnlen(text, kMaxAttributeText)) : "";
        H5free_memory(text);
        return value;
    }
    const std::size_t size = H5Tget_size(type.get());
    if (size == 0 || size > kMaxAttributeText)
        throw RecordingError(where + ": attribute '" + name + "' is too long");
    std::string value(size, '\0');
    Check(H5Aread(attr.get(), type.get(), value.data()), where);
    value.resize(strnlen(value.c_str(), size));
    return value;
}

} // namespace

struct RecordingReader::Handles {
    Id file, packets, monotonic, wall, blocks, blockFirst, blockWall, status;
    // The results tables, when the file has them and they opened.
    bool results = false;
    std::string resultsError; // why they cannot be read
    Id jobJson, jobJsonFirst, jobJsonLength, jobFirstOutput, jobOutputCount, jobWall,
        jobFirstProfile, outputName, outputUnit, outputTool, reasons, valueOutput, value,
        valueStatus, valueReason, valueProfile;
    std::vector<Id *> resultTables() {
        return {&jobJson,        &jobJsonFirst, &jobJsonLength,   &jobFirstOutput,
                &jobOutputCount, &jobWall,      &jobFirstProfile, &outputName,
                &outputUnit,     &outputTool,   &reasons,         &valueOutput,
                &value,          &valueStatus,  &valueReason,     &valueProfile};
    }
    void OpenResults(hid_t f, const std::string &path) {
        if (H5Lexists(f, kResultsGroup, H5P_DEFAULT) <= 0)
            return;
        try {
            jobJson = OpenColumn(f, kJobJson, H5T_INTEGER, 1, path);
            jobJsonFirst = OpenColumn(f, kJobJsonFirst, H5T_INTEGER, 8, path);
            jobJsonLength = OpenColumn(f, kJobJsonLength, H5T_INTEGER, 8, path);
            jobFirstOutput = OpenColumn(f, kJobFirstOutput, H5T_INTEGER, 8, path);
            jobOutputCount = OpenColumn(f, kJobOutputCount, H5T_INTEGER, 8, path);
            jobWall = OpenColumn(f, kJobWallNs, H5T_INTEGER, 8, path);
            jobFirstProfile = OpenColumn(f, kJobFirstProfile, H5T_INTEGER, 8, path);
            outputName = OpenColumn(f, kOutputNames, H5T_STRING, kOutputNameSize, path);
            outputUnit = OpenColumn(f, kOutputUnits, H5T_STRING, kOutputUnitSize, path);
            outputTool = OpenColumn(f, kOutputTool, H5T_INTEGER, 2, path);
            reasons = OpenColumn(f, kReasons, H5T_STRING, kReasonSize, path);
            valueOutput = OpenColumn(f, kResultOutput, H5T_INTEGER, 4, path);
            value = OpenColumn(f, kResultValue, H5T_FLOAT, 8, path);
            valueStatus = OpenColumn(f, kResultStatus, H5T_INTEGER, 1, path);
            valueReason = OpenColumn(f, kResultReason, H5T_INTEGER, 2, path);
            valueProfile = OpenColumn(f, kResultProfile, H5T_INTEGER, 8, path);
            results = true;
        } catch (const RecordingError &e) {
            resultsError = e.what();
            for (Id *d : resultTables())
                d->close();
        }
    }
};

RecordingReader::RecordingReader(const std::string &path)
    : path_(path), h_(std::make_unique<Handles>()) {
    h5::Quiet();
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw RecordingError("cannot open " + path + ": " + std::strerror(errno));
        unsigned char head[8] = {};
        in.read(reinterpret_cast<char *>(head), sizeof head);
        if (in.gcount() == 0)
            throw RecordingError(path + " is empty, not a recording");
        if (in.gcount() != sizeof head || std::memcmp(head, kHdf5Signature, sizeof head) != 0)
            throw RecordingError(path + " is not a recording (not an HDF5 file)");
    }
    const std::string damaged = path + " is damaged or not a recording";
    // A file being written (or cut while it was) opens only for reading
    // alongside its writer; a file written by other software may not allow that.
    // Reading alongside a writer retries metadata whose checksum fails (it
    // may be half written); HDF5's default of 100 attempts with growing
    // pauses would stall for minutes on a damaged file, a few suffice.
    Id fapl = Make(H5Pcreate(H5P_FILE_ACCESS), H5Pclose, "cannot open " + path);
    Check(H5Pset_metadata_read_attempts(fapl.get(), kMetadataReadAttempts), "cannot open " + path);
    hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, fapl.get());
    if (file < 0)
        file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, fapl.get());
    if (file < 0)
        throw RecordingError(path + " is damaged or truncated (" + h5::LastError() + ")");
    h_->file = Id(file, H5Fclose);
    const hid_t f = h_->file.get();

    if (ReadTextAttribute(f, kAttrFormat, damaged) != kFormatName)
        throw RecordingError(path + " is an HDF5 file but not a QZ417 recording");
    if (H5Aexists(f, kAttrVersion) <= 0)
        throw RecordingError(damaged + ": no format version");
    {
        Id attr = Make(H5Aopen(f, kAttrVersion, H5P_DEFAULT), H5Aclose, damaged);
        Id type = Make(H5Aget_type(attr.get()), H5Tclose, damaged);
        Id space = Make(H5Aget_space(attr.get()), H5Sclose, damaged);
        if (H5Tget_class(type.get()) != H5T_INTEGER ||
            H5Sget_simple_extent_npoints(space.get()) != 1)
            throw RecordingError(damaged + ": the format version is not a number");
        std::uint64_t version = 0;
        Check(H5Aread(attr.get(), H5T_NATIVE_UINT64, &version), damaged);
        if (version > kFormatVersion)
            throw RecordingError(path + " has format version " + std::to_string(version) +
                                 "; this program reads versions up to " +
                                 std::to_string(kFormatVersion) + " (update it)");
        if (version == 0)
            throw RecordingError(damaged + ": format version 0");
        version_ = static_cast<std::uint32_t>(version);
    }
    if (H5Aexists(f, kAttrMinorVersion) > 0) {
        // Only read for the summary: a newer minor version adds tables this
        // reader does not know, which it ignores.
        Id attr = Make(H5Aopen(f, kAttrMinorVersion, H5P_DEFAULT), H5Aclose, damaged);
        Id type = Make(H5Aget_type(attr.get()), H5Tclose, damaged);
        Id space = Make(H5Aget_space(attr.get()), H5Sclose, damaged);
        std::uint64_t minor = 0;
        if (H5Tget_class(type.get()) == H5T_INTEGER &&
            H5Sget_simple_extent_npoints(space.get()) == 1 &&
            H5Aread(attr.get(), H5T_NATIVE_UINT64, &minor) >= 0)
            minorVersion_ = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(minor, std::numeric_limits<std::uint32_t>::max()));
    }
    created_ = ReadTextAttribute(f, kAttrCreated, damaged);
    software_ = ReadTextAttribute(f, kAttrSoftware, damaged);

    h_->packets = OpenTable(f, kPackets, 1, 2, kPacketSize, path);
    h_->monotonic = OpenTable(f, kMonotonicNs, 8, 1, 0, path);
    h_->wall = OpenTable(f, kWallNs, 8, 1, 0, path);
    h_->blocks = OpenTable(f, kParameterBlocks, 1, 2, kParameterBlockSize, path);
    h_->blockFirst = OpenTable(f, kParameterFirstProfile, 8, 1, 0, path);
    h_->blockWall = OpenTable(f, kParameterWallNs, 8, 1, 0, path);
    h_->status = OpenTable(f, kWriterStatus, 8, 1, 0, path);
    if (ShapeOf(h_->status.get(), damaged).dims[0] < 2)
        throw RecordingError(damaged + ": dataset 'writer_status' is too short");
    if (H5Lexists(f, kAnnouncement, H5P_DEFAULT) > 0) {
        Id a = OpenTable(f, kAnnouncement, 1, 1, 0, path);
        if (ShapeOf(a.get(), damaged).dims[0] != kAnnouncementSize)
            throw RecordingError(damaged + ": the announcement has the wrong size");
        Announcement bytes{};
        Check(H5Dread(a.get(), H5T_NATIVE_UINT8, H5S_ALL, H5S_ALL, H5P_DEFAULT, bytes.data()),
              damaged);
        announcement_ = bytes;
    }
    h_->OpenResults(f, path);
    CountProfiles();
}

RecordingReader::~RecordingReader() = default;

void RecordingReader::CountProfiles() {
    const std::string damaged = path_ + " is damaged";
    const hsize_t n = std::min({ShapeOf(h_->packets.get(), damaged).dims[0],
                                ShapeOf(h_->monotonic.get(), damaged).dims[0],
                                ShapeOf(h_->wall.get(), damaged).dims[0]});
    // Rows that were never written read as zeros; a table claiming far more
    // rows than the file could hold is damaged, not merely sparse.
    hsize_t fileSize = 0;
    Check(H5Fget_filesize(h_->file.get(), &fileSize), damaged);
    if (n > fileSize / kPacketSize + kPacketChunkRows)
        throw RecordingError(damaged + ": it claims " + std::to_string(n) +
                             " profiles in a file of " + std::to_string(fileSize) + " bytes");
    profiles_ = n;
}

void RecordingReader::Refresh() {
    h5::Quiet();
    const std::string where = "cannot read " + path_;
    for (Id *d : {&h_->packets, &h_->monotonic, &h_->wall, &h_->blocks, &h_->blockFirst,
                  &h_->blockWall, &h_->status})
        Check(H5Drefresh(d->get()), where);
    if (h_->results)
        for (Id *d : h_->resultTables())
            Check(H5Drefresh(d->get()), where);
    CountProfiles();
}

namespace {

void ReadRows(hid_t dataset, hsize_t first, hsize_t n, hsize_t rowSize, hsize_t column,
              hsize_t columns, hid_t type, void *out, const std::string &where) {
    const int rank = rowSize == 0 ? 1 : 2;
    Id fileSpace = Make(H5Dget_space(dataset), H5Sclose, where);
    const hsize_t start[2] = {first, column};
    const hsize_t count[2] = {n, columns};
    Check(H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr),
          where);
    Id memSpace = Make(H5Screate_simple(rank, count, nullptr), H5Sclose, where);
    Check(H5Dread(dataset, type, memSpace.get(), fileSpace.get(), H5P_DEFAULT, out), where);
}

} // namespace

void RecordingReader::Read(std::uint64_t first, std::size_t n, std::uint8_t *packets,
                           ReceiveTime *times) {
    h5::Quiet();
    if (first > profiles_ || n > profiles_ - first)
        throw RecordingError("profiles " + std::to_string(first) + " to " +
                             std::to_string(first + n) + " lie beyond the " +
                             std::to_string(profiles_) + " profiles of " + path_);
    if (n == 0)
        return;
    const std::string where = "cannot read " + path_;
    if (packets)
        ReadRows(h_->packets.get(), first, n, kPacketSize, 0, kPacketSize, H5T_NATIVE_UINT8,
                 packets, where);
    if (times) {
        std::vector<std::int64_t> monotonic(n), wall(n);
        ReadRows(h_->monotonic.get(), first, n, 0, 0, 1, H5T_NATIVE_INT64, monotonic.data(), where);
        ReadRows(h_->wall.get(), first, n, 0, 0, 1, H5T_NATIVE_INT64, wall.data(), where);
        for (std::size_t i = 0; i < n; ++i)
            times[i] = {monotonic[i], wall[i]};
    }
}

std::vector<ParameterBlockEntry> RecordingReader::parameterBlocks() {
    h5::Quiet();
    const std::string where = "cannot read " + path_;
    const hsize_t n = std::min({ShapeOf(h_->blocks.get(), where).dims[0],
                                ShapeOf(h_->blockFirst.get(), where).dims[0],
                                ShapeOf(h_->blockWall.get(), where).dims[0]});
    if (n > kMaxParameterBlocks)
        throw RecordingError(path_ + " is damaged: it claims " + std::to_string(n) +
                             " parameter blocks");
    std::vector<ParameterBlockEntry> out(n);
    if (n == 0)
        return out;
    std::vector<std::uint8_t> bytes(n * kParameterBlockSize);
    std::vector<std::uint64_t> first(n);
    std::vector<std::int64_t> wall(n);
    ReadRows(h_->blocks.get(), 0, n, kParameterBlockSize, 0, kParameterBlockSize, H5T_NATIVE_UINT8,
             bytes.data(), where);
    ReadRows(h_->blockFirst.get(), 0, n, 0, 0, 1, H5T_NATIVE_UINT64, first.data(), where);
    ReadRows(h_->blockWall.get(), 0, n, 0, 0, 1, H5T_NATIVE_INT64, wall.data(), where);
    for (hsize_t i = 0; i < n; ++i) {
        std::memcpy(out[i].block.data(), bytes.data() + i * kParameterBlockSize,
                    kParameterBlockSize);
        out[i].firstProfile = first[i];
        out[i].wallNs = wall[i];
    }
    return out;
}

namespace {

hsize_t Rows(const Id &table, const std::string &where) {
    return ShapeOf(table.get(), where).dims[0];
}

std::vector<std::string> ReadTexts(hid_t table, hsize_t n, std::size_t size,
                                   const std::string &where) {
    std::vector<char> bytes(n * size);
    std::vector<std::string> out(n);
    if (n == 0)
        return out;
    Id type = TextType(size, where);
    ReadRows(table, 0, n, 0, 0, 1, type.get(), bytes.data(), where);
    for (hsize_t i = 0; i < n; ++i)
        out[i].assign(bytes.data() + i * size, strnlen(bytes.data() + i * size, size));
    return out;
}

} // namespace

RecordedResults RecordingReader::Results() {
    h5::Quiet();
    RecordedResults out;
    out.minorVersion = minorVersion_;
    if (!h_->resultsError.empty())
        throw RecordingError(h_->resultsError);
    if (!h_->results)
        return out;
    const std::string damaged = path_ + ": the results tables are damaged";
    const std::string where = "cannot read the results of " + path_;
    const hsize_t jobs = std::min({Rows(h_->jobJsonFirst, where), Rows(h_->jobJsonLength, where),
                                   Rows(h_->jobFirstOutput, where), Rows(h_->jobOutputCount, where),
                                   Rows(h_->jobWall, where), Rows(h_->jobFirstProfile, where)});
    const hsize_t jsonBytes = Rows(h_->jobJson, where);
    const hsize_t outputs = std::min(
        {Rows(h_->outputName, where), Rows(h_->outputUnit, where), Rows(h_->outputTool, where)});
    const hsize_t reasons = Rows(h_->reasons, where);
    const hsize_t values = std::min({Rows(h_->valueOutput, where), Rows(h_->value, where),
                                     Rows(h_->valueStatus, where), Rows(h_->valueReason, where),
                                     Rows(h_->valueProfile, where)});
    hsize_t fileSize = 0;
    Check(H5Fget_filesize(h_->file.get(), &fileSize), where);
    // Rows never written read as zeros; a table claiming more rows than the
    // file could hold is damaged (and would only cost memory).
    if (jobs > kMaxJobs || outputs > kMaxOutputs || jsonBytes > kMaxJobJson ||
        reasons > std::numeric_limits<std::uint16_t>::max() + hsize_t{1} ||
        jobs > fileSize / (6 * sizeof(std::uint64_t)) + kJobChunkRows ||
        jsonBytes > fileSize + kJobJsonChunkBytes ||
        outputs > fileSize / (kOutputNameSize + kOutputUnitSize + 2) + kOutputChunkRows ||
        reasons > fileSize / kReasonSize + kOutputChunkRows ||
        values > fileSize / kValueRowBytes + kValueChunkRows)
        throw RecordingError(damaged + ": a table claims more rows than the file holds");
    if (reasons == 0)
        throw RecordingError(damaged + ": 'results/reasons' is empty");
    std::vector<std::uint64_t> jsonFirst(jobs), jsonLength(jobs), firstOutput(jobs),
        outputCount(jobs), firstProfile(jobs);
    std::vector<std::int64_t> wall(jobs);
    std::vector<std::uint8_t> json(jsonBytes);
    std::vector<std::uint16_t> tools(outputs);
    if (jobs > 0) {
        ReadRows(h_->jobJsonFirst.get(), 0, jobs, 0, 0, 1, H5T_NATIVE_UINT64, jsonFirst.data(),
                 where);
        ReadRows(h_->jobJsonLength.get(), 0, jobs, 0, 0, 1, H5T_NATIVE_UINT64, jsonLength.data(),
                 where);
        ReadRows(h_->jobFirstOutput.get(), 0, jobs, 0, 0, 1, H5T_NATIVE_UINT64, firstOutput.data(),
                 where);
        ReadRows(h_->jobOutputCount.get(), 0, jobs, 0, 0, 1, H5T_NATIVE_UINT64, outputCount.data(),
                 where);
        ReadRows(h_->jobWall.get(), 0, jobs, 0, 0, 1, H5T_NATIVE_INT64, wall.data(), where);
        ReadRows(h_->jobFirstProfile.get(), 0, jobs, 0, 0, 1, H5T_NATIVE_UINT64,
                 firstProfile.data(), where);
    }
    if (jsonBytes > 0)
        ReadRows(h_->jobJson.get(), 0, jsonBytes, 0, 0, 1, H5T_NATIVE_UINT8, json.data(), where);
    if (outputs > 0)
        ReadRows(h_->outputTool.get(), 0, outputs, 0, 0, 1, H5T_NATIVE_UINT16, tools.data(), where);
    const std::vector<std::string> names =
        ReadTexts(h_->outputName.get(), outputs, kOutputNameSize, where);
    const std::vector<std::string> units =
        ReadTexts(h_->outputUnit.get(), outputs, kOutputUnitSize, where);
    out.reasons = ReadTexts(h_->reasons.get(), reasons, kReasonSize, where);
    for (hsize_t j = 0; j < jobs; ++j) {
        const std::string which = damaged + ": job " + std::to_string(j);
        if (jsonFirst[j] > jsonBytes || jsonLength[j] > jsonBytes - jsonFirst[j])
            throw RecordingError(which + " names text beyond 'results/job_json'");
        if (firstOutput[j] > outputs || outputCount[j] > outputs - firstOutput[j])
            throw RecordingError(which + " names outputs beyond 'results/output_name'");
        if (j > 0 && firstProfile[j] < firstProfile[j - 1])
            throw RecordingError(which + " starts before the job ahead of it");
        RecordedJob r;
        r.firstProfile = firstProfile[j];
        r.wallNs = wall[j];
        r.firstOutput = firstOutput[j];
        r.job.json.assign(reinterpret_cast<const char *>(json.data() + jsonFirst[j]),
                          jsonLength[j]);
        const auto b = static_cast<std::ptrdiff_t>(firstOutput[j]);
        const auto e = static_cast<std::ptrdiff_t>(firstOutput[j] + outputCount[j]);
        r.job.outputs.assign(names.begin() + b, names.begin() + e);
        r.job.units.assign(units.begin() + b, units.begin() + e);
        r.job.outputTool.assign(tools.begin() + b, tools.begin() + e);
        out.jobs.push_back(std::move(r));
    }
    out.values = values;
    return out;
}

void RecordingReader::ReadResultValues(std::uint64_t first, std::size_t n, ResultValue *out) {
    h5::Quiet();
    if (!h_->results)
        throw RecordingError(h_->resultsError.empty() ? path_ + " holds no measurement results"
                                                      : h_->resultsError);
    if (n == 0)
        return;
    const std::string where = "cannot read the results of " + path_;
    std::vector<std::uint32_t> output(n);
    std::vector<double> value(n);
    std::vector<std::uint8_t> status(n);
    std::vector<std::uint16_t> reason(n);
    std::vector<std::uint64_t> profile(n);
    ReadRows(h_->valueOutput.get(), first, n, 0, 0, 1, H5T_NATIVE_UINT32, output.data(), where);
    ReadRows(h_->value.get(), first, n, 0, 0, 1, H5T_NATIVE_DOUBLE, value.data(), where);
    ReadRows(h_->valueStatus.get(), first, n, 0, 0, 1, H5T_NATIVE_UINT8, status.data(), where);
    ReadRows(h_->valueReason.get(), first, n, 0, 0, 1, H5T_NATIVE_UINT16, reason.data(), where);
    ReadRows(h_->valueProfile.get(), first, n, 0, 0, 1, H5T_NATIVE_UINT64, profile.data(), where);
    for (std::size_t i = 0; i < n; ++i) {
        if (status[i] > static_cast<std::uint8_t>(ResultStatus::LimitFailed))
            throw RecordingError(path_ + ": the results tables are damaged: value row " +
                                 std::to_string(first + i) + " has an unknown status");
        out[i] = {profile[i], output[i], value[i], static_cast<ResultStatus>(status[i]), reason[i]};
    }
}

namespace {
std::uint64_t StatusWord(hid_t status, int index, const std::string &where) {
    std::uint64_t words[2] = {0, 0};
    ReadRows(status, 0, 2, 0, 0, 1, H5T_NATIVE_UINT64, words, where);
    return words[index];
}
} // namespace

std::uint64_t RecordingReader::droppedProfiles() {
    h5::Quiet();
    return StatusWord(h_->status.get(), 0, "cannot read " + path_);
}

EndState RecordingReader::endState() {
    h5::Quiet();
    const std::uint64_t v = StatusWord(h_->status.get(), 1, "cannot read " + path_);
    return v <= 2 ? static_cast<EndState>(v) : EndState::Open;
}

RecordingSummary RecordingReader::Summary() {
    h5::Quiet();
    const std::string where = "cannot read " + path_;
    RecordingSummary s;
    s.version = version_;
    s.created = created_;
    s.software = software_;
    s.profiles = profiles_;
    s.droppedProfiles = droppedProfiles();
    s.end = endState();
    s.hasAnnouncement = announcement_.has_value();
    s.parameterBlocks = parameterBlocks().size();
    try {
        const RecordedResults results = Results();
        s.resultJobs = results.jobs.size();
        s.resultValues = results.values;
        // Profiles with results: the value rows are in profile order, so
        // counting changes of the profile column counts them.
        constexpr std::size_t kRows = 8192;
        std::vector<ResultValue> rows(kRows);
        bool any = false;
        std::uint64_t last = 0;
        for (std::uint64_t at = 0; at < results.values; at += kRows) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(kRows, results.values - at));
            ReadResultValues(at, n, rows.data());
            for (std::size_t i = 0; i < n; ++i) {
                s.resultProfiles += !any || rows[i].profile != last;
                any = true;
                last = rows[i].profile;
            }
        }
    } catch (const RecordingError &e) {
        s.resultsError = e.what();
    }
    if (profiles_ == 0)
        return s;
    ReceiveTime t;
    Read(0, 1, nullptr, &t);
    s.firstMonotonicNs = t.monotonicNs;
    s.firstWallNs = t.wallNs;
    Read(profiles_ - 1, 1, nullptr, &t);
    s.lastMonotonicNs = t.monotonicNs;
    s.lastWallNs = t.wallNs;
    // Lost, late, duplicate packets and restarts from the packetCount of
    // each profile (qz417::StreamStats). Only the two counters at the head of
    // each packet are read; ProfilePacket's counters look at nothing else.
    std::vector<std::uint8_t> counters(kCounterBatch * kCounterBytes);
    StreamStats stream;
    for (std::uint64_t first = 0; first < profiles_; first += kCounterBatch) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kCounterBatch, profiles_ - first));
        ReadRows(h_->packets.get(), first, n, kPacketSize, 0, kCounterBytes, H5T_NATIVE_UINT8,
                 counters.data(), where);
        for (std::size_t i = 0; i < n; ++i)
            stream.ObservePacket(counters.data() + kCounterBytes * i);
    }
    s.stream = stream.counts();
    s.lostPackets = s.stream.lost;
    return s;
}

} // namespace qz417::recording
