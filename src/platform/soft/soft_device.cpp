#include "platform/soft/soft_device.h"

#include "platform/window_internal.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace tessivane::platform::soft {

namespace {

bool isValidDepthFormat(D3DFORMAT format) {
    return format == D3DFMT_D16 || format == D3DFMT_D16_LOCKABLE;
}

// D16 holds unsigned normalised depth: 0..1 maps to 0..65535, rounded to nearest.
std::uint16_t quantiseDepth(float z) {
    return static_cast<std::uint16_t>(std::lround(static_cast<double>(z) * 65535.0));
}

} // namespace

HRESULT SoftDevice::create(IDirect3D9* owner, HWND window, const D3DPRESENT_PARAMETERS& p,
                           IDirect3DDevice9** device) {
    const bool formatOk = p.BackBufferFormat == D3DFMT_X8R8G8B8 ||
                          (p.Windowed && p.BackBufferFormat == D3DFMT_UNKNOWN);
    const bool sizeOk = p.BackBufferWidth > 0 && p.BackBufferHeight > 0 &&
                        p.BackBufferWidth <= 4096 && p.BackBufferHeight <= 4096;
    const bool depthOk = !p.EnableAutoDepthStencil || isValidDepthFormat(p.AutoDepthStencilFormat);
    const bool swapOk = p.SwapEffect >= D3DSWAPEFFECT_DISCARD && p.SwapEffect <= D3DSWAPEFFECT_COPY;
    const bool intervalOk = p.PresentationInterval == D3DPRESENT_INTERVAL_DEFAULT ||
                            p.PresentationInterval == D3DPRESENT_INTERVAL_ONE ||
                            p.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE;
    if (!formatOk || !sizeOk || !depthOk || !swapOk || !intervalOk ||
        p.MultiSampleType != D3DMULTISAMPLE_NONE || p.BackBufferCount > 1) {
        if (!formatOk) {
            detail::reportUnsupported("a back-buffer format other than X8R8G8B8");
        } else if (p.MultiSampleType != D3DMULTISAMPLE_NONE) {
            detail::reportUnsupported("multisampling");
        } else if (p.BackBufferCount > 1) {
            detail::reportUnsupported("more than one back buffer");
        }
        detail::setLastError("the reference device refused the presentation parameters");
        return D3DERR_INVALIDCALL;
    }
    auto* created = new (std::nothrow) SoftDevice(owner, window, p);
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    *device = created;
    return D3D_OK;
}

SoftDevice::SoftDevice(IDirect3D9* owner, HWND window, const D3DPRESENT_PARAMETERS& parameters)
    : owner_(owner), window_(window), parameters_(parameters),
      width_(static_cast<int>(parameters.BackBufferWidth)),
      height_(static_cast<int>(parameters.BackBufferHeight)),
      color_(static_cast<std::size_t>(width_) * height_, 0u),
      viewport_{0, 0, parameters.BackBufferWidth, parameters.BackBufferHeight, 0.0f, 1.0f} {
    if (parameters.EnableAutoDepthStencil) {
        depth_.assign(color_.size(), 0xFFFF);
    }
    owner_->AddRef();
}

SoftDevice::~SoftDevice() {
    owner_->Release();
}

HRESULT SoftDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD) {
    const DWORD known = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
    if (flags == 0 || (flags & ~known) != 0 || (count != 0) != (rects != nullptr)) {
        return D3DERR_INVALIDCALL;
    }
    // D16 has no stencil bits, and asking to clear them fails the whole call.
    if ((flags & D3DCLEAR_STENCIL) || ((flags & D3DCLEAR_ZBUFFER) && depth_.empty())) {
        return D3DERR_INVALIDCALL;
    }
    if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f)) {
        return D3DERR_INVALIDCALL;
    }
    const std::uint16_t depth = quantiseDepth(z);
    const LONG vx1 = static_cast<LONG>(viewport_.X);
    const LONG vy1 = static_cast<LONG>(viewport_.Y);
    const LONG vx2 = vx1 + static_cast<LONG>(viewport_.Width);
    const LONG vy2 = vy1 + static_cast<LONG>(viewport_.Height);
    if (count == 0) {
        clearRect(flags, color, depth, vx1, vy1, vx2, vy2);
        return D3D_OK;
    }
    // Rectangles are clipped to the viewport.
    for (DWORD i = 0; i < count; ++i) {
        clearRect(flags, color, depth, std::max(rects[i].x1, vx1), std::max(rects[i].y1, vy1),
                  std::min(rects[i].x2, vx2), std::min(rects[i].y2, vy2));
    }
    return D3D_OK;
}

void SoftDevice::clearRect(DWORD flags, D3DCOLOR color, std::uint16_t depth, LONG x1, LONG y1,
                           LONG x2, LONG y2) {
    if (x1 >= x2 || y1 >= y2) {
        return;
    }
    for (LONG y = y1; y < y2; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * width_;
        if (flags & D3DCLEAR_TARGET) {
            std::fill(color_.begin() + row + x1, color_.begin() + row + x2, color);
        }
        if (flags & D3DCLEAR_ZBUFFER) {
            std::fill(depth_.begin() + row + x1, depth_.begin() + row + x2, depth);
        }
    }
}

HRESULT SoftDevice::BeginScene() {
    if (inScene_) {
        return D3DERR_INVALIDCALL;
    }
    inScene_ = true;
    return D3D_OK;
}

HRESULT SoftDevice::EndScene() {
    if (!inScene_) {
        return D3DERR_INVALIDCALL;
    }
    inScene_ = false;
    return D3D_OK;
}

HRESULT SoftDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                            const RGNDATA* dirtyRegion) {
    if (sourceRect != nullptr || destRect != nullptr || destWindowOverride != nullptr ||
        dirtyRegion != nullptr) {
        detail::reportUnsupported("a partial present or a present to another window");
        return D3DERR_INVALIDCALL;
    }
    detail::Display* display = detail::windowDisplay(window_);
    if (display != nullptr) {
        const bool wait = parameters_.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE;
        display->present(color_.data(), width_, height_, wait);
    }
    return D3D_OK;
}

HRESULT SoftDevice::SetViewport(const D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    const auto right = static_cast<std::uint64_t>(viewport->X) + viewport->Width;
    const auto bottom = static_cast<std::uint64_t>(viewport->Y) + viewport->Height;
    const bool depthRangeOk = viewport->MinZ >= 0.0f && viewport->MinZ <= 1.0f &&
                              viewport->MaxZ >= 0.0f && viewport->MaxZ <= 1.0f;
    if (viewport->Width == 0 || viewport->Height == 0 || right > static_cast<unsigned>(width_) ||
        bottom > static_cast<unsigned>(height_) || !depthRangeOk) {
        return D3DERR_INVALIDCALL;
    }
    viewport_ = *viewport;
    return D3D_OK;
}

HRESULT SoftDevice::GetViewport(D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *viewport = viewport_;
    return D3D_OK;
}

} // namespace tessivane::platform::soft
