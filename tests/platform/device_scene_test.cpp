// Whole frames: the shapes of the show's scenes drawn through the device, compared across
// thread counts and against the per-pixel reference path.
#include "device_test_support.h"
#include "platform/soft/pixel_wide.h"
#include "platform/surface_memory.h"

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
        for (int i = 0; i < 10096; ++i) { // the show's count: more than one queue's worth
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

// Draws many primitives, each under states picked at random from everything the device
// draws with: blend factor pairs, stage operations and arguments, formats, filters,
// addressing, fog modes and sources, depth functions, points and triangles, pre-transformed
// and transformed.
// spread: how far apart, in pixels, a draw's vertices lie around its centre; perDraw: the
// triangles (or points) of each draw, all around that centre.
void drawStateSweep(IDirect3DDevice9* d, IDirect3DTexture9* const textures[3], std::uint32_t seed,
                    float spread = 160.0f, int perDraw = 1) {
    auto next = [&seed](std::uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    auto unit = [&next] { return static_cast<float>(next(10001)) / 10000.0f; };
    struct Vertex {
        float x, y, z, w;
        D3DCOLOR diffuse, specular;
        float u0, v0, u1, v1;
    };
    const D3DMATRIX identity = identityMatrix();
    const D3DMATRIX projection = wFriendlyProjection();
    const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_MODULATE,
                         D3DTOP_MODULATE2X, D3DTOP_MODULATE4X, D3DTOP_ADD,
                         D3DTOP_ADDSIGNED,  D3DTOP_SUBTRACT,   D3DTOP_DISABLE};
    const DWORD args[] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTA_TFACTOR,
                          D3DTA_SPECULAR};
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->BeginScene();
    for (int draw = 0; draw < 400; ++draw) {
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, next(4) != 0);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO + next(6));
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO + next(6));
        d->SetRenderState(D3DRS_ZENABLE, next(3) != 0);
        d->SetRenderState(D3DRS_ZFUNC, D3DCMP_NEVER + next(8));
        d->SetRenderState(D3DRS_ZWRITEENABLE, next(2));
        d->SetRenderState(D3DRS_SPECULARENABLE, next(4) == 0);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x10305070u * (1 + next(5)));
        d->SetRenderState(D3DRS_FOGENABLE, next(2));
        d->SetRenderState(D3DRS_FOGTABLEMODE, next(4));
        d->SetRenderState(D3DRS_FOGDENSITY, floatBits(unit() * 0.5f));
        d->SetRenderState(D3DRS_FOGSTART, floatBits(unit() * 3.0f));
        d->SetRenderState(D3DRS_FOGEND, floatBits(3.0f + unit() * 20.0f));
        d->SetRenderState(D3DRS_FOGCOLOR, 0xFF000000u | next(0x1000000));
        const bool perspective = next(2) != 0;
        d->SetTransform(D3DTS_PROJECTION, perspective ? &projection : &identity);
        for (DWORD stage = 0; stage < 3; ++stage) {
            d->SetTextureStageState(stage, D3DTSS_COLOROP, ops[next(stage == 0 ? 8 : 9)]);
            d->SetTextureStageState(stage, D3DTSS_COLORARG1, args[next(5)]);
            d->SetTextureStageState(stage, D3DTSS_COLORARG2, args[next(5)]);
            d->SetTextureStageState(stage, D3DTSS_ALPHAOP, ops[next(9)]);
            d->SetTextureStageState(stage, D3DTSS_ALPHAARG1, args[next(5)]);
            d->SetTextureStageState(stage, D3DTSS_ALPHAARG2, args[next(5)]);
            d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, next(3));
            d->SetTexture(stage, next(5) == 0 ? nullptr : textures[next(3)]);
            const DWORD filter = next(2) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
            d->SetSamplerState(stage, D3DSAMP_MINFILTER, filter);
            d->SetSamplerState(stage, D3DSAMP_MAGFILTER, filter);
            d->SetSamplerState(stage, D3DSAMP_ADDRESSU,
                               next(2) ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP);
            d->SetSamplerState(stage, D3DSAMP_ADDRESSV,
                               next(2) ? D3DTADDRESS_WRAP : D3DTADDRESS_CLAMP);
        }
        d->SetTextureStageState(3, D3DTSS_COLOROP, D3DTOP_DISABLE);

        const bool screen = next(2) != 0;
        const bool points = next(5) == 0;
        std::vector<Vertex> v(3 * static_cast<std::size_t>(perDraw));
        const float cx = unit() * 700.0f - 30.0f;
        const float cy = unit() * 540.0f - 30.0f;
        for (Vertex& vertex : v) {
            const float x = cx + (unit() - 0.5f) * spread;
            const float y = cy + (unit() - 0.5f) * spread;
            if (screen) {
                vertex.x = x;
                vertex.y = y;
                vertex.z = unit();
                vertex.w = 0.2f + unit();
            } else if (perspective) {
                // View depth 1.5..25, some of it in front of the near plane (depth 1).
                const float depth = 0.5f + unit() * 24.5f;
                vertex.x = (x / 320.0f - 1.0f) * depth;
                vertex.y = (1.0f - y / 240.0f) * depth;
                vertex.z = depth;
            } else {
                // Clip space as it is; z a little outside 0..1 now and then.
                vertex.x = x / 320.0f - 1.0f;
                vertex.y = 1.0f - y / 240.0f;
                vertex.z = unit() * 1.2f - 0.1f;
            }
            vertex.diffuse = next(0x10000) * 0x10001u ^ next(0x10000);
            vertex.specular = next(0x10000) * 0x10001u ^ next(0x10000);
            vertex.u0 = unit() * 3.0f - 1.0f;
            vertex.v0 = unit() * 3.0f - 1.0f;
            vertex.u1 = unit();
            vertex.v1 = unit();
        }
        if (screen) {
            d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);
            d->DrawPrimitiveUP(points ? D3DPT_POINTLIST : D3DPT_TRIANGLELIST,
                               points ? 3 * perDraw : perDraw, v.data(), sizeof(Vertex));
        } else {
            struct Transformed {
                float x, y, z;
                D3DCOLOR diffuse, specular;
                float u0, v0, u1, v1;
            };
            std::vector<Transformed> t(v.size());
            for (std::size_t i = 0; i < v.size(); ++i) {
                t[i] = {v[i].x,  v[i].y,  v[i].z,  v[i].diffuse, v[i].specular,
                        v[i].u0, v[i].v0, v[i].u1, v[i].v1};
            }
            d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);
            d->DrawPrimitiveUP(points ? D3DPT_POINTLIST : D3DPT_TRIANGLELIST,
                               points ? 3 * perDraw : perDraw, t.data(), sizeof(Transformed));
        }
    }
    for (DWORD stage = 0; stage < 3; ++stage) {
        d->SetTexture(stage, nullptr);
    }
    d->EndScene();
}

