#include "metaballs/metaball_effect.h"

#include <algorithm>
#include <cmath>

namespace tessivane::metaballs {

using namespace platform;

namespace {

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
    // same order per point as one point at a time, in a loop the compiler can vectorise.
    const float* xs = axisPositions;
    const float* ys = axisPositions + sizeX;
    const float* zs = axisPositions + sizeX + sizeY;
    double dx[64];
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
                const double dy2 = dy * dy;
                const double dz2 = dz * dz;
                for (int ix = 0; ix < sizeX; ++ix) {
                    dx[ix] = static_cast<double>(xs[ix]) - bx;
                }
                for (int ix = 0; ix < sizeX; ++ix) {
                    const double d = std::sqrt(dx[ix] * dx[ix] + dy2 + dz2);
                    row[ix] = static_cast<float>(row[ix] + (strength / d) / ballCount);
                }
            }
        }
    }
}

} // namespace tessivane::metaballs
