// qz417ctl info: the self-description of one scanner, in the rows of the
// program's information page.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "device_address.h"
#include "failure.h"
#include "model/device_description.h"
#include "scanner_connection.h"

#include <nlohmann/json.hpp>

namespace qz417::ctl {

namespace {

constexpr const char *kUsage = "qz417ctl info ADDR [--time MS] [--json]";
constexpr const char *kHelp =
    "usage: qz417ctl info ADDR [--time MS] [--json]\n"
    "\n"
    "Listens for the announcement of the scanner at ADDR (IPv4) and prints its\n"
    "self-description in the rows of the setup program's information page.\n";

} // namespace

int RunInfo(const Args &args) {
    const std::vector<OptionDef> options = {
        {"time", 0, "MS", "how long to listen, 1..65535 ms (default 5000)"},
        {"json", 0, "",
         "print one JSON object: address, mac, type, each field of the\n"
         "self-description, and \"rows\", the rows of the information page"}};
    const CommandLine cl(args, options);
    if (cl.printHelpIfAsked(HelpText(kHelp, options)))
        return kExitOk;
    const Ipv4 ip = ScannerAddressArgument(cl, kUsage);
    const int timeMs = static_cast<int>(cl.integer("time", 5000, 1, 65535));
    const auto record = FindScanner(ip, timeMs);
    if (!record)
        throw Failure("no scanner at " + FormatIpv4(ip.data()) + " heard within " +
                      std::to_string(timeMs) + " ms");
    const qz417::DeviceDescription d = qz417::DecodeDescription(record->description);
    const std::vector<std::string> rows = qz417::DescriptionRows(d);
    if (cl.has("json")) {
        const nlohmann::json info = {{"address", FormatIpv4(record->ip)},
                                     {"mac", FormatMac(record->mac)},
                                     {"type", record->type},
                                     {"modification", d.modification},
                                     {"serialNumber", d.serialNumber},
                                     {"baseDistance", d.baseDistance},
                                     {"rangeZ", d.rangeZ},
                                     {"rangeXSmr", d.rangeXSmr},
                                     {"rangeXEmr", d.rangeXEmr},
                                     {"discreteValue", d.discreteValue},
                                     {"errorValue", d.errorValue},
                                     {"firmwareVersion", d.firmwareVersion},
                                     {"rows", rows}};
        std::cout << info.dump(2) << "\n";
        return kExitOk;
    }
    for (const std::string &row : rows)
        std::cout << row << "\n";
    return kExitOk;
}

} // namespace qz417::ctl
