#include "math/random.h"
#include "scene/content.h"
#include "scene/scene_director.h"
#include "scene/stored_picture.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::scene {
namespace {

TEST(CubeSpiral, HasFiftyOneCubesTheLastJustAboveFive) {
    std::vector<LitVertex> vertices(64 * CUBE_VERTICES, LitVertex{});
    ASSERT_EQ(writeCubeSpiral(vertices.data(), 64), 51);
    // The slot after the last cube stays untouched.
    EXPECT_EQ(vertices[51 * CUBE_VERTICES].diffuse, 0u);
    // The last cube's faces lie 0.2 above and below its level.
    float top = -1e9f, bottom = 1e9f;
    for (int i = 50 * CUBE_VERTICES; i < 51 * CUBE_VERTICES; ++i) {
        top = std::max(top, vertices[i].y);
        bottom = std::min(bottom, vertices[i].y);
        EXPECT_EQ(vertices[i].diffuse, 0xFFFF8833u);
    }
    EXPECT_NEAR((top + bottom) / 2, 5.0000153f, 1e-6f);
    EXPECT_NEAR(top - bottom, 0.4f, 1e-5f);
    // The first cube sits at angle 0, radius 1, level 25; normals point out of the corners.
    const LitVertex& first = vertices[0]; // corner 1 = (-1, 1, -1)
    EXPECT_FLOAT_EQ(first.x, 0.2f * (-1 + 5.0f));
    EXPECT_FLOAT_EQ(first.y, 25.2f);
    EXPECT_FLOAT_EQ(first.z, -0.2f);
    EXPECT_FLOAT_EQ(first.nx, -1 / std::sqrt(3.0f));
    // A smaller buffer stops the spiral early instead of overflowing.
    EXPECT_EQ(writeCubeSpiral(vertices.data(), 10), 10);
}

TEST(StructurePlacement, SeedsWithTheIndexAndStepsAlongTheHelix) {
    float theta = 0.0f;
    const math::Matrix4 m = placeStructure(0, theta);
    EXPECT_FLOAT_EQ(theta, (38 * 9.155553e-6f - 0.3f) * 3.14159265f);
    EXPECT_NEAR(theta, -0.9414f, 1e-4f);
    // The placement ends on the helix of radius 15, 4 units of z per radian.
    EXPECT_NEAR(m.m[3][0], 15 * std::sin(theta), 1e-4f);
    EXPECT_NEAR(m.m[3][1], -15 * std::cos(theta), 1e-4f);
    EXPECT_FLOAT_EQ(m.m[3][2], 4 * theta);
    const float before = theta;
    placeStructure(1, theta);
    EXPECT_LE(theta, before);
    EXPECT_GE(theta, before - 0.3f * 3.1415927f);
}

TEST(Picture, StoredBitsWidenToFourPixelMasks) {
    std::vector<std::uint8_t> stored(STORED_PICTURE_BYTES, 0);
    // The bottom stored row is the texture's last row.
    stored[0] = 0x10;
    stored[1] = 0x80;
    stored[2] = 0x01;
    std::vector<std::uint8_t> texels(256 * 256, 7);
    expandPicture(stored.data(), texels.data(), 256);
    const std::uint8_t* last = &texels[255 * 256];
    const std::vector<std::uint8_t> row(last, last + 24);
    EXPECT_EQ(row, (std::vector<std::uint8_t>{255, 255, 255, 255, 254, 254, 254, 254,
                                              255, 254, 254, 254, 254, 254, 254, 254,
                                              254, 254, 254, 254, 255, 255, 255, 255}));
    EXPECT_TRUE(std::all_of(texels.begin(), texels.end(),
                            [](std::uint8_t t) { return t == 254 || t == 255; }));
}

TEST(Picture, FadeStepsGreysDownAndLeavesBlackAndWhite) {
    std::vector<std::uint8_t> texels(256 * 256, 254);
    texels[0] = 0;
    texels[1] = 255;
    texels[2] = 2;
    fadePicture(texels.data(), 256);
    EXPECT_EQ(texels[0], 0);
    EXPECT_EQ(texels[1], 255);
    EXPECT_EQ(texels[2], 0);
    EXPECT_EQ(texels[4], 252);
    for (int i = 0; i < 126; ++i) {
        fadePicture(texels.data(), 256);
    }
    EXPECT_EQ(texels[4], 0);
}

TEST(Fog, ThinsByStepsAndNeverGoesNegative) {
    EXPECT_FLOAT_EQ(thinnedFog(0.3f), 0.3f - 0.0002f);
    EXPECT_EQ(thinnedFog(0.0002f), 0.0f);
    EXPECT_EQ(thinnedFog(0.0001f), 0.0001f);
    float density = 0.3f;
    for (int i = 0; i < 2000; ++i) {
        density = thinnedFog(density);
        ASSERT_GE(density, 0.0f);
    }
    EXPECT_LT(density, 0.0002f);
}

} // namespace
} // namespace tessivane::scene
