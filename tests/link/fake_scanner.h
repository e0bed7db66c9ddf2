// A scanner on loopback for the library's tests: a TCP server on
// <address>:417 that answers the command channel's requests with known
// patterns and records every request byte for byte. Fault switches make it
// answer in small segments, stall, stay silent, hang up mid-reply or reset
// the connection.
#ifndef QZ417_TESTS_LINK_FAKE_SCANNER_H
#define QZ417_TESTS_LINK_FAKE_SCANNER_H

#include "qz417link.h"
#include "wire_codec.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qz417::test {

struct FakeScannerOptions {
    std::string address = "127.0.0.50";
    std::size_t segmentSize = 0;               // 0: each reply in one send
    std::chrono::milliseconds segmentPause{0}; // between segments
    std::chrono::milliseconds stall{0};        // before each reply, unless released
    bool silent = false;                       // read requests, never answer
    std::optional<std::size_t> hangUpAfter;    // close after this many reply bytes in all
    bool resetOnAccept = false;                // abort each connection as soon as it is accepted
    uint16_t flushAck = 0x0001;
    std::atomic<uint64_t> *sequence = nullptr; // shared counter to order requests across peers
};

struct RecordedRequest {
    std::vector<uint8_t> bytes; // header and any data, as received
    link::wire::CommandHeader header;
    uint64_t sequence = 0;
};

class FakeScanner {
public:
    explicit FakeScanner(FakeScannerOptions options);
    ~FakeScanner();
    FakeScanner(const FakeScanner &) = delete;
    FakeScanner &operator=(const FakeScanner &) = delete;

    // errno of a failed bind on port 417, 0 when listening.
    int bindError() const { return bindError_; }
    // The record QZ417_Connect takes to reach this peer.
    DeviceAnnouncement announcement() const;

    std::vector<RecordedRequest> requests() const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Ends the current and every later stall.
    void releaseStall();

    static uint8_t PacketByte(std::size_t i) { return static_cast<uint8_t>(i * 7 + 1); }
    static uint8_t ImageByte(std::size_t i) {
        return static_cast<uint8_t>((i * 2654435761u) >> 13);
    }
    static uint8_t ConfigByte(std::size_t i) { return static_cast<uint8_t>(i * 13 + 5); }
    static constexpr uint8_t kAngle[2] = {0x9C, 0xFF}; // -100

private:
    void serve();
    void handleConnection(int fd);
    bool readExactly(int fd, uint8_t *buffer, std::size_t size);
    bool reply(int fd, const uint8_t *data, std::size_t size, std::size_t &sentTotal);
    bool waitStall();

    FakeScannerOptions options_;
    int listener_ = -1;
    int bindError_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedRequest> requests_;
    bool stallReleased_ = false;
    std::vector<uint8_t> image_;
    std::thread thread_;
};

} // namespace qz417::test

#endif // QZ417_TESTS_LINK_FAKE_SCANNER_H
