// The reference device's vertex declarations and shader programs. Each is checked and
// brought into the form the device runs once, when it is created.
#pragma once

#include "platform/d3d9.h"
#include "platform/ref_counted.h"
#include "platform/shader/shader_program.h"
#include "platform/soft/pixel_state.h"
#include "platform/soft/resources.h"
#include "platform/soft/vertex_program.h"

#include <string>
#include <vector>

namespace tessivane::platform::soft {

class SoftVertexDeclaration final : public RefCounted<IDirect3DVertexDeclaration9> {
public:
    // Reads elements up to D3DDECL_END() and validates them; D3DERR_INVALIDCALL, with the
    // reason as the last error, for a declaration the device cannot read.
    static HRESULT create(DeviceLinkPtr link, const D3DVERTEXELEMENT9* elements,
                          IDirect3DVertexDeclaration9** declaration);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) override;

    const DeviceLinkPtr& link() const { return link_; }
    const std::vector<VertexElement>& elements() const { return elements_; }
    // Bytes from the start of a vertex to the end of its last element.
    UINT vertexSize() const { return vertexSize_; }
    // The same vertex as the fixed-function stage reads it; false, with the reason, when the
    // declaration has no flexible-vertex-format equivalent.
    bool fixedFunctionLayout(VertexLayout& layout, const char*& unsupported) const;

private:
    explicit SoftVertexDeclaration(DeviceLinkPtr link) : link_(std::move(link)) {}
    ~SoftVertexDeclaration() override = default;

    DeviceLinkPtr link_;
    std::vector<D3DVERTEXELEMENT9> declared_; // as given, end marker included
    std::vector<VertexElement> elements_;
    UINT vertexSize_ = 0;
};

class SoftVertexShader final : public RefCounted<IDirect3DVertexShader9> {
public:
    // Decodes the stream; E_FAIL, with the decoder's reason as the last error, when refused.
    static HRESULT create(DeviceLinkPtr link, const DWORD* function,
                          IDirect3DVertexShader9** shader);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT GetFunction(void* pData, UINT* pSizeOfData) override;

    const DeviceLinkPtr& link() const { return link_; }
    const shader::ShaderProgram& decoded() const { return decoded_; }
    const VertexProgram& program() const { return program_; }

private:
    explicit SoftVertexShader(DeviceLinkPtr link) : link_(std::move(link)) {}
    ~SoftVertexShader() override = default;

    DeviceLinkPtr link_;
    std::vector<DWORD> tokens_;
    shader::ShaderProgram decoded_;
    VertexProgram program_;
};

class SoftPixelShader final : public RefCounted<IDirect3DPixelShader9> {
public:
    // As SoftVertexShader::create.
    static HRESULT create(DeviceLinkPtr link, const DWORD* function,
                          IDirect3DPixelShader9** shader);

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT GetFunction(void* pData, UINT* pSizeOfData) override;

    const DeviceLinkPtr& link() const { return link_; }
    // The shader's state for a draw: its steps, and its constants from the device's
    // registers with its own definitions in their place, in the range -1..1 that pixel
    // shaders of these versions hold constants in.
    void fill(const float (*constants)[4], PixelShaderState& state) const;

private:
    explicit SoftPixelShader(DeviceLinkPtr link) : link_(std::move(link)) {}
    ~SoftPixelShader() override = default;

    DeviceLinkPtr link_;
    std::vector<DWORD> tokens_;
    PixelShaderState code_; // constants unused
    std::vector<shader::ConstantDefinition> defined_;
};

} // namespace tessivane::platform::soft
