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

struct IDirect3DDevice9;

// What every device resource has.
struct IDirect3DResource9 : IUnknown {
    // The device that created the resource, with a reference for the caller.
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual D3DRESOURCETYPE GetType() = 0;

protected:
    ~IDirect3DResource9() = default;
};

// A 2D array of pixels: a level of a texture, or the back buffer. A level of a texture shares
// the texture's reference count: holding the surface keeps the whole texture alive.
struct IDirect3DSurface9 : IDirect3DResource9 {
    virtual HRESULT GetDesc(D3DSURFACE_DESC* pDesc) = 0;
    // Maps the surface (or pRect of it, null for all) for the CPU until UnlockRect. Only
    // managed and system-memory surfaces can be locked, one lock at a time.
    virtual HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) = 0;
    virtual HRESULT UnlockRect() = 0;
    // A device context drawing onto the surface, which counts as locked until ReleaseDC.
    // Only X8R8G8B8 surfaces outside the default pool, not locked, one context at a time.
    virtual HRESULT GetDC(HDC* phdc) = 0;
    virtual HRESULT ReleaseDC(HDC hdc) = 0;

protected:
    ~IDirect3DSurface9() = default;
};

struct IDirect3DBaseTexture9 : IDirect3DResource9 {
    virtual DWORD GetLevelCount() = 0;

protected:
    ~IDirect3DBaseTexture9() = default;
};

// A 2D texture with its chain of levels, level 0 the largest. Rows of a locked level are
// exactly width x bytes per texel apart.
struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
    virtual HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) = 0;
    // The level's surface, with a reference (on the texture) for the caller.
    virtual HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) = 0;
    // As IDirect3DSurface9::LockRect on the given level.
    virtual HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                             DWORD Flags) = 0;
    virtual HRESULT UnlockRect(UINT Level) = 0;

protected:
    ~IDirect3DTexture9() = default;
};

struct IDirect3DVertexBuffer9 : IDirect3DResource9 {
    // Maps SizeToLock bytes from OffsetToLock (0 and 0: the whole buffer) for the CPU. What
    // is written is what later draws read.
    virtual HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) = 0;

protected:
    ~IDirect3DVertexBuffer9() = default;
};

// The layout of a vertex for shaders (and for the fixed-function stage where it matches a
// flexible vertex format): elements in stream 0.
struct IDirect3DVertexDeclaration9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    // The elements, end marker included. With pElement null only *pNumElements is set.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) = 0;

protected:
    ~IDirect3DVertexDeclaration9() = default;
};

// A vertex shader 1.1 program.
struct IDirect3DVertexShader9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    // The token stream it was created from. With pData null only *pSizeOfData (bytes) is set.
    virtual HRESULT GetFunction(void* pData, UINT* pSizeOfData) = 0;

protected:
    ~IDirect3DVertexShader9() = default;
};

// A pixel shader 1.1..1.3 program.
struct IDirect3DPixelShader9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    // As IDirect3DVertexShader9::GetFunction.
    virtual HRESULT GetFunction(void* pData, UINT* pSizeOfData) = 0;

protected:
    ~IDirect3DPixelShader9() = default;
};

struct IDirect3DDevice9 : IUnknown {
    // ---- Frames

