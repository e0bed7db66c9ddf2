// qz417ctl stream: packets injected on loopback with gaps in packetCount are
// counted as lost; recording, and the failures of an empty or taken port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "ctl_e2e_fixture.h"
#include "ctl_process.h"
#include "model/recording/recording_file.h"
#include "wait.h"
#include <gtest/gtest.h>

namespace qz417::ctl::test {
namespace {

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort() {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

std::vector<std::uint8_t> Packet(std::uint16_t measurement, std::uint16_t packet) {
    std::vector<std::uint8_t> p(4100, 0x5A);
    p[0] = static_cast<std::uint8_t>(measurement);
    p[1] = static_cast<std::uint8_t>(measurement >> 8);
    p[2] = static_cast<std::uint8_t>(packet);
    p[3] = static_cast<std::uint8_t>(packet >> 8);
    return p;
}

class Sender {
public:
    explicit Sender(int port) : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
        to_.sin_family = AF_INET;
        to_.sin_port = htons(static_cast<std::uint16_t>(port));
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~Sender() { close(socket_); }
    void send(const std::vector<std::uint8_t> &bytes) {
        ASSERT_EQ(sendto(socket_, bytes.data(), bytes.size(), 0,
                         reinterpret_cast<const sockaddr *>(&to_), sizeof to_),
                  static_cast<ssize_t>(bytes.size()));
    }

private:
    int socket_;
    sockaddr_in to_{};
};

TEST(CtlStream, CountsGapsInThePacketCounterAsLost) {
    const int port = FreeUdpPort();
    const std::string record = MakeTempDir() + "/stream.h5";
    CtlProcess ctl(
        {"stream", "--port", std::to_string(port), "--seconds", "2", "--record", record});
    ASSERT_TRUE(ctl.waitForOutput("receiving on UDP port " + std::to_string(port), 5000));
    Sender sender(port);
    std::vector<std::uint8_t> sent;
    const std::uint16_t counters[] = {1, 2, 3, 5, 6, 10};
    for (const std::uint16_t pc : counters) {
        const auto p = Packet(static_cast<std::uint16_t>(pc * 4), pc);
        sender.send(p);
        sent.insert(sent.end(), p.begin(), p.end());
    }
    sender.send(std::vector<std::uint8_t>(4099, 0)); // not a packet: ignored
    const CtlResult r = ctl.finish(10000);
    ASSERT_EQ(r.status, 0) << r.err;
    // All 4 lost on the way, none dropped by this computer's receive buffer.
    EXPECT_NE(r.out.find("total received=6 lost=4 duplicates=0 late=0 restarts=0 network=4 "
                         "computer=0 buffer="),
              std::string::npos)
        << r.out;
    // The once-a-second line, at about 1 s (later on a busy machine).
    EXPECT_NE(r.out.find("t=1."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("s packets="), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" received=6 lost=4 network=4 computer=0 buffer="), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("recorded=6 dropped=0 to " + record), std::string::npos) << r.out;
    qz417::recording::RecordingReader recorded(record);
    ASSERT_EQ(recorded.profiles(), 6u);
    std::vector<std::uint8_t> back(6 * 4100);
    std::vector<qz417::recording::ReceiveTime> times(6);
    recorded.Read(0, 6, back.data(), times.data());
    EXPECT_EQ(back, sent);
    EXPECT_GT(times[0].wallNs, 0);
    EXPECT_LE(times[0].monotonicNs, times[5].monotonicNs);
    EXPECT_EQ(recorded.Summary().lostPackets, 4u);
    EXPECT_EQ(recorded.endState(), qz417::recording::EndState::Closed);
    EXPECT_EQ(recorded.software().rfind("qz417ctl ", 0), 0u);
    std::system(("rm -rf '" + record.substr(0, record.rfind('/')) + "'").c_str());
}

TEST(CtlStream, CsvRowsAndJsonLinesComeAsPacketsArrive) {
    const int port = FreeUdpPort();
    const std::string dir = MakeTempDir();
    const std::string csvPath = dir + "/stream.csv";
    const auto before = std::chrono::system_clock::now();
    CtlProcess ctl(
        {"stream", "--port", std::to_string(port), "--seconds", "3", "--csv", csvPath, "--json"});
    // With --json the first line goes to stderr: stdout stays JSON.
    ASSERT_TRUE(ctl.waitForError("receiving on UDP port", 5000));
    // Some time after the start, which the first row's elapsed time shows.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Sender sender(port);
    sender.send(Packet(4, 1));
    sender.send(Packet(8, 2));
    // The rows are in the file within a second, while the stream still runs.
    EXPECT_TRUE(qz417::test::WaitUntil(
        [&] { return ReadFile(csvPath).find(",8,2\n") != std::string::npos; },
        std::chrono::seconds(2), std::chrono::milliseconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the rows' times show it
    sender.send(Packet(16, 4));
    const CtlResult r = ctl.finish(10000);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto after = std::chrono::system_clock::now();

    std::istringstream lines(r.out);
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(nlohmann::json::parse(line));
    ASSERT_GE(objects.size(), 3u) << r.out; // two or more seconds, then the totals
    EXPECT_TRUE(objects[0].contains("packetsPerSecond")) << objects[0];
    nlohmann::json total = objects.back();
    // The buffer the kernel granted depends on net.core.rmem_max and privileges.
    ASSERT_TRUE(total.contains("receiveBufferBytes")) << total;
    EXPECT_GT(total["receiveBufferBytes"].get<int>(), 0);
    total.erase("receiveBufferBytes");
    EXPECT_EQ(total, nlohmann::json::parse(R"({"received": 3, "lost": 1, "duplicates": 0,
        "late": 0, "restarts": 0, "lostByNetwork": 1, "droppedByComputer": 0})"));
    EXPECT_EQ(objects[0]["droppedByComputer"], 0) << objects[0];
    EXPECT_NE(r.err.find("receiving on UDP port"), std::string::npos);

    const std::string csv = ReadFile(csvPath);
    std::istringstream rows(csv);
    std::string header, row;
    std::getline(rows, header);
    EXPECT_EQ(header, "received_utc,elapsed_s,measurement_count,packet_count");
    std::vector<double> elapsed;
    for (const char *tail : {",4,1", ",8,2", ",16,4"}) {
        ASSERT_TRUE(std::getline(rows, row));
        EXPECT_EQ(row.substr(row.size() - std::strlen(tail)), tail) << row;
        // 2026-12-09T04:01:02.123456Z: within the run, on the wall clock.
        std::tm utc{};
        ASSERT_NE(strptime(row.c_str(), "%Y-%m-%dT%H:%M:%S", &utc), nullptr) << row;
        const auto at = std::chrono::system_clock::from_time_t(timegm(&utc));
        EXPECT_GE(at, std::chrono::floor<std::chrono::seconds>(before)) << row;
        EXPECT_LE(at, after) << row;
        elapsed.push_back(std::stod(row.substr(row.find(',') + 1)));
    }
    EXPECT_FALSE(std::getline(rows, row)) << row;
    EXPECT_GT(elapsed[0], 0.1); // sent 150 ms or more after the start
    EXPECT_LE(elapsed[0], elapsed[1]);
    EXPECT_GT(elapsed[2] - elapsed[1], 0.15); // sent 200 ms or more later
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(CtlStream, WrapAroundAndDuplicatesAreNotLosses) {
    const int port = FreeUdpPort();
    CtlProcess ctl({"stream", "--port", std::to_string(port), "--seconds", "1"});
    ASSERT_TRUE(ctl.waitForOutput("receiving on UDP port", 5000));
    Sender sender(port);
    for (const std::uint16_t pc : {65534, 65535, 0, 0, 1})
        sender.send(Packet(pc, pc));
    const CtlResult r = ctl.finish(10000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("total received=5 lost=0 duplicates=1 late=0 restarts=0 "),
              std::string::npos)
        << r.out;
}

TEST(CtlStream, ARestartOfTheScannersCounterIsNoLossAndNoLatePackets) {
    const int port = FreeUdpPort();
    CtlProcess ctl({"stream", "--port", std::to_string(port), "--seconds", "1", "--json"});
    // The first line goes to stderr with --json, once the tool listens.
    ASSERT_TRUE(ctl.waitForError("receiving on UDP port", 5000));
    Sender sender(port);
    // Counting 30000.. then again from 0 (one lost, 2), a late copy of 3.
    for (const std::uint16_t pc : {30000, 30001, 0, 1, 3, 4, 3})
        sender.send(Packet(pc, pc));
    const CtlResult r = ctl.finish(10000);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto total = nlohmann::json::parse(r.out.substr(r.out.rfind('{')));
    EXPECT_EQ(total["received"], 7) << total;
    EXPECT_EQ(total["lost"], 1) << total;
    EXPECT_EQ(total["late"], 0) << total;
    EXPECT_EQ(total["duplicates"], 1) << total;
    EXPECT_EQ(total["restarts"], 1) << total;
}

TEST(CtlStream, NoPacketsIsAFailure) {
    const int port = FreeUdpPort();
    const CtlResult r = RunCtl({"stream", "--port", std::to_string(port), "--seconds", "1"}, 10000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qz417ctl: no packet received on UDP port " + std::to_string(port) + "\n");
}

TEST(CtlStream, APortInUseIsAFailure) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    const int port = ntohs(a.sin_port);
    const CtlResult r = RunCtl({"stream", "--port", std::to_string(port), "--seconds", "1"}, 10000);
    close(s);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qz417ctl: cannot receive on UDP port " + std::to_string(port) +
                         " (already in use?)\n");
}

TEST(CtlStream, StopsOnInterrupt) {
    const int port = FreeUdpPort();
    CtlProcess ctl({"stream", "--port", std::to_string(port)});
    ASSERT_TRUE(ctl.waitForOutput("receiving on UDP port", 5000));
    Sender sender(port);
    // The tool has taken the packet once it has read a datagram (its namespace
    // has no other UDP reader).
    const std::uint64_t read = qz417::test::UdpDatagramsRead();
    sender.send(Packet(1, 1));
    ASSERT_TRUE(qz417::test::WaitUntil([&] { return qz417::test::UdpDatagramsRead() > read; },
                                       std::chrono::seconds(5)));
    ASSERT_TRUE(ctl.interrupt());
    const CtlResult r = ctl.finish(5000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("total received=1 lost=0"), std::string::npos) << r.out;
}

TEST_F(CtlE2E, StreamsWhatAScannerSendsAfterParamsSet) {
    const int port = FreeUdpPort();
    CtlProcess ctl({"stream", "--port", std::to_string(port), "--seconds", "2"});
    ASSERT_TRUE(ctl.waitForOutput("receiving on UDP port", 5000));
    const CtlResult set = RunCtl({"params", "set", "127.0.0.1", "udpAddress=127.0.0.1",
                                  "udpPort=" + std::to_string(port), "udpFrequency=100"});
    ASSERT_EQ(set.status, 0) << set.err;
    const CtlResult r = ctl.finish(10000);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto at = r.out.find("total received=");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_GT(std::stoul(r.out.substr(at + 15)), 50u) << r.out;
    EXPECT_NE(r.out.find(" lost=0 duplicates=0 late=0 restarts=0 "), std::string::npos) << r.out;
    EXPECT_GT(emulator_->udpPacketsSent(0), 50u);
}

} // namespace
} // namespace qz417::ctl::test
