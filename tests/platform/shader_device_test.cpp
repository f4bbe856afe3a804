// Shader programs and vertex declarations on the reference device: creation and refusal,
// the compiled forms against the one-at-a-time readings, and what the show relies on.
#include "device_test_support.h"
#include "platform/soft/pixel_wide.h"
#include "platform/soft/vertex_program.h"
#include "platform/surface_memory.h"
#include "shaders/shader_assembler.h"
#include "shaders/show_shaders.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

namespace tessivane::platform::testing {
namespace {

using namespace tessivane::shaders;
using namespace tessivane::shaders::registers;

constexpr D3DVERTEXELEMENT9 QUAD_ELEMENTS[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

// The clip-space quad covering the whole target, u and v 0..1 across it.
constexpr QuadVertex FULL_QUAD[4] = {
    {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}};

// count texels of noise from a seed.
std::vector<std::uint32_t> noiseTexels(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint32_t> texels(count);
    for (std::uint32_t& t : texels) {
        seed = seed * 1664525u + 1013904223u;
        t = seed;
    }
    return texels;
}

template <std::size_t N>
std::vector<DWORD> words(const std::array<Word, N>& stream) {
    return std::vector<DWORD>(stream.begin(), stream.end());
}

class Shaders : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        create(2);
    }
    void TearDown() override {
        for (IUnknown* object : owned) {
            object->Release();
        }
        owned.clear();
        soft::enableWideOperations(true);
        DeviceTest::TearDown();
    }
    template <class T>
    T* own(T* object) {
        if (object != nullptr) {
            owned.push_back(object);
        }
        return object;
    }
    IDirect3DVertexShader9* vertexShader(const std::vector<DWORD>& tokens) {
        IDirect3DVertexShader9* shader = nullptr;
        EXPECT_EQ(device->CreateVertexShader(tokens.data(), &shader), D3D_OK)
            << lastPlatformError();
        return own(shader);
    }
    IDirect3DPixelShader9* pixelShader(const std::vector<DWORD>& tokens) {
        IDirect3DPixelShader9* shader = nullptr;
        EXPECT_EQ(device->CreatePixelShader(tokens.data(), &shader), D3D_OK) << lastPlatformError();
        return own(shader);
    }
    IDirect3DVertexDeclaration9* declaration(const D3DVERTEXELEMENT9* elements) {
        IDirect3DVertexDeclaration9* declaration = nullptr;
        EXPECT_EQ(device->CreateVertexDeclaration(elements, &declaration), D3D_OK);
        return own(declaration);
    }
    // Both faces drawn, every pixel added to the target, no depth test.
    void addedUpWithoutDepth() {
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    }
    // Stages 0..3 filter bilinearly with clamped addressing, as the streak passes do.
    void clampedBilinearStages() {
        for (DWORD s = 0; s < 4; ++s) {
            device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
            device->SetSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        }
    }
    // A new size x size render-target texture of the format, made the target; its surface,
    // or null when it cannot be made.
    IDirect3DSurface9* drawInto(UINT size, D3DFORMAT format) {
        IDirect3DTexture9* targetTexture = nullptr;
        EXPECT_EQ(device->CreateTexture(size, size, 1, D3DUSAGE_RENDERTARGET, format,
                                        D3DPOOL_DEFAULT, &targetTexture, nullptr),
                  D3D_OK);
        if (own(targetTexture) == nullptr) {
            return nullptr;
        }
        IDirect3DSurface9* target = nullptr;
        targetTexture->GetSurfaceLevel(0, &target);
        own(target);
        device->SetRenderTarget(0, target);
        return target;
    }
    // A vertex buffer holding the vertices, or null where it cannot be made.
    IDirect3DVertexBuffer9* vertexBuffer(const std::vector<QuadVertex>& vertices) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        const auto bytes = static_cast<UINT>(vertices.size() * sizeof(QuadVertex));
        EXPECT_EQ(device->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr),
                  D3D_OK);
        void* data = nullptr;
        if (own(buffer) == nullptr || buffer->Lock(0, 0, &data, 0) != D3D_OK) {
            return nullptr;
        }
        std::memcpy(data, vertices.data(), bytes);
        buffer->Unlock();
        return buffer;
    }
    // Draws take their vertices (QuadVertex) from the buffer through the program, and stage 0
    // samples the texture bilinearly.
    void drawFromBuffer(IDirect3DVertexShader9* program, IDirect3DVertexBuffer9* buffer,
                        IDirect3DTexture9* texture) {
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetTexture(0, texture);
        device->SetVertexDeclaration(declaration(QUAD_ELEMENTS));
        device->SetVertexShader(program);
        device->SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
    }
    IDirect3DTexture9* ownTexture(UINT width, UINT height, const std::vector<std::uint32_t>& t) {
        return own(texture(width, height, D3DFMT_X8R8G8B8, t));
    }
    // The full-screen quad through the copying vertex shader and the given pixel shader.
    void drawFullQuad(IDirect3DPixelShader9* pixel) {
        if (copy == nullptr) {
            copy = vertexShader(words(QUAD_COPY));
            quad = declaration(QUAD_ELEMENTS);
        }
        device->SetVertexDeclaration(quad);
        device->SetVertexShader(copy);
        device->SetPixelShader(pixel);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, FULL_QUAD, sizeof(QuadVertex)),
                  D3D_OK);
    }

    static constexpr auto QUAD_COPY =
        assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0), mov(oT0, v1),
                 mov(oT1, v1), mov(oT2, v1), mov(oT3, v1));

    std::vector<IUnknown*> owned;
    IDirect3DVertexShader9* copy = nullptr;
    IDirect3DVertexDeclaration9* quad = nullptr;
};