class StateSweep : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        create(2);
        std::uint32_t seed = 99;
        auto texels = [&seed](int count) {
            std::vector<std::uint32_t> t(count);
            for (std::uint32_t& texel : t) {
                seed = seed * 1664525u + 1013904223u;
                texel = seed;
            }
            return t;
        };
        textures[0] = texture(16, 16, D3DFMT_L8, texels(256));
        textures[1] = texture(8, 4, D3DFMT_X8R8G8B8, texels(32));
        textures[2] = texture(4, 16, D3DFMT_A8R8G8B8, texels(64));
    }
    void TearDown() override {
        for (IDirect3DTexture9* t : textures) {
            t->Release();
        }
        DeviceTest::TearDown();
    }

    std::vector<std::uint32_t> render(bool reference, std::uint32_t seed, float spread = 160.0f,
                                      int perDraw = 1) {
        soft()->useReferencePixelPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF404040, 1.0f, 0);
        drawStateSweep(device, textures, seed, spread, perDraw);
        return frame();
    }

    IDirect3DTexture9* textures[3] = {};
};

TEST_F(StateSweep, SpecialisedPathsMatchTheReferencePathOnTheBackBuffer) {
    for (const std::uint32_t seed : {1u, 2u, 3u}) {
        const std::vector<std::uint32_t> fast = render(false, seed);
        if (seed == 1) {
            dump("state-sweep");
        }
        EXPECT_TRUE(render(true, seed) == fast) << "seed " << seed;
    }
}

