// The benchmark mode: how fast this machine draws each scene and renders the music.
#pragma once

#include "app/application.h"

#include <cstdio>

namespace tessivane::app {

// Frames drawn per scene.
inline constexpr int BENCHMARK_FRAMES = 150;

// Draws BENCHMARK_FRAMES frames of each scene of a started (headless) application, with
// the scenes' real animation, and prints one line per scene to out:
//   scene N: F frames, median X.XX ms, p95 X.XX ms, max X.XX ms
void runSceneBenchmark(Application& application, std::FILE* out,
                       int frames = BENCHMARK_FRAMES);

// Renders the show's music, its whole song from the embedded module, as the output thread
// renders it for a video capture, and prints how many times faster than it plays:
//   audio: X.X x real time
// False, with a line on stderr, when the music cannot be rendered.
bool runAudioBenchmark(std::FILE* out);

} // namespace tessivane::app
