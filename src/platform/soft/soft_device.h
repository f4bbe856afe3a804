// The reference device: the 3D device drawn entirely in software, deterministic and
// independent of any GPU. It renders into a 32-bit back buffer with a 16-bit depth buffer
// and hands each finished frame to its window.
#pragma once

#include "platform/d3d9.h"
#include "platform/ref_counted.h"

#include <cstdint>
#include <vector>

namespace tessivane::platform::soft {

class SoftDevice final : public RefCounted<IDirect3DDevice9> {
public:
    // Validates the presentation parameters as the real device does; the device keeps a
    // reference to owner for its lifetime.
    static HRESULT create(IDirect3D9* owner, HWND window, const D3DPRESENT_PARAMETERS& parameters,
                          IDirect3DDevice9** device);

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;

    // The back buffer as it stands: width x height X8R8G8B8 words, top row first.
    const std::uint32_t* backBufferPixels() const { return color_.data(); }

private:
    SoftDevice(IDirect3D9* owner, HWND window, const D3DPRESENT_PARAMETERS& parameters);
    ~SoftDevice() override;

    void clearRect(DWORD flags, D3DCOLOR color, std::uint16_t depth, LONG x1, LONG y1, LONG x2,
                   LONG y2);

    IDirect3D9* owner_;
    HWND window_;
    D3DPRESENT_PARAMETERS parameters_;
    int width_;
    int height_;
    std::vector<std::uint32_t> color_;
    std::vector<std::uint16_t> depth_; // empty when the device has no depth buffer
    D3DVIEWPORT9 viewport_;
    bool inScene_ = false;
};

} // namespace tessivane::platform::soft
