// The metaball scene's resources and its frame on the reference device: the texture by its
// formula, the targets, and the twenty passes against a plain model of what they compute.
#include "math/matrix4.h"
#include "metaballs/metaball_effect.h"
#include "platform/device_test_support.h"
#include "platform/soft/pixel_wide.h"
#include "platform/surface_memory.h"
#include "shaders/show_shaders.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace tessivane::metaballs {
namespace {

using namespace platform;

constexpr float START[9] = {0.3f, 0.2f, 0.5f, 0.0f, 0.0f, 0.0f, 0.1f, -0.2f, -0.3f};
constexpr int SIZE = EFFECT_TEXTURE_SIZE;

TEST(SurfaceTexture, FollowsItsFormulaAtTheEdges) {
    EXPECT_EQ(surfaceTexel(0, 0), 0xFF000000u);
    // Row 0: no red or green; blue is 64 · j.
    EXPECT_EQ(surfaceTexel(0, 1), 0xFF000040u);
    EXPECT_EQ(surfaceTexel(0, 2), 0xFF000080u);
    EXPECT_EQ(surfaceTexel(0, 3), 0xFF0000C0u);
    EXPECT_EQ(surfaceTexel(0, 4), 0xFF000000u);
    for (int i = 0; i < SIZE; ++i) {
        // Column 0 has k1 = 64: its red is 64 · i.
        EXPECT_EQ((surfaceTexel(i, 0) >> 16) & 0xFF, (64u * i) & 0xFF) << i;
        for (int j = 1; j < SIZE; ++j) {
            // Single-precision pi is a little large: k1 is 64 where i + j is even, else 63.
            const std::uint32_t k1 = (i + j) % 2 == 0 ? 64 : 63;
            ASSERT_EQ((surfaceTexel(i, j) >> 16) & 0xFF, (k1 * i) & 0xFF) << i << ", " << j;
            ASSERT_EQ(surfaceTexel(i, j) >> 24, 0xFFu);
        }
    }
}

// A target's texels, top row first, once every draw into it is done.
std::vector<std::uint32_t> texelsOf(IDirect3DSurface9* surface) {
    detail::CpuSurface* cpu = detail::cpuSurface(surface);
    const detail::SurfaceMemory m = cpu->memory();
    std::vector<std::uint32_t> out(static_cast<std::size_t>(m.width) * m.height);
    for (int y = 0; y < m.height; ++y) {
        std::memcpy(&out[static_cast<std::size_t>(y) * m.width], m.bits + y * m.pitch,
                    4 * static_cast<std::size_t>(m.width));
    }
    return out;
}

// A reference device with the metaball effect's resources, the camera of the scene's first
// frame and the states the scene switch and content construction leave.
class MetaballFrame : public platform::testing::DeviceTest {
protected:
    void start(unsigned threads = 2) {
        create(threads);
        resetBallMotion();
        effect = std::make_unique<MetaballEffect>(3, START);
        ASSERT_EQ(effect->createResources(device), S_OK);
        for (DWORD s = 0; s < 4; ++s) {
            device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
            device->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        }
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
        light.Direction = D3DVECTOR{0.57735f, 0.57735f, 0.57735f};
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        setTransform(D3DTS_PROJECTION, math::matrixProjection());
    }
    void TearDown() override {
        effect.reset();
        soft::enableWideOperations(true);
        resetBallMotion();
        DeviceTest::TearDown();
    }
    void setTransform(D3DTRANSFORMSTATETYPE state, const math::Matrix4& m) {
        const D3DMATRIX record = math::matrixRecord<D3DMATRIX>(m);
        device->SetTransform(state, &record);
    }
    // One frame as the scene draws it; the surface is recomputed unless told not to.
    HRESULT drawFrame(bool update = true) {
        orbit += 0.02f;
        setTransform(D3DTS_WORLD, math::matrixRotationAxis(3.14159265f * orbit, {0, 1, 0}));
        const float z = 5.0f - 2.0f * static_cast<float>(std::sin(static_cast<double>(orbit)));
        setTransform(D3DTS_VIEW, math::matrixLookAt({0, 0, z}, {0, 0, 0}, {0, 1, 0}));
        if (update) {
            effect->update();
        }
        device->BeginScene();
        const HRESULT result = effect->render(device);
        device->EndScene();
        return result;
    }
    void fillSurfaceTexture(std::uint32_t texel) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(effect->surfaceTexture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int i = 0; i < SIZE * SIZE; ++i) {
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + 4 * i, &texel, 4);
        }
        effect->surfaceTexture->UnlockRect(0);
    }

    std::unique_ptr<MetaballEffect> effect;
    float orbit = 0.0f;
};

