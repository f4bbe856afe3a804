#include "platform/soft/soft_device.h"

#include "platform/platform.h"
#include "platform/window_internal.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <string>

namespace tessivane::platform::soft {

namespace {

bool isValidDepthFormat(D3DFORMAT format) {
    return format == D3DFMT_D16 || format == D3DFMT_D16_LOCKABLE;
}

} // namespace

HRESULT SoftDevice::refuse(const std::string& what) {
    detail::reportUnsupported(what.c_str());
    detail::setLastError("the reference device cannot draw with " + what);
    return D3DERR_INVALIDCALL;
}

HRESULT SoftDevice::invalid(const char* why) {
    detail::setLastError(why);
    return D3DERR_INVALIDCALL;
}

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
    SoftDevice* created = nullptr;
    try {
        created = new SoftDevice(owner, window, p);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (created->backBuffer_ == nullptr) {
        created->Release();
        return E_OUTOFMEMORY;
    }
    *device = created;
    return D3D_OK;
}

SoftDevice::SoftDevice(IDirect3D9* owner, HWND window, const D3DPRESENT_PARAMETERS& parameters)
    : link_(std::make_shared<DeviceLink>()), owner_(owner), window_(window),
      parameters_(parameters), width_(static_cast<int>(parameters.BackBufferWidth)),
      height_(static_cast<int>(parameters.BackBufferHeight)),
      viewport_{0, 0, parameters.BackBufferWidth, parameters.BackBufferHeight, 0.0f, 1.0f},
      state_(parameters.EnableAutoDepthStencil != FALSE), workers_(platformConfig().renderThreads),
      chunks_(workers_.threadCount()) {
    parameters_.BackBufferFormat = D3DFMT_X8R8G8B8;
    link_->device = this;
    backBuffer_ = SoftSurface::createStandalone(link_, parameters.BackBufferWidth,
                                                parameters.BackBufferHeight, D3DFMT_X8R8G8B8,
                                                D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT);
    if (backBuffer_ != nullptr) {
        renderTarget_ = backBuffer_;
        renderTarget_->AddRef();
    }
    if (parameters.EnableAutoDepthStencil) {
        depth_.assign(static_cast<std::size_t>(width_) * height_, 0xFFFF);
        depthEverywhere_ = 0xFFFF;
    }
    for (Batch& queue : batches_) {
        queue.drawnBy(workers_.threadCount());
        queue.reset(height_);
    }
    owner_->AddRef();
}

SoftDevice::~SoftDevice() {
    finishPendingDraws();
    for (SoftTexture*& texture : textures_) {
        if (texture != nullptr) {
            texture->Release();
            texture = nullptr;
        }
    }
    if (stream_ != nullptr) {
        stream_->Release();
    }
    if (declaration_ != nullptr) {
        declaration_->Release();
    }
    if (vertexShader_ != nullptr) {
        vertexShader_->Release();
    }
    if (pixelShader_ != nullptr) {
        pixelShader_->Release();
    }
    if (renderTarget_ != nullptr) {
        renderTarget_->Release();
    }
    if (backBuffer_ != nullptr) {
        backBuffer_->Release();
    }
    link_->device = nullptr;
    owner_->Release();
}

// ---- Queued draws

// The jobs of a run: first the fills of its halfway tables, then its strips, each through
// every queue of the run in order. The jobs are handed out in order, so a strip waits at most
// for the fills still running elsewhere.
void SoftDevice::drawStripJob(void* device, unsigned job, unsigned worker) {
    auto* self = static_cast<SoftDevice*>(device);
    if (job < self->tableJobs_) {
        self->halfway_.fill(job);
        return;
    }
    self->halfway_.waitUntilFilled();
    const int strip = self->stripOrder_[job - self->tableJobs_];
    for (int q = 0; q < self->drawnQueues_; ++q) {
        self->batches_[(self->oldest_ + q) % QUEUES].drawStrip(strip, self->chunks_[worker]);
    }
}

void SoftDevice::closeQueue() {
    if (batch().empty()) {
        if (batch().draws.empty()) {
            return; // nothing queued at all
        }
        // Only set-up and no primitives: nothing to draw, and the queue is filled again.
        for (IUnknown* resource : held_[current_]) {
            resource->Release();
        }
        held_[current_].clear();
        batch().reset(renderTarget_->height());
        recordQueued_ = false;
        return;
    }
    if (closed_ == QUEUES - 1) {
        // Every other queue waits or is being drawn: the oldest must be done first.
        startNextQueue();
        waitForDrawnQueue();
    }
    ++closed_;
    current_ = (oldest_ + closed_) % QUEUES;
    batch().reset(renderTarget_->height());
    recordQueued_ = false;
}

void SoftDevice::startNextQueue(bool together) {
    if (drawing_ || closed_ == 0) {
        return;
    }
    Batch& first = batches_[oldest_];
    tableJobs_ = halfway_.plan(first.draws); // points its draws at the tables
    drawnQueues_ = 1;
    // Halfway tables are made for one queue at a time, the first of a run: a queue that would
    // have them waits for a run of its own (in another run it would draw without them, the
    // same bytes, only slower).
    while (together && tableJobs_ == 0 && drawnQueues_ < closed_) {
        const Batch& next = batches_[(oldest_ + drawnQueues_) % QUEUES];
        if (next.stripCount() != first.stripCount() || HalfwayTables::wanted(next.draws)) {
            break;
        }
        ++drawnQueues_;
    }
    // Strips with the most entries first: handed out in this order, a run's last jobs are
    // short ones, and no thread waits long for another to finish.
    stripEntries_.assign(static_cast<std::size_t>(first.stripCount()), 0);
    for (int q = 0; q < drawnQueues_; ++q) {
        const Batch& queue = batches_[(oldest_ + q) % QUEUES];
        for (int strip = 0; strip < queue.stripCount(); ++strip) {
            stripEntries_[strip] += queue.stripEntries(strip);
        }
    }
    stripOrder_.resize(stripEntries_.size());
    std::iota(stripOrder_.begin(), stripOrder_.end(), 0);
    std::stable_sort(stripOrder_.begin(), stripOrder_.end(),
                     [this](int a, int b) { return stripEntries_[a] > stripEntries_[b]; });
    workers_.start(tableJobs_ + static_cast<unsigned>(first.stripCount()), drawStripJob, this);
    drawing_ = true;
}

void SoftDevice::waitForDrawnQueue() {
    if (!drawing_) {
        return;
    }
    workers_.wait();
    drawing_ = false;
    for (int q = 0; q < drawnQueues_; ++q) {
        std::vector<IUnknown*>& held = held_[oldest_];
        for (IUnknown* resource : held) {
            resource->Release();
        }
        held.clear();
        oldest_ = (oldest_ + 1) % QUEUES;
        --closed_;
    }
}

void SoftDevice::finishPendingDraws() {
    closeQueue();
    // This thread only waits from here on: what is left is drawn as one run where it can be,
    // so that the threads meet once at its end rather than at the end of every queue.
    startNextQueue(true);
    while (drawing_) {
        waitForDrawnQueue();
        startNextQueue(true);
    }
}

void SoftDevice::finishForSurfaceWrite() {
    finishPendingDraws();
    ++state_.version;
}

const std::uint32_t* SoftDevice::backBufferPixels() {
    finishPendingDraws();
    return reinterpret_cast<const std::uint32_t*>(backBuffer_->bits());
}

void SoftDevice::useReferencePixelPath(bool on) {
    finishPendingDraws();
    reference_ = on;
    ++state_.version;
}

// ---- Frames

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
    BatchClear clear{};
    clear.flags = flags;
    // The X byte of an X8R8G8B8 target is written as 0xFF, as every drawn pixel's is.
    clear.color = renderTarget_->format() == D3DFMT_X8R8G8B8 ? color | 0xFF000000u : color;
    clear.depth = toDepth16(z);
    clear.target = renderTarget_->bits();
    clear.targetPitch = renderTarget_->pitch();
    clear.depthBuffer = depth_.empty() ? nullptr : depth_.data();
    clear.depthPitch = width_;
    const LONG vx1 = static_cast<LONG>(viewport_.X);
    const LONG vy1 = static_cast<LONG>(viewport_.Y);
    const LONG vx2 = vx1 + static_cast<LONG>(viewport_.Width);
    const LONG vy2 = vy1 + static_cast<LONG>(viewport_.Height);
    auto add = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        clear.x0 = x1;
        clear.y0 = y1;
        clear.x1 = x2;
        clear.y1 = y2;
        batch().addClear(clear);
        if ((flags & D3DCLEAR_ZBUFFER) && x1 < x2 && y1 < y2) {
            // A clear of part of the buffer keeps it uniform only at the value it had.
            const bool whole = x1 <= 0 && y1 <= 0 && x2 >= width_ && y2 >= height_;
            int everywhere = -1;
            if (whole || depthEverywhere_ == clear.depth) {
                everywhere = clear.depth;
            }
            if (everywhere != depthEverywhere_) {
                depthEverywhere_ = everywhere;
                ++state_.version; // the next draw looks at its depth test again
            }
        }
    };
    if (count == 0) {
        add(vx1, vy1, vx2, vy2);
        return D3D_OK;
    }
    // Rectangles are clipped to the viewport.
    for (DWORD i = 0; i < count; ++i) {
        add(std::max(rects[i].x1, vx1), std::max(rects[i].y1, vy1), std::min(rects[i].x2, vx2),
            std::min(rects[i].y2, vy2));
    }
    return D3D_OK;
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
    const std::uint32_t* pixels = backBufferPixels();
    detail::notifyFrame(pixels, width_, height_);
    detail::Display* display = detail::windowDisplay(window_);
    if (display != nullptr) {
        const bool wait = parameters_.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE;
        display->present(pixels, width_, height_, wait);
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
    if (viewport->Width == 0 || viewport->Height == 0 ||
        right > static_cast<unsigned>(renderTarget_->width()) ||
        bottom > static_cast<unsigned>(renderTarget_->height()) || !depthRangeOk) {
        return D3DERR_INVALIDCALL;
    }
    viewport_ = *viewport;
    ++state_.version;
    return D3D_OK;
}

