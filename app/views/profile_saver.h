// The "Save" of single profiles into numbered text files, as the result worker
// performs it: the worker calls Step after every fetched packet; the button's
// caption and the messages reach the window through a ProfileSaverUi.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/profile_file.h"
#include "model/profile_packet.h"

namespace qz417 {

// What the saver tells the window. Called on the worker's thread; an
// implementation hands everything to the window thread, in call order.
class ProfileSaverUi {
public:
    virtual ~ProfileSaverUi() = default;
    // Caption and enabled state of ButtonResultSave.
    virtual void SetSaveButton(const std::string &caption, bool enabled) = 0;
    // A critical message with the caption "QZ417-SP"; returns once the user
    // has closed it (or the window is gone).
    virtual void ShowError(const std::string &text) = 0;
};

// The window's implementation (app/views/save_button.cpp).
ProfileSaverUi &WindowProfileSaverUi();

// The texts of the two messages.
std::string CounterExhaustedText(const std::string &day);
std::string WriteFailedText(const ProfileWriteResult &result);

// Recording state of one run of the result worker (worker thread only).
class ProfileSaver {
public:
    ProfileSaver() = default;
    // For tests: another window side than the real one.
    explicit ProfileSaver(ProfileSaverUi *ui) : ui_(ui) {}

    // At the start of a run: armed, not recording, no previous counter.
    void Start();
    // After every successful fetch, before the acquisition count rises.
    // packet: the bytes just fetched. Takes RequestSaveProfile, stores the
    // first new profile, writes the file and updates ButtonResultSave through
    // the window thread.
    void Step(const std::uint8_t *packet);

    bool armed() const { return armed_; }
    bool recording() const { return recording_; }
    const RecordedProfile &profile() const { return profile_; }
    // Result of the last file write.
    const ProfileWriteResult &lastWrite() const { return lastWrite_; }

private:
    ProfileSaverUi &ui() { return ui_ ? *ui_ : WindowProfileSaverUi(); }
    void WriteAndReport();

    ProfileSaverUi *ui_ = nullptr;
    bool armed_ = true;
    bool recording_ = false;
    std::uint16_t recorded_ = 0;
    std::optional<std::uint16_t> previous_;
    RecordedProfile profile_;
    ProfileWriteResult lastWrite_;
};

} // namespace qz417
