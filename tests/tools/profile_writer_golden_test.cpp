// The bytes of every format `qz417ctl profile` writes, into a file and into a
// pipe, with as many profiles as asked and fewer, against digests of the
// reference output (data/profile_writer_golden.txt).
#include "golden_digest.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "profile_writer.h"

namespace qz417::ctl {
namespace {

namespace fs = std::filesystem;

// Points of every kind: invalid ones (z or x at the error value), negative
// and positive coordinates, values that give long decimals.
PacketBytes GoldenPacket(std::uint16_t counter) {
    PacketBytes p{};
    const auto put16 = [&p](std::size_t at, int v) {
        p[at] = static_cast<std::uint8_t>(v & 0xFF);
        p[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    };
    put16(0, counter);
    put16(2, counter * 3 + 1);
    for (int i = 0; i < 1024; ++i) {
        const int z = i % 5 == 0 ? -7 : (i * 37 + counter * 11) % 16384;
        const int x = i % 11 == 0 ? -7 : ((i - 512) * 29 + counter) % 16000;
        put16(4 + 4 * static_cast<std::size_t>(i), z);
        put16(6 + 4 * static_cast<std::size_t>(i), x);
    }
    return p;
}

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct FormatCase {
    const char *name;
    ProfileFormat format;
};

constexpr FormatCase kFormats[] = {
    {"txt", ProfileFormat::Txt}, {"csv", ProfileFormat::Csv},
    {"ply", ProfileFormat::Ply}, {"ply-binary", ProfileFormat::PlyBinary},
    {"pcd", ProfileFormat::Pcd}, {"pcd-binary", ProfileFormat::PcdBinary},
};

void WriteProfiles(ProfileFormat format, const std::optional<std::string> &path, int written,
                   int asked, const qz417::ProfileScale &scale) {
    const auto writer = MakeProfileWriter(format, path, asked, scale);
    for (int k = 0; k < written; ++k)
        writer->add(GoldenPacket(static_cast<std::uint16_t>(65530 + k)));
    writer->finish();
}

// What the writer sends to standard output while that is a pipe.
std::string WriteToPipe(ProfileFormat format, int written, int asked,
                        const qz417::ProfileScale &scale) {
    int ends[2];
    if (pipe(ends) != 0)
        return "pipe failed";
    std::string got;
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
    });
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(ends[1], 1);
    close(ends[1]);
    WriteProfiles(format, std::nullopt, written, asked, scale);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    reader.join();
    close(ends[0]);
    return got;
}

TEST(ProfileWriterGolden, EveryFormatWritesTheReferenceBytes) {
    const fs::path dir =
        fs::temp_directory_path() / ("qz417ctl-golden-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    qz417::ProfileScale scale;
    scale.rangeXEmr = 200;
    scale.rangeZ = 300;
    scale.errorValue = -7;
    qz417::test::GoldenTable table(QZ417_GOLDEN_DIR "/profile_writer_golden.txt");
    for (const FormatCase &c : kFormats) {
        for (const auto &[written, asked] : {std::pair{1, 1}, {3, 3}, {2, 5}}) {
            const std::string tag =
                std::string(c.name) + "." + std::to_string(written) + "of" + std::to_string(asked);
            const fs::path file = dir / (tag + ".out");
            WriteProfiles(c.format, file.string(), written, asked, scale);
            std::string bytes;
            if (c.format == ProfileFormat::Txt && asked > 1) {
                for (int n = 1; n <= written; ++n)
                    bytes += ReadFile(NumberedPath(file.string(), n));
            } else {
                bytes = ReadFile(file);
            }
            table.Add(tag + ".file", bytes);
            table.Add(tag + ".pipe", WriteToPipe(c.format, written, asked, scale));
        }
    }
    table.Check();
    fs::remove_all(dir);
}

} // namespace
} // namespace qz417::ctl
