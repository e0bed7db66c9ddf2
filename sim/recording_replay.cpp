#include "recording_replay.h"

#include "wire_format.h"

#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qzsim {

namespace {

constexpr char kFormatName[] = "qz417-recording";
constexpr std::uint64_t kReadableVersion = 1;
constexpr std::uint64_t kCacheProfiles = 1024; // 4 MB read at a time

// Closes an HDF5 identifier at the end of a scope.
struct Closer {
    hid_t id;
    herr_t (*close)(hid_t);
    ~Closer() {
        if (id >= 0)
            close(id);
    }
};

bool readText(hid_t object, const char *name, std::string *out) {
    if (H5Aexists(object, name) <= 0)
        return false;
    Closer a{H5Aopen(object, name, H5P_DEFAULT), H5Aclose};
    Closer type{H5Aget_type(a.id), H5Tclose};
    if (a.id < 0 || type.id < 0 || H5Tget_class(type.id) != H5T_STRING)
        return false;
    if (H5Tis_variable_str(type.id) > 0) {
        Closer mem{H5Tcopy(H5T_C_S1), H5Tclose};
        H5Tset_size(mem.id, H5T_VARIABLE);
        H5Tset_cset(mem.id, H5Tget_cset(type.id)); // no conversion between character sets
        char *text = nullptr;
        if (H5Aread(a.id, mem.id, &text) < 0 || text == nullptr)
            return false;
        *out = std::string(text, strnlen(text, 256));
        H5free_memory(text);
        return true;
    }
    const std::size_t size = H5Tget_size(type.id);
    if (size == 0 || size > 256)
        return false;
    std::string value(size, '\0');
    if (H5Aread(a.id, type.id, value.data()) < 0)
        return false;
    value.resize(strnlen(value.c_str(), size));
    *out = value;
    return true;
}

// Rows of a dataset of the given rank whose second dimension (if any) is `row`.
bool rowsOf(hid_t d, int rank, hsize_t row, hsize_t *rows) {
    Closer space{H5Dget_space(d), H5Sclose};
    hsize_t dims[2] = {0, 0};
    if (space.id < 0 || H5Sget_simple_extent_ndims(space.id) != rank ||
        H5Sget_simple_extent_dims(space.id, dims, nullptr) < 0 || (rank == 2 && dims[1] != row))
        return false;
    *rows = dims[0];
    return true;
}

bool readRows(hid_t d, hsize_t first, hsize_t n, hsize_t row, hid_t type, void *out) {
    const int rank = row == 0 ? 1 : 2;
    Closer fileSpace{H5Dget_space(d), H5Sclose};
    const hsize_t start[2] = {first, 0};
    const hsize_t count[2] = {n, row};
    if (fileSpace.id < 0 ||
        H5Sselect_hyperslab(fileSpace.id, H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
        return false;
    Closer mem{H5Screate_simple(rank, count, nullptr), H5Sclose};
    return mem.id >= 0 && H5Dread(d, type, mem.id, fileSpace.id, H5P_DEFAULT, out) >= 0;
}

} // namespace

std::shared_ptr<RecordingReplay> RecordingReplay::open(const std::string &path, double rateHz,
                                                       bool loop, std::string *error) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    auto fail = [&](const std::string &why) {
        if (error)
            *error = path + ": " + why;
        return nullptr;
    };
    std::shared_ptr<RecordingReplay> r(new RecordingReplay());
    r->rateHz_ = rateHz;
    r->loop_ = loop;
    if (H5Fis_hdf5(path.c_str()) <= 0)
        return fail("cannot open it as an HDF5 file (missing, unreadable or not a recording)");
    r->file_ = H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT);
    if (r->file_ < 0)
        r->file_ = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (r->file_ < 0)
        return fail("cannot open it as an HDF5 file");
    std::string format;
    if (!readText(r->file_, "format", &format) || format != kFormatName)
        return fail("not a QZ417 recording");
    std::uint64_t version = 0;
    {
        Closer a{H5Aexists(r->file_, "format_version") > 0
                     ? H5Aopen(r->file_, "format_version", H5P_DEFAULT)
                     : H5I_INVALID_HID,
                 H5Aclose};
        if (a.id < 0 || H5Aread(a.id, H5T_NATIVE_UINT64, &version) < 0)
            return fail("no format version");
    }
    if (version == 0 || version > kReadableVersion)
        return fail("format version " + std::to_string(version) + "; this emulator reads version " +
                    std::to_string(kReadableVersion));

