// Synthetic profiles for the recording tests: packet i carries packetCount i
// (mod 65536), measurementCount 3 * i and points that depend on i, so that
// any packet read back tells where it belongs.
#pragma once

#include "model/recording/recording_format.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qz417::recording::test {

inline Packet MakePacket(std::uint64_t i) {
    Packet p{};
    const auto put16 = [&p](std::size_t at, std::uint16_t v) {
        p[at] = static_cast<std::uint8_t>(v);
        p[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(0, static_cast<std::uint16_t>(3 * i));
    put16(2, static_cast<std::uint16_t>(i));
    for (std::size_t k = 0; k < 1024; ++k) {
        put16(4 + 4 * k, static_cast<std::uint16_t>(8000 + (k * 7 + i) % 4000));       // z
        put16(6 + 4 * k, static_cast<std::uint16_t>(static_cast<int>(k) * 16 - 8192)); // x
    }
    return p;
}

inline std::uint16_t PacketCountOf(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[2] | (p[3] << 8));
}

// A fresh directory below the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qz417-recording-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

} // namespace qz417::recording::test
