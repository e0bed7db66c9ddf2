// Golden digests of exported files: each case's bytes reduced to their size
// and a 64-bit FNV-1a hash, compared against a table kept in the tree, so
// that a change of the writers shows which outputs changed by a single byte.
//
// With QZ417_WRITE_GOLDEN=1 in the environment the test writes the table
// instead of comparing (once, from the writers whose output is the
// reference).
#ifndef QZ417_TESTS_SUPPORT_GOLDEN_DIGEST_H
#define QZ417_TESTS_SUPPORT_GOLDEN_DIGEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace qz417::test {

inline std::string Digest(const std::string &bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : bytes) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 0x100000001b3u;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%zu %016llx", bytes.size(),
                  static_cast<unsigned long long>(hash));
    return text;
}

// Collects "case size hash" lines and, at the end, compares them with the
// table at `path` (or writes it).
class GoldenTable {
public:
    explicit GoldenTable(std::string path) : path_(std::move(path)) {}

    void Add(const std::string &name, const std::string &bytes) { got_[name] = Digest(bytes); }

    void Check() const {
        const char *write = std::getenv("QZ417_WRITE_GOLDEN");
        if (write != nullptr && std::string(write) == "1") {
            std::ofstream out(path_);
            for (const auto &[name, digest] : got_)
                out << name << ' ' << digest << '\n';
            ASSERT_TRUE(out.good()) << "cannot write " << path_;
            return;
        }
        std::ifstream in(path_);
        ASSERT_TRUE(in.good()) << "cannot read " << path_;
        std::map<std::string, std::string> want;
        for (std::string line; std::getline(in, line);) {
            const auto space = line.find(' ');
            want[line.substr(0, space)] = line.substr(space + 1);
        }
        for (const auto &[name, digest] : want) {
            const auto it = got_.find(name);
            if (it == got_.end())
                ADD_FAILURE() << name << ": not written";
            else
                EXPECT_EQ(it->second, digest) << name << ": not the reference bytes";
        }
        EXPECT_EQ(got_.size(), want.size()) << "cases beside the table";
    }

private:
    std::string path_;
    std::map<std::string, std::string> got_;
};

} // namespace qz417::test

#endif // QZ417_TESTS_SUPPORT_GOLDEN_DIGEST_H
