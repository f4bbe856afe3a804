#include "platform/platform.h"
#include "platform/timer.h"
#include "platform/window.h"

#include <gtest/gtest.h>
#include <vector>

namespace tessivane::platform {
namespace {

std::vector<UINT> received;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

class MessageQueue : public ::testing::Test {
protected:
    void SetUp() override {
        PlatformConfig config;
        config.headless = true;
        configurePlatform(config);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = recordingProc;
        windowClass.lpszClassName = "queue-test";
        RegisterClassExA(&windowClass); // a repeat registration fails, harmlessly
        window = CreateWindowExA(0, "queue-test", "t", 0, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                                 nullptr);
        ASSERT_NE(window, nullptr);
        received.clear();
    }
    void TearDown() override { shutdownPlatform(); }

    HWND window = nullptr;
};

TEST_F(MessageQueue, MessagesComeInOrderAndQuitOnlyWhenTheQueueIsEmpty) {
    PostQuitMessage(3);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(window, WM_NULL, 0, 0);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_KEYDOWN);
    EXPECT_EQ(m.wParam, VK_ESCAPE);
    EXPECT_EQ(m.hwnd, window);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_NULL);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);
    // Two quit requests before the pump looks are one quit.
    PostQuitMessage(0);
    PostQuitMessage(0);
    EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueue, PeekWithoutRemoveLeavesTheMessage) {
    PostMessageA(window, WM_NULL, 7, 0);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueue, AnEmptyQueueIsAnIdlePassOfTheClock) {
    VirtualClock clock(60);
    setClock(&clock);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(clock.now(), 2u);
    // A waiting message is no idle pass.
    PostMessageA(window, WM_NULL, 0, 0);
    EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(clock.now(), 2u);
    setClock(nullptr);
}

TEST_F(MessageQueue, DefaultHandlingOfCloseDestroysTheWindow) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&m);
    EXPECT_EQ(received, (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_FALSE(ShowWindow(window, SW_SHOWNORMAL));
}

TEST_F(MessageQueue, ClassesNeedAProcedureAndAName) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpszClassName = "no-procedure";
    EXPECT_EQ(RegisterClassExA(&windowClass), 0);
    EXPECT_EQ(
        CreateWindowExA(0, "no-procedure", "t", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_STRNE(lastPlatformError(), "");
}

} // namespace
} // namespace tessivane::platform
