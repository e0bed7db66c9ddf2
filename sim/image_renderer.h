// The emulated camera picture: 640 x 512 brightness bytes, top row first,
// showing a dim textured belt with the laser line where the profile lies.
#pragma once

#include "config_block.h"
#include "scene.h"

#include <cstdint>

namespace qz417::sim {

// Renders the picture at time t seconds into `out` (kImageSize bytes).
// `seed` varies the noise from picture to picture.
void renderImage(const Scene &scene, const ConfigFields &f, std::uint64_t seed, double tSec,
                 std::uint8_t *out);

} // namespace qz417::sim
