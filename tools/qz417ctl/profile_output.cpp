#include "profile_output.h"

#include <charconv>

namespace qzctl {

std::string ProfileTxt(const PacketBytes &packet, const qz::ProfileScale &scale) {
    return qz::ProfileFileText(qz::RecordProfile(qz::ProfilePacket(packet.data()), scale));
}

std::string FloatText(float value) {
    char buf[32];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, ptr) : std::string("nan");
}

std::string ProfilesCsv(const std::vector<PacketBytes> &packets, const qz::ProfileScale &scale) {
    std::string out = "profile,point,valid,x_mm,z_mm\n";
    std::array<qz::ProfilePoint, qz::kProfilePoints> points;
    for (const auto &packet : packets) {
        const qz::ProfilePacket view(packet.data());
        qz::DecodePacket(view, scale, points);
        const std::string number = std::to_string(view.measurementCount());
        for (int i = 0; i < qz::kProfilePoints; ++i) {
            const auto &p = points[static_cast<std::size_t>(i)];
            out += number + "," + std::to_string(i + 1) + ",";
            out += p.valid ? "1," + FloatText(p.x) + "," + FloatText(p.z) : std::string("0,,");
            out += "\n";
        }
    }
    return out;
}

std::string ProfilesPly(const std::vector<PacketBytes> &packets, const qz::ProfileScale &scale) {
    std::string body;
    std::size_t vertices = 0;
    std::array<qz::ProfilePoint, qz::kProfilePoints> points;
    for (std::size_t k = 0; k < packets.size(); ++k) {
        qz::DecodePacket(qz::ProfilePacket(packets[k].data()), scale, points);
        const std::string y = std::to_string(k);
        for (const auto &p : points) {
            if (!p.valid)
                continue;
            body += FloatText(p.x) + " " + y + " " + FloatText(p.z) + "\n";
            ++vertices;
        }
    }
    return "ply\nformat ascii 1.0\ncomment qz417ctl profiles: x, z in mm, y = profile index\n"
           "element vertex " +
           std::to_string(vertices) +
           "\nproperty float x\nproperty float y\nproperty float z\nend_header\n" + body;
}

} // namespace qzctl
