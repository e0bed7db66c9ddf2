// qz417ctl profile: fetch N new profiles over the command channel and write
// them in millimetres, as the program's profile file text, CSV or PLY.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include "command_line.h"
#include "commands.h"
#include "device_address.h"
#include "failure.h"
#include "file_io.h"
#include "model/device_description.h"
#include "profile_writer.h"
#include "scanner_connection.h"

#include <nlohmann/json.hpp>

namespace qz417::ctl {

namespace {

constexpr const char *kUsage = "qz417ctl profile ADDR [--count N] [--format F] [-o FILE]";
constexpr const char *kHelp =
    "usage: qz417ctl profile ADDR [--count N] [--format F] [-o FILE]\n"
    "                        [--search MS] [--raw FILE] [--port PORT] [--timeout MS]\n"
    "\n"
    "Fetches N new profiles (each with another measurement counter than the one\n"
    "before) from the scanner at ADDR and writes them in millimetres, each as it\n"
    "arrives. When the scanner fails part-way, the files keep the profiles\n"
    "received so far (with headers that say so) and the exit status is 1.\n";

constexpr auto kNewProfileTimeout = std::chrono::seconds(5);

qz417::ProfileScale ScaleOf(const Ipv4 &ip, int searchMs) {
    qz417::ProfileScale scale; // the program's initial scale
    if (searchMs == 0)
        return scale;
    const auto record = FindScanner(ip, searchMs);
    if (!record) {
        std::cerr << "qz417ctl: note: no announcement from " << FormatIpv4(ip.data())
                  << " heard; using the default scale\n";
        return scale;
    }
    const qz417::DeviceDescription d = qz417::DecodeDescription(record->description);
    scale.rangeXEmr = d.rangeXEmr;
    scale.rangeZ = d.rangeZ;
    scale.discreteValue = d.discreteValue;
    scale.errorValue = d.errorValue;
    return scale;
}

// Appends every packet as received, 4100 bytes each.
class RawFile {
public:
    explicit RawFile(const std::string &path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr)
            throw UsageError("cannot write " + path + ": " + std::strerror(errno));
    }
    ~RawFile() {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    RawFile(const RawFile &) = delete;
    RawFile &operator=(const RawFile &) = delete;
    void add(const PacketBytes &packet) {
        if (std::fwrite(packet.data(), 1, packet.size(), file_) != packet.size())
            throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
    }
    void close() {
        const int rc = std::fclose(file_);
        file_ = nullptr;
        if (rc != 0)
            throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
    }

private:
    std::string path_;
    std::FILE *file_;
};

// Fetches `count` new profiles and hands each to `take` as it arrives: a
// profile counts when its measurement counter differs from the one before.
template <typename Take> void FetchNewProfiles(ScannerConnection &scanner, int count, Take take) {
    std::optional<std::uint16_t> previous;
    int taken = 0;
    auto deadline = std::chrono::steady_clock::now() + kNewProfileTimeout;
    while (taken < count) {
        const PacketBytes packet = scanner.getResult();
        const auto counter = static_cast<std::uint16_t>(packet[0] | (packet[1] << 8));
        if (!previous || *previous != counter) {
            take(packet);
            ++taken;
            deadline = std::chrono::steady_clock::now() + kNewProfileTimeout;
        } else if (std::chrono::steady_clock::now() > deadline) {
            throw Failure("time-out: " + scanner.address() + " measured no new profile within 5 s");
        }
        previous = counter;
    }
}

// With -o, standard output is free for one line about what was written.
void PrintSummary(const std::string &address, const std::string &format, const std::string &output,
                  const ProfileTally &t, bool json) {
    if (json) {
        const nlohmann::json summary = {{"address", address},
                                        {"format", format},
                                        {"output", output},
                                        {"profiles", t.profiles},
                                        {"points", t.points},
                                        {"validPoints", t.validPoints},
                                        {"firstMeasurement", t.firstMeasurement},
                                        {"lastMeasurement", t.lastMeasurement}};
        std::cout << summary.dump() << "\n";
        return;
    }
    std::cout << "profiles=" << t.profiles << " points=" << t.points << " valid=" << t.validPoints
              << " measurements=" << t.firstMeasurement << ".." << t.lastMeasurement
              << " output=" << output << "\n";
}

} // namespace

int RunProfile(const Args &args) {
    const std::vector<OptionDef> options = WithConnectOptions(
        {{"count", 0, "N", "number of profiles, 1..65535 (default 1)"},
         {"format", 0, "F",
          "txt: the setup program's profile file, byte for byte (CR LF);\n"
          "with -o and N > 1 one file per profile: FILE_00001.txt, ...\n"
          "csv: profile,point,valid,x_mm,z_mm (1024 rows per profile)\n"
          "ply, ply-binary: point cloud of the valid points (ASCII or\n"
          "binary little-endian), y = profile index\n"
          "pcd, pcd-binary: PCL's point cloud (v0.7, ASCII or binary),\n"
          "organised: 1024 points wide, one row per profile, NaN where\n"
          "the scanner measured no point"},
         {"output", 'o', "FILE", "write to FILE instead of standard output"},
         {"search", 0, "MS",
          "listen this long for the scanner's announcement, which gives the\n"
          "scale of its points (default 1000); 0 uses the default scale\n"
          "(X range 230 mm, Z range 250 mm, discrete value 16384, error 0)"},
         {"raw", 0, "FILE", "also write the packets as received, 4100 bytes each"},
         {"json", 0, "",
          "with -o: print the summary as JSON: {\"address\", \"format\",\n"
          "\"output\", \"profiles\", \"points\", \"validPoints\",\n"
          "\"firstMeasurement\", \"lastMeasurement\"}"}});
    const CommandLine cl(args, options);
    if (cl.printHelpIfAsked(HelpText(kHelp, options)))
        return kExitOk;
    const Ipv4 ip = ScannerAddressArgument(cl, kUsage);
    const int count = static_cast<int>(cl.integer("count", 1, 1, 65535));
    const int searchMs = static_cast<int>(cl.integer("search", 1000, 0, 65535));
    const std::string formatName = cl.value("format").value_or("txt");
    const std::optional<ProfileFormat> format = ParseProfileFormat(formatName);
    if (!format)
        throw UsageError("--format: '" + formatName +
                         "' is not txt, csv, ply, ply-binary, pcd or pcd-binary");
    const auto output = cl.value("output");
    if (cl.has("json") && !output)
        throw UsageError("--json needs -o FILE (without it the profiles go to standard output)");

    const qz417::ProfileScale scale = ScaleOf(ip, searchMs);
    ScannerConnection scanner(ip, ReadConnectOptions(cl));
    std::optional<RawFile> raw;
    if (const auto rawPath = cl.value("raw"))
        raw.emplace(*rawPath);
    const std::unique_ptr<ProfileWriter> writer = MakeProfileWriter(*format, output, count, scale);
    try {
        FetchNewProfiles(scanner, count, [&](const PacketBytes &packet) {
            if (raw)
                raw->add(packet);
            writer->add(packet);
        });
    } catch (const Failure &) {
        // Keep what arrived: the files are completed with the profiles
        // received so far (their headers say how many), then the failure
        // is reported.
        try {
            writer->finish();
            if (raw)
                raw->close();
        } catch (const Failure &) {
        }
        throw;
    }
    writer->finish();
    if (raw)
        raw->close();
    if (output)
        PrintSummary(scanner.address(), formatName, *output, writer->tally(), cl.has("json"));
    return kExitOk;
}

} // namespace qz417::ctl
