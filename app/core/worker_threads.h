// The four thread procedures of the program and the request service that the
// TCP workers and the view timer's idle duty share. No widget is touched
// here: what the window has to do after a worker step reaches it through the
// hooks, which the window turns into queued calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/manual_reset_event.h"

namespace qz417 {

// Calls a worker makes into the window, each right after the step named.
struct WorkerHooks {
    std::function<void()> configRead;     // after every successful read of DeviceConfig
    std::function<void()> imageFetched;   // after every successful image fetch
    std::function<void()> recordingStart; // result worker, at its start
    std::function<void(const std::uint8_t *)> resultFetched; // after a fetch, before the count
    // Every profile packet a result worker receives (TCP or UDP), right after
    // it is published; must not block (app/feed hands it on by value).
    std::function<void(const std::uint8_t *)> packetReceived;
    // UDP worker: its port could not be bound (error: the system's errno).
    std::function<void(std::uint16_t port, int error)> udpPortFailed;
    // After every successful write of the parameter block: the block written
    // (QZ417_CONFIG_SIZE bytes). Must not block.
    std::function<void(const std::uint8_t *)> configWritten;
};

// The events one thread was started with. Each thread keeps its own copies,
// so a new start (which replaces RunEvent and DoneEvent) never affects a
// thread that is still finishing its last pass.
struct WorkerRun {
    std::shared_ptr<ManualResetEvent> runEvent;
    std::shared_ptr<ManualResetEvent> doneEvent;
    WorkerHooks hooks;
    // UDP worker: its datagrams go to ResultPacket only while this is set (or
    // when it is null). The window clears it while a TCP result worker owns
    // ResultPacket, so the result view never shows a UDP datagram.
    std::shared_ptr<std::atomic<bool>> publishes;
};

// Write, read and flush requests, in that order, each flag cleared before its
// transfer. configRead runs after each successful read, configWritten after
// each successful write. Returns false at the first library call that fails,
// with the handle it was given in *failedSocket; the caller closes the
// connection.
bool ServiceRequests(const std::function<void()> &configRead, std::int32_t *failedSocket,
                     const std::function<void(const std::uint8_t *)> &configWritten = {});

// If RequestImage is set: clears it, pauses 100 ms and fetches one image
// into scratch, publishing it to ImageBuffer on success. Returns false when
// the fetch failed (with its handle in *failedSocket). *fetched tells whether
// an image was fetched.
bool FetchRequestedImage(std::vector<std::uint8_t> &scratch, bool *fetched,
                         std::int32_t *failedSocket);

// Closes the TCP connection after an exchange on failedSocket failed.
// DeviceSocket becomes -1 before the handle is released, so no other thread
// picks up a stale handle; a connection made meanwhile by the window (a
// different handle) is left alone.
void DropConnection(std::int32_t failedSocket);

// Thread procedures; each returns 0.
int SearchThreadProc(const WorkerRun &run);
int ResultThreadProc(const WorkerRun &run);
int ImageThreadProc(const WorkerRun &run);
int UdpResultThreadProc(const WorkerRun &run);

// Which of the four workers a thread runs. Code that treats the workers apart
// (the hooks a worker is given, the source its profiles feed) compares kinds,
// never the addresses of the thread procedures.
enum class WorkerKind : std::uint8_t { Search, Result, Image, UdpResult };

// A worker the window starts: its kind and its thread procedure, kept together.
// (The search thread is started on its own, search_connect.cpp.)
struct Worker {
    WorkerKind kind;
    int (*proc)(const WorkerRun &);
};

inline constexpr Worker kResultWorker{WorkerKind::Result, &ResultThreadProc};
inline constexpr Worker kImageWorker{WorkerKind::Image, &ImageThreadProc};
inline constexpr Worker kUdpResultWorker{WorkerKind::UdpResult, &UdpResultThreadProc};

// Delay before an image requested after a parameter change is fetched, so
// that the scanner's camera already works with the new parameters.
constexpr int kRequestedImageDelayMs = 100;

} // namespace qz417