TEST_F(Shaders, ShowProgramsAreCreatedOnceAndGiveTheirStreamsBack) {
    for (int i = 0; i < 3; ++i) {
        const auto stream = metaballPixelShader(i);
        IDirect3DPixelShader9* shader = pixelShader({stream.begin(), stream.end()});
        ASSERT_NE(shader, nullptr);
        UINT size = 0;
        ASSERT_EQ(shader->GetFunction(nullptr, &size), D3D_OK);
        ASSERT_EQ(size, stream.size() * 4);
        std::vector<DWORD> back(stream.size());
        ASSERT_EQ(shader->GetFunction(back.data(), &size), D3D_OK);
        EXPECT_TRUE(std::equal(back.begin(), back.end(), stream.begin()));
    }
    const auto tube = tubeVertexShader();
    IDirect3DVertexShader9* shader = vertexShader({tube.begin(), tube.end()});
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(shader->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device);
    owner->Release();
    // Bound, a shader keeps a reference; the device lends one out.
    device->SetVertexShader(shader);
    IDirect3DVertexShader9* bound = nullptr;
    ASSERT_EQ(device->GetVertexShader(&bound), D3D_OK);
    EXPECT_EQ(bound, shader);
    bound->Release();
    device->SetVertexShader(nullptr);
    ASSERT_EQ(device->GetVertexShader(&bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
}

TEST_F(Shaders, MalformedStreamsAreRefusedAndSayWhy) {
    auto stream = words(assemble(VS_1_1, dcl_position(v0), mov(oPos, v0)));
    stream[4] = 0x00000013; // an instruction the version does not have
    IDirect3DVertexShader9* vertex = nullptr;
    EXPECT_EQ(device->CreateVertexShader(stream.data(), &vertex), E_FAIL);
    EXPECT_EQ(vertex, nullptr);
    EXPECT_NE(std::string(lastPlatformError()).find("vertex shader refused"), std::string::npos);
    const auto vertexStream = words(assemble(VS_1_1, dcl_position(v0), mov(oPos, v0)));
    IDirect3DPixelShader9* pixel = nullptr;
    EXPECT_EQ(device->CreatePixelShader(vertexStream.data(), &pixel), E_FAIL);
    EXPECT_EQ(pixel, nullptr);
    EXPECT_EQ(device->CreatePixelShader(nullptr, &pixel), D3DERR_INVALIDCALL);
}

TEST_F(Shaders, DeclarationsAndVertexFormatsReplaceEachOther) {
    IDirect3DVertexDeclaration9* quadDeclaration = declaration(QUAD_ELEMENTS);
    UINT count = 0;
    ASSERT_EQ(quadDeclaration->GetDeclaration(nullptr, &count), D3D_OK);
    ASSERT_EQ(count, 3u);
    D3DVERTEXELEMENT9 back[3];
    ASSERT_EQ(quadDeclaration->GetDeclaration(back, &count), D3D_OK);
    EXPECT_EQ(back[1].Offset, 12);
    EXPECT_EQ(back[2].Stream, 0xFF);

    device->SetFVF(QUAD_FVF);
    device->SetVertexDeclaration(quadDeclaration);
    DWORD fvf = 1;
    device->GetFVF(&fvf);
    EXPECT_EQ(fvf, 0u);
    device->SetFVF(QUAD_FVF);
    IDirect3DVertexDeclaration9* bound = quadDeclaration;
    ASSERT_EQ(device->GetVertexDeclaration(&bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);

    auto refused = [&](std::vector<D3DVERTEXELEMENT9> elements, const char* why) {
        SCOPED_TRACE(why);
        elements.push_back(D3DDECL_END());
        IDirect3DVertexDeclaration9* d = nullptr;
        EXPECT_EQ(device->CreateVertexDeclaration(elements.data(), &d), D3DERR_INVALIDCALL);
        EXPECT_EQ(d, nullptr);
    };
    refused({{1, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}}, "a second stream");
    refused({{0, 2, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}}, "an unaligned offset");
    refused({{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
             {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}},
            "one usage twice");
    refused({{0, 0, D3DDECLTYPE_DEC3N, 0, D3DDECLUSAGE_POSITION, 0}}, "a type not read");
    refused({{0, 0, D3DDECLTYPE_FLOAT3, 0, 14, 0}}, "an unknown usage");
    std::vector<D3DVERTEXELEMENT9> endless(70, {0, 0, D3DDECLTYPE_FLOAT1, 0, 0, 0});
    for (std::size_t i = 0; i < endless.size(); ++i) {
        endless[i].UsageIndex = static_cast<BYTE>(i % 16);
        endless[i].Usage = static_cast<BYTE>(i / 16);
    }
    IDirect3DVertexDeclaration9* d = nullptr;
    EXPECT_EQ(device->CreateVertexDeclaration(endless.data(), &d), D3DERR_INVALIDCALL);
}

TEST_F(Shaders, ConstantRegistersHaveTheirVersionsRanges) {
    const float four[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    float back[8] = {};
    EXPECT_EQ(device->SetVertexShaderConstantF(254, four, 2), D3D_OK);
    EXPECT_EQ(device->GetVertexShaderConstantF(254, back, 2), D3D_OK);
    EXPECT_EQ(back[7], 8.0f);
    EXPECT_EQ(device->SetVertexShaderConstantF(255, four, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetVertexShaderConstantF(0xFFFFFFFF, four, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetPixelShaderConstantF(6, four, 2), D3D_OK);
    EXPECT_EQ(device->SetPixelShaderConstantF(7, four, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->GetPixelShaderConstantF(0, back, 1), D3D_OK);
    EXPECT_EQ(back[0], 0.0f); // registers start at zero
}

// ---- Vertex programs

// Runs a vertex program both ways over vertices of (position, texcoord) and returns the
// compiled outputs, having checked they are the reference outputs bit for bit.
// The program over count vertices stride bytes apart at data, whose elements are as given.
std::vector<soft::VertexOutput> runBothWays(const std::vector<DWORD>& tokens,
                                            const std::uint8_t* data, UINT stride, UINT count,
                                            const std::vector<soft::VertexElement>& elements,
                                            const float (*constants)[4]) {
    shader::ShaderProgram decoded;
    std::string error;
    EXPECT_TRUE(shader::decodeShader(tokens, shader::ShaderStage::Vertex, decoded, error)) << error;
    const soft::VertexProgram program = soft::compileVertexProgram(decoded);
    soft::VertexShaderSetup setup;
    setup.program = &program;
    setup.fetch = soft::bindVertexInputs(program, elements);
    setup.constants = constants;
    for (int s = 0; s < soft::MAX_STAGES; ++s) {
        setup.stageSet[s] = s;
    }
    std::vector<soft::VertexOutput> compiled(count), reference(count);
    auto registers = std::make_unique<soft::VertexRegisters>();
    soft::runVertexProgram(setup, data, stride, count, *registers, compiled.data());
    soft::runVertexProgramReference(decoded, setup, data, stride, count, reference.data());
    // The same floats bit for bit, but for which NaN: the one an operation passes on when
    // both operands are NaN depends on their order, and every NaN is treated alike later.
    const auto* a = reinterpret_cast<const float*>(compiled.data());
    const auto* b = reinterpret_cast<const float*>(reference.data());
    int differ = 0;
    for (std::size_t i = 0; i < count * sizeof(soft::VertexOutput) / sizeof(float); ++i) {
        const bool same = std::isnan(a[i]) ? std::isnan(b[i])
                                           : std::bit_cast<std::uint32_t>(a[i]) ==
                                                 std::bit_cast<std::uint32_t>(b[i]);
        if (!same && ++differ < 5) {
            ADD_FAILURE() << "float " << i << ": " << a[i] << " against " << b[i];
        }
    }
    return compiled;
}

// The same for QuadVertex: the position, then the texture coordinates.
std::vector<soft::VertexOutput> runBothWays(const std::vector<DWORD>& tokens,
                                            const std::vector<QuadVertex>& vertices,
                                            const float (*constants)[4]) {
    return runBothWays(tokens, reinterpret_cast<const std::uint8_t*>(vertices.data()),
                       sizeof(QuadVertex), static_cast<UINT>(vertices.size()),
                       {{0, D3DDECLTYPE_FLOAT3, 0, 0}, {12, D3DDECLTYPE_FLOAT2, 5, 0}}, constants);
}

// Constants c0 to c(count - 1) of both signs and several sizes, and count vertices along a
// curve, for programs run both ways.
void variedConstants(float (*constants)[4], int count) {
    for (int c = 0; c < count; ++c) {
        for (int ch = 0; ch < 4; ++ch) {
            constants[c][ch] = 0.125f * static_cast<float>((c * 5 + ch * 3) % 11) - 0.6f;
        }
    }
}

std::vector<QuadVertex> variedVertices(int count) {
    std::vector<QuadVertex> vertices;
    for (int i = 0; i < count; ++i) {
        const float a = 0.3f * static_cast<float>(i) - 6.0f;
        vertices.push_back({a, 1.5f - a, a * a * 0.1f, 0.7f * a, a - 0.25f});
    }
    return vertices;
}

TEST(VertexPrograms, CompiledBatchesMatchTheOneAtATimeReading) {
    const Register oD0{ATTROUT, 0};
    const Register r4{TEMP, 4}, r5{TEMP, 5};
    constexpr Word MIN = 10, MAX = 11;
    // Every instruction, with masks, swizzles, negation, a definition and components read
    // after the same instruction wrote them.
    const auto stream = words(assemble(
        VS_1_1, dcl_position(v0), dcl_texcoord(v1), def(c5, 0.5f, -2.0f, 0.0f, 1.0f), mov(oPos, v0),
        mov(r0, v0.swizzled(Y, Z, W, X)), add(r0.xy, r0, -c1), mul(r1, v1.swizzled(X, Y, X, Y), c5),
        mad(r2, r1, c2.x, -r0), sub(r3, r2, v0.z), binary(MIN, r4, r3, r1), binary(MAX, r5, r3, r1),
        rcp(r0.w, r1.y), rsq(r1.z, r2.x), dp3(r2.y, r0, r4), dp4(r2.w, r5, c3),
        mov(r0, r0.swizzled(W, Z, Y, X)), mov(oT0, r0), mov(oT1.xy, r2.swizzled(Y, W, X, X)),
        mov(oD0, r4), add(oT2, r5, r1), mov(oT3.x, r1.z)));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    constants[1][0] = 0.25f;
    constants[1][1] = -3.0f;
    constants[2][0] = 1.5f;
    constants[3][0] = 2.0f;
    constants[3][3] = -1.0f;
    constants[5][0] = 99.0f; // the program's own definition wins
    std::vector<QuadVertex> vertices;
    const float odd[] = {0.0f,
                         -0.0f,
                         1.0f,
                         -1.0f,
                         4.0f,
                         -0.3f,
                         std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         1e30f};
    for (int i = 0; i < 70; ++i) { // more than two batches
        const float a = odd[i % 9], b = odd[(i / 9) % 9];
        vertices.push_back({a, b, 0.5f * i, b - a, a * 0.5f});
    }
    const auto out = runBothWays(stream, vertices, constants);
    // Vertex 0 is all zeros: rcp and rsq of zero are infinite.
    EXPECT_EQ(out[0].texcoord[0][0], std::numeric_limits<float>::infinity()); // r0.w → x
    // Vertex 2: texture coordinates (-1, 0.5), so r1.y = 0.5 · -2 and r0.w = 1 / r1.y.
    EXPECT_EQ(out[2].texcoord[0][0], -1.0f);
}

TEST(VertexPrograms, ElementsEndingEachVertexAreReadWholeAndNoFurther) {
    // The texture coordinates first and the position last, in a buffer that ends with the
    // last vertex: the position of that one is its last twelve bytes. Thirty-six vertices:
    // a full batch and one of four, which are read together where they can be.
    const auto stream =
        words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0), mov(oT0, v1)));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    constexpr UINT COUNT = 36, FLOATS = 5;
    std::vector<float> floats(COUNT * FLOATS);
    for (UINT i = 0; i < floats.size(); ++i) {
        floats[i] = 0.5f * static_cast<float>(i) - 7.0f;
    }
    std::vector<std::uint8_t> bytes(floats.size() * sizeof(float));
    std::memcpy(bytes.data(), floats.data(), bytes.size());
    const auto out =
        runBothWays(stream, bytes.data(), FLOATS * sizeof(float), COUNT,
                    {{8, D3DDECLTYPE_FLOAT3, 0, 0}, {0, D3DDECLTYPE_FLOAT2, 5, 0}}, constants);
    for (UINT i = 0; i < COUNT; ++i) {
        const float* v = &floats[i * FLOATS];
        EXPECT_EQ(out[i].position[0], v[2]) << i;
        EXPECT_EQ(out[i].position[1], v[3]) << i;
        EXPECT_EQ(out[i].position[2], v[4]) << i;
        EXPECT_EQ(out[i].position[3], 1.0f) << i;
        EXPECT_EQ(out[i].texcoord[0][0], v[0]) << i;
        EXPECT_EQ(out[i].texcoord[0][1], v[1]) << i;
    }
}

TEST(VertexPrograms, ResultsIntoTheirOwnSourcesMixedSignsAndPartlyReadInputsMatch) {
    // One-component results written straight into a register the instruction also reads;
    // several-component ones; sources of either sign in one instruction; an input read only
    // through .w (a default) and .y, and a declared one never read. Forty vertices: a full
    // batch and a short one.
    const auto masked = [](Operand r, Word mask) {
        r.mask = mask;
        return r;
    };
    const auto stream = words(
        assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(r0, v0.swizzled(X, Y, Z, Z)),
                 dp4(r0.w, r0, c3), dp3(r0.x, r0, -r0), rsq(r0.y, r0.y), add(r1, v0, -r0),
                 dp4(masked(r2, 0x5), -r1, r0), dp3(masked(r2, 0xA), r1, c2),
                 mul(r3, v1.swizzled(W, Y, W, Y), -r2), mad(masked(r3, 0x6), -r3, r1, r0),
                 mov(oPos, r3), mov(oT0, r2), mov(oT1, r0), mov(oT2, r1), dp4(oT3.x, v0, c3)));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    constants[2][0] = 0.75f;
    constants[2][1] = -2.0f;
    constants[2][2] = 3.0f;
    constants[3][0] = -1.5f;
    constants[3][3] = 0.5f;
    std::vector<QuadVertex> vertices;
    for (int i = 0; i < 40; ++i) {
        const float a = 0.25f * static_cast<float>(i) - 3.0f;
        vertices.push_back({a, 1.0f - a, a * a, 0.5f * a, -a});
    }
    const auto out = runBothWays(stream, vertices, constants);
    // Vertex 0: r0 = (-3, 4, 9, 9) before the dp4, whose r0.w = -3 · -1.5 + 9 · 0.5.
    EXPECT_EQ(out[0].texcoord[1][0], -(9.0f + 16.0f + 81.0f)); // dp3 of r0 with -r0
    EXPECT_EQ(out[0].texcoord[1][1], 0.5f);                    // rsq of 4

    // The texture coordinates declared and never read.
    const auto positionOnly = words(
        assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0.swizzled(W, X, Y, Y))));
    const auto moved = runBothWays(positionOnly, vertices, constants);
    EXPECT_EQ(moved[5].position[0], 1.0f);
    EXPECT_EQ(moved[5].position[1], vertices[5].x);

    // Components read only by a dot product, or through a swizzle outside the mask.
    const auto defaults = words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1),
                                         mov(oPos.xy, v0), dp4(oT0.x, v1, c3), mov(oT1.x, v0.w)));
    const auto read = runBothWays(defaults, vertices, constants);
    EXPECT_EQ(read[0].texcoord[0][0], -1.5f * vertices[0].u + 0.5f); // v1.w = 1
    EXPECT_EQ(read[0].texcoord[1][0], 1.0f);                         // v0.w
}