// Triangles a few pixels across, many to a draw and piled on one another: their pixels are
// shaded many triangles at a time, and a pixel covered twice must still blend and depth-test
// in drawing order.
TEST_F(StateSweep, SmallPiledUpTrianglesMatchTheReferencePath) {
    for (const std::uint32_t seed : {7u, 8u}) {
        const std::vector<std::uint32_t> fast = render(false, seed, 14.0f, 60);
        EXPECT_TRUE(render(true, seed, 14.0f, 60) == fast) << "seed " << seed;
    }
}

TEST_F(StateSweep, WideAndNarrowOperationsGiveTheSameBytes) {
    // Large triangles, then small ones whose spans are found four columns at a time, and
    // small ones piled up, whose gathered pixels repeat. The wide operations run with sixteen
    // lanes where the processor has them, and with eight.
    const struct {
        std::uint32_t seed;
        float spread;
        int perDraw;
    } sweeps[] = {{4u, 160.0f, 1}, {6u, 160.0f, 1}, {9u, 14.0f, 60}, {10u, 30.0f, 20}};
    for (const auto& sweep : sweeps) {
        const std::vector<std::uint32_t> wide =
            render(false, sweep.seed, sweep.spread, sweep.perDraw);
        soft::enableSixteenLanes(false);
        const std::vector<std::uint32_t> eight =
            render(false, sweep.seed, sweep.spread, sweep.perDraw);
        soft::enableSixteenLanes(true);
        soft::enableWideOperations(false);
        const std::vector<std::uint32_t> narrow =
            render(false, sweep.seed, sweep.spread, sweep.perDraw);
        soft::enableWideOperations(true);
        EXPECT_TRUE(narrow == wide) << "seed " << sweep.seed;
        EXPECT_TRUE(eight == wide) << "seed " << sweep.seed;
    }
}

TEST_F(StateSweep, SpecialisedPathsMatchTheReferencePathOnAnAlphaTarget) {
    IDirect3DTexture9* targetTexture = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                    D3DPOOL_DEFAULT, &targetTexture, nullptr),
              D3D_OK);
    IDirect3DSurface9* target = nullptr;
    targetTexture->GetSurfaceLevel(0, &target);
    ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
    auto contents = [&](bool reference) {
        soft()->useReferencePixelPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80404040, 1.0f, 0);
        drawStateSweep(device, textures, 5);
        const detail::SurfaceMemory m = detail::cpuSurface(target)->memory();
        return std::vector<std::uint8_t>(m.bits, m.bits + m.pitch * m.height);
    };
    const std::vector<std::uint8_t> fast = contents(false);
    EXPECT_TRUE(contents(true) == fast);
    // Alpha was written, not forced opaque.
    bool translucent = false;
    for (std::size_t i = 3; i < fast.size(); i += 4) {
        translucent = translucent || fast[i] != 0xFF;
    }
    EXPECT_TRUE(translucent);
    target->Release();
    targetTexture->Release();
}

struct SurfaceVertex { // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR diffuse;
    float u, v;
};
static_assert(sizeof(SurfaceVertex) == 36);

