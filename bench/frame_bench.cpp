// The cost of the show's frame loop on the reference device, headless.
#include "app/application.h"
#include "platform/platform.h"
#include "scene/scene_director.h"

#include <benchmark/benchmark.h>

using namespace tessivane;

namespace {

struct HeadlessShow {
    HeadlessShow() {
        platform::PlatformConfig config;
        config.headless = true;
        platform::configurePlatform(config);
        ok = platform::SUCCEEDED(
            application.init(platform::GetModuleHandleA(nullptr), app::windowProc));
    }
    ~HeadlessShow() {
        application.shutdown();
        platform::shutdownPlatform();
    }
    app::Application application;
    bool ok = false;
};

} // namespace

// One drawn frame of the current scene: update, draw, present.
static void BM_RenderFrame(benchmark::State& state) {
    HeadlessShow show;
    if (!show.ok) {
        state.SkipWithError("start-up failed");
        return;
    }
    for (auto _ : state) {
        show.application.sceneDirector()->renderFrame();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderFrame)->Unit(benchmark::kMicrosecond);

// The whole 96 s timeline on the virtual clock.
static void BM_WholeShowHeadless(benchmark::State& state) {
    for (auto _ : state) {
        HeadlessShow show;
        if (!show.ok) {
            state.SkipWithError("start-up failed");
            return;
        }
        show.application.run();
    }
}
BENCHMARK(BM_WholeShowHeadless)->Unit(benchmark::kMillisecond);