HRESULT SoftDevice::GetViewport(D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *viewport = viewport_;
    return D3D_OK;
}

// ---- Resources

HRESULT SoftDevice::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                                  D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture,
                                  HANDLE* pSharedHandle) {
    if (pSharedHandle != nullptr) {
        return refuse("shared resources");
    }
    return SoftTexture::create(link_, Width, Height, Levels, Usage, Format, Pool, ppTexture);
}

HRESULT SoftDevice::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                       IDirect3DVertexBuffer9** ppVertexBuffer,
                                       HANDLE* pSharedHandle) {
    if (pSharedHandle != nullptr) {
        return refuse("shared resources");
    }
    if (FVF != 0) {
        VertexLayout layout;
        const char* unsupported = nullptr;
        if (decodeFvf(FVF, layout, unsupported) && Length < layout.size) {
            return D3DERR_INVALIDCALL; // not room for a single vertex of its own format
        }
    }
    return SoftVertexBuffer::create(link_, Length, Usage, FVF, Pool, ppVertexBuffer);
}

HRESULT SoftDevice::SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) {
    if (RenderTargetIndex != 0) {
        return pRenderTarget == nullptr ? D3DERR_INVALIDCALL
                                        : refuse("more than one render target");
    }
    auto* surface = dynamic_cast<SoftSurface*>(pRenderTarget);
    if (surface == nullptr || surface->link() != link_) {
        return invalid("the render target is missing or belongs to another device");
    }
    if (!surface->isRenderTarget()) {
        return invalid("the surface was not created as a render target");
    }
    if (!depth_.empty() && (surface->width() > width_ || surface->height() > height_)) {
        return invalid("the render target is larger than the depth buffer");
    }
    if (surface != renderTarget_) {
        finishPendingDraws();
        surface->AddRef();
        renderTarget_->Release();
        renderTarget_ = surface;
        batch().reset(surface->height());
    }
    // A new target brings a viewport covering all of it.
    viewport_ = D3DVIEWPORT9{
        0,    0,   static_cast<DWORD>(surface->width()), static_cast<DWORD>(surface->height()),
        0.0f, 1.0f};
    ++state_.version;
    return D3D_OK;
}

