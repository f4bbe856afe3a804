// The reference device: the 3D device drawn entirely in software, deterministic and
// independent of any GPU. It renders into a 32-bit back buffer (or a render-target texture)
// with a 16-bit depth buffer and hands each finished frame to its window.
//
// Draws are queued and rasterized together, on every render thread, when something needs
// their result: a present, a change of render target, a lock of a texture. A full queue goes
// to the helper threads while the calling thread fills the next.
#pragma once

#include "platform/d3d9.h"
#include "platform/ref_counted.h"
#include "platform/soft/device_state.h"
#include "platform/soft/halfway_samples.h"
#include "platform/soft/pixel_program.h"
#include "platform/soft/raster.h"
#include "platform/soft/resources.h"
#include "platform/soft/shader_objects.h"
#include "platform/soft/vertex_program.h"
#include "platform/soft/vertex_stage.h"
#include "platform/soft/worker_pool.h"

#include <cstdint>
#include <memory>
#include <string>
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

    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                          D3DPOOL Pool, IDirect3DTexture9** ppTexture,
                          HANDLE* pSharedHandle) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer,
                               HANDLE* pSharedHandle) override;
    HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override;
    HRESULT GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override;

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                 DWORD* pValue) override;
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
    HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) override;
    HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) override;
    HRESULT LightEnable(DWORD Index, BOOL Enable) override;
    HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) override;
    HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) override;
    HRESULT GetMaterial(D3DMATERIAL9* pMaterial) override;

    HRESULT SetFVF(DWORD FVF) override;
    HRESULT GetFVF(DWORD* pFVF) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                            UINT OffsetInBytes, UINT Stride) override;
    HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData,
                            UINT* pOffsetInBytes, UINT* pStride) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                          UINT PrimitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                            const void* pVertexStreamZeroData,
                            UINT VertexStreamZeroStride) override;

    HRESULT CreateVertexShader(const DWORD* pFunction, IDirect3DVertexShader9** ppShader) override;
    HRESULT CreatePixelShader(const DWORD* pFunction, IDirect3DPixelShader9** ppShader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* pShader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** ppShader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* pShader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** ppShader) override;
    HRESULT SetVertexShaderConstantF(UINT StartRegister, const float* pConstantData,
                                     UINT Vector4fCount) override;
    HRESULT GetVertexShaderConstantF(UINT StartRegister, float* pConstantData,
                                     UINT Vector4fCount) override;
    HRESULT SetPixelShaderConstantF(UINT StartRegister, const float* pConstantData,
                                    UINT Vector4fCount) override;
    HRESULT GetPixelShaderConstantF(UINT StartRegister, float* pConstantData,
                                    UINT Vector4fCount) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                    IDirect3DVertexDeclaration9** ppDecl) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) override;

    // The back buffer after every pending draw: width x height X8R8G8B8 words, top row first.
    const std::uint32_t* backBufferPixels();
    // Rasterizes every queued draw. Whatever reads or writes memory that a queued draw may
    // touch (a lock, a present, a change of target) calls this first.
    void finishPendingDraws();
    // The same before the CPU writes a surface; the next draw then sets itself up afresh, as
    // what it knows of a texture it samples (whether its rows are alike) may no longer hold.
    void finishForSurfaceWrite();
    // Shades with the per-pixel reference path instead of the specialised operation lists;
    // the pictures must be the same bytes either way.
    void useReferencePixelPath(bool on);
    // Runs vertex shaders one vertex and one instruction at a time, straight from the decoded
    // program, instead of compiled over batches; the outputs must be the same floats.
    void useReferenceVertexPath(bool on);
    unsigned renderThreads() const { return workers_.threadCount(); }

