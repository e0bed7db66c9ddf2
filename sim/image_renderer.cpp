#include "image_renderer.h"

#include "noise.h"
#include "profile_model.h"

#include <algorithm>
#include <cmath>

namespace qz417::sim {

void renderImage(const Scene &scene, const ConfigFields &f, std::uint64_t seed, double tSec,
                 std::uint8_t *out) {
    const Exposure e = exposureFor(f);
    // Ambient light grows with the integration time and shows the belt's texture.
    const double ambient = 6 + 18 * std::min(5.0, f.integrationUs / 500.0);
    std::uint64_t state = mix64(seed);
    for (int y = 0; y < kImageHeight; ++y) {
        const double rowLight = ambient * (0.55 + 0.45 * y / 511.0);
        for (int x = 0; x < kImageWidth; ++x) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const double noise = static_cast<double>((state >> 33) & 0xF) - 7.5;
            const bool rib = ((x >> 4) + (y >> 4)) & 1;
            const double v = rowLight * (rib ? 1.15 : 0.85) + noise;
            out[static_cast<std::size_t>(y) * kImageWidth + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    if (e.brightness <= 0 || !scene.usable())
        return;

    const double peak = 235 * e.brightness;
    const double sigma = 1.1 + (e.brightness > 1 ? 0.8 * std::log(e.brightness) : 0);
    const int reach = static_cast<int>(std::ceil(3 * sigma));
    const double darkDropout = e.brightness < 0.35 ? e.invalidShare : 0;
    for (int x = 0; x < kImageWidth; ++x) {
        if (uniform01(seed + 7, static_cast<std::uint64_t>(x)) < darkDropout)
            continue;
        const double row = scene.rowOf(scene.sampleColumn(x + 0.5, tSec).z);
        const int centre = static_cast<int>(std::lround(row));
        for (int y = std::max(0, centre - reach); y <= std::min(kImageHeight - 1, centre + reach);
             ++y) {
            const double d = y - row;
            const double flicker =
                0.85 + 0.3 * uniform01(seed + 11, static_cast<std::uint64_t>(y * kImageWidth + x));
            std::uint8_t &px =
                out[static_cast<std::size_t>(y) * kImageWidth + static_cast<std::size_t>(x)];
            const double v = px + peak * flicker * std::exp(-d * d / (2 * sigma * sigma));
            px = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
}

} // namespace qz417::sim
