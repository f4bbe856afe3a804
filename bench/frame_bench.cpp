// The cost of the show's frame loop on the reference device, headless.
#include "app/application.h"
#include "platform/platform.h"
#include "scene/scene_director.h"

#include <benchmark/benchmark.h>
#include <ctime>

using namespace tessivane;

namespace {

struct HeadlessShow {
    // threads: render threads of the reference device, 0 for one per core.
    explicit HeadlessShow(unsigned threads = 0) {
        platform::PlatformConfig config;
        config.headless = true;
        config.renderThreads = threads;
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

// CPU time of the whole process, all render threads included: a measure of the work a frame
// takes that holds up on a machine busy with other things.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Renders frames of the director's current scene for the benchmark's iterations, reporting
// the process CPU milliseconds per frame beside the wall time.
void renderFrames(benchmark::State& state, scene::SceneDirector* director) {
    const double start = processSeconds();
    for (auto _ : state) {
        director->renderFrame();
    }
    state.counters["cpu_ms"] =
        benchmark::Counter((processSeconds() - start) * 1e3 / double(state.iterations()));
    state.SetItemsProcessed(state.iterations());
}

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

// Frames of scene `scene` on a show drawing with the benchmark argument's number of render
// threads (0: one per core), after one metaball frame: that first frame leaves the state the
// metaball scene's later frames start from, and the shaders and stages the tube scene
// inherits.
static void sceneFrames(benchmark::State& state, int scene) {
    HeadlessShow show(static_cast<unsigned>(state.range(0)));
    if (!show.ok) {
        state.SkipWithError("start-up failed");
        return;
    }
    scene::SceneDirector* director = show.application.sceneDirector();
    director->setScene(1);
    director->renderFrame();
    if (scene != 1) {
        director->setScene(scene);
    }
    renderFrames(state, director);
}

// One frame of the metaball scene at 640x480: the surface update, the twenty passes of the
// glare and the present. With one thread, the CPU time is the whole cost of a frame.
static void BM_MetaballSceneFrame(benchmark::State& state) {
    sceneFrames(state, 1);
}
BENCHMARK(BM_MetaballSceneFrame)
    ->ArgName("threads")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One frame of the tube scene: 32 structures of up to 968 strip draws each through the tube
// program, added onto the target.
static void BM_TubeSceneFrame(benchmark::State& state) {
    sceneFrames(state, 2);
}
BENCHMARK(BM_TubeSceneFrame)
    ->ArgName("threads")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The 150 frames of the tube scene from its start that `tessivane --benchmark` times: as the
// flight goes on, trees pass the camera and lie behind it, and the frames change in cost.
static void BM_TubeSceneRun(benchmark::State& state) {
    sceneFrames(state, 2);
}
BENCHMARK(BM_TubeSceneRun)
    ->ArgName("threads")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(150)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