TEST(VertexPrograms, RunsOfProductsWithConstantsMatchOneByOne) {
    // Dot products of one vector with constants, each to a component of another register,
    // run together. Such runs: a transform into oPos; three dp3 of a negated, swizzled vector
    // with constants negated or defined; five in a row, of which four fit one run; one
    // writing a component twice; results into the vector's own register, read by the next.
    // And what ends a run: another instruction, another destination, a vector read with
    // another sign or swizzle. The outputs carry only x and y of each coordinate set, so the
    // other components are added into them.
    const Register r4{TEMP, 4}, r5{TEMP, 5};
    const auto stream = words(
        assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), def(c7, 0.5f, -2.0f, 4.0f, 1.0f),
                 dp4(oPos.x, v0, c0), dp4(oPos.y, v0, c1), dp4(oPos.z, v0, c2), dp4(oPos.w, v0, c3),
                 mov(r0.w, v1), dp3(r0.z, -v1.swizzled(Y, X, W, Z), c4),
                 dp3(r0.x, -v1.swizzled(Y, X, W, Z), -c5), dp3(r0.y, -v1.swizzled(Y, X, W, Z), c7),
                 dp4(r3.x, r0, c1), dp4(r3.y, r0, c7), dp4(r3.z, r0, c2), dp4(r3.w, r0, -c3),
                 dp4(oT1.x, r0, c0), dp4(r1.y, v0, c2), dp4(r1.y, v0, c3), dp4(r1.x, v0, c4),
                 dp3(r1.w, v0, c5), mov(r2, v1), dp3(r2.x, r2, c1), dp3(r2.y, r2, c2),
                 dp3(r2.z, v0, c0), dp3(r2.w, v1, c0), dp3(r4.x, v0, c1), dp3(r4.y, -v0, c2),
                 dp3(r4.w, -v0.swizzled(Z, Y, X, W), c3), dp3(r5.z, -v0.swizzled(Z, Y, X, W), c4),
                 add(r5.x, r4.x, r4.y), add(r5.y, r5.x, r4.w), add(oT1.y, r5.y, r5.z),
                 add(oT0, r3.swizzled(X, Z, X, X), r3.swizzled(Y, W, Y, Y)),
                 add(oT2, r1.swizzled(W, Y, W, W), r1.swizzled(X, X, X, X)),
                 add(oT3, r2.swizzled(X, Z, X, X), r2.swizzled(Y, W, Y, Y))));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    variedConstants(constants, 7);
    // A whole batch and part of another.
    const std::vector<QuadVertex> vertices = variedVertices(soft::VERTEX_BATCH + 13);
    const auto out = runBothWays(stream, vertices, constants);
    // Vertex 0: r1.y is the second product written to it.
    const QuadVertex& v = vertices[0];
    const float r1x =
        v.x * constants[4][0] + v.y * constants[4][1] + v.z * constants[4][2] + constants[4][3];
    EXPECT_EQ(out[0].texcoord[2][1], (v.x * constants[3][0] + v.y * constants[3][1] +
                                      v.z * constants[3][2] + constants[3][3]) +
                                         r1x);
}

TEST(VertexPrograms, ComponentsNothingReadsAreLeftOutAndTheRestMatch) {
    // Temporaries written and read in every way that decides what is used: components never
    // read, a whole result written over before anything reads it, a partial write over a
    // whole one, a result read back by the next instruction into itself, components read
    // only by a dot product or a reciprocal square root. The outputs must be the reference's,
    // and only the components that reach them may be worked out.
    const Register r4{TEMP, 4}, r5{TEMP, 5}, r6{TEMP, 6};
    const Register oT4{TEXCRDOUT, 4}, oT5{TEXCRDOUT, 5};
    Operand r3xz = r3;
    r3xz.mask = 0x5;
    const auto stream = words(assemble(
        VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0), mul(r0, v0, c0), // 1: x, y read
        dp4(r1, v0, c1),                                                            // 2: z read
        add(r2, v0, v1),       // 3: written over unread
        mov(r2, c2),           // 4
        mov(r3, v1),           // 5: y, w survive the next
        mov(r3xz, v0),         // 6
        add(r4, v0, c3),       // 7: x, w read by the next
        add(r4.y, r4.x, r4.w), // 8
        mov(r5, v0),           // 9: x, y, z read by the dp3
        dp3(r6.w, r5, c4),     // 10
        rsq(r6.x, r6.w),       // 11
        mov(oT0, r0.swizzled(X, Y, Y, X)), mov(oT1.x, r1.z), mov(oT2, r2), mov(oT3, r3),
        mov(oT4.xy, r4), mov(oT5.x, r6.x)));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    variedConstants(constants, 5);
    runBothWays(stream, variedVertices(soft::VERTEX_BATCH + 5), constants);

    shader::ShaderProgram decoded;
    std::string error;
    ASSERT_TRUE(shader::decodeShader(stream, shader::ShaderStage::Vertex, decoded, error));
    const soft::VertexProgram program = soft::compileVertexProgram(decoded);
    // Instruction 3 is gone; the others keep the components read later, in order.
    std::vector<std::uint8_t> masks;
    for (const soft::VertexOp& op : program.ops) {
        if (op.dst < soft::VREG_POSITION) {
            masks.push_back(op.mask);
        }
    }
    EXPECT_EQ(masks, (std::vector<std::uint8_t>{0x3, 0x4, 0xF, 0xA, 0x5, 0x9, 0x2, 0x7, 0x8, 0x1}));
    // What the declaration must supply is all the program reads, used or not.
    EXPECT_EQ(program.inputRead[1], 0xF);
}

