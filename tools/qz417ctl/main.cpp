// qz417ctl: drive QZ417 scanners from the command line.
#include <iostream>
#include <map>

#include "commands.h"
#include "failure.h"

namespace {

constexpr const char *kHelp =
    "usage: qz417ctl COMMAND [ARGS...]\n"
    "\n"
    "Commands (each has --help):\n"
    "  search [--time MS] [--type N] [--json]     list the scanners heard on the network\n"
    "  info ADDR [--json]                          a scanner's self-description\n"
    "  params get|set|store|defaults|save|load     the parameter block\n"
    "  profile ADDR [--count N] [--format F] [-o FILE] [--json]\n"
    "                                              measured profiles in millimetres\n"
    "                                              (txt, csv, ply, ply-binary, pcd, pcd-binary)\n"
    "  image ADDR -o FILE.png                      the camera image\n"
    "  stream [--port P] [--seconds S] [--record FILE] [--csv FILE] [--json]\n"
    "                                              receive the UDP profile stream\n"
    "  angle ADDR [--json]                         the calculated mounting angle\n"
    "  recording info|export FILE                  a recording of the stream\n"
    "  measure --job FILE [--recording FILE]       run a measurement job on the stream\n"
    "                                              or a recording, one line per profile\n"
    "\n"
    "ADDR is the scanner's IPv4 address, for example 127.0.0.1. The commands that\n"
    "connect to it also take --port PORT (TCP, default 417) and --timeout MS.\n"
    "Numbers are decimal (010 is ten), or hexadecimal after 0x.\n"
    "Exit status: 0 on success, 1 when the scanner or the network failed,\n"
    "2 for a wrong command line or value; the reason is one line on stderr;\n"
    "measure: 3 when a measured value lay outside its limits.\n";

} // namespace

int main(int argc, char **argv) {
    using namespace qz417::ctl;
    const std::map<std::string, int (*)(const Args &)> commands = {
        {"search", RunSearch},   {"info", RunInfo},           {"params", RunParams},
        {"profile", RunProfile}, {"image", RunImage},         {"stream", RunStream},
        {"angle", RunAngle},     {"recording", RunRecording}, {"measure", RunMeasure}};
    if (argc < 2) {
        std::cerr << "qz417ctl: missing command (see qz417ctl --help)\n";
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::cout << kHelp;
        return kExitOk;
    }
    if (name == "--version") {
        std::cout << "qz417ctl " << QZ417_VERSION << "\n";
        return kExitOk;
    }
    const auto it = commands.find(name);
    if (it == commands.end()) {
        std::cerr << "qz417ctl: unknown command '" << name << "' (see qz417ctl --help)\n";
        return kExitUsage;
    }
    try {
        return it->second(Args(argv + 2, argv + argc));
    } catch (const Failure &f) {
        std::cout.flush();
        std::cerr << "qz417ctl: " << f.what() << "\n";
        return f.exitCode();
    } catch (const std::exception &e) {
        std::cout.flush();
        std::cerr << "qz417ctl: " << e.what() << "\n";
        return kExitFailure;
    }
}
