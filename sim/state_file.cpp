#include "state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace qz417::sim {

std::string stateFilePath(const std::string &dir, const Ipv4 &address) {
    return (std::filesystem::path(dir) / ("scanner-" + address.text() + ".cfg")).string();
}

std::optional<ConfigBlock> loadBlock(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    ConfigBlock b{};
    in.read(reinterpret_cast<char *>(b.data()), static_cast<std::streamsize>(b.size()));
    if (in.gcount() != static_cast<std::streamsize>(b.size()) || in.peek() != EOF)
        return std::nullopt;
    return b;
}

bool saveBlock(const std::string &path, const ConfigBlock &block, std::string *error) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(block.data()),
                  static_cast<std::streamsize>(block.size()));
        out.flush();
        if (!out) {
            if (error)
                *error = "cannot write " + tmp + ": " + std::strerror(errno);
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error)
            *error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace qz417::sim
