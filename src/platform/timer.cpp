#include "platform/timer.h"

#include <chrono>

namespace tessivane::platform {

namespace {

SystemClock systemClock;
std::atomic<Clock*> activeClock{&systemClock};

constexpr std::uint64_t UNITS_PER_REFRESH = 1000;

} // namespace

DWORD timeGetTime() {
    return activeClock.load()->now();
}

DWORD SystemClock::now() {
    const auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count();
    return static_cast<DWORD>(ms);
}

VirtualClock::VirtualClock(unsigned refreshHz, DWORD startMs)
    : unitsPerMs_(refreshHz), startUnits_(static_cast<std::uint64_t>(startMs) * refreshHz),
      units_(startUnits_) {}

DWORD VirtualClock::now() {
    return static_cast<DWORD>(units_.load() / unitsPerMs_);
}

void VirtualClock::idle() {
    units_.store(units_.load() + unitsPerMs_);
}

void VirtualClock::waitForRetrace() {
    // Refresh boundaries lie at multiples of one period; a present made exactly on one
    // still waits for the next, as the retrace it could have caught is already under way.
    units_.store((units_.load() / UNITS_PER_REFRESH + 1) * UNITS_PER_REFRESH);
}

std::uint64_t VirtualClock::elapsedUnits() const {
    return units_.load() - startUnits_;
}

std::uint64_t VirtualClock::elapsedMicroseconds() const {
    return (units_.load() - startUnits_) * 1000 / unitsPerMs_;
}

void setClock(Clock* clock) {
    activeClock.store(clock != nullptr ? clock : &systemClock);
}

Clock& currentClock() {
    return *activeClock.load();
}

} // namespace tessivane::platform
