// What colour a covered pixel gets: texture sampling, the stage cascade, fog, blending and
// the rounding to 8 bits. Points are used to probe exact texture coordinates: a point carries
// its vertex's values unchanged to the one pixel it lights.
#include "device_test_support.h"
#include "platform/soft/halfway_samples.h"
#include "platform/soft/pixel_state.h"
#include "platform/soft/raster.h"

#include <algorithm>
#include <cmath>

namespace tessivane::platform::testing {
namespace {

struct TexturedPoint { // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD TEXTURED_POINT_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// The 8-bit value of c in 0..1: floor(c · 255 + 0.5).
int unorm(double c) {
    return static_cast<int>(std::floor(c * 255.0 + 0.5));
}

class Pixels : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        create(1);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->BeginScene();
    }
    void TearDown() override {
        for (IDirect3DTexture9* t : textures) {
            t->Release();
        }
        DeviceTest::TearDown();
    }

    IDirect3DTexture9* keep(IDirect3DTexture9* t) {
        textures.push_back(t);
        return t;
    }

    // The colour the pixel at (x, y) gets from a point with texture coordinates (u, v).
    std::uint32_t probe(float u, float v, D3DCOLOR diffuse = 0xFFFFFFFF, int x = 5, int y = 5) {
        const TexturedPoint point{float(x), float(y), 0.0f, 1.0f, diffuse, u, v};
        device->SetFVF(TEXTURED_POINT_FVF);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof point), D3D_OK);
        return pixel(x, y);
    }

    void filter(DWORD filter, DWORD addressU, DWORD addressV, DWORD sampler = 0) {
        device->SetSamplerState(sampler, D3DSAMP_MINFILTER, filter);
        device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, filter);
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSU, addressU);
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSV, addressV);
    }

    void selectTexture(DWORD stage = 0) {
        device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    }

    std::vector<IDirect3DTexture9*> textures;
};

// A 2x2 texture whose red channel is 0, 200 on the top row and 40, 120 below.
std::vector<std::uint32_t> twoByTwo() {
    return {0xFF000000, 0xFFC80000, 0xFF280000, 0xFF780000};
}

TEST_F(Pixels, BilinearSamplesWeighTheFourNearestTexelCentres) {
    device->SetTexture(0, keep(texture(2, 2, D3DFMT_X8R8G8B8, twoByTwo())));
    selectTexture();
    filter(D3DTEXF_LINEAR, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP);
    // Texel centres at 0.25 and 0.75.
    EXPECT_EQ(red(probe(0.25f, 0.25f)), 0);
    EXPECT_EQ(red(probe(0.75f, 0.25f)), 200);
    EXPECT_EQ(red(probe(0.25f, 0.75f)), 40);
    // A quarter of the way from texel 0 to texel 1: 0.75 · 0 + 0.25 · 200.
    EXPECT_EQ(red(probe(0.375f, 0.25f)), 50);
    // Halfway in both directions: the mean of all four.
    EXPECT_EQ(red(probe(0.5f, 0.5f)), 90);
    // u = 0 is a texel corner: with wrapping, half texel 1 (the left neighbour) and half
    // texel 0.
    EXPECT_EQ(red(probe(0.0f, 0.25f)), 100);
    EXPECT_EQ(red(probe(1.0f, 0.25f)), 100);
    // Far outside, wrapping repeats the texture at every integer.
    EXPECT_EQ(red(probe(3.75f, -1.75f)), 200);
}

TEST_F(Pixels, ClampedBilinearSamplesSmearTheEdgeTexels) {
    device->SetTexture(0, keep(texture(2, 2, D3DFMT_X8R8G8B8, twoByTwo())));
    selectTexture();
    filter(D3DTEXF_LINEAR, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP);
    EXPECT_EQ(red(probe(0.0f, 0.25f)), 0);
    EXPECT_EQ(red(probe(1.0f, 0.25f)), 200);
    EXPECT_EQ(red(probe(-5.0f, 7.0f)), 40);
    EXPECT_EQ(red(probe(0.0f, 0.0f)), 0);
    // Clamped in u only: v still wraps between the rows.
    filter(D3DTEXF_LINEAR, D3DTADDRESS_CLAMP, D3DTADDRESS_WRAP);
    EXPECT_EQ(red(probe(0.0f, 0.0f)), 20);
}

