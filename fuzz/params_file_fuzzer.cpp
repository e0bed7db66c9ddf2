// The parameter file that "qz417ctl params load" reads: any text, as a file
// on disk may hold it.
//
// Input: the whole file.
// Checks: the reader either returns a block or fails with a usage error of
// one line (the tool prints it as its single stderr line, exit status 2);
// nothing else escapes it. A block it returns is saved and loaded again
// unchanged, and so is the block made of the input's first 512 bytes.
#include "fuzz_input.h"

#include <cstring>
#include <exception>
#include <string>
#include <tuple>

// The reader lives in the model library (model/params_file.h), where it
// throws ParamsFileError, or in the tool (params_file.h), where it throws
// the tool's usage error; the checks are the same.
#if __has_include("model/params_file.h")
#include "model/params_file.h"
namespace params {
using qz417::LoadParamsDocument;
using qz417::ParamBlock;
using qz417::SaveParamsDocument;
using Error = qz417::ParamsFileError;
inline bool IsUsageError(const Error &) {
    return true; // qz417ctl reports it with exit status 2
}
} // namespace params
#else
#include "failure.h"
#include "params_file.h"
namespace params {
using qz417::ctl::LoadParamsDocument;
using qz417::ctl::ParamBlock;
using qz417::ctl::SaveParamsDocument;
using Error = qz417::ctl::Failure;
inline bool IsUsageError(const Error &e) {
    return e.exitCode() == qz417::ctl::kExitUsage;
}
} // namespace params
#endif

namespace {

using qz417::fuzz::Check;

params::ParamBlock RoundTrip(const params::ParamBlock &block) {
    return params::LoadParamsDocument(params::SaveParamsDocument("127.0.0.1", block), "saved");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const params::ParamBlock block = params::LoadParamsDocument(text, "input.json");
        Check(RoundTrip(block) == block, "a loaded block saves and loads back unchanged");
    } catch (const params::Error &e) {
        const std::string line = e.what();
        Check(params::IsUsageError(e), "a bad file is a usage error (exit status 2)");
        Check(!line.empty(), "the failure says what is wrong");
        Check(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos,
              "the failure is one line");
    } catch (const std::exception &) {
        qz417::fuzz::Fail("only a usage error may leave the reader");
    }

    if (size >= std::tuple_size_v<params::ParamBlock>) {
        params::ParamBlock raw{};
        std::memcpy(raw.data(), data, raw.size());
        try {
            Check(RoundTrip(raw) == raw, "any block saves and loads back byte for byte");
        } catch (const std::exception &) {
            qz417::fuzz::Fail("a saved block could not be loaded");
        }
    }
    return 0;
}
