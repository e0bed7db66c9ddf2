#include "profile_output.h"

namespace qzctl {

std::string ProfileTxt(const PacketBytes &packet, const qz::ProfileScale &scale) {
    return qz::ProfileFileText(qz::RecordProfile(qz::ProfilePacket(packet.data()), scale));
}

} // namespace qzctl