TEST_F(Pixels, TexturesWithRowsAlikeSampleLikeAnyOtherUntilTheyAreWrittenAgain) {
    // Four rows of the same texels: filtering reads one row for all, and must give what
    // reading four does, then stop doing so once any row is written.
    const std::vector<std::uint32_t> row = {0x80102030, 0xFF405060, 0x20708090, 0xC0A0B0C0};
    std::vector<std::uint32_t> texels;
    for (int y = 0; y < 4; ++y) {
        texels.insert(texels.end(), row.begin(), row.end());
    }
    IDirect3DTexture9* t = keep(texture(4, 4, D3DFMT_A8R8G8B8, texels));
    soft::SoftSurface& level = static_cast<soft::SoftTexture*>(t)->level(0);
    device->SetTexture(0, t);
    selectTexture();
    filter(D3DTEXF_LINEAR, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP);
    auto probes = [&](bool reference) {
        soft()->useReferencePixelPath(reference);
        std::vector<std::uint32_t> seen;
        for (int i = 0; i < 64; ++i) {
            seen.push_back(probe(-1.3f + 0.071f * float(i), 2.2f - 0.053f * float(i)));
        }
        soft()->useReferencePixelPath(false);
        return seen;
    };
    EXPECT_TRUE(level.rowsAlike());
    EXPECT_EQ(probes(false), probes(true));

    // Row 2 written: no longer alike, and its texels are read.
    D3DLOCKED_RECT locked{};
    const RECT third{0, 2, 4, 3};
    ASSERT_EQ(t->LockRect(0, &locked, &third, 0), D3D_OK);
    EXPECT_FALSE(level.rowsAlike());
    static_cast<std::uint32_t*>(locked.pBits)[1] = 0xFFF00000;
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    EXPECT_FALSE(level.rowsAlike());
    EXPECT_EQ(red(probe(0.375f, 0.625f)), 0xF0);
    EXPECT_EQ(probes(false), probes(true));

    // Written back as it was: alike again.
    ASSERT_EQ(t->LockRect(0, &locked, &third, 0), D3D_OK);
    static_cast<std::uint32_t*>(locked.pBits)[1] = row[1];
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    EXPECT_TRUE(level.rowsAlike());
    EXPECT_EQ(red(probe(0.375f, 0.625f)), 0x40);
}

TEST_F(Pixels, RowsAreAlikeOnlyInTexturesTheApplicationWritesAndNotWhileItWritesThem) {
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &t, nullptr),
              D3D_OK);
    soft::SoftSurface& level = static_cast<soft::SoftTexture*>(t)->level(0);
    EXPECT_TRUE(level.rowsAlike()); // all zeros
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(0, &surface), D3D_OK);
    HDC dc = nullptr;
    ASSERT_EQ(surface->GetDC(&dc), D3D_OK);
    EXPECT_FALSE(level.rowsAlike()); // text may be going in
    ASSERT_EQ(surface->ReleaseDC(dc), D3D_OK);
    EXPECT_TRUE(level.rowsAlike());
    surface->Release();
    t->Release();

    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                    D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    EXPECT_FALSE(static_cast<soft::SoftTexture*>(target)->level(0).rowsAlike()); // drawn into
    target->Release();
}

