// A profile packet as it arrives from the network, decoded, plotted and
// written as profile file text.
//
// Input: the scale of the shown device (range X, range Z, discrete value,
// error value: 2 bytes each), then the packet; a shorter packet is padded
// with zeros. Checks: the decoder's verdict and values against the rules of
// the conversion, a bounded finite result, and a profile file text of exactly
// 1026 CR LF lines whose values read back as the decoded points.
#include "fuzz_input.h"
#include "model/point_label.h"
#include "model/profile_file.h"
#include "model/profile_packet.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

using qz417::fuzz::Check;

// Reads the number that starts at `pos` in `text` and moves past it.
double ReadNumber(const std::string &text, std::size_t &pos) {
    const char *start = text.c_str() + pos;
    char *end = nullptr;
    const double value = std::strtod(start, &end);
    Check(end != start, "profile line without a number");
    pos += static_cast<std::size_t>(end - start);
    return value;
}

void CheckFileText(const qz417::RecordedProfile &profile) {
    const std::string text = qz417::ProfileFileText(profile);
    std::size_t lines = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find("\r\n", pos);
        Check(eol != std::string::npos, "profile line without CR LF");
        const std::string line = text.substr(pos, eol - pos);
        Check(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos,
              "stray line break inside a profile line");
        Check(line.find(',') == std::string::npos, "comma in a profile line");
        if (lines == 1) {
            Check(line == "Profile nember: " + std::to_string(profile.number),
                  "profile number line");
        } else if (lines >= 2) {
            const std::size_t i = lines - 2;
            Check(i < qz417::kProfilePoints, "more point lines than points");
            std::size_t at = 0;
            const double number = ReadNumber(line, at);
            Check(number == static_cast<double>(i + 1), "point number");
            const double x = ReadNumber(line, at);
            const double z = ReadNumber(line, at);
            Check(at == line.size(), "text after the Z value");
            // Three decimals, six significant digits at most.
            const auto close = [](double written, float value) {
                const double tolerance =
                    std::max(0.0005, std::fabs(static_cast<double>(value)) * 5e-6) * 1.0001;
                return std::fabs(written - static_cast<double>(value)) <= tolerance;
            };
            Check(close(x, profile.points[i].x), "X value in the file");
            Check(close(z, profile.points[i].z), "Z value in the file");
        }
        ++lines;
        pos = eol + 2;
    }
    Check(lines == 2 + qz417::kProfilePoints, "profile file line count");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qz417::fuzz::FuzzInput in(data, size);
    qz417::ProfileScale scale;
    scale.rangeXEmr = in.u16();
    scale.rangeZ = in.u16();
    scale.discreteValue = in.u16();
    scale.errorValue = static_cast<std::int16_t>(in.u16());

    // Exactly one packet on the heap, so a read past its end is caught.
    auto packetBytes = std::make_unique<std::uint8_t[]>(qz417::kProfilePacketSize);
    std::memset(packetBytes.get(), 0, qz417::kProfilePacketSize);
    const auto body = in.bytes(qz417::kProfilePacketSize);
    if (!body.empty())
        std::memcpy(packetBytes.get(), body.data(), body.size());
    const qz417::ProfilePacket packet(packetBytes.get());

    Check(packet.measurementCount() == (packetBytes[0] | (packetBytes[1] << 8)),
          "measurement counter");
    Check(packet.packetCount() == (packetBytes[2] | (packetBytes[3] << 8)), "packet counter");

    std::array<qz417::ProfilePoint, qz417::kProfilePoints> points;
    qz417::DecodePacket(packet, scale, points);
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const qz417::RawPoint raw = packet.point(i);
        const qz417::ProfilePoint &p = points[static_cast<std::size_t>(i)];
        const bool invalid = raw.xRaw == scale.errorValue || raw.zRaw == scale.errorValue ||
                             scale.discreteValue == 0;
        Check(p.valid == !invalid, "validity of a point");
        if (!p.valid)
            continue;
        const double x = double(scale.rangeXEmr) * raw.xRaw / scale.discreteValue;
        const double z = double(scale.rangeZ) * raw.zRaw / scale.discreteValue;
        Check(p.x == static_cast<float>(x) && p.z == static_cast<float>(z), "point value");
        Check(std::isfinite(p.x) && std::isfinite(p.z), "finite point");
        Check(std::fabs(p.x) <= 65535.0 * 32768.0, "bounded point");
        const std::string label = qz417::PointLabelText(p.x);
        Check(!label.empty() && label.size() < 64, "point label length");
        const std::size_t dot = label.find('.');
        Check(dot != std::string::npos && label.size() - dot == 4, "point label decimals");
    }

    const qz417::RecordedProfile profile = qz417::RecordProfile(packet, scale);
    Check(profile.number == packet.measurementCount(), "recorded number");
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const auto &p = points[static_cast<std::size_t>(i)];
        const auto &r = profile.points[static_cast<std::size_t>(i)];
        Check(p.valid ? (r.x == p.x && r.z == p.z) : (r.x == 0.0f && r.z == 0.0f),
              "recorded point");
    }
    CheckFileText(profile);
    return 0;
}
