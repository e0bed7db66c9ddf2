#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "model/profile_file.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The packet that tests/model/data/make_profile_golden.py describes.
std::array<std::uint8_t, qz417::kProfilePacketSize> MakeGoldenPacket() {
    std::array<std::uint8_t, qz417::kProfilePacketSize> bytes{};
    bytes[0] = 0xFF;
    bytes[1] = 0xFF;
    bytes[2] = 17;
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        auto z = static_cast<std::uint16_t>(i * 40503 + 12345);
        auto x = static_cast<std::uint16_t>(i * 23757 + 111);
        if (i % 97 == 5)
            x = 0;
        if (i % 101 == 7)
            z = 0;
        const auto base = static_cast<std::size_t>(4 + 4 * i);
        bytes[base] = static_cast<std::uint8_t>(z);
        bytes[base + 1] = static_cast<std::uint8_t>(z >> 8);
        bytes[base + 2] = static_cast<std::uint8_t>(x);
        bytes[base + 3] = static_cast<std::uint8_t>(x >> 8);
    }
    return bytes;
}

qz417::RecordedProfile GoldenProfile() {
    const auto bytes = MakeGoldenPacket();
    return qz417::RecordProfile(qz417::ProfilePacket(bytes.data()), qz417::ProfileScale{});
}

std::string Golden() {
    return ReadFile(fs::path(QZ417_MODEL_TEST_DATA) / "profile_golden.txt");
}

struct ValueCase {
    float value;
    const char *text;
};

class FormatValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(FormatValue, SixSignificantDigitsThreeDecimals) {
    EXPECT_EQ(qz417::FormatProfileValue(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatValue,
    ::testing::Values(ValueCase{12.3456f, "12.346"}, ValueCase{1234.5678f, "1234.570"},
                      ValueCase{12.5f, "12.500"}, ValueCase{100.0f, "100.000"},
                      ValueCase{-3.25f, "-3.250"}, ValueCase{0.0004f, "0.000"},
                      ValueCase{0.0f, "0.000"}, ValueCase{-0.0004f, "0.000"},
                      ValueCase{0.0005f, "0.001"}, ValueCase{-460.0f, "-460.000"},
                      ValueCase{499.9847412109375f, "499.985"}, ValueCase{12345.678f, "12345.700"},
                      ValueCase{123456.78f, "123457.000"}, ValueCase{999999.0f, "999999.000"},
                      ValueCase{999999.7f, "1.00000E+06"}, ValueCase{1234567.0f, "1.23457E+06"},
                      ValueCase{-1234567.0f, "-1.23457E+06"},
                      ValueCase{2.1474836e9f, "2.14748E+09"}));

TEST(ZeroPad, PadsToTheWidthOnly) {
    EXPECT_EQ(qz417::ZeroPad(1, 5), "00001");
    EXPECT_EQ(qz417::ZeroPad(65535, 5), "65535");
    EXPECT_EQ(qz417::ZeroPad(123456, 5), "123456");
    EXPECT_EQ(qz417::ZeroPad(7, 2), "07");
    EXPECT_EQ(qz417::ZeroPad(0, 0), "0");
}

TEST(DateStamp, IsTheLocalDateAsYYYYMMDD) {
    const std::string stamp = qz417::DateStamp(std::time(nullptr));
    ASSERT_EQ(stamp.size(), 8u);
    for (char c : stamp)
        EXPECT_TRUE(c >= '0' && c <= '9') << stamp;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char expected[16];
    std::strftime(expected, sizeof expected, "%Y%m%d", &local);
    EXPECT_EQ(stamp, expected);
}

TEST(ProfileFileText, MatchesTheGoldenFileByteForByte) {
    const std::string text = qz417::ProfileFileText(GoldenProfile());
    const std::string golden = Golden();
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(text, golden);
}

TEST(ProfileFileText, LayoutOfTheLines) {
    qz417::RecordedProfile profile;
    profile.number = 4242;
    profile.points[0] = {12.5f, 100.0f};
    profile.points[1023] = {-3.25f, 0.0004f};
    const std::string text = qz417::ProfileFileText(profile);
    std::size_t lines = 0;
    for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2)
        ++lines;
    EXPECT_EQ(lines, 1026u);
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1026);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 1026);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.rfind("N         X                   Z\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\nProfile nember: 4242\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n1         12.500              100.000\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n2         0.000               0.000\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n1024      -3.250              0.000\r\n"), std::string::npos);
}

