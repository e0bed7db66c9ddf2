// One command connection to a scanner, closed when the object goes. Every
// exchange either succeeds or throws a Failure whose line says what failed
// (no scanner at the address, time-out, connection closed).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "device_address.h"

namespace qz417::ctl {

// Where and how patiently to talk to a scanner: --port and --timeout.
struct ConnectOptions {
    int port = QZ417_TCP_PORT; // the command channel's TCP port
    int timeoutMs = 4000;      // per receive (the library's own time-out), and for the connect
};

// A subcommand's own option table followed by the entries of --port and
// --timeout, for every subcommand that connects, and reading them back.
std::vector<OptionDef> WithConnectOptions(std::vector<OptionDef> own);
ConnectOptions ReadConnectOptions(const CommandLine &cl);

// The address of the one scanner a subcommand talks to: its only positional
// word (a UsageError naming `usage` otherwise).
Ipv4 ScannerAddressArgument(const CommandLine &cl, const std::string &usage);

class ScannerConnection {
public:
    // Port 417 connects through the library (QZ417_Connect); another port
    // with a socket of this program's own, which the library's exchanges
    // then use like one of theirs. A --timeout other than the library's
    // replaces the receive time-out of the socket.
    explicit ScannerConnection(const Ipv4 &ip, const ConnectOptions &options = {});
    ~ScannerConnection();
    ScannerConnection(const ScannerConnection &) = delete;
    ScannerConnection &operator=(const ScannerConnection &) = delete;

    std::array<std::uint8_t, QZ417_CONFIG_SIZE> readParams();
    void writeParams(const std::array<std::uint8_t, QZ417_CONFIG_SIZE> &block);
    void flushParams(int mode); // QZ417_FLUSH_STORE or QZ417_FLUSH_DEFAULTS
    std::array<std::uint8_t, QZ417_PACKET_SIZE> getResult();
    std::vector<std::uint8_t> getImage(); // QZ417_IMAGE_SIZE bytes
    std::int16_t calcAngle();

    const std::string &address() const { return address_; }

private:
    [[noreturn]] void fail(const std::string &what) const;

    std::string address_;
    int timeoutMs_;
    std::int32_t socket_ = -1;
    bool ownSocket_ = false; // made here for another port: closed here, not by the library
};

} // namespace qz417::ctl
