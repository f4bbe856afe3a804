#include "metaballs/metaball_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace tessivane::metaballs {
namespace {

constexpr float START[9] = {0.3f, 0.2f, 0.5f, 0.0f, 0.0f, 0.0f, 0.1f, -0.2f, -0.3f};

float sine(float x) {
    return static_cast<float>(std::sin(static_cast<double>(x)));
}
float cosine(float x) {
    return static_cast<float>(std::cos(static_cast<double>(x)));
}

TEST(MetaballGrid, RunsFromMinus2Point4To2Point25) {
    MetaballEffect effect(3, START);
    const float* first = &effect.gridPositions[0];
    const float* last = &effect.gridPositions[3 * effect.gridIndex(31, 31, 31)];
    for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(first[k], -2.4f);
        EXPECT_FLOAT_EQ(last[k], 2.25f);
    }
    EXPECT_EQ(effect.gridIndex(1, 2, 3), 1 + 32 * (2 + 32 * 3));
    EXPECT_FLOAT_EQ(effect.gridPositions[3 * effect.gridIndex(1, 2, 3) + 1], (2 - 16) * 0.15f);
}

TEST(MetaballMotion, FirstUpdatePlacesTheBallsFromTheSteppedPhases) {
    resetBallMotion();
    MetaballEffect effect(3, START);
    effect.update();
    const float b = 0.1f + 0.035f, c = 0.1f + 0.02f;
    EXPECT_EQ(effect.balls[0], 1.5f * sine(b) - 0.5f);
    EXPECT_EQ(effect.balls[1], 1.2f * cosine(c) - 0.5f);
    EXPECT_EQ(effect.balls[2], cosine(b));
    EXPECT_NEAR(effect.balls[0], 1.5 * std::sin(0.135) - 0.5, 1e-6);
    // The phases belong to the run, not to one effect: a second effect moves on from them.
    MetaballEffect another(3, START);
    another.update();
    EXPECT_NE(another.balls[0], effect.balls[0]);
    resetBallMotion();
}

TEST(MetaballField, IsTheMeanInverseDistance) {
    MetaballEffect effect(3, START);
    // All three balls on grid point (17, 18, 13); a point 4 steps along x is 0.6 away.
    const float* centre = &effect.gridPositions[3 * effect.gridIndex(17, 18, 13)];
    for (int ball = 0; ball < 3; ++ball) {
        std::copy(centre, centre + 3, effect.balls + 3 * ball);
    }
    effect.computeField();
    const int i = effect.gridIndex(21, 18, 13);
    EXPECT_NEAR(effect.fieldValues[i], 1.0 / 0.6, 1e-5);
    EXPECT_TRUE(std::isinf(effect.fieldValues[effect.gridIndex(17, 18, 13)]));

    MetaballEffect empty(0, nullptr);
    empty.computeField();
    for (int j = 0; j < 32 * 32 * 32; ++j) {
        ASSERT_EQ(empty.fieldValues[j], 0.0f);
    }
    empty.update();
    EXPECT_EQ(empty.vertexCount, 0);
}

TEST(MetaballField, RowWiseEvaluationMatchesThePointByPointFormulaBitForBit) {
    resetBallMotion();
    MetaballEffect effect(3, START);
    for (int frame = 0; frame < 5; ++frame) {
        effect.update();
        for (int i = 0; i < 32 * 32 * 32; ++i) {
            const float* p = &effect.gridPositions[3 * i];
            float sum = 0.0f;
            for (int j = 0; j < 3; ++j) {
                const double dx = static_cast<double>(p[0]) - effect.balls[3 * j];
                const double dy = static_cast<double>(p[1]) - effect.balls[3 * j + 1];
                const double dz = static_cast<double>(p[2]) - effect.balls[3 * j + 2];
                const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
                sum = static_cast<float>(sum + (1.0f / d) / 3);
            }
            ASSERT_EQ(effect.fieldValues[i], sum) << i;
        }
    }
    resetBallMotion();
}

// A field of 1 everywhere (all corners inside) with chosen points set lower.
void flatField(MetaballEffect& effect, float value = 1.0f) {
    for (int j = 0; j < 32 * 32 * 32; ++j) {
        effect.fieldValues[j] = value;
    }
}

