#include "app/test_support.h"

#include <gtest/gtest.h>

namespace tessivane::app::testing {
namespace {

using platform::DWORD;

bool quitRequested() {
    platform::MSG message;
    return platform::PeekMessageA(&message, nullptr, platform::WM_QUIT, platform::WM_QUIT,
                                  platform::PM_REMOVE) != 0;
}

class FrameClockTest : public HeadlessApplication {};

TEST_F(FrameClockTest, FirstCallDrawsNothingAndFramesNeed34Ms) {
    startWithFakeClock();
    tickAt({1000});
    EXPECT_TRUE(clock.frameTimes.empty());
    tickAt({1033});
    EXPECT_TRUE(clock.frameTimes.empty());
    tickAt({1034});
    ASSERT_EQ(clock.frameTimes.size(), 1u);
    // The next interval counts from the reading taken before the frame was drawn.
    clock.time = 1060; // the frame "took" 26 ms
    application.tick();
    EXPECT_EQ(clock.frameTimes.size(), 1u);
    tickAt({1067, 1068});
    EXPECT_EQ(clock.frameTimes.size(), 2u);
    EXPECT_EQ(clock.frameScenes, (std::vector<int>{0, 0}));
}

TEST_F(FrameClockTest, SceneSwitchesNeedStrictlyMoreThanTheirTimes) {
    startWithFakeClock();
    tickAt({5000, 5000 + 47966, 5000 + 48000});
    EXPECT_EQ(application.sceneDirector()->currentScene(), 0);
    tickAt({5000 + 48034});
    EXPECT_EQ(application.sceneDirector()->currentScene(), 1);
    tickAt({5000 + 62016, 5000 + 62050});
    EXPECT_EQ(application.sceneDirector()->currentScene(), 1);
    tickAt({5000 + 62084});
    EXPECT_EQ(application.sceneDirector()->currentScene(), 2);
    EXPECT_TRUE(application.sceneDirector()->tunnelActive);
    // The frame that crossed a time still showed the old scene.
    EXPECT_EQ(clock.frameScenes, (std::vector<int>{0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(events,
              (std::vector<Event>{{TimelineEvent::Scene1, 48034}, {TimelineEvent::Scene2, 62084}}));
}

TEST_F(FrameClockTest, AStallPastBothScenesDrawsSceneZeroThenSwitchesTwiceInOrder) {
    startWithFakeClock();
    tickAt({0, 63000});
    EXPECT_EQ(clock.frameScenes, (std::vector<int>{0}));
    EXPECT_EQ(application.sceneDirector()->currentScene(), 2);
    EXPECT_EQ(events,
              (std::vector<Event>{{TimelineEvent::Scene1, 63000}, {TimelineEvent::Scene2, 63000}}));
}

TEST_F(FrameClockTest, SupplyEndAndQuitRepeatOnEveryFrameButAreAnnouncedOnce) {
    startWithFakeClock();
    tickAt({0, 90000});
    EXPECT_TRUE(application.sceneDirector()->tunnelActive);
    tickAt({90034});
    EXPECT_FALSE(application.sceneDirector()->tunnelActive);
    // Whatever sets it again, the next frame clears it.
    application.sceneDirector()->tunnelActive = true;
    tickAt({90068});
    EXPECT_FALSE(application.sceneDirector()->tunnelActive);

    tickAt({96000});
    EXPECT_FALSE(quitRequested());
    tickAt({96034});
    EXPECT_TRUE(quitRequested());
    tickAt({96068});
    EXPECT_TRUE(quitRequested());
    // No tick without a frame requests anything.
    tickAt({96070});
    EXPECT_FALSE(quitRequested());

    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2], (Event{TimelineEvent::SupplyEnd, 90034}));
    EXPECT_EQ(events[3], (Event{TimelineEvent::Quit, 96034}));
}

TEST_F(FrameClockTest, TimerWrapKeepsTheGateAndTheTimeline) {
    startWithFakeClock();
    const DWORD start = 0xFFFFFFFFu - 20;
    tickAt({start, start + 33}); // wraps to 12: still within the gate
    EXPECT_TRUE(clock.frameTimes.empty());
    tickAt({start + 34});
    EXPECT_EQ(clock.frameTimes.size(), 1u);
    tickAt({start + 48000});
    EXPECT_EQ(application.sceneDirector()->currentScene(), 0);
    tickAt({start + 48034});
    EXPECT_EQ(application.sceneDirector()->currentScene(), 1);
    EXPECT_EQ(events, (std::vector<Event>{{TimelineEvent::Scene1, 48034}}));
}

TEST_F(FrameClockTest, NoFrameIsDrawnAfterThePumpTakesTheQuit) {
    startWithFakeClock();
    clock.stepPerIdle = 1;
    clock.time = 95990;
    tickAt({0}); // the origin
    clock.time = 95990;
    application.tick();
    const std::size_t before = clock.frameTimes.size();
    EXPECT_EQ(application.run(), 0);
    // One frame at 96024 (34 ms after 95990) requests the quit; the pump ends on it.
    ASSERT_EQ(clock.frameTimes.size(), before + 1);
    EXPECT_EQ(clock.frameTimes.back(), 96024u);
}

// Notes the time of every present on a virtual display.
class RecordingVirtualClock final : public platform::Clock {
public:
    explicit RecordingVirtualClock(unsigned hz) : inner_(hz) {}
    DWORD now() override { return inner_.now(); }
    void idle() override { inner_.idle(); }
    void waitForRetrace() override {
        frames.push_back(inner_.now());
        inner_.waitForRetrace();
    }
    std::vector<DWORD> frames;

private:
    platform::VirtualClock inner_;
};

struct Pacing {
    unsigned refreshHz;
    DWORD frameSpacing;
};

class VirtualDisplayPacing : public HeadlessApplication,
                             public ::testing::WithParamInterface<Pacing> {
protected:
    // Outlives the application's teardown: the music's thread reads it until then.
    RecordingVirtualClock recorder{GetParam().refreshHz};
};

// At 60 Hz the retrace comes well inside the 34 ms gate, so frames are 34 ms apart (about
// 29.4 per second); at 20 Hz every present waits for the 50 ms retrace. The first 40 s of the
// show are enough to see it (the whole timeline is the end-to-end tests' to run).
TEST_P(VirtualDisplayPacing, FramesFollowTheGateAndTheRetrace) {
    platform::PlatformConfig config = headlessConfig();
    config.refreshHz = GetParam().refreshHz;
    start(config, &recorder);
    ASSERT_TRUE(platform::SUCCEEDED(result));
    application.onFrameDrawn = [](DWORD elapsed) {
        if (elapsed >= 40000) {
            platform::PostQuitMessage(0);
        }
    };
    EXPECT_EQ(application.run(), 0);
    application.onFrameDrawn = nullptr;
    ASSERT_GT(recorder.frames.size(), 40000u / GetParam().frameSpacing - 10);
    // After the first few frames the pattern settles.
    for (std::size_t i = 8; i < recorder.frames.size(); ++i) {
        ASSERT_EQ(recorder.frames[i] - recorder.frames[i - 1], GetParam().frameSpacing) << i;
    }
    EXPECT_TRUE(events.empty());
}

INSTANTIATE_TEST_SUITE_P(RefreshRates, VirtualDisplayPacing,
                         ::testing::Values(Pacing{60, 34}, Pacing{20, 50}));

} // namespace
} // namespace tessivane::app::testing
