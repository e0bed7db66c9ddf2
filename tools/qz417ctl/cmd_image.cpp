// qz417ctl image: the camera image as an 8-bit greyscale PNG.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "file_io.h"
#include "png_writer.h"
#include "scanner_connection.h"

namespace qz417::ctl {

namespace {

constexpr const char *kUsage = "qz417ctl image ADDR -o FILE.png";
constexpr const char *kHelp =
    "usage: qz417ctl image ADDR -o FILE.png [--port PORT] [--timeout MS]\n"
    "\n"
    "Fetches the camera image (640 x 512 brightness values) of the scanner at ADDR\n"
    "and writes it as a greyscale PNG (deflate-compressed).\n";

} // namespace

int RunImage(const Args &args) {
    const std::vector<OptionDef> options =
        WithConnectOptions({{"output", 'o', "FILE", "the PNG file to write (required)"}});
    const CommandLine cl(args, options);
    if (cl.printHelpIfAsked(HelpText(kHelp, options)))
        return kExitOk;
    const Ipv4 ip = ScannerAddressArgument(cl, kUsage);
    const auto output = cl.value("output");
    if (!output)
        throw UsageError("missing -o FILE.png; usage: " + std::string(kUsage));
    std::vector<std::uint8_t> image;
    {
        ScannerConnection scanner(ip, ReadConnectOptions(cl));
        image = scanner.getImage();
    }
    WriteFile(*output, EncodeGreyPng(image.data(), QZ417_IMAGE_WIDTH, QZ417_IMAGE_HEIGHT));
    return kExitOk;
}

} // namespace qz417::ctl
