#include "platform/soft/shader_objects.h"

#include "platform/soft/soft_device.h"
#include "platform/window_internal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <span>
#include <string>

namespace tessivane::platform::soft {

namespace {

// The longest token stream taken, in DWORDs: far beyond any program of these versions.
constexpr std::size_t MAX_SHADER_TOKENS = 1 << 16;

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

// Something the device does not draw: named once on stderr.
HRESULT refuse(const std::string& what) {
    detail::reportUnsupported(what.c_str());
    detail::setLastError("the reference device cannot draw with " + what);
    return D3DERR_INVALIDCALL;
}

HRESULT refuseDeclaration(const char* why) {
    detail::setLastError(std::string("vertex declaration refused: ") + why);
    return D3DERR_INVALIDCALL;
}

// Decodes the stream at function, which runs up to its end token; the decoder reads no
// further than that, so the bound only caps a stream that never ends.
bool decodeStream(const DWORD* function, shader::ShaderStage stage, shader::ShaderProgram& program,
                  std::vector<DWORD>& tokens) {
    std::string error;
    if (!shader::decodeShader(std::span<const std::uint32_t>(function, MAX_SHADER_TOKENS), stage,
                              program, error)) {
        detail::setLastError(
            std::string(stage == shader::ShaderStage::Vertex ? "vertex" : "pixel") +
            " shader refused: " + error);
        return false;
    }
    tokens.assign(function, function + program.tokenCount);
    return true;
}

HRESULT copyFunction(const std::vector<DWORD>& tokens, void* data, UINT* size) {
    if (size == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    const auto bytes = static_cast<UINT>(tokens.size() * sizeof(DWORD));
    if (data == nullptr) {
        *size = bytes;
        return D3D_OK;
    }
    if (*size < bytes) {
        return D3DERR_INVALIDCALL;
    }
    std::memcpy(data, tokens.data(), bytes);
    *size = bytes;
    return D3D_OK;
}

std::uint8_t pixelRegister(shader::RegisterFile file, std::uint8_t index) {
    switch (file) {
    case shader::RegisterFile::Temp:
        return static_cast<std::uint8_t>(REG_TEMP0 + index);
    case shader::RegisterFile::Input:
        return index == 0 ? REG_DIFFUSE : REG_SPECULAR;
    case shader::RegisterFile::Texture:
        return static_cast<std::uint8_t>(REG_TEX0 + index);
    default:
        return index; // a constant
    }
}

ShaderOp pixelOp(shader::Opcode opcode) {
    switch (opcode) {
    case shader::Opcode::Add:
        return ShaderOp::Add;
    case shader::Opcode::Sub:
        return ShaderOp::Sub;
    case shader::Opcode::Mul:
        return ShaderOp::Mul;
    case shader::Opcode::Mad:
        return ShaderOp::Mad;
    case shader::Opcode::Dp3:
        return ShaderOp::Dp3;
    default:
        return ShaderOp::Mov;
    }
}

float constantInRange(float v) {
    return v > -1.0f ? (v < 1.0f ? v : 1.0f) : -1.0f; // NaN becomes -1
}

} // namespace

// ---- SoftVertexDeclaration

HRESULT SoftVertexDeclaration::create(DeviceLinkPtr link, const D3DVERTEXELEMENT9* elements,
                                      IDirect3DVertexDeclaration9** declaration) {
    if (elements == nullptr || declaration == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *declaration = nullptr;
    auto* created = new (std::nothrow) SoftVertexDeclaration(std::move(link));
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = D3D_OK;
    UINT count = 0;
    for (;; ++count) {
        const D3DVERTEXELEMENT9& e = elements[count];
        created->declared_.push_back(e);
        if (e.Stream == 0xFF) {
            break;
        }
        if (count == MAXD3DDECLLENGTH) {
            result = refuseDeclaration("more elements than a declaration holds, or no end");
            break;
        }
        if (e.Stream != 0) {
            result = refuse("vertex streams beyond the first");
            break;
        }
        const int size = elementSize(e.Type);
        if (size == 0) {
            result = e.Type < D3DDECLTYPE_UNUSED
                         ? refuse("vertex element type " + std::to_string(e.Type))
                         : refuseDeclaration("an unknown element type");
            break;
        }
        if (e.Method != D3DDECLMETHOD_DEFAULT) {
            result = refuse("tessellation methods in a vertex declaration");
            break;
        }
        if (e.Usage > D3DDECLUSAGE_SAMPLE || e.UsageIndex > 15 || e.Offset % 4 != 0) {
            result = refuseDeclaration("an unknown usage, a usage index above 15 or an "
                                       "offset that is not a multiple of 4");
            break;
        }
        bool repeated = false;
        for (const VertexElement& earlier : created->elements_) {
            repeated = repeated || (earlier.usage == e.Usage && earlier.usageIndex == e.UsageIndex);
        }
        if (repeated) {
            result = refuseDeclaration("two elements with the same usage and usage index");
            break;
        }
        created->elements_.push_back({e.Offset, e.Type, e.Usage, e.UsageIndex});
        created->vertexSize_ = std::max(created->vertexSize_, UINT{e.Offset} + UINT(size));
    }
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *declaration = created;
    return D3D_OK;
}

HRESULT SoftVertexDeclaration::GetDevice(IDirect3DDevice9** ppDevice) {
    return lendDevice(link_, ppDevice);
}

HRESULT SoftVertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) {
    if (pNumElements == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    const auto count = static_cast<UINT>(declared_.size());
    if (pElement != nullptr) {
        if (*pNumElements < count) {
            return D3DERR_INVALIDCALL;
        }
        std::memcpy(pElement, declared_.data(), count * sizeof(D3DVERTEXELEMENT9));
    }
    *pNumElements = count;
    return D3D_OK;
}

bool SoftVertexDeclaration::fixedFunctionLayout(VertexLayout& layout,
                                                const char*& unsupported) const {
    layout = VertexLayout{};
    unsupported = "a vertex declaration without a flexible-vertex-format equivalent";
    bool position = false;
    int texcoordSets = 0;
    for (const VertexElement& e : elements_) {
        const auto offset = static_cast<int>(e.offset);
        switch (e.usage) {
        case D3DDECLUSAGE_POSITION:
        case D3DDECLUSAGE_POSITIONT:
            if (e.usageIndex != 0 || e.offset != 0 ||
                e.type !=
                    (e.usage == D3DDECLUSAGE_POSITION ? D3DDECLTYPE_FLOAT3 : D3DDECLTYPE_FLOAT4)) {
                return false;
            }
            position = true;
            layout.preTransformed = e.usage == D3DDECLUSAGE_POSITIONT;
            break;
        case D3DDECLUSAGE_NORMAL:
            if (e.usageIndex != 0 || e.type != D3DDECLTYPE_FLOAT3) {
                return false;
            }
            layout.normal = offset;
            break;
        case D3DDECLUSAGE_COLOR:
            if (e.usageIndex > 1 || e.type != D3DDECLTYPE_D3DCOLOR) {
                return false;
            }
            (e.usageIndex == 0 ? layout.diffuse : layout.specular) = offset;
            break;
        case D3DDECLUSAGE_TEXCOORD:
            if (e.usageIndex >= 8 || e.type > D3DDECLTYPE_FLOAT4) {
                return false;
            }
            layout.texcoord[e.usageIndex] = offset;
            layout.texcoordSize[e.usageIndex] = e.type - D3DDECLTYPE_FLOAT1 + 1;
            texcoordSets |= 1 << e.usageIndex;
            break;
        default:
            return false;
        }
    }
    // Coordinate sets are numbered from 0 without gaps.
    if (!position || (texcoordSets & (texcoordSets + 1)) != 0) {
        return false;
    }
    layout.texcoordCount = std::popcount(static_cast<unsigned>(texcoordSets));
    layout.size = vertexSize_;
    unsupported = nullptr;
    return true;
}

// ---- SoftVertexShader

HRESULT SoftVertexShader::create(DeviceLinkPtr link, const DWORD* function,
                                 IDirect3DVertexShader9** shader) {
    if (function == nullptr || shader == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *shader = nullptr;
    auto* created = new (std::nothrow) SoftVertexShader(std::move(link));
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (!decodeStream(function, shader::ShaderStage::Vertex, created->decoded_, created->tokens_)) {
        created->Release();
        return E_FAIL;
    }
    created->program_ = compileVertexProgram(created->decoded_);
    *shader = created;
    return D3D_OK;
}

HRESULT SoftVertexShader::GetDevice(IDirect3DDevice9** ppDevice) {
    return lendDevice(link_, ppDevice);
}

HRESULT SoftVertexShader::GetFunction(void* pData, UINT* pSizeOfData) {
    return copyFunction(tokens_, pData, pSizeOfData);
}

// ---- SoftPixelShader

HRESULT SoftPixelShader::create(DeviceLinkPtr link, const DWORD* function,
                                IDirect3DPixelShader9** shader) {
    if (function == nullptr || shader == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *shader = nullptr;
    auto* created = new (std::nothrow) SoftPixelShader(std::move(link));
    if (created == nullptr) {
        return E_OUTOFMEMORY;
    }
    shader::ShaderProgram program;
    if (!decodeStream(function, shader::ShaderStage::Pixel, program, created->tokens_)) {
        created->Release();
        return E_FAIL;
    }
    PixelShaderState& code = created->code_;
    code.active = true;
    code.texturesSampled = program.texturesSampled;
    for (const shader::Instruction& in : program.instructions) {
        if (in.opcode == shader::Opcode::Tex) {
            continue; // the samples are taken before any arithmetic
        }
        ShaderStep& step = code.steps[code.stepCount++];
        step.op = pixelOp(in.opcode);
        step.sourceCount = in.sourceCount;
        step.dst = pixelRegister(in.destination.file, in.destination.index);
        step.mask = in.destination.mask;
        step.scale = std::ldexp(1.0f, in.destination.shift);
        step.saturate = in.destination.saturate;
        for (int i = 0; i < 3; ++i) {
            ShaderOperand& o = step.src[i];
            if (i >= in.sourceCount) {
                o = ShaderOperand{0, true, {0, 1, 2, 3}, 1.0f}; // unused: reads c0
                continue;
            }
            const shader::Source& s = in.sources[i];
            o.constant = s.file == shader::RegisterFile::Const;
            o.reg = pixelRegister(s.file, s.index);
            std::memcpy(o.swizzle, s.swizzle, sizeof o.swizzle);
            o.sign = s.negate ? -1.0f : 1.0f;
        }
        step.viaScratch = false;
        if (step.op != ShaderOp::Dp3) {
            for (int i = 0; i < step.sourceCount; ++i) {
                const ShaderOperand& o = step.src[i];
                for (int written = 0; written < 4 && !o.constant && o.reg == step.dst; ++written) {
                    for (int later = written + 1; later < 4; ++later) {
                        step.viaScratch = step.viaScratch ||
                                          ((step.mask >> written & 1) && (step.mask >> later & 1) &&
                                           o.swizzle[later] == written);
                    }
                }
            }
        }
    }
    created->defined_ = program.constants;
    *shader = created;
    return D3D_OK;
}

HRESULT SoftPixelShader::GetDevice(IDirect3DDevice9** ppDevice) {
    return lendDevice(link_, ppDevice);
}

HRESULT SoftPixelShader::GetFunction(void* pData, UINT* pSizeOfData) {
    return copyFunction(tokens_, pData, pSizeOfData);
}

void SoftPixelShader::fill(const float (*constants)[4], PixelShaderState& state) const {
    state = code_;
    for (int i = 0; i < PIXEL_SHADER_CONSTANTS; ++i) {
        for (int ch = 0; ch < 4; ++ch) {
            state.constants[i][ch] = constantInRange(constants[i][ch]);
        }
    }
    for (const shader::ConstantDefinition& d : defined_) {
        for (int ch = 0; ch < 4; ++ch) {
            state.constants[d.index][ch] = constantInRange(d.value[ch]);
        }
    }
}

} // namespace tessivane::platform::soft