TEST_F(Pixels, PointSamplingTakesTheTexelUnderTheCoordinate) {
    device->SetTexture(0, keep(texture(2, 2, D3DFMT_X8R8G8B8, twoByTwo())));
    selectTexture();
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP);
    EXPECT_EQ(red(probe(0.49f, 0.1f)), 0);
    EXPECT_EQ(red(probe(0.5f, 0.1f)), 200);
    EXPECT_EQ(red(probe(0.99f, 0.9f)), 120);
    EXPECT_EQ(red(probe(1.1f, 0.1f)), 0);
}

TEST_F(Pixels, FormatsExpandToRgba) {
    // L8 repeats its luminance and has opaque alpha; so has X8R8G8B8, whatever its X byte
    // holds; A8R8G8B8 carries its alpha. Alpha is made visible by blending with SRCALPHA
    // over black.
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP);
    selectTexture();
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);

    device->SetTexture(0, keep(texture(1, 1, D3DFMT_L8, {0x5A})));
    EXPECT_EQ(probe(0.5f, 0.5f), 0xFF5A5A5Au);
    device->SetTexture(0, keep(texture(1, 1, D3DFMT_X8R8G8B8, {0x00336699})));
    EXPECT_EQ(probe(0.5f, 0.5f, 0xFFFFFFFF, 6, 5), 0xFF336699u);
    device->SetTexture(0, keep(texture(1, 1, D3DFMT_A8R8G8B8, {0x80FFFFFF})));
    // 1 · 128/255, rounded back: 128.
    EXPECT_EQ(probe(0.5f, 0.5f, 0xFFFFFFFF, 7, 5), 0xFF808080u);
}

TEST_F(Pixels, StagesCombineTextureCurrentAndDiffuse) {
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 0);
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 1);
    device->SetTexture(0, keep(texture(1, 1, D3DFMT_X8R8G8B8, {0xFF804020})));
    device->SetTexture(1, keep(texture(1, 1, D3DFMT_X8R8G8B8, {0xFF90A0B0})));
    const D3DCOLOR diffuse = 0xFF808080;

    // The default stage 0: MODULATE texture by current (= diffuse on stage 0).
    // 0x80 · 0x80 / 255 = 64.25 → 64; 0x40 · 0x80 / 255 = 32.1 → 32; 0x20 · 0x80 / 255 → 16.
    EXPECT_EQ(probe(0.5f, 0.5f, diffuse), 0xFF402010u);

    // SELECTARG2 on stage 0 reads CURRENT, which there is the diffuse colour.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    EXPECT_EQ(probe(0.5f, 0.5f, 0xFF123456), 0xFF123456u);

    // Stage 0 selects its texture; stage 1 adds its own, saturating at 255.
    selectTexture(0);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    EXPECT_EQ(probe(0.5f, 0.5f, diffuse), 0xFFFFE0D0u);

    // Stage 1 modulates the diffuse colour instead: (0x90, 0xA0, 0xB0) · 0x80 / 255.
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    EXPECT_EQ(probe(0.5f, 0.5f, diffuse), 0xFF485058u);

    // A disabled stage ends the cascade: what stage 0 made is the result.
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    EXPECT_EQ(probe(0.5f, 0.5f, diffuse), 0xFF804020u);

    // With stage 0 disabled nothing runs: the pixel is the diffuse colour.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    EXPECT_EQ(probe(0.5f, 0.5f, 0xFF0A0B0C), 0xFF0A0B0Cu);

    // A stage whose colour reads a texture it does not have ends the cascade too.
    selectTexture(0);
    device->SetTexture(0, nullptr);
    EXPECT_EQ(probe(0.5f, 0.5f, 0xFF0D0E0F), 0xFF0D0E0Fu);
}

