#include "model/config_area.h"

#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

using qz417::ConfigArea;

ConfigArea RandomArea(std::mt19937 &rng) {
    ConfigArea area;
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < ConfigArea::kSize; ++i)
        area.setByteAt(i, static_cast<std::uint8_t>(byte(rng)));
    return area;
}

TEST(ConfigAreaTest, NewAreaIsAllZero) {
    const ConfigArea area;
    for (std::size_t i = 0; i < ConfigArea::kSize; ++i)
        ASSERT_EQ(area.byteAt(i), 0u) << "byte " << i;
}

TEST(ConfigAreaTest, AddressOctetsAreStoredLastOctetFirst) {
    ConfigArea area;
    const std::uint8_t ip[4] = {192, 168, 1, 30};
    const std::uint8_t mask[4] = {255, 255, 255, 0};
    const std::uint8_t udp[4] = {10, 20, 30, 40};
    for (int i = 0; i < 4; ++i) {
        area.setNetAddressOctet(i, ip[i]);
        area.setNetMaskOctet(i, mask[i]);
        area.setUdpAddressOctet(i, udp[i]);
    }
    const std::uint8_t expected[12] = {30, 1, 168, 192, 0, 255, 255, 255, 40, 30, 20, 10};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(area.byteAt(18 + static_cast<std::size_t>(i)), expected[i]) << "byte " << 18 + i;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(area.netAddressOctet(i), ip[i]);
        EXPECT_EQ(area.netMaskOctet(i), mask[i]);
        EXPECT_EQ(area.udpAddressOctet(i), udp[i]);
    }
}

struct TwoByteCase {
    const char *name;
    std::size_t offset;
    std::function<void(ConfigArea &)> set;
    std::function<int(const ConfigArea &)> get;
    int value;
    std::uint8_t low;
    std::uint8_t high;
};

