#include "command_header.h"

namespace qz417::sim {

CommandHeader decodeHeader(const std::uint8_t *b) {
    return {getU32(b), getU32(b + 4), getU32(b + 8), getU32(b + 12)};
}

HeaderCheck checkHeader(const CommandHeader &h) {
    if (h.command < kGetResult || h.command > kCalcAngle)
        return HeaderCheck::unknownCommand;
    const std::uint32_t expected = h.command == kWriteParams ? kConfigSize : 0;
    if (h.length != expected)
        return HeaderCheck::wrongLength;
    if (h.command == kGetImageChunk &&
        (h.size == 0 || std::uint64_t{h.offset} + h.size > kImageSize))
        return HeaderCheck::badImageRange;
    return HeaderCheck::ok;
}

const char *describe(HeaderCheck c) {
    switch (c) {
    case HeaderCheck::ok:
        return "ok";
    case HeaderCheck::unknownCommand:
        return "unknown command";
    case HeaderCheck::wrongLength:
        return "wrong length field";
    case HeaderCheck::badImageRange:
        return "image range outside the picture";
    }
    return "?";
}

std::size_t replySize(const CommandHeader &h) {
    switch (h.command) {
    case kGetResult:
        return kPacketSize;
    case kGetImageChunk:
        return h.size;
    case kReadParams:
        return kConfigSize;
    case kFlushParams:
        return kAckSize;
    case kCalcAngle:
        return kAngleSize;
    default:
        return 0;
    }
}

} // namespace qz417::sim
