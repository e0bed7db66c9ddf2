// qz417ctl recording info|export on recordings written here: the summary,
// the points of CSV, PLY and PCD in millimetres with the recorded scale, the
// profile file of one profile, and the refusals of bad files and ranges.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ctl_process.h"
#include "model/recording/recording_file.h"
#include "profile_output.h"
#include <gtest/gtest.h>

namespace qz417::ctl::test {
namespace {

namespace rec = qz417::recording;

// Profile i: counters (10 * i, packet counts 0, 1, 3), point 1 (index 1) at
// x = 8192 * (i + 1) / 4, z = 16384 (250 mm); every other point invalid.
rec::Packet TestPacket(std::uint16_t i, std::uint16_t packetCount) {
    rec::Packet p{};
    p[0] = static_cast<std::uint8_t>(10 * i);
    p[2] = static_cast<std::uint8_t>(packetCount);
    const auto x = static_cast<std::uint16_t>(2048 * (i + 1));
    p[4 + 4] = 0x00, p[4 + 5] = 0x40; // zRaw 16384
    p[4 + 6] = static_cast<std::uint8_t>(x), p[4 + 7] = static_cast<std::uint8_t>(x >> 8);
    return p;
}

class CtlRecording : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        path_ = dir_ + "/r.h5";
        rec::Announcement a{};
        // Description at byte 12: range Z 250 (offset 6), range X EMR 230 (10),
        // discrete value 16384 (12), error value 0 (14).
        a[12 + 6] = 250, a[12 + 10] = 230, a[12 + 13] = 0x40;
        rec::RecordingWriter w(path_, {a, rec::ParameterBlock{}, "test"});
        const std::uint16_t counts[] = {0, 1, 3};
        for (std::uint16_t i = 0; i < 3; ++i) {
            const rec::Packet p = TestPacket(i, counts[i]);
            const rec::ReceiveTime t{5'000'000'000 + i * 1'000'000, 1'765'000'000'000'000'000};
            w.Append(p.data(), &t, 1);
        }
        w.Close(0, rec::EndState::Closed);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string dir_, path_;
};

TEST_F(CtlRecording, InfoSummarisesTheRecording) {
    const CtlResult r = RunCtl({"recording", "info", path_});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *line :
         {"format version: 1\n", "software: test\n", "profiles: 3\n", "duration: 0.002 s\n",
          "rate: 1000.0 profiles/s\n", "lost packets: 1\n", "dropped profiles: 0\n",
          "ended: closed normally\n", "parameter blocks: 1\n",
          "scale: range X 230 mm, range Z 250 mm, discrete value 16384, "
          "error value 0\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
}

TEST_F(CtlRecording, ExportsPointsInMillimetres) {
    const std::string csv = dir_ + "/p.csv";
    CtlResult r = RunCtl({"recording", "export", path_, "--format", "csv", "-o", csv});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(csv), "profile,point,time_s,x_mm,z_mm\n"
                             "1,2,0.000000000,28.75,250\n"
                             "2,2,0.001000000,57.5,250\n"
                             "3,2,0.002000000,86.25,250\n");

    const std::string ply = dir_ + "/p.ply";
    r = RunCtl({"recording", "export", path_, "--format", "ply", "--first", "1", "--pitch", "0.5",
                "-o", ply});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string plyText = ReadFile(ply);
    EXPECT_NE(plyText.find("element vertex 2\n"), std::string::npos) << plyText;
    EXPECT_NE(plyText.find("end_header\n57.5 0.5 250\n86.25 1 250\n"), std::string::npos)
        << plyText;

    const std::string pcd = dir_ + "/p.pcd";
    r = RunCtl({"recording", "export", path_, "--format", "pcd", "--count", "2", "--speed", "100",
                "-o", pcd});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string pcdText = ReadFile(pcd);
    EXPECT_NE(pcdText.find("POINTS 2\nDATA ascii\n28.75 0 250\n57.5 0.1 250\n"), std::string::npos)
        << pcdText;

    const std::string txt = dir_ + "/p.txt";
    r = RunCtl({"recording", "export", path_, "--format", "txt", "--first", "2", "-o", txt});
    ASSERT_EQ(r.status, 0) << r.err;
    qz417::ctl::PacketBytes packet{};
    const rec::Packet p = TestPacket(2, 3);
    std::copy(p.begin(), p.end(), packet.begin());
    EXPECT_EQ(ReadFile(txt), qz417::ctl::ProfileTxt(packet, qz417::ProfileScale{}));
}

TEST_F(CtlRecording, BadFilesAndRangesAreRefusedWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::string text = dir_ + "/notes.txt";
    std::system(("echo hello > '" + text + "'").c_str());
    const std::string empty = dir_ + "/empty.h5";
    rec::RecordingWriter(empty, {}).Close(0, rec::EndState::Closed);
    const std::string out = dir_ + "/o";
    for (const Case &c : {
             Case{{"recording", "info", dir_ + "/missing.h5"}, "No such file or directory"},
             Case{{"recording", "info", text}, "not an HDF5 file"},
             Case{{"recording", "export", empty, "--format", "csv", "-o", out}, "no profile"},
             Case{{"recording", "export", path_, "--format", "csv", "--first", "3", "-o", out},
                  "--first"},
             Case{{"recording", "export", path_, "--format", "csv", "--first", "2", "--count", "2",
                   "-o", out},
                  "lie beyond the 3 profiles"},
             Case{{"recording", "export", path_, "--format", "xyz", "-o", out}, "unknown format"},
             Case{{"recording", "export", path_, "--format", "ply", "--pitch", "1", "--speed", "1",
                   "-o", out},
                  "either --pitch or --speed"},
             Case{{"recording", "replay", path_}, "unknown action"},
         }) {
        const CtlResult r = RunCtl(c.args);
        EXPECT_EQ(r.status, 2) << c.says << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

TEST_F(CtlRecording, AnOutputThatCannotBeWrittenFailsAndLeavesNoFile) {
    const std::string out = dir_ + "/missing/p.csv";
    CtlResult r = RunCtl({"recording", "export", path_, "--format", "csv", "-o", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write " + out + ": No such file or directory"), std::string::npos)
        << r.err;
    r = RunCtl({"recording", "export", path_, "--format", "ply", "-o", dir_});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;
    // Only the recording: no part of an export was left.
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir_))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"r.h5"});
    // Standard output as the file.
    r = RunCtl(
        {"recording", "export", path_, "--format", "pcd", "--count", "1", "-o", "/dev/stdout"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("POINTS 1\nDATA ascii\n28.75 0 250\n"), std::string::npos) << r.out;
}

} // namespace
} // namespace qz417::ctl::test
