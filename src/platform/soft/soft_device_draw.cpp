// The reference device's vertex input and draws: the vertex format and stream, the set-up
// a draw compiles from the state, and the draw calls themselves.
#include "platform/soft/draw_setup.h"
#include "platform/soft/soft_device.h"

#include <algorithm>
#include <memory>
#include <new>

namespace tessivane::platform::soft {

namespace {

// The largest primitive count a single draw may ask for.
constexpr UINT MAX_PRIMITIVES = 0xFFFFF;
// The most vertices a shader processes ahead of the draws that walk through a buffer.
constexpr UINT SHADE_AHEAD = 1024;
// Triangles enough to be worth handing to render threads that wait for work.
constexpr std::size_t EARLY_TRIANGLES = 2048;

} // namespace

void SoftDevice::afterDraw() {
    if (workers_.threadCount() == 1) {
        // Nothing draws beside this thread: a full queue is drawn at once, while its
        // vertices are still in cache.
        if (batch().full()) {
            closeQueue();
            startNextQueue();
            waitForDrawnQueue();
        }
        return;
    }
    if (drawing_ && workers_.idle()) {
        waitForDrawnQueue(); // done: nothing to wait for
    }
    if (batch().full()) {
        closeQueue();
    } else if (!drawing_ && closed_ == 0 && batch().triangleCount() >= EARLY_TRIANGLES) {
        // The render threads have nothing else to do: at the start of a frame, or where they
        // draw faster than draws come.
        closeQueue();
    }
    startNextQueue();
}

HRESULT SoftDevice::SetFVF(DWORD FVF) {
    const HRESULT result = state_.setFvf(FVF);
    // A vertex format replaces the declaration.
    if (SUCCEEDED(result) && declaration_ != nullptr) {
        declaration_->Release();
        declaration_ = nullptr;
        ++state_.version;
    }
    return result;
}

HRESULT SoftDevice::GetFVF(DWORD* pFVF) {
    if (pFVF == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *pFVF = state_.fvf;
    return D3D_OK;
}

HRESULT SoftDevice::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                                    UINT OffsetInBytes, UINT Stride) {
    if (StreamNumber >= 16) {
        return D3DERR_INVALIDCALL;
    }
    if (StreamNumber != 0) {
        return pStreamData == nullptr ? D3D_OK : refuse("vertex streams beyond the first");
    }
    SoftVertexBuffer* buffer = nullptr;
    if (pStreamData != nullptr) {
        buffer = dynamic_cast<SoftVertexBuffer*>(pStreamData);
        if (buffer == nullptr || buffer->link() != link_) {
            return invalid("the vertex buffer belongs to another device");
        }
        buffer->AddRef();
    }
    if (stream_ != nullptr) {
        stream_->Release();
    }
    stream_ = buffer;
    streamOffset_ = OffsetInBytes;
    streamStride_ = Stride;
    return D3D_OK;
}

HRESULT SoftDevice::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData,
                                    UINT* pOffsetInBytes, UINT* pStride) {
    if (ppStreamData == nullptr || pOffsetInBytes == nullptr || pStride == nullptr ||
        StreamNumber >= 16) {
        return D3DERR_INVALIDCALL;
    }
    const bool first = StreamNumber == 0;
    *ppStreamData = first ? stream_ : nullptr;
    *pOffsetInBytes = first ? streamOffset_ : 0;
    *pStride = first ? streamStride_ : 0;
    if (*ppStreamData != nullptr) {
        (*ppStreamData)->AddRef();
    }
    return D3D_OK;
}