TEST(ProfileFileText, LongValuesPushTheNextColumn) {
    qz417::RecordedProfile profile;
    profile.points[0] = {-1234567.0f, 1.0f};
    const std::string text = qz417::ProfileFileText(profile);
    // 10 + 12 characters is still short of column 31; no separator is added beyond it.
    EXPECT_NE(text.find("\r\n1         -1.23457E+06        1.000\r\n"), std::string::npos);
}

// The comma-decimal locale: the installed one, or one made with localedef
// into a temporary directory when the tool and its sources are present.
bool UseCommaLocale(std::string *why) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8"))
        return true;
    const fs::path dir = fs::temp_directory_path() / "qz417-views-locale";
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::exists("/usr/bin/localedef") || !fs::exists("/usr/share/i18n/locales/de_DE")) {
        *why = "no de_DE locale installed and no localedef sources to make one";
        return false;
    }
    const std::string cmd =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (!fs::exists(dir / "de_DE.UTF-8") && std::system(cmd.c_str()) != 0) {
        *why = "localedef failed";
        return false;
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8"))
        return true;
    *why = "the generated de_DE locale could not be loaded";
    return false;
}

TEST(ProfileFileText, UsesPointsUnderACommaLocale) {
    std::string why;
    if (!UseCommaLocale(&why))
        GTEST_SKIP() << why;
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    const bool comma = std::string(probe) == "1,5";
    const std::string text = qz417::ProfileFileText(GoldenProfile());
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
    ASSERT_TRUE(comma) << "the locale is active: " << probe;
    EXPECT_EQ(text, Golden());
}

class WriteProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        start_ = fs::temp_directory_path() /
                 (std::string("qz417-views-") + info->name() + "-" + std::to_string(::getpid()));
        fs::remove_all(start_);
        fs::create_directories(start_);
    }
    void TearDown() override { fs::remove_all(start_); }

    fs::path Day() const { return start_ / "Profiles" / "20261208"; }
    qz417::ProfileWriteResult Write(const qz417::RecordedProfile &p = GoldenProfile()) {
        return qz417::WriteProfileFile(start_.string(), "20261208", p);
    }

    fs::path start_;
};

TEST_F(WriteProfileFileTest, FirstFileOfTheDayCreatesBothDirectories) {
    const qz417::ProfileWriteResult r = Write();
    ASSERT_EQ(r.status, qz417::ProfileWriteResult::Status::Written) << std::strerror(r.error);
    EXPECT_EQ(fs::path(r.path), Day() / "00001.txt");
    EXPECT_EQ(ReadFile(Day() / "00001.txt"), Golden());
    EXPECT_EQ(Write().path, (Day() / "00002.txt").string());
}

TEST_F(WriteProfileFileTest, TakesTheLowestFreeNumberAndKeepsExistingFiles) {
    fs::create_directories(Day());
    WriteFile(Day() / "00001.txt", "one");
    WriteFile(Day() / "00003.txt", "three");
    const qz417::ProfileWriteResult r = Write();
    ASSERT_EQ(r.status, qz417::ProfileWriteResult::Status::Written);
    EXPECT_EQ(fs::path(r.path), Day() / "00002.txt");
    EXPECT_EQ(ReadFile(Day() / "00001.txt"), "one");
    EXPECT_EQ(ReadFile(Day() / "00003.txt"), "three");
    EXPECT_EQ(fs::path(Write().path), Day() / "00004.txt");
    EXPECT_EQ(ReadFile(Day() / "00003.txt"), "three");
}

