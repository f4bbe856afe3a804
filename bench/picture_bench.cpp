// The conversion of a drawn 640x480 frame to the planar Y'CbCr a video capture encodes, for
// every frame of the show: with vector steps, and one pixel at a time.
#include "platform/yuv_picture.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

using namespace tessivane::platform;

namespace {

template <void (*CONVERT)(const std::uint32_t*, int, int, int, const Yuv420Planes&)>
void convertFrames(benchmark::State& state) {
    constexpr int WIDTH = 640, HEIGHT = 480;
    std::vector<std::uint32_t> pixels(WIDTH * HEIGHT);
    std::uint32_t seed = 1;
    for (std::uint32_t& p : pixels) {
        seed = seed * 1664525u + 1013904223u;
        p = seed;
    }
    std::vector<std::uint8_t> y(WIDTH * HEIGHT), cb(WIDTH * HEIGHT / 4), cr(WIDTH * HEIGHT / 4);
    const Yuv420Planes planes{y.data(), cb.data(), cr.data(), WIDTH, WIDTH / 2, WIDTH / 2};
    for (auto _ : state) {
        CONVERT(pixels.data(), WIDTH, HEIGHT, WIDTH, planes);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

static void BM_FrameToYuv(benchmark::State& state) {
    convertFrames<toYuv420>(state);
}
BENCHMARK(BM_FrameToYuv)->Unit(benchmark::kMicrosecond);

static void BM_FrameToYuvPlain(benchmark::State& state) {
    convertFrames<toYuv420Plain>(state);
}
BENCHMARK(BM_FrameToYuvPlain)->Unit(benchmark::kMicrosecond);
