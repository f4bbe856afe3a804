// The 3D device interface: the subset of the platform's 3D API the show calls, declared
// with the platform's own names and values. Implementations live behind it: the reference
// (software) device in soft/, hardware devices later.
//
// Objects are reference counted: every interface pointer handed out carries one reference,
// and Release drops it; the object goes away with its last reference.
#pragma once

#include "platform/win_types.h"

namespace tessivane::platform {

inline constexpr UINT D3D_SDK_VERSION = 31;
inline constexpr UINT D3DADAPTER_DEFAULT = 0;

inline constexpr HRESULT D3D_OK = S_OK;
inline constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
inline constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
inline constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);

enum D3DFORMAT : DWORD {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_R8G8B8 = 20,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_R5G6B5 = 23,
    D3DFMT_X1R5G5B5 = 24,
    D3DFMT_L8 = 50,
    D3DFMT_D16_LOCKABLE = 70,
    D3DFMT_D16 = 80,
};

enum D3DDEVTYPE : DWORD {
    D3DDEVTYPE_HAL = 1,
    D3DDEVTYPE_REF = 2,
};

inline constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
inline constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;

enum D3DMULTISAMPLE_TYPE : DWORD { D3DMULTISAMPLE_NONE = 0 };

enum D3DSWAPEFFECT : DWORD {
    D3DSWAPEFFECT_DISCARD = 1,
    D3DSWAPEFFECT_FLIP = 2,
    D3DSWAPEFFECT_COPY = 3,
};

inline constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0;
inline constexpr UINT D3DPRESENT_INTERVAL_ONE = 1;
inline constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

inline constexpr DWORD D3DCLEAR_TARGET = 0x1;
inline constexpr DWORD D3DCLEAR_ZBUFFER = 0x2;
inline constexpr DWORD D3DCLEAR_STENCIL = 0x4;

using D3DCOLOR = DWORD; // 0xAARRGGBB

struct D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount; // 0 is taken as 1
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow; // null: the focus window
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

struct D3DRECT {
    LONG x1;
    LONG y1;
    LONG x2;
    LONG y2;
};

struct D3DVIEWPORT9 {
    DWORD X;
    DWORD Y;
    DWORD Width;
    DWORD Height;
    float MinZ;
    float MaxZ;
};

struct IUnknown {
    virtual ULONG AddRef() = 0;
    // Drops one reference; returns how many are left.
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IDirect3DDevice9 : IUnknown {
    // Fills the viewport (or the given rectangles within it) of the render target and/or the
    // depth buffer. z in 0..1. Asking for a stencil clear on a buffer without stencil fails.
    virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    // Shows the back buffer; with D3DPRESENT_INTERVAL_ONE it waits for the vertical retrace.
    // Only whole-buffer presents to the device window are supported (every argument null).
    virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                            const RGNDATA* dirtyRegion) = 0;
    virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;

protected:
    ~IDirect3DDevice9() = default;
};

struct IDirect3D9 : IUnknown {
    // The desktop's current mode. Fails when there is no display to ask.
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    // Creates a device presenting to focusWindow. D3DDEVTYPE_HAL gives a hardware device,
    // D3DDEVTYPE_REF the reference device; which of them exist depends on the machine and on
    // the platform's device choice. Fails with D3DERR_NOTAVAILABLE when the type is missing.
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                                 DWORD behaviorFlags, D3DPRESENT_PARAMETERS* presentationParameters,
                                 IDirect3DDevice9** returnedDevice) = 0;

protected:
    ~IDirect3D9() = default;
};

// Null when sdkVersion is not the one this interface was declared for (31).
IDirect3D9* Direct3DCreate9(UINT sdkVersion);

} // namespace tessivane::platform
