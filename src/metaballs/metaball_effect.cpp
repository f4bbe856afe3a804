#include "metaballs/metaball_effect.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessivane::metaballs {

using namespace platform;

namespace {

// One ball's share of the field along a row of points: strength / distance / ballCount added
// to each point's value in double and rounded to float, the distance the square root of
// dx² + dy² + dz² summed in that order.
void addBallToRow(float* row, const float* xs, int count, double bx, double dy2, double dz2,
                  double strength, int ballCount) {
    for (int ix = 0; ix < count; ++ix) {
        const double dx = static_cast<double>(xs[ix]) - bx;
        const double d = std::sqrt(dx * dx + dy2 + dz2);
        row[ix] = static_cast<float>(row[ix] + (strength / d) / ballCount);
    }
}

#if defined(__x86_64__)
// The same four points at a time: every lane goes through the very operations above (the
// square root and the divisions are exact to the last bit in both forms).
__attribute__((target("avx2"))) void addBallToRowWide(float* row, const float* xs, int count,
                                                      double bx, double dy2, double dz2,
                                                      double strength, int ballCount) {
    const __m256d ballX = _mm256_set1_pd(bx);
    const __m256d y2 = _mm256_set1_pd(dy2);
    const __m256d z2 = _mm256_set1_pd(dz2);
    const __m256d s = _mm256_set1_pd(strength);
    const __m256d n = _mm256_set1_pd(static_cast<double>(ballCount));
    int ix = 0;
    for (; ix + 4 <= count; ix += 4) {
        const __m256d dx = _mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(xs + ix)), ballX);
        const __m256d d =
            _mm256_sqrt_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), y2), z2));
        const __m256d sum = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(row + ix)),
                                          _mm256_div_pd(_mm256_div_pd(s, d), n));
        _mm_storeu_ps(row + ix, _mm256_cvtpd_ps(sum));
    }
    addBallToRow(row + ix, xs + ix, count - ix, bx, dy2, dz2, strength, ballCount);
}
#endif

using AddBall = void (*)(float*, const float*, int, double, double, double, double, int);

AddBall chooseAddBall() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) {
        return addBallToRowWide;
    }
#endif
    return addBallToRow;
}

// The phases of the ball motion, stepped once per update for the whole run, so the motion
// carries on where it stopped.
struct BallPhases {
    float a = 0.05f;
    float b = 0.1f;
    float c = 0.1f;
};
BallPhases phases;

float sine(float x) {
    return static_cast<float>(std::sin(static_cast<double>(x)));
}
float cosine(float x) {
    return static_cast<float>(std::cos(static_cast<double>(x)));
}

template <class Interface>
void release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

void resetBallMotion() {
    phases = BallPhases{};
}

MetaballEffect::MetaballEffect(int count, const float* initialBalls) : ballCount(count) {
    balls = new float[static_cast<std::size_t>(ballCount) * 3];
    std::copy(initialBalls, initialBalls + ballCount * 3, balls);
    vertices = new MetaballVertex[static_cast<std::size_t>(vertexCapacity())];
    const int points = sizeX * sizeY * sizeZ;
    gridPositions = new float[static_cast<std::size_t>(points) * 3];
    // The grid runs from -2.4 to 2.25 on each axis: it is not centred on the origin.
    float* p = gridPositions;
    for (int iz = 0; iz < sizeZ; ++iz) {
        for (int iy = 0; iy < sizeY; ++iy) {
            for (int ix = 0; ix < sizeX; ++ix) {
                *p++ = (static_cast<float>(ix) - static_cast<float>(sizeX) * 0.5f) * spacing;
                *p++ = (static_cast<float>(iy) - static_cast<float>(sizeY) * 0.5f) * spacing;
                *p++ = (static_cast<float>(iz) - static_cast<float>(sizeZ) * 0.5f) * spacing;
            }
        }
    }
    fieldValues = new float[static_cast<std::size_t>(points)]();
    rowsBelow = new std::uint64_t[static_cast<std::size_t>(sizeY) * sizeZ]();
    axisPositions = new float[static_cast<std::size_t>(sizeX + sizeY + sizeZ)];
    for (int i = 0; i < sizeX; ++i) {
        axisPositions[i] = gridPositions[3 * gridIndex(i, 0, 0)];
    }
    for (int i = 0; i < sizeY; ++i) {
        axisPositions[sizeX + i] = gridPositions[3 * gridIndex(0, i, 0) + 1];
    }
    for (int i = 0; i < sizeZ; ++i) {
        axisPositions[sizeX + sizeY + i] = gridPositions[3 * gridIndex(0, 0, i) + 2];
    }
}

MetaballEffect::~MetaballEffect() {
    release(surfaceTexture);
    release(sceneTexture);
    for (int i = 0; i < 4; ++i) {
        release(streakTextures[i]);
        release(directionTextures[i]);
        release(streakSurfaces[i]);
        release(directionSurfaces[i]);
    }
    release(sceneSurface);
    release(quadDeclaration);
    for (int i = 0; i < 3; ++i) {
        release(vertexShaders[i]);
        release(pixelShaders[i]);
    }
    delete[] streakWeights;
    delete[] balls;
    delete[] vertices;
    delete[] gridPositions;
    delete[] fieldValues;
    delete[] rowsBelow;
    delete[] axisPositions;
}

void MetaballEffect::update() {
    phases.a += 0.008f;
    phases.b += 0.035f;
    phases.c += 0.02f;
    const float a = phases.a, b = phases.b, c = phases.c;
    if (ballCount >= 3) {
        float* ball = balls;
        ball[0] = 1.5f * sine(b) - 0.5f;
        ball[1] = 1.2f * cosine(c) - 0.5f;
        ball[2] = cosine(b);
        ball[3] = cosine(c) - 0.4f;
        ball[4] = 0.8f * sine(c) + 0.5f;
        ball[5] = 0.3f * sine(a) + 0.1f;
        ball[6] = sine(b) * cosine(c);
        ball[7] = cosine(a) + 0.7f;
        ball[8] = 0.9f * sine(c) - 0.2f;
    }
    computeField();
    vertexCount = 0;
    polygonise();
}

void MetaballEffect::computeField() {
    // The mean of strength/distance over the balls, rounded to float after each ball. The
    // grid's coordinates are the same on every row, so a row of points is done ball by ball
    // with the square of the row's y and z distances taken once: the same operations in the
    // same order per point as one point at a time, several points at a time.
    static const AddBall addBall = chooseAddBall();
    const float* xs = axisPositions;
    const float* ys = axisPositions + sizeX;
    const float* zs = axisPositions + sizeX + sizeY;
    for (int iz = 0; iz < sizeZ; ++iz) {
        for (int iy = 0; iy < sizeY; ++iy) {
            float* row = fieldValues + gridIndex(0, iy, iz);
            for (int ix = 0; ix < sizeX; ++ix) {
                row[ix] = 0.0f;
            }
            for (int j = 0; j < ballCount; ++j) {
                const double bx = balls[3 * j];
                const double dy = static_cast<double>(ys[iy]) - balls[3 * j + 1];
                const double dz = static_cast<double>(zs[iz]) - balls[3 * j + 2];
                addBall(row, xs, sizeX, bx, dy * dy, dz * dz, strength, ballCount);
            }
        }
    }
}

} // namespace tessivane::metaballs