TEST(ConfigAreaTest, TwoByteFieldsAreLittleEndian) {
    const TwoByteCase cases[] = {
        {"port 6003", 30, [](ConfigArea &a) { a.setUdpPort(6003); },
         [](const ConfigArea &a) { return int{a.udpPort()}; }, 6003, 0x73, 0x17},
        {"port 65535", 30, [](ConfigArea &a) { a.setUdpPort(65535); },
         [](const ConfigArea &a) { return int{a.udpPort()}; }, 65535, 0xFF, 0xFF},
        {"angle -32767", 10, [](ConfigArea &a) { a.setAngle(-32767); },
         [](const ConfigArea &a) { return int{a.angle()}; }, -32767, 0x01, 0x80},
        {"angle 32767", 10, [](ConfigArea &a) { a.setAngle(32767); },
         [](const ConfigArea &a) { return int{a.angle()}; }, 32767, 0xFF, 0x7F},
        {"angle -16384", 10, [](ConfigArea &a) { a.setAngle(-16384); },
         [](const ConfigArea &a) { return int{a.angle()}; }, -16384, 0x00, 0xC0},
        {"angle -32768", 10, [](ConfigArea &a) { a.setAngle(-32768); },
         [](const ConfigArea &a) { return int{a.angle()}; }, -32768, 0x00, 0x80},
        {"integration 0", 1, [](ConfigArea &a) { a.setIntegration(0); },
         [](const ConfigArea &a) { return int{a.integration()}; }, 0, 0x00, 0x00},
        {"integration 499", 1, [](ConfigArea &a) { a.setIntegration(499); },
         [](const ConfigArea &a) { return int{a.integration()}; }, 499, 0xF3, 0x01},
        {"integration 65535", 1, [](ConfigArea &a) { a.setIntegration(65535); },
         [](const ConfigArea &a) { return int{a.integration()}; }, 65535, 0xFF, 0xFF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ConfigArea area;
        c.set(area);
        EXPECT_EQ(area.byteAt(c.offset), c.low);
        EXPECT_EQ(area.byteAt(c.offset + 1), c.high);
        EXPECT_EQ(c.get(area), c.value);
    }
}

TEST(ConfigAreaTest, LoadAndDataRoundTripARandomBlock) {
    std::mt19937 rng(417);
    for (int round = 0; round < 20; ++round) {
        const ConfigArea source = RandomArea(rng);
        const ConfigArea copy(source.data());
        EXPECT_EQ(copy, source);
        ConfigArea loaded;
        loaded.load(source.data());
        EXPECT_TRUE(loaded.bytes() == source.bytes());
    }
}

TEST(ConfigAreaTest, SyncBitsAreBitsZeroToSixOfByteTwelve) {
    using SB = ConfigArea::SyncBit;
    const SB bits[] = {SB::kResultSyncEnable,   SB::kResultSyncFalling, SB::kMeasureSyncEnable,
                       SB::kMeasureSyncFalling, SB::kAnalogSyncEnable,  SB::kAnalogSyncFalling,
                       SB::kAnalogSyncLevel};
    for (int i = 0; i < 7; ++i) {
        ConfigArea area;
        area.setSyncBit(bits[i], true);
        EXPECT_EQ(area.syncFlags(), 1u << i);
        EXPECT_TRUE(area.syncBit(bits[i]));
        area.setByteAt(12, 0xFF);
        area.setSyncBit(bits[i], false);
        EXPECT_EQ(area.syncFlags(), static_cast<std::uint8_t>(~(1u << i)));
        EXPECT_FALSE(area.syncBit(bits[i]));
    }
}

// One setter of the area: which bytes (or, for a bit, which bit of byte 12)
// it may change, and how to call it with a random value and read it back.
struct SetterCase {
    std::string name;
    std::set<std::size_t> bytes;                          // bytes it may change
    std::uint8_t bitMask;                                 // the bits of those bytes it may change
    std::function<int(ConfigArea &, std::mt19937 &)> set; // returns the value set
    std::function<int(const ConfigArea &)> get;
};

// A setter/getter pair of any integer field, called with random values of its type.
template <class T>
SetterCase Field(std::string name, std::set<std::size_t> bytes, void (ConfigArea::*set)(T),
                 T (ConfigArea::*get)() const) {
    return {std::move(name), std::move(bytes), 0xFF,
            [set](ConfigArea &a, std::mt19937 &r) {
                const T v = static_cast<T>(std::uniform_int_distribution<int>(
                    std::numeric_limits<T>::min(), std::numeric_limits<T>::max())(r));
                (a.*set)(v);
                return int{v};
            },
            [get](const ConfigArea &a) { return int{(a.*get)()}; }};
}

// An address octet i of the field at `field`.
SetterCase Octet(std::string name, std::size_t field, int i,
                 void (ConfigArea::*set)(int, std::uint8_t),
                 std::uint8_t (ConfigArea::*get)(int) const) {
    return {name + std::to_string(i),
            {ConfigArea::octetOffset(field, i)},
            0xFF,
            [=](ConfigArea &a, std::mt19937 &r) {
                const auto v = static_cast<std::uint8_t>(r() & 0xFF);
                (a.*set)(i, v);
                return int{v};
            },
            [=](const ConfigArea &a) { return int{(a.*get)(i)}; }};
}

std::vector<SetterCase> AllSetters() {
    using A = ConfigArea;
    std::vector<SetterCase> s = {
        Field<std::uint8_t>("laserLevel", {0}, &A::setLaserLevel, &A::laserLevel),
        Field<std::uint16_t>("integration", {1, 2}, &A::setIntegration, &A::integration),
        Field<std::uint8_t>("windowLeft", {5}, &A::setWindowLeft, &A::windowLeft),
        Field<std::uint8_t>("windowWidth", {6}, &A::setWindowWidth, &A::windowWidth),
        Field<std::uint8_t>("windowTop", {7}, &A::setWindowTop, &A::windowTop),
        Field<std::uint8_t>("windowHeight", {8}, &A::setWindowHeight, &A::windowHeight),
        Field<std::uint8_t>("windowMode", {9}, &A::setWindowMode, &A::windowMode),
        Field<std::int16_t>("angle", {10, 11}, &A::setAngle, &A::angle),
        Field<std::uint8_t>("syncDivider", {14}, &A::setSyncDivider, &A::syncDivider),
        Field<std::uint8_t>("syncDelay", {15}, &A::setSyncDelay, &A::syncDelay),
        Field<std::uint8_t>("analogPoints", {16}, &A::setAnalogPoints, &A::analogPoints),
        Field<std::uint8_t>("analogTime", {17}, &A::setAnalogTime, &A::analogTime),
        Field<std::uint16_t>("udpPort", {30, 31}, &A::setUdpPort, &A::udpPort),
        Field<std::uint8_t>("udpFrequency", {32}, &A::setUdpFrequency, &A::udpFrequency),
    };
    for (int i = 0; i < 4; ++i) {
        s.push_back(Octet("netAddressOctet", A::kNetAddress, i, &A::setNetAddressOctet,
                          &A::netAddressOctet));
        s.push_back(Octet("netMaskOctet", A::kNetMask, i, &A::setNetMaskOctet, &A::netMaskOctet));
        s.push_back(Octet("udpAddressOctet", A::kUdpAddress, i, &A::setUdpAddressOctet,
                          &A::udpAddressOctet));
    }
    for (int bit = 0; bit < 7; ++bit) {
        const auto b = static_cast<A::SyncBit>(bit);
        s.push_back({"syncBit" + std::to_string(bit),
                     {12},
                     static_cast<std::uint8_t>(1u << bit),
                     [=](A &a, std::mt19937 &r) {
                         const int v = static_cast<int>(r() & 1);
                         a.setSyncBit(b, v != 0);
                         return v;
                     },
                     [=](const A &a) { return a.syncBit(b) ? 1 : 0; }});
    }
    return s;
}

TEST(ConfigAreaTest, EachSetterChangesOnlyItsOwnField) {
    std::mt19937 rng(6003);
    const auto setters = AllSetters();
    EXPECT_EQ(setters.size(), 14u + 12u + 7u);
    for (const auto &setter : setters) {
        SCOPED_TRACE(setter.name);
        for (int round = 0; round < 50; ++round) {
            const ConfigArea before = RandomArea(rng);
            ConfigArea after = before;
            const int value = setter.set(after, rng);
            ASSERT_EQ(setter.get(after), value);
            for (std::size_t i = 0; i < ConfigArea::kSize; ++i) {
                std::uint8_t allowed = setter.bytes.count(i) ? setter.bitMask : 0;
                ASSERT_EQ(after.byteAt(i) & ~allowed, before.byteAt(i) & ~allowed)
                    << "byte " << i << " changed";
            }
        }
    }
}

TEST(ConfigAreaTest, FieldsAreDisjointAndLeaveUninterpretedBytesAlone) {
    // Setting every field to its maximum on a zero block must leave exactly
    // bytes 3, 4, 13, 33..511 and bit 7 of byte 12 at zero.
    ConfigArea area;
    area.setLaserLevel(0xFF);
    area.setIntegration(0xFFFF);
    area.setWindowLeft(0xFF);
    area.setWindowWidth(0xFF);
    area.setWindowTop(0xFF);
    area.setWindowHeight(0xFF);
    area.setWindowMode(0xFF);
    area.setAngle(-1);
    for (int b = 0; b < 7; ++b)
        area.setSyncBit(static_cast<ConfigArea::SyncBit>(b), true);
    area.setSyncDivider(0xFF);
    area.setSyncDelay(0xFF);
    area.setAnalogPoints(0xFF);
    area.setAnalogTime(0xFF);
    for (int i = 0; i < 4; ++i) {
        area.setNetAddressOctet(i, 0xFF);
        area.setNetMaskOctet(i, 0xFF);
        area.setUdpAddressOctet(i, 0xFF);
    }
    area.setUdpPort(0xFFFF);
    area.setUdpFrequency(0xFF);
    for (std::size_t i = 0; i < ConfigArea::kSize; ++i) {
        std::uint8_t expected = 0xFF;
        if (i == 3 || i == 4 || i == 13 || i >= 33)
            expected = 0;
        if (i == 12)
            expected = 0x7F;
        EXPECT_EQ(area.byteAt(i), expected) << "byte " << i;
    }
}

} // namespace