TEST(VertexPrograms, ReciprocalsKeepTheirResultsForOneZeroAndNegatives) {
    // rsq takes the magnitude; both give exactly 1 for 1 and +infinity for either zero. Twenty
    // vertices, so that a batch runs its vector loop as well as the remainder.
    const auto stream = words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0),
                                       rsq(oT0.x, v1.x), rcp(oT0.y, v1.y)));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in, rsq, rcp;
    } cases[] = {{-4.0f, 0.5f, -0.25f}, {1.0f, 1.0f, 1.0f}, {-1.0f, 1.0f, -1.0f},
                 {0.0f, inf, inf},      {-0.0f, inf, inf},  {inf, 0.0f, 0.0f}};
    std::vector<QuadVertex> vertices;
    for (int i = 0; i < 20; ++i) {
        const float x = cases[i % 6].in;
        vertices.push_back({0, 0, 0, x, x});
    }
    const auto out = runBothWays(stream, vertices, constants);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(out[i].texcoord[0][0]),
                  std::bit_cast<std::uint32_t>(cases[i % 6].rsq))
            << "rsq of " << cases[i % 6].in;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(out[i].texcoord[0][1]),
                  std::bit_cast<std::uint32_t>(cases[i % 6].rcp))
            << "rcp of " << cases[i % 6].in;
    }
}

TEST(VertexPrograms, UnwrittenOutputsReadZeroZeroZeroOne) {
    const auto stream = words(
        assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos.x, v0), mov(oT0.x, v1)));
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    const auto out = runBothWays(stream, {{3, 4, 5, 0.25f, 0.75f}}, constants);
    EXPECT_EQ(out[0].position[0], 3.0f);
    EXPECT_EQ(out[0].position[1], 0.0f);
    EXPECT_EQ(out[0].position[3], 1.0f);
    EXPECT_EQ(out[0].texcoord[0][0], 0.25f);
    EXPECT_EQ(out[0].texcoord[0][1], 0.0f); // v is never written
    EXPECT_EQ(out[0].texcoord[1][0], 0.0f);
    EXPECT_EQ(out[0].diffuse[3], 1.0f);
}

TEST(VertexPrograms, ShowProgramsMatchTheirReading) {
    float constants[soft::VERTEX_CONSTANTS][4] = {};
    constants[0][1] = 16.0f / 256; // the streak taps' distances and direction
    constants[0][2] = 32.0f / 256;
    constants[0][3] = 48.0f / 256;
    constants[1][0] = -1.0f;
    constants[1][1] = 1.0f;
    const std::vector<QuadVertex> quad(std::begin(FULL_QUAD), std::end(FULL_QUAD));
    const auto taps = metaballVertexShader(1);
    const auto out = runBothWays({taps.begin(), taps.end()}, quad, constants);
    // Vertex 1 (u = 1, v = 0): tap 3 lies 48 texels left and down.
    EXPECT_EQ(out[1].texcoord[3][0], 1.0f - 48.0f / 256);
    EXPECT_EQ(out[1].texcoord[3][1], 48.0f / 256);
    EXPECT_EQ(out[1].position[3], 1.0f);
    const auto four = metaballVertexShader(2);
    const auto copies = runBothWays({four.begin(), four.end()}, quad, constants);
    EXPECT_EQ(copies[3].texcoord[2][0], 1.0f);
    // The tubes' program, with some matrices and a camera.
    for (int c = 0; c < 15; ++c) {
        for (int ch = 0; ch < 4; ++ch) {
            constants[c][ch] = 0.2f * static_cast<float>((c * 7 + ch * 5) % 13) - 1.1f;
        }
    }
    const auto tube = tubeVertexShader();
    runBothWays({tube.begin(), tube.end()}, quad, constants);
}

// ---- Pixel programs

TEST_F(Shaders, BrightPassKeepsItsSumUnclampedUntilTheEnd) {
    // Four texels: black, mid grey, 242 (where clamping t0 + 0.1 at 1 would show) and white.
    IDirect3DTexture9* scene = ownTexture(4, 1, {0xFF000000, 0xFF808080, 0xFFF2F2F2, 0xFFFFFFFF});
    device->SetTexture(0, scene);
    const auto bright = metaballPixelShader(0);
    const std::vector<DWORD> tokens(bright.begin(), bright.end());
    device->SetPixelShader(pixelShader(tokens));
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->BeginScene();
    drawScreenQuad(-0.5f, -0.5f, 3.5f, 0.5f); // one texel per pixel, point sampled
    device->EndScene();
    EXPECT_EQ(pixel(0, 0), 0xFF000000u);
    const float grey = 128.0f / 255.0f;
    const auto expectedGrey = static_cast<std::uint32_t>(grey * (grey + 0.1f) * 255.0f + 0.5f);
    EXPECT_EQ(pixel(1, 0) & 0xFF, expectedGrey); // 0.5 · 0.6 = 0.30 → 77
    EXPECT_EQ(pixel(2, 0) & 0xFF, 254u);         // 0.949 · 1.049, not 0.949 · 1
    EXPECT_EQ(pixel(3, 0), 0xFFFFFFFFu);         // 1.1 clamps to 1 only when written
}

TEST_F(Shaders, WeightedTapsAddFourSamplesAndConstantsStayWithinOne) {
    IDirect3DTexture9* grey = ownTexture(2, 2, std::vector<std::uint32_t>(4, 0xFF646464));
    for (DWORD s = 0; s < 4; ++s) {
        device->SetTexture(s, grey);
    }
    const auto taps = metaballPixelShader(1);
    IDirect3DPixelShader9* shader = pixelShader({taps.begin(), taps.end()});
    const float weights[4][4] = {{1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 0.5f}, {2, 2, 2, 2}, {}};
    device->SetPixelShaderConstantF(0, &weights[0][0], 4);
    device->BeginScene();
    drawFullQuad(shader);
    device->EndScene();
    // 100 · (1 + 0.5 + 1): c2 = 2 reads as 1.
    const float t = 100.0f / 255.0f;
    const auto expected =
        static_cast<std::uint32_t>(((t * 1.0f + t * 0.5f) + t * 1.0f + t * 0.0f) * 255 + 0.5f);
    EXPECT_EQ(pixel(320, 240) & 0xFF, expected);
    EXPECT_EQ(expected, 250u);
}

TEST_F(Shaders, ASampledStageWithoutATextureReadsOpaqueBlack) {
    device->SetTexture(0, ownTexture(1, 1, {0xFF204060}));
    const auto sum = metaballPixelShader(2);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    device->BeginScene();
    drawFullQuad(pixelShader({sum.begin(), sum.end()}));
    device->EndScene();
    EXPECT_EQ(pixel(10, 10), 0xFF204060u);
}

// A texture rewritten between two draws is read as it is at the second, though nothing of
// the device's state changed: its rows were alike at the first draw and differ at the second.
TEST_F(Shaders, ATextureRewrittenBetweenDrawsIsReadAsItIsNow) {
    std::vector<std::uint32_t> texels(16);
    for (std::size_t i = 0; i < texels.size(); ++i) {
        texels[i] = 0xFF000000u | static_cast<std::uint32_t>(0x30 * (i % 4));
    }
    IDirect3DTexture9* texture = ownTexture(4, 4, texels);
    device->SetTexture(0, texture);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    const std::vector<std::uint32_t> rewritten = noiseTexels(16, 7);
    IDirect3DSurface9* level = nullptr;
    texture->GetSurfaceLevel(0, &level);
    detail::CpuSurface* cpu = detail::cpuSurface(own(level));
    // Written through a lock, or taken as a device context takes it.
    auto drawRewritten = [&](bool stateChanged, bool taken) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        drawScreenQuad(0, 0, 320, 480);
        D3DLOCKED_RECT locked{};
        detail::SurfaceMemory memory{};
        if (taken) {
            EXPECT_TRUE(cpu->take(memory));
            locked = {memory.pitch, memory.bits};
        } else {
            EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        }
        for (int y = 0; y < 4; ++y) {
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch,
                        &rewritten[static_cast<std::size_t>(4 * y)], 16);
        }
        if (taken) {
            cpu->giveBack();
        } else {
            texture->UnlockRect(0);
        }
        if (stateChanged) {
            device->SetTexture(0, nullptr);
            device->SetTexture(0, texture);
        }
        drawScreenQuad(320, 0, 640, 480);
        device->EndScene();
        const std::vector<std::uint32_t> picture = frame();
        // The texture goes back to its rows alike for the next picture.
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 4; ++y) {
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch,
                        &texels[static_cast<std::size_t>(4 * y)], 16);
        }
        texture->UnlockRect(0);
        return picture;
    };
    for (const bool wide : {true, false}) {
        soft::enableWideOperations(wide);
        for (const bool taken : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "wide " << wide << ", taken " << taken);
            const std::vector<std::uint32_t> unchanged = drawRewritten(false, taken);
            EXPECT_TRUE(unchanged == drawRewritten(true, taken));
            EXPECT_NE(unchanged[100 * 640 + 500], unchanged[400 * 640 + 500]);
        }
    }
}