TEST_F(MetaballFrame, ResourcesAreCreatedAsTheScenesPassesNeedThem) {
    start();
    D3DSURFACE_DESC d;
    ASSERT_EQ(effect->surfaceTexture->GetLevelDesc(0, &d), D3D_OK);
    EXPECT_EQ(d.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(effect->surfaceTexture->GetLevelCount(), 9u);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(effect->surfaceTexture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const auto* row = static_cast<const std::uint32_t*>(locked.pBits) + 77 * SIZE;
    EXPECT_EQ(row[201], surfaceTexel(77, 201));
    effect->surfaceTexture->UnlockRect(0);

    IDirect3DTexture9* targets[9] = {effect->sceneTexture};
    IDirect3DSurface9* surfaces[9] = {effect->sceneSurface};
    for (int k = 0; k < 4; ++k) {
        targets[1 + k] = effect->streakTextures[k];
        targets[5 + k] = effect->directionTextures[k];
        surfaces[1 + k] = effect->streakSurfaces[k];
        surfaces[5 + k] = effect->directionSurfaces[k];
    }
    for (int k = 0; k < 9; ++k) {
        ASSERT_NE(targets[k], nullptr);
        ASSERT_EQ(targets[k]->GetLevelDesc(0, &d), D3D_OK);
        EXPECT_EQ(d.Format, D3DFMT_X8R8G8B8); // the back buffer's
        EXPECT_EQ(d.Usage, D3DUSAGE_RENDERTARGET);
        EXPECT_EQ(d.Width, 256u);
        IDirect3DSurface9* level = nullptr;
        targets[k]->GetSurfaceLevel(0, &level);
        EXPECT_EQ(level, surfaces[k]);
        level->Release();
    }

    UINT count = 0;
    effect->quadDeclaration->GetDeclaration(nullptr, &count);
    EXPECT_EQ(count, 3u);
    for (int k = 0; k < 3; ++k) {
        UINT bytes = 0;
        effect->pixelShaders[k]->GetFunction(nullptr, &bytes);
        EXPECT_EQ(bytes, shaders::metaballPixelShader(k).size() * 4);
    }
    EXPECT_EQ(effect->streakWeights[0], 1.0f);
    EXPECT_EQ(effect->streakWeights[4], static_cast<float>(0.9 * 0.9 * 0.9 * 0.9));
    EXPECT_FLOAT_EQ(effect->streakWeights[4], 0.6561f);
    EXPECT_GT(effect->streakWeights[STREAK_WEIGHTS - 1], 0.0f);
}

// ---- The passes against a plain model

// Colours in 0..1 per channel (R, G, B) of a square image, bilinear with clamped edges.
struct Image {
    int size = SIZE;
    std::vector<double> c = std::vector<double>(3 * SIZE * SIZE);
    double& at(int x, int y, int ch) {
        return c[(static_cast<std::size_t>(y) * size + x) * 3 + ch];
    }
    double sample(double u, double v, int ch) {
        const double x = u * size - 0.5, y = v * size - 0.5;
        const double fx = std::floor(x), fy = std::floor(y);
        const double a = x - fx, b = y - fy;
        auto clamp = [this](double i) {
            return static_cast<int>(std::min(std::max(i, 0.0), size - 1.0));
        };
        const int i0 = clamp(fx), i1 = clamp(fx + 1), j0 = clamp(fy), j1 = clamp(fy + 1);
        return (1 - a) * (1 - b) * at(i0, j0, ch) + a * (1 - b) * at(i1, j0, ch) +
               (1 - a) * b * at(i0, j1, ch) + a * b * at(i1, j1, ch);
    }
};

Image imageOf(const std::vector<std::uint32_t>& texels) {
    Image image;
    for (int i = 0; i < SIZE * SIZE; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            image.c[3 * i + ch] = ((texels[i] >> (16 - 8 * ch)) & 0xFF) / 255.0;
        }
    }
    return image;
}

// The colour a target stores: clamped and rounded to 8 bits.
double stored(double v) {
    return std::floor(std::min(std::max(v, 0.0), 1.0) * 255 + 0.5) / 255;
}

// The largest difference between an image and a target, in steps of 1/255.
double difference(const Image& model, IDirect3DSurface9* surface) {
    Image drawn = imageOf(texelsOf(surface));
    double most = 0;
    for (std::size_t i = 0; i < model.c.size(); ++i) {
        most = std::max(most, std::fabs(model.c[i] - drawn.c[i]) * 255);
    }
    return most;
}

// One streak pass: four taps step texels apart along (dx, dy), weighing 0.9^(k · step).
Image streakPass(Image& source, int step, double dx, double dy) {
    Image next;
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                double v = 0;
                for (int k = 0; k < 4; ++k) {
                    v += std::pow(0.9, k * step) * source.sample((x + dx * k * step) / 256.0,
                                                                 (y + dy * k * step) / 256.0, ch);
                }
                next.at(x, y, ch) = stored(v);
            }
        }
    }
    return next;
}

