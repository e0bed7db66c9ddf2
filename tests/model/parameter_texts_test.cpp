#include "model/parameter_texts.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

struct ListCase {
    const char *name;
    std::function<std::vector<std::string>()> items;
    std::size_t count;
    std::vector<std::pair<std::size_t, std::string>> samples;
};

TEST(ParameterTextsTest, ComboListsHaveTheirItemsInOrder) {
    const ListCase cases[] = {
        {"udp frequency",
         qz417::UdpFrequencyItems,
         256,
         {{0, "disable"}, {1, "1 Hz."}, {100, "100 Hz."}, {255, "255 Hz."}}},
        {"analog points",
         qz417::AnalogOutPointsItems,
         5,
         {{0, "off"}, {1, "128 pnt."}, {2, "256 pnt."}, {3, "512 pnt."}, {4, "1024 pnt."}}},
        {"analog time",
         qz417::AnalogOutTimeItems,
         256,
         {{0, "1 us."}, {9, "10 us."}, {255, "256 us."}}},
        {"sync divider",
         qz417::SyncDividerItems,
         256,
         {{0, "Meas. / 1"}, {1, "Meas. / 2"}, {255, "Meas. / 256"}}},
        {"sync delay", qz417::SyncDelayItems, 256, {{0, "0 ms."}, {1, "1 ms."}, {255, "255 ms."}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto items = c.items();
        ASSERT_EQ(items.size(), c.count);
        for (const auto &[index, text] : c.samples)
            EXPECT_EQ(items[index], text) << "item " << index;
    }
}

TEST(ParameterTextsTest, Captions) {
    EXPECT_EQ(qz417::LaserCaption(0), "Laser: 0 level");
    EXPECT_EQ(qz417::LaserCaption(12), "Laser: 12 level");
    EXPECT_EQ(qz417::LaserCaption(31), "Laser: 31 level");
    EXPECT_EQ(qz417::IntegrationCaption(0), "Integration: 1 us");
    EXPECT_EQ(qz417::IntegrationCaption(499), "Integration: 500 us");
    EXPECT_EQ(qz417::IntegrationCaption(65535), "Integration: 65536 us");
}

} // namespace
