#include "model/socket_receive.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qz417 {

namespace {

constexpr const char *kUdpTables[] = {"/proc/net/udp", "/proc/net/udp6"};

std::string ReadText(const char *path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits one line of the table into its whitespace-separated fields.
struct Fields {
    std::string_view f[13];
    int n = 0;
};

Fields Split(std::string_view line) {
    Fields out;
    std::size_t i = 0;
    while (i < line.size() && out.n < 13) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            out.f[out.n++] = line.substr(start, i - start);
    }
    return out;
}

template <typename T> bool Number(std::string_view text, T *value, int base = 10) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// Calls f(fields) for each socket line of the table (the heading skipped);
// stops when f returns true.
template <typename F> void EachLine(std::string_view table, F f) {
    std::size_t pos = table.find('\n');
    while (pos != std::string_view::npos && pos + 1 < table.size()) {
        const std::size_t next = table.find('\n', pos + 1);
        const std::string_view line =
            table.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1);
        const Fields fields = Split(line);
        if (fields.n == 13 && f(fields))
            return;
        pos = next;
    }
}

std::uint64_t InodeOf(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return 0;
    return static_cast<std::uint64_t>(st.st_ino);
}

std::optional<std::uint64_t> DropsOfInode(std::uint64_t inode) {
    for (const char *path : kUdpTables) {
        const auto drops = ParseUdpDrops(ReadText(path), inode);
        if (drops)
            return drops;
    }
    return std::nullopt;
}

// This process's descriptor of the socket with `inode`, or -1.
int DescriptorOfInode(std::uint64_t inode) {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    char wanted[40];
    std::snprintf(wanted, sizeof wanted, "socket:[%llu]", static_cast<unsigned long long>(inode));
    int found = -1;
    while (const dirent *entry = readdir(dir)) {
        int fd = -1;
        if (!Number(std::string_view(entry->d_name), &fd))
            continue;
        char target[64];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        if (std::string_view(target, static_cast<std::size_t>(n)) == wanted) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

std::optional<std::uint64_t> ParseUdpDrops(std::string_view table, std::uint64_t inode) {
    std::optional<std::uint64_t> drops;
    EachLine(table, [&](const Fields &fields) {
        std::uint64_t lineInode = 0, value = 0;
        if (!Number(fields.f[9], &lineInode) || lineInode != inode || !Number(fields.f[12], &value))
            return false;
        drops = value;
        return true;
    });
    return drops;
}

std::uint64_t ParseUdpInodeOfPort(std::string_view table, std::uint16_t port) {
    std::uint64_t inode = 0;
    EachLine(table, [&](const Fields &fields) {
        const std::string_view local = fields.f[1];
        const std::size_t colon = local.rfind(':');
        unsigned linePort = 0;
        std::uint64_t lineInode = 0;
        if (colon == std::string_view::npos || !Number(local.substr(colon + 1), &linePort, 16) ||
            linePort != port || !Number(fields.f[9], &lineInode) || lineInode == 0)
            return false;
        inode = lineInode;
        return true;
    });
    return inode;
}

SocketReceive ReadSocketReceive(int fd) {
    SocketReceive out;
    int bytes = 0;
    socklen_t length = sizeof bytes;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length) == 0 && bytes > 0)
        out.grantedBytes = bytes;
    const std::uint64_t inode = InodeOf(fd);
    if (inode != 0)
        out.drops = DropsOfInode(inode);
    return out;
}

std::optional<SocketReceive> ReadUdpPortReceive(std::uint16_t port) {
    for (const char *path : kUdpTables) {
        const std::string table = ReadText(path);
        const std::uint64_t inode = ParseUdpInodeOfPort(table, port);
        if (inode == 0)
            continue;
        const int fd = DescriptorOfInode(inode);
        if (fd < 0)
            return std::nullopt; // another process's socket
        SocketReceive out;
        out.drops = ParseUdpDrops(table, inode);
        int bytes = 0;
        socklen_t length = sizeof bytes;
        // The descriptor may have been closed meanwhile: only a socket with
        // the same inode counts.
        if (InodeOf(fd) == inode && getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length) == 0 &&
            bytes > 0)
            out.grantedBytes = bytes;
        return out;
    }
    return std::nullopt;
}

double BufferMilliseconds(int grantedBytes, double packetsPerSecond) {
    if (grantedBytes <= 0 || packetsPerSecond <= 0)
        return 0;
    return grantedBytes / static_cast<double>(kKernelBytesPerDatagram) / packetsPerSecond * 1000.0;
}

bool BufferTooSmall(int grantedBytes, double packetsPerSecond) {
    return grantedBytes > 0 && packetsPerSecond > 0 &&
           BufferMilliseconds(grantedBytes, packetsPerSecond) < kMinimumBufferMs;
}

std::string BufferWarning(int grantedBytes, double packetsPerSecond) {
    if (!BufferTooSmall(grantedBytes, packetsPerSecond))
        return {};
    char text[200];
    std::snprintf(text, sizeof text, "Receive buffer %d KiB holds %.1f ms at %.0f/s; raise it: %s",
                  grantedBytes / 1024, BufferMilliseconds(grantedBytes, packetsPerSecond),
                  packetsPerSecond, kReceiveBufferRemedy);
    return text;
}

} // namespace qz417