// Every pass against a plain model of it, fed with what the device drew where the device's
// result survives the frame, else with the model's own (whose 8-bit roundings may differ by
// a step or two after a chain of passes).
TEST_F(MetaballFrame, PassesComputeTheBrightPassStreaksAndCompositeOfTheSurface) {
    start();
    ASSERT_EQ(drawFrame(), D3D_OK);
    ASSERT_GT(effect->vertexCount, 0);
    dump("metaball-frame");
    constexpr double ROUNDING = 1.0001;
    Image scene = imageOf(texelsOf(effect->sceneSurface));
    // Each pass reads half a texel up and to the left of its pixel: pixel i sees u = i / 256.
    Image bright;
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                const double c = scene.sample(x / 256.0, y / 256.0, ch);
                bright.at(x, y, ch) = stored(c * (c + 0.1));
            }
        }
    }
    // Direction 3 (+1, +1) went last: its first three passes are still in the chain's targets.
    Image drawn[4] = {bright};
    for (int s = 1; s <= 3; ++s) {
        drawn[s] = imageOf(texelsOf(effect->streakSurfaces[s]));
    }
    EXPECT_LE(difference(streakPass(bright, 4, 1, 1), effect->streakSurfaces[1]), 3.0);
    EXPECT_LE(difference(streakPass(drawn[1], 16, 1, 1), effect->streakSurfaces[2]), ROUNDING);
    EXPECT_LE(difference(streakPass(drawn[2], 64, 1, 1), effect->streakSurfaces[3]), ROUNDING);
    EXPECT_LE(difference(streakPass(drawn[3], 256, 1, 1), effect->directionSurfaces[3]), ROUNDING);
    for (int d = 0; d < 3; ++d) {
        Image chain = bright;
        for (int step = 4; step <= 256; step *= 4) {
            chain = streakPass(chain, step, (d & 1) ? 1 : -1, d >= 2 ? 1 : -1);
        }
        EXPECT_LE(difference(chain, effect->directionSurfaces[d]), 4.0) << d;
    }
    // The sum of the four directions by the texture stages, each stage's result clamped.
    Image directions[4];
    for (int d = 0; d < 4; ++d) {
        directions[d] = imageOf(texelsOf(effect->directionSurfaces[d]));
    }
    Image sum;
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                double v = 0;
                for (Image& direction : directions) {
                    v = std::min(1.0, v + direction.sample(x / 256.0, y / 256.0, ch));
                }
                sum.at(x, y, ch) = stored(v);
            }
        }
    }
    EXPECT_LE(difference(sum, effect->streakSurfaces[0]), ROUNDING);
    // The composite: scene + streaks stretched over 640x480.
    Image streaks = imageOf(texelsOf(effect->streakSurfaces[0]));
    double most = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const std::uint32_t p = pixel(x, y);
            for (int ch = 0; ch < 3; ++ch) {
                const double v = stored(scene.sample(x / 640.0, y / 480.0, ch) +
                                        streaks.sample(x / 640.0, y / 480.0, ch));
                most = std::max(most, std::fabs(v - ((p >> (16 - 8 * ch)) & 0xFF) / 255.0) * 255);
            }
        }
    }
    EXPECT_LE(most, ROUNDING);
}

TEST_F(MetaballFrame, WhiteSurvivesEveryStreakPassAndDirectionZeroLooksUpAndLeft) {
    start();
    fillSurfaceTexture(0xFFFFFFFF);
    ASSERT_EQ(drawFrame(), D3D_OK);
    const std::vector<std::uint32_t> scene = texelsOf(effect->sceneSurface);
    // The surface's most down-right texel, well inside the target.
    int best = -1, bx = 0, by = 0;
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            if (scene[y * SIZE + x] == 0xFFFFFFFF && x + y > best) {
                best = x + y;
                bx = x;
                by = y;
            }
        }
    }
    ASSERT_GT(best, 0);
    ASSERT_LT(bx + 12, SIZE);
    ASSERT_LT(by + 12, SIZE);
    // A white texel well inside the surface is 1.0 after the bright pass and after each
    // streak pass, its own tap weighing 1. (Every pass reads half a texel up and to the left,
    // so the image creeps a few texels down and right: well inside means some way in.)
    int cx = 0, cy = 0;
    auto whiteAround = [&scene](int x, int y) {
        for (int j = y - 6; j <= y + 6; ++j) {
            for (int i = x - 6; i <= x + 6; ++i) {
                if (scene[j * SIZE + i] != 0xFFFFFFFF) {
                    return false;
                }
            }
        }
        return true;
    };
    for (int y = 6; y < SIZE - 6 && cx == 0; ++y) {
        for (int x = 6; x < SIZE - 6; ++x) {
            if (whiteAround(x, y)) {
                cx = x;
                cy = y;
                break;
            }
        }
    }
    ASSERT_NE(cx, 0);
    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(texelsOf(effect->directionSurfaces[d])[cy * SIZE + cx], 0xFFFFFFFFu) << d;
    }
    EXPECT_EQ(texelsOf(effect->streakSurfaces[0])[cy * SIZE + cx], 0xFFFFFFFFu);
    // Down and right of the surface, direction 0 reads the surface up and to the left of the
    // pixel; direction 3 reads further down and right, where nothing was drawn.
    const int at = (by + 12) * SIZE + bx + 12;
    EXPECT_NE(texelsOf(effect->directionSurfaces[0])[at], 0xFF000000u);
    EXPECT_EQ(texelsOf(effect->directionSurfaces[3])[at], 0xFF000000u);
}