private:
    SoftDevice(IDirect3D9* owner, HWND window, const D3DPRESENT_PARAMETERS& parameters);
    ~SoftDevice() override;

    // D3DERR_INVALIDCALL for something the device does not draw, named once on stderr.
    static HRESULT refuse(const std::string& what);
    // D3DERR_INVALIDCALL for a call the API does not allow, with why as the last error.
    static HRESULT invalid(const char* why);

    // Makes sure the queue holds a draw record for the current state; null with the reason
    // reported when the state cannot be drawn.
    const char* prepareDraw();
    // Builds the vertex side of a draw: the fixed-function set-up or the vertex shader's.
    const char* prepareVertices(bool& preTransformed);
    // Runs count vertices through the fixed-function stage or the bound vertex shader.
    void processVertices(const std::uint8_t* data, UINT stride, UINT count, VertexOutput* out);
    // Draws from data, available bytes long; source is the vertex buffer data lies in at
    // sourceOffset, or null for vertices in the caller's memory.
    HRESULT draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const std::uint8_t* data,
                 std::uint64_t available, UINT stride, const SoftVertexBuffer* source = nullptr,
                 std::uint64_t sourceOffset = 0);
    // Makes sure shaded_ holds the count vertices at byte offset of source, processed by the
    // shader into outputs or, asLanes, projected into lanes, taking them from the vertices
    // processed for earlier draws where they are still valid; at is where they start in it.
    // False where memory ran out.
    bool shade(const SoftVertexBuffer& source, std::uint64_t offset, UINT stride, UINT count,
               std::uint64_t available, bool asLanes, UINT& at);
    // Runs count vertices through the bound vertex shader and projects them into shaded_'s
    // lanes, as the current draw's strips read them.
    void shadeToLanes(const std::uint8_t* data, UINT stride, UINT count);
    // Queues are drawn strictly in order: the oldest of those handed over is drawn by the
    // render threads while the calling thread goes on transforming into the newest. Up to
    // QUEUES - 2 full ones wait between them, so that the transforming thread can run ahead
    // where draws rasterize quickly (nothing then waits for it where they transform slowly, as
    // the far tube trees at the end of a frame do). Where the calling thread waits for them
    // all, they are drawn as one run, each strip through every queue in turn: every pixel
    // still sees the draws in order, and the threads meet once rather than after each queue.

    // Hands the queue being filled over and starts a new one.
    void closeQueue();
    // Hands the oldest queue waiting to the render threads, if none is being drawn; together,
    // with the queues after it, as one run.
    void startNextQueue(bool together = false);
    // Waits until the run being drawn is done, lending this thread to it.
    void waitForDrawnQueue();
    // What a draw does after adding its primitives: keeps the render threads busy, and
    // closes the queue when it is full.
    void afterDraw();
    Batch& batch() { return batches_[current_]; }
    static void drawStripJob(void* device, unsigned job, unsigned worker);

    DeviceLinkPtr link_;
    IDirect3D9* owner_;
    HWND window_;
    D3DPRESENT_PARAMETERS parameters_;
    int width_;
    int height_;
    SoftSurface* backBuffer_ = nullptr;   // one reference
    SoftSurface* renderTarget_ = nullptr; // one reference
    std::vector<std::uint16_t> depth_;    // empty when the device has no depth buffer
    // The value every texel of the depth buffer holds once the draws queued so far are done,
    // -1 when they may differ: a draw that only tests against it may pass without looking.
    int depthEverywhere_ = -1;
    D3DVIEWPORT9 viewport_;
    bool inScene_ = false;
    bool reference_ = false;

    DeviceState state_;
    SoftTexture* textures_[MAX_STAGES] = {};
    SoftVertexBuffer* stream_ = nullptr; // stream 0, one reference
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;

    // The set-up of the last draw, reused while nothing changes.
    std::uint64_t preparedVersion_ = ~std::uint64_t{0};
    bool recordQueued_ = false;
    std::uint32_t recordIndex_ = 0;
    DrawRecord record_;
    FixedFunctionSetup vertexSetup_;
    GeometryTarget geometry_;
    UINT vertexSize_ = 0;         // bytes a vertex of the current format takes at least
    bool shaderVertices_ = false; // the prepared draw runs a vertex shader
    VertexShaderSetup vertexShaderSetup_;
    bool referenceVertices_ = false;

    SoftVertexDeclaration* declaration_ = nullptr; // one reference each, or null
    SoftVertexShader* vertexShader_ = nullptr;
    SoftPixelShader* pixelShader_ = nullptr;
    float vertexConstants_[VERTEX_CONSTANTS][4] = {};
    float pixelConstants_[PIXEL_SHADER_CONSTANTS][4] = {};
    std::unique_ptr<VertexRegisters> vertexRegisters_;

    WorkerPool workers_;
    std::vector<StripScratch> chunks_; // one per worker
    // A full queue holds about 6 MB, written once when the device is made, so that no frame
    // waits for fresh memory: eight take some 50 MB.
    static constexpr int QUEUES = 8;
    Batch batches_[QUEUES];                 // a ring, in drawing order from oldest_
    std::vector<IUnknown*> held_[QUEUES];   // per queue: the textures its draws read
    int oldest_ = 0;                        // the oldest queue handed over
    int closed_ = 0;                        // queues handed over and not yet drawn
    int current_ = 0;                       // the queue being filled: oldest_ + closed_
    bool drawing_ = false;                  // a run is being drawn
    HalfwayTables halfway_;                 // for the queue being drawn
    unsigned tableJobs_ = 0;                // the jobs of its drawing that fill them
    int drawnQueues_ = 0;                   // the queues being drawn, from oldest_ on
    std::vector<std::size_t> stripEntries_; // their entries, per strip
    std::vector<int> stripOrder_;           // the strip each later job draws
    std::vector<VertexOutput> vertices_;

    // Vertices a shader processed from a vertex buffer, kept for the draws that follow:
    // draws that walk through a buffer a piece at a time then run the program over long runs
    // of vertices instead of a few at a time. Valid while the buffer's contents, the state the
    // vertices were processed with and the constants stay as they were.
    struct ShadedVertices {
        const SoftVertexBuffer* buffer = nullptr;
        std::uint64_t contents = 0;
        std::uint64_t stateVersion = 0;
        std::uint64_t constantsVersion = 0;
        UINT stride = 0;
        std::uint64_t offset = 0; // of the first vertex in the buffer
        UINT count = 0;
        bool asLanes = false;
        std::vector<VertexOutput> vertices; // unless asLanes
        VertexLanes lanes;                  // where asLanes
    } shaded_;
    std::uint64_t vertexConstantsVersion_ = 0;
};

} // namespace tessivane::platform::soft