TEST_F(Pixels, AlphaOfStagesFollowsAlphaOpsAndPassesThroughDisabledOnes) {
    // Alpha shows through SRCALPHA/ZERO blending of a white colour.
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 0);
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 1);
    device->SetTexture(0, keep(texture(1, 1, D3DFMT_A8R8G8B8, {0x40FFFFFF})));
    device->SetTexture(1, keep(texture(1, 1, D3DFMT_A8R8G8B8, {0xC0FFFFFF})));
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    selectTexture(0); // alpha stays at its default: texture alpha
    EXPECT_EQ(blue(probe(0.5f, 0.5f, 0x20FFFFFF)), 0x40);

    // Stage 1 adds a colour but leaves its alpha op DISABLE: stage 0's alpha goes on.
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    EXPECT_EQ(blue(probe(0.5f, 0.5f, 0x20FFFFFF)), 0x40);

    // Stage 1 adds alpha as well: 0x40 + 0xC0 = 0x100, saturated.
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_ADD);
    device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_TEXTURE);
    EXPECT_EQ(blue(probe(0.5f, 0.5f, 0x20FFFFFF)), 0xFF);

    // Stage 0 alpha from the diffuse colour instead; stage 1 passes it on again.
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    EXPECT_EQ(blue(probe(0.5f, 0.5f, 0x20FFFFFF)), 0x20);

    // An alpha argument naming a missing texture reads diffuse.
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTexture(0, nullptr);
    EXPECT_EQ(blue(probe(0.5f, 0.5f, 0x30FFFFFF)), 0x30);
}

TEST_F(Pixels, CoordinateSetsTheVertexLacksReadZero) {
    // The vertex has one set; stage 1 reads set 1, so sees (0, 0). Clamped bilinear at (0, 0)
    // is exactly texel (0, 0); wrapped, it is the mean of the four corners.
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 0);
    device->SetTexture(0, keep(texture(1, 1, D3DFMT_X8R8G8B8, {0xFF000000})));
    device->SetTexture(1, keep(texture(2, 2, D3DFMT_X8R8G8B8, twoByTwo())));
    selectTexture(0);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    filter(D3DTEXF_LINEAR, D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, 1);
    EXPECT_EQ(red(probe(0.75f, 0.75f)), 0);
    filter(D3DTEXF_LINEAR, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 1);
    EXPECT_EQ(red(probe(0.75f, 0.75f)), 90);
}

TEST_F(Pixels, ScreenQuadOnPixelCornersSamplesTexelCorners) {
    // A 4x4 texture on a 4x4-pixel pre-transformed quad with corners on integer coordinates:
    // pixel i sees u = i / 4, half a texel left of texel i's centre, so bilinear filtering
    // averages texels i - 1 and i (wrapping at the edge) in each direction.
    std::vector<std::uint32_t> texels(16);
    for (int i = 0; i < 16; ++i) {
        texels[i] = static_cast<std::uint32_t>(16 * i); // multiples of 4 average exactly
    }
    device->SetTexture(0, keep(texture(4, 4, D3DFMT_L8, texels)));
    selectTexture();
    filter(D3DTEXF_LINEAR, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP);
    drawScreenQuad(100, 100, 104, 104);
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            const int i0 = (i + 3) % 4, j0 = (j + 3) % 4;
            const int mean = (int(texels[j0 * 4 + i0]) + int(texels[j0 * 4 + i]) +
                              int(texels[j * 4 + i0]) + int(texels[j * 4 + i])) /
                             4;
            EXPECT_EQ(red(pixel(100 + i, 100 + j)), mean) << i << ", " << j;
        }
    }
    // Moved up and left by half a pixel, each pixel centre meets a texel centre.
    drawScreenQuad(199.5f, 99.5f, 203.5f, 103.5f);
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(red(pixel(200 + i, 100 + j)), int(texels[j * 4 + i]));
        }
    }
    // Point sampling shows no shift either way: u = i / 4 lies inside texel i.
    filter(D3DTEXF_POINT, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP);
    drawScreenQuad(300, 100, 304, 104);
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(red(pixel(300 + i, 100 + j)), int(texels[j * 4 + i]));
        }
    }
}

