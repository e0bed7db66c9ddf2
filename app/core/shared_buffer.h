// Fixed-size buffers shared between a worker thread and the window thread.
// Every publish and every read happens under one short lock, so a reader
// always sees one whole packet, image or parameter block, never a mix.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "model/config_area.h"

namespace qz417 {

template <std::size_t N> class SharedBuffer {
public:
    static constexpr std::size_t kSize = N;

    SharedBuffer() { bytes_.fill(0); }

    // Replaces the whole content; raises the sequence number.
    void publish(const std::uint8_t *src) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::memcpy(bytes_.data(), src, N);
        sequence_.fetch_add(1, std::memory_order_release);
    }
    // Copies the whole content out; returns the sequence number of that content.
    std::uint64_t read(std::uint8_t *dst) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::memcpy(dst, bytes_.data(), N);
        return sequence_.load(std::memory_order_relaxed);
    }
    // Runs f(const uint8_t *bytes) under the lock, for a reader that converts
    // in place instead of copying first. Keep f short.
    template <class F> std::uint64_t with(F &&f) const {
        std::lock_guard<std::mutex> lock(mutex_);
        f(static_cast<const std::uint8_t *>(bytes_.data()));
        return sequence_.load(std::memory_order_relaxed);
    }
    // Raised by every publish; lets a reader skip work when nothing changed.
    std::uint64_t sequence() const { return sequence_.load(std::memory_order_acquire); }

private:
    mutable std::mutex mutex_;
    std::array<std::uint8_t, N> bytes_;
    std::atomic<std::uint64_t> sequence_{0};
};

// The program's copy of the parameter block. The window thread edits single
// fields through edit(); the servicing thread takes a whole copy for a write
// and replaces the whole block after a read.
class SharedConfig {
public:
    ConfigArea read() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return area_;
    }
    void write(const ConfigArea &area) {
        std::lock_guard<std::mutex> lock(mutex_);
        area_ = area;
    }
    void write(const std::uint8_t *raw) {
        std::lock_guard<std::mutex> lock(mutex_);
        area_.load(raw);
    }
    // Runs f(ConfigArea &) under the lock: one field change is atomic for
    // every transfer.
    template <class F> void edit(F &&f) {
        std::lock_guard<std::mutex> lock(mutex_);
        f(area_);
    }

private:
    mutable std::mutex mutex_;
    ConfigArea area_;
};

} // namespace qz417