TEST_F(WriteProfileFileTest, ADirectoryUnderAFileNameIsReportedNotReplaced) {
    fs::create_directories(Day() / "00001.txt");
    const qz417::ProfileWriteResult r = Write();
    EXPECT_EQ(r.status, qz417::ProfileWriteResult::Status::Failed);
    EXPECT_EQ(fs::path(r.path), Day() / "00001.txt");
    EXPECT_EQ(r.error, EEXIST);
    EXPECT_TRUE(fs::is_directory(Day() / "00001.txt"));
}

TEST_F(WriteProfileFileTest, AStartDirectoryThatCannotHoldDirectoriesIsReported) {
    // A file where the start directory should be: nothing can be made below it
    // (works for any user, root included).
    WriteFile(start_ / "plain", "x");
    const qz417::ProfileWriteResult r =
        qz417::WriteProfileFile((start_ / "plain").string(), "20261208", GoldenProfile());
    EXPECT_EQ(r.status, qz417::ProfileWriteResult::Status::Failed);
    EXPECT_EQ(fs::path(r.path), start_ / "plain" / "Profiles");
    EXPECT_EQ(r.error, ENOTDIR);
    EXPECT_EQ(ReadFile(start_ / "plain"), "x");
}

TEST_F(WriteProfileFileTest, AFileNamedLikeTheDayDirectoryIsReported) {
    fs::create_directories(start_ / "Profiles");
    WriteFile(Day(), "not a directory");
    const qz417::ProfileWriteResult r = Write();
    EXPECT_EQ(r.status, qz417::ProfileWriteResult::Status::Failed);
    EXPECT_EQ(fs::path(r.path), Day());
    EXPECT_EQ(r.error, ENOTDIR);
    EXPECT_EQ(ReadFile(Day()), "not a directory");
}

TEST_F(WriteProfileFileTest, ASymbolicLinkUnderAFileNameIsNeverFollowed) {
    fs::create_directories(Day());
    WriteFile(start_ / "target", "kept");
    fs::create_symlink(start_ / "missing", Day() / "00001.txt"); // dangling: no file there
    const qz417::ProfileWriteResult r = Write();
    EXPECT_EQ(r.status, qz417::ProfileWriteResult::Status::Failed);
    EXPECT_EQ(r.error, EEXIST);
    EXPECT_FALSE(fs::exists(start_ / "missing"));
    EXPECT_TRUE(fs::is_symlink(Day() / "00001.txt"));
}

TEST_F(WriteProfileFileTest, AFailedWriteIsReportedAndLeavesNoPartialFile) {
    // A file size limit below the profile's size makes the write fail (EFBIG).
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const qz417::ProfileWriteResult r = Write();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(r.status, qz417::ProfileWriteResult::Status::Failed);
    EXPECT_EQ(r.error, EFBIG);
    EXPECT_EQ(fs::path(r.path), Day() / "00001.txt");
    EXPECT_FALSE(fs::exists(Day() / "00001.txt"));
    // The next attempt, with room again, takes the same number.
    EXPECT_EQ(fs::path(Write().path), Day() / "00001.txt");
}

TEST_F(WriteProfileFileTest, AllNumbersTakenGivesTheCounterMessageAndWritesNothing) {
    fs::create_directories(Day());
    for (unsigned n = 1; n <= qz417::kMaxProfileFileNumber; ++n) {
        std::FILE *f = std::fopen((Day() / (qz417::ZeroPad(n, 5) + ".txt")).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    const qz417::ProfileWriteResult r = Write();
    EXPECT_EQ(r.status, qz417::ProfileWriteResult::Status::CounterExhausted);
    EXPECT_EQ(fs::path(r.day), Day());
    EXPECT_EQ(fs::file_size(Day() / "00001.txt"), 0u);
    EXPECT_EQ(fs::file_size(Day() / "65535.txt"), 0u);
    EXPECT_FALSE(fs::exists(Day() / "65536.txt"));
    EXPECT_FALSE(fs::exists(Day() / "00000.txt"));
}

} // namespace
