// qz417ctl profile: fetch N new profiles over the command channel and write
// them in millimetres, as the program's profile file text, CSV or PLY.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>

#include "command_line.h"
#include "commands.h"
#include "config/device_description.h"
#include "device_address.h"
#include "failure.h"
#include "file_io.h"
#include "profile_output.h"
#include "scanner_connection.h"
#include "views/profile_recording.h"

namespace qzctl {

namespace {

constexpr const char *kUsage = "qz417ctl profile ADDR [--count N] [--format txt|csv|ply] [-o FILE]";
constexpr const char *kHelp =
    "usage: qz417ctl profile ADDR [--count N] [--format txt|csv|ply] [-o FILE]\n"
    "                        [--search MS] [--raw FILE] [--port PORT] [--timeout MS]\n"
    "\n"
    "Fetches N new profiles (each with another measurement counter than the one\n"
    "before) from the scanner at ADDR and writes them in millimetres.\n";

constexpr auto kNewProfileTimeout = std::chrono::seconds(5);

qz::ProfileScale ScaleOf(const Ipv4 &ip, int searchMs) {
    qz::ProfileScale scale; // the program's initial scale
    if (searchMs == 0)
        return scale;
    const auto record = FindScanner(ip, searchMs);
    if (!record) {
        std::cerr << "qz417ctl: note: no announcement from " << FormatIpv4(ip.data())
                  << " heard; using the default scale\n";
        return scale;
    }
    const qz::DeviceDescription d = qz::DecodeDescription(record->description);
    scale.rangeXEmr = d.rangeXEmr;
    scale.rangeZ = d.rangeZ;
    scale.discreteValue = d.discreteValue;
    scale.errorValue = d.errorValue;
    return scale;
}

// "dir/scan.txt" -> "dir/scan_00001.txt"; a name without extension (or a
// dot file such as ".scan") gets the number at its end.
std::string NumberedPath(const std::string &path, int n) {
    std::filesystem::path p(path);
    const std::string extension = p.extension().string();
    p.replace_filename(p.stem().string() + "_" + qz::ZeroPad(static_cast<unsigned>(n), 5) +
                       extension);
    return p.string();
}

std::vector<PacketBytes> FetchNewProfiles(ScannerConnection &scanner, int count) {
    std::vector<PacketBytes> packets;
    std::optional<std::uint16_t> previous;
    auto deadline = std::chrono::steady_clock::now() + kNewProfileTimeout;
    while (static_cast<int>(packets.size()) < count) {
        const PacketBytes packet = scanner.getResult();
        const auto counter = static_cast<std::uint16_t>(packet[0] | (packet[1] << 8));
        if (!previous || *previous != counter) {
            packets.push_back(packet);
            deadline = std::chrono::steady_clock::now() + kNewProfileTimeout;
        } else if (std::chrono::steady_clock::now() > deadline) {
            throw Failure("time-out: " + scanner.address() + " measured no new profile within 5 s");
        }
        previous = counter;
    }
    return packets;
}

} // namespace

int RunProfile(const Args &args) {
    std::vector<OptionDef> options = {
        {"count", 0, "N", "number of profiles, 1..65535 (default 1)"},
        {"format", 0, "F",
         "txt: the setup program's profile file, byte for byte (CR LF);\n"
         "with -o and N > 1 one file per profile: FILE_00001.txt, ...\n"
         "csv: profile,point,valid,x_mm,z_mm (1024 rows per profile)\n"
         "ply: ASCII point cloud of the valid points, y = profile index"},
        {"output", 'o', "FILE", "write to FILE instead of standard output"},
        {"search", 0, "MS",
         "listen this long for the scanner's announcement, which gives the\n"
         "scale of its points (default 1000); 0 uses the default scale\n"
         "(X range 230 mm, Z range 250 mm, discrete value 16384, error 0)"},
        {"raw", 0, "FILE", "also write the packets as received, 4100 bytes each"}};
    for (const OptionDef &o : ConnectOptionDefs())
        options.push_back(o);
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options);
        return kExitOk;
    }
    cl.expectPositional(1, kUsage);
    const Ipv4 ip = ParseIpv4(cl.positional()[0]);
    const int count = static_cast<int>(cl.integer("count", 1, 1, 65535));
    const int searchMs = static_cast<int>(cl.integer("search", 1000, 0, 65535));
    const std::string format = cl.value("format").value_or("txt");
    if (format != "txt" && format != "csv" && format != "ply")
        throw UsageError("--format: '" + format + "' is not txt, csv or ply");
    const auto output = cl.value("output");

    const qz::ProfileScale scale = ScaleOf(ip, searchMs);
    std::vector<PacketBytes> packets;
    {
        ScannerConnection scanner(ip, ReadConnectOptions(cl));
        packets = FetchNewProfiles(scanner, count);
    }
    if (const auto raw = cl.value("raw")) {
        std::vector<std::uint8_t> bytes;
        for (const auto &p : packets)
            bytes.insert(bytes.end(), p.begin(), p.end());
        WriteFile(*raw, bytes);
    }

    if (format == "txt" && output && count > 1) {
        for (int i = 0; i < count; ++i)
            WriteFile(NumberedPath(*output, i + 1),
                      ProfileTxt(packets[static_cast<std::size_t>(i)], scale));
        return kExitOk;
    }
    std::string text;
    if (format == "txt") {
        for (const auto &p : packets)
            text += ProfileTxt(p, scale);
    } else if (format == "csv") {
        text = ProfilesCsv(packets, scale);
    } else {
        text = ProfilesPly(packets, scale);
    }
    if (output)
        WriteFile(*output, text);
    else
        std::cout << text << std::flush;
    return kExitOk;
}

} // namespace qzctl
