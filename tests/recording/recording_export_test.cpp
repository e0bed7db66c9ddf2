// Export of a recording's profiles: each format's header and points in
// millimetres with the recorded scale, y from pitch or speed, the range at
// both ends and beyond, and what is left on disk after a write error or a
// cancel (nothing under the chosen name, an older file there untouched).
#include "model/profile_file.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qz417::recording {
namespace {

using test::TempDir;

constexpr std::uint64_t kProfiles = 600; // three batches of the exporter

// Profile i: counters i; point 0 has x but z at the error value (invalid);
// point 1 at xRaw 2048 (i mod 7 + 1), zRaw 16384; point 2 at xRaw -4096, zRaw
// 8192; every other point all zero, the error value (invalid).
Packet ExportPacket(std::uint64_t i) {
    Packet p{};
    const auto put16 = [&p](std::size_t at, std::int32_t v) {
        p[at] = static_cast<std::uint8_t>(v & 0xFF);
        p[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    };
    put16(0, static_cast<std::int32_t>(i));
    put16(2, static_cast<std::int32_t>(i));
    put16(6, 2048);                                                            // point 0: x, z 0
    put16(8, 16384), put16(10, static_cast<std::int32_t>(2048 * (i % 7 + 1))); // point 1
    put16(12, 8192), put16(14, -4096);                                         // point 2
    return p;
}

// Range Z 300 mm, range X 200 mm, discrete value 16384, error value 0.
Announcement ScaledAnnouncement() {
    Announcement a{};
    std::uint8_t *d = a.data() + 12;
    d[6] = 300 & 0xFF, d[7] = 300 >> 8;
    d[10] = 200;
    d[13] = 0x40;
    return a;
}

void WriteRecording(const std::string &path, std::optional<Announcement> announcement,
                    std::uint64_t profiles) {
    RecordingWriter w(path, {announcement, std::nullopt, "export test"});
    std::vector<std::uint8_t> packets;
    std::vector<ReceiveTime> times;
    for (std::uint64_t i = 0; i < profiles; ++i) {
        const Packet p = ExportPacket(i);
        packets.insert(packets.end(), p.begin(), p.end());
        // Not evenly spaced: profile i at i² · 0.1 ms after profile 0.
        times.push_back({static_cast<std::int64_t>(5'000'000'000 + i * i * 100'000),
                         static_cast<std::int64_t>(1'765'000'000'000'000'000 + i)});
    }
    w.Append(packets.data(), times.data(), profiles);
    w.Close(0, EndState::Closed);
}

std::string ReadAll(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::size_t Lines(const std::string &text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Every file of the directory but the recording: no part of an export may stay behind.
std::vector<std::string> Leftovers(const TempDir &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename() != "r.h5")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ExportRequest Request(ExportFormat format, std::uint64_t first, std::uint64_t count) {
    ExportRequest r;
    r.format = format;
    r.first = first;
    r.count = count;
    return r;
}

class RecordingExport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        WriteRecording(path_, ScaledAnnouncement(), kProfiles);
        reader_ = std::make_unique<RecordingReader>(path_);
    }

    ExportError::Kind FailureOf(const ExportRequest &request, const std::string &out,
                                const ExportProgress &progress = {}) {
        try {
            ExportRecording(*reader_, request, out, progress);
        } catch (const ExportError &e) {
            message_ = e.what();
            return e.kind();
        }
        ADD_FAILURE() << "the export succeeded";
        return ExportError::Kind::Request;
    }

    TempDir dir_;
    std::string path_ = dir_.file("r.h5");
    std::unique_ptr<RecordingReader> reader_;
    std::string message_;
};

TEST_F(RecordingExport, CsvHasOneRowPerValidPointWithTheTimeSinceTheFirstProfile) {
    const std::string out = dir_.file("p.csv");
    // Profiles counted from 1, as the Playback page shows them: index 1 is profile 2.
    const ExportResult r = ExportRecording(*reader_, Request(ExportFormat::Csv, 1, 2), out);
    EXPECT_EQ(ReadAll(out), "profile,point,time_s,x_mm,z_mm\n"
                            "2,2,0.000100000,50,300\n"
                            "2,3,0.000100000,-50,150\n"
                            "3,2,0.000400000,75,300\n"
                            "3,3,0.000400000,-50,150\n");
    EXPECT_EQ(r.profiles, 2u);
    EXPECT_EQ(r.points, 4u);

    // The whole recording: three batches, two rows per profile, the last at 35.8801 s.
    const ExportResult all =
        ExportRecording(*reader_, Request(ExportFormat::Csv, 0, kProfiles), out);
    const std::string text = ReadAll(out);
    EXPECT_EQ(Lines(text), 1 + 2 * kProfiles);
    EXPECT_EQ(all.points, 2 * kProfiles);
    EXPECT_NE(text.find("\n600,3,35.880100000,-50,150\n"), std::string::npos);
    EXPECT_EQ(Leftovers(dir_), std::vector<std::string>{"p.csv"});
}

TEST_F(RecordingExport, CloudsCountTheirPointsAndTakeYFromPitchOrSpeed) {
    const std::string ply = dir_.file("p.ply");
    ExportRequest request = Request(ExportFormat::Ply, 2, 2);
    request.pitchMm = 0.5;
    EXPECT_EQ(ExportRecording(*reader_, request, ply).points, 4u);
    EXPECT_EQ(ReadAll(ply), "ply\nformat ascii 1.0\ncomment qz417 recording " + path_ +
                                " profiles 2..3\nelement vertex 4\n"
                                "property float x\nproperty float y\nproperty float z\n"
                                "end_header\n"
                                "75 1 300\n-50 1 150\n100 1.5 300\n-50 1.5 150\n");

    // The same points with y from the time: profile i at i² · 0.1 ms, 1000 mm/s.
    const std::string pcd = dir_.file("p.pcd");
    request = Request(ExportFormat::Pcd, 0, 3);
    request.speedMmPerS = 1000.0;
    request.pitchMm = 7; // the speed wins
    EXPECT_EQ(ExportRecording(*reader_, request, pcd).points, 6u);
    EXPECT_EQ(ReadAll(pcd), "# .PCD v0.7 - qz417 recording, profiles 0..2\n"
                            "VERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\n"
                            "WIDTH 6\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 6\nDATA ascii\n"
                            "25 0 300\n-50 0 150\n50 0.1 300\n-50 0.1 150\n75 0.4 300\n"
                            "-50 0.4 150\n");

    // A cloud of the whole recording spans the batches and its header holds the count.
    request = Request(ExportFormat::Ply, 0, kProfiles);
    EXPECT_EQ(ExportRecording(*reader_, request, ply).points, 2 * kProfiles);
    const std::string text = ReadAll(ply);
    EXPECT_NE(text.find("element vertex 1200\n"), std::string::npos);
    EXPECT_EQ(Lines(text), 8 + 2 * kProfiles); // eight header lines
    EXPECT_NE(text.find("\n-50 599 150\n"), std::string::npos);
}

TEST_F(RecordingExport, ProfileTextIsTheProgramsFileWithTheRecordedScale) {
    const std::string out = dir_.file("00005.txt");
    const ExportResult r = ExportRecording(*reader_, Request(ExportFormat::ProfileText, 5, 1), out);
    EXPECT_EQ(r.profiles, 1u);
    const Packet p = ExportPacket(5);
    const ProfileScale scale{200, 300, 16384, 0};
    EXPECT_EQ(RecordedScale(reader_->announcement()), scale);
    const std::string text = ReadAll(out);
    EXPECT_EQ(text, ProfileFileText(RecordProfile(ProfilePacket(p.data()), scale)));
    EXPECT_NE(text.find("Profile nember: 5\r\n"), std::string::npos);
    EXPECT_NE(text.find("150.000"), std::string::npos); // point 3's z in the recorded scale
}

// A user's locale with a decimal comma (the window sets the locale from the
// environment) changes no byte of any format.
TEST_F(RecordingExport, EveryFormatWritesTheSameBytesUnderADecimalCommaLocale) {
    const std::string locales = dir_.file("locales");
    const std::string make = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 2>/dev/null";
    std::filesystem::create_directory(locales);
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "localedef could not build de_DE.UTF-8 (Debian package locales)";

    const std::vector<ExportFormat> formats = {ExportFormat::Csv, ExportFormat::Ply,
                                               ExportFormat::Pcd, ExportFormat::ProfileText};
    const auto exportAll = [&](const std::string &suffix) {
        std::vector<std::string> files;
        for (const ExportFormat format : formats) {
            ExportRequest request = Request(format, 3, format == ExportFormat::ProfileText ? 1 : 4);
            if (format == ExportFormat::Pcd)
                request.speedMmPerS = 12.5;
            else
                request.pitchMm = 0.25;
            const std::string out = dir_.file("out" + suffix);
            ExportRecording(*reader_, request, out);
            files.push_back(ReadAll(out));
        }
        return files;
    };
    const std::vector<std::string> plain = exportAll(".c");

    const char *oldPath = std::getenv("LOCPATH");
    const std::string savedPath = oldPath ? oldPath : "";
    ::setenv("LOCPATH", locales.c_str(), 1);
    const std::string savedLocale = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char half[8];
    std::snprintf(half, sizeof half, "%.1f", 0.5);
    const std::string halfText = half;
    const std::vector<std::string> inGerman = exportAll(".de");
    std::setlocale(LC_ALL, savedLocale.c_str());
    if (oldPath)
        ::setenv("LOCPATH", savedPath.c_str(), 1);
    else
        ::unsetenv("LOCPATH");

    EXPECT_EQ(halfText, "0,5"); // the locale was in force
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const auto [at, _] =
            std::mismatch(plain[i].begin(), plain[i].end(), inGerman[i].begin(), inGerman[i].end());
        const auto offset = static_cast<std::size_t>(at - plain[i].begin());
        EXPECT_EQ(inGerman[i].size(), plain[i].size()) << "format " << i;
        EXPECT_EQ(offset, plain[i].size())
            << "format " << i << " differs at byte " << offset << ": \""
            << inGerman[i].substr(offset > 20 ? offset - 20 : 0, 40) << "\"";
    }
    EXPECT_NE(plain[0].find("0.000900000"), std::string::npos);
    EXPECT_NE(plain[1].find(" 0.75 "), std::string::npos);
}

TEST_F(RecordingExport, WithoutAnAnnouncementTheUsualScaleApplies) {
    const std::string plain = dir_.file("plain.h5");
    WriteRecording(plain, std::nullopt, 1);
    RecordingReader reader(plain);
    EXPECT_EQ(RecordedScale(reader.announcement()), ProfileScale{});
    const std::string out = dir_.file("p.csv");
    ExportRecording(reader, Request(ExportFormat::Csv, 0, 1), out);
    EXPECT_EQ(ReadAll(out), "profile,point,time_s,x_mm,z_mm\n"
                            "1,2,0.000000000,28.75,250\n1,3,0.000000000,-57.5,125\n");
}

TEST_F(RecordingExport, RangesAtBothEndsPassAndBeyondAreRefusedBeforeAnyFileExists) {
    const std::string out = dir_.file("o.csv");
    EXPECT_EQ(ExportRecording(*reader_, Request(ExportFormat::Csv, 0, kProfiles), out).profiles,
              kProfiles);
    EXPECT_EQ(ExportRecording(*reader_, Request(ExportFormat::Csv, kProfiles - 1, 1), out).points,
              2u);
    EXPECT_EQ(ReadAll(out).substr(31), "600,2,35.880100000,125,300\n600,3,35.880100000,-50,150\n");
    std::filesystem::remove(out);

    ExportRequest nan = Request(ExportFormat::Ply, 0, 1);
    nan.pitchMm = std::numeric_limits<double>::quiet_NaN();
    ExportRequest infinite = Request(ExportFormat::Pcd, 0, 1);
    infinite.speedMmPerS = std::numeric_limits<double>::infinity();
    const std::pair<ExportRequest, std::string> cases[] = {
        {Request(ExportFormat::Csv, kProfiles, 1), "profile 600 lies beyond the 600 profiles of"},
        {Request(ExportFormat::Csv, kProfiles - 1, 2), "profiles 599 to 600 lie beyond the 600"},
        {Request(ExportFormat::Ply, 1, kProfiles), "profiles 1 to 600 lie beyond"},
        {Request(ExportFormat::Pcd, 5, std::numeric_limits<std::uint64_t>::max()),
         "profiles 5 to 18446744073709551615 lie beyond"},
        {Request(ExportFormat::Csv, 0, 0), "the count is 0"},
        {Request(ExportFormat::ProfileText, 0, 2), "the profile text holds one profile"},
        {Request(ExportFormat::ProfileText, kProfiles, 1), "lies beyond"},
        {nan, "the pitch is no finite number"},
        {infinite, "the speed is no finite number"},
    };
    for (const auto &[request, says] : cases) {
        EXPECT_EQ(FailureOf(request, out), ExportError::Kind::Request) << says;
        EXPECT_NE(message_.find(says), std::string::npos) << message_;
        EXPECT_FALSE(std::filesystem::exists(out)) << says;
    }

    // Never onto the recording itself, under any name.
    const std::string alias = dir_.file("alias.h5");
    std::filesystem::create_hard_link(path_, alias);
    for (const std::string &self : {path_, alias}) {
        EXPECT_EQ(FailureOf(Request(ExportFormat::Csv, 0, 1), self), ExportError::Kind::Request);
        EXPECT_NE(message_.find("is the recording itself"), std::string::npos) << message_;
    }
    EXPECT_EQ(RecordingReader(path_).profiles(), kProfiles);
    std::filesystem::remove(alias);

    const std::string empty = dir_.file("empty.h5");
    RecordingWriter(empty, {}).Close(0, EndState::Closed);
    RecordingReader emptyReader(empty);
    try {
        ExportRecording(emptyReader, Request(ExportFormat::Csv, 0, 1), out);
        ADD_FAILURE() << "an empty recording was exported";
    } catch (const ExportError &e) {
        EXPECT_EQ(e.what(), empty + " holds no profile");
    }
    EXPECT_EQ(Leftovers(dir_), std::vector<std::string>{"empty.h5"});
}

TEST_F(RecordingExport, AWriteErrorIsAnErrorAndLeavesTheOlderFileAsItWas) {
    // A directory that does not exist.
    const std::string nowhere = dir_.file("missing/p.csv");
    EXPECT_EQ(FailureOf(Request(ExportFormat::Csv, 0, kProfiles), nowhere),
              ExportError::Kind::Write);
    EXPECT_EQ(message_, "cannot write " + nowhere + ": No such file or directory");

    // A full device is written in place and fails there.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(FailureOf(Request(ExportFormat::Ply, 0, kProfiles), "/dev/full"),
                  ExportError::Kind::Write);
        EXPECT_EQ(message_, "cannot write /dev/full: No space left on device");
    }

    // The file size limit stops the writes half-way, as a full disk would.
    const std::string out = dir_.file("p.csv");
    { std::ofstream(out) << "older export\n"; }
    ::chmod(out.c_str(), 0640);
    // 1.5 MB hold the header and some of the points of 600 profiles of 1024 points.
    {
        RecordingWriter w(dir_.file("dense.h5"), {ScaledAnnouncement(), std::nullopt, "dense"});
        for (std::uint64_t i = 0; i < kProfiles; ++i) {
            const Packet p = test::MakePacket(i);
            const ReceiveTime t{static_cast<std::int64_t>(i), 0};
            w.Append(p.data(), &t, 1);
        }
        w.Close(0, EndState::Closed);
    }
    RecordingReader dense(dir_.file("dense.h5"));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 3 * 1024 * 1024 / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ExportError::Kind kind = ExportError::Kind::Request;
    std::string what;
    try {
        ExportRecording(dense, Request(ExportFormat::Ply, 0, kProfiles), out);
    } catch (const ExportError &e) {
        kind = e.kind();
        what = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(kind, ExportError::Kind::Write);
    EXPECT_EQ(what, "cannot write " + out + ": File too large");
    EXPECT_EQ(ReadAll(out), "older export\n");
    EXPECT_EQ(Leftovers(dir_), (std::vector<std::string>{"dense.h5", "p.csv"}));

    // Once it fits, the export replaces the older file and keeps its permissions.
    ExportRecording(dense, Request(ExportFormat::Csv, 0, 1), out);
    EXPECT_NE(ReadAll(out).find("profile,point,time_s,x_mm,z_mm\n1,1,"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(RecordingExport, ALinkedFileIsReplacedBehindItsLinkAndAPipeIsWrittenInPlace) {
    const std::string real = dir_.file("real.csv");
    const std::string link = dir_.file("link.csv");
    { std::ofstream(real) << "older export\n"; }
    std::filesystem::create_symlink("real.csv", link);
    ExportRecording(*reader_, Request(ExportFormat::Csv, 0, 1), link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    const std::string expected = "profile,point,time_s,x_mm,z_mm\n"
                                 "1,2,0.000000000,25,300\n1,3,0.000000000,-50,150\n";
    EXPECT_EQ(ReadAll(real), expected);
    EXPECT_EQ(Leftovers(dir_), (std::vector<std::string>{"link.csv", "real.csv"}));

    // As /dev/stdout into a pipe: the same bytes through the pipe.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ExportRecording(*reader_, Request(ExportFormat::Csv, 0, 1),
                    "/proc/self/fd/" + std::to_string(fds[1]));
    ::close(fds[1]);
    std::string piped;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        piped.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    EXPECT_EQ(piped, expected);
}

TEST_F(RecordingExport, ProgressCoversTheWorkAndACancelLeavesNothing) {
    const std::string out = dir_.file("p.csv");
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    const auto record = [&calls](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
        return true;
    };
    ExportRecording(*reader_, Request(ExportFormat::Csv, 0, kProfiles), out, record);
    EXPECT_EQ(calls, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                         {256, 600}, {512, 600}, {600, 600}}));
    calls.clear();
    ExportRecording(*reader_, Request(ExportFormat::Pcd, 100, 300), dir_.file("p.pcd"), record);
    ASSERT_EQ(calls.size(), 4u); // counting, then writing
    EXPECT_EQ(calls.back(), (std::pair<std::uint64_t, std::uint64_t>{600, 600}));
    EXPECT_EQ(calls[1].first, 300u);

    { std::ofstream(out) << "older export\n"; }
    for (const ExportFormat format :
         {ExportFormat::Csv, ExportFormat::Ply, ExportFormat::Pcd, ExportFormat::ProfileText}) {
        int seen = 0;
        const auto stopSecond = [&seen](std::uint64_t, std::uint64_t) { return ++seen < 2; };
        const auto stopFirst = [&seen](std::uint64_t, std::uint64_t) { return ++seen < 1; };
        const bool text = format == ExportFormat::ProfileText;
        EXPECT_EQ(FailureOf(Request(format, 0, text ? 1 : kProfiles), out,
                            text ? ExportProgress(stopFirst) : ExportProgress(stopSecond)),
                  ExportError::Kind::Cancelled);
        EXPECT_EQ(ReadAll(out), "older export\n");
        EXPECT_EQ(Leftovers(dir_), (std::vector<std::string>{"p.csv", "p.pcd"}));
    }
}

} // namespace
} // namespace qz417::recording
