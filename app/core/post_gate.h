// Lets worker threads reach the main window only while it exists: the window
// closes the gate before it goes away, and a call through a closed gate does
// nothing.
#pragma once

#include <mutex>

class TFormMain;

namespace qz417 {

class PostGate {
public:
    explicit PostGate(TFormMain *form) : form_(form) {}

    template <class F> void with(F &&f) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (form_)
            f(*form_);
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        form_ = nullptr;
    }

private:
    std::mutex mutex_;
    TFormMain *form_;
};

} // namespace qz417