TEST(Polygoniser, UniformCellsProduceNothing) {
    MetaballEffect effect(3, START);
    flatField(effect, 1.0f);
    effect.polygonise();
    EXPECT_EQ(effect.vertexCount, 0);
    flatField(effect, 0.5f);
    effect.polygonise();
    EXPECT_EQ(effect.vertexCount, 0);
}

TEST(Polygoniser, OneCornerBelowMakesOneTriangleOnItsThreeEdges) {
    MetaballEffect effect(3, START);
    flatField(effect);
    // Grid point (5, 5, 6) is corner 0 of cell (5, 5, 5), the fourth of the eight cells
    // around it in walk order.
    effect.fieldValues[effect.gridIndex(5, 5, 6)] = 0.0f;
    effect.polygonise();
    ASSERT_EQ(effect.vertexCount, 8 * 3);
    const MetaballVertex* t = &effect.vertices[3 * 3];
    const float* g = &effect.gridPositions[3 * effect.gridIndex(5, 5, 6)];
    // Edge 0 (corner 0 to 1, along x): t = 0.9 of the way from the low corner.
    EXPECT_FLOAT_EQ(t[0].x, 0.1f * g[0] + 0.9f * (g[0] + 0.15f));
    EXPECT_FLOAT_EQ(t[0].y, g[1]);
    // Edge 8 (corner 0 to 4, along y), then edge 3 (corner 3 to 0, along z, starting at the
    // corner inside the surface: t = 0.1 of the way up to G).
    EXPECT_FLOAT_EQ(t[1].x, g[0]);
    EXPECT_GT(t[1].y, g[1]);
    EXPECT_FLOAT_EQ(t[2].x, g[0]);
    EXPECT_FLOAT_EQ(t[2].y, g[1]);
    EXPECT_NEAR(t[2].z, g[2] - 0.135f, 1e-6f);
    for (int i = 0; i < effect.vertexCount; ++i) {
        const MetaballVertex& v = effect.vertices[i];
        EXPECT_EQ(v.diffuse, 0xFFFFFFFFu);
        EXPECT_FLOAT_EQ(v.u, (v.nx + 1) * 0.5f);
        EXPECT_FLOAT_EQ(v.v, (v.ny + 1) * 0.5f);
        EXPECT_NEAR(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz, 1.0f, 1e-5f);
        EXPECT_GE(v.u, 0.0f);
        EXPECT_LE(v.u, 1.0f);
    }
}

TEST(Polygoniser, ANanCornerCountsAsBelowTheSurface) {
    MetaballEffect effect(3, START);
    flatField(effect);
    effect.fieldValues[effect.gridIndex(10, 10, 10)] = std::numeric_limits<float>::quiet_NaN();
    effect.polygonise();
    EXPECT_EQ(effect.vertexCount, 8 * 3);
}

// Cell by cell, the way the walk is defined, without the row masks.
std::vector<MetaballVertex> referenceSurface(MetaballEffect& effect) {
    static constexpr int OFFSETS[8][3] = {{0, 0, 1}, {1, 0, 1}, {1, 0, 0}, {0, 0, 0},
                                          {0, 1, 1}, {1, 1, 1}, {1, 1, 0}, {0, 1, 0}};
    static constexpr int EDGES[12][3] = {{0, 1, 0}, {1, 2, 2}, {2, 3, 0}, {3, 0, 2},
                                         {4, 5, 0}, {5, 6, 2}, {6, 7, 0}, {7, 4, 2},
                                         {0, 4, 1}, {1, 5, 1}, {2, 6, 1}, {3, 7, 1}};
    effect.vertexCount = 0;
    for (int iz = 0; iz < 31; ++iz) {
        for (int iy = 0; iy < 31; ++iy) {
            for (int ix = 0; ix < 31; ++ix) {
                int index[8][3];
                int cube = 0;
                for (int k = 0; k < 8; ++k) {
                    index[k][0] = ix + OFFSETS[k][0];
                    index[k][1] = iy + OFFSETS[k][1];
                    index[k][2] = iz + OFFSETS[k][2];
                    const float v =
                        effect.fieldValues[effect.gridIndex(index[k][0], index[k][1], index[k][2])];
                    cube |= (!(v >= effect.isoLevel)) << k;
                }
                if (cube == 0 || cube == 255) {
                    continue;
                }
                MetaballVertex scratch[12];
                for (int e = 0; e < 12; ++e) {
                    const int* a = index[EDGES[e][0]];
                    const int* b = index[EDGES[e][1]];
                    if (((cube >> EDGES[e][0]) ^ (cube >> EDGES[e][1])) & 1) {
                        const int ia = effect.gridIndex(a[0], a[1], a[2]);
                        const int ib = effect.gridIndex(b[0], b[1], b[2]);
                        const int* low = ia < ib ? a : b;
                        scratch[e] = effect.edgeVertex(
                            &effect.gridPositions[3 * ia], &effect.gridPositions[3 * ib],
                            effect.fieldValues[ia], effect.fieldValues[ib], low[0], low[1], low[2],
                            EDGES[e][2]);
                    }
                }
                effect.emitTriangles(cube, scratch);
            }
        }
    }
    return {effect.vertices, effect.vertices + effect.vertexCount};
}