TEST(FogFactor, FollowsTheExponentialClosely) {
    for (float x = -87.0f; x < 0.0f; x += 0.0173f) {
        const double exact = std::exp(double(x));
        EXPECT_NEAR(soft::expNonPositive(x), exact, exact * 2.5e-7) << x;
    }
    EXPECT_EQ(soft::expNonPositive(0.0f), 1.0f);
    EXPECT_EQ(soft::expNonPositive(-0.0f), 1.0f);
    EXPECT_EQ(soft::expNonPositive(5.0f), 1.0f);
    EXPECT_LT(soft::expNonPositive(-200.0f), 1e-37f);
    EXPECT_LT(soft::expNonPositive(std::nanf("")), 1e-37f);
}

class Fog : public Pixels {
protected:
    void SetUp() override {
        Pixels::SetUp();
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP);
        device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
        const D3DMATRIX projection = wFriendlyProjection();
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }

    // A square facing the camera at view depth d, filling the screen centre, drawn black.
    std::uint32_t squareAt(float d) {
        const LitVertex square[4] = {{-1, 1, d, 0, 0, 0, 0xFF000000},
                                     {1, 1, d, 0, 0, 0, 0xFF000000},
                                     {-1, -1, d, 0, 0, 0, 0xFF000000},
                                     {1, -1, d, 0, 0, 0, 0xFF000000}};
        device->SetFVF(LIT_FVF);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, square, sizeof square[0]),
                  D3D_OK);
        return pixel(320, 240);
    }
};

TEST_F(Fog, ExponentialFogUsesTheEyeDepth) {
    // f = exp(-d · density); black fogged towards white gives (1 - f) · 255.
    const float density = 0.3f;
    device->SetRenderState(D3DRS_FOGDENSITY, floatBits(density));
    for (const float d : {2.0f, 5.0f, 13.0f}) {
        const double f = std::exp(-double(d) * density);
        EXPECT_EQ(red(squareAt(d)), unorm(1.0 - f)) << "at depth " << d;
    }
}

TEST_F(Fog, OtherFogFormulas) {
    device->SetRenderState(D3DRS_FOGDENSITY, floatBits(0.1f));
    device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP2);
    EXPECT_EQ(red(squareAt(5.0f)), unorm(1.0 - std::exp(-0.25)));
    device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGSTART, floatBits(2.0f));
    device->SetRenderState(D3DRS_FOGEND, floatBits(12.0f));
    // f = (end - d) / (end - start) = 0.75 at d = 4.5.
    EXPECT_EQ(red(squareAt(4.5f)), unorm(0.25));
    // Beyond the end it is all fog, before the start none.
    EXPECT_EQ(red(squareAt(20.0f)), 255);
    EXPECT_EQ(red(squareAt(1.5f)), 0);
}

TEST_F(Fog, AnAffineProjectionFogsByDepthBufferZ) {
    const D3DMATRIX identity = identityMatrix();
    device->SetTransform(D3DTS_PROJECTION, &identity);
    device->SetRenderState(D3DRS_FOGDENSITY, floatBits(1.0f));
    // z = 0.5 in clip space is the depth-buffer value: f = exp(-0.5).
    EXPECT_EQ(red(squareAt(0.5f)), unorm(1.0 - std::exp(-0.5)));
}

TEST_F(Fog, PreTransformedPrimitivesAreFoggedByTheirOwnZ) {
    device->SetRenderState(D3DRS_FOGDENSITY, floatBits(0.3f));
    // z = 0 (the overlays): no fog at all, whatever the projection says about w.
    drawColorQuad(0, 0, 20, 20, 0xFF000000, 0.0f);
    EXPECT_EQ(pixel(10, 10), 0xFF000000u);
    // z = 1: f = exp(-0.3).
    drawColorQuad(30, 0, 50, 20, 0xFF000000, 1.0f);
    EXPECT_EQ(red(pixel(40, 10)), unorm(1.0 - std::exp(-0.3)));
}

