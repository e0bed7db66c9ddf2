// qz417ctl angle: the mounting angle the scanner calculates, in degrees.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "config/angle_units.h"
#include "failure.h"
#include "scanner_connection.h"

namespace qzctl {

namespace {

constexpr const char *kUsage = "qz417ctl angle ADDR [--port PORT] [--timeout MS]";
constexpr const char *kHelp =
    "usage: qz417ctl angle ADDR [--port PORT] [--timeout MS]\n"
    "\n"
    "Asks the scanner at ADDR to calculate its mounting angle from what it measures\n"
    "and prints it in degrees with three decimals, or \"Out of range\" when the\n"
    "scanner found no angle. The parameter block is not changed; to apply the angle,\n"
    "set the negated value: qz417ctl params set ADDR angle=UNITS.\n";

} // namespace

int RunAngle(const Args &args) {
    const std::vector<OptionDef> options = ConnectOptionDefs();
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options);
        return kExitOk;
    }
    cl.expectPositional(1, kUsage);
    const Ipv4 ip = ParseIpv4(cl.positional()[0]);
    ScannerConnection scanner(ip, ReadConnectOptions(cl));
    const std::int16_t units = scanner.calcAngle();
    if (units == qz::kAngleOutOfRange)
        std::cout << "Out of range\n";
    else
        std::cout << qz::FormatDegrees(qz::AngleDegrees(units)) << "\n";
    return kExitOk;
}

} // namespace qzctl