// Four taps of one clamped texture a whole number of texels from the pixel, over a target the
// texture's size, fall halfway between texel centres, where the device reads them from a
// table it makes of the texture's halfway samples. Inside the texture, across and beyond its
// edges in every direction, and half a texel further (no longer halfway), the bytes must be
// those of filtering each tap.
TEST_F(Shaders, TapsHalfwayBetweenTexelsGiveTheBytesOfFilteringEachTap) {
    constexpr UINT SIZE = 64;
    const std::vector<std::uint32_t> texels = noiseTexels(SIZE * SIZE, 11);
    const auto taps = metaballPixelShader(1);
    IDirect3DPixelShader9* weighted = pixelShader({taps.begin(), taps.end()});
    const auto along = metaballVertexShader(1);
    IDirect3DVertexShader9* diagonal = vertexShader({along.begin(), along.end()});
    device->SetVertexDeclaration(declaration(QUAD_ELEMENTS));
    device->SetVertexShader(diagonal);
    device->SetPixelShader(weighted);
    const float weights[4][4] = {{0.4f, 0.4f, 0.4f, 0.4f},
                                 {0.3f, 0.3f, 0.3f, 0.3f},
                                 {0.2f, 0.2f, 0.2f, 0.2f},
                                 {0.1f, 0.1f, 0.1f, 0.1f}};
    device->SetPixelShaderConstantF(0, &weights[0][0], 4);
    clampedBilinearStages();
    struct Reach {
        float dx, dy, texels;
    };
    const Reach reaches[] = {{1, 1, 1},    {-1, 1, 3}, {1, -1, 9},  {-1, -1, 14}, {1, 1, 30},
                             {-1, -1, 70}, {1, 0, 5},  {0, -1, 21}, {1, 1, 2.5f}, {-1, 1, 0.5f}};
    for (const D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
        IDirect3DTexture9* source = own(texture(SIZE, SIZE, format, texels));
        IDirect3DSurface9* target = drawInto(SIZE, format);
        ASSERT_NE(target, nullptr);
        for (DWORD s = 0; s < 4; ++s) {
            device->SetTexture(s, source);
        }
        for (const Reach& r : reaches) {
            const float distances[4] = {0.0f, r.texels / SIZE, 2.0f * r.texels / SIZE,
                                        3.0f * r.texels / SIZE};
            const float direction[4] = {r.dx, r.dy, 0.0f, 0.0f};
            device->SetVertexShaderConstantF(0, distances, 1);
            device->SetVertexShaderConstantF(1, direction, 1);
            auto bytes = [&] {
                device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00102030, 1.0f, 0);
                device->BeginScene();
                EXPECT_EQ(
                    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, FULL_QUAD, sizeof(QuadVertex)),
                    D3D_OK);
                device->EndScene();
                const detail::SurfaceMemory m = detail::cpuSurface(target)->memory();
                return std::vector<std::uint8_t>(m.bits, m.bits + m.pitch * m.height);
            };
            const std::vector<std::uint8_t> tabled = bytes();
            soft()->useReferencePixelPath(true);
            EXPECT_TRUE(bytes() == tabled)
                << format << " " << r.dx << " " << r.dy << " " << r.texels;
            soft()->useReferencePixelPath(false);
            soft::enableWideOperations(false);
            device->SetPixelShader(nullptr); // a new draw set-up, compiled narrow
            device->SetPixelShader(weighted);
            EXPECT_TRUE(bytes() == tabled)
                << format << " " << r.dx << " " << r.dy << " " << r.texels;
            soft::enableWideOperations(true);
            device->SetPixelShader(nullptr);
            device->SetPixelShader(weighted);
            // Something of the texture got through every tap.
            EXPECT_NE(tabled[4 * (SIZE / 2 * SIZE + SIZE / 2)], 0x30);
        }
    }
}

// Taps read from the table by position leave nothing else to interpolate, and the depth test
// then runs alone; it must still test and write every pixel's own depth. A pass at 0.4 over
// everything, a triangle at 0.2 over the top left, the four-tap pass on a depth slope from 0
// on one side to 1 on the other (across, then down), then a flat pass at 0.3 that shows
// where that slope was written between 0.3 and 0.4.
TEST_F(Shaders, TapsReadByPositionKeepTheDepthTestOfEveryPixel) {
    constexpr UINT SIZE = 64;
    const std::vector<std::uint32_t> texels = noiseTexels(SIZE * SIZE, 3);
    const auto taps = metaballPixelShader(1);
    const auto along = metaballVertexShader(1);
    device->SetVertexDeclaration(declaration(QUAD_ELEMENTS));
    device->SetVertexShader(vertexShader({along.begin(), along.end()}));
    device->SetPixelShader(pixelShader({taps.begin(), taps.end()}));
    const float weights[4][4] = {{0.5f, 0.5f, 0.5f, 0.5f},
                                 {0.25f, 0.25f, 0.25f, 0.25f},
                                 {0.125f, 0.125f, 0.125f, 0.125f},
                                 {0.0625f, 0.0625f, 0.0625f, 0.0625f}};
    device->SetPixelShaderConstantF(0, &weights[0][0], 4);
    const float distances[4] = {0.0f, 2.0f / SIZE, 4.0f / SIZE, 6.0f / SIZE};
    const float direction[4] = {1.0f, -1.0f, 0.0f, 0.0f};
    const float inPlace[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    device->SetVertexShaderConstantF(0, distances, 1);
    device->SetVertexShaderConstantF(1, direction, 1);
    IDirect3DTexture9* source = own(texture(SIZE, SIZE, D3DFMT_X8R8G8B8, texels));
    clampedBilinearStages();
    for (DWORD s = 0; s < 4; ++s) {
        device->SetTexture(s, source);
    }
    IDirect3DSurface9* target = drawInto(SIZE, D3DFMT_X8R8G8B8);
    ASSERT_NE(target, nullptr);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    const QuadVertex front[3] = {
        {-1, 1, 0.2f, 0, 0}, {0, 1, 0.2f, 0.5f, 0}, {-1, 0, 0.2f, 0, 0.5f}};
    const QuadVertex slopes[2][4] = {
        {{-1, 1, 0, 0, 0}, {1, 1, 1, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 1, 1, 1}},
        {{-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 1, 0, 1}, {1, -1, 1, 1, 1}}};
    QuadVertex far[4], flat[4];
    std::copy(std::begin(FULL_QUAD), std::end(FULL_QUAD), far);
    std::copy(std::begin(FULL_QUAD), std::end(FULL_QUAD), flat);
    for (int i = 0; i < 4; ++i) {
        far[i].z = 0.4f;
        flat[i].z = 0.3f;
    }
    auto bytes = [&](const QuadVertex* slope) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00102030, 1.0f, 0);
        device->BeginScene();
        // Passed everywhere, and written: the slope shows only nearer than 0.4.
        device->SetVertexShaderConstantF(1, inPlace, 1);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, far, sizeof(QuadVertex));
        device->SetVertexShaderConstantF(1, direction, 1);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, front, sizeof(QuadVertex));
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, slope, sizeof(QuadVertex));
        device->SetVertexShaderConstantF(1, inPlace, 1); // the last pass taps in place
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, flat, sizeof(QuadVertex));
        device->SetVertexShaderConstantF(1, direction, 1);
        device->EndScene();
        const detail::SurfaceMemory m = detail::cpuSurface(target)->memory();
        return std::vector<std::uint8_t>(m.bits, m.bits + m.pitch * m.height);
    };
    for (const QuadVertex* slope : slopes) {
        const std::vector<std::uint8_t> tabled = bytes(slope);
        soft()->useReferencePixelPath(true);
        EXPECT_TRUE(bytes(slope) == tabled) << slope[1].z;
        soft()->useReferencePixelPath(false);
        // The slope shows on the near side, the first pass on the far side.
        auto at = [&](int x, int y) {
            std::uint32_t p;
            std::memcpy(&p, tabled.data() + 4 * (y * SIZE + x), sizeof p);
            return p & 0xFFFFFF;
        };
        EXPECT_NE(at(4, 60), at(60, 4));
        EXPECT_NE(at(60, 60), 0x102030u);
    }
}

