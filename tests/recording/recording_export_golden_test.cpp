// The bytes of every format and option of the recording export against
// digests of the reference output (data/recording_export_golden.txt). The
// recording's own path, which the PLY header names, is replaced by "R".
#include "golden_digest.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace qz417::recording {
namespace {

// Points of every kind: invalid ones, negative and positive coordinates,
// values that give long decimals.
Packet GoldenPacket(std::uint64_t i) {
    Packet p{};
    const auto put16 = [&p](std::size_t at, std::int64_t v) {
        p[at] = static_cast<std::uint8_t>(v & 0xFF);
        p[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    };
    put16(0, static_cast<std::int64_t>(i));
    put16(2, static_cast<std::int64_t>(i * 3));
    for (std::int64_t k = 0; k < 1024; ++k) {
        const auto ii = static_cast<std::int64_t>(i);
        const std::int64_t z = (k + ii) % 5 == 0 ? 0 : (k * 37 + ii * 11) % 16384;
        const std::int64_t x = ((k - 512) * 29 + ii) % 16000;
        put16(4 + 4 * static_cast<std::size_t>(k), z);
        put16(6 + 4 * static_cast<std::size_t>(k), x);
    }
    return p;
}

std::string ReadAll(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string Replace(std::string text, const std::string &what, const std::string &with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

TEST(RecordingExportGolden, EveryFormatAndOptionWritesTheReferenceBytes) {
    test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string path = dir.file("r.h5");
    {
        Announcement a{};
        std::uint8_t *d = a.data() + 12; // range Z 300 mm, range X 200 mm, 16384
        d[6] = 300 & 0xFF, d[7] = 300 >> 8;
        d[10] = 200;
        d[13] = 0x40;
        RecordingWriter w(path, {a, std::nullopt, "golden"});
        std::vector<std::uint8_t> packets;
        std::vector<ReceiveTime> times;
        for (std::uint64_t i = 0; i < 300; ++i) { // beyond one batch of the exporter
            const Packet p = GoldenPacket(i);
            packets.insert(packets.end(), p.begin(), p.end());
            times.push_back({static_cast<std::int64_t>(7'000'000'000 + i * i * 123'457),
                             static_cast<std::int64_t>(1'765'000'000'000'000'000 + i)});
        }
        w.Append(packets.data(), times.data(), 300);
        w.Close(0, EndState::Closed);
    }
    RecordingReader reader(path);

    struct Case {
        const char *name;
        ExportFormat format;
        std::uint64_t first, count;
        double pitch;
        std::optional<double> speed;
    };
    const Case cases[] = {
        {"csv.all", ExportFormat::Csv, 0, 300, 1.0, {}},
        {"csv.range", ExportFormat::Csv, 5, 7, 1.0, {}},
        {"ply.all", ExportFormat::Ply, 0, 300, 1.0, {}},
        {"ply.pitch", ExportFormat::Ply, 3, 10, 0.37, {}},
        {"ply.speed", ExportFormat::Ply, 250, 50, 1.0, 12.5},
        {"pcd.all", ExportFormat::Pcd, 0, 300, 1.0, {}},
        {"pcd.pitch", ExportFormat::Pcd, 3, 10, 2.5, {}},
        {"pcd.speed", ExportFormat::Pcd, 1, 4, 1.0, 0.125},
        {"txt.first", ExportFormat::ProfileText, 0, 1, 1.0, {}},
        {"txt.later", ExportFormat::ProfileText, 299, 1, 1.0, {}},
    };
    qz417::test::GoldenTable table(QZ417_GOLDEN_DIR "/recording_export_golden.txt");
    for (const Case &c : cases) {
        ExportRequest request;
        request.format = c.format;
        request.first = c.first;
        request.count = c.count;
        request.pitchMm = c.pitch;
        request.speedMmPerS = c.speed;
        const std::string out = dir.file("out");
        ExportRecording(reader, request, out);
        table.Add(c.name, Replace(ReadAll(out), path, "R"));
    }
    table.Check();
}

} // namespace
} // namespace qz417::recording