TEST_F(MetaballFrame, AFrameWithoutSurfaceStillRunsEveryPass) {
    start();
    IDirect3DSurface9* backBuffer = nullptr;
    device->GetRenderTarget(0, &backBuffer);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    effect->update();
    effect->vertexCount = 0;
    ASSERT_EQ(drawFrame(false), D3D_OK);
    const std::vector<std::uint32_t> shown = frame();
    EXPECT_TRUE(
        std::all_of(shown.begin(), shown.end(), [](std::uint32_t p) { return p == 0xFF000000u; }));
    // It ended on the composite: the back buffer again, the sum's shaders and stages bound.
    IDirect3DSurface9* target = nullptr;
    device->GetRenderTarget(0, &target);
    EXPECT_EQ(target, backBuffer);
    target->Release();
    backBuffer->Release();
    IDirect3DPixelShader9* pixelShader = nullptr;
    device->GetPixelShader(&pixelShader);
    EXPECT_EQ(pixelShader, effect->pixelShaders[2]);
    pixelShader->Release();
    IDirect3DBaseTexture9* stage1 = nullptr;
    device->GetTexture(1, &stage1);
    EXPECT_EQ(stage1, effect->streakTextures[0]);
    stage1->Release();
    for (DWORD stage = 1; stage < 4; ++stage) {
        DWORD op = 0;
        device->GetTextureStageState(stage, D3DTSS_COLOROP, &op);
        EXPECT_EQ(op, static_cast<DWORD>(D3DTOP_ADD));
    }
}

TEST_F(MetaballFrame, FromTheSecondFrameTheSurfacePassAddsWhatTheLastLeftBound) {
    start();
    ASSERT_EQ(drawFrame(), D3D_OK);
    // The sum target, which stage 1 still holds, made a known grey.
    IDirect3DSurface9* backBuffer = nullptr;
    device->GetRenderTarget(0, &backBuffer);
    device->SetRenderTarget(0, effect->streakSurfaces[0]);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF303030, 1.0f, 0);
    device->SetRenderTarget(0, backBuffer);
    backBuffer->Release();
    ASSERT_EQ(drawFrame(false), D3D_OK);
    // Every texel the surface covers has at least the grey in every channel (the set the
    // vertices lack reads coordinates (0, 0): texel (0, 0) of each bound texture).
    int covered = 0;
    for (const std::uint32_t t : texelsOf(effect->sceneSurface)) {
        if (t != 0xFF000000u) {
            ++covered;
            ASSERT_GE((t >> 16) & 0xFF, 0x30u);
            ASSERT_GE((t >> 8) & 0xFF, 0x30u);
            ASSERT_GE(t & 0xFF, 0x30u);
        }
    }
    EXPECT_GT(covered, 1000);
}

TEST_F(MetaballFrame, MissingResourcesLeaveTheSceneBlack) {
    create(1);
    MetaballEffect bare(3, START);
    bare.update();
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    device->BeginScene();
    EXPECT_EQ(bare.render(device), E_FAIL);
    device->EndScene();
    EXPECT_EQ(pixel(320, 240), 0xFF000000u);
}

TEST_F(MetaballFrame, IsTheSameBytesOnAnyThreadCountAndEveryPixelPath) {
    start(1);
    drawFrame();
    drawFrame();
    const std::vector<std::uint32_t> single = frame();
    const std::vector<std::uint32_t> sum = texelsOf(effect->streakSurfaces[0]);
    effect.reset();
    releaseDevice();
    orbit = 0.0f;
    for (const int variant : {0, 1, 2}) {
        SCOPED_TRACE(variant);
        start(3);
        soft::enableWideOperations(variant != 1);
        static_cast<soft::SoftDevice*>(device)->useReferencePixelPath(variant == 2);
        drawFrame();
        drawFrame();
        EXPECT_TRUE(frame() == single);
        EXPECT_TRUE(texelsOf(effect->streakSurfaces[0]) == sum);
        effect.reset();
        releaseDevice();
        orbit = 0.0f;
    }
}

} // namespace
} // namespace tessivane::metaballs
