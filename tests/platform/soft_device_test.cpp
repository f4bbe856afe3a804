#include "platform/d3d9.h"
#include "platform/platform.h"
#include "platform/soft/soft_device.h"
#include "platform/surface_memory.h"
#include "platform/timer.h"
#include "platform/window.h"

#include <cstring>
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

TEST_F(ReferenceDevice, TexturesHaveFullChainsAndExactPitches) {
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 0, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 9u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(8, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(desc.Format, D3DFMT_L8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(texture->GetLevelDesc(9, &desc), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 256);
    // New textures start out zeroed, and a level is one contiguous block.
    const auto* bytes = static_cast<const std::uint8_t*>(locked.pBits);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[65535], 0);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL); // already locked
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    // A sub-rectangle starts at its corner of the same rows.
    const RECT corner{8, 2, 16, 4};
    ASSERT_EQ(texture->LockRect(1, &locked, &corner, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 128);
    texture->UnlockRect(1);
    texture->Release();

    ASSERT_EQ(
        device->CreateTexture(256, 256, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3D_OK);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 1024);
    texture->UnlockRect(0);
    texture->Release();
}

TEST_F(ReferenceDevice, TextureCreationRefusesWhatTheDeviceCannotUse) {
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(100, 64, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(64, 64, 8, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL); // a 64x64 chain has 7 levels
    EXPECT_EQ(
        device->CreateTexture(64, 64, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &texture, nullptr),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                    D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL); // render targets live in the default pool
    EXPECT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_L8, D3DPOOL_DEFAULT,
                                    &texture, nullptr),
              D3DERR_INVALIDCALL);
    HANDLE shared = nullptr;
    EXPECT_EQ(device->CreateTexture(64, 64, 1, 0, D3DFMT_L8, D3DPOOL_MANAGED, &texture, &shared),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
}

TEST_F(ReferenceDevice, SurfacesShareTheirTexturesReferenceCount) {
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 0, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                    D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &surface), D3D_OK);
    EXPECT_EQ(surface->AddRef(), 3u);
    EXPECT_EQ(surface->Release(), 2u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);
    EXPECT_EQ(desc.Width, 256u);
    // Default-pool targets belong to the device: the CPU cannot lock them.
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(surface->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);
    // Releasing the texture first leaves it alive through its surface, as the show's
    // teardown does; the surface's release frees both.
    EXPECT_EQ(texture->Release(), 1u);
    EXPECT_EQ(surface->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(surface->Release(), 0u);
    // Every resource knows its device.
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, 0, 0x52, D3DPOOL_DEFAULT, &buffer, nullptr), D3D_OK);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(buffer->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device);
    owner->Release();
    buffer->Release();
}