TEST_F(Fog, LeavesAlphaAlone) {
    // Fully fogged (f = 0), the colour is the fog colour, the alpha the vertex's.
    device->SetRenderState(D3DRS_FOGDENSITY, floatBits(1.0f));
    device->SetRenderState(D3DRS_FOGCOLOR, 0xFF00FF00);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    const LitVertex square[4] = {{-1, 1, 900, 0, 0, 0, 0x40FF0000},
                                 {1, 1, 900, 0, 0, 0, 0x40FF0000},
                                 {-1, -1, 900, 0, 0, 0, 0x40FF0000},
                                 {1, -1, 900, 0, 0, 0, 0x40FF0000}};
    device->SetFVF(LIT_FVF);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, square, sizeof square[0]);
    EXPECT_EQ(pixel(320, 240), 0xFF004000u);
}

class Blending : public Pixels {
protected:
    // Clears to dst, then draws src over it with the given factors.
    std::uint32_t blend(DWORD srcFactor, DWORD destFactor, D3DCOLOR src, D3DCOLOR dst) {
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, dst, 1.0f, 0);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, srcFactor);
        device->SetRenderState(D3DRS_DESTBLEND, destFactor);
        drawColorQuad(0, 0, 4, 4, src);
        return pixel(1, 1);
    }
};

TEST_F(Blending, FactorPairsOfTheShow) {
    // src (0x99, 0x40, 0x00) at alpha 0x88 over dst (0x20, 0x80, 0xF0).
    const D3DCOLOR src = 0x88994000;
    const D3DCOLOR dst = 0xFF2080F0;
    const double a = 0x88 / 255.0;
    auto expect = [](double r, double g, double b) {
        return 0xFF000000u | unsigned(unorm(r)) << 16 | unsigned(unorm(g)) << 8 |
               unsigned(unorm(b));
    };
    const double s[3] = {0x99 / 255.0, 0x40 / 255.0, 0.0};
    const double d[3] = {0x20 / 255.0, 0x80 / 255.0, 0xF0 / 255.0};
    // Alpha blending (the dust).
    EXPECT_EQ(
        blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, src, dst),
        expect(s[0] * a + d[0] * (1 - a), s[1] * a + d[1] * (1 - a), s[2] * a + d[2] * (1 - a)));
    // Multiplying (the overlays).
    EXPECT_EQ(blend(D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, src, dst),
              expect(d[0] * s[0], d[1] * s[1], d[2] * s[2]));
    // texel · (1 − texel) (the credit quad).
    EXPECT_EQ(blend(D3DBLEND_INVSRCCOLOR, D3DBLEND_ZERO, src, dst),
              expect(s[0] * (1 - s[0]), s[1] * (1 - s[1]), s[2] * (1 - s[2])));
    // Additive with alpha weight (the tubes), saturating.
    EXPECT_EQ(blend(D3DBLEND_SRCALPHA, D3DBLEND_ONE, src, dst),
              expect(s[0] * a + d[0], s[1] * a + d[1], std::min(1.0, s[2] * a + d[2])));
    EXPECT_EQ(blend(D3DBLEND_ONE, D3DBLEND_ONE, 0xFFC0C0C0, 0xFF808080), 0xFFFFFFFFu);
    // Blending off (and ONE/ZERO) writes the source.
    EXPECT_EQ(blend(D3DBLEND_ONE, D3DBLEND_ZERO, src, dst), 0xFF994000u);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    drawColorQuad(0, 0, 4, 4, 0x00123456);
    EXPECT_EQ(pixel(1, 1), 0xFF123456u);
}

TEST_F(Blending, ChannelsRoundToNearest) {
    // 0x80 · 0x80 / 255 = 64.25 rounds down; 0x81 · 0x81 / 255 = 65.26 too; 0xB5 · 0xB5 / 255
    // = 128.47 down, 0xB6 · 0xB6 / 255 = 129.89 up.
    EXPECT_EQ(blend(D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 0xFF8081B5, 0xFF8081B5), 0xFF404180u);
    EXPECT_EQ(blue(blend(D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 0xFF0000B6, 0xFF0000B6)), 130);
}

