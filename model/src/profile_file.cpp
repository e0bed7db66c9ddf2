#include "model/profile_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qz417 {

namespace {

constexpr std::size_t kNumberColumnEnd = 10;
constexpr std::size_t kXColumnEnd = 30;
constexpr int kSignificantDigits = 6;
constexpr int kDecimals = 3;

void PadTo(std::string &line, std::size_t length) {
    if (line.size() < length)
        line.append(length - line.size(), ' ');
}

bool IsDirectory(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Makes the directory unless one is there; false with errno set when there is
// none afterwards.
bool EnsureDirectory(const std::string &path) {
    if (IsDirectory(path))
        return true;
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    const int err = errno;
    if (IsDirectory(path)) // made by someone else meanwhile
        return true;
    errno = (err == EEXIST) ? ENOTDIR : err;
    return false;
}

bool WriteAll(int fd, const std::string &text) {
    const char *p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

ProfileWriteResult Failure(const std::string &path, int error) {
    ProfileWriteResult r;
    r.status = ProfileWriteResult::Status::Failed;
    r.path = path;
    r.error = error;
    return r;
}

} // namespace

RecordedProfile RecordProfile(const ProfilePacket &packet, const ProfileScale &scale) {
    RecordedProfile profile;
    profile.number = packet.measurementCount();
    for (int i = 0; i < kProfilePoints; ++i) {
        const ProfilePoint p = DecodePoint(packet.point(i), scale);
        if (p.valid)
            profile.points[static_cast<std::size_t>(i)] = RecordedPoint{p.x, p.z};
    }
    return profile;
}

std::string DateStamp(std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900) +
           ZeroPad(static_cast<unsigned>(local.tm_mon + 1), 2) +
           ZeroPad(static_cast<unsigned>(local.tm_mday), 2);
}

std::string ZeroPad(unsigned number, int width) {
    std::string text = std::to_string(number);
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    return text;
}

std::string FormatProfileValue(float value) {
    const double v = value; // exact
    if (!std::isfinite(v))
        return std::to_string(v);
    // std::to_chars never looks at the locale: the separator is always '.'.
    char buf[64];
    // Six significant digits tell the decimal exponent of the rounded value.
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific,
                             kSignificantDigits - 1);
    const char *e = buf;
    while (e < res.ptr && *e != 'e')
        ++e;
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), res.ptr, exponent);
    if (exponent >= kSignificantDigits) {
        // More than six integer digits: mantissa of six digits, two-digit exponent at least.
        std::string text(static_cast<const char *>(buf), e);
        const char sign = exponent < 0 ? '-' : '+';
        const std::string digits = ZeroPad(static_cast<unsigned>(std::abs(exponent)), 2);
        return text + "E" + sign + digits;
    }
    int decimals = kSignificantDigits - 1 - exponent;
    if (decimals > kDecimals)
        decimals = kDecimals;
    res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string text(buf, res.ptr);
    if (decimals == 0)
        text += '.';
    text.append(static_cast<std::size_t>(kDecimals - decimals), '0');
    if (text == "-0.000")
        text.erase(0, 1);
    return text;
}

std::string ProfileFileText(const RecordedProfile &profile) {
    std::string text;
    text.reserve(64 * (kProfilePoints + 2));
    std::string line = "N";
    PadTo(line, kNumberColumnEnd);
    line += 'X';
    PadTo(line, kXColumnEnd);
    line += 'Z';
    text += line;
    text += "\r\n";
    text += "Profile nember: ";
    text += std::to_string(profile.number);
    text += "\r\n";
    for (int i = 0; i < kProfilePoints; ++i) {
        const RecordedPoint &p = profile.points[static_cast<std::size_t>(i)];
        line = std::to_string(i + 1);
        PadTo(line, kNumberColumnEnd);
        line += FormatProfileValue(p.x);
        PadTo(line, kXColumnEnd);
        line += FormatProfileValue(p.z);
        text += line;
        text += "\r\n";
    }
    return text;
}

ProfileWriteResult WriteProfileFile(const std::string &startDirectory, const std::string &date,
                                    const RecordedProfile &profile) {
    const std::string root = startDirectory + "/Profiles";
    if (!EnsureDirectory(root))
        return Failure(root, errno);
    const std::string day = root + "/" + date;
    if (!EnsureDirectory(day))
        return Failure(day, errno);

    const std::string text = ProfileFileText(profile);
    for (unsigned n = 1; n <= kMaxProfileFileNumber; ++n) {
        const std::string path = day + "/" + ZeroPad(n, 5) + ".txt";
        if (IsRegularFile(path))
            continue;
        // O_EXCL: a name that is taken in any way is never opened, let alone truncated.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int err = errno;
            if (err == EEXIST && IsRegularFile(path))
                continue; // another writer took this number just now
            return Failure(path, err);
        }
        bool ok = WriteAll(fd, text);
        int err = ok ? 0 : errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            err = errno;
        }
        if (!ok) {
            // Nothing half-written stays behind under a number of the day.
            ::unlink(path.c_str());
            return Failure(path, err);
        }
        ProfileWriteResult r;
        r.status = ProfileWriteResult::Status::Written;
        r.path = path;
        r.day = day;
        return r;
    }
    ProfileWriteResult r;
    r.status = ProfileWriteResult::Status::CounterExhausted;
    r.day = day;
    return r;
}

} // namespace qz417
