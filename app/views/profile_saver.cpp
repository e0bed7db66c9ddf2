#include "views/profile_saver.h"

#include <cstring>

#include "core/app_state.h"

namespace qz417 {

std::string CounterExhaustedText(const std::string &day) {
    // The message box shows each "\n" as a line break.
    return "End of file counter.\nClear please directory: \n" + day;
}

std::string WriteFailedText(const ProfileWriteResult &result) {
    return "The profile was not saved.\n" + result.path + "\n" + std::strerror(result.error);
}

void ProfileSaver::Start() {
    armed_ = true;
    recording_ = false;
    recorded_ = 0;
    previous_.reset();
}

void ProfileSaver::Step(const std::uint8_t *packet) {
    const ProfilePacket view(packet);
    const std::uint16_t current = view.measurementCount();
    if (armed_ && RequestSaveProfile.load() != 0) {
        armed_ = false;
        recording_ = true;
        recorded_ = 0;
        RequestSaveProfile = 0;
    }
    if (recording_ && (!previous_ || *previous_ != current)) {
        profile_ = RecordProfile(view, CurrentScale());
        ++recorded_;
        ui().SetSaveButton(std::to_string(kProfilesPerFile - recorded_), false);
        if (recorded_ == kProfilesPerFile) {
            recorded_ = 0;
            armed_ = true;
            recording_ = false;
            WriteAndReport();
            ui().SetSaveButton("Save", true);
        }
    }
    previous_ = current;
}

void ProfileSaver::WriteAndReport() {
    lastWrite_ = WriteProfileFile(StartDirectory, DateStamp(std::time(nullptr)), profile_);
    switch (lastWrite_.status) {
    case ProfileWriteResult::Status::Written:
        break;
    case ProfileWriteResult::Status::CounterExhausted:
        ui().ShowError(CounterExhaustedText(lastWrite_.day));
        break;
    case ProfileWriteResult::Status::Failed:
        ui().ShowError(WriteFailedText(lastWrite_));
        break;
    }
}

} // namespace qz417
