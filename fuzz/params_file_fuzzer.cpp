// The parameter file that "qz417ctl params load" reads: any text, as a file
// on disk may hold it.
//
// Input: the whole file.
// Checks: the reader either returns a block or fails with a usage error of
// one line (the tool prints it as its single stderr line, exit status 2);
// nothing else escapes it. A block it returns is saved and loaded again
// unchanged, and so is the block made of the input's first 512 bytes.
#include "failure.h"
#include "fuzz_input.h"
#include "params_file.h"

#include <cstring>
#include <exception>
#include <string>

namespace {

using qzfuzz::Check;

qzctl::ParamBlock RoundTrip(const qzctl::ParamBlock &block) {
    return qzctl::LoadParamsDocument(qzctl::SaveParamsDocument("127.0.0.1", block), "saved");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const qzctl::ParamBlock block = qzctl::LoadParamsDocument(text, "input.json");
        Check(RoundTrip(block) == block, "a loaded block saves and loads back unchanged");
    } catch (const qzctl::Failure &f) {
        const std::string line = f.what();
        Check(f.exitCode() == qzctl::kExitUsage, "a bad file is a usage error (exit status 2)");
        Check(!line.empty(), "the failure says what is wrong");
        Check(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos,
              "the failure is one line");
    } catch (const std::exception &) {
        qzfuzz::Fail("only a usage error may leave the reader");
    }

    if (size >= QZ417_CONFIG_SIZE) {
        qzctl::ParamBlock raw{};
        std::memcpy(raw.data(), data, raw.size());
        try {
            Check(RoundTrip(raw) == raw, "any block saves and loads back byte for byte");
        } catch (const std::exception &) {
            qzfuzz::Fail("a saved block could not be loaded");
        }
    }
    return 0;
}