    hsize_t packets = 0, monotonic = 0;
    r->packets_ = H5Dopen2(r->file_, "packets", H5P_DEFAULT);
    Closer times{H5Dopen2(r->file_, "receive_time_monotonic_ns", H5P_DEFAULT), H5Dclose};
    if (r->packets_ < 0 || times.id < 0 || !rowsOf(r->packets_, 2, kPacketSize, &packets) ||
        !rowsOf(times.id, 1, 0, &monotonic))
        return fail("damaged: no packets or receive times");
    r->size_ = std::min(packets, monotonic);
    if (r->size_ == 0)
        return fail("the recording holds no profile");
    std::vector<std::int64_t> ns(r->size_);
    if (!readRows(times.id, 0, r->size_, 0, H5T_NATIVE_INT64, ns.data()))
        return fail("damaged: cannot read the receive times");
    r->offsets_.resize(r->size_);
    for (std::uint64_t i = 0; i < r->size_; ++i) // never backwards, even if the clock was
        r->offsets_[i] = std::max(i ? r->offsets_[i - 1] : 0.0, (ns[i] - ns[0]) * 1e-9);
    const double span = r->offsets_.back();
    r->period_ =
        rateHz > 0 ? r->size_ / rateHz : span + (r->size_ > 1 ? span / (r->size_ - 1) : 0.001);
    if (!(r->period_ > 0))
        r->period_ = 0.001 * r->size_; // all at one instant: one per millisecond

    if (H5Lexists(r->file_, "announcement", H5P_DEFAULT) > 0) {
        Closer d{H5Dopen2(r->file_, "announcement", H5P_DEFAULT), H5Dclose};
        hsize_t n = 0;
        std::array<std::uint8_t, 268> a{};
        if (d.id >= 0 && rowsOf(d.id, 1, 0, &n) && n == a.size() &&
            readRows(d.id, 0, n, 0, H5T_NATIVE_UINT8, a.data()))
            r->announcement_ = a;
    }
    if (H5Lexists(r->file_, "parameter_blocks", H5P_DEFAULT) > 0) {
        Closer d{H5Dopen2(r->file_, "parameter_blocks", H5P_DEFAULT), H5Dclose};
        hsize_t n = 0;
        std::array<std::uint8_t, 512> b{};
        if (d.id >= 0 && rowsOf(d.id, 2, b.size(), &n) && n > 0 &&
            readRows(d.id, 0, 1, b.size(), H5T_NATIVE_UINT8, b.data()))
            r->block_ = b;
    }
    return r;
}

RecordingReplay::~RecordingReplay() {
    if (packets_ >= 0)
        H5Dclose(packets_);
    if (file_ >= 0)
        H5Fclose(file_);
}

std::uint64_t RecordingReplay::dueCount(double seconds) const {
    if (seconds < 0)
        return 0;
    const double loops = std::floor(seconds / period_);
    if (!loop_ && loops >= 1)
        return size_;
    const double within = seconds - loops * period_;
    std::uint64_t inPass;
    if (rateHz_ > 0)
        inPass = std::min<std::uint64_t>(size_, static_cast<std::uint64_t>(within * rateHz_) + 1);
    else
        inPass = static_cast<std::uint64_t>(
            std::upper_bound(offsets_.begin(), offsets_.end(), within) - offsets_.begin());
    return static_cast<std::uint64_t>(loops) * size_ + inPass;
}

double RecordingReplay::dueTime(std::uint64_t g) const {
    const std::uint64_t pass = g / size_, i = g % size_;
    const double inPass = rateHz_ > 0 ? i / rateHz_ : offsets_[i];
    return pass * period_ + inPass;
}

bool RecordingReplay::loadBlock(std::uint64_t first) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const std::uint64_t n = std::min(kCacheProfiles, size_ - first);
    cache_.resize(n * kPacketSize);
    if (!readRows(packets_, first, n, kPacketSize, H5T_NATIVE_UINT8, cache_.data())) {
        cacheCount_ = 0;
        return false;
    }
    cacheFirst_ = first;
    cacheCount_ = n;
    return true;
}

bool RecordingReplay::packet(std::uint64_t g, std::uint8_t *out) {
    const std::uint64_t i = g % size_;
    std::lock_guard lock(mu_);
    if ((i < cacheFirst_ || i >= cacheFirst_ + cacheCount_) && !loadBlock(i))
        return false;
    std::memcpy(out, cache_.data() + (i - cacheFirst_) * kPacketSize, kPacketSize);
    return true;
}

} // namespace qzsim
