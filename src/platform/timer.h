// The millisecond timer, and the clocks behind it.
//
// timeGetTime reads the current clock: the system's monotonic clock, or the virtual clock
// that headless runs use to play the show as fast as it can render while keeping every
// time-dependent decision exactly as on a real display.
#pragma once

#include "platform/win_types.h"

#include <atomic>
#include <cstdint>

namespace tessivane::platform {

// Milliseconds of the current clock, wrapping after 2^32 ms (about 49.7 days).
DWORD timeGetTime();

class Clock {
public:
    virtual ~Clock() = default;
    // The current time in milliseconds, wrapping modulo 2^32.
    virtual DWORD now() = 0;
    // The message pump found nothing to do.
    virtual void idle() {}
    // A present waits for the display's next vertical retrace.
    virtual void waitForRetrace() {}
};

// The system's monotonic millisecond clock. Retraces are waited for by the display itself.
class SystemClock final : public Clock {
public:
    DWORD now() override;
};

// A deterministic clock modelling a display of refreshHz: each idle pass of the pump lets
// 1 ms go by, and a present waits for the next refresh boundary. Time is kept exactly in
// units of 1 / (1000 · refreshHz) s, so a millisecond is refreshHz units and a refresh
// period 1000 units, whatever the rate. One thread moves it; any thread may read it (the
// null sound device's position follows it from the music's own thread).
class VirtualClock final : public Clock {
public:
    // refreshHz in 1..1000; startMs is the reading before any time has passed.
    explicit VirtualClock(unsigned refreshHz, DWORD startMs = 0);
    DWORD now() override;
    void idle() override;
    void waitForRetrace() override;
    // Total virtual time since construction, in microseconds (rounded down).
    std::uint64_t elapsedMicroseconds() const;
    // Total virtual time since construction, exactly, in units of 1 / unitsPerSecond() s.
    std::uint64_t elapsedUnits() const;
    std::uint64_t unitsPerSecond() const { return unitsPerMs_ * 1000; }

private:
    std::uint64_t unitsPerMs_;
    std::uint64_t startUnits_;
    std::atomic<std::uint64_t> units_;
};

// Makes clock the one timeGetTime reads (not owned); null returns to the system clock.
// Set it before any other thread reads the time.
void setClock(Clock* clock);
Clock& currentClock();

} // namespace tessivane::platform
