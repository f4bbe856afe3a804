#include "platform/d3d9.h"
#include "platform/platform.h"
#include "platform/soft/soft_device.h"
#include "platform/timer.h"
#include "platform/window.h"

#include <gtest/gtest.h>

namespace tessivane::platform {
namespace {

LRESULT quietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

D3DPRESENT_PARAMETERS showParameters() {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    p.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    return p;
}

class ReferenceDevice : public ::testing::Test {
protected:
    void SetUp() override {
        PlatformConfig config;
        config.headless = true;
        configurePlatform(config);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = quietProc;
        windowClass.lpszClassName = "device-test";
        RegisterClassExA(&windowClass);
        window = CreateWindowExA(0, "device-test", "t", 0, 0, 0, 640, 480, nullptr, nullptr,
                                 nullptr, nullptr);
        direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(direct3d, nullptr);
    }
    void TearDown() override {
        if (device != nullptr) {
            EXPECT_EQ(device->Release(), 0u);
        }
        EXPECT_EQ(direct3d->Release(), 0u);
        shutdownPlatform();
    }

    HRESULT create(D3DPRESENT_PARAMETERS p = showParameters(), D3DDEVTYPE type = D3DDEVTYPE_REF) {
        return direct3d->CreateDevice(D3DADAPTER_DEFAULT, type, window,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &device);
    }

    std::uint32_t pixel(int x, int y) const {
        return static_cast<soft::SoftDevice*>(device)->backBufferPixels()[y * 640 + x];
    }

    HWND window = nullptr;
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};

TEST_F(ReferenceDevice, CreationFollowsTheDeviceTypeAndParameters) {
    EXPECT_EQ(Direct3DCreate9(32), nullptr);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(direct3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);

    EXPECT_EQ(create(showParameters(), D3DDEVTYPE_HAL), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(device, nullptr);
    D3DPRESENT_PARAMETERS badFormat = showParameters();
    badFormat.BackBufferFormat = D3DFMT_L8;
    EXPECT_EQ(create(badFormat), D3DERR_INVALIDCALL);
    D3DPRESENT_PARAMETERS badDepth = showParameters();
    badDepth.AutoDepthStencilFormat = D3DFMT_X8R8G8B8;
    EXPECT_EQ(create(badDepth), D3DERR_INVALIDCALL);
    EXPECT_EQ(device, nullptr);

    IDirect3DDevice9* noWindow = nullptr;
    D3DPRESENT_PARAMETERS p = showParameters();
    EXPECT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &noWindow),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_REF, window, 0, &p, &noWindow),
              D3DERR_INVALIDCALL);

    ASSERT_EQ(create(), D3D_OK);
    // The device holds the interface: one more reference than the caller's.
    EXPECT_EQ(direct3d->AddRef(), 3u);
    EXPECT_EQ(direct3d->Release(), 2u);
}

TEST_F(ReferenceDevice, ClearFillsTheViewportWithTheColour) {
    ASSERT_EQ(create(), D3D_OK);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF777777, 1.0f, 0),
              D3D_OK);
    EXPECT_EQ(pixel(0, 0), 0xFF777777u);
    EXPECT_EQ(pixel(639, 479), 0xFF777777u);

    D3DVIEWPORT9 viewport{10, 20, 30, 40, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&viewport), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(pixel(10, 20), 0xFF000000u);
    EXPECT_EQ(pixel(39, 59), 0xFF000000u);
    EXPECT_EQ(pixel(40, 59), 0xFF777777u);
    EXPECT_EQ(pixel(39, 60), 0xFF777777u);
    EXPECT_EQ(pixel(9, 20), 0xFF777777u);

    // Rectangles are clipped to the viewport.
    const D3DRECT rect{0, 0, 15, 25};
    ASSERT_EQ(device->Clear(1, &rect, D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0), D3D_OK);
    EXPECT_EQ(pixel(14, 24), 0xFF123456u);
    EXPECT_EQ(pixel(9, 24), 0xFF777777u);
    EXPECT_EQ(pixel(15, 24), 0xFF000000u);
}

TEST_F(ReferenceDevice, ClearRefusesWhatTheBuffersCannotTake) {
    ASSERT_EQ(create(), D3D_OK);
    // D16 has no stencil: asking for it fails the whole call and clears nothing.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL,
                            0xFFFF0000, 1.0f, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(pixel(5, 5), 0xFF00FF00u);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, 0, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);

    D3DPRESENT_PARAMETERS noDepth = showParameters();
    noDepth.EnableAutoDepthStencil = FALSE;
    IDirect3DDevice9* flat = nullptr;
    ASSERT_EQ(direct3d->CreateDevice(0, D3DDEVTYPE_REF, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                     &noDepth, &flat),
              D3D_OK);
    EXPECT_EQ(flat->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(flat->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    flat->Release();
}

TEST_F(ReferenceDevice, ScenesPairAndViewportsStayInsideTheTarget) {
    ASSERT_EQ(create(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3D_OK);

    D3DVIEWPORT9 v{};
    ASSERT_EQ(device->GetViewport(&v), D3D_OK);
    EXPECT_EQ(v.Width, 640u);
    EXPECT_EQ(v.Height, 480u);
    EXPECT_EQ(v.MaxZ, 1.0f);
    D3DVIEWPORT9 tooWide{600, 0, 41, 480, 0.0f, 1.0f};
    EXPECT_EQ(device->SetViewport(&tooWide), D3DERR_INVALIDCALL);
    D3DVIEWPORT9 badDepth{0, 0, 640, 480, 0.0f, 2.0f};
    EXPECT_EQ(device->SetViewport(&badDepth), D3DERR_INVALIDCALL);
}

TEST_F(ReferenceDevice, PresentWaitsForTheRetraceUnlessImmediate) {
    VirtualClock clock(60);
    setClock(&clock);
    ASSERT_EQ(create(), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(clock.now(), 16u);
    RECT partial{0, 0, 1, 1};
    EXPECT_EQ(device->Present(&partial, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    device->Release();

    D3DPRESENT_PARAMETERS immediate = showParameters();
    immediate.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    ASSERT_EQ(create(immediate), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(clock.now(), 16u);
    setClock(nullptr);
}

} // namespace
} // namespace tessivane::platform
