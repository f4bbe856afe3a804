// A headless application under test, with a clock the test controls.
#pragma once

#include "app/application.h"
#include "platform/platform.h"
#include "platform/timer.h"
#include "platform/window.h"
#include "scene/scene_director.h"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::app::testing {

// Time moves only when the test says so (or by stepPerIdle on each idle pass). Every
// present is a drawn frame; the clock notes the scene it showed and the time. The music's
// thread reads the time too, so the reading is atomic.
class FakeClock final : public platform::Clock {
public:
    platform::DWORD now() override { return time; }
    void idle() override { time += stepPerIdle; }
    void waitForRetrace() override {
        frameTimes.push_back(time);
        frameScenes.push_back(director != nullptr ? director->currentScene() : -1);
    }

    std::atomic<platform::DWORD> time = 0;
    platform::DWORD stepPerIdle = 0;
    scene::SceneDirector* director = nullptr;
    std::vector<platform::DWORD> frameTimes;
    std::vector<int> frameScenes;
};

struct Event {
    TimelineEvent event;
    platform::DWORD elapsed;
    bool operator==(const Event&) const = default;
};

class HeadlessApplication : public ::testing::Test {
protected:
    // Starts the application; a given clock is the time from before start-up on, as the
    // music's thread reads it from then.
    void start(platform::PlatformConfig config = headlessConfig(),
               platform::Clock* testClock = nullptr) {
        platform::configurePlatform(config);
        if (testClock != nullptr) {
            platform::setClock(testClock);
        }
        drainMessages();
        application.onTimelineEvent = [this](TimelineEvent e, platform::DWORD elapsed) {
            events.push_back({e, elapsed});
        };
        result = application.init(platform::GetModuleHandleA(nullptr), windowProc);
    }

    // Starts with the time in the test's hands.
    void startWithFakeClock() {
        start(headlessConfig(), &clock);
        ASSERT_TRUE(platform::SUCCEEDED(result)) << application.failure();
        clock.director = application.sceneDirector();
    }

    void TearDown() override {
        application.shutdown();
        platform::setClock(nullptr);
        platform::shutdownPlatform();
        platform::configurePlatform(headlessConfig());
    }

    static platform::PlatformConfig headlessConfig() {
        platform::PlatformConfig config;
        config.headless = true;
        return config;
    }

    static void drainMessages() {
        platform::MSG message;
        while (platform::PeekMessageA(&message, nullptr, 0, 0, platform::PM_REMOVE)) {
        }
    }

    // Runs tick at each of the given times.
    void tickAt(std::initializer_list<platform::DWORD> times) {
        for (platform::DWORD t : times) {
            clock.time = t;
            application.tick();
        }
    }

    Application application;
    platform::HRESULT result = platform::E_FAIL;
    FakeClock clock;
    std::vector<Event> events;
};

} // namespace tessivane::app::testing
