// Internal: small RAII handles over HDF5 identifiers and the translation of
// HDF5's error stack into one readable message. Not installed, not used
// outside this folder.
#pragma once

#include "model/recording/recording_file.h"

#include <hdf5.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace qz417::recording {

namespace h5 {

// HDF5 prints its error stack to stderr unless told not to; the stack is kept
// per thread, so every entry point calls this on its own thread.
void Quiet();

// The reason of the last failed call on this thread, as short as possible:
// the operating system's message when the failure came from a system call
// ("No space left on device"), else HDF5's outermost description.
std::string LastError();

[[noreturn]] void Fail(const std::string &what);

// Throws RecordingError("<what>: <reason>") when status is negative.
inline herr_t Check(herr_t status, const std::string &what) {
    if (status < 0)
        Fail(what);
    return status;
}

class Id {
public:
    using Closer = herr_t (*)(hid_t);
    Id() = default;
    Id(hid_t id, Closer close) : id_(id), close_(close) {}
    Id(Id &&o) noexcept : id_(std::exchange(o.id_, H5I_INVALID_HID)), close_(o.close_) {}
    Id &operator=(Id &&o) noexcept {
        if (this != &o) {
            reset();
            id_ = std::exchange(o.id_, H5I_INVALID_HID);
            close_ = o.close_;
        }
        return *this;
    }
    Id(const Id &) = delete;
    Id &operator=(const Id &) = delete;
    ~Id() { reset(); }

    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Closes now and reports whether the close succeeded.
    bool close() {
        const bool ok = id_ < 0 || close_(id_) >= 0;
        id_ = H5I_INVALID_HID;
        return ok;
    }
    void reset() { close(); }

private:
    hid_t id_ = H5I_INVALID_HID;
    Closer close_ = nullptr;
};

// Wraps a new identifier; throws with `what` when creation failed.
inline Id Make(hid_t id, Id::Closer close, const std::string &what) {
    if (id < 0)
        Fail(what);
    return Id(id, close);
}

} // namespace h5
} // namespace qz417::recording
