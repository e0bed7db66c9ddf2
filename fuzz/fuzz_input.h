// A cursor over a fuzzer's input: takes integers and byte runs from the
// front, yielding zeros once the input is used up, so every harness can
// read what it needs without checking lengths first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace qz417::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - pos_; }
    bool empty() const { return pos_ >= size_; }

    std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() {
        const std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | (u8() << 8));
    }
    // Up to `count` bytes from the front (fewer when the input runs out).
    std::span<const std::uint8_t> bytes(std::size_t count) {
        const std::size_t n = std::min(count, remaining());
        std::span<const std::uint8_t> run(data_ + pos_, n);
        pos_ += n;
        return run;
    }
    // Everything that is left.
    std::span<const std::uint8_t> rest() { return bytes(remaining()); }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken invariant: say which and stop, so that the fuzzer keeps the input.
[[noreturn]] inline void Fail(const char *what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char *what) {
    if (!condition)
        Fail(what);
}

} // namespace qz417::fuzz
