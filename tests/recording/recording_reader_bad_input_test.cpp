// The reader and files it must refuse: each gives a RecordingError with a
// message that says what is wrong; none crashes.
#include "model/recording/recording_file.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <vector>

namespace qz417::recording {
namespace {

using test::MakePacket;
using test::TempDir;

std::string OpenError(const std::string &path) {
    try {
        RecordingReader r(path);
        r.Summary();
    } catch (const RecordingError &e) {
        return e.what();
    }
    return "";
}

void WriteBytes(const std::string &path, const std::vector<char> &bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

std::vector<char> ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string WriteGoodRecording(const TempDir &dir, std::size_t profiles) {
    const std::string path = dir.file("good.h5");
    RecordingWriter w(path, {Announcement{}, ParameterBlock{}, "test"});
    for (std::size_t i = 0; i < profiles; ++i) {
        const Packet p = MakePacket(i);
        const ReceiveTime t{static_cast<std::int64_t>(i), 0};
        w.Append(p.data(), &t, 1);
    }
    w.Close(0, EndState::Closed);
    return path;
}

// An HDF5 file written here directly, shaped by `fill`.
std::string WriteHdf5(const TempDir &dir, const std::string &name,
                      const std::function<void(hid_t)> &fill) {
    const std::string path = dir.file(name);
    const hid_t f = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    fill(f);
    H5Fclose(f);
    return path;
}

void TextAttribute(hid_t f, const char *name, const char *value) {
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, H5T_VARIABLE);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t a = H5Acreate2(f, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, type, &value);
    H5Aclose(a);
    H5Sclose(space);
    H5Tclose(type);
}

void U32Attribute(hid_t f, const char *name, std::uint32_t v) {
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t a = H5Acreate2(f, name, H5T_STD_U32LE, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_UINT32, &v);
    H5Aclose(a);
    H5Sclose(space);
}

void Dataset(hid_t f, const char *name, hid_t type, std::vector<hsize_t> dims) {
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t d = H5Dcreate2(f, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dclose(d);
    H5Sclose(space);
}

// Everything a version 1 recording holds, with one dataset's shape or type
// replaced when `odd` names it.
void AllDatasets(hid_t f, const std::string &odd = "") {
    auto pick = [&](const char *name, hid_t type, std::vector<hsize_t> dims) {
        if (odd == name)
            Dataset(f, name, H5T_IEEE_F32LE, dims);
        else if (odd != std::string("-") + name)
            Dataset(f, name, type, dims);
    };
    pick(kPackets, H5T_STD_U8LE, {2, kPacketSize});
    pick(kMonotonicNs, H5T_STD_I64LE, {2});
    pick(kWallNs, H5T_STD_I64LE, {2});
    pick(kParameterBlocks, H5T_STD_U8LE, {0, kParameterBlockSize});
    pick(kParameterFirstProfile, H5T_STD_U64LE, {0});
    pick(kParameterWallNs, H5T_STD_I64LE, {0});
    pick(kWriterStatus, H5T_STD_U64LE, {2});
}

TEST(RecordingReaderBadInput, FilesThatAreNoRecordingSaySo) {
    TempDir dir;
    EXPECT_NE(OpenError(dir.file("missing.h5")).find("No such file or directory"),
              std::string::npos);
    WriteBytes(dir.file("empty.h5"), {});
    EXPECT_NE(OpenError(dir.file("empty.h5")).find("is empty"), std::string::npos);
    WriteBytes(dir.file("text.h5"), {'p', 'r', 'o', 'f', 'i', 'l', 'e', '\n', '1', '\n'});
    EXPECT_NE(OpenError(dir.file("text.h5")).find("not an HDF5 file"), std::string::npos);
    WriteBytes(dir.file("short.h5"), {'\x89', 'H', 'D'});
    EXPECT_NE(OpenError(dir.file("short.h5")).find("not an HDF5 file"), std::string::npos);
    EXPECT_NE(OpenError(dir.path()).find(dir.path()), std::string::npos); // a directory

    const std::string foreign = WriteHdf5(
        dir, "foreign.h5", [](hid_t f) { Dataset(f, "temperature", H5T_IEEE_F64LE, {10}); });
    EXPECT_NE(OpenError(foreign).find("not a QZ417 recording"), std::string::npos);
    const std::string otherFormat = WriteHdf5(
        dir, "other.h5", [](hid_t f) { TextAttribute(f, kAttrFormat, "something-else"); });
    EXPECT_NE(OpenError(otherFormat).find("not a QZ417 recording"), std::string::npos);
}

TEST(RecordingReaderBadInput, NewerFormatVersionAsksForAnUpdate) {
    TempDir dir;
    const std::string path = WriteHdf5(dir, "v2.h5", [](hid_t f) {
        TextAttribute(f, kAttrFormat, kFormatName);
        U32Attribute(f, kAttrVersion, kFormatVersion + 1);
        AllDatasets(f);
    });
    const std::string error = OpenError(path);
    EXPECT_NE(error.find("format version 2"), std::string::npos) << error;
    EXPECT_NE(error.find("update"), std::string::npos) << error;

    const std::string noVersion = WriteHdf5(dir, "nov.h5", [](hid_t f) {
        TextAttribute(f, kAttrFormat, kFormatName);
        AllDatasets(f);
    });
    EXPECT_NE(OpenError(noVersion).find("no format version"), std::string::npos);
}

TEST(RecordingReaderBadInput, MissingOrMisshapenDatasetsAreNamed) {
    TempDir dir;
    const std::string valid = WriteHdf5(dir, "valid.h5", [](hid_t f) {
        TextAttribute(f, kAttrFormat, kFormatName);
        U32Attribute(f, kAttrVersion, 1);
        AllDatasets(f);
    });
    EXPECT_EQ(OpenError(valid), ""); // written without this project's writer, still read
    for (const char *name : {kPackets, kMonotonicNs, kWallNs, kParameterBlocks,
                             kParameterFirstProfile, kParameterWallNs, kWriterStatus}) {
        for (const std::string &odd : {std::string(name), std::string("-") + name}) {
            const std::string path = WriteHdf5(dir, "odd.h5", [&](hid_t f) {
                TextAttribute(f, kAttrFormat, kFormatName);
                U32Attribute(f, kAttrVersion, 1);
                AllDatasets(f, odd);
            });
            const std::string error = OpenError(path);
            EXPECT_NE(error.find(name), std::string::npos) << odd << ": " << error;
        }
    }
    const std::string wideRows = WriteHdf5(dir, "wide.h5", [](hid_t f) {
        TextAttribute(f, kAttrFormat, kFormatName);
        U32Attribute(f, kAttrVersion, 1);
        AllDatasets(f, std::string("-") + kPackets);
        Dataset(f, kPackets, H5T_STD_U8LE, {2, kPacketSize + 1});
    });
    EXPECT_NE(OpenError(wideRows).find("wrong shape"), std::string::npos);
    const std::string hugeClaim = WriteHdf5(dir, "huge.h5", [](hid_t f) {
        TextAttribute(f, kAttrFormat, kFormatName);
        U32Attribute(f, kAttrVersion, 1);
        AllDatasets(f, std::string("-") + kPackets);
        // Never written: a billion rows that the file could not hold.
        const hsize_t dims[2] = {1'000'000'000, kPacketSize};
        const hid_t space = H5Screate_simple(2, dims, nullptr);
        const hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
        const hsize_t chunk[2] = {128, kPacketSize};
        H5Pset_chunk(dcpl, 2, chunk);
        H5Dclose(H5Dcreate2(f, kPackets, H5T_STD_U8LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        H5Pclose(dcpl);
        H5Sclose(space);
        const hsize_t one[1] = {1'000'000'000};
        const hid_t s1 = H5Screate_simple(1, one, nullptr);
        H5Ldelete(f, kMonotonicNs, H5P_DEFAULT);
        H5Ldelete(f, kWallNs, H5P_DEFAULT);
        const hid_t dcpl1 = H5Pcreate(H5P_DATASET_CREATE);
        const hsize_t chunk1[1] = {8192};
        H5Pset_chunk(dcpl1, 1, chunk1);
        H5Dclose(H5Dcreate2(f, kMonotonicNs, H5T_STD_I64LE, s1, H5P_DEFAULT, dcpl1, H5P_DEFAULT));
        H5Dclose(H5Dcreate2(f, kWallNs, H5T_STD_I64LE, s1, H5P_DEFAULT, dcpl1, H5P_DEFAULT));
        H5Pclose(dcpl1);
        H5Sclose(s1);
    });
    EXPECT_NE(OpenError(hugeClaim).find("claims"), std::string::npos) << OpenError(hugeClaim);
}

TEST(RecordingReaderBadInput, TruncatedFilesFailCleanlyOrReadWhatIsThere) {
    TempDir dir;
    const std::string good = WriteGoodRecording(dir, 300);
    const std::vector<char> bytes = ReadBytes(good);
    ASSERT_GT(bytes.size(), 300 * kPacketSize);
    const std::string cut = dir.file("cut.h5");
    int refused = 0;
    // Every length through the superblock, then coarser steps.
    for (std::size_t n = 1; n < bytes.size(); n += n < 256 ? 1 : n < 2048 ? 7 : 4093) {
        WriteBytes(cut, std::vector<char>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
        try {
            RecordingReader r(cut);
            const RecordingSummary s = r.Summary();
            std::vector<std::uint8_t> all(s.profiles * kPacketSize);
            r.Read(0, s.profiles, all.data(), nullptr);
        } catch (const RecordingError &e) {
            EXPECT_NE(std::string(e.what()).find(cut), std::string::npos) << e.what();
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
}

// HDF5 guards its superblock and, in the newest file format, all of its
// metadata with checksums; the profiles themselves carry none (neither does
// the packet on the wire), so a damaged profile reads back as damaged bytes.
TEST(RecordingReaderBadInput, DamagedSuperblockIsRefusedDamagedProfileReadAsIs) {
    TempDir dir;
    const std::string good = WriteGoodRecording(dir, 40);
    const std::vector<char> bytes = ReadBytes(good);
    const std::string bad = dir.file("bad.h5");
    for (std::size_t at = 8; at < 48; ++at) {
        std::vector<char> copy = bytes;
        copy[at] = static_cast<char>(copy[at] ^ 0x5A);
        WriteBytes(bad, copy);
        const std::string error = OpenError(bad);
        EXPECT_NE(error.find("damaged"), std::string::npos) << "byte " << at << ": " << error;
    }
    const Packet seventh = MakePacket(7);
    const std::vector<char> pattern(seventh.begin(), seventh.end());
    const auto where = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    ASSERT_NE(where, bytes.end());
    std::vector<char> copy = bytes;
    copy[static_cast<std::size_t>(where - bytes.begin()) + 100] ^= 0x01;
    WriteBytes(bad, copy);
    RecordingReader r(bad);
    Packet back{};
    r.Read(7, 1, back.data(), nullptr);
    Packet expected = seventh;
    expected[100] ^= 0x01;
    EXPECT_EQ(back, expected);
}

// Any byte of the metadata at the start and the end of the file changed:
// the reader refuses the file or reads it, and neither crashes nor hangs.
// (Texts are fixed-length strings for this: variable-length ones live in an
// unchecked heap, and a damaged one sent HDF5 1.10 into an endless loop.)
TEST(RecordingReaderBadInput, DamagedMetadataIsRefusedOrRead) {
    TempDir dir;
    const std::string good = WriteGoodRecording(dir, 40);
    const std::vector<char> bytes = ReadBytes(good);
    const std::string bad = dir.file("bad.h5");
    const std::size_t edge = std::min<std::size_t>(bytes.size() / 2, 4096);
    int refused = 0;
    for (std::size_t k = 0; k < 2 * edge; k += 11) {
        const std::size_t at = k < edge ? k : bytes.size() - 2 * edge + k;
        std::vector<char> copy = bytes;
        copy[at] = static_cast<char>(copy[at] ^ 0x5A);
        WriteBytes(bad, copy);
        try {
            RecordingReader r(bad);
            const RecordingSummary s = r.Summary();
            r.parameterBlocks();
            std::vector<std::uint8_t> all(s.profiles * kPacketSize);
            r.Read(0, s.profiles, all.data(), nullptr);
        } catch (const RecordingError &e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
}

} // namespace
} // namespace qz417::recording
