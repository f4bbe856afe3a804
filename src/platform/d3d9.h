// The 3D device interface: the subset of the platform's 3D API the show calls, declared
// with the platform's own names and values. Implementations live behind it: the reference
// (software) device in soft/, hardware devices later.
//
// Objects are reference counted: every interface pointer handed out carries one reference,
// and Release drops it; the object goes away with its last reference.
#pragma once

#include "platform/d3d9_types.h"
#include "platform/win_types.h"

namespace tessivane::platform {

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
