#include "app/benchmark.h"

#include "audio/output.h"
#include "audio/playback.h"
#include "platform/platform.h"
#include "platform/wave_out.h"
#include "scene/scene_director.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace tessivane::app {

void runSceneBenchmark(Application& application, std::FILE* out, int frames) {
    scene::SceneDirector* director = application.sceneDirector();
    std::vector<double> times(static_cast<std::size_t>(frames));
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
                     frames, at(0.5), at(0.95), times.back());
        std::fflush(out);
    }
}

bool runAudioBenchmark(std::FILE* out) {
    // The show's song is 20 patterns of 64 rows at 75 ms a row.
    constexpr double SONG_SECONDS = 96.0;
    constexpr std::uint32_t CHUNK = audio::OUTPUT_RATE / 10;
    audio::musicStop();
    platform::setWaveOutput(platform::WaveOutput::Pull);
    const auto start = std::chrono::steady_clock::now();
    bool ok = audio::musicStart();
    const auto frames = static_cast<std::uint32_t>(SONG_SECONDS * audio::OUTPUT_RATE);
    for (std::uint32_t done = 0; ok && done < frames; done += CHUNK) {
        ok = platform::pullWaveOutput(nullptr, std::min(CHUNK, frames - done));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "tessivane: the music cannot be rendered: %s\n",
                     *audio::musicProblem() != '\0' ? audio::musicProblem()
                                                    : platform::lastPlatformError());
    }
    audio::musicStop();
    platform::setWaveOutput(platform::WaveOutput::Default);
    if (ok) {
        std::fprintf(out, "audio: %.1f x real time\n", SONG_SECONDS / seconds);
    }
    return ok;
}

} // namespace tessivane::app
