// The recording reader on files it did not write: a file built from the
// input with HDF5 (attributes and datasets of any type and shape, the names
// the reader looks for among them), a valid recording cut at any length, or
// a valid recording with bytes of its superblock or its profiles changed.
//
// Input: one byte for the mode, then what the mode takes (see below). Checks:
// the reader either refuses with a RecordingError that names the file, or
// reads consistently: profiles within what the file can hold, every range
// it reports readable, the summary's counts within the profiles.
#include "fuzz_input.h"
#include "model/recording/recording_file.h"

#include <hdf5.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace rec = qz417::recording;
using qz417::fuzz::Check;
using qz417::fuzz::FuzzInput;

const std::string &Scratch() {
    static const std::string path = "/tmp/qz417-recording-fuzz-" + std::to_string(getpid()) + ".h5";
    return path;
}

void WriteBytes(const std::string &path, const std::vector<char> &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<char> ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A small valid recording, its bytes kept for the modes that damage it.
const std::vector<char> &ValidRecording() {
    static const std::vector<char> bytes = [] {
        {
            rec::RecordingWriter w(Scratch(), {rec::Announcement{}, rec::ParameterBlock{}, "fuzz"});
            for (std::uint64_t i = 0; i < 20; ++i) {
                rec::Packet p{};
                p[2] = static_cast<std::uint8_t>(i);
                p[100] = static_cast<std::uint8_t>(i * 7);
                const rec::ReceiveTime t{static_cast<std::int64_t>(i) * 1000, 0};
                w.Append(p.data(), &t, 1);
            }
            w.AppendParameterBlock(rec::ParameterBlock{}, 5);
            w.Close(0, rec::EndState::Closed);
        }
        return ReadBytes(Scratch());
    }();
    return bytes;
}

const char *const kNames[] = {"packets",
                              "receive_time_monotonic_ns",
                              "receive_time_wall_ns",
                              "announcement",
                              "parameter_blocks",
                              "parameter_block_first_profile",
                              "parameter_block_wall_ns",
                              "writer_status",
                              "other"};

hid_t TypeFor(std::uint8_t code) {
    const hid_t types[] = {H5T_STD_U8LE,   H5T_STD_I8LE,  H5T_STD_U16LE, H5T_STD_I32LE,
                           H5T_STD_U32LE,  H5T_STD_I64LE, H5T_STD_U64LE, H5T_IEEE_F32LE,
                           H5T_IEEE_F64LE, H5T_STD_U64BE, H5T_STD_I64BE};
    return types[code % (sizeof types / sizeof types[0])];
}

// Mode 0: attributes and datasets chosen by the input, written with HDF5.
void BuildFile(FuzzInput &in) {
    const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    if (in.u8() & 1)
        H5Pset_libver_bounds(fapl, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
    const hid_t f = H5Fcreate(Scratch().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl);
    H5Pclose(fapl);
    if (f < 0)
        return;
    // The format attribute: right, wrong, or another type.
    const std::uint8_t formatKind = in.u8() % 4;
    if (formatKind < 3) {
        const std::string text = formatKind == 0   ? "qz417-recording"
                                 : formatKind == 1 ? "qz417-recordinG"
                                                   : std::string(in.u8() % 40, 'x');
        const hid_t type = H5Tcopy(H5T_C_S1);
        H5Tset_size(type, std::max<std::size_t>(1, text.size()));
        const hid_t space = H5Screate(H5S_SCALAR);
        const hid_t a = H5Acreate2(f, "format", type, space, H5P_DEFAULT, H5P_DEFAULT);
        std::string padded = text;
        padded.resize(std::max<std::size_t>(1, text.size()));
        H5Awrite(a, type, padded.data());
        H5Aclose(a);
        H5Sclose(space);
        H5Tclose(type);
    }
    if (in.u8() & 1) {
        const std::uint64_t version = in.u8() % 4;
        const hsize_t n = 1 + in.u8() % 2;
        const hid_t space = H5Screate_simple(1, &n, nullptr);
        const hid_t a =
            H5Acreate2(f, "format_version", TypeFor(in.u8()), space, H5P_DEFAULT, H5P_DEFAULT);
        const std::uint64_t values[2] = {version, version};
        H5Awrite(a, H5T_NATIVE_UINT64, values);
        H5Aclose(a);
        H5Sclose(space);
    }
    // Datasets: name, type, rank, dimensions, chunked or not, rows written.
    for (int k = 0, count = in.u8() % 12; k < count && !in.empty(); ++k) {
        const char *name = kNames[in.u8() % (sizeof kNames / sizeof kNames[0])];
        const hid_t type = TypeFor(in.u8());
        const int rank = 1 + in.u8() % 2;
        hsize_t dims[2] = {static_cast<hsize_t>(in.u16() % 300),
                           static_cast<hsize_t>(in.u8() & 1 ? 4100 : in.u16() % 5000)};
        if (in.u8() & 1)
            dims[1] = 512;
        const bool chunked = in.u8() & 1;
        const hsize_t maxDims[2] = {H5S_UNLIMITED, dims[1]};
        const hid_t space = H5Screate_simple(rank, dims, chunked ? maxDims : nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        if (chunked) {
            const hsize_t chunk[2] = {static_cast<hsize_t>(1 + in.u8() % 64),
                                      std::max<hsize_t>(1, dims[1])};
            H5Pset_chunk(dcpl, rank, chunk);
        }
        if (H5Lexists(f, name, H5P_DEFAULT) <= 0) {
            const hid_t d = H5Dcreate2(f, name, type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
            if (d >= 0 && (in.u8() & 1)) {
                // Fill from the input (repeated), as the native byte type.
                const hsize_t total = dims[0] * (rank == 2 ? dims[1] : 1);
                if (total > 0 && total * H5Tget_size(type) <= (1u << 22)) {
                    std::vector<std::uint8_t> data(total * H5Tget_size(type));
                    const auto seed = in.bytes(64);
                    for (std::size_t i = 0; i < data.size() && !seed.empty(); ++i)
                        data[i] = seed[i % seed.size()];
                    H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data.data());
                }
            }
            if (d >= 0)
                H5Dclose(d);
        }
        H5Pclose(dcpl);
        H5Sclose(space);
    }
    H5Fclose(f);
}

void Exercise() {
    try {
        rec::RecordingReader r(Scratch());
        const rec::RecordingSummary s = r.Summary();
        Check(s.profiles == r.profiles(), "summary and reader agree on the profiles");
        Check(s.version >= 1 && s.version <= rec::kFormatVersion, "accepted version");
        const std::vector<char> file = ReadBytes(Scratch());
        Check(r.profiles() <= file.size() / rec::kPacketSize + 128, "profiles the file can hold");
        if (r.profiles() > 1)
            Check(s.lostPackets <= r.profiles() * 32768, "lost packets bounded");
        r.parameterBlocks();
        const std::uint64_t n = std::min<std::uint64_t>(r.profiles(), 8);
        std::vector<std::uint8_t> packets(n * rec::kPacketSize);
        std::vector<rec::ReceiveTime> times(n);
        r.Read(r.profiles() - n, n, packets.data(), times.data());
        bool refused = false;
        try {
            r.Read(r.profiles(), 1, packets.data(), times.data());
        } catch (const rec::RecordingError &) {
            refused = true;
        }
        Check(refused, "a read beyond the end is refused");
    } catch (const rec::RecordingError &e) {
        Check(std::string(e.what()).find(Scratch()) != std::string::npos,
              "the message names the file");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    FuzzInput in(data, size);
    const std::vector<char> &valid = ValidRecording();
    switch (in.u8() % 3) {
    case 0:
        BuildFile(in);
        break;
    case 1: { // a valid recording cut short
        const std::size_t n =
            (static_cast<std::size_t>(in.u16()) << 8 | in.u8()) % (valid.size() + 1);
        WriteBytes(Scratch(),
                   std::vector<char>(valid.begin(), valid.begin() + static_cast<long>(n)));
        break;
    }
    default: { // bytes of the superblock or of the profiles changed
        std::vector<char> copy = valid;
        while (!in.empty()) {
            const bool superblock = in.u8() & 1;
            const std::size_t at = superblock ? in.u8() % 48 : valid.size() / 2 + in.u16() % 40000;
            if (at < copy.size())
                copy[at] = static_cast<char>(in.u8());
        }
        WriteBytes(Scratch(), copy);
        break;
    }
    }
    Exercise();
    std::remove(Scratch().c_str());
    return 0;
}
