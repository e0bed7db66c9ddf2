#include "emulator.h"

#include <cstdio>

int main() {
    qzsim::Emulator emulator({});
    std::string error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "qz417sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
