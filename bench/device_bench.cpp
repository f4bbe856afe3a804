// The reference device's speed at 640x480: fill rate of bilinear-textured, alpha-blended,
// fogged triangles, throughput of small triangles, and full-screen passes of weighted taps
// between two 256x256 targets, on one thread and on every core (argument "threads": 1, or 0
// for one per core).
#include "platform/d3d9.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "shaders/show_shaders.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace tessivane::platform;

namespace {

LRESULT quietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD floatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// A headless reference device drawing with the given number of threads.
struct BenchDevice {
    explicit BenchDevice(unsigned threads) {
        PlatformConfig config;
        config.headless = true;
        config.renderThreads = threads;
        configurePlatform(config);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = quietProc;
        windowClass.lpszClassName = "device-bench";
        RegisterClassExA(&windowClass);
        HWND window = CreateWindowExA(0, "device-bench", "bench", 0, 0, 0, 640, 480, nullptr,
                                      nullptr, nullptr, nullptr);
        direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = 640;
        p.BackBufferHeight = 480;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        if (direct3d != nullptr) {
            direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, window,
                                   D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device);
        }
    }
    ~BenchDevice() {
        if (device != nullptr) {
            device->Release();
        }
        if (direct3d != nullptr) {
            direct3d->Release();
        }
        shutdownPlatform();
    }

    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};

struct TexturedVertex { // D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
};

struct ColorVertex { // D3DFVF_XYZ | D3DFVF_DIFFUSE
    float x, y, z;
    D3DCOLOR diffuse;
};

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// The show's projection: w is the view depth.
D3DMATRIX projection() {
    D3DMATRIX m{};
    m._11 = 1.81066f;
    m._22 = 2.41421f;
    m._33 = 1.001f;
    m._34 = 1.0f;
    m._43 = -1.001f;
    return m;
}

IDirect3DVertexBuffer9* makeBuffer(IDirect3DDevice9* device, const void* data, UINT bytes) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr))) {
        return nullptr;
    }
    void* p = nullptr;
    buffer->Lock(0, 0, &p, 0);
    std::memcpy(p, data, bytes);
    buffer->Unlock();
    return buffer;
}

constexpr int LAYERS = 8;

} // namespace

