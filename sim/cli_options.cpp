#include "cli_options.h"

#include "config_block.h"
#include "net_util.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace qzsim {

namespace {

bool parseInteger(const std::string &text, long long lo, long long hi, long long *out) {
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0); // decimal or 0x...
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

bool parseReal(const std::string &text, double lo, double hi, double *out) {
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

} // namespace

std::string usageText() {
    return R"(Usage: qz417sim [OPTION]...
Emulates one or more QZ417 laser profile scanners on loopback: scanner k
(0-based) listens on 127.0.0.(k+1), TCP port 417, announces itself to the
discovery port, measures a synthetic conveyor scene and streams its profiles
by UDP when its parameter block asks for it. Stop it with Ctrl-C (SIGINT) or
SIGTERM.

Scanners and network:
  --count N                 number of emulated scanners, 1..254 (default 1)
  --port PORT               TCP port of the command channel (default 417;
                            below 1024 needs root or CAP_NET_BIND_SERVICE)
  --announce-to ADDR[:PORT] where announcements go (default 127.0.0.1:6001);
                            an address outside 127.0.0.0/8 is used only
                            when given here
  --announce-interval MS    time between announcements, 0 = none (default 250)
  --allow-network           allow the UDP stream to go outside 127.0.0.0/8
  --state-dir DIR           keep stored parameter blocks (command 6, mode 0)
                            in DIR/scanner-<address>.cfg and load them at
                            start; without it they live as long as the process
  --quiet                   no line per connection event on stderr

Measurements:
  --rate HZ                 measurement rate (default 1000)
  --counter-start N         first value of the packets' measurement and
                            packet counters, 0..65535 (default 0)
  --trigger-hz HZ           rate of the emulated sync pulses; with measurement
                            synchronisation on, one measurement per divider
                            pulses (default 100)
  --udp-hz N                udpFrequency of the factory block, 0..255, 0 = off
                            (default 0)
  --stream-rate HZ          stream at this rate, whatever the block says, up
                            to 1000000 (for benchmarks; default: the block's)
  --tilt DEG                tilt of the emulated mount, -45..45 (default 3);
                            the angle calculation (command 7) measures it

Replay (instead of the synthetic scene):
  --replay FILE             stream and answer command 1 with the profiles of a
                            recording (qz417ctl stream --record), byte for
                            byte; the recording's description and first
                            parameter block are announced and served, with
                            this scanner's own addresses
  --replay-rate HZ          replay at this rate instead of the recorded timing
  --replay-once             play the recording once (default: loop); the
                            stream then stops and command 1 keeps answering
                            with the last profile

Device description (each scanner announces it):
  --type CODE               type code, 0..65535 (default 417)
  --modification BITS       option bits, 0..255 (default 0x2F: Ethernet,
                            external result and measurement sync, voltage
                            analog output, laser modulation)
  --serial N                serial number of scanner 0, 1..16777215; scanner k
                            announces N + k (default 10000)
  --base MM                 base distance (default 80)
  --range-z MM              Z range (default 250)
  --range-x-smr MM          X range at the start of the range (default 140)
  --range-x-emr MM          X range at the end of the range (default 230)
  --discrete N              raw value of the full range (default 16384)
  --error-value N           raw value of an invalid point, -32768..32767
                            (default 0)
  --firmware N              firmware version number (default 417)

Faults (for tests; counts are commands per connection, the fault hits every
command after the first N):
  --segment BYTES[:DELAY_MS] send replies in pieces of BYTES, DELAY_MS apart
  --stall-after N           stop answering after N commands (the connection
                            stays open)
  --close-mid-reply-after N send half of a reply, then close
  --reset-after N           reset the connection (RST) instead of answering
  --malformed-announcements also announce 267 and 269 bytes, a duplicate,
                            address 0.0.0.0 and type 418 (from 127.0.1.(k+1))
  --angle-reply UNITS       answer command 7 with this value, -32768..32767
  --fault-scanner K         apply the faults only to scanner K (default: all)

  --help                    show this text and exit
)";
}

CommandLine parseCommandLine(const std::vector<std::string> &args) {
    CommandLine cl;
    EmulatorOptions &o = cl.options;
    o.quiet = false;
    DescriptionOptions &d = o.description;
    FaultOptions &f = o.faults;

    auto integer = [](auto *target, long long lo, long long hi) {
        return [target, lo, hi](const std::string &v) {
            long long n = 0;
            if (!parseInteger(v, lo, hi, &n))
                return false;
            *target = static_cast<std::remove_reference_t<decltype(*target)>>(n);
            return true;
        };
    };
    auto real = [](double *target, double lo, double hi) {
        return [target, lo, hi](const std::string &v) { return parseReal(v, lo, hi, target); };
    };
    using Setter = std::function<bool(const std::string &)>;
    const std::map<std::string, Setter> withValue = {
        {"--count", integer(&o.count, 1, 254)},
        {"--port", integer(&o.tcpPort, 1, 65535)},
        {"--announce-to",
         [&o](const std::string &v) {
             std::string addr = v;
             const auto colon = v.find(':');
             if (colon != std::string::npos) {
                 addr = v.substr(0, colon);
                 long long port = 0;
                 if (!parseInteger(v.substr(colon + 1), 1, 65535, &port))
                     return false;
                 o.announcePort = static_cast<std::uint16_t>(port);
             }
             Ipv4 ip;
             if (!parseIpv4(addr, &ip))
                 return false;
             o.announceAddress = addr;
             o.announceOffLoopback = true;
             return true;
         }},
        {"--announce-interval", integer(&o.announceIntervalMs, 0, 3600000)},
        {"--rate", real(&o.measurementRateHz, 0, 1e6)},
        {"--counter-start", integer(&o.counterStart, 0, 65535)},
        {"--trigger-hz", real(&o.triggerHz, 0, 1e6)},
        {"--udp-hz", integer(&o.udpHz, 0, 255)},
        {"--stream-rate", real(&o.streamRateHz, 0, 1e6)},
        {"--tilt", real(&o.mountTiltDeg, -45, 45)},
        {"--state-dir",
         [&o](const std::string &v) {
             o.stateDir = v;
             return !v.empty();
         }},
        {"--type", integer(&d.type, 0, 65535)},
        {"--modification", integer(&d.modification, 0, 255)},
        {"--serial", integer(&d.serialNumber, 1, 16777215)},
        {"--base", integer(&d.baseDistance, 0, 65535)},
        {"--range-z", integer(&d.rangeZ, 0, 65535)},
        {"--range-x-smr", integer(&d.rangeXSmr, 0, 65535)},
        {"--range-x-emr", integer(&d.rangeXEmr, 0, 65535)},
        {"--discrete", integer(&d.discreteValue, 0, 65535)},
        {"--error-value", integer(&d.errorValue, -32768, 32767)},
        {"--firmware", integer(&d.firmwareVersion, 0, 4294967295LL)},
        {"--segment",
         [&f](const std::string &v) {
             long long bytes = 0, delay = 0;
             const auto colon = v.find(':');
             if (!parseInteger(v.substr(0, colon), 1, 1 << 20, &bytes))
                 return false;
             if (colon != std::string::npos && !parseInteger(v.substr(colon + 1), 0, 10000, &delay))
                 return false;
             f.segmentBytes = static_cast<int>(bytes);
             f.segmentDelayMs = static_cast<int>(delay);
             return true;
         }},
        {"--stall-after", integer(&f.stallAfterCommands, 0, 1 << 30)},
        {"--close-mid-reply-after", integer(&f.closeMidReplyAfter, 0, 1 << 30)},
        {"--reset-after", integer(&f.resetAfterCommands, 0, 1 << 30)},
        {"--angle-reply",
         [&f](const std::string &v) {
             long long n = 0;
             if (!parseInteger(v, -32768, 32767, &n))
                 return false;
             f.angleReply = static_cast<std::int16_t>(n);
             return true;
         }},
        {"--fault-scanner", integer(&o.faultScanner, 0, 253)},
        {"--replay",
         [&o](const std::string &v) {
             o.replayPath = v;
             return !v.empty();
         }},
        {"--replay-rate", real(&o.replayRateHz, 0.001, 1e6)},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--allow-network", [&o] { o.allowNetwork = true; }},
        {"--quiet", [&o] { o.quiet = true; }},
        {"--replay-once", [&o] { o.replayOnce = true; }},
        {"--malformed-announcements", [&f] { f.malformedAnnouncements = true; }},
        {"--help", [&cl] { cl.help = true; }},
        {"-h", [&cl] { cl.help = true; }},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool inlineValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        if (auto fl = flags.find(name); fl != flags.end() && !inlineValue) {
            fl->second();
            continue;
        }
        auto opt = withValue.find(name);
        if (opt == withValue.end()) {
            cl.error = "unknown option '" + args[i] + "'";
            return cl;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                cl.error = "option '" + name + "' needs a value";
                return cl;
            }
            value = args[++i];
        }
        if (!opt->second(value)) {
            cl.error = "invalid value '" + value + "' for " + name;
            return cl;
        }
    }
    if (o.faultScanner >= o.count) {
        cl.error = "--fault-scanner " + std::to_string(o.faultScanner) +
                   " names no scanner (--count " + std::to_string(o.count) + ")";
    }
    return cl;
}

} // namespace qzsim
