#include "app/test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace tessivane::app::testing {
namespace {

using namespace platform;

class ApplicationTest : public HeadlessApplication {};

TEST_F(ApplicationTest, StartsOnTheReferenceDeviceAfterTheHardwareAttemptsFail) {
    start();
    ASSERT_TRUE(SUCCEEDED(result)) << application.failure();
    EXPECT_TRUE(application.failure().empty());
    EXPECT_NE(application.displayDevice(), nullptr);
    EXPECT_EQ(application.sceneDirector()->currentScene(), 0);
    // The cursor is hidden once the content is built, and shown again by the teardown.
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    application.shutdown();
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(application.displayDevice(), nullptr);
    EXPECT_EQ(application.sceneDirector(), nullptr);
}

TEST_F(ApplicationTest, NoDeviceInAnyAttemptFailsWithAReasonAndTearsDownSafely) {
    PlatformConfig config = headlessConfig();
    config.device = DeviceChoice::Hardware;
    start(config);
    EXPECT_EQ(result, E_FAIL);
    EXPECT_NE(application.failure().find("no 3D device"), std::string::npos)
        << application.failure();
    EXPECT_EQ(application.displayDevice(), nullptr);
    EXPECT_EQ(application.sceneDirector(), nullptr);
    // The failed start-up never hid the cursor; the teardown still shows it.
    application.shutdown();
    EXPECT_EQ(ShowCursor(FALSE), 0);
    application.shutdown(); // and may run again without harm
}

TEST_F(ApplicationTest, ReferenceOnlyDeviceChoiceStillStarts) {
    PlatformConfig config = headlessConfig();
    config.device = DeviceChoice::Reference;
    start(config);
    EXPECT_TRUE(SUCCEEDED(result)) << application.failure();
}

TEST_F(ApplicationTest, WithoutADisplayStartUpSaysSo) {
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    PlatformConfig config;
    config.fullscreen = false;
    start(config);
    unsetenv("SDL_VIDEODRIVER");
    EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(application.failure().rfind("no display", 0), 0u) << application.failure();
    EXPECT_EQ(application.mainWindow(), nullptr);
}

TEST_F(ApplicationTest, EscapeQuitsBeforeAnotherFrame) {
    startWithFakeClock();
    clock.stepPerIdle = 1;
    PostMessageA(application.mainWindow(), WM_KEYDOWN, 'A', 0);
    PostMessageA(application.mainWindow(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(application.run(), 0);
    EXPECT_TRUE(clock.frameTimes.empty());
    EXPECT_TRUE(events.empty());
}

TEST_F(ApplicationTest, OtherKeysDoNothing) {
    startWithFakeClock();
    PostMessageA(application.mainWindow(), WM_KEYDOWN, 'Q', 0);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&message);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(ApplicationTest, ClosingTheWindowDestroysItAndQuits) {
    startWithFakeClock();
    PostMessageA(application.mainWindow(), WM_CLOSE, 0, 0);
    EXPECT_EQ(application.run(), 0);
    // The window is gone: nothing more can be posted to it.
    EXPECT_FALSE(PostMessageA(application.mainWindow(), WM_NULL, 0, 0));
}

TEST_F(ApplicationTest, WaitingMessagesDelayFramesWithoutLosingThem) {
    startWithFakeClock();
    tickAt({0});
    clock.time = 100;
    for (int i = 0; i < 50; ++i) {
        PostMessageA(application.mainWindow(), WM_NULL, 0, 0);
    }
    PostMessageA(application.mainWindow(), WM_KEYDOWN, VK_ESCAPE, 0);
    application.run();
    // Every message went through the procedure first; the quit came after the last.
    EXPECT_TRUE(clock.frameTimes.empty());
}

} // namespace
} // namespace tessivane::app::testing
