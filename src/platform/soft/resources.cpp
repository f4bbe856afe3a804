#include "platform/soft/resources.h"

#include "platform/gdi_internal.h"
#include "platform/soft/soft_device.h"
#include "platform/window_internal.h"

#include <atomic>
#include <cstring>
#include <new>

namespace tessivane::platform::soft {

namespace {

constexpr UINT MAX_TEXTURE_SIZE = 4096;

bool isPowerOfTwo(UINT v) {
    return v != 0 && (v & (v - 1)) == 0;
}

UINT fullChainLength(UINT width, UINT height) {
    UINT levels = 1;
    while (width > 1 || height > 1) {
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        ++levels;
    }
    return levels;
}

HRESULT lendDevice(const DeviceLinkPtr& link, IDirect3DDevice9** device) {
    if (device == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *device = link->device;
    if (*device == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    (*device)->AddRef();
    return D3D_OK;
}

} // namespace

int bytesPerPixel(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_L8:
        return 1;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8:
        return 4;
    default:
        return 0;
    }
}

// ---- SoftSurface

SoftSurface::SoftSurface(DeviceLinkPtr link, SoftTexture* container, std::uint8_t* bits, int width,
                         int height, D3DFORMAT format, DWORD usage, D3DPOOL pool)
    : link_(std::move(link)), container_(container), bits_(bits), width_(width), height_(height),
      pitch_(width * bytesPerPixel(format)), format_(format), usage_(usage), pool_(pool) {}

SoftSurface::~SoftSurface() {
    // A context still out would draw into freed memory.
    if (dc_ != nullptr) {
        detail::deleteSurfaceDC(dc_);
    }
}

SoftSurface* SoftSurface::createStandalone(DeviceLinkPtr link, UINT width, UINT height,
                                           D3DFORMAT format, DWORD usage, D3DPOOL pool) {
    auto* surface =
        new (std::nothrow) SoftSurface(std::move(link), nullptr, nullptr, static_cast<int>(width),
                                       static_cast<int>(height), format, usage, pool);
    if (surface == nullptr) {
        return nullptr;
    }
    try {
        const std::size_t bytes = static_cast<std::size_t>(surface->pitch_) * height;
        surface->own_.assign((bytes + 3) / 4, 0u);
    } catch (const std::bad_alloc&) {
        delete surface;
        return nullptr;
    }
    surface->bits_ = reinterpret_cast<std::uint8_t*>(surface->own_.data());
    return surface;
}

ULONG SoftSurface::AddRef() {
    if (container_ != nullptr) {
        return container_->AddRef();
    }
    return ++references_;
}

ULONG SoftSurface::Release() {
    if (container_ != nullptr) {
        return container_->Release();
    }
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT SoftSurface::GetDevice(IDirect3DDevice9** ppDevice) {
    return lendDevice(link_, ppDevice);
}

HRESULT SoftSurface::GetDesc(D3DSURFACE_DESC* pDesc) {
    if (pDesc == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *pDesc = D3DSURFACE_DESC{format_,
                             D3DRTYPE_SURFACE,
                             usage_,
                             pool_,
                             D3DMULTISAMPLE_NONE,
                             0,
                             static_cast<UINT>(width_),
                             static_cast<UINT>(height_)};
    return D3D_OK;
}

void SoftSurface::findRowsAlike() {
    rowsAlike_ = false;
    if (container_ == nullptr || isRenderTarget()) {
        return;
    }
    const auto rowBytes = static_cast<std::size_t>(pitch_);
    for (int y = 1; y < height_; ++y) {
        if (std::memcmp(bits_ + y * rowBytes, bits_, rowBytes) != 0) {
            return;
        }
    }
    rowsAlike_ = true;
}

void SoftSurface::finishPendingDraws() const {
    if (link_->device != nullptr) {
        link_->device->finishPendingDraws();
    }
}

void SoftSurface::finishForWrite() const {
    if (link_->device != nullptr) {
        link_->device->finishForSurfaceWrite();
    }
}

HRESULT SoftSurface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD) {
    if (pLockedRect == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    // Default-pool memory belongs to the device; only dynamic resources may be mapped.
    if (pool_ == D3DPOOL_DEFAULT && (usage_ & D3DUSAGE_DYNAMIC) == 0) {
        detail::setLastError("a default-pool surface cannot be locked");
        return D3DERR_INVALIDCALL;
    }
    if (locked_) {
        return D3DERR_INVALIDCALL;
    }
    RECT area{0, 0, width_, height_};
    if (pRect != nullptr) {
        if (pRect->left < 0 || pRect->top < 0 || pRect->left >= pRect->right ||
            pRect->top >= pRect->bottom || pRect->right > width_ || pRect->bottom > height_) {
            return D3DERR_INVALIDCALL;
        }
        area = *pRect;
    }
    finishForWrite();
    locked_ = true;
    rowsAlike_ = false;
    pLockedRect->Pitch = pitch_;
    pLockedRect->pBits = bits_ + static_cast<std::ptrdiff_t>(area.top) * pitch_ +
                         static_cast<std::ptrdiff_t>(area.left) * bytesPerPixel(format_);
    return D3D_OK;
}

HRESULT SoftSurface::UnlockRect() {
    if (!locked_) {
        return D3DERR_INVALIDCALL;
    }
    locked_ = false;
    findRowsAlike();
    return D3D_OK;
}

HRESULT SoftSurface::GetDC(HDC* phdc) {
    if (phdc == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *phdc = nullptr;
    // Text is drawn only into formats without alpha, and only into memory the CPU owns.
    if (format_ != D3DFMT_X8R8G8B8 || pool_ == D3DPOOL_DEFAULT || dc_ != nullptr) {
        return D3DERR_INVALIDCALL;
    }
    detail::SurfaceMemory memory;
    if (!take(memory)) {
        return D3DERR_INVALIDCALL;
    }
    dc_ = detail::createSurfaceDC(memory.bits, memory.width, memory.height, memory.pitch);
    *phdc = dc_;
    return D3D_OK;
}

HRESULT SoftSurface::ReleaseDC(HDC hdc) {
    if (hdc == nullptr || hdc != dc_) {
        return D3DERR_INVALIDCALL;
    }
    detail::deleteSurfaceDC(dc_);
    dc_ = nullptr;
    giveBack();
    return D3D_OK;
}

detail::SurfaceMemory SoftSurface::memory() {
    finishPendingDraws();
    return detail::SurfaceMemory{bits_, pitch_, width_, height_, format_};
}

bool SoftSurface::isLocked() {
    return container_ != nullptr ? container_->anyLevelLocked() : locked_;
}

bool SoftSurface::take(detail::SurfaceMemory& memory) {
    if (isLocked()) {
        return false;
    }
    finishForWrite();
    memory = detail::SurfaceMemory{bits_, pitch_, width_, height_, format_};
    locked_ = true;
    rowsAlike_ = false;
    return true;
}

void SoftSurface::giveBack() {
    locked_ = false;
    findRowsAlike();
}

// ---- SoftTexture

HRESULT SoftTexture::create(DeviceLinkPtr link, UINT width, UINT height, UINT levels, DWORD usage,
                            D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) {
    if (texture == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *texture = nullptr;
    if (width == 0 || height == 0 || width > MAX_TEXTURE_SIZE || height > MAX_TEXTURE_SIZE) {
        return D3DERR_INVALIDCALL;
    }
    if (!isPowerOfTwo(width) || !isPowerOfTwo(height)) {
        detail::reportUnsupported("a texture whose sides are not powers of two");
        return D3DERR_INVALIDCALL;
    }
    const UINT chain = fullChainLength(width, height);
    if (levels > chain) {
        return D3DERR_INVALIDCALL;
    }
    if (levels == 0) {
        levels = chain;
    }
    const DWORD known = D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC;
    if ((usage & ~known) != 0) {
        detail::reportUnsupported("a texture usage other than render target or dynamic");
        return D3DERR_INVALIDCALL;
    }
    if (bytesPerPixel(format) == 0) {
        detail::reportUnsupported("a texture format other than L8, X8R8G8B8 and A8R8G8B8");
        return D3DERR_INVALIDCALL;
    }
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM) {
        detail::reportUnsupported("a texture in the scratch pool");
        return D3DERR_INVALIDCALL;
    }
    const bool renderTarget = (usage & D3DUSAGE_RENDERTARGET) != 0;
    if (renderTarget && (pool != D3DPOOL_DEFAULT || format == D3DFMT_L8)) {
        // Render targets live in the default pool, and the device draws only 32-bit colour.
        return D3DERR_INVALIDCALL;
    }
    if ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED) {
        return D3DERR_INVALIDCALL;
    }

    auto* created = new (std::nothrow) SoftTexture(std::move(link));
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    const int bpp = bytesPerPixel(format);
    try {
        std::vector<std::size_t> offsets;
        std::size_t words = 0;
        UINT w = width;
        UINT h = height;
        for (UINT i = 0; i < levels; ++i) {
            offsets.push_back(words);
            words += (static_cast<std::size_t>(w) * h * bpp + 3) / 4;
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
        }
        created->storage_.assign(words, 0u);
        w = width;
        h = height;
        for (UINT i = 0; i < levels; ++i) {
            auto* bits = reinterpret_cast<std::uint8_t*>(created->storage_.data() + offsets[i]);
            created->levels_.push_back(std::unique_ptr<SoftSurface>(
                new SoftSurface(created->link_, created, bits, static_cast<int>(w),
                                static_cast<int>(h), format, usage, pool)));
            created->levels_.back()->rowsAlike_ = !renderTarget; // all zeros so far
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
        }
    } catch (const std::bad_alloc&) {
        created->Release();
        return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    }
    *texture = created;
    return D3D_OK;
}

HRESULT SoftTexture::GetDevice(IDirect3DDevice9** ppDevice) {
    return lendDevice(link_, ppDevice);
}

HRESULT SoftTexture::GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) {
    if (Level >= levels_.size()) {
        return D3DERR_INVALIDCALL;
    }
    return levels_[Level]->GetDesc(pDesc);
}

HRESULT SoftTexture::GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) {
    if (ppSurfaceLevel == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *ppSurfaceLevel = nullptr;
    if (Level >= levels_.size()) {
        return D3DERR_INVALIDCALL;
    }
    AddRef();
    *ppSurfaceLevel = levels_[Level].get();
    return D3D_OK;
}

HRESULT SoftTexture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                              DWORD Flags) {
    if (Level >= levels_.size()) {
        return D3DERR_INVALIDCALL;
    }
    return levels_[Level]->LockRect(pLockedRect, pRect, Flags);
}

HRESULT SoftTexture::UnlockRect(UINT Level) {
    if (Level >= levels_.size()) {
        return D3DERR_INVALIDCALL;
    }
    return levels_[Level]->UnlockRect();
}

bool SoftTexture::anyLevelLocked() const {
    for (const auto& level : levels_) {
        if (level->locked_) {
            return true;
        }
    }
    return false;
}

// ---- SoftVertexBuffer

HRESULT SoftVertexBuffer::create(DeviceLinkPtr link, UINT length, DWORD usage, DWORD fvf,
                                 D3DPOOL pool, IDirect3DVertexBuffer9** buffer) {
    if (buffer == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *buffer = nullptr;
    if (length == 0) {
        return D3DERR_INVALIDCALL;
    }
    if ((usage & ~(D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC)) != 0) {
        detail::reportUnsupported("a vertex-buffer usage other than write-only or dynamic");
        return D3DERR_INVALIDCALL;
    }
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM) {
        return D3DERR_INVALIDCALL;
    }
    if ((usage & D3DUSAGE_DYNAMIC) != 0 && pool == D3DPOOL_MANAGED) {
        return D3DERR_INVALIDCALL;
    }
    auto* created = new (std::nothrow) SoftVertexBuffer(std::move(link), usage, fvf, pool);
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    try {
        created->data_.assign(length, 0);
    } catch (const std::bad_alloc&) {
        created->Release();
        return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    }
    *buffer = created;
    return D3D_OK;
}

namespace {

std::uint64_t nextContents() {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace

SoftVertexBuffer::SoftVertexBuffer(DeviceLinkPtr link, DWORD usage, DWORD fvf, D3DPOOL pool)
    : link_(std::move(link)), usage_(usage), fvf_(fvf), pool_(pool), contents_(nextContents()) {}

HRESULT SoftVertexBuffer::GetDevice(IDirect3DDevice9** ppDevice) {
    return lendDevice(link_, ppDevice);
}

HRESULT SoftVertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD) {
    if (ppbData == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *ppbData = nullptr;
    // A size of 0 maps everything from the offset to the end.
    const std::uint64_t end =
        SizeToLock == 0 ? data_.size() : static_cast<std::uint64_t>(OffsetToLock) + SizeToLock;
    if (OffsetToLock >= data_.size() || end > data_.size()) {
        return D3DERR_INVALIDCALL;
    }
    // Vertices are read when a draw is made, so nothing pending depends on the contents.
    ++locks_;
    contents_ = nextContents();
    *ppbData = data_.data() + OffsetToLock;
    return D3D_OK;
}

HRESULT SoftVertexBuffer::Unlock() {
    if (locks_ == 0) {
        return D3DERR_INVALIDCALL;
    }
    --locks_;
    contents_ = nextContents();
    return D3D_OK;
}

HRESULT SoftVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* pDesc) {
    if (pDesc == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *pDesc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA,
                                  D3DRTYPE_VERTEXBUFFER,
                                  usage_,
                                  pool_,
                                  static_cast<UINT>(data_.size()),
                                  fvf_};
    return D3D_OK;
}

} // namespace tessivane::platform::soft

namespace tessivane::platform::detail {

CpuSurface* cpuSurface(IDirect3DSurface9* surface) {
    return dynamic_cast<soft::SoftSurface*>(surface);
}

} // namespace tessivane::platform::detail
