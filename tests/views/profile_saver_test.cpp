// The "Save" step of the result worker (ProfileSaver), with a stand-in for the window.
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/app_state.h"
#include "views/profile_saver.h"

namespace fs = std::filesystem;

namespace {

using Packet = std::array<std::uint8_t, qz417::kProfilePacketSize>;

Packet MakePacket(std::uint16_t count, std::int16_t x = 8192) {
    Packet p{};
    p[0] = static_cast<std::uint8_t>(count);
    p[1] = static_cast<std::uint8_t>(count >> 8);
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const auto base = static_cast<std::size_t>(4 + 4 * i);
        p[base] = 0x00; // z = 16384
        p[base + 1] = 0x40;
        p[base + 2] = static_cast<std::uint8_t>(x);
        p[base + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
    }
    return p;
}

// Records what the window would be told, in order.
class FakeUi : public qz417::ProfileSaverUi {
public:
    void SetSaveButton(const std::string &caption, bool enabled) override {
        events.push_back("button " + caption + (enabled ? " enabled" : " disabled"));
    }
    void ShowError(const std::string &text) override { events.push_back("message " + text); }
    std::vector<std::string> events;
};

class ProfileSaverTest : public ::testing::Test {
protected:
    void SetUp() override {
        qz417::ResetAppState();
        start_ = fs::temp_directory_path() /
                 ("qz417-recorder-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  "-" + std::to_string(::getpid()));
        fs::remove_all(start_);
        fs::create_directories(start_);
        StartDirectory = start_.string();
        recorder_.Start();
    }
    void TearDown() override {
        fs::remove_all(start_);
        StartDirectory.clear();
    }
    void Step(std::uint16_t count, std::int16_t x = 8192) {
        const Packet p = MakePacket(count, x);
        recorder_.Step(p.data());
    }
    std::vector<fs::path> Files() const {
        std::vector<fs::path> files;
        if (fs::exists(start_ / "Profiles"))
            for (const auto &e : fs::recursive_directory_iterator(start_ / "Profiles"))
                if (e.is_regular_file())
                    files.push_back(e.path());
        return files;
    }

    fs::path start_;
    FakeUi ui_;
    qz417::ProfileSaver recorder_{&ui_};
};

TEST_F(ProfileSaverTest, NothingIsRecordedWithoutARequest) {
    Step(1);
    Step(2);
    EXPECT_TRUE(ui_.events.empty());
    EXPECT_TRUE(Files().empty());
}

TEST_F(ProfileSaverTest, TheFirstPassOfARunCountsAsNew) {
    RequestSaveProfile = 1;
    Step(40);
    EXPECT_EQ(RequestSaveProfile.load(), 0);
    ASSERT_EQ(ui_.events.size(), 2u);
    EXPECT_EQ(ui_.events[0], "button 0 disabled");
    EXPECT_EQ(ui_.events[1], "button Save enabled");
    ASSERT_EQ(Files().size(), 1u);
    EXPECT_EQ(Files()[0].filename(), "00001.txt");
    EXPECT_EQ(Files()[0].parent_path().parent_path(), start_ / "Profiles");
    EXPECT_EQ(Files()[0].parent_path().filename(), qz417::DateStamp(std::time(nullptr)));
    EXPECT_EQ(recorder_.profile().number, 40);
    EXPECT_EQ(recorder_.profile().points[0], (qz417::RecordedPoint{115.0f, 250.0f}));
    EXPECT_TRUE(recorder_.armed());
}

TEST_F(ProfileSaverTest, WaitsForTheCounterToChange) {
    Step(7);
    RequestSaveProfile = 1;
    Step(7, 100); // the same profile read again: not taken
    Step(7, 200);
    EXPECT_TRUE(recorder_.recording());
    EXPECT_TRUE(Files().empty());
    Step(8, -8192);
    EXPECT_FALSE(recorder_.recording());
    EXPECT_EQ(recorder_.profile().number, 8);
    EXPECT_EQ(recorder_.profile().points[5].x, -115.0f);
    ASSERT_EQ(Files().size(), 1u);
    std::ifstream in(Files()[0], std::ios::binary);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(second, "Profile nember: 8\r");
}

TEST_F(ProfileSaverTest, TwoPressesBeforeANewProfileWriteOneFile) {
    Step(1);
    RequestSaveProfile = 1;
    Step(1);
    RequestSaveProfile = 1; // the button is disabled; a second raise changes nothing
    Step(1);
    Step(2);
    EXPECT_EQ(Files().size(), 1u);
    // The flag raised again while recording is taken by the next recording.
    EXPECT_EQ(RequestSaveProfile.load(), 1);
}

TEST_F(ProfileSaverTest, ARequestSurvivesIntoTheNextRun) {
    RequestSaveProfile = 1;
    recorder_.Start();
    Step(3);
    EXPECT_EQ(Files().size(), 1u);
}

TEST_F(ProfileSaverTest, AnUnfinishedRecordingIsLostAtTheNextStart) {
    Step(5);
    RequestSaveProfile = 1;
    Step(5);
    EXPECT_TRUE(recorder_.recording());
    recorder_.Start();
    EXPECT_FALSE(recorder_.recording());
    EXPECT_TRUE(recorder_.armed());
    Step(6);
    EXPECT_TRUE(Files().empty());
}

TEST_F(ProfileSaverTest, InvalidPointsAreRecordedAsZero) {
    RequestSaveProfile = 1;
    Step(9, 0); // X carries the error value in every point
    EXPECT_EQ(recorder_.profile().points[0], (qz417::RecordedPoint{0.0f, 0.0f}));
    EXPECT_EQ(recorder_.profile().points[1023], (qz417::RecordedPoint{0.0f, 0.0f}));
}

TEST_F(ProfileSaverTest, AFailedWriteIsReportedAndRecordingStaysArmed) {
    std::ofstream(start_ / "plain") << "x";
    StartDirectory = (start_ / "plain").string();
    RequestSaveProfile = 1;
    Step(11);
    ASSERT_EQ(ui_.events.size(), 3u);
    EXPECT_EQ(ui_.events[0], "button 0 disabled");
    EXPECT_EQ(ui_.events[1], "message The profile was not saved.\n" +
                                 (start_ / "plain" / "Profiles").string() + "\nNot a directory");
    EXPECT_EQ(ui_.events[2], "button Save enabled");
    EXPECT_TRUE(recorder_.armed());
    EXPECT_EQ(recorder_.lastWrite().status, qz417::ProfileWriteResult::Status::Failed);

    // Nothing else was lost: the next save with a usable directory works.
    StartDirectory = start_.string();
    RequestSaveProfile = 1;
    Step(12);
    EXPECT_EQ(Files().size(), 1u);
}

TEST(ProfileRecordingTexts, CounterMessage) {
    EXPECT_EQ(qz417::CounterExhaustedText("/s/Profiles/20261208"),
              "End of file counter.\nClear please directory: \n/s/Profiles/20261208");
}

} // namespace