// The table of halfway samples: each entry is the bilinear sample with every weight a
// quarter, of the 2x2 block its place names, clamped into the texture at the edges; the wide
// and one-at-a-time fillings agree, on textures wide enough for the wide loop's last eight
// to overlap the ones before and too narrow for it.
TEST(HalfwaySamples, AreTheFilteredBlocksClampedAtTheEdges) {
    std::uint32_t seed = 5;
    for (const D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
        for (const int width : {4, 16, 32}) {
            const int height = 8;
            std::vector<std::uint32_t> texels(static_cast<std::size_t>(width * height));
            for (std::uint32_t& t : texels) {
                seed = seed * 1664525u + 1013904223u;
                t = seed;
            }
            soft::TextureView view;
            view.bits = reinterpret_cast<const std::uint8_t*>(texels.data());
            view.pitch = 4 * width;
            view.width = width;
            view.height = height;
            view.format = format;
            const int channels = format == D3DFMT_A8R8G8B8 ? 4 : 3;
            const std::size_t plane = static_cast<std::size_t>((width + 1) * (height + 1));
            std::vector<float> wide(plane * 4, -1.0f), narrow(plane * 4, -1.0f);
            soft::HalfwaySamples wideTable, narrowTable;
            for (int ch = 0; ch < channels; ++ch) {
                wideTable.channel[ch] = wide.data() + plane * ch;
                narrowTable.channel[ch] = narrow.data() + plane * ch;
            }
            wideTable.stride = narrowTable.stride = width + 1;
            wideTable.rows = narrowTable.rows = height + 1;
            // In two parts, as two threads would fill it.
            soft::fillHalfwayRows(view, wideTable, 0, 3);
            soft::fillHalfwayRows(view, wideTable, 3, height + 1);
            soft::fillHalfwayRowsNarrow(view, narrowTable, 0, height + 1);
            EXPECT_TRUE(wide == narrow) << width;
            auto byteAt = [&](int i, int j, int shift) {
                i = std::clamp(i, 0, width - 1);
                j = std::clamp(j, 0, height - 1);
                return static_cast<float>(
                    (texels[static_cast<std::size_t>(j * width + i)] >> shift) & 0xFF);
            };
            constexpr int SHIFTS[4] = {16, 8, 0, 24};
            for (int r = 0; r <= height; ++r) {
                for (int c = 0; c <= width; ++c) {
                    for (int ch = 0; ch < channels; ++ch) {
                        const int sh = SHIFTS[ch];
                        const float expected =
                            (0.25f * byteAt(c - 1, r - 1, sh) + 0.25f * byteAt(c, r - 1, sh) +
                             0.25f * byteAt(c - 1, r, sh) + 0.25f * byteAt(c, r, sh)) /
                            255.0f;
                        ASSERT_EQ(wide[plane * ch + static_cast<std::size_t>(r * (width + 1) + c)],
                                  expected)
                            << width << " " << c << " " << r << " " << ch;
                    }
                }
            }
            if (format == D3DFMT_X8R8G8B8) {
                EXPECT_EQ(wide[plane * 3], -1.0f); // no alpha plane to fill
            }
        }
    }
}

