// The reference device's shader programs, their constants and vertex declarations.
#include "platform/soft/soft_device.h"

#include <cstring>

namespace tessivane::platform::soft {

namespace {

// Replaces a bound object by another of this device (or null), keeping one reference.
template <class Object, class Interface>
HRESULT bind(const DeviceLinkPtr& link, Interface* given, Object*& bound, bool& changed) {
    Object* object = nullptr;
    if (given != nullptr) {
        object = dynamic_cast<Object*>(given);
        if (object == nullptr || object->link() != link) {
            return D3DERR_INVALIDCALL;
        }
    }
    changed = object != bound;
    if (changed) {
        if (object != nullptr) {
            object->AddRef();
        }
        if (bound != nullptr) {
            bound->Release();
        }
        bound = object;
    }
    return D3D_OK;
}

template <class Object, class Interface>
HRESULT lend(Object* bound, Interface** out) {
    if (out == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *out = bound;
    if (bound != nullptr) {
        bound->AddRef();
    }
    return D3D_OK;
}

bool inRange(UINT start, UINT count, UINT registers) {
    return start <= registers && count <= registers - start;
}

} // namespace

void SoftDevice::useReferenceVertexPath(bool on) {
    referenceVertices_ = on;
    shaded_.buffer = nullptr;
}

HRESULT SoftDevice::CreateVertexShader(const DWORD* pFunction, IDirect3DVertexShader9** ppShader) {
    return SoftVertexShader::create(link_, pFunction, ppShader);
}

HRESULT SoftDevice::CreatePixelShader(const DWORD* pFunction, IDirect3DPixelShader9** ppShader) {
    return SoftPixelShader::create(link_, pFunction, ppShader);
}

HRESULT SoftDevice::SetVertexShader(IDirect3DVertexShader9* pShader) {
    bool changed = false;
    if (FAILED(bind(link_, pShader, vertexShader_, changed))) {
        return invalid("the vertex shader belongs to another device");
    }
    if (changed) {
        ++state_.version;
    }
    return D3D_OK;
}

HRESULT SoftDevice::GetVertexShader(IDirect3DVertexShader9** ppShader) {
    return lend(vertexShader_, ppShader);
}

HRESULT SoftDevice::SetPixelShader(IDirect3DPixelShader9* pShader) {
    bool changed = false;
    if (FAILED(bind(link_, pShader, pixelShader_, changed))) {
        return invalid("the pixel shader belongs to another device");
    }
    if (changed) {
        ++state_.version;
    }
    return D3D_OK;
}

HRESULT SoftDevice::GetPixelShader(IDirect3DPixelShader9** ppShader) {
    return lend(pixelShader_, ppShader);
}

// Vertex shader constants are read when a draw's vertices are processed, at the call, so
// changing them does not touch the queued draws.
HRESULT SoftDevice::SetVertexShaderConstantF(UINT StartRegister, const float* pConstantData,
                                             UINT Vector4fCount) {
    if (pConstantData == nullptr || !inRange(StartRegister, Vector4fCount, VERTEX_CONSTANTS)) {
        return D3DERR_INVALIDCALL;
    }
    std::memcpy(vertexConstants_[StartRegister], pConstantData, sizeof(float) * 4 * Vector4fCount);
    ++vertexConstantsVersion_;
    return D3D_OK;
}

HRESULT SoftDevice::GetVertexShaderConstantF(UINT StartRegister, float* pConstantData,
                                             UINT Vector4fCount) {
    if (pConstantData == nullptr || !inRange(StartRegister, Vector4fCount, VERTEX_CONSTANTS)) {
        return D3DERR_INVALIDCALL;
    }
    std::memcpy(pConstantData, vertexConstants_[StartRegister], sizeof(float) * 4 * Vector4fCount);
    return D3D_OK;
}

// Pixel shader constants go with each queued draw.
HRESULT SoftDevice::SetPixelShaderConstantF(UINT StartRegister, const float* pConstantData,
                                            UINT Vector4fCount) {
    if (pConstantData == nullptr ||
        !inRange(StartRegister, Vector4fCount, PIXEL_SHADER_CONSTANTS)) {
        return D3DERR_INVALIDCALL;
    }
    std::memcpy(pixelConstants_[StartRegister], pConstantData, sizeof(float) * 4 * Vector4fCount);
    ++state_.version;
    return D3D_OK;
}

HRESULT SoftDevice::GetPixelShaderConstantF(UINT StartRegister, float* pConstantData,
                                            UINT Vector4fCount) {
    if (pConstantData == nullptr ||
        !inRange(StartRegister, Vector4fCount, PIXEL_SHADER_CONSTANTS)) {
        return D3DERR_INVALIDCALL;
    }
    std::memcpy(pConstantData, pixelConstants_[StartRegister], sizeof(float) * 4 * Vector4fCount);
    return D3D_OK;
}

HRESULT SoftDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                            IDirect3DVertexDeclaration9** ppDecl) {
    return SoftVertexDeclaration::create(link_, pVertexElements, ppDecl);
}

HRESULT SoftDevice::SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) {
    bool changed = false;
    if (FAILED(bind(link_, pDecl, declaration_, changed))) {
        return invalid("the vertex declaration belongs to another device");
    }
    // A declaration replaces the vertex format.
    if (changed || state_.fvf != 0) {
        state_.fvf = 0;
        ++state_.version;
    }
    return D3D_OK;
}

HRESULT SoftDevice::GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) {
    return lend(declaration_, ppDecl);
}

} // namespace tessivane::platform::soft
