// Profiles written as they arrive: the PCD and PLY headers and data (read
// back here by their published layouts), counts rewritten when fewer profiles
// came than were asked for, CSV and text identical to the whole-run writers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "failure.h"
#include "profile_writer.h"

namespace qz417::ctl {
namespace {

namespace fs = std::filesystem;

PacketBytes MakePacket(std::uint16_t counter) {
    PacketBytes p{};
    p[0] = static_cast<std::uint8_t>(counter);
    p[1] = static_cast<std::uint8_t>(counter >> 8);
    for (int i = 0; i < 1024; ++i) {
        // Every third point invalid (z = error value 0); others vary with the counter.
        const auto z = static_cast<std::int16_t>(i % 3 == 0 ? 0 : 16 * i + counter);
        const auto x = static_cast<std::int16_t>(8 * (i - 512));
        const std::size_t at = 4 + 4 * static_cast<std::size_t>(i);
        p[at] = static_cast<std::uint8_t>(z);
        p[at + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(z) >> 8);
        p[at + 2] = static_cast<std::uint8_t>(x);
        p[at + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
    }
    return p;
}

std::size_t ValidPoints(const PacketBytes &packet) {
    const qz417::ProfilePacket view(packet.data());
    std::size_t n = 0;
    for (int i = 0; i < 1024; ++i)
        n += qz417::DecodePoint(view.point(i), qz417::ProfileScale{}).valid ? 1 : 0;
    return n;
}

class ProfileWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qz417ctl-writer-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string &name) const { return (dir_ / name).string(); }

    // Writes `n` packets (counters 100, 101, ...) announced as `asked`.
    std::string Write(ProfileFormat format, int n, int asked, const std::string &name) {
        const auto writer = MakeProfileWriter(format, path(name), asked, scale_);
        for (int k = 0; k < n; ++k)
            writer->add(MakePacket(static_cast<std::uint16_t>(100 + k)));
        writer->finish();
        EXPECT_EQ(writer->tally().profiles, static_cast<std::uint64_t>(n));
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Header lines up to and including the one starting with `last`, and the
    // offset of the data after it.
    static std::vector<std::string> HeaderLines(const std::string &file, const std::string &last,
                                                std::size_t *dataAt) {
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < file.size()) {
            const auto nl = file.find('\n', at);
            lines.push_back(file.substr(at, nl - at));
            at = nl + 1;
            if (lines.back().rfind(last, 0) == 0)
                break;
        }
        *dataAt = at;
        return lines;
    }

