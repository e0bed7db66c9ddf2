// qz417sim: emulated QZ417 scanners on loopback until SIGINT or SIGTERM.
#include "cli_options.h"
#include "emulator.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    const qz417::sim::CommandLine cl =
        qz417::sim::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (cl.help) {
        std::fputs(qz417::sim::usageText().c_str(), stdout);
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "qz417sim: %s\nTry 'qz417sim --help'.\n", cl.error.c_str());
        return 2;
    }

    // Block the stop signals before any thread exists, so that every thread
    // inherits the mask and only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    qz417::sim::Emulator emulator(cl.options);
    std::string error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "qz417sim: %s\n", error.c_str());
        return 1;
    }
    if (!cl.options.quiet) {
        const auto &o = cl.options;
        std::fprintf(stderr,
                     "qz417sim: %d scanner%s on %s..%s port %u; announcing to %s:%u every %d ms; "
                     "%g measurements/s\n",
                     emulator.count(), emulator.count() == 1 ? "" : "s",
                     emulator.address(0).c_str(), emulator.address(emulator.count() - 1).c_str(),
                     static_cast<unsigned>(o.tcpPort), o.announceAddress.c_str(),
                     static_cast<unsigned>(o.announcePort), o.announceIntervalMs,
                     o.measurementRateHz);
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (!cl.options.quiet)
        std::fprintf(stderr, "qz417sim: %s, stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    emulator.stop();
    return 0;
}
