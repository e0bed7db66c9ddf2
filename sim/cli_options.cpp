#include "cli_options.h"

#include "config_block.h"
#include "net_util.h"
#include "qzcli.h"

#include <functional>

namespace qz417::sim {

namespace {

// A setter stores a value and returns an empty string, or returns the one
// line that says what is wrong with it.
using Setter = std::function<std::string(const std::string &)>;

struct Entry {
    qz417::cli::Option option;
    Setter set; // empty for a heading
};

template <typename T> Setter Integer(T *target, long long lo, long long hi, const char *name) {
    return [target, lo, hi, name](const std::string &v) {
        std::string error;
        const auto n = qz417::cli::ParseInteger(v, lo, hi, std::string("--") + name, &error);
        if (n)
            *target = static_cast<T>(*n);
        return error;
    };
}

Setter Real(double *target, double lo, double hi, const char *name) {
    return [target, lo, hi, name](const std::string &v) {
        std::string error;
        if (const auto n = qz417::cli::ParseReal(v, lo, hi, std::string("--") + name, &error))
            *target = *n;
        return error;
    };
}

Setter Flag(bool *target) {
    return [target](const std::string &) {
        *target = true;
        return std::string();
    };
}

qz417::cli::Option Heading(const char *text) {
    return {"", 0, "", text};
}

// The whole option table; `o` receives the values. Built anew for each use
// so that the setters point at the options being filled.
std::vector<Entry> Table(EmulatorOptions &o) {
    DescriptionOptions &d = o.description;
    FaultOptions &f = o.faults;
    return {
        {Heading("Scanners and network:"), {}},
        {{"count", 0, "N", "number of emulated scanners, 1..254 (default 1)"},
         Integer(&o.count, 1, 254, "count")},
        {{"port", 0, "PORT",
          "TCP port of the command channel (default 417;\nbelow 1024 needs root or "
          "CAP_NET_BIND_SERVICE)"},
         Integer(&o.tcpPort, 1, 65535, "port")},
        {{"announce-to", 0, "ADDR[:PORT]",
          "where announcements go (default 127.0.0.1:6001);\nan address outside 127.0.0.0/8 "
          "is used only\nwhen given here"},
         [&o](const std::string &v) {
             std::string addr = v;
             const auto colon = v.find(':');
             if (colon != std::string::npos) {
                 addr = v.substr(0, colon);
                 std::string error;
                 const auto port = qz417::cli::ParseInteger(v.substr(colon + 1), 1, 65535,
                                                            "--announce-to port", &error);
                 if (!port)
                     return error;
                 o.announcePort = static_cast<std::uint16_t>(*port);
             }
             Ipv4 ip;
             if (!parseIpv4(addr, &ip))
                 return "--announce-to: '" + addr + "' is not an IPv4 address";
             o.announceAddress = addr;
             o.announceOffLoopback = true;
             return std::string();
         }},
        {{"announce-interval", 0, "MS", "time between announcements, 0 = none (default 250)"},
         Integer(&o.announceIntervalMs, 0, 3600000, "announce-interval")},
        {{"allow-network", 0, "", "allow the UDP stream to go outside 127.0.0.0/8"},
         Flag(&o.allowNetwork)},
        {{"state-dir", 0, "DIR",
          "keep stored parameter blocks (command 6, mode 0)\nin DIR/scanner-<address>.cfg and "
          "load them at\nstart; without it they live as long as the process"},
         [&o](const std::string &v) {
             if (v.empty())
                 return std::string("--state-dir: the directory name is empty");
             o.stateDir = v;
             return std::string();
         }},
        {{"quiet", 0, "", "no line per connection event on stderr"}, Flag(&o.quiet)},
        {Heading("\nMeasurements:"), {}},
        {{"rate", 0, "HZ", "measurement rate (default 1000)"},
         Real(&o.measurementRateHz, 0, 1e6, "rate")},
        {{"counter-start", 0, "N",
          "first value of the packets' measurement and\npacket counters, 0..65535 (default 0)"},
         Integer(&o.counterStart, 0, 65535, "counter-start")},
        {{"trigger-hz", 0, "HZ",
          "rate of the emulated sync pulses; with measurement\nsynchronisation on, one "
          "measurement per divider\npulses (default 100)"},
         Real(&o.triggerHz, 0, 1e6, "trigger-hz")},
        {{"udp-hz", 0, "N", "udpFrequency of the factory block, 0..255, 0 = off\n(default 0)"},
         Integer(&o.udpHz, 0, 255, "udp-hz")},
        {{"stream-rate", 0, "HZ",
          "stream at this rate, whatever the block says, up\nto 1000000 (for benchmarks; "
          "default: the block's)"},
         Real(&o.streamRateHz, 0, 1e6, "stream-rate")},
        {{"tilt", 0, "DEG",
          "tilt of the emulated mount, -45..45 (default 3);\nthe angle calculation (command 7) "
          "measures it"},
         Real(&o.mountTiltDeg, -45, 45, "tilt")},
        {Heading("\nReplay (instead of the synthetic scene):"), {}},
        {{"replay", 0, "FILE",
          "stream and answer command 1 with the profiles of a\nrecording (qz417ctl stream "
          "--record), byte for\nbyte; the recording's description and first\nparameter block "
          "are announced and served, with\nthis scanner's own addresses"},
         [&o](const std::string &v) {
             if (v.empty())
                 return std::string("--replay: the file name is empty");
             o.replayPath = v;
             return std::string();
         }},
        {{"replay-rate", 0, "HZ", "replay at this rate instead of the recorded timing"},
         Real(&o.replayRateHz, 0.001, 1e6, "replay-rate")},
        {{"replay-once", 0, "",
          "play the recording once (default: loop); the\nstream then stops and command 1 keeps "
          "answering\nwith the last profile"},
         Flag(&o.replayOnce)},
        {Heading("\nDevice description (each scanner announces it):"), {}},
        {{"type", 0, "CODE", "type code, 0..65535 (default 417)"},
         Integer(&d.type, 0, 65535, "type")},
        {{"modification", 0, "BITS",
          "option bits, 0..255 (default 0x2F: Ethernet,\nexternal result and measurement sync, "
          "voltage\nanalog output, laser modulation)"},
         Integer(&d.modification, 0, 255, "modification")},
        {{"serial", 0, "N",
          "serial number of scanner 0, 1..16777215; scanner k\nannounces N + k (default 10000)"},
         Integer(&d.serialNumber, 1, 16777215, "serial")},
        {{"base", 0, "MM", "base distance (default 80)"},
         Integer(&d.baseDistance, 0, 65535, "base")},
        {{"range-z", 0, "MM", "Z range (default 250)"}, Integer(&d.rangeZ, 0, 65535, "range-z")},
        {{"range-x-smr", 0, "MM", "X range at the start of the range (default 140)"},
         Integer(&d.rangeXSmr, 0, 65535, "range-x-smr")},
        {{"range-x-emr", 0, "MM", "X range at the end of the range (default 230)"},
         Integer(&d.rangeXEmr, 0, 65535, "range-x-emr")},
        {{"discrete", 0, "N", "raw value of the full range (default 16384)"},
         Integer(&d.discreteValue, 0, 65535, "discrete")},
        {{"error-value", 0, "N", "raw value of an invalid point, -32768..32767\n(default 0)"},
         Integer(&d.errorValue, -32768, 32767, "error-value")},
        {{"firmware", 0, "N", "firmware version number (default 417)"},
         Integer(&d.firmwareVersion, 0, 4294967295LL, "firmware")},
        {Heading("\nFaults (for tests; counts are commands per connection, the fault hits every\n"
                 "command after the first N):"),
         {}},
        {{"segment", 0, "BYTES[:DELAY_MS]", "send replies in pieces of BYTES, DELAY_MS apart"},
         [&f](const std::string &v) {
             const auto colon = v.find(':');
             std::string error;
             const auto bytes = qz417::cli::ParseInteger(v.substr(0, colon), 1, 1 << 20,
                                                         "--segment bytes", &error);
             if (!bytes)
                 return error;
             std::int64_t delay = 0;
             if (colon != std::string::npos) {
                 const auto d = qz417::cli::ParseInteger(v.substr(colon + 1), 0, 10000,
                                                         "--segment delay", &error);
                 if (!d)
                     return error;
                 delay = *d;
             }
             f.segmentBytes = static_cast<int>(*bytes);
             f.segmentDelayMs = static_cast<int>(delay);
             return std::string();
         }},
        {{"stall-after", 0, "N", "stop answering after N commands (the connection\nstays open)"},
         Integer(&f.stallAfterCommands, 0, 1 << 30, "stall-after")},
        {{"close-mid-reply-after", 0, "N", "send half of a reply, then close"},
         Integer(&f.closeMidReplyAfter, 0, 1 << 30, "close-mid-reply-after")},
        {{"reset-after", 0, "N", "reset the connection (RST) instead of answering"},
         Integer(&f.resetAfterCommands, 0, 1 << 30, "reset-after")},
        {{"malformed-announcements", 0, "",
          "also announce 267 and 269 bytes, a duplicate,\naddress 0.0.0.0 and type 418 (from "
          "127.0.1.(k+1))"},
         Flag(&f.malformedAnnouncements)},
        {{"angle-reply", 0, "UNITS", "answer command 7 with this value, -32768..32767"},
         [&f](const std::string &v) {
             std::string error;
             const auto n = qz417::cli::ParseInteger(v, -32768, 32767, "--angle-reply", &error);
             if (n)
                 f.angleReply = static_cast<std::int16_t>(*n);
             return error;
         }},
        {{"fault-scanner", 0, "K", "apply the faults only to scanner K (default: all)"},
         Integer(&o.faultScanner, 0, 253, "fault-scanner")},
        {Heading(""), {}},
    };
}

std::vector<qz417::cli::Option> Options(const std::vector<Entry> &table) {
    std::vector<qz417::cli::Option> options;
    for (const Entry &e : table)
        options.push_back(e.option);
    return options;
}

} // namespace

std::string usageText() {
    EmulatorOptions unused;
    return R"(Usage: qz417sim [OPTION]...
Emulates one or more QZ417 laser profile scanners on loopback: scanner k
(0-based) listens on 127.0.0.(k+1), TCP port 417, announces itself to the
discovery port, measures a synthetic conveyor scene and streams its profiles
by UDP when its parameter block asks for it. Stop it with Ctrl-C (SIGINT) or
SIGTERM.

)" + qz417::cli::OptionHelp(Options(Table(unused)), 28) +
           R"(
Numbers are decimal, leading zeros included (010 is ten); hexadecimal after 0x.
)";
}

CommandLine parseCommandLine(const std::vector<std::string> &args) {
    CommandLine cl;
    EmulatorOptions &o = cl.options;
    o.quiet = false;
    const std::vector<Entry> table = Table(o);
    const qz417::cli::ParsedLine line = qz417::cli::Parse(args, Options(table));
    cl.help = line.helpRequested();
    if (!line.error().empty()) {
        cl.error = line.error();
        return cl;
    }
    if (!line.positional().empty()) {
        cl.error = "unexpected argument '" + line.positional().front() + "'";
        return cl;
    }
    for (const auto &[name, value] : line.options()) {
        for (const Entry &e : table) {
            if (e.option.name != name)
                continue;
            if (std::string error = e.set(value); !error.empty()) {
                cl.error = error;
                return cl;
            }
        }
    }
    if (o.faultScanner >= o.count) {
        cl.error = "--fault-scanner " + std::to_string(o.faultScanner) +
                   " names no scanner (--count " + std::to_string(o.count) + ")";
    }
    return cl;
}

} // namespace qz417::sim
