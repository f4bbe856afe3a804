#include "math/matrix4.h"
#include "platform/device_test_support.h"
#include "structures/object_structure.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::structures {
namespace {

using namespace platform;
using math::Matrix4;

TEST(TubeGradient, RunsFromMagentaThroughBlueToNearBlack) {
    EXPECT_EQ(gradientTexel(0), 0xFF002100u);
    EXPECT_EQ(gradientTexel(1), 0xFFFE20FFu);
    EXPECT_EQ(gradientTexel(16), 0xFFE01FF0u);
    EXPECT_EQ(gradientTexel(128), 0xFF001880u);
    EXPECT_EQ(gradientTexel(255), 0xFF001101u);
}

class TubeDrawing : public platform::testing::DeviceTest {};

// The camera of scene 2: at (0, 0, 24) looking at the origin.
Matrix4 sceneTwoViewProjection() {
    return math::matrixLookAt({0, 0, 24}, {0, 0, 0}, {0, 1, 0}) * math::matrixProjection();
}

// Clears to black and begins a frame of scene 2: its camera in register 14, the gradient
// filtered.
void beginSceneTwo(IDirect3DDevice9* d) {
    const float camera[4] = {0, 0, 24, 0};
    d->SetVertexShaderConstantF(14, camera, 1);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    d->BeginScene();
}

TEST_F(TubeDrawing, RecyclesOnlyPastThirtyAndOnlyWhenAsked) {
    IDirect3DDevice9* d = create(1);
    for (const auto& [z, recycle, moved] :
         {std::tuple{30.0f, true, false}, {30.01f, true, true}, {45.0f, false, false}}) {
        ObjectStructure s;
        s.baseMatrix = math::matrixTranslation({0, 0, z});
        s.draw(d, Matrix4(), sceneTwoViewProjection(), recycle);
        EXPECT_FLOAT_EQ(s.baseMatrix.m[3][2], moved ? z - 100 : z) << z;
        // The move shows from the next draw on, and happens once.
        s.draw(d, Matrix4(), sceneTwoViewProjection(), recycle);
        EXPECT_FLOAT_EQ(s.baseMatrix.m[3][2], moved ? z - 100 : z) << z;
    }
}

TEST_F(TubeDrawing, EveryDrawSpinsFirst) {
    IDirect3DDevice9* d = create(1);
    ObjectStructure s;
    s.spinSpeed = 0.05f;
    s.draw(d, Matrix4(), sceneTwoViewProjection(), true);
    EXPECT_EQ(s.spinAngle, 0.05f);
    s.draw(d, Matrix4(), sceneTwoViewProjection(), true);
    EXPECT_EQ(s.spinAngle, 0.1f);
}

TEST_F(TubeDrawing, ATreeInFrontOfTheCameraAddsMagentaAndBlue) {
    IDirect3DDevice9* d = create(0);
    ObjectStructure s;
    ASSERT_EQ(s.generate(d, math::matrixTranslation({0, -3, 5})), S_OK);
    ASSERT_NE(s.vertexShader, nullptr);
    ASSERT_NE(s.vertexDeclaration, nullptr);
    beginSceneTwo(d);
    s.draw(d, Matrix4(), sceneTwoViewProjection(), true);
    d->EndScene();
    int lit = 0, magenta = 0;
    for (const std::uint32_t p : frame()) {
        const unsigned r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        lit += (r | g | b) != 0;
        magenta += r > 150 && b > 150 && g < 100;
    }
    EXPECT_GT(lit, 5000);
    EXPECT_GT(magenta, 100);
    dump("tube_tree");
}

// Ten trees close to the camera are more triangles than a queue takes before it is handed
// over full, with one thread; with three, queues are also handed over early, while the
// threads wait for work. Either way the bytes are the same.
TEST_F(TubeDrawing, TreesOverSeveralQueuesAreTheSameBytesOnOneThreadAndOnMany) {
    const auto drawTrees = [this](unsigned threads) {
        IDirect3DDevice9* d = create(threads);
        std::vector<std::uint32_t> bytes;
        {
            ObjectStructure trees[10];
            for (int i = 0; i < 10; ++i) {
                const float x = -7.0f + 1.5f * static_cast<float>(i);
                const float z = 8.0f - 1.2f * static_cast<float>(i);
                EXPECT_EQ(trees[i].generate(d, math::matrixTranslation({x, -4.0f, z})), S_OK);
            }
            beginSceneTwo(d);
            for (ObjectStructure& tree : trees) {
                tree.draw(d, Matrix4(), sceneTwoViewProjection(), true);
            }
            d->EndScene();
            bytes = frame();
        }
        releaseDevice();
        return bytes;
    };
    const std::vector<std::uint32_t> one = drawTrees(1);
    EXPECT_GT(
        std::count_if(one.begin(), one.end(), [](std::uint32_t p) { return (p & 0xFFFFFF) != 0; }),
        20000);
    EXPECT_TRUE(drawTrees(3) == one);
}

} // namespace
} // namespace tessivane::structures