// Pixel shaders with every modifier the device takes, drawn with every form of the pixel
// stage: each must give the reference path's bytes.
TEST_F(Shaders, CompiledPixelProgramsMatchTheReferenceInBothForms) {
    const std::vector<std::uint32_t> texels = noiseTexels(64 * 64, 7);
    IDirect3DTexture9* noise = own(texture(64, 64, D3DFMT_A8R8G8B8, texels));
    IDirect3DTexture9* colour = ownTexture(64, 64, texels);
    device->SetTexture(0, noise);
    device->SetTexture(1, colour);
    device->SetTexture(2, noise);
    for (DWORD s = 0; s < 3; ++s) {
        device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }
    device->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(2, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    const float constants[2][4] = {{0.25f, -0.5f, 0.75f, 1.0f}, {-1.0f, 0.1f, 0.2f, 0.3f}};
    device->SetPixelShaderConstantF(0, &constants[0][0], 2);

    auto program = words(assemble(
        PS_1_3, def(c2, 0.5f, 0.5f, -0.25f, 0.0f), tex(t0), tex(t1), tex(t2), mad(r0, t0, c0, -t1),
        mul(r1, r0.swizzled(W, W, W, W), t2), sub(r0.xy, r1, c2), dp3(r1.w, r0, t1),
        add(r0, r0.swizzled(Y, X, Z, W), r1.swizzled(W, W, W, W)), mad(r0.w, t0, c1, r0)));
    // Result modifiers on the destinations of mul (_x2), dp3 (_d2) and add (_sat).
    program[19] |= 0x01000000;
    program[27] |= 0x0F000000;
    program[31] |= 0x00100000;
    const IDirect3DPixelShader9* shader = pixelShader(program);
    ASSERT_NE(shader, nullptr);

    // A perspective quad, so that the coordinates vary across the pixels.
    const D3DMATRIX identity = identityMatrix();
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    const D3DMATRIX projection = wFriendlyProjection();
    device->SetTransform(D3DTS_PROJECTION, &projection);
    // Three coordinate sets, one per sampled stage.
    struct Vertex {
        float x, y, z;
        float set[3][2];
    };
    const Vertex slanted[4] = {{-3, 2, 2, {{-0.3f, 0}, {0, 0}, {1, 0.5f}}},
                               {3, 2, 6, {{2.5f, 0}, {1, 0}, {0, 0.5f}}},
                               {-3, -2, 2, {{0, 1.2f}, {0, 2}, {1, 2.5f}}},
                               {3, -2, 6, {{1.5f, 2}, {2, 1}, {-1, 0}}}};
    auto draw = [&] {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
        device->BeginScene();
        device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX3);
        device->SetPixelShader(const_cast<IDirect3DPixelShader9*>(shader));
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, slanted, sizeof(Vertex));
        device->EndScene();
        return frame();
    };
    const std::vector<std::uint32_t> wide = draw();
    dump("pixel-shader-modifiers");
    soft::enableWideOperations(false);
    device->SetPixelShader(nullptr); // a new draw set-up, compiled narrow
    EXPECT_TRUE(draw() == wide);
    soft()->useReferencePixelPath(true);
    EXPECT_TRUE(draw() == wide);
    EXPECT_NE(wide[240 * 640 + 320], 0xFF102030u);

    // The shader's alpha, which an X8R8G8B8 target never keeps, decides a blend weighted by
    // it and is kept by an A8R8G8B8 target.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    const std::vector<std::uint32_t> blended = draw();
    soft()->useReferencePixelPath(false);
    soft::enableWideOperations(true);
    EXPECT_TRUE(draw() == blended);
    EXPECT_TRUE(blended != wide);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    IDirect3DSurface9* alphaTarget = drawInto(256, D3DFMT_A8R8G8B8);
    ASSERT_NE(alphaTarget, nullptr);
    auto alphaBytes = [&] {
        draw();
        const detail::SurfaceMemory m = detail::cpuSurface(alphaTarget)->memory();
        return std::vector<std::uint8_t>(m.bits, m.bits + m.pitch * m.height);
    };
    const std::vector<std::uint8_t> kept = alphaBytes();
    soft()->useReferencePixelPath(true);
    EXPECT_TRUE(alphaBytes() == kept);
    // Alpha varies inside the quad (the clear left 255 outside it).
    std::set<std::uint8_t> alphas;
    for (std::size_t i = 3; i < kept.size(); i += 4) {
        alphas.insert(kept[i]);
    }
    EXPECT_GT(alphas.size(), 10u);
}

// ---- State the show leaves behind

TEST_F(Shaders, ABoundPixelShaderGoesOnShadingFixedFunctionDraws) {
    device->SetTexture(0, ownTexture(1, 1, {0xFF103050}));
    device->SetTexture(1, ownTexture(1, 1, {0xFF201000}));
    const auto sum = metaballPixelShader(2);
    device->SetPixelShader(pixelShader({sum.begin(), sum.end()}));
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->BeginScene();
    drawScreenQuad(0, 0, 8, 8); // pre-transformed, one coordinate set
    device->EndScene();
    EXPECT_EQ(pixel(4, 4), 0xFF304050u);
}

TEST_F(Shaders, AVertexShaderLeavingOutASetFeedsItsStageZeroCoordinates) {
    // As the tubes do: only oT0.x is written, while the pixel shader also samples stage 1.
    std::vector<std::uint32_t> texels(4 * 4, 0xFF000000);
    texels[0] = 0xFF0000FF;  // texel (0, 0)
    texels[3] = 0xFF00FF00;  // (3, 0)
    texels[12] = 0xFFFF0000; // (0, 3)
    device->SetTexture(0, ownTexture(1, 1, {0xFF000000}));
    IDirect3DTexture9* second = ownTexture(4, 4, texels);
    device->SetTexture(1, second);
    for (DWORD s = 0; s < 2; ++s) {
        device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }
    const auto sum = metaballPixelShader(2);
    IDirect3DPixelShader9* pixel = pixelShader({sum.begin(), sum.end()});
    IDirect3DVertexShader9* firstOnly = vertexShader(
        words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0), mov(oT0.x, v1))));
    device->SetVertexDeclaration(declaration(QUAD_ELEMENTS));
    device->SetVertexShader(firstOnly);
    device->SetPixelShader(pixel);
    device->BeginScene();
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, FULL_QUAD, sizeof(QuadVertex));
    device->EndScene();
    // (0, 0) with wrapping is the corner where texels (3, 3), (0, 3), (3, 0), (0, 0) meet.
    const std::uint32_t expected = 0xFF404040u;
    EXPECT_EQ(this->pixel(100, 100), expected);
    EXPECT_EQ(this->pixel(600, 20), expected);

    // The same draw again, nothing of the state changed, after texel (3, 3) was written.
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(second->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const std::uint32_t white = 0xFFFFFFFF;
    std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + 3 * locked.Pitch + 12, &white, 4);
    second->UnlockRect(0);
    device->BeginScene();
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, FULL_QUAD, sizeof(QuadVertex));
    device->EndScene();
    EXPECT_EQ(this->pixel(100, 100), 0xFF808080u);
}

// Coordinates a vertex program never writes are +0 at every vertex, and the device keeps
// none of those that come last. The pictures must be those of a program writing the zeros
// itself: small triangles (whose pixels are gathered), a large one, and points, with 1/w
// varying, in every pixel path.
TEST_F(Shaders, UnwrittenTrailingCoordinatesDrawAsWrittenZeros) {
    device->SetTexture(0, ownTexture(4, 4, noiseTexels(16, 3)));
    device->SetTexture(1, ownTexture(4, 4, noiseTexels(16, 5)));
    for (DWORD s = 0; s < 2; ++s) {
        device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }
    const auto sum = metaballPixelShader(2); // t0 + t1
    IDirect3DPixelShader9* pixel = pixelShader({sum.begin(), sum.end()});
    const float constants[2][4] = {{0, 0, 0, 0}, {1.5f, 0, 0, 0}};
    device->SetVertexShaderConstantF(0, &constants[0][0], 2);
    // w = u + 1.5; stage 1 reads oT1, stage 0 oT0.
    const auto shader = [&](auto... writes) {
        return vertexShader(
            words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0),
                           add(oPos.w, v1.swizzled(X, X, X, X), c1), writes...)));
    };
    // oT0.x alone, as the tubes write; oT0 whole; each against its zeros written out.
    IDirect3DVertexShader9* const firstOnly = shader(mov(oT0.x, v1));
    IDirect3DVertexShader9* const firstWithZeros =
        shader(mov(oT0.x, v1), mov(oT0.y, c0), mov(oT1, c0));
    IDirect3DVertexShader9* const setZero = shader(mov(oT0, v1));
    IDirect3DVertexShader9* const setZeroWithZeros = shader(mov(oT0, v1), mov(oT1, c0));

    std::vector<QuadVertex> small;
    for (int i = 0; i < 300; ++i) {
        const float x = -0.95f + 0.11f * float(i % 17), y = -0.9f + 0.1f * float(i / 17);
        const float u = 0.07f * float(i % 13), v = 0.05f * float(i % 7);
        small.push_back({x, y, 0.5f, u, v});
        small.push_back({x + 0.02f, y + 0.004f, 0.5f, u + 0.3f, v + 0.2f});
        small.push_back({x + 0.006f, y + 0.03f, 0.5f, u + 0.1f, v + 0.6f});
    }
    const QuadVertex large[3] = {{-0.9f, 0.9f, 0.25f, 0.0f, 0.1f},
                                 {0.9f, 0.8f, 0.5f, 2.0f, 0.7f},
                                 {-0.2f, -0.9f, 0.75f, 0.9f, 1.3f}};
    auto draw = [&](IDirect3DVertexShader9* program) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        device->SetVertexDeclaration(declaration(QUAD_ELEMENTS));
        device->SetVertexShader(program);
        device->SetPixelShader(pixel);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, large, sizeof(QuadVertex));
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(small.size() / 3),
                                small.data(), sizeof(QuadVertex));
        device->DrawPrimitiveUP(D3DPT_POINTLIST, static_cast<UINT>(small.size()), small.data(),
                                sizeof(QuadVertex));
        device->EndScene();
        return frame();
    };
    for (const bool wide : {true, false}) {
        soft::enableWideOperations(wide);
        for (const bool reference : {false, true}) {
            soft()->useReferencePixelPath(reference);
            SCOPED_TRACE(::testing::Message() << "wide " << wide << ", reference " << reference);
            const std::vector<std::uint32_t> first = draw(firstOnly);
            EXPECT_TRUE(first == draw(firstWithZeros));
            const std::vector<std::uint32_t> set = draw(setZero);
            EXPECT_TRUE(set == draw(setZeroWithZeros));
            EXPECT_TRUE(first != set);
            EXPECT_GT(std::count(first.begin(), first.end(), 0xFF000000u), 1000);
            EXPECT_LT(std::count(first.begin(), first.end(), 0xFF000000u), 600 * 480);
        }
    }
    soft()->useReferencePixelPath(false);
}

