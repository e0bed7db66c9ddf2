// qz417ctl search: list the scanners heard, with address, MAC and every
// field of their self-description.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "command_line.h"
#include "commands.h"
#include "device_address.h"
#include "failure.h"
#include "model/device_description.h"

namespace qz417::ctl {

namespace {

constexpr const char *kUsage = "qz417ctl search [--time MS] [--type N] [--json]";
constexpr const char *kHelp =
    "usage: qz417ctl search [--time MS] [--type N] [--json]\n"
    "\n"
    "Listens for scanner announcements on UDP port 6001 and lists every scanner heard:\n"
    "its address, MAC, type code and each field of its self-description.\n";

struct Row {
    std::string address, mac;
    std::uint16_t type;
    qz417::DeviceDescription d;
};

void PrintTable(const std::vector<Row> &rows) {
    const std::vector<std::string> header = {
        "address", "mac",       "type",      "modification",  "serialNumber", "baseDistance",
        "rangeZ",  "rangeXSmr", "rangeXEmr", "discreteValue", "errorValue",   "firmwareVersion"};
    std::vector<std::vector<std::string>> cells = {header};
    for (const Row &r : rows) {
        char modification[8];
        std::snprintf(modification, sizeof modification, "0x%02x", r.d.modification);
        cells.push_back({r.address, r.mac, std::to_string(r.type), modification,
                         std::to_string(r.d.serialNumber), std::to_string(r.d.baseDistance),
                         std::to_string(r.d.rangeZ), std::to_string(r.d.rangeXSmr),
                         std::to_string(r.d.rangeXEmr), std::to_string(r.d.discreteValue),
                         std::to_string(r.d.errorValue), std::to_string(r.d.firmwareVersion)});
    }
    std::vector<std::size_t> width(header.size(), 0);
    for (const auto &line : cells)
        for (std::size_t c = 0; c < line.size(); ++c)
            width[c] = std::max(width[c], line[c].size());
    for (const auto &line : cells) {
        std::string text;
        for (std::size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            if (c + 1 < line.size())
                text += std::string(width[c] - line[c].size() + 2, ' ');
        }
        std::cout << text << "\n";
    }
}

void PrintJson(const std::vector<Row> &rows) {
    std::cout << "[\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row &r = rows[i];
        std::cout << "  {\"address\": " << nlohmann::json(r.address).dump()
                  << ", \"mac\": " << nlohmann::json(r.mac).dump() << ", \"type\": " << r.type
                  << ", \"modification\": " << int{r.d.modification}
                  << ", \"serialNumber\": " << r.d.serialNumber
                  << ", \"baseDistance\": " << r.d.baseDistance << ", \"rangeZ\": " << r.d.rangeZ
                  << ", \"rangeXSmr\": " << r.d.rangeXSmr << ", \"rangeXEmr\": " << r.d.rangeXEmr
                  << ", \"discreteValue\": " << r.d.discreteValue
                  << ", \"errorValue\": " << r.d.errorValue
                  << ", \"firmwareVersion\": " << r.d.firmwareVersion << "}"
                  << (i + 1 < rows.size() ? ",\n" : "\n");
    }
    std::cout << "]\n";
}

} // namespace

int RunSearch(const Args &args) {
    const std::vector<OptionDef> options = {
        {"time", 0, "MS", "listening time in milliseconds, 1..65535 (default 5000)"},
        {"type", 0, "N", "only scanners of this type code, -1 for every type (default 417)"},
        {"json", 0, "", "print a JSON array instead of a table"}};
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options, "Exit status 1 when no scanner was heard.\n");
        return kExitOk;
    }
    cl.expectPositional(0, kUsage);
    const int timeMs = static_cast<int>(cl.integer("time", 5000, 1, 65535));
    const int type = static_cast<int>(cl.integer("type", QZ417_TYPE_CODE, -1, 65535));

    std::vector<Row> rows;
    for (const DeviceAnnouncement &a : SearchScanners(type == -1 ? 0xFFFF : type, timeMs))
        rows.push_back(
            {FormatIpv4(a.ip), FormatMac(a.mac), a.type, qz417::DecodeDescription(a.description)});
    if (rows.empty())
        throw Failure("no scanner heard on UDP port 6001 within " + std::to_string(timeMs) + " ms");
    if (cl.has("json"))
        PrintJson(rows);
    else
        PrintTable(rows);
    return kExitOk;
}

} // namespace qz417::ctl