const char* SoftDevice::prepareVertices(bool& preTransformed) {
    const char* unsupported = nullptr;
    VertexLayout layout;
    if (declaration_ != nullptr) {
        if (vertexShader_ == nullptr && !declaration_->fixedFunctionLayout(layout, unsupported)) {
            return unsupported;
        }
    } else if (!decodeFvf(state_.fvf, layout, unsupported)) {
        return unsupported;
    }
    shaderVertices_ = vertexShader_ != nullptr;
    if (!shaderVertices_) {
        if (!buildFixedFunction(state_, layout, vertexSetup_, unsupported)) {
            return unsupported;
        }
        vertexSize_ = layout.size;
        preTransformed = layout.preTransformed;
        return nullptr;
    }
    // A vertex shader sees the vertex as its declaration (or format) lays it out, and its
    // outputs are always in clip space.
    if (declaration_ == nullptr && layout.preTransformed) {
        return "pre-transformed vertices with a vertex shader";
    }
    VertexShaderSetup& setup = vertexShaderSetup_;
    setup.program = &vertexShader_->program();
    setup.fetch = bindVertexInputs(
        *setup.program, declaration_ != nullptr ? declaration_->elements() : elementsOfFvf(layout));
    setup.constants = vertexConstants_;
    for (int s = 0; s < MAX_STAGES; ++s) {
        setup.stageSet[s] = static_cast<int>(state_.stage[s][D3DTSS_TEXCOORDINDEX] & 7);
    }
    vertexSize_ = declaration_ != nullptr ? declaration_->vertexSize() : layout.size;
    preTransformed = false;
    if (vertexRegisters_ == nullptr) {
        vertexRegisters_ = std::make_unique<VertexRegisters>();
    }
    return nullptr;
}

void SoftDevice::processVertices(const std::uint8_t* data, UINT stride, UINT count,
                                 VertexOutput* out) {
    if (!shaderVertices_) {
        runFixedFunction(vertexSetup_, data, stride, count, out);
    } else if (referenceVertices_) {
        runVertexProgramReference(vertexShader_->decoded(), vertexShaderSetup_, data, stride, count,
                                  out);
    } else {
        runVertexProgram(vertexShaderSetup_, data, stride, count, *vertexRegisters_, out);
    }
}

const char* SoftDevice::prepareDraw() {
    if (preparedVersion_ != state_.version) {
        bool preTransformed = false;
        if (const char* unsupported = prepareVertices(preTransformed)) {
            return unsupported;
        }
        const DrawTargets targets{renderTarget_, depth_.empty() ? nullptr : depth_.data(), width_,
                                  viewport_};
        PixelShaderState shader;
        if (pixelShader_ != nullptr) {
            pixelShader_->fill(pixelConstants_, shader);
        }
        // Outputs the vertex program never writes are +0 at every vertex. (The reference
        // path samples every pixel as it is, the yardstick for sampling such a stage once.)
        const std::uint32_t zero = shaderVertices_ ? zeroOutputs(vertexShaderSetup_) : 0;
        const char* unsupported = nullptr;
        if (!buildPixelState(state_, textures_, pixelShader_ != nullptr ? &shader : nullptr,
                             targets, preTransformed, reference_ ? 0 : zero, record_.state,
                             unsupported)) {
            return unsupported;
        }
        PixelState& s = record_.state;
        if (s.depthTest && s.depthWrite) {
            depthEverywhere_ = -1;
        } else if (s.depthTest && depthEverywhere_ >= 0 &&
                   depthAlwaysPasses(s.depthFunc, static_cast<std::uint16_t>(depthEverywhere_))) {
            s.depthTest = false; // a test that cannot fail, against a buffer it does not write
        }
        record_.program = compilePixelProgram(record_.state);
        record_.depthRead =
            s.depthTest || (s.fogMode != D3DFOG_NONE && s.fogSource == FogSource::Z);
        record_.reference = reference_;
        // Trailing attributes that the vertex program never writes need no place in the
        // vertices: they are +0 at every one.
        record_.storedAttributes = s.attributeCount;
        if (shaderVertices_) {
            while (record_.storedAttributes > 0 &&
                   (zero >> s.attributes[record_.storedAttributes - 1].source & 1u) != 0) {
                --record_.storedAttributes;
            }
        }
        geometry_ = buildGeometryTarget(state_, viewport_, preTransformed);
        preparedVersion_ = state_.version;
        recordQueued_ = false;
    }
    if (!recordQueued_) {
        recordIndex_ = batch().addDraw(record_);
        // The textures must outlive the queued draws that sample them.
        for (int i = 0; i < record_.state.stageCount; ++i) {
            if (record_.state.stages[i].sample) {
                textures_[i]->AddRef();
                held_[current_].push_back(textures_[i]);
            }
        }
        recordQueued_ = true;
    }
    return nullptr;
}