    static float FloatAt(const std::string &file, std::size_t at) {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= std::uint32_t{static_cast<std::uint8_t>(file[at + static_cast<std::size_t>(i)])}
                    << (8 * i);
        float v = 0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

    qz417::ProfileScale scale_{};
    fs::path dir_;
};

TEST_F(ProfileWriterTest, PcdIsAnOrganisedCloudWithNaNForMissingPoints) {
    for (const bool binary : {false, true}) {
        const std::string file =
            Write(binary ? ProfileFormat::PcdBinary : ProfileFormat::Pcd, 3, 3, "a.pcd");
        std::size_t dataAt = 0;
        std::vector<std::string> header = HeaderLines(file, "DATA", &dataAt);
        // Comment lines may stand anywhere; the fields stand in this order.
        std::erase_if(header, [](const std::string &l) { return l.rfind('#', 0) == 0; });
        EXPECT_EQ(header, (std::vector<std::string>{
                              "VERSION 0.7", "FIELDS x y z", "SIZE 4 4 4", "TYPE F F F",
                              "COUNT 1 1 1", "WIDTH 1024", "HEIGHT 3", "VIEWPOINT 0 0 0 1 0 0 0",
                              "POINTS 3072", binary ? "DATA binary" : "DATA ascii"}));
        std::vector<std::array<float, 3>> points;
        if (binary) {
            ASSERT_EQ(file.size() - dataAt, 3072u * 12u);
            for (std::size_t at = dataAt; at < file.size(); at += 12)
                points.push_back({FloatAt(file, at), FloatAt(file, at + 4), FloatAt(file, at + 8)});
        } else {
            std::istringstream in(file.substr(dataAt));
            for (std::string x, y, z; in >> x >> y >> z;)
                points.push_back({std::strtof(x.c_str(), nullptr), std::strtof(y.c_str(), nullptr),
                                  std::strtof(z.c_str(), nullptr)});
        }
        ASSERT_EQ(points.size(), 3072u);
        for (int k = 0; k < 3; ++k) {
            const PacketBytes packet = MakePacket(static_cast<std::uint16_t>(100 + k));
            const qz417::ProfilePacket view(packet.data());
            for (int i = 0; i < 1024; ++i) {
                const auto &p = points[static_cast<std::size_t>(k * 1024 + i)];
                const qz417::ProfilePoint expected = qz417::DecodePoint(view.point(i), scale_);
                if (!expected.valid) {
                    EXPECT_TRUE(std::isnan(p[0]) && std::isnan(p[1]) && std::isnan(p[2])) << i;
                    continue;
                }
                ASSERT_EQ(p[0], expected.x) << k << "/" << i;
                ASSERT_EQ(p[1], static_cast<float>(k));
                ASSERT_EQ(p[2], expected.z) << k << "/" << i;
            }
        }
    }
}

TEST_F(ProfileWriterTest, BinaryPlyHoldsTheValidPointsOfTheAsciiOne) {
    const std::vector<PacketBytes> packets = {MakePacket(100), MakePacket(101)};
    const std::string ascii = Write(ProfileFormat::Ply, 2, 2, "a.ply");
    const std::string binary = Write(ProfileFormat::PlyBinary, 2, 2, "b.ply");

    const auto bodyOf = [](const std::string &t) { return t.substr(t.find("end_header\n") + 11); };

    std::size_t dataAt = 0;
    std::vector<std::string> header = HeaderLines(binary, "end_header", &dataAt);
    std::erase_if(header, [](const std::string &l) { return l.rfind("comment", 0) == 0; });
    const std::size_t valid = ValidPoints(packets[0]) + ValidPoints(packets[1]);
    ASSERT_LT(valid, 2048u);
    EXPECT_EQ(header, (std::vector<std::string>{"ply", "format binary_little_endian 1.0",
                                                "element vertex " + std::to_string(valid),
                                                "property float x", "property float y",
                                                "property float z", "end_header"}));
    ASSERT_EQ(binary.size() - dataAt, valid * 12);
    std::istringstream text(bodyOf(ascii));
    for (std::size_t at = dataAt; at < binary.size(); at += 12) {
        float x = 0, y = 0, z = 0;
        text >> x >> y >> z;
        ASSERT_EQ(FloatAt(binary, at), x);
        ASSERT_EQ(FloatAt(binary, at + 4), y);
        ASSERT_EQ(FloatAt(binary, at + 8), z);
    }
}

TEST_F(ProfileWriterTest, ACutShortRunGetsHeadersWithTheRealCounts) {
    const std::string full = Write(ProfileFormat::PcdBinary, 5, 5, "full.pcd");
    const std::string cut = Write(ProfileFormat::PcdBinary, 2, 5, "cut.pcd");
    std::size_t fullAt = 0, cutAt = 0;
    const auto cutHeader = HeaderLines(cut, "DATA", &cutAt);
    HeaderLines(full, "DATA", &fullAt);
    EXPECT_EQ(cutAt, fullAt); // the header was rewritten in place, same length
    EXPECT_NE(std::find(cutHeader.begin(), cutHeader.end(), "HEIGHT 2"), cutHeader.end());
    EXPECT_NE(std::find(cutHeader.begin(), cutHeader.end(), "POINTS 2048"), cutHeader.end());
    EXPECT_EQ(cut.size() - cutAt, 2048u * 12u);
    EXPECT_EQ(cut.substr(cutAt), full.substr(fullAt, 2048u * 12u));

    const std::string none = Write(ProfileFormat::Ply, 0, 5, "none.ply");
    EXPECT_NE(none.find("\nelement vertex 0\n"), std::string::npos);
    EXPECT_EQ(none.substr(none.size() - 11), "end_header\n");
}

TEST_F(ProfileWriterTest, CsvNumbersRowsByMeasurementAndTextMatchesTheProfileFile) {
    const std::vector<PacketBytes> packets = {MakePacket(100), MakePacket(101), MakePacket(102)};
    const std::string csv = Write(ProfileFormat::Csv, 3, 3, "a.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 3 * 1024);
    EXPECT_EQ(csv.rfind("profile,point,valid,x_mm,z_mm\n100,1,0,,\n100,2,1,", 0), 0u);
    EXPECT_NE(csv.find("\n102,1023,1,"), std::string::npos);
    EXPECT_EQ(csv.substr(csv.size() - 14), "\n102,1024,0,,\n");
    EXPECT_EQ(Write(ProfileFormat::Txt, 1, 1, "one.txt"), ProfileTxt(packets[0], scale_));

    Write(ProfileFormat::Txt, 3, 3, "scan.txt");
    for (int k = 0; k < 3; ++k) {
        std::ifstream in(path("scan_0000" + std::to_string(k + 1) + ".txt"), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                  ProfileTxt(packets[static_cast<std::size_t>(k)], scale_));
    }
    EXPECT_FALSE(fs::exists(path("scan.txt")));
}

TEST_F(ProfileWriterTest, TalliesWhatWasWritten) {
    const auto writer = MakeProfileWriter(ProfileFormat::Csv, path("t.csv"), 2, scale_);
    writer->add(MakePacket(65535));
    writer->add(MakePacket(0));
    writer->finish();
    EXPECT_EQ(writer->tally().profiles, 2u);
    EXPECT_EQ(writer->tally().points, 2048u);
    EXPECT_EQ(writer->tally().validPoints,
              ValidPoints(MakePacket(65535)) + ValidPoints(MakePacket(0)));
    EXPECT_EQ(writer->tally().firstMeasurement, 65535);
    EXPECT_EQ(writer->tally().lastMeasurement, 0);
}

TEST_F(ProfileWriterTest, AnUnwritableFileFailsAsAUsageError) {
    try {
        MakeProfileWriter(ProfileFormat::Pcd, path("no/such/dir.pcd"), 1, scale_);
        FAIL() << "no exception";
    } catch (const Failure &f) {
        EXPECT_EQ(f.exitCode(), kExitUsage);
        EXPECT_NE(std::string(f.what()).find("cannot write"), std::string::npos);
    }
}

TEST(ProfileFormatNames, AreTheSixFormats) {
    EXPECT_EQ(ParseProfileFormat("txt"), ProfileFormat::Txt);
    EXPECT_EQ(ParseProfileFormat("csv"), ProfileFormat::Csv);
    EXPECT_EQ(ParseProfileFormat("ply"), ProfileFormat::Ply);
    EXPECT_EQ(ParseProfileFormat("ply-binary"), ProfileFormat::PlyBinary);
    EXPECT_EQ(ParseProfileFormat("pcd"), ProfileFormat::Pcd);
    EXPECT_EQ(ParseProfileFormat("pcd-binary"), ProfileFormat::PcdBinary);
    EXPECT_EQ(ParseProfileFormat("PCD"), std::nullopt);
    EXPECT_EQ(ParseProfileFormat(""), std::nullopt);
}

TEST(NumberedPath, NumbersTheFileNameNotTheDirectory) {
    EXPECT_EQ(NumberedPath("scan.txt", 1), "scan_00001.txt");
    EXPECT_EQ(NumberedPath("dir/scan.txt", 12), "dir/scan_00012.txt");
    EXPECT_EQ(NumberedPath("a.b/scan", 3), "a.b/scan_00003");
    EXPECT_EQ(NumberedPath(".scan", 4), ".scan_00004");
    EXPECT_EQ(NumberedPath("scan.tar.txt", 65535), "scan.tar_65535.txt");
}

} // namespace
} // namespace qz417::ctl
