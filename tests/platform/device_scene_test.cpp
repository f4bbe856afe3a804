// Whole frames: the shapes of the show's scenes drawn through the device, compared across
// thread counts and against the per-pixel reference path.
#include "device_test_support.h"

#include <cmath>

namespace tessivane::platform::testing {
namespace {

// A frame in the manner of the show's first scene: fogged unlit cubes from a vertex buffer,
// alpha-blended points from memory, and two multiplying pre-transformed overlays (L8 and
// X8R8G8B8) with bilinear filtering.
void drawFogScene(IDirect3DDevice9* d, IDirect3DVertexBuffer9* cubes, UINT cubeTriangles,
                  IDirect3DTexture9* picture, IDirect3DTexture9* caption,
                  const std::vector<LitVertex>& dust) {
    const D3DMATRIX world = identityMatrix();
    D3DMATRIX view = identityMatrix();
    view._43 = 15.0f;
    const D3DMATRIX projection = wFriendlyProjection();
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTransform(D3DTS_VIEW, &view);
    d->SetTransform(D3DTS_PROJECTION, &projection);
    for (DWORD s = 0; s < 4; ++s) {
        d->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }
    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP);
    d->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
    d->SetRenderState(D3DRS_FOGDENSITY, floatBits(0.08f));
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF777777, 1.0f, 0);
    d->BeginScene();
    d->SetFVF(LIT_FVF);
    d->SetStreamSource(0, cubes, 0, sizeof(LitVertex));
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, cubeTriangles);

    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->DrawPrimitiveUP(D3DPT_POINTLIST, static_cast<UINT>(dust.size()), dust.data(),
                       sizeof(LitVertex));

    d->SetFVF(SCREEN_FVF);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    const ScreenVertex pictureQuad[4] = {{384, 224, 0, 1, 0, 0},
                                         {640, 224, 0, 1, 1, 0},
                                         {384, 480, 0, 1, 0, 1},
                                         {640, 480, 0, 1, 1, 1}};
    d->SetTexture(0, picture);
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, pictureQuad, sizeof(ScreenVertex));
    const ScreenVertex titleQuad[4] = {{100, 200, 0, 1, 0, 0},
                                       {460, 200, 0, 1, 1, 0},
                                       {100, 570, 0, 1, 0, 1},
                                       {460, 570, 0, 1, 1, 1}};
    d->SetTexture(0, caption);
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, titleQuad, sizeof(ScreenVertex));
    d->SetTexture(0, nullptr);
    d->EndScene();
}

class FogScene : public DeviceTest {
protected:
    void build() {
        // A spiral of cubes.
        const float corners[8][3] = {{-1, 1, -1}, {1, 1, -1}, {-1, -1, -1}, {1, -1, -1},
                                     {-1, 1, 1},  {1, 1, 1},  {-1, -1, 1},  {1, -1, 1}};
        const int order[36] = {0, 1, 2, 1, 2, 3, 0, 4, 2, 4, 2, 6, 4, 5, 6, 5, 6, 7,
                               5, 1, 7, 1, 7, 3, 0, 4, 1, 1, 4, 5, 2, 6, 3, 3, 6, 7};
        std::vector<LitVertex> spiral;
        float y = 4.0f;
        float a = 0.0f;
        for (int cube = 0; cube < 20; ++cube) {
            for (const int c : order) {
                const float* p = corners[c];
                const D3DCOLOR color = 0xFF000000u | (0xFF8833u + 0x070000u * (cube % 3));
                spiral.push_back({0.4f * (p[0] + 5 * std::cos(a)), 0.4f * p[1] + y,
                                  0.4f * (p[2] + 5 * std::sin(a)) + 2.0f * (cube % 4), p[0], p[1],
                                  p[2], color});
            }
            y -= 0.4f;
            a += 0.62831855f;
        }
        cubeTriangles = static_cast<UINT>(spiral.size() / 3);
        ASSERT_EQ(device->CreateVertexBuffer(static_cast<UINT>(spiral.size() * sizeof(LitVertex)),
                                             0, LIT_FVF, D3DPOOL_DEFAULT, &cubes, nullptr),
                  D3D_OK);
        void* data = nullptr;
        ASSERT_EQ(cubes->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, spiral.data(), spiral.size() * sizeof(LitVertex));
        cubes->Unlock();

        std::uint32_t seed = 1;
        auto next = [&seed] {
            seed = seed * 214013u + 2531011u;
            return static_cast<int>((seed >> 16) & 0x7FFF);
        };
        for (int i = 0; i < 3000; ++i) {
            dust.push_back({next() * 0.00061037019f - 10, next() * 0.00061037019f - 10,
                            next() * 0.00030518509f - 5, 0, 0, 0, 0x88999999});
        }

        std::vector<std::uint32_t> pictureTexels(256 * 256);
        for (int t = 0; t < 256; ++t) {
            for (int x = 0; x < 256; ++x) {
                const int dx = x - 128, dy = t - 128;
                pictureTexels[t * 256 + x] =
                    (dx * dx + dy * dy < 90 * 90 && ((x / 16 + t / 16) & 1)) ? 40 : 255;
            }
        }
        picture = texture(256, 256, D3DFMT_L8, pictureTexels);
        std::vector<std::uint32_t> captionTexels(256 * 256, 0xFFFFFFFF);
        for (int t = 2; t < 22; ++t) {
            for (int x = 4; x < 200; ++x) {
                if (((x / 6) % 3) != 2) {
                    captionTexels[t * 256 + x] = 0xFFFF0000;
                }
            }
        }
        caption = texture(256, 256, D3DFMT_X8R8G8B8, captionTexels);
    }
    void TearDown() override {
        if (cubes != nullptr) {
            cubes->Release();
        }
        if (picture != nullptr) {
            picture->Release();
        }
        if (caption != nullptr) {
            caption->Release();
        }
        DeviceTest::TearDown();
    }
    void draw() { drawFogScene(device, cubes, cubeTriangles, picture, caption, dust); }

    IDirect3DVertexBuffer9* cubes = nullptr;
    UINT cubeTriangles = 0;
    IDirect3DTexture9* picture = nullptr;
    IDirect3DTexture9* caption = nullptr;
    std::vector<LitVertex> dust;
};

TEST_F(FogScene, IsTheSameBytesOnOneThreadAndOnMany) {
    create(1);
    build();
    draw();
    dump("fog-scene");
    const std::vector<std::uint32_t> single = frame();
    cubes->Release();
    picture->Release();
    caption->Release();
    cubes = nullptr;
    picture = caption = nullptr;
    dust.clear();
    releaseDevice();

    create(3);
    ASSERT_EQ(soft()->renderThreads(), 3u);
    build();
    draw();
    EXPECT_TRUE(frame() == single);
}

TEST_F(FogScene, SpecialisedPathsMatchTheReferencePath) {
    create(2);
    build();
    draw();
    const std::vector<std::uint32_t> fast = frame();
    soft()->useReferencePixelPath(true);
    draw();
    EXPECT_TRUE(frame() == fast);
}

} // namespace
} // namespace tessivane::platform::testing