HRESULT SoftDevice::GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) {
    if (ppRenderTarget == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *ppRenderTarget = nullptr;
    if (RenderTargetIndex != 0) {
        return D3DERR_NOTFOUND; // only target 0 exists
    }
    renderTarget_->AddRef();
    *ppRenderTarget = renderTarget_;
    return D3D_OK;
}

// ---- State

HRESULT SoftDevice::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    return state_.setTransform(State, pMatrix);
}

HRESULT SoftDevice::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) {
    return state_.getTransform(State, pMatrix);
}

HRESULT SoftDevice::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) {
    return state_.setRenderState(State, Value);
}

HRESULT SoftDevice::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) {
    return state_.getRenderState(State, pValue);
}

HRESULT SoftDevice::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) {
    return state_.setStageState(Stage, Type, Value);
}

HRESULT SoftDevice::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                         DWORD* pValue) {
    return state_.getStageState(Stage, Type, pValue);
}

HRESULT SoftDevice::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) {
    return state_.setSamplerState(Sampler, Type, Value);
}

HRESULT SoftDevice::GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) {
    return state_.getSamplerState(Sampler, Type, pValue);
}

HRESULT SoftDevice::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) {
    if (Stage >= SAMPLER_SLOTS) {
        return D3DERR_INVALIDCALL;
    }
    if (Stage >= MAX_STAGES) {
        return pTexture == nullptr ? D3D_OK : refuse("textures on stages beyond the fourth");
    }
    SoftTexture* texture = nullptr;
    if (pTexture != nullptr) {
        texture = dynamic_cast<SoftTexture*>(pTexture);
        if (texture == nullptr || texture->link() != link_) {
            return invalid("the texture belongs to another device");
        }
    }
    if (texture == textures_[Stage]) {
        return D3D_OK;
    }
    if (texture != nullptr) {
        texture->AddRef();
    }
    if (textures_[Stage] != nullptr) {
        textures_[Stage]->Release();
    }
    textures_[Stage] = texture;
    ++state_.version;
    return D3D_OK;
}