// Screen-filling layers of two triangles each, at view depths 4..11, tilted so that 1/w and
// the coordinates vary across every pixel; each layer draws all 640x480 pixels.
static void BM_FillTexturedBlendedFogged(benchmark::State& state) {
    BenchDevice bench(static_cast<unsigned>(state.range(0)));
    IDirect3DDevice9* d = bench.device;
    if (d == nullptr) {
        state.SkipWithError("no reference device");
        return;
    }
    IDirect3DTexture9* texture = nullptr;
    d->CreateTexture(256, 256, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    for (int y = 0; y < 256; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                     y * locked.Pitch);
        for (int x = 0; x < 256; ++x) {
            row[x] = 0xFF000000u | static_cast<std::uint32_t>(x * 0x10203 + y * 0x30201);
        }
    }
    texture->UnlockRect(0);

    std::vector<TexturedVertex> layers;
    for (int i = 0; i < LAYERS; ++i) {
        // Larger than the view at its depth (half-width 1/1.81066, half-height 1/2.41421 per
        // unit of depth), leaning back so the far edge is deeper than the near one.
        const float near = 4.0f + static_cast<float>(i);
        const float far = near + 3.0f;
        const float hx = far * 0.6f, hy = far * 0.45f;
        const D3DCOLOR color = 0x80FFFFFF;
        const TexturedVertex quad[6] = {{-hx, -hy, near, color, 0, 2}, {hx, -hy, near, color, 2, 2},
                                        {-hx, hy, far, color, 0, 0},   {hx, -hy, near, color, 2, 2},
                                        {hx, hy, far, color, 2, 0},    {-hx, hy, far, color, 0, 0}};
        layers.insert(layers.end(), quad, quad + 6);
    }
    IDirect3DVertexBuffer9* buffer =
        makeBuffer(d, layers.data(), static_cast<UINT>(layers.size() * sizeof(TexturedVertex)));

    const D3DMATRIX world = identity();
    const D3DMATRIX proj = projection();
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTransform(D3DTS_VIEW, &world);
    d->SetTransform(D3DTS_PROJECTION, &proj);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP);
    d->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
    d->SetRenderState(D3DRS_FOGDENSITY, floatBits(0.05f));
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetTexture(0, texture);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d->SetStreamSource(0, buffer, 0, sizeof(TexturedVertex));
    for (auto _ : state) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF777777, 1.0f, 0);
        d->BeginScene();
        d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2 * LAYERS);
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.counters["pixels"] =
        benchmark::Counter(640.0 * 480.0 * LAYERS, benchmark::Counter::kIsIterationInvariantRate);
    d->SetStreamSource(0, nullptr, 0, 0);
    d->SetTexture(0, nullptr);
    buffer->Release();
    texture->Release();
}
BENCHMARK(BM_FillTexturedBlendedFogged)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// 40000 small Gouraud-shaded, depth-tested triangles (about 8 pixels each) through the
// transform, spread over the screen at varying depth.
static void BM_SmallTriangles(benchmark::State& state) {
    BenchDevice bench(static_cast<unsigned>(state.range(0)));
    IDirect3DDevice9* d = bench.device;
    if (d == nullptr) {
        state.SkipWithError("no reference device");
        return;
    }
    constexpr int COUNT = 40000;
    std::vector<ColorVertex> triangles;
    std::uint32_t seed = 1;
    auto unit = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    for (int i = 0; i < COUNT; ++i) {
        const float depth = 5.0f + 10.0f * unit();
        // A pixel is depth / (320 · 1.81066) = depth / 579.4 units wide here; legs of 4
        // pixels.
        const float x = (unit() * 2.0f - 1.0f) * depth / 1.81066f;
        const float y = (unit() * 2.0f - 1.0f) * depth / 2.41421f;
        const float leg = 4.0f * depth / 579.4f;
        const D3DCOLOR c = 0xFF000000u | (seed & 0xFFFFFF);
        triangles.push_back({x, y, depth, c});
        triangles.push_back({x + leg, y, depth, c ^ 0x00FF00});
        triangles.push_back({x, y + leg, depth + 0.1f, c ^ 0xFF0000});
    }
    IDirect3DVertexBuffer9* buffer =
        makeBuffer(d, triangles.data(), static_cast<UINT>(triangles.size() * sizeof(ColorVertex)));
    const D3DMATRIX world = identity();
    const D3DMATRIX proj = projection();
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTransform(D3DTS_VIEW, &world);
    d->SetTransform(D3DTS_PROJECTION, &proj);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    d->SetStreamSource(0, buffer, 0, sizeof(ColorVertex));
    for (auto _ : state) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        d->BeginScene();
        d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, COUNT);
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.counters["triangles"] =
        benchmark::Counter(COUNT, benchmark::Counter::kIsIterationInvariantRate);
    d->SetStreamSource(0, nullptr, 0, 0);
    buffer->Release();
}
BENCHMARK(BM_SmallTriangles)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A chain of four full-screen passes between two 256x256 targets, each tapping the other
// four times along a diagonal (4, 16, 64 and 256 texels apart, as the metaball glare's
// streaks do): every tap falls halfway between texel centres, many of them beyond the
// texture's edges.
static void BM_StreakTaps(benchmark::State& state) {
    BenchDevice bench(static_cast<unsigned>(state.range(0)));
    IDirect3DDevice9* d = bench.device;
    if (d == nullptr) {
        state.SkipWithError("no reference device");
        return;
    }
    constexpr UINT SIZE = 256;
    IDirect3DTexture9* textures[2] = {};
    IDirect3DSurface9* surfaces[2] = {};
    for (int i = 0; i < 2; ++i) {
        d->CreateTexture(SIZE, SIZE, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                         &textures[i], nullptr);
        textures[i]->GetSurfaceLevel(0, &surfaces[i]);
    }
    IDirect3DSurface9* backBuffer = nullptr;
    d->GetRenderTarget(0, &backBuffer);
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END()};
    IDirect3DVertexDeclaration9* declaration = nullptr;
    d->CreateVertexDeclaration(elements, &declaration);
    IDirect3DVertexShader9* vertexShader = nullptr;
    d->CreateVertexShader(tessivane::shaders::metaballVertexShader(1).data(), &vertexShader);
    IDirect3DPixelShader9* pixelShader = nullptr;
    d->CreatePixelShader(tessivane::shaders::metaballPixelShader(1).data(), &pixelShader);
    if (declaration == nullptr || vertexShader == nullptr || pixelShader == nullptr) {
        state.SkipWithError("the shaders were refused");
        return;
    }
    d->SetVertexDeclaration(declaration);
    d->SetVertexShader(vertexShader);
    d->SetPixelShader(pixelShader);
    for (DWORD s = 0; s < 4; ++s) {
        d->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    }
    const float weights[4][4] = {{0.5f, 0.5f, 0.5f, 0.5f},
                                 {0.25f, 0.25f, 0.25f, 0.25f},
                                 {0.125f, 0.125f, 0.125f, 0.125f},
                                 {0.0625f, 0.0625f, 0.0625f, 0.0625f}};
    d->SetPixelShaderConstantF(0, &weights[0][0], 4);
    const float direction[4] = {1.0f, 1.0f, 0.0f, 0.0f};
    d->SetVertexShaderConstantF(1, direction, 1);
    struct Vertex {
        float x, y, z, u, v;
    };
    const Vertex quad[4] = {{-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}};
    d->SetRenderTarget(0, surfaces[0]);
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF806040, 1.0f, 0);
    for (auto _ : state) {
        float reach = 1.0f;
        for (int pass = 0; pass < 4; ++pass) {
            reach *= 4.0f;
            const float distances[4] = {0.0f, reach / SIZE, 2.0f * reach / SIZE,
                                        3.0f * reach / SIZE};
            d->SetVertexShaderConstantF(0, distances, 1);
            d->SetRenderTarget(0, surfaces[(pass + 1) % 2]);
            d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
            for (DWORD s = 0; s < 4; ++s) {
                d->SetTexture(s, textures[pass % 2]);
            }
            d->BeginScene();
            d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
            d->EndScene();
            for (DWORD s = 0; s < 4; ++s) {
                d->SetTexture(s, nullptr);
            }
        }
        d->SetRenderTarget(0, backBuffer); // waits for the last pass
    }
    state.counters["taps"] =
        benchmark::Counter(4.0 * 4.0 * SIZE * SIZE, benchmark::Counter::kIsIterationInvariantRate);
    d->SetVertexShader(nullptr);
    d->SetPixelShader(nullptr);
    d->SetVertexDeclaration(nullptr);
    pixelShader->Release();
    vertexShader->Release();
    declaration->Release();
    backBuffer->Release();
    for (int i = 0; i < 2; ++i) {
        surfaces[i]->Release();
        textures[i]->Release();
    }
}
BENCHMARK(BM_StreakTaps)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
