#include "emulator.h"

namespace qzsim {

struct Emulator::Impl {
    EmulatorOptions options;
};

Emulator::Emulator(EmulatorOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}
Emulator::~Emulator() { stop(); }
bool Emulator::start(std::string *error) {
    if (error)
        *error = "not ready";
    return false;
}
void Emulator::stop() {}
int Emulator::count() const { return impl_->options.count; }
std::string Emulator::address(int k) const { return "127.0.0." + std::to_string(k + 1); }
std::array<std::uint8_t, 512> Emulator::config(int) const { return {}; }
void Emulator::setConfig(int, const std::array<std::uint8_t, 512> &) {}
std::array<std::uint8_t, 268> Emulator::announcement(int) const { return {}; }
void Emulator::setFaults(int, const FaultOptions &) {}
std::uint64_t Emulator::commandsServed(int, int) const { return 0; }
std::uint64_t Emulator::connectionsAccepted(int) const { return 0; }
std::uint64_t Emulator::udpPacketsSent(int) const { return 0; }

} // namespace qzsim
