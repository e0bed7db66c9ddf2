// The application state: the variables that the window thread and the worker
// threads share. Values that cross threads are atomics; the packet, the image
// and the parameter block are SharedBuffer/SharedConfig, so a reader always
// sees a whole one. Names are those the rest of the program uses throughout.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "qz417link.h"

#include "core/manual_reset_event.h"
#include "core/shared_buffer.h"
#include "model/config_area.h"
#include "model/profile_packet.h"

class TFormMain;

// The main window (set at start-up).
extern TFormMain *FormMain;

// TCP command connection; 0 and -1 both mean "not connected".
extern std::atomic<std::int32_t> DeviceSocket;
// Devices found by the last search, in list order (owned by the library).
extern std::atomic<DeviceAnnouncement *> DeviceList;

// Signalled while the acquisition worker may run / once the thread has ended.
// These two variables are touched on the window thread only; every thread
// receives its own references when it is started.
extern std::shared_ptr<qz417::ManualResetEvent> RunEvent;
extern std::shared_ptr<qz417::ManualResetEvent> DoneEvent;

// Duty of the view timer: 0 idle, 1 search, 2 TCP results, 4 image, 8 UDP results.
enum : std::uint8_t {
    kModeIdle = 0,
    kModeSearch = 1,
    kModeResult = 2,
    kModeImage = 4,
    kModeUdp = 8,
};
extern std::atomic<std::uint8_t> WorkerMode;
extern std::atomic<std::uint32_t> WorkerStartTicks;
extern std::atomic<std::uint16_t> SearchTimeout;

extern std::atomic<std::uint16_t> AcquiredCount;
extern std::atomic<std::uint16_t> AcquiredCountMark;
extern std::atomic<std::uint16_t> MeasurementCounter;
extern std::atomic<std::uint16_t> MeasurementCounterMark;

// Request flags: set by the window, tested and cleared by the servicing thread.
extern std::atomic<std::uint8_t> RequestWriteParams;
extern std::atomic<std::uint8_t> RequestReadParams;
extern std::atomic<std::uint8_t> RequestFlushParams;
extern std::atomic<std::uint8_t> FlushArgument;
extern std::atomic<std::uint8_t> RequestImage;
extern std::atomic<std::uint8_t> RequestSaveProfile;

extern qz417::SharedConfig DeviceConfig;
extern qz417::SharedBuffer<QZ417_IMAGE_SIZE> ImageBuffer;
extern qz417::SharedBuffer<QZ417_PACKET_SIZE> ResultPacket;

extern std::atomic<std::uint16_t> UdpPort;

// Scale of the shown device (set by the device description display). Read
// and written through CurrentScale / SetCurrentScale, which keep the four
// values consistent.
extern std::atomic<std::uint16_t> RangeXEmr;
extern std::atomic<std::uint16_t> RangeZ;
extern std::atomic<std::uint16_t> DiscreteValue;
extern std::atomic<std::int16_t> ErrorValue;

// Base of the Profiles directory: the current directory at window creation.
// Written once before any thread starts, read-only afterwards.
extern std::string StartDirectory;

// Last reply of the angle calculation (window thread only).
extern std::int16_t LastCalculatedAngle;

namespace qz417 {

// The four scale values above, read and written as one value: a reader
// never sees part of one scale and part of another.
ProfileScale CurrentScale();
void SetCurrentScale(const ProfileScale &scale);

// Milliseconds of a monotonic clock, as a wrapping 32-bit tick count.
std::uint32_t TickCount();

// Puts every value above back to its initial value (start-up, tests).
void ResetAppState();

} // namespace qz417
