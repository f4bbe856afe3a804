#include "platform/timer.h"

#include <gtest/gtest.h>

namespace tessivane::platform {
namespace {

TEST(VirtualClock, IdlePassesAdvanceOneMillisecondAndPresentsWaitForTheNextRefresh) {
    VirtualClock clock(60);
    EXPECT_EQ(clock.now(), 0u);
    for (int i = 0; i < 10; ++i) {
        clock.idle();
    }
    EXPECT_EQ(clock.now(), 10u);
    clock.waitForRetrace(); // 16.67 ms
    EXPECT_EQ(clock.now(), 16u);
    EXPECT_EQ(clock.elapsedMicroseconds(), 16666u);
    clock.idle(); // 17.67
    EXPECT_EQ(clock.now(), 17u);
    clock.waitForRetrace(); // 33.33
    EXPECT_EQ(clock.now(), 33u);
    // Exactly on a boundary, the next one is waited for.
    clock.waitForRetrace();
    EXPECT_EQ(clock.elapsedMicroseconds(), 50000u);
    clock.waitForRetrace();
    EXPECT_EQ(clock.elapsedMicroseconds(), 66666u);
}

TEST(VirtualClock, ExactAtAnyWholeRate) {
    VirtualClock clock(50);
    clock.waitForRetrace();
    EXPECT_EQ(clock.now(), 20u);
    VirtualClock slow(1);
    slow.idle();
    slow.waitForRetrace();
    EXPECT_EQ(slow.now(), 1000u);
}

TEST(VirtualClock, ReadingsWrapAfter32Bits) {
    VirtualClock clock(60, 0xFFFFFFFEu);
    EXPECT_EQ(clock.now(), 0xFFFFFFFEu);
    clock.idle();
    clock.idle();
    clock.idle();
    EXPECT_EQ(clock.now(), 1u);
}

TEST(Timer, ReadsTheInstalledClock) {
    VirtualClock clock(60, 1234);
    setClock(&clock);
    EXPECT_EQ(timeGetTime(), 1234u);
    setClock(nullptr);
    const DWORD a = timeGetTime();
    const DWORD b = timeGetTime();
    EXPECT_LE(b - a, 1000u);
}

} // namespace
} // namespace tessivane::platform