    // Fills the viewport (or the given rectangles within it) of the render target and/or the
    // depth buffer. z in 0..1. Asking for a stencil clear on a buffer without stencil fails.
    virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD stencil) = 0;
    // Draws are accepted only between BeginScene and EndScene.
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    // Shows the back buffer; with D3DPRESENT_INTERVAL_ONE it waits for the vertical retrace.
    // Only whole-buffer presents to the device window are supported (every argument null).
    virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                            const RGNDATA* dirtyRegion) = 0;
    virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;

    // ---- Resources

    // Levels 0 makes the full chain down to 1x1. Width and height must be powers of two.
    // Formats: L8, X8R8G8B8, A8R8G8B8 (render targets: X8R8G8B8, A8R8G8B8 in the default
    // pool). pSharedHandle must be null.
    virtual HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                                  D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture,
                                  HANDLE* pSharedHandle) = 0;
    // FVF describes the content but does not bind it: draws read the buffer through the
    // current vertex format and the stride given to SetStreamSource.
    virtual HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                       IDirect3DVertexBuffer9** ppVertexBuffer,
                                       HANDLE* pSharedHandle) = 0;
    // Only target 0. Resets the viewport to the whole of the new target.
    virtual HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) = 0;
    virtual HRESULT GetRenderTarget(DWORD RenderTargetIndex,
                                    IDirect3DSurface9** ppRenderTarget) = 0;

    // ---- Fixed-function state. Every value starts at the documented default; a value this
    // device cannot draw with is refused with D3DERR_INVALIDCALL and named once on stderr.

    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) = 0;
    virtual HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                         DWORD Value) = 0;
    virtual HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                         DWORD* pValue) = 0;
    virtual HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) = 0;
    virtual HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) = 0;
    virtual HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) = 0;
    virtual HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) = 0;
    // Directional lights only.
    virtual HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) = 0;
    virtual HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) = 0;
    // Enabling a light that was never set gives it the default: white, directional, (0, 0, 1).
    virtual HRESULT LightEnable(DWORD Index, BOOL Enable) = 0;
    virtual HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) = 0;
    virtual HRESULT GetMaterial(D3DMATERIAL9* pMaterial) = 0;

    // ---- Vertices and drawing

    virtual HRESULT SetFVF(DWORD FVF) = 0;
    virtual HRESULT GetFVF(DWORD* pFVF) = 0;
    virtual HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                                    UINT OffsetInBytes, UINT Stride) = 0;
    virtual HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData,
                                    UINT* pOffsetInBytes, UINT* pStride) = 0;
    // Draws from stream 0, vertices StartVertex onwards. Point, triangle list, strip and fan.
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                  UINT PrimitiveCount) = 0;
    // Draws straight from memory, which need not outlive the call; stream 0 is unbound
    // afterwards.
    virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                    const void* pVertexStreamZeroData,
                                    UINT VertexStreamZeroStride) = 0;

    // ---- Shader programs

    // Decodes a token stream that runs up to and including its end token (0x0000FFFF), once.
    // A stream this device does not understand, or that breaks the version's rules, is
    // refused with E_FAIL and never runs.
    virtual HRESULT CreateVertexShader(const DWORD* pFunction,
                                       IDirect3DVertexShader9** ppShader) = 0;
    virtual HRESULT CreatePixelShader(const DWORD* pFunction, IDirect3DPixelShader9** ppShader) = 0;
    // Null returns to the fixed-function stage. A bound shader stays bound until replaced.
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* pShader) = 0;
    virtual HRESULT GetVertexShader(IDirect3DVertexShader9** ppShader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* pShader) = 0;
    virtual HRESULT GetPixelShader(IDirect3DPixelShader9** ppShader) = 0;
    // Vector4fCount registers of four floats from StartRegister: c0..c255 for vertex shaders,
    // c0..c7 for pixel shaders. Every register starts at (0, 0, 0, 0).
    virtual HRESULT SetVertexShaderConstantF(UINT StartRegister, const float* pConstantData,
                                             UINT Vector4fCount) = 0;
    virtual HRESULT GetVertexShaderConstantF(UINT StartRegister, float* pConstantData,
                                             UINT Vector4fCount) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT StartRegister, const float* pConstantData,
                                            UINT Vector4fCount) = 0;
    virtual HRESULT GetPixelShaderConstantF(UINT StartRegister, float* pConstantData,
                                            UINT Vector4fCount) = 0;
    // Elements up to D3DDECL_END(), all in stream 0.
    virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                            IDirect3DVertexDeclaration9** ppDecl) = 0;
    // Describes the vertices of later draws; SetVertexDeclaration and SetFVF replace each
    // other.
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) = 0;
    virtual HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) = 0;

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
