#include "platform/device_test_support.h"
#include "scene/scene_director.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace tessivane::scene {
namespace {

using namespace platform;

// A director on a headless reference device, its content built.
class Director : public platform::testing::DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_NE(create(), nullptr);
        director = new SceneDirector(device);
        ASSERT_EQ(director->buildContent(), S_OK);
    }
    void TearDown() override {
        // The director releases everything it made: the device then goes with its last
        // reference.
        delete director;
        DeviceTest::TearDown();
    }

    // Visits every texel of the caption texture (RGB, the unused byte masked off).
    template <class Visit>
    void eachCaptionTexel(Visit visit) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(director->captionTexture()->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 256; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(
                static_cast<const std::uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < 256; ++x) {
                visit(x, y, row[x] & 0xFFFFFF);
            }
        }
        director->captionTexture()->UnlockRect(0);
    }

    SceneDirector* director = nullptr;
};

TEST_F(Director, ContentStartsOnSceneZeroWithTheSeededDust) {
    EXPECT_EQ(director->currentScene(), 0);
    EXPECT_FALSE(director->tunnelActive);
    // The first three draws after seeding with 0 are 38, 7719 and 21238.
    const LitVertex& first = director->dust()[0];
    EXPECT_EQ(first.x, static_cast<float>(21238 * 0.00061037019 - 10));
    EXPECT_EQ(first.y, static_cast<float>(7719 * 0.00061037019 - 10));
    EXPECT_EQ(first.z, static_cast<float>(38 * 0.00030518509 - 5));
    EXPECT_EQ(first.diffuse, 0x88999999u);
}

TEST_F(Director, TheTitleIsRedOnWhiteInTheTopLineOnly) {
    int red = 0;
    eachCaptionTexel([&](int x, int y, std::uint32_t rgb) {
        if (y >= 25 || x >= 200) {
            ASSERT_EQ(rgb, 0xFFFFFFu) << x << "," << y;
        }
        const std::uint32_t r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
        ASSERT_EQ(r, 0xFFu);
        ASSERT_EQ(g, b);
        red += rgb == 0xFF0000;
    });
    EXPECT_GT(red, 40);
}

TEST_F(Director, TheCreditReplacesTheTitleWithTheSameFont) {
    const HFONT font = director->captionFont();
    ASSERT_NE(font, nullptr);
    director->setScene(2);
    EXPECT_TRUE(director->tunnelActive);
    EXPECT_EQ(director->captionFont(), font);
    int blue = 0;
    eachCaptionTexel([&](int x, int y, std::uint32_t rgb) {
        const std::uint32_t r = rgb >> 16, b = rgb & 0xFF;
        if (y >= 25) {
            ASSERT_EQ(rgb, 0xFFFFFFu) << x << "," << y;
        }
        ASSERT_GE(b, r) << "a trace of the red title at " << x << "," << y;
        blue += b > 200 && r < 60;
    });
    EXPECT_GT(blue, 40);
}

TEST_F(Director, SceneZeroFramesAdvanceItsClocksOnly) {
    director->renderFrame();
    director->renderFrame();
    const SceneAnimation& a = director->animationState();
    EXPECT_FLOAT_EQ(a.spiralTime, 0.02f);
    EXPECT_FLOAT_EQ(a.spiralDrop, -0.016f);
    EXPECT_FLOAT_EQ(a.fogDensity, 0.3f - 0.0002f - 0.0002f);
    EXPECT_EQ(a.orbitTime, 0.0f);
    EXPECT_EQ(a.tunnelTime, 0.0f);
    director->setScene(1);
    director->renderFrame();
    EXPECT_FLOAT_EQ(director->animationState().orbitTime, 0.02f);
    EXPECT_FLOAT_EQ(director->animationState().spiralTime, 0.02f);
}

} // namespace
} // namespace tessivane::scene
