// Discovery of the emulated scanners through QZ_Search.
#include "e2e_fixture.h"

#include <set>
#include <vector>

namespace qz417::sim::e2e {
namespace {

std::vector<DeviceAnnouncement> listOf(DeviceAnnouncement *head) {
    std::vector<DeviceAnnouncement> v;
    for (auto *n = head; n; n = n->next)
        v.push_back(*n);
    QZ_ClearList(head);
    return v;
}

using Discovery = EmulatorTest;

TEST_F(Discovery, SearchFindsEveryScannerWithItsDescription) {
    const auto found = listOf(QZ_Search(417, 1500));
    ASSERT_EQ(found.size(), 3u);
    std::set<int> seen;
    for (const DeviceAnnouncement &d : found) {
        EXPECT_EQ(d.type, 417);
        EXPECT_EQ(d.ip[0], 127);
        EXPECT_EQ(d.ip[1], 0);
        EXPECT_EQ(d.ip[2], 0);
        const int k = d.ip[3] - 1;
        ASSERT_GE(k, 0);
        ASSERT_LT(k, 3);
        seen.insert(k);
        const auto a = emu().announcement(k);
        EXPECT_EQ(0, std::memcmp(d.description, &a[12], 255));
        EXPECT_EQ(d.mac[0], 0x02);
        EXPECT_EQ(d.mac[5], k);
        const std::uint32_t serial =
            d.description[1] | (d.description[2] << 8) | (d.description[3] << 16);
        EXPECT_EQ(serial, 10000u + k);
        EXPECT_EQ(u16(&d.description[6]), 250);    // Z range
        EXPECT_EQ(u16(&d.description[10]), 230);   // X range at the end of the range
        EXPECT_EQ(u16(&d.description[12]), 16384); // discrete value
        EXPECT_EQ(u16(&d.description[14]), 0);     // error value
    }
    EXPECT_EQ(seen.size(), 3u);
}

class MalformedDiscovery : public EmulatorTest {
protected:
    EmulatorOptions options() const override {
        EmulatorOptions o = EmulatorTest::options();
        o.faults.malformedAnnouncements = true;
        return o;
    }
};

TEST_F(MalformedDiscovery, BadAnnouncementsAreNotListed) {
    const auto only417 = listOf(QZ_Search(417, 1000));
    EXPECT_EQ(only417.size(), 3u); // wrong sizes, duplicates and 0.0.0.0 dropped
    const auto any = listOf(QZ_Search(-1, 1000));
    ASSERT_EQ(any.size(), 6u); // plus the three of type 418
    int others = 0;
    for (const auto &d : any)
        if (d.type == 418) {
            ++others;
            EXPECT_EQ(d.ip[2], 1);
        }
    EXPECT_EQ(others, 3);
}

} // namespace
} // namespace qz417::sim::e2e
