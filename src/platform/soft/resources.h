// The reference device's resources: surfaces, textures and vertex buffers, all in CPU memory.
#pragma once

#include "platform/d3d9.h"
#include "platform/ref_counted.h"
#include "platform/surface_memory.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tessivane::platform::soft {

class SoftDevice;

// How a resource reaches the device that made it, for as long as that device lives: the
// device clears the pointer when it goes.
struct DeviceLink {
    SoftDevice* device = nullptr;
};
using DeviceLinkPtr = std::shared_ptr<DeviceLink>;

// Bytes per pixel of the colour formats the device stores; 0 for any other.
int bytesPerPixel(D3DFORMAT format);

class SoftTexture;

// Pixels in rows of exactly width x bytes-per-pixel. Either a level of a texture, sharing the
// texture's reference count and memory, or a stand-alone surface (the back buffer).
class SoftSurface final : public IDirect3DSurface9, public detail::CpuSurface {
public:
    // A stand-alone zero-filled surface with one reference; null when memory runs out.
    static SoftSurface* createStandalone(DeviceLinkPtr link, UINT width, UINT height,
                                         D3DFORMAT format, DWORD usage, D3DPOOL pool);
    ~SoftSurface();

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;
    HRESULT GetDC(HDC* phdc) override;
    HRESULT ReleaseDC(HDC hdc) override;

    detail::SurfaceMemory memory() override;
    bool isLocked() override;
    bool take(detail::SurfaceMemory& memory) override;
    void giveBack() override;

    std::uint8_t* bits() const { return bits_; }
    int pitch() const { return pitch_; }
    int width() const { return width_; }
    int height() const { return height_; }
    D3DFORMAT format() const { return format_; }
    bool isRenderTarget() const { return (usage_ & D3DUSAGE_RENDERTARGET) != 0; }
    const DeviceLinkPtr& link() const { return link_; }
    // The texture this surface is a level of, or null.
    SoftTexture* container() const { return container_; }
    // Whether every row holds the same bytes as the first: known for the levels of textures
    // only the application writes (not render targets), worked out whenever it has written
    // them; false while they are out for writing, and for every other surface.
    bool rowsAlike() const { return rowsAlike_; }

private:
    friend class SoftTexture;
    SoftSurface(DeviceLinkPtr link, SoftTexture* container, std::uint8_t* bits, int width,
                int height, D3DFORMAT format, DWORD usage, D3DPOOL pool);
    void finishPendingDraws() const;
    // The same before the memory is handed out for writing.
    void finishForWrite() const;
    // Works rowsAlike out afresh, after the application has written the surface.
    void findRowsAlike();

    DeviceLinkPtr link_;
    SoftTexture* container_;         // null for a stand-alone surface
    std::vector<std::uint32_t> own_; // the memory of a stand-alone surface
    std::uint8_t* bits_;
    int width_;
    int height_;
    int pitch_;
    D3DFORMAT format_;
    DWORD usage_;
    D3DPOOL pool_;
    HDC dc_ = nullptr;     // the context handed out by GetDC, until ReleaseDC
    ULONG references_ = 1; // stand-alone surfaces only
    bool locked_ = false;
    bool rowsAlike_ = false;
};

class SoftTexture final : public RefCounted<IDirect3DTexture9> {
public:
    // Validates the arguments as the real device does; see IDirect3DDevice9::CreateTexture.
    static HRESULT create(DeviceLinkPtr link, UINT width, UINT height, UINT levels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;

    SoftSurface& level(UINT index) { return *levels_[index]; }
    bool anyLevelLocked() const;
    const DeviceLinkPtr& link() const { return link_; }

private:
    SoftTexture(DeviceLinkPtr link) : link_(std::move(link)) {}
    ~SoftTexture() override = default;

    DeviceLinkPtr link_;
    std::vector<std::uint32_t> storage_; // every level, one after the other
    std::vector<std::unique_ptr<SoftSurface>> levels_;
};

class SoftVertexBuffer final : public RefCounted<IDirect3DVertexBuffer9> {
public:
    // Validates the arguments as the real device does; see IDirect3DDevice9::CreateVertexBuffer.
    static HRESULT create(DeviceLinkPtr link, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                          IDirect3DVertexBuffer9** buffer);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

    const std::uint8_t* data() const { return data_.data(); }
    UINT size() const { return static_cast<UINT>(data_.size()); }
    const DeviceLinkPtr& link() const { return link_; }
    // Changes whenever the contents may have changed (every lock and unlock), and no two
    // buffers ever share a value: what was computed from the contents is valid while it holds.
    std::uint64_t contents() const { return contents_; }

private:
    SoftVertexBuffer(DeviceLinkPtr link, DWORD usage, DWORD fvf, D3DPOOL pool);
    ~SoftVertexBuffer() override = default;

    DeviceLinkPtr link_;
    std::vector<std::uint8_t> data_;
    DWORD usage_;
    DWORD fvf_;
    D3DPOOL pool_;
    HDC dc_ = nullptr; // the context handed out by GetDC, until ReleaseDC
    int locks_ = 0;    // vertex buffers may be locked several times over
    std::uint64_t contents_;
};

} // namespace tessivane::platform::soft
