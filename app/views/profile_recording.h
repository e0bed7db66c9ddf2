// Recording of single profiles into numbered text files, as the result worker
// performs it. The file format is fixed byte for byte (CR LF, padded columns,
// three decimals with a point whatever the locale).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "views/profile_packet.h"

namespace qz {

constexpr int kProfilesPerFile = 1;

struct RecordedPoint {
    float x = 0.0f;
    float z = 0.0f;
};

// The recorded profile: its measurementCount and its decoded points
// (an invalid point is (0, 0)).
struct RecordedProfile {
    std::uint16_t number = 0;
    std::array<RecordedPoint, kProfilePoints> points{};
};

// Recording state of one run of the result worker (worker thread only).
class ProfileRecorder {
public:
    // At the start of a run: armed, not recording, no previous counter.
    void Start();
    // After every successful fetch, before the acquisition count rises.
    // packet: the bytes just fetched. Takes RequestSaveProfile, stores the
    // first new profile, writes the file and updates ButtonResultSave through
    // the window thread.
    void Step(const std::uint8_t *packet);

private:
    bool armed_ = true;
    bool recording_ = false;
    std::uint16_t recorded_ = 0;
    std::optional<std::uint16_t> previous_;
    RecordedProfile profile_;
};

std::string DateStamp();                       // local date as YYYYMMDD
std::string ZeroPad(unsigned number, int width); // "00042"
// A value as the profile file writes it: 12.3456 -> "12.346".
std::string FormatProfileValue(float value);
// The whole text of a profile file (header line, number line, 1024 point lines).
std::string ProfileFileText(const RecordedProfile &profile);

} // namespace qz
