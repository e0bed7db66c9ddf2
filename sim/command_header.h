// Decoding and checking of the 16-byte request header of the command channel.
#pragma once

#include "wire_format.h"

#include <cstdint>

namespace qz417::sim {

enum Command : std::uint32_t {
    kGetResult = 1,
    kPrepareImage = 2,
    kGetImageChunk = 3,
    kReadParams = 4,
    kWriteParams = 5,
    kFlushParams = 6,
    kCalcAngle = 7,
};

struct CommandHeader {
    std::uint32_t command = 0;
    std::uint32_t length = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

CommandHeader decodeHeader(const std::uint8_t *bytes); // kHeaderSize bytes

enum class HeaderCheck {
    ok,
    unknownCommand, // code outside 1..7
    wrongLength,    // length other than 512 for command 5, other than 0 else
    badImageRange,  // command 3 with size 0 or beyond the end of the image
};
HeaderCheck checkHeader(const CommandHeader &h);
const char *describe(HeaderCheck c);

// Bytes the scanner answers with (0 for commands 2 and 5).
std::size_t replySize(const CommandHeader &h);

} // namespace qz417::sim