TEST_F(ReferenceDevice, VertexBuffersLockWithinTheirLength) {
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DVertexBuffer9* buffer = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(20, 0, 0x52, D3DPOOL_DEFAULT, &buffer, nullptr),
              D3DERR_INVALIDCALL); // not room for one 28-byte vertex
    ASSERT_EQ(device->CreateVertexBuffer(64512, 0, 0x52, D3DPOOL_DEFAULT, &buffer, nullptr),
              D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    EXPECT_NE(data, nullptr);
    void* part = nullptr;
    EXPECT_EQ(buffer->Lock(64500, 12, &part, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::uint8_t*>(part) - static_cast<std::uint8_t*>(data), 64500);
    EXPECT_EQ(buffer->Lock(64500, 13, &part, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Lock(64512, 0, &part, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
    D3DVERTEXBUFFER_DESC desc{};
    ASSERT_EQ(buffer->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, 64512u);
    EXPECT_EQ(desc.FVF, 0x52u);
    buffer->Release();
}

TEST_F(ReferenceDevice, StatesStartAtTheirDocumentedDefaults) {
    ASSERT_EQ(create(), D3D_OK);
    auto render = [this](D3DRENDERSTATETYPE state) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(device->GetRenderState(state, &value), D3D_OK);
        return value;
    };
    EXPECT_EQ(render(D3DRS_ZENABLE), DWORD(D3DZB_TRUE)); // the device has a depth buffer
    EXPECT_EQ(render(D3DRS_ZFUNC), DWORD(D3DCMP_LESSEQUAL));
    EXPECT_EQ(render(D3DRS_ZWRITEENABLE), DWORD(TRUE));
    EXPECT_EQ(render(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));
    EXPECT_EQ(render(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
    EXPECT_EQ(render(D3DRS_DESTBLEND), DWORD(D3DBLEND_ZERO));
    EXPECT_EQ(render(D3DRS_LIGHTING), DWORD(TRUE));
    EXPECT_EQ(render(D3DRS_FOGDENSITY), 0x3F800000u); // 1.0
    EXPECT_EQ(render(D3DRS_POINTSIZE), 0x3F800000u);  // 1.0, not 64
    EXPECT_EQ(render(D3DRS_DIFFUSEMATERIALSOURCE), DWORD(D3DMCS_COLOR1));
    EXPECT_EQ(render(D3DRS_COLORWRITEENABLE), 0xFu);
    auto stage = [this](DWORD s, D3DTEXTURESTAGESTATETYPE type) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(device->GetTextureStageState(s, type, &value), D3D_OK);
        return value;
    };
    EXPECT_EQ(stage(0, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
    EXPECT_EQ(stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
    EXPECT_EQ(stage(0, D3DTSS_ALPHAOP), DWORD(D3DTOP_SELECTARG1));
    EXPECT_EQ(stage(0, D3DTSS_ALPHAARG1), D3DTA_TEXTURE);
    EXPECT_EQ(stage(3, D3DTSS_TEXCOORDINDEX), 3u);
    DWORD value = 0;
    EXPECT_EQ(device->GetSamplerState(2, D3DSAMP_MAGFILTER, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTEXF_POINT));
    EXPECT_EQ(device->GetSamplerState(2, D3DSAMP_ADDRESSU, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_WRAP));
    D3DMATRIX m{};
    ASSERT_EQ(device->GetTransform(D3DTS_PROJECTION, &m), D3D_OK);
    EXPECT_EQ(m._11, 1.0f);
    EXPECT_EQ(m._34, 0.0f);
    D3DMATERIAL9 material{};
    material.Power = 7.0f;
    ASSERT_EQ(device->GetMaterial(&material), D3D_OK);
    EXPECT_EQ(material.Power, 0.0f);
}

TEST_F(ReferenceDevice, UnsupportedStateValuesAreRefusedAndKeepTheOldValue) {
    ASSERT_EQ(create(), D3D_OK);
    EXPECT_EQ(device->SetRenderState(D3DRS_STENCILENABLE, TRUE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_MAX), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(250), 0), D3DERR_INVALIDCALL);
    DWORD value = 0;
    ASSERT_EQ(device->GetRenderState(D3DRS_SRCBLEND, &value), D3D_OK);
    EXPECT_EQ(value, DWORD(D3DBLEND_ONE));
    EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DOTPRODUCT3),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_DISABLE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetFVF(D3DFVF_XYZ | D3DFVF_PSIZE), D3DERR_INVALIDCALL);
    // What the show sets is taken.
    EXPECT_EQ(device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP), D3D_OK);
    EXPECT_EQ(device->SetRenderState(D3DRS_FOGDENSITY, 0x3E99999A), D3D_OK); // 0.3
    EXPECT_EQ(device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVSRCCOLOR), D3D_OK);
    EXPECT_EQ(device->SetSamplerState(3, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP), D3D_OK);
    EXPECT_EQ(device->SetFVF(0x152), D3D_OK);
}

TEST_F(ReferenceDevice, SettingARenderTargetResetsTheViewport) {
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &backBuffer), D3D_OK);
    D3DSURFACE_DESC desc{};
    backBuffer->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 640u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);

    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 0, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                    D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9* target = nullptr;
    texture->GetSurfaceLevel(0, &target);
    D3DVIEWPORT9 small{10, 10, 20, 20, 0.0f, 1.0f};
    device->SetViewport(&small);
    ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
    D3DVIEWPORT9 v{};
    device->GetViewport(&v);
    EXPECT_EQ(v.X, 0u);
    EXPECT_EQ(v.Width, 256u);
    EXPECT_EQ(v.Height, 256u);
    EXPECT_EQ(v.MaxZ, 1.0f);
    // The viewport must now fit the smaller target.
    D3DVIEWPORT9 wide{0, 0, 300, 100, 0.0f, 1.0f};
    EXPECT_EQ(device->SetViewport(&wide), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->SetRenderTarget(0, backBuffer), D3D_OK);
    device->GetViewport(&v);
    EXPECT_EQ(v.Width, 640u);
    EXPECT_EQ(v.Height, 480u);

    // Only real targets, only slot 0.
    IDirect3DTexture9* plain = nullptr;
    device->CreateTexture(64, 64, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &plain, nullptr);
    IDirect3DSurface9* plainSurface = nullptr;
    plain->GetSurfaceLevel(0, &plainSurface);
    EXPECT_EQ(device->SetRenderTarget(0, plainSurface), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderTarget(1, target), D3DERR_INVALIDCALL);
    plainSurface->Release();
    plain->Release();
    target->Release();
    texture->Release();
    backBuffer->Release();
}

