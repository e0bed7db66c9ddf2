// decode_reference: decodes profile packets with the program's own decoding
// (qz417model), so that the Python package's tests can compare with it bit
// for bit.
//
//   decode_reference RANGE_X_EMR RANGE_Z DISCRETE_VALUE ERROR_VALUE
//
// Reads whole 4100-byte packets from stdin; writes for each point one byte
// (1 valid, 0 invalid) and the float32 X and Z in host byte order, 9 bytes.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/profile_packet.h"

namespace {

bool ParseNumber(const char *text, long low, long high, long &out) {
    char *end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= low && out <= high;
}

} // namespace

int main(int argc, char **argv) {
    long v[4];
    const long low[4] = {0, 0, 0, -32768};
    const long high[4] = {65535, 65535, 65535, 32767};
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s RANGE_X_EMR RANGE_Z DISCRETE_VALUE ERROR_VALUE\n", argv[0]);
        return 2;
    }
    for (int i = 0; i < 4; ++i) {
        if (!ParseNumber(argv[i + 1], low[i], high[i], v[i])) {
            std::fprintf(stderr, "%s: bad number '%s'\n", argv[0], argv[i + 1]);
            return 2;
        }
    }
    qz417::ProfileScale scale;
    scale.rangeXEmr = static_cast<std::uint16_t>(v[0]);
    scale.rangeZ = static_cast<std::uint16_t>(v[1]);
    scale.discreteValue = static_cast<std::uint16_t>(v[2]);
    scale.errorValue = static_cast<std::int16_t>(v[3]);

    std::array<std::uint8_t, qz417::kProfilePacketSize> packet{};
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> points{};
    while (std::fread(packet.data(), 1, packet.size(), stdin) == packet.size()) {
        qz417::DecodePacket(qz417::ProfilePacket(packet.data()), scale, points);
        for (const qz417::ProfilePoint &p : points) {
            unsigned char out[9];
            out[0] = p.valid ? 1 : 0;
            std::memcpy(out + 1, &p.x, 4);
            std::memcpy(out + 5, &p.z, 4);
            if (std::fwrite(out, 1, sizeof out, stdout) != sizeof out)
                return 1;
        }
    }
    return std::ferror(stdin) ? 1 : 0;
}