// Which stages of a triangle take their taps straight from the halfway table: only those
// whose coordinates, interpolated in float at every pixel the triangle may cover, are exactly
// the pixel's position plus a whole number of texels and a half. A texture 64 texels wide and
// 32 high, the triangle over columns 0..63 and rows 0..31.
TEST(HalfwaySamples, TakeTapsStraightOnlyWhereEveryInterpolatedTapIsExactlyHalfway) {
    soft::HalfwaySamples table;
    soft::PixelState state;
    state.stageCount = 1;
    state.stages[0].texture.width = 64;
    state.stages[0].texture.height = 32;
    state.stages[0].texture.halfway = &table;
    state.attributeCount = 2;
    state.attributes[0] = {0, true, 0, 0};
    state.attributes[1] = {1, true, 0, 1};
    soft::BatchTriangle triangle{};
    triangle.colMin = 0;
    triangle.colMax = 63;
    triangle.rowMin = 0;
    triangle.rowMax = 31;
    struct Case {
        float refX, refY;
        soft::Plane u, v;
        bool halfway;
        int column, row; // offsets when halfway
    };
    const float texel = 1.0f / 64, row = 1.0f / 32;
    const Case cases[] = {
        // Three texels right and one down from the pixel, the tap at the corner between them
        // and the next: u = (p + 3) / 64 at the pixel's corner.
        {0.0f, 0.0f, {texel, 0, 3 * texel}, {0, row, 1 * row}, true, 2, 0},
        // The same with the reference point half a pixel in and the constant to match.
        {0.5f, 0.25f, {texel, 0, 3.5f * texel}, {0, row, 1.25f * row}, true, 2, 0},
        // Beyond the texture, which clamps.
        {0.0f, 0.0f, {texel, 0, -200 * texel}, {0, row, 90 * row}, true, -201, 89},
        // Taps on texel centres, not between them.
        {0.0f, 0.0f, {texel, 0, 3.5f * texel}, {0, row, 1 * row}, false, 0, 0},
        // Two texels per pixel; a tap that moves across as well.
        {0.0f, 0.0f, {2 * texel, 0, 3 * texel}, {0, row, 1 * row}, false, 0, 0},
        {0.0f, 0.0f, {texel, 1e-9f, 3 * texel}, {0, row, 1 * row}, false, 0, 0},
        // A constant with bits below what a float keeps when the pixel's offset is added.
        {0.0f, 0.0f, {texel, 0, 3 * texel + 0x1p-28f}, {0, row, 1 * row}, false, 0, 0},
        // So far out that the sampler would limit the tap.
        {0.0f, 0.0f, {texel, 0, 0x1p21f * texel}, {0, row, 1 * row}, false, 0, 0},
    };
    for (const Case& c : cases) {
        soft::PrimitivePlanes planes;
        planes.refX = c.refX;
        planes.refY = c.refY;
        planes.perspective = true;
        planes.invW = {0, 0, 1};
        planes.attribute[0] = c.u;
        planes.attribute[1] = c.v;
        soft::findHalfwayTaps(state, triangle, planes);
        EXPECT_EQ(planes.halfway.stages, c.halfway ? 1 : 0) << c.u.a << " " << c.u.c;
        if (c.halfway && planes.halfway.stages == 1) {
            EXPECT_EQ(planes.halfway.offset[0][0], c.column);
            EXPECT_EQ(planes.halfway.offset[0][1], c.row);
        }
        // Coordinates divided by a w that changes across the triangle are never taken so.
        planes.invW = {0.001f, 0, 1};
        soft::findHalfwayTaps(state, triangle, planes);
        EXPECT_EQ(planes.halfway.stages, 0);
    }
}

TEST(PodBuffer, ReservedRoomKeepsWhatIsThereAndTakesAppendsInPlace) {
    soft::PodBuffer<int> buffer;
    int* first = buffer.append(3);
    first[0] = 1, first[1] = 2, first[2] = 3;
    buffer.reserve(100);
    ASSERT_EQ(buffer.size(), 3u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);
    // The room reserved is taken without moving, and kept when the buffer is emptied.
    const int* data = buffer.data();
    buffer.append(97);
    EXPECT_EQ(buffer.data(), data);
    buffer.clear();
    buffer.reserve(10);
    buffer.append(100);
    EXPECT_EQ(buffer.data(), data);
    // Beyond it, the buffer grows and keeps its elements.
    buffer[99] = 7;
    buffer.append(1);
    EXPECT_EQ(buffer[99], 7);
}

} // namespace
} // namespace tessivane::platform::testing
