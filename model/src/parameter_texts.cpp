#include "model/parameter_texts.h"

namespace qz417 {

namespace {
constexpr int kByteValues = 256;
} // namespace

std::vector<std::string> UdpFrequencyItems() {
    std::vector<std::string> items{"disable"};
    for (int n = 1; n < kByteValues; ++n)
        items.push_back(std::to_string(n) + " Hz.");
    return items;
}

std::vector<std::string> AnalogOutPointsItems() {
    return {"off", "128 pnt.", "256 pnt.", "512 pnt.", "1024 pnt."};
}

std::vector<std::string> AnalogOutTimeItems() {
    std::vector<std::string> items;
    for (int i = 0; i < kByteValues; ++i)
        items.push_back(std::to_string(i + 1) + " us.");
    return items;
}

std::vector<std::string> SyncDividerItems() {
    std::vector<std::string> items;
    for (int i = 0; i < kByteValues; ++i)
        items.push_back("Meas. / " + std::to_string(i + 1));
    return items;
}

std::vector<std::string> SyncDelayItems() {
    std::vector<std::string> items;
    for (int i = 0; i < kByteValues; ++i)
        items.push_back(std::to_string(i) + " ms.");
    return items;
}

std::string LaserCaption(int level) {
    return "Laser: " + std::to_string(level) + " level";
}

std::string IntegrationCaption(int value) {
    return "Integration: " + std::to_string(value + 1) + " us";
}

} // namespace qz417
