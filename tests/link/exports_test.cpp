// The shared library exports exactly the thirteen functions, and the UDP
// disconnect is the very same function as the TCP one.
#include "qz417link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(Exports, ExactlyTheThirteenFunctions) {
    const std::string command = "nm -D --defined-only '" QZ417LINK_PATH "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe))
        output.append(chunk, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "nm is not installed";
    ASSERT_EQ(status, 0) << command;

    std::set<std::string> exported;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name)
            exported.insert(name);
    }
    const std::set<std::string> expected = {
        "QZ417_Connect",        "QZ417_Disconnect",  "QZ417_GetResult",
        "QZ417_GetImage",       "QZ417_ReadParams",  "QZ417_WriteParams",
        "QZ417_FlushParams",    "QZ417_CalcAngle",   "QZ_Search",
        "QZ_ClearList",         "QZ417_UDP_Connect", "QZ417_UDP_GetResult",
        "QZ417_UDP_Disconnect",
    };
    EXPECT_EQ(exported, expected);
}

TEST(Exports, UdpDisconnectIsTheSameFunctionAsDisconnect) {
    void *library = dlopen(QZ417LINK_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    void *tcp = dlsym(library, "QZ417_Disconnect");
    void *udp = dlsym(library, "QZ417_UDP_Disconnect");
    EXPECT_NE(tcp, nullptr);
    EXPECT_EQ(tcp, udp);
    dlclose(library);
}

} // namespace
