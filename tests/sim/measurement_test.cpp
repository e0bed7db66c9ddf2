// The synthetic measurement: which points are found, how parameters change
// them, the mounting angle, and the camera picture.
#include "config_block.h"
#include "image_renderer.h"
#include "profile_model.h"
#include "scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace qz417::sim {
namespace {

// At this time no object is under the laser: the profile is the bare belt.
constexpr double kBareBelt = 0.1;

ConfigFields factoryFields() {
    return decodeConfig(defaultConfig(0, Ipv4{{127, 0, 0, 1}}, 0));
}

// Least-squares slope, in degrees, of the valid points in millimetres.
double fittedDegrees(const Measurement &m, const DescriptionOptions &d) {
    double n = 0, sx = 0, sz = 0, sxx = 0, sxz = 0;
    for (const RawPoint &p : m.points) {
        if (p.x == d.errorValue || p.z == d.errorValue)
            continue;
        const double x = d.rangeXEmr * double(p.x) / d.discreteValue;
        const double z = d.rangeZ * double(p.z) / d.discreteValue;
        n += 1;
        sx += x;
        sz += z;
        sxx += x * x;
        sxz += x * z;
    }
    return std::atan((n * sxz - sx * sz) / (n * sxx - sx * sx)) * 180 / std::numbers::pi;
}

class MeasurementTest : public ::testing::Test {
protected:
    DescriptionOptions desc;
    Scene scene{SceneGeometry{}};
};

TEST_F(MeasurementTest, FactorySettingsFindNearlyEveryPointWithinRange) {
    const Measurement m = measure(scene, factoryFields(), desc, 1, kBareBelt);
    EXPECT_GT(m.validPoints, 980);
    int counted = 0;
    for (const RawPoint &p : m.points) {
        const bool invalid = p.x == desc.errorValue || p.z == desc.errorValue;
        if (invalid) {
            EXPECT_EQ(p.x, desc.errorValue); // an invalid point carries it twice
            EXPECT_EQ(p.z, desc.errorValue);
            continue;
        }
        ++counted;
        EXPECT_GT(p.z, 0);
        EXPECT_LE(p.z, desc.discreteValue);
        EXPECT_LE(std::abs(p.x), desc.discreteValue / 2);
    }
    EXPECT_EQ(counted, m.validPoints);
}

TEST_F(MeasurementTest, SameIndexSameProfileAndObjectsChangeTheProfile) {
    const ConfigFields f = factoryFields();
    const Measurement a = measure(scene, f, desc, 7, kBareBelt);
    const Measurement b = measure(scene, f, desc, 7, kBareBelt);
    EXPECT_EQ(0, std::memcmp(a.points.data(), b.points.data(), sizeof a.points));
    // 0.7 s later the box lies under the laser on the left: points come closer.
    const Measurement box = measure(scene, f, desc, 7, 0.7);
    int closer = 0;
    for (int i = 0; i < kPointCount; ++i)
        if (a.points[i].z != desc.errorValue && box.points[i].z != desc.errorValue &&
            box.points[i].z < a.points[i].z - 1000)
            ++closer;
    EXPECT_GT(closer, 50);
}

TEST_F(MeasurementTest, BoxesOfDifferentHeightsPassSideBySide) {
    const ConfigFields f = factoryFields();
    const Measurement belt = measure(scene, f, desc, 7, kBareBelt);
    // 580 mm of belt later: a tall box on the right, a flat one on the left.
    const Measurement boxes = measure(scene, f, desc, 7, 580.0 / 120.0);
    auto riseMm = [&](int from, int to) { // largest rise over a range of points
        double best = 0;
        for (int i = from; i < to; ++i)
            if (belt.points[i].z != desc.errorValue && boxes.points[i].z != desc.errorValue)
                best = std::max(best, double(belt.points[i].z - boxes.points[i].z) * desc.rangeZ /
                                          desc.discreteValue);
        return best;
    };
    const double left = riseMm(0, kPointCount / 2);
    const double right = riseMm(kPointCount / 2, kPointCount);
    EXPECT_NEAR(left, 15, 4);
    EXPECT_NEAR(right, 70, 4);
}

TEST_F(MeasurementTest, LaserLevelAndIntegrationChangeTheInvalidShare) {
    ConfigFields f = factoryFields();
    const int normal = measure(scene, f, desc, 3, kBareBelt).validPoints;
    f.laserLevel = 4; // a quarter of the light
    const int dim = measure(scene, f, desc, 3, kBareBelt).validPoints;
    f.laserLevel = 0; // laser off
    const Measurement off = measure(scene, f, desc, 3, kBareBelt);
    f.laserLevel = 31;
    f.integrationUs = 65536; // saturated
    const int saturated = measure(scene, f, desc, 3, kBareBelt).validPoints;
    EXPECT_LT(dim, normal - 100);
    EXPECT_GT(dim, 0);
    EXPECT_EQ(off.validPoints, 0);
    EXPECT_EQ(off.angleUnits, kNoAngle);
    EXPECT_LT(saturated, normal / 4);
}

TEST_F(MeasurementTest, ImageWindowLimitsWherePointsAreFound) {
    ConfigFields f = factoryFields();
    f.windowWidth = 127; // left half of the picture only
    const Measurement left = measure(scene, f, desc, 5, kBareBelt);
    EXPECT_GT(left.validPoints, 400);
    EXPECT_LT(left.validPoints, 530);
    for (const RawPoint &p : left.points) {
        if (p.x != desc.errorValue) {
            EXPECT_LT(p.x, 0);
        }
    }
    f = factoryFields();
    f.windowTop = 0;
    f.windowHeight = 100; // rows 0..200: the belt lies lower, around row 357
    EXPECT_EQ(measure(scene, f, desc, 5, kBareBelt).validPoints, 0);
}

TEST_F(MeasurementTest, AngleIsTheMountTiltAndTheSettingLevelsTheProfile) {
    ConfigFields f = factoryFields();
    const Measurement raw = measure(scene, f, desc, 9, kBareBelt);
    EXPECT_NEAR(raw.angleUnits, degreesToAngleUnits(3.0), 4);
    EXPECT_NEAR(fittedDegrees(raw, desc), 3.0, 0.05);
    // Applying the negated angle levels the profile; the angle seen stays.
    f.angleUnits = -raw.angleUnits;
    const Measurement levelled = measure(scene, f, desc, 9, kBareBelt);
    EXPECT_NEAR(fittedDegrees(levelled, desc), 0.0, 0.05);
    EXPECT_EQ(levelled.angleUnits, raw.angleUnits);
    Scene other(SceneGeometry{250, 140, 230, -7.5});
    EXPECT_NEAR(measure(other, factoryFields(), desc, 9, kBareBelt).angleUnits,
                degreesToAngleUnits(-7.5), 4);
}

TEST_F(MeasurementTest, ValidPointsNeverCarryTheErrorValue) {
    // With error value 0 the point straight under the scanner (X = 0) is valid
    // and must not read as 0.
    ConfigFields f = factoryFields();
    for (std::uint64_t i = 0; i < 50; ++i) {
        const Measurement m = measure(scene, f, desc, i, 0.01 * double(i));
        int valid = 0;
        for (const RawPoint &p : m.points)
            valid += (p.x != 0 && p.z != 0);
        ASSERT_EQ(valid, m.validPoints);
    }
    desc.errorValue = -32768;
    const Measurement m = measure(scene, f, desc, 1, kBareBelt);
    EXPECT_EQ(std::count_if(m.points.begin(), m.points.end(),
                            [](const RawPoint &p) { return p.x == -32768; }),
              kPointCount - m.validPoints);
}

TEST_F(MeasurementTest, DegenerateDescriptionsGiveInvalidPointsNotNonsense) {
    desc.discreteValue = 0;
    EXPECT_EQ(measure(scene, factoryFields(), desc, 1, kBareBelt).validPoints, 0);
    Scene flat(SceneGeometry{0, 140, 230, 3});
    EXPECT_EQ(measure(flat, factoryFields(), DescriptionOptions{}, 1, kBareBelt).validPoints, 0);
}

TEST(ImageRendering, LaserLineOverAVisibleBackground) {
    Scene scene{SceneGeometry{}};
    ConfigFields f = factoryFields();
    std::vector<std::uint8_t> img(kImageSize);
    renderImage(scene, f, 1, kBareBelt, img.data());
    int onLine = 0;
    std::vector<std::uint8_t> background;
    for (int x = 0; x < kImageWidth; ++x) {
        const int expected =
            static_cast<int>(std::lround(scene.rowOf(scene.sampleColumn(x + 0.5, kBareBelt).z)));
        int best = 0;
        for (int y = 1; y < kImageHeight; ++y)
            if (img[y * kImageWidth + x] > img[best * kImageWidth + x])
                best = y;
        onLine += std::abs(best - expected) <= 2 && img[best * kImageWidth + x] > 150;
        background.push_back(img[20 * kImageWidth + x]);
    }
    EXPECT_GT(onLine, 600);
    std::sort(background.begin(), background.end());
    EXPECT_GE(background[background.size() / 2], 5);
    EXPECT_LE(background[background.size() / 2], 60);

    f.laserLevel = 0;
    renderImage(scene, f, 1, kBareBelt, img.data());
    EXPECT_LT(*std::max_element(img.begin(), img.end()), 100);
}

} // namespace
} // namespace qz417::sim