TEST_F(ReferenceDevice, RenderTargetTexturesAreDrawnIntoAndSampled) {
    // The off-screen pattern of the show: draw into a 256x256 target, then stretch it over
    // the back buffer with a clip-space quad.
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 0, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                    D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9* target = nullptr;
    texture->GetSurfaceLevel(0, &target);
    IDirect3DSurface9* backBuffer = nullptr;
    device->GetRenderTarget(0, &backBuffer);

    ASSERT_EQ(device->SetRenderTarget(0, target), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF336699, 1.0f, 0);
    ASSERT_EQ(device->SetRenderTarget(0, backBuffer), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    struct QuadVertex {
        float x, y, z, u, v;
    };
    const QuadVertex quad[4] = {
        {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}};
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof quad[0]), D3D_OK);
    device->EndScene();
    EXPECT_EQ(pixel(0, 0), 0xFF336699u);
    EXPECT_EQ(pixel(639, 479), 0xFF336699u);
    EXPECT_EQ(pixel(320, 200), 0xFF336699u);
    device->SetTexture(0, nullptr);
    target->Release();
    texture->Release();
    backBuffer->Release();
}

TEST_F(ReferenceDevice, DrawsAreCheckedAgainstTheirVertices) {
    ASSERT_EQ(create(), D3D_OK);
    struct Vertex {
        float x, y, z, rhw;
    };
    const Vertex points[2] = {{1, 1, 0, 1}, {2, 2, 0, 1}};
    device->SetFVF(D3DFVF_XYZRHW);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, sizeof(Vertex)),
              D3DERR_INVALIDCALL); // outside BeginScene/EndScene
    device->BeginScene();
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, sizeof(Vertex)), D3D_OK);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, 8), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, 1, points, sizeof(Vertex)),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 0, points, sizeof(Vertex)), D3D_OK);

    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(
        device->CreateVertexBuffer(3 * sizeof(Vertex), 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr),
        D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL); // no stream
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 3), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 1, 3), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);
    // Drawing from memory leaves stream 0 unbound.
    device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, points, sizeof(Vertex));
    IDirect3DVertexBuffer9* bound = buffer;
    UINT offset = 1, stride = 1;
    ASSERT_EQ(device->GetStreamSource(0, &bound, &offset, &stride), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
    device->SetFVF(0);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, points, sizeof(Vertex)),
              D3DERR_INVALIDCALL);
    device->EndScene();
    buffer->Release();
}

TEST_F(ReferenceDevice, PlatformCodeReachesSurfaceMemory) {
    ASSERT_EQ(create(), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(
        device->CreateTexture(256, 256, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    texture->GetSurfaceLevel(0, &surface);
    detail::CpuSurface* cpu = detail::cpuSurface(surface);
    ASSERT_NE(cpu, nullptr);
    detail::SurfaceMemory memory{};
    ASSERT_TRUE(cpu->take(memory));
    EXPECT_EQ(memory.pitch, 1024);
    EXPECT_EQ(memory.width, 256);
    EXPECT_EQ(memory.format, D3DFMT_X8R8G8B8);
    std::memset(memory.bits, 0xFF, 4);
    // While taken, the texture cannot be locked, nor taken twice.
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_FALSE(cpu->take(memory));
    EXPECT_TRUE(cpu->isLocked());
    cpu->giveBack();
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::uint8_t*>(locked.pBits)[3], 0xFF);
    // Another level of the texture being locked counts too.
    IDirect3DSurface9* level1 = nullptr;
    texture->GetSurfaceLevel(1, &level1);
    EXPECT_FALSE(detail::cpuSurface(level1)->take(memory));
    texture->UnlockRect(0);
    level1->Release();

    // The back buffer's memory is the finished frame: pending draws come first.
    IDirect3DSurface9* backBuffer = nullptr;
    device->GetRenderTarget(0, &backBuffer);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0A0B0C, 1.0f, 0);
    const detail::SurfaceMemory frame = detail::cpuSurface(backBuffer)->memory();
    std::uint32_t first = 0;
    std::memcpy(&first, frame.bits, 4);
    EXPECT_EQ(first, 0xFF0A0B0Cu);
    backBuffer->Release();
    surface->Release();
    texture->Release();
}

} // namespace
} // namespace tessivane::platform
