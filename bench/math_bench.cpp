#include "math/matrix4.h"

#include <benchmark/benchmark.h>

using namespace tessivane::math;

static void BM_MatrixProduct(benchmark::State& state) {
    Matrix4 a = matrixRotationAxis(0.3f, {0, 1, 0});
    const Matrix4 b = matrixTranslation({3, -1, 2});
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        Matrix4 r = a * b;
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_MatrixProduct);

static void BM_LookAtTimesProjection(benchmark::State& state) {
    Vector3 eye(0, 0, 24);
    for (auto _ : state) {
        benchmark::DoNotOptimize(eye);
        Matrix4 r = matrixLookAt(eye, {0, 0, 0}, {0, 1, 0}) * matrixProjection();
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_LookAtTimesProjection);

static void BM_TransformCoord(benchmark::State& state) {
    const Matrix4 m = matrixLookAt({0, 0, 15}, {0, 0, 0}, {0, 1, 0}) * matrixProjection();
    Vector3 p(1, 2, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        Vector3 r = p.transformCoord(m);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_TransformCoord);
