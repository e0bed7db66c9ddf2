#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "failure.h"

namespace qz417::ctl {

namespace {

void WriteBytes(const std::string &path, const void *data, std::size_t size) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        throw UsageError("cannot write " + path + ": " + std::strerror(errno));
    const bool ok = std::fwrite(data, 1, size, f) == size;
    const int err = errno;
    if (std::fclose(f) != 0 || !ok)
        throw Failure("cannot write " + path + ": " + std::strerror(ok ? errno : err));
}

} // namespace

std::string ReadTextFile(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        throw UsageError("cannot read " + path + ": " + std::strerror(errno));
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        throw UsageError("cannot read " + path);
    return text;
}

void WriteFile(const std::string &path, const std::string &bytes) {
    WriteBytes(path, bytes.data(), bytes.size());
}

void WriteFile(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    WriteBytes(path, bytes.data(), bytes.size());
}

} // namespace qz417::ctl