bool SoftDevice::shade(const SoftVertexBuffer& source, std::uint64_t offset, UINT stride,
                       UINT count, std::uint64_t available, bool asLanes, UINT& at) {
    ShadedVertices& s = shaded_;
    const bool valid = s.buffer == &source && s.contents == source.contents() &&
                       s.stateVersion == preparedVersion_ &&
                       s.constantsVersion == vertexConstantsVersion_ && s.stride == stride &&
                       s.asLanes == asLanes;
    if (valid && offset >= s.offset && (offset - s.offset) % stride == 0 &&
        (offset - s.offset) / stride + count <= s.count) {
        at = static_cast<UINT>((offset - s.offset) / stride);
        return true;
    }
    // Processing ahead pays only for draws that go on where the last one ended: then each
    // run doubles, up to SHADE_AHEAD. Anything else processes just what it draws.
    UINT run = count;
    if (valid && offset == s.offset + std::uint64_t{s.count} * stride) {
        const std::uint64_t fit = (available - vertexSize_) / stride + 1; // available >= one
        run = static_cast<UINT>(std::max<std::uint64_t>(
            count, std::min<std::uint64_t>({2ull * s.count, SHADE_AHEAD, fit})));
    }
    try {
        if (asLanes) {
            s.lanes.resize(run, 2 + record_.storedAttributes);
            shadeToLanes(source.data() + offset, stride, run);
        } else {
            s.vertices.resize(run);
            processVertices(source.data() + offset, stride, run, s.vertices.data());
        }
    } catch (const std::bad_alloc&) {
        s.buffer = nullptr;
        return false;
    }
    s.buffer = &source;
    s.contents = source.contents();
    s.stateVersion = preparedVersion_;
    s.constantsVersion = vertexConstantsVersion_;
    s.stride = stride;
    s.offset = offset;
    s.count = run;
    s.asLanes = asLanes;
    at = 0;
    return true;
}

void SoftDevice::shadeToLanes(const std::uint8_t* data, UINT stride, UINT count) {
    VertexRegisters& registers = *vertexRegisters_;
    const int stored = record_.storedAttributes;
    // The clip-space position, then the stored attributes.
    OutputSource sources[4 + MAX_ATTRIBUTES];
    for (int i = 0; i < 4 + stored; ++i) {
        sources[i] =
            outputSource(vertexShaderSetup_,
                         i < 4 ? i : static_cast<int>(record_.state.attributes[i - 4].source));
    }
    float scratch[4 + MAX_ATTRIBUTES][VERTEX_BATCH];
    const float* values[4 + MAX_ATTRIBUTES];
    for (UINT first = 0; first < count; first += VERTEX_BATCH) {
        shadeVertexBatch(vertexShaderSetup_, data, stride, first, count, registers);
        for (int i = 0; i < 4 + stored; ++i) {
            values[i] = shadedValues(sources[i], registers, scratch[i]);
        }
        projectToLanes(geometry_, values, values + 4, stored,
                       std::min<UINT>(VERTEX_BATCH, count - first), shaded_.lanes, first);
    }
}