// A frame in the manner of the off-screen scene: a lit, textured sphere drawn into a 256x256
// target, then stretched over the back buffer with a clip-space quad and bilinear filtering.
class OffScreenScene : public DeviceTest {
protected:
    void build() {
        std::vector<std::uint32_t> texels(256 * 256);
        for (int i = 0; i < 256; ++i) {
            for (int j = 0; j < 256; ++j) {
                texels[i * 256 + j] = 0xFF000000u | static_cast<std::uint32_t>(
                                                        ((i * 64) % 256) << 16 | ((i + j) % 256) |
                                                        ((i ^ j) % 256) << 8);
            }
        }
        surfaceTexture = texture(256, 256, D3DFMT_A8R8G8B8, texels);
        ASSERT_EQ(device->CreateTexture(256, 256, 0, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                        D3DPOOL_DEFAULT, &sceneTexture, nullptr),
                  D3D_OK);
        sceneTexture->GetSurfaceLevel(0, &sceneSurface);
        // A sphere of radius 1.5 as a triangle list.
        constexpr int RINGS = 24, SEGMENTS = 32;
        auto point = [](int ring, int segment) {
            const double theta = 3.14159265358979 * ring / RINGS;
            const double phi = 2 * 3.14159265358979 * segment / SEGMENTS;
            const float nx = float(std::sin(theta) * std::cos(phi));
            const float ny = float(std::cos(theta));
            const float nz = float(std::sin(theta) * std::sin(phi));
            return SurfaceVertex{1.5f * nx,  1.5f * ny,          1.5f * nz,         nx, ny, nz,
                                 0xFFFFFFFF, (nx + 1.0f) * 0.5f, (ny + 1.0f) * 0.5f};
        };
        for (int r = 0; r < RINGS; ++r) {
            for (int g = 0; g < SEGMENTS; ++g) {
                const SurfaceVertex a = point(r, g), b = point(r, g + 1);
                const SurfaceVertex c = point(r + 1, g), d = point(r + 1, g + 1);
                sphere.insert(sphere.end(), {a, b, c, b, d, c});
            }
        }
    }
    void TearDown() override {
        if (sceneSurface != nullptr) {
            sceneSurface->Release();
        }
        if (sceneTexture != nullptr) {
            sceneTexture->Release();
        }
        if (surfaceTexture != nullptr) {
            surfaceTexture->Release();
        }
        DeviceTest::TearDown();
    }

    void draw() {
        IDirect3DDevice9* d = device;
        D3DMATRIX world = identityMatrix();
        world._11 = world._33 = 0.8f; // a turn about y
        world._13 = 0.6f;
        world._31 = -0.6f;
        D3DMATRIX view = identityMatrix();
        view._43 = 5.0f;
        const D3DMATRIX projection = wFriendlyProjection();
        d->SetTransform(D3DTS_WORLD, &world);
        d->SetTransform(D3DTS_VIEW, &view);
        d->SetTransform(D3DTS_PROJECTION, &projection);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
        light.Direction = D3DVECTOR{0.577f, 0.577f, 0.577f};
        d->SetLight(0, &light);
        d->LightEnable(0, TRUE);
        for (DWORD s = 0; s < 4; ++s) {
            d->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            d->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
            d->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
            d->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        }
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        IDirect3DSurface9* backBuffer = nullptr;
        d->GetRenderTarget(0, &backBuffer);
        d->BeginScene();
        // The surface pass: lit, but its colour is the texture's alone.
        d->SetRenderTarget(0, sceneSurface);
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        d->SetTexture(0, surfaceTexture);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        d->SetFVF(0x152);
        d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(sphere.size() / 3), sphere.data(),
                           sizeof(SurfaceVertex));
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        // The composite: the target stretched over the back buffer, the surface's brightness
        // modulating the stretched copy of itself as a second stage.
        d->SetRenderTarget(0, backBuffer);
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        d->SetTexture(0, sceneTexture);
        d->SetTexture(1, sceneTexture);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
        d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
        d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
        const QuadVertex quad[4] = {
            {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}};
        const D3DMATRIX identity = identityMatrix();
        d->SetTransform(D3DTS_WORLD, &identity);
        d->SetTransform(D3DTS_VIEW, &identity);
        d->SetTransform(D3DTS_PROJECTION, &identity);
        d->SetFVF(QUAD_FVF);
        d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(QuadVertex));
        d->SetTexture(0, nullptr);
        d->SetTexture(1, nullptr);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
        backBuffer->Release();
    }

    IDirect3DTexture9* surfaceTexture = nullptr;
    IDirect3DTexture9* sceneTexture = nullptr;
    IDirect3DSurface9* sceneSurface = nullptr;
    std::vector<SurfaceVertex> sphere;
};

