// qz417ctl profile, image and angle against an emulated scanner.
#include <nlohmann/json.hpp>
#include <png.h>

#include <cstring>
#include <sstream>

#include "ctl_e2e_fixture.h"
#include "model/profile_file.h"
#include "model/profile_packet.h"

namespace qz417::ctl::test {
namespace {

// The emulator's description scale (see CtlE2E::Options).
qz417::ProfileScale EmulatorScale() {
    qz417::ProfileScale s;
    s.rangeZ = 500;
    s.rangeXEmr = 300;
    s.discreteValue = 16000;
    s.errorValue = 0;
    return s;
}

// What the program's recorder stores for a packet, built here point by point.
std::string WriterText(const std::uint8_t *packet, const qz417::ProfileScale &scale) {
    const qz417::ProfilePacket view(packet);
    qz417::RecordedProfile profile;
    profile.number = view.measurementCount();
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const qz417::ProfilePoint p = qz417::DecodePoint(view.point(i), scale);
        profile.points[static_cast<std::size_t>(i)] =
            p.valid ? qz417::RecordedPoint{p.x, p.z} : qz417::RecordedPoint{0.0f, 0.0f};
    }
    return qz417::ProfileFileText(profile);
}

std::size_t CountLines(const std::string &text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(CtlE2E, ProfileTxtIsTheProgramsFileForTheSamePacket) {
    const std::string out = path("p.txt");
    const std::string raw = path("p.bin");
    const CtlResult r =
        RunCtl({"profile", "127.0.0.1", "--search", "600", "-o", out, "--raw", raw});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string packet = ReadFile(raw);
    ASSERT_EQ(packet.size(), 4100u);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(packet.data());
    const std::string text = ReadFile(out);
    EXPECT_EQ(text, WriterText(bytes, EmulatorScale()));
    EXPECT_NE(text, WriterText(bytes, qz417::ProfileScale{})); // the scale came from the search
    EXPECT_EQ(CountLines(text), 1026u);
    EXPECT_EQ(text.substr(0, 33), "N" + std::string(9, ' ') + "X" + std::string(19, ' ') + "Z\r\n");
}

TEST_F(CtlE2E, ProfileWithoutSearchUsesTheInitialScaleOnStdout) {
    const std::string raw = path("q.bin");
    const CtlResult r = RunCtl({"profile", "127.0.0.2", "--search", "0", "--raw", raw});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string packet = ReadFile(raw);
    ASSERT_EQ(packet.size(), 4100u);
    EXPECT_EQ(r.out, WriterText(reinterpret_cast<const std::uint8_t *>(packet.data()),
                                qz417::ProfileScale{}));
}

TEST_F(CtlE2E, ProfileCountGivesDistinctProfilesInNumberedFiles) {
    const std::string raw = path("n.bin");
    const CtlResult r = RunCtl({"profile", "127.0.0.1", "--count", "3", "--search", "300", "-o",
                                path("scan.txt"), "--raw", raw});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string packets = ReadFile(raw);
    ASSERT_EQ(packets.size(), 3u * 4100u);
    std::uint16_t previous = 0;
    for (int k = 0; k < 3; ++k) {
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(packets.data()) + 4100 * k;
        const std::string file = path("scan_0000" + std::to_string(k + 1) + ".txt");
        EXPECT_EQ(ReadFile(file), WriterText(bytes, EmulatorScale())) << file;
        const qz417::ProfilePacket view(bytes);
        if (k > 0) {
            EXPECT_NE(view.measurementCount(), previous);
        }
        previous = view.measurementCount();
    }
}

TEST_F(CtlE2E, ProfileCsvAndPlyHaveTheirShapes) {
    const CtlResult csv =
        RunCtl({"profile", "127.0.0.1", "--count", "2", "--format", "csv", "--search", "0"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("profile,point,valid,x_mm,z_mm\n", 0), 0u);
    EXPECT_EQ(CountLines(csv.out), 1u + 2048u);

    const CtlResult ply =
        RunCtl({"profile", "127.0.0.1", "--format", "ply", "--search", "0", "-o", path("p.ply")});
    ASSERT_EQ(ply.status, 0) << ply.err;
    const std::string text = ReadFile(path("p.ply"));
    EXPECT_EQ(text.rfind("ply\nformat ascii 1.0\n", 0), 0u);
    const auto at = text.find("element vertex ");
    ASSERT_NE(at, std::string::npos);
    const std::size_t vertices = std::stoul(text.substr(at + 15));
    const auto body = text.find("end_header\n") + 11;
    EXPECT_EQ(CountLines(text.substr(body)), vertices);
    EXPECT_GT(vertices, 0u);
}

// Header value of `key` ("HEIGHT") in a PCD file, and where its data begins.
std::uint64_t PcdField(const std::string &file, const std::string &key, std::size_t *dataAt) {
    std::uint64_t value = 0;
    std::size_t at = 0;
    while (at < file.size()) {
        const auto nl = file.find('\n', at);
        const std::string line = file.substr(at, nl - at);
        at = nl + 1;
        if (line.rfind(key + " ", 0) == 0)
            value = std::stoull(line.substr(key.size() + 1));
        if (line.rfind("DATA", 0) == 0)
            break;
    }
    *dataAt = at;
    return value;
}

TEST_F(CtlE2E, PcdThroughAPipeWaitsForItsCountsInATemporaryFile) {
    // A pipe cannot be rewound to rewrite the header: the points wait in a
    // temporary file and follow the finished header.
    const std::string command =
        std::string(QZ417CTL_PATH) + " profile 127.0.0.1 --count 3 --format pcd-binary --search 0";
    std::FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string file;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        file.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    std::size_t dataAt = 0;
    EXPECT_EQ(PcdField(file, "HEIGHT", &dataAt), 3u);
    EXPECT_EQ(PcdField(file, "POINTS", &dataAt), 3072u);
    EXPECT_EQ(file.substr(dataAt - 12, 12), "DATA binary\n");
    EXPECT_EQ(file.size() - dataAt, 3072u * 12u);
}

TEST_F(CtlE2E, ProfilesReceivedBeforeAFailureStayInTheFile) {
    qz417::sim::FaultOptions faults;
    faults.stallAfterCommands = 4; // four results, then silence
    emulator_->setFaults(0, faults);
    const std::string out = path("cut.pcd");
    const std::string raw = path("cut.bin");
    const CtlResult r = RunCtl({"profile", "127.0.0.1", "--count", "100", "--format", "pcd",
                                "--search", "0", "--timeout", "300", "-o", out, "--raw", raw});
    EXPECT_EQ(r.status, 1);
    ExpectOneErrorLine(r, "time-out: 127.0.0.1 did not answer the profile request within 300 ms");
    const std::string file = ReadFile(out);
    std::size_t dataAt = 0;
    const std::uint64_t rows = PcdField(file, "HEIGHT", &dataAt);
    EXPECT_GE(rows, 1u);
    EXPECT_LE(rows, 4u);
    EXPECT_EQ(PcdField(file, "POINTS", &dataAt), rows * 1024);
    EXPECT_EQ(CountLines(file.substr(dataAt)), rows * 1024);
    EXPECT_EQ(ReadFile(raw).size(), rows * 4100);
}

TEST_F(CtlE2E, ProfileSummaryTellsWhatWasWritten) {
    const std::string raw = path("s.bin");
    CtlResult r = RunCtl({"profile", "127.0.0.1", "--count", "2", "--format", "ply-binary",
                          "--search", "0", "-o", path("s.ply"), "--raw", raw, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json summary = nlohmann::json::parse(r.out);
    EXPECT_EQ(summary["address"], "127.0.0.1");
    EXPECT_EQ(summary["format"], "ply-binary");
    EXPECT_EQ(summary["output"], path("s.ply"));
    EXPECT_EQ(summary["profiles"], 2);
    EXPECT_EQ(summary["points"], 2048);
    const std::string packets = ReadFile(raw);
    ASSERT_EQ(packets.size(), 2u * 4100u);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(packets.data());
    EXPECT_EQ(summary["firstMeasurement"], qz417::ProfilePacket(bytes).measurementCount());
    EXPECT_EQ(summary["lastMeasurement"], qz417::ProfilePacket(bytes + 4100).measurementCount());
    // The vertex count of the file is the number of valid points.
    const std::string ply = ReadFile(path("s.ply"));
    EXPECT_NE(ply.find("\nelement vertex " + summary["validPoints"].dump() + "\n"),
              std::string::npos);

    r = RunCtl({"profile", "127.0.0.1", "--search", "0", "-o", path("t.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("profiles=1 points=1024 valid=", 0), 0u) << r.out;

    r = RunCtl({"profile", "127.0.0.1", "--search", "0", "--json"});
    EXPECT_EQ(r.status, 2);
    ExpectOneErrorLine(r, "--json needs -o FILE");
}

TEST_F(CtlE2E, ProfileOfAnAbsentScannerFails) {
    const CtlResult r = RunCtl({"profile", "127.0.0.9", "--search", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ExpectOneErrorLine(r, "no scanner at 127.0.0.9");
}

TEST_F(CtlE2E, ImageIsACompressedGreyscalePngOfTheCameraSize) {
    const std::string file = path("camera.png");
    const CtlResult r = RunCtl({"image", "127.0.0.1", "-o", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = ReadFile(file);
    EXPECT_LT(png.size(), 327680u); // deflated; the raw picture is 327680 bytes
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0) << image.message;
    EXPECT_EQ(image.width, 640u);
    EXPECT_EQ(image.height, 512u);
    EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_GRAY));
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    EXPECT_NE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr), 0)
        << image.message;
    png_image_free(&image);
    EXPECT_NE(std::count(pixels.begin(), pixels.end(), pixels[0]), 640 * 512); // not blank
    EXPECT_EQ(emulator_->commandsServed(0, 2), 1u);
    EXPECT_EQ(emulator_->commandsServed(0, 3), 10u);
}

TEST_F(CtlE2E, ImageFailuresNameTheCause) {
    const CtlResult absent = RunCtl({"image", "127.0.0.9", "-o", path("x.png")});
    EXPECT_EQ(absent.status, 1);
    ExpectOneErrorLine(absent, "no scanner at 127.0.0.9");
    const CtlResult unwritable = RunCtl({"image", "127.0.0.1", "-o", path("no/such/dir.png")});
    EXPECT_NE(unwritable.status, 0);
    ExpectOneErrorLine(unwritable, "cannot write");
}

TEST_F(CtlE2E, AnglePrintsDegreesOrOutOfRange) {
    qz417::sim::FaultOptions faults;
    faults.angleReply = 16384;
    emulator_->setFaults(0, faults);
    CtlResult r = RunCtl({"angle", "127.0.0.1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "30.001\n");

    faults.angleReply = -32767;
    emulator_->setFaults(0, faults);
    r = RunCtl({"angle", "127.0.0.1"});
    EXPECT_EQ(r.out, "-60.000\n");

    r = RunCtl({"angle", "127.0.0.1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out),
              nlohmann::json::parse(R"({"address": "127.0.0.1", "units": -32767,
                                        "degrees": -60.0, "outOfRange": false})"));

    faults.angleReply = -32768;
    emulator_->setFaults(0, faults);
    r = RunCtl({"angle", "127.0.0.1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Out of range\n");
    r = RunCtl({"angle", "127.0.0.1", "--json"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["degrees"], nullptr);
    EXPECT_EQ(nlohmann::json::parse(r.out)["outOfRange"], true);
    EXPECT_EQ(emulator_->commandsServed(0, 5), 0u); // nothing written
}

TEST_F(CtlE2E, AngleOfAnAbsentOrSilentScannerFails) {
    const CtlResult absent = RunCtl({"angle", "127.0.0.9"});
    EXPECT_EQ(absent.status, 1);
    ExpectOneErrorLine(absent, "no scanner at 127.0.0.9");
    qz417::sim::FaultOptions faults;
    faults.stallAfterCommands = 0;
    emulator_->setFaults(1, faults);
    const CtlResult silent = RunCtl({"angle", "127.0.0.2"}, 20000);
    EXPECT_EQ(silent.status, 1);
    ExpectOneErrorLine(silent, "time-out: 127.0.0.2 did not answer the angle calculation");
}

TEST_F(CtlE2E, PortReachesAScannerOnAnotherTcpPort) {
    qz417::sim::EmulatorOptions o;
    o.tcpPort = 4170;
    o.announceIntervalMs = 0;
    o.faults.angleReply = 16384;
    qz417::sim::Emulator other(o);
    std::string error;
    ASSERT_TRUE(other.start(&error)) << error;

    const CtlResult r = RunCtl({"angle", "127.0.0.1", "--port", "4170"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "30.001\n");
    EXPECT_EQ(other.commandsServed(0, 7), 1u);
    EXPECT_EQ(emulator_->commandsServed(0, 7), 0u); // not the one on port 417

    const CtlResult get = RunCtl({"params", "get", "127.0.0.1", "--port=4170", "--json"});
    ASSERT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(other.commandsServed(0, 4), 1u);

    const CtlResult none = RunCtl({"image", "127.0.0.1", "--port", "4171", "-o", path("x.png")});
    EXPECT_EQ(none.status, 1);
    ExpectOneErrorLine(none, "no scanner at 127.0.0.1 (TCP port 4171: Connection refused)");
}

TEST_F(CtlE2E, TimeoutShortensTheWaitForASilentScanner) {
    qz417::sim::FaultOptions faults;
    faults.stallAfterCommands = 0;
    emulator_->setFaults(1, faults);
    const auto start = std::chrono::steady_clock::now();
    const CtlResult r = RunCtl({"angle", "127.0.0.2", "--timeout", "300"}, 20000);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 1);
    ExpectOneErrorLine(r, "time-out: 127.0.0.2 did not answer the angle calculation within 300 ms");
    // The library's own time-out is 4000 ms; 300 ms must not wait for it.
    EXPECT_LT(elapsed, std::chrono::milliseconds(3500));

    // The same through a connection of qz417ctl's own (another port).
    qz417::sim::EmulatorOptions o;
    o.tcpPort = 4170;
    o.announceIntervalMs = 0;
    o.faults.stallAfterCommands = 0;
    qz417::sim::Emulator other(o);
    std::string error;
    ASSERT_TRUE(other.start(&error)) << error;
    const CtlResult own =
        RunCtl({"params", "get", "127.0.0.1", "--port", "4170", "--timeout", "200"}, 20000);
    EXPECT_EQ(own.status, 1);
    ExpectOneErrorLine(own, "did not answer the parameter read within 200 ms");

    const CtlResult bad = RunCtl({"angle", "127.0.0.1", "--timeout", "0"});
    EXPECT_EQ(bad.status, 2);
    ExpectOneErrorLine(bad, "--timeout: 0 is out of range (1..600000)");
}

} // namespace
} // namespace qz417::ctl::test