HRESULT SoftDevice::draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const std::uint8_t* data,
                         std::uint64_t available, UINT stride, const SoftVertexBuffer* source,
                         std::uint64_t sourceOffset) {
    if (!inScene_) {
        return invalid("a draw outside BeginScene and EndScene");
    }
    std::uint64_t vertexCount = 0;
    switch (type) {
    case D3DPT_POINTLIST:
        vertexCount = primitiveCount;
        break;
    case D3DPT_TRIANGLELIST:
        vertexCount = 3ull * primitiveCount;
        break;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        vertexCount = primitiveCount + 2ull;
        break;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP:
        return refuse("lines");
    default:
        return D3DERR_INVALIDCALL;
    }
    if (primitiveCount == 0) {
        return D3D_OK;
    }
    if (primitiveCount > MAX_PRIMITIVES) {
        return invalid("a draw with more primitives than the device takes");
    }
    if (state_.fvf == 0 && declaration_ == nullptr) {
        return invalid("a draw without a vertex format or declaration");
    }
    if (const char* unsupported = prepareDraw()) {
        return refuse(unsupported);
    }
    if (stride < vertexSize_) {
        return invalid("a vertex stride smaller than the vertex format");
    }
    if ((vertexCount - 1) * stride + vertexSize_ > available) {
        return invalid("a draw reading past the end of its vertex buffer");
    }
    // Large draws go in pieces, each rasterized while it is still in cache if it fills the
    // queue. Strips are cut at even primitives so that every triangle keeps its winding; a
    // fan shares its first vertex and goes whole.
    const UINT piece = type == D3DPT_TRIANGLEFAN ? primitiveCount : DRAW_PIECE;
    for (UINT first = 0; first < primitiveCount; first += piece) {
        const UINT count = std::min(piece, primitiveCount - first);
        UINT firstVertex = first;
        UINT pieceVertices = count;
        if (type == D3DPT_TRIANGLELIST) {
            firstVertex = 3 * first;
            pieceVertices = 3 * count;
        } else if (type != D3DPT_POINTLIST) {
            pieceVertices = count + 2;
        }
        const std::uint64_t pieceOffset = std::uint64_t{firstVertex} * stride;
        const VertexOutput* vertices = nullptr;
        if (source != nullptr && stride != 0 && shaderVertices_ && !referenceVertices_) {
            // Strips drawn wide take their vertices projected, straight from the shader.
            const bool asLanes = type == D3DPT_TRIANGLESTRIP && stripsFromLanes(record_);
            UINT at = 0;
            if (!shade(*source, sourceOffset + pieceOffset, stride, pieceVertices,
                       available - pieceOffset, asLanes, at)) {
                return E_OUTOFMEMORY;
            }
            if (!asLanes) {
                vertices = shaded_.vertices.data() + at;
            } else {
                if (!recordQueued_) {
                    prepareDraw(); // the queue was drawn: the record goes in again
                }
                if (batch().addStrip(recordIndex_, geometry_, shaded_.lanes, at, pieceVertices,
                                     count)) {
                    afterDraw();
                    continue;
                }
            }
        }
        if (vertices == nullptr) {
            // Vertices in the caller's memory, or a strip whose lanes reach outside a clip
            // plane: it is clipped from processed vertices.
            try {
                vertices_.resize(pieceVertices);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            processVertices(data + pieceOffset, stride, pieceVertices, vertices_.data());
            vertices = vertices_.data();
        }
        if (!recordQueued_) {
            prepareDraw(); // the queue was drawn: the record goes in again
        }
        batch().addPrimitives(recordIndex_, geometry_, type, vertices, pieceVertices, count);
        afterDraw();
    }
    return D3D_OK;
}

HRESULT SoftDevice::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                  UINT PrimitiveCount) {
    if (stream_ == nullptr) {
        return invalid("a draw with no vertex buffer on stream 0");
    }
    const std::uint64_t start =
        streamOffset_ + static_cast<std::uint64_t>(StartVertex) * streamStride_;
    if (start > stream_->size()) {
        return invalid("a draw reading past the end of its vertex buffer");
    }
    return draw(PrimitiveType, PrimitiveCount, stream_->data() + start, stream_->size() - start,
                streamStride_, stream_, start);
}

HRESULT SoftDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                    const void* pVertexStreamZeroData,
                                    UINT VertexStreamZeroStride) {
    if (pVertexStreamZeroData == nullptr || VertexStreamZeroStride == 0) {
        return D3DERR_INVALIDCALL;
    }
    const HRESULT result =
        draw(PrimitiveType, PrimitiveCount, static_cast<const std::uint8_t*>(pVertexStreamZeroData),
             ~std::uint64_t{0}, VertexStreamZeroStride);
    // Drawing from memory leaves stream 0 unbound.
    SetStreamSource(0, nullptr, 0, 0);
    return result;
}

} // namespace tessivane::platform::soft
