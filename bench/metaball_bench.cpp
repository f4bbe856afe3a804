// The metaball surface's CPU work per frame: field evaluation and marching cubes.
#include "metaballs/metaball_effect.h"

#include <benchmark/benchmark.h>

using namespace tessivane::metaballs;

namespace {
constexpr float START[9] = {0.3f, 0.2f, 0.5f, 0.0f, 0.0f, 0.0f, 0.1f, -0.2f, -0.3f};
}

static void BM_MetaballField(benchmark::State& state) {
    MetaballEffect effect(3, START);
    effect.update();
    for (auto _ : state) {
        effect.computeField();
        benchmark::DoNotOptimize(effect.fieldValues[0]);
    }
}
BENCHMARK(BM_MetaballField)->Unit(benchmark::kMicrosecond);

static void BM_MetaballPolygonise(benchmark::State& state) {
    MetaballEffect effect(3, START);
    effect.update();
    for (auto _ : state) {
        effect.vertexCount = 0;
        effect.polygonise();
        benchmark::DoNotOptimize(effect.vertexCount);
    }
}
BENCHMARK(BM_MetaballPolygonise)->Unit(benchmark::kMicrosecond);

// A whole update: motion, field and surface.
static void BM_MetaballUpdate(benchmark::State& state) {
    MetaballEffect effect(3, START);
    for (auto _ : state) {
        effect.update();
        benchmark::DoNotOptimize(effect.vertexCount);
    }
}
BENCHMARK(BM_MetaballUpdate)->Unit(benchmark::kMicrosecond);