TEST(Polygoniser, RowMaskWalkMatchesTheCellByCellWalk) {
    MetaballEffect effect(3, START);
    // A rough field with NaNs, edge-touching values and the far faces crossed.
    std::uint32_t state = 12345;
    for (int i = 0; i < 32 * 32 * 32; ++i) {
        state = state * 1664525u + 1013904223u;
        const int r = static_cast<int>(state >> 24);
        effect.fieldValues[i] = r < 2   ? std::numeric_limits<float>::quiet_NaN()
                                : r < 8 ? 0.9f
                                        : static_cast<float>(r) / 140.0f;
    }
    effect.vertexCount = 0;
    effect.polygonise();
    const std::vector<MetaballVertex> fast(effect.vertices, effect.vertices + effect.vertexCount);
    const std::vector<MetaballVertex> slow = referenceSurface(effect);
    ASSERT_EQ(fast.size(), slow.size());
    ASSERT_GT(fast.size(), 1000u);
    EXPECT_EQ(std::memcmp(fast.data(), slow.data(), fast.size() * sizeof(MetaballVertex)), 0);
}

TEST(Polygoniser, HighCubeIndicesUseTheirComplementsRow) {
    MetaballEffect effect(3, START);
    MetaballVertex scratch[12];
    for (int e = 0; e < 12; ++e) {
        scratch[e] = MetaballVertex{static_cast<float>(e), 0, 0, 1, 0, 0, 0, 0, 0};
    }
    auto emitted = [&](int cubeIndex) {
        effect.vertexCount = 0;
        effect.emitTriangles(cubeIndex, scratch);
        std::vector<int> edges;
        for (int i = 0; i < effect.vertexCount; ++i) {
            edges.push_back(static_cast<int>(effect.vertices[i].x));
        }
        return edges;
    };
    EXPECT_EQ(emitted(1), (std::vector<int>{0, 8, 3}));
    EXPECT_EQ(emitted(127), (std::vector<int>{7, 11, 6}));
    EXPECT_EQ(emitted(128), (std::vector<int>{7, 11, 6}));
    EXPECT_EQ(emitted(254), (std::vector<int>{0, 8, 3}));
    EXPECT_EQ(emitted(0).size(), 0u);
    EXPECT_EQ(emitted(3), (std::vector<int>{1, 8, 3, 9, 8, 1}));
    // Near the end of the array only whole triangles that fit are written.
    effect.vertexCount = effect.vertexCapacity() - 4;
    effect.emitTriangles(3, scratch);
    EXPECT_EQ(effect.vertexCount, effect.vertexCapacity() - 1);
}

TEST(Polygoniser, AStartValueOnTheLevelPutsTheVertexOnTheStartCorner) {
    MetaballEffect effect(3, START);
    flatField(effect);
    const float p1[3] = {0.3f, -0.6f, 0.9f};
    const float p2[3] = {0.45f, -0.6f, 0.9f};
    const MetaballVertex v = effect.edgeVertex(p1, p2, 0.9f, 0.2f, 18, 12, 22, 0);
    EXPECT_EQ(v.x, p1[0]);
    EXPECT_EQ(v.y, p1[1]);
    EXPECT_EQ(v.z, p1[2]);
}

TEST(Polygoniser, AMovingBlobAlwaysYieldsWholeTriangles) {
    resetBallMotion();
    MetaballEffect effect(3, START);
    for (int frame = 0; frame < 20; ++frame) {
        effect.update();
        ASSERT_GT(effect.vertexCount, 0);
        ASSERT_EQ(effect.vertexCount % 3, 0);
        ASSERT_LT(effect.vertexCount, effect.vertexCapacity() / 4);
    }
    resetBallMotion();
}

} // namespace
} // namespace tessivane::metaballs