// Draws that walk through a vertex buffer reuse the vertices processed ahead for the earlier
// ones; a change of constants or of the buffer's contents, and draws out of order, must give
// exactly what processing every draw's vertices at its call gives.
TEST_F(Shaders, VerticesProcessedAheadFollowConstantsAndBufferChanges) {
    constexpr int QUADS = 64;
    std::vector<QuadVertex> quads;
    for (int q = 0; q < QUADS; ++q) {
        const float x = -0.9f + 0.22f * float(q % 8), y = -0.9f + 0.22f * float(q / 8);
        quads.push_back({x, y + 0.3f, 0.5f, 0, 0});
        quads.push_back({x + 0.3f, y + 0.3f, 0.5f, 0, 0});
        quads.push_back({x, y, 0.5f, 0, 0});
        quads.push_back({x + 0.3f, y, 0.5f, 0, 0});
    }
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(UINT(quads.size() * sizeof(QuadVertex)), 0, 0,
                                         D3DPOOL_MANAGED, &buffer, nullptr),
              D3D_OK);
    own(buffer);
    auto fill = [&](float shift) {
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        auto* v = static_cast<QuadVertex*>(data);
        for (std::size_t i = 0; i < quads.size(); ++i) {
            v[i] = quads[i];
            v[i].y += shift;
        }
        buffer->Unlock();
    };
    IDirect3DVertexShader9* shader =
        vertexShader(words(assemble(VS_1_1, dcl_position(v0), add(oPos, v0, c0), mov(oT0, c1))));
    IDirect3DVertexDeclaration9* layout = declaration(QUAD_ELEMENTS);
    IDirect3DTexture9* palette = ownTexture(2, 2, {0xFF200000, 0xFF002000, 0xFF000020, 0xFF101010});
    auto constants = [&](float dx, float r, float g) {
        const float offset[4] = {dx, 0, 0, 0};
        const float colour[4] = {r, g, 0, 1}; // picks a texel
        device->SetVertexShaderConstantF(0, offset, 1);
        device->SetVertexShaderConstantF(1, colour, 1);
    };
    auto drawQuads = [&](int first, int last, int step) {
        for (int q = first; q != last; q += step) {
            device->DrawPrimitive(D3DPT_TRIANGLESTRIP, UINT(4 * q), 2);
        }
    };
    auto render = [&](bool reference) {
        soft()->useReferenceVertexPath(reference);
        fill(0.0f);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        addedUpWithoutDepth();
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTexture(0, palette);
        device->SetVertexDeclaration(layout);
        device->SetVertexShader(shader);
        device->SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
        constants(0.0f, 0.25f, 0.25f);
        drawQuads(0, 20, 1);
        constants(0.01f, 0.75f, 0.25f); // between two draws of one walk
        drawQuads(20, 40, 1);
        device->EndScene();
        device->BeginScene();
        fill(0.05f); // the contents change under the vertices processed ahead
        drawQuads(40, QUADS, 1);
        drawQuads(QUADS - 1, 30, -1); // backwards, then from a later offset
        device->SetStreamSource(0, buffer, 4 * sizeof(QuadVertex), sizeof(QuadVertex));
        drawQuads(0, 10, 1);
        device->EndScene();
        return frame();
    };
    const std::vector<std::uint32_t> reference = render(true);
    const std::vector<std::uint32_t> reused = render(false);
    soft()->useReferenceVertexPath(false);
    EXPECT_TRUE(reused == reference);
    EXPECT_NE(std::count(reference.begin(), reference.end(), 0xFF000000u),
              std::ptrdiff_t(reference.size()));
}

// Strips drawn from a vertex buffer through a vertex program go from the program straight
// to their projections. They must give the pictures of processing each draw's vertices into
// outputs: colours clamped on the way, 1/w varying, or 1 where the program leaves w out,
// strips of many lengths walking through the buffer both ways, strips with a vertex beyond
// the near or far plane or the guard band, which are clipped instead, and lists drawn from
// the vertices of strips just drawn.
TEST_F(Shaders, StripsProjectedStraightFromTheProgramMatchProcessedVertices) {
    constexpr Register oD0{ATTROUT, 0};
    IDirect3DVertexShader9* shader = vertexShader(words(
        assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos.xy, v0), mov(oPos.z, v0),
                 add(oPos.w, v1.y, c0), mul(oD0, v1.swizzled(X, X, X, Y), c1), mov(oT0.x, v1))));
    // The same without w, which then reads 1.
    constexpr Operand xyz{RASTOUT, 0, 0x7, 0xE4};
    IDirect3DVertexShader9* flat =
        vertexShader(words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(xyz, v0),
                                    mul(oD0, v1.swizzled(X, X, X, Y), c1), mov(oT0.x, v1))));
    const int lengths[] = {3, 5, 16, 37, 4, 70, 9, 16, 33, 6, 16};
    std::vector<QuadVertex> vertices;
    std::vector<int> firsts;
    std::uint32_t seed = 7;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(seed >> 8) / float(1u << 24);
    };
    for (int length : lengths) {
        firsts.push_back(int(vertices.size()));
        const float x = next(-1.0f, 0.6f), y = next(-1.0f, 0.6f);
        for (int i = 0; i < length; ++i) {
            // A ribbon of thin triangles, or a few large ones for the short strips.
            const float along = length > 8 ? 0.04f * float(i / 2) : 0.5f * float(i / 2);
            vertices.push_back({x + along + next(-0.01f, 0.01f),
                                y + float(i % 2) * (length > 8 ? 0.03f : 0.6f), next(0.1f, 0.9f),
                                next(0.0f, 1.0f), next(0.0f, 1.0f)});
        }
    }
    vertices[firsts[3] + 20].z = -0.25f; // before the near plane
    vertices[firsts[5] + 3].z = 1.5f;    // beyond the far one
    vertices[firsts[8] + 32].x = 1.0e6f; // far outside the guard band
    for (int i = 0; i < lengths[10]; ++i) {
        vertices[firsts[10] + i].z = -0.5f; // wholly behind the camera, between two others
    }
    IDirect3DVertexBuffer9* buffer = vertexBuffer(vertices);
    ASSERT_NE(buffer, nullptr);
    IDirect3DTexture9* noise = ownTexture(8, 1, noiseTexels(8, 11));
    auto render = [&](bool reference) {
        soft()->useReferenceVertexPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        addedUpWithoutDepth();
        drawFromBuffer(shader, buffer, noise);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        const float one[4] = {1, 1, 1, 1};
        const float scale[4] = {3.0f, -2.0f, 0.5f, 1.0f}; // red above 1, green below 0
        device->SetVertexShaderConstantF(0, one, 1);
        device->SetVertexShaderConstantF(1, scale, 1);
        for (int pass = 0; pass < 2; ++pass) {
            device->SetVertexShader(pass == 0 ? shader : flat);
            for (int k = 0; k < int(std::size(lengths)); ++k) {
                const int s = pass == 0 ? k : int(std::size(lengths)) - 1 - k;
                device->DrawPrimitive(D3DPT_TRIANGLESTRIP, UINT(firsts[s]), UINT(lengths[s] - 2));
            }
            // The vertices of the strip just drawn.
            device->DrawPrimitive(D3DPT_TRIANGLELIST, UINT(firsts[pass == 0 ? 9 : 0]),
                                  UINT(lengths[pass == 0 ? 9 : 0] / 3));
        }
        device->EndScene();
        return frame();
    };
    const std::vector<std::uint32_t> processed = render(true);
    const std::vector<std::uint32_t> projected = render(false);
    soft()->useReferenceVertexPath(false);
    EXPECT_TRUE(projected == processed);
    EXPECT_GT(std::count_if(processed.begin(), processed.end(),
                            [](std::uint32_t c) { return (c & 0xFF0000u) != 0; }),
              1000);
}

