#include "profile_output.h"

namespace qz417::ctl {

std::string ProfileTxt(const PacketBytes &packet, const qz417::ProfileScale &scale) {
    return qz417::ProfileFileText(qz417::RecordProfile(qz417::ProfilePacket(packet.data()), scale));
}

} // namespace qz417::ctl