HRESULT SoftDevice::GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) {
    if (ppTexture == nullptr || Stage >= SAMPLER_SLOTS) {
        return D3DERR_INVALIDCALL;
    }
    *ppTexture = Stage < MAX_STAGES ? textures_[Stage] : nullptr;
    if (*ppTexture != nullptr) {
        (*ppTexture)->AddRef();
    }
    return D3D_OK;
}

HRESULT SoftDevice::SetLight(DWORD Index, const D3DLIGHT9* pLight) {
    return state_.setLight(Index, pLight);
}

HRESULT SoftDevice::GetLight(DWORD Index, D3DLIGHT9* pLight) {
    return state_.getLight(Index, pLight);
}

HRESULT SoftDevice::LightEnable(DWORD Index, BOOL Enable) {
    return state_.enableLight(Index, Enable);
}

HRESULT SoftDevice::GetLightEnable(DWORD Index, BOOL* pEnable) {
    return state_.getLightEnable(Index, pEnable);
}

HRESULT SoftDevice::SetMaterial(const D3DMATERIAL9* pMaterial) {
    return state_.setMaterial(pMaterial);
}

HRESULT SoftDevice::GetMaterial(D3DMATERIAL9* pMaterial) {
    if (pMaterial == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *pMaterial = state_.material;
    return D3D_OK;
}

} // namespace tessivane::platform::soft