TEST_F(OffScreenScene, IsTheSameBytesOnOneThreadAndOnManyAndOnTheReferencePath) {
    create(1);
    build();
    draw();
    dump("off-screen-scene");
    const std::vector<std::uint32_t> single = frame();
    // The sphere reached the screen, brighter where the copy was added.
    EXPECT_NE(pixel(320, 240), 0xFF000000u);
    EXPECT_EQ(pixel(5, 5), 0xFF000000u);
    soft()->useReferencePixelPath(true);
    draw();
    EXPECT_TRUE(frame() == single);
    sceneSurface->Release();
    sceneTexture->Release();
    surfaceTexture->Release();
    sceneSurface = nullptr;
    sceneTexture = surfaceTexture = nullptr;
    sphere.clear();
    releaseDevice();

    create(4);
    build();
    draw();
    EXPECT_TRUE(frame() == single);
}

// A frame of several full queues: small translucent triangles over one another, where the
// order of the draws shows, then two draws tapping one texture (its queue gets halfway
// tables), then more triangles. With
// render threads, the queues still waiting when the frame is read back are drawn together,
// strip by strip through each of them, but for the one with tables.
class PiledUpQueues : public DeviceTest {
protected:
    void drawFrame(IDirect3DTexture9* backdrop) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        std::uint32_t seed = 12345;
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        const auto triangles = [&](int count) {
            std::vector<ColorScreenVertex> vertices;
            for (int i = 0; i < count; ++i) {
                const float x = static_cast<float>(next() % 6400) / 10.0f;
                const float y = static_cast<float>(next() % 4800) / 10.0f;
                const D3DCOLOR color = next() << 8 | (next() & 0xFF);
                vertices.push_back({x, y, 0, 1, color});
                vertices.push_back({x + 17.3f, y + 2.6f, 0, 1, color});
                vertices.push_back({x + 3.2f, y + 15.1f, 0, 1, color});
            }
            device->SetFVF(COLOR_SCREEN_FVF);
            device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
            device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
            device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
            device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
            EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(count),
                                              vertices.data(), sizeof vertices[0]),
                      D3D_OK);
        };
        triangles(150000);
        device->SetTexture(0, backdrop);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        drawScreenQuad(0, 0, 320, 480);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO); // a draw of its own
        drawScreenQuad(320, 0, 640, 480);
        triangles(70000);
        device->SetTexture(0, nullptr);
        triangles(150000);
        device->EndScene();
    }

    std::vector<std::uint32_t> frameOn(unsigned threads) {
        create(threads);
        std::vector<std::uint32_t> texels(256 * 256);
        for (std::size_t i = 0; i < texels.size(); ++i) {
            texels[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8 & 0x1F1F1F);
        }
        IDirect3DTexture9* backdrop = texture(256, 256, D3DFMT_A8R8G8B8, texels);
        drawFrame(backdrop);
        std::vector<std::uint32_t> pixels = frame();
        // Again, over what the first frame left in the queues' memory.
        drawFrame(backdrop);
        EXPECT_TRUE(frame() == pixels);
        backdrop->Release();
        releaseDevice();
        return pixels;
    }
};

TEST_F(PiledUpQueues, AreTheSameBytesOnOneThreadAndOnMany) {
    const std::vector<std::uint32_t> single = frameOn(1);
    EXPECT_NE(single[240 * 640 + 100], 0xFF000000u);
    EXPECT_TRUE(frameOn(2) == single);
    EXPECT_TRUE(frameOn(5) == single);
}

} // namespace
} // namespace tessivane::platform::testing