// A draw that reads no depth and whose program stores one attribute, as the tubes do, has
// its small and sparse triangles placed pixel by pixel and interpolated together. Strips of
// every shape it meets must give the picture of the reference pixel path: ribbons of
// triangles a pixel or two across, tall narrow ones, needles from the guard band whose edge
// functions outgrow 32 bits, long slivers a pixel high, larger triangles shaded on their own,
// and among them strips the general path takes (the attribute 0 at every corner, or w 1),
// enough of them to fill the pixel chunks in the middle of a triangle many times. They are
// added up, and drawn over one another, where the order of the pixels shows.
TEST_F(Shaders, ThinStripsDrawLikeTheReferencePath) {
    // w = v1.y + 1; the one attribute is the texture's u (its v is never written).
    IDirect3DVertexShader9* shader =
        vertexShader(words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos.xy, v0),
                                    mov(oPos.z, v0), add(oPos.w, v1.y, c0), mov(oT0.x, v1))));
    std::uint32_t seed = 5;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(seed >> 8) / float(1u << 24);
    };
    std::vector<QuadVertex> vertices;
    std::vector<std::pair<int, int>> strips; // first vertex, vertex count
    for (int s = 0; s < 200; ++s) {
        const int count = 3 + s % 9;
        const int kind = s < 160 ? s % 5 : 5;
        const bool zeroU = s % 11 == 4, unitW = s % 13 == 6;
        strips.emplace_back(int(vertices.size()), count);
        const float x = next(10.0f, 620.0f), y = next(10.0f, 460.0f);
        for (int i = 0; i < count; ++i) {
            const float side = i % 2 == 0 ? 1.0f : -1.0f;
            float px = 0, py = 0; // in pixels
            switch (kind) {
            case 0: // a ribbon of triangles a pixel or two across
                px = x + 1.5f * float(i) + side * next(0.3f, 1.5f);
                py = y + 0.8f * float(i) + next(-0.5f, 0.5f);
                break;
            case 1: // tall and narrow
                px = x + side * next(0.5f, 6.0f);
                py = y - 200.0f + 60.0f * float(i) + next(0.0f, 30.0f);
                break;
            case 2: // needles from the guard band's left edge, a few pixels into the target
                px = i % 2 == 0 ? -900.0f : next(1.0f, 9.0f);
                py = i % 2 == 0 ? next(-500.0f, 900.0f) : y + 2.0f * float(i);
                break;
            case 3: // slivers a pixel high
                px = x - 150.0f + 40.0f * float(i) + next(0.0f, 30.0f);
                py = y + side * next(0.2f, 1.2f);
                break;
            case 4: // larger, some with more pixels in a strip of rows than are gathered
                px = x + 14.0f * float(i) + side * next(2.0f, 9.0f);
                py = y + side * next(4.0f, 12.0f);
                break;
            default: // ribbons a pixel or two across, over a row where a strip may end
                px = x + 1.5f * float(i) + side * next(0.3f, 1.5f);
                py = 64.0f * float(1 + s % 6) + side * next(0.2f, 1.8f);
                break;
            }
            const float w = unitW ? 1.0f : next(1.0f, 2.0f);
            vertices.push_back({(px / 320.0f - 1.0f) * w, (1.0f - py / 240.0f) * w,
                                next(0.1f, 0.9f) * w, zeroU ? 0.0f : next(0.0f, 1.0f), w - 1.0f});
        }
    }
    IDirect3DVertexBuffer9* buffer = vertexBuffer(vertices);
    ASSERT_NE(buffer, nullptr);
    std::vector<std::uint32_t> texels = noiseTexels(8, 3);
    for (std::uint32_t& t : texels) {
        t &= 0xFF3F3F3F; // dim, so that added up they rarely saturate
    }
    IDirect3DTexture9* noise = ownTexture(8, 1, texels);
    auto render = [&](bool reference, bool over) {
        soft()->useReferencePixelPath(reference);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        addedUpWithoutDepth();
        if (over) {
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        }
        drawFromBuffer(shader, buffer, noise);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        const float one[4] = {1, 1, 1, 1};
        device->SetVertexShaderConstantF(0, one, 1);
        for (int pass = 0; pass < 3; ++pass) {
            for (std::size_t s = 0; s < strips.size(); ++s) {
                const auto [first, count] = strips[s];
                device->DrawPrimitive(D3DPT_TRIANGLESTRIP, UINT(first), UINT(count - 2));
                if (pass == 1 && s % 40 == 39) {
                    // Cleared between strips: what was drawn before goes, what comes after
                    // stays, whoever sets the strips up.
                    const D3DRECT band = {0, LONG(s), 640, LONG(s) + 90};
                    device->Clear(1, &band, D3DCLEAR_TARGET, 0xFF102030, 1.0f, 0);
                }
            }
        }
        device->EndScene();
        return frame();
    };
    for (const bool over : {false, true}) {
        const std::vector<std::uint32_t> reference = render(true, over);
        const std::vector<std::uint32_t> fast = render(false, over);
        EXPECT_TRUE(fast == reference) << (over ? "drawn over" : "added up");
        EXPECT_GT(std::count_if(reference.begin(), reference.end(),
                                [](std::uint32_t c) { return (c & 0xFFFFFFu) != 0; }),
                  20000);
    }
    soft()->useReferencePixelPath(false);
}

// ---- Broken geometry

TEST_F(Shaders, NonFiniteVerticesAndCoordinatesAreDrawnSafely) {
    struct SurfaceVertex {
        float x, y, z, nx, ny, nz;
        D3DCOLOR diffuse;
        float u, v;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<SurfaceVertex> vertices;
    const float values[] = {0.1f, nan, inf, -inf, 1e30f, -0.7f, 0.4f};
    for (int i = 0; i < 7 * 7 * 3; ++i) {
        const float a = values[i % 7], b = values[(i / 7) % 7], c = values[(i / 3) % 7];
        vertices.push_back({a * 0.5f, b * 0.5f, 0.2f, c, a, b, 0xFFFFFFFF, c, a * b});
    }
    // Finite triangles with non-finite coordinates among them.
    for (int i = 0; i < 30; ++i) {
        const float x = 0.1f * (i % 6) - 0.3f, y = 0.1f * (i / 6) - 0.2f;
        vertices.push_back({x, y, 0.5f, nan, 0, 0, 0xFFFFFFFF, nan, inf});
        vertices.push_back({x + 0.1f, y, 0.5f, 0, 0, 0, 0xFFFFFFFF, -inf, 2e9f});
        vertices.push_back({x, y + 0.1f, 0.5f, 0, inf, 0, 0xFFFFFFFF, 0.5f, nan});
    }
    std::vector<std::uint32_t> texels(16, 0xFF8040C0);
    IDirect3DTexture9* surface = ownTexture(4, 4, texels);
    device->SetTexture(0, surface);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    const D3DMATRIX identity = identityMatrix();
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    device->SetTransform(D3DTS_PROJECTION, &identity);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = D3DVECTOR{0, 0, 1};
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    const auto count = static_cast<UINT>(vertices.size() / 3);
    auto draw = [&](bool shaders) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        device->SetFVF(0x152);
        if (shaders) {
            const auto sum = metaballPixelShader(2);
            device->SetTexture(1, surface);
            device->SetVertexShader(vertexShader(
                words(assemble(VS_1_1, dcl_position(v0), dcl_texcoord(v1), mov(oPos, v0),
                               mov(oT0, v1), mul(oT1, v1, v0.swizzled(Z, Z, Z, Z))))));
            device->SetPixelShader(pixelShader({sum.begin(), sum.end()}));
        }
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, count, vertices.data(),
                                          sizeof(SurfaceVertex)),
                  D3D_OK);
        device->EndScene();
        return frame();
    };
    for (const bool shaders : {false, true}) {
        SCOPED_TRACE(shaders ? "shaders" : "fixed function");
        soft()->useReferencePixelPath(false);
        const std::vector<std::uint32_t> fast = draw(shaders);
        soft()->useReferencePixelPath(true);
        EXPECT_TRUE(draw(shaders) == fast);
        EXPECT_NE(pixel(300, 260), 0xFF000000u); // the finite triangles were drawn
    }
}

} // namespace
} // namespace tessivane::platform::testing
