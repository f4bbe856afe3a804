// A headless reference device for tests, and the vertex layouts and helpers they draw with.
#pragma once

#include "platform/d3d9.h"
#include "platform/platform.h"
#include "platform/soft/soft_device.h"
#include "platform/window.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tessivane::platform::testing {

struct ScreenVertex { // D3DFVF_XYZRHW | D3DFVF_TEX1
    float x, y, z, rhw;
    float u, v;
};
inline constexpr DWORD SCREEN_FVF = D3DFVF_XYZRHW | D3DFVF_TEX1;

struct ColorScreenVertex { // D3DFVF_XYZRHW | D3DFVF_DIFFUSE
    float x, y, z, rhw;
    D3DCOLOR color;
};
inline constexpr DWORD COLOR_SCREEN_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

struct LitVertex { // D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR color;
};
static_assert(sizeof(LitVertex) == 28);
inline constexpr DWORD LIT_FVF = 0x52;

struct QuadVertex { // D3DFVF_XYZ | D3DFVF_TEX1
    float x, y, z;
    float u, v;
};
static_assert(sizeof(QuadVertex) == 20);
inline constexpr DWORD QUAD_FVF = 0x102;

inline LRESULT quietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

inline D3DPRESENT_PARAMETERS showParameters() {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return p;
}

inline DWORD floatBits(float f) {
    DWORD bits;
    static_assert(sizeof bits == sizeof f);
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

inline D3DMATRIX identityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// The show's projection: w is the view depth (m34 = 1, m44 = 0).
inline D3DMATRIX wFriendlyProjection() {
    D3DMATRIX m{};
    m._11 = 1.81066f;
    m._22 = 2.41421f;
    m._33 = 1.001f;
    m._34 = 1.0f;
    m._43 = -1.001f;
    return m;
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = quietProc;
        windowClass.lpszClassName = "device-test";
        RegisterClassExA(&windowClass);
    }
    void TearDown() override {
        releaseDevice();
        shutdownPlatform();
        window = nullptr;
    }

    // A headless 640x480 reference device drawing with the given number of threads.
    IDirect3DDevice9* create(unsigned threads = 0, D3DPRESENT_PARAMETERS p = showParameters()) {
        PlatformConfig config;
        config.headless = true;
        config.renderThreads = threads;
        configurePlatform(config);
        if (window == nullptr) {
            window = CreateWindowExA(0, "device-test", "t", 0, 0, 0, 640, 480, nullptr, nullptr,
                                     nullptr, nullptr);
        }
        direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        EXPECT_NE(direct3d, nullptr);
        EXPECT_EQ(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, window,
                                         D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device),
                  D3D_OK);
        return device;
    }

    void releaseDevice() {
        if (device != nullptr) {
            EXPECT_EQ(device->Release(), 0u);
            device = nullptr;
        }
        if (direct3d != nullptr) {
            EXPECT_EQ(direct3d->Release(), 0u);
            direct3d = nullptr;
        }
    }

    soft::SoftDevice* soft() const { return static_cast<soft::SoftDevice*>(device); }

    std::uint32_t pixel(int x, int y) const { return soft()->backBufferPixels()[y * 640 + x]; }

    std::vector<std::uint32_t> frame() const {
        const std::uint32_t* p = soft()->backBufferPixels();
        return std::vector<std::uint32_t>(p, p + 640 * 480);
    }

    // A managed texture whose level 0 is filled from texels (row by row, one word or byte per
    // texel as the format stores it).
    IDirect3DTexture9* texture(UINT width, UINT height, D3DFORMAT format,
                               const std::vector<std::uint32_t>& texels) {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &t, nullptr),
                  D3D_OK);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(t->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (UINT y = 0; y < height; ++y) {
            auto* row = static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch;
            for (UINT x = 0; x < width; ++x) {
                const std::uint32_t v = texels[y * width + x];
                if (format == D3DFMT_L8) {
                    row[x] = static_cast<std::uint8_t>(v);
                } else {
                    std::memcpy(row + 4 * x, &v, 4);
                }
            }
        }
        t->UnlockRect(0);
        return t;
    }

    // Draws an axis-aligned pre-transformed quad from (x0, y0) to (x1, y1) with u, v running
    // 0..1 across it, as a two-triangle strip.
    void drawScreenQuad(float x0, float y0, float x1, float y1, float z = 0.0f) {
        const ScreenVertex quad[4] = {
            {x0, y0, z, 1, 0, 0}, {x1, y0, z, 1, 1, 0}, {x0, y1, z, 1, 0, 1}, {x1, y1, z, 1, 1, 1}};
        device->SetFVF(SCREEN_FVF);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex)),
                  D3D_OK);
    }

    void drawColorQuad(float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.0f) {
        const ColorScreenVertex quad[4] = {{x0, y0, z, 1, color},
                                           {x1, y0, z, 1, color},
                                           {x0, y1, z, 1, color},
                                           {x1, y1, z, 1, color}};
        device->SetFVF(COLOR_SCREEN_FVF);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]), D3D_OK);
    }

    // Writes the back buffer as a PPM into $TESSIVANE_TEST_IMAGES, when that is set, for a
    // person to look at.
    void dump(const char* name) const {
        const char* dir = std::getenv("TESSIVANE_TEST_IMAGES");
        if (dir == nullptr) {
            return;
        }
        const std::string path = std::string(dir) + "/" + name + ".ppm";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            return;
        }
        std::fprintf(f, "P6\n640 480\n255\n");
        for (const std::uint32_t p : frame()) {
            const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                          static_cast<unsigned char>(p >> 8),
                                          static_cast<unsigned char>(p)};
            std::fwrite(rgb, 1, 3, f);
        }
        std::fclose(f);
    }

    HWND window = nullptr;
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};

inline int red(std::uint32_t p) {
    return (p >> 16) & 0xFF;
}
inline int green(std::uint32_t p) {
    return (p >> 8) & 0xFF;
}
inline int blue(std::uint32_t p) {
    return p & 0xFF;
}

} // namespace tessivane::platform::testing
