// qz417ctl angle: the mounting angle the scanner calculates, in degrees.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "model/angle_units.h"
#include "scanner_connection.h"
#include <nlohmann/json.hpp>

namespace qz417::ctl {

namespace {

constexpr const char *kUsage = "qz417ctl angle ADDR [--json] [--port PORT] [--timeout MS]";
constexpr const char *kHelp =
    "usage: qz417ctl angle ADDR [--json] [--port PORT] [--timeout MS]\n"
    "\n"
    "Asks the scanner at ADDR to calculate its mounting angle from what it measures\n"
    "and prints it in degrees with three decimals, or \"Out of range\" when the\n"
    "scanner found no angle. The parameter block is not changed; to apply the angle,\n"
    "set the negated value: qz417ctl params set ADDR angle=UNITS.\n";

} // namespace

int RunAngle(const Args &args) {
    const std::vector<OptionDef> options =
        WithConnectOptions({{"json", 0, "",
                             "print {\"address\", \"units\" (the scanner's reply), \"degrees\"\n"
                             "(null when out of range), \"outOfRange\"}"}});
    const CommandLine cl(args, options);
    if (cl.printHelpIfAsked(HelpText(kHelp, options)))
        return kExitOk;
    const Ipv4 ip = ScannerAddressArgument(cl, kUsage);
    ScannerConnection scanner(ip, ReadConnectOptions(cl));
    const std::int16_t units = scanner.calcAngle();
    if (cl.has("json")) {
        nlohmann::json angle = {{"address", scanner.address()},
                                {"units", units},
                                {"degrees", nullptr},
                                {"outOfRange", units == qz417::kAngleOutOfRange}};
        // The same three decimals as the text, as a number.
        if (units != qz417::kAngleOutOfRange)
            angle["degrees"] = std::stod(qz417::FormatDegrees(qz417::AngleDegrees(units)));
        std::cout << angle.dump() << "\n";
    } else if (units == qz417::kAngleOutOfRange)
        std::cout << "Out of range\n";
    else
        std::cout << qz417::FormatDegrees(qz417::AngleDegrees(units)) << "\n";
    return kExitOk;
}

} // namespace qz417::ctl
