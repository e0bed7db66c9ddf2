// Window tests: the positive signs a test waits for instead of a fixed
// sleep. The view timer's ticks ("TimerView", every millisecond) run every
// duty of the window: the idle duty serves the parameter requests and fetches
// a requested picture, the view duties show the counters and rates. A test
// that asserts that something does NOT happen waits for ticks, so the window
// had its chance to do it.
#pragma once

#include <QObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdint>

#include "core/app_state.h"
#include "qz417link.h"

namespace qz417::test {

// Waits until the view timer of `window` has run `ticks` whole ticks from now
// (at most timeoutMs); false when it did not, for example while it is stopped.
// The spy is connected after the window's own slot, so a counted tick has
// finished its duty.
inline bool WaitForViewTicks(QObject *window, int ticks = 3, int timeoutMs = 5000) {
    auto *timer = window->findChild<QTimer *>(QStringLiteral("TimerView"));
    if (timer == nullptr)
        return false;
    QSignalSpy spy(timer, &QTimer::timeout);
    return QTest::qWaitFor([&spy, ticks] { return spy.count() >= ticks; }, timeoutMs);
}

// A request with a reply on the window's connection: it returns only after
// the scanner has served every earlier command, including writes, which have
// no reply of their own. Call it on the window thread while no worker runs
// (the idle duty runs there too, so the two never share the socket).
inline bool ScannerServedEverythingSent() {
    std::uint8_t reply[QZ417_ANGLE_SIZE];
    return QZ417_CalcAngle(DeviceSocket.load(), reply) == 1;
}

} // namespace qz417::test
