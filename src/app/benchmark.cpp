#include "app/benchmark.h"

#include "scene/scene_director.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace tessivane::app {

void runSceneBenchmark(Application& application, std::FILE* out) {
    scene::SceneDirector* director = application.sceneDirector();
    std::vector<double> times(BENCHMARK_FRAMES);
    for (int scene = 0; scene < 3; ++scene) {
        // Each scene starts as it does in the show; scene 2 runs with its supply of
        // structures, as it does for most of its time.
        director->setScene(scene);
        for (double& milliseconds : times) {
            const auto start = std::chrono::steady_clock::now();
            director->renderFrame();
            milliseconds =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
        }
        std::sort(times.begin(), times.end());
        const auto at = [&](double fraction) {
            return times[static_cast<std::size_t>(fraction * (times.size() - 1) + 0.5)];
        };
        std::fprintf(out, "scene %d: %d frames, median %.2f ms, p95 %.2f ms, max %.2f ms\n", scene,
                     BENCHMARK_FRAMES, at(0.5), at(0.95), times.back());
        std::fflush(out);
    }
}

} // namespace tessivane::app
