// Feeds arbitrary token streams to the shader decoder: the first byte picks the stage (even:
// vertex, odd: pixel), the rest are the stream's DWORDs, little-endian. A stream is either
// refused with a reason and an empty program, or decoded into a program whose every register
// number, mask and swizzle is inside what its version allows, so that whoever runs it may
// index with them unchecked. A decoded vertex program is also compiled for the reference
// device and run both ways, batched and one vertex at a time, over vertices and constants
// full of awkward floats: both must give the same outputs.
#include "platform/shader/shader_program.h"
#include "platform/soft/vertex_program.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace tessivane::platform;
using namespace tessivane::platform::shader;

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "fuzzer: a broken promise: %s %s\n", what, detail.c_str());
    __builtin_trap();
}

void check(bool holds, const char* what) {
    if (!holds) {
        broken(what);
    }
}

int limitOf(RegisterFile file, ShaderStage stage) {
    const bool vertex = stage == ShaderStage::Vertex;
    switch (file) {
    case RegisterFile::Temp:
        return vertex ? VERTEX_TEMPS : PIXEL_TEMPS;
    case RegisterFile::Input:
        return vertex ? VERTEX_INPUTS : PIXEL_COLORS;
    case RegisterFile::Const:
        return vertex ? VERTEX_CONSTANTS : PIXEL_CONSTANTS;
    case RegisterFile::Texture:
        return vertex ? 0 : PIXEL_TEXTURES;
    case RegisterFile::RasterOut:
        return vertex ? 3 : 0;
    case RegisterFile::AttributeOut:
        return vertex ? 2 : 0;
    case RegisterFile::TexCoordOut:
        return vertex ? VERTEX_TEXCOORDS : 0;
    }
    return 0;
}

int sourcesOf(Opcode opcode) {
    switch (opcode) {
    case Opcode::Tex:
        return 0;
    case Opcode::Mov:
    case Opcode::Rcp:
    case Opcode::Rsq:
        return 1;
    case Opcode::Mad:
        return 3;
    default:
        return 2;
    }
}

void checkProgram(const ShaderProgram& program, ShaderStage stage, std::size_t tokens) {
    check(program.stage == stage, "stage");
    check(program.tokenCount >= 2 && program.tokenCount <= tokens, "token count");
    int textures = 0;
    int arithmetic = 0;
    for (const Instruction& in : program.instructions) {
        check(in.sourceCount == sourcesOf(in.opcode), "source count");
        const Destination& d = in.destination;
        check(d.mask >= 1 && d.mask <= 15, "destination mask");
        check(d.index < limitOf(d.file, stage), "destination register");
        check(d.shift >= -3 && d.shift <= 3, "result shift");
        for (int i = 0; i < in.sourceCount; ++i) {
            const Source& s = in.sources[i];
            check(s.index < limitOf(s.file, stage), "source register");
            for (std::uint8_t component : s.swizzle) {
                check(component < 4, "swizzle");
            }
        }
        (in.opcode == Opcode::Tex ? textures : arithmetic) += 1;
    }
    if (stage == ShaderStage::Vertex) {
        check(textures == 0 && arithmetic <= 128, "vertex instructions");
    } else {
        check(textures <= PIXEL_TEXTURES && arithmetic <= 8, "pixel instructions");
        check(program.inputs.empty(), "pixel declarations");
    }
    for (const InputDeclaration& input : program.inputs) {
        check(input.index < VERTEX_INPUTS && input.mask >= 1 && input.mask <= 15, "declaration");
    }
    for (const ConstantDefinition& c : program.constants) {
        check(c.index < limitOf(RegisterFile::Const, stage), "definition");
    }
}

// Values that tend to find differences between two ways of computing the same thing.
const float AWKWARD[] = {0.0f,
                         -0.0f,
                         1.0f,
                         -1.0f,
                         0.5f,
                         3.0f,
                         -7.25f,
                         1e-40f, // subnormal
                         std::numeric_limits<float>::max(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         1e20f,
                         -1e-20f,
                         0.1f,
                         65504.0f,
                         -2.5f};
constexpr std::size_t AWKWARD_COUNT = sizeof AWKWARD / sizeof AWKWARD[0];

// Over one batch and a part, so that both the full and the short batch run.
constexpr int VERTICES = soft::VERTEX_BATCH + 7;
constexpr int FLOATS_PER_INPUT = 4;
constexpr int STRIDE = VERTEX_INPUTS * FLOATS_PER_INPUT * sizeof(float);

void runBothWays(const ShaderProgram& decoded) {
    const soft::VertexProgram program = soft::compileVertexProgram(decoded);
    // Each declared input reads four floats of its own place in the vertex.
    std::vector<soft::VertexElement> elements;
    for (const InputDeclaration& input : decoded.inputs) {
        elements.push_back({static_cast<std::uint16_t>(input.index * 16), D3DDECLTYPE_FLOAT4,
                            input.usage, input.usageIndex});
    }
    static float constants[VERTEX_CONSTANTS][4];
    static std::vector<float> vertices;
    if (vertices.empty()) {
        for (int c = 0; c < VERTEX_CONSTANTS; ++c) {
            for (int k = 0; k < 4; ++k) {
                constants[c][k] = AWKWARD[(c * 5 + k * 3) % AWKWARD_COUNT];
            }
        }
        vertices.resize(static_cast<std::size_t>(VERTICES) * STRIDE / sizeof(float));
        for (std::size_t i = 0; i < vertices.size(); ++i) {
            vertices[i] = AWKWARD[(i * 7 + i / 13) % AWKWARD_COUNT];
        }
    }
    soft::VertexShaderSetup setup;
    setup.program = &program;
    setup.fetch = soft::bindVertexInputs(program, elements);
    setup.constants = constants;
    for (int s = 0; s < soft::MAX_STAGES; ++s) {
        setup.stageSet[s] = s;
    }
    static auto registers = std::make_unique<soft::VertexRegisters>();
    std::vector<soft::VertexOutput> compiled(VERTICES);
    std::vector<soft::VertexOutput> reference(VERTICES);
    const auto* data = reinterpret_cast<const std::uint8_t*>(vertices.data());
    soft::runVertexProgram(setup, data, STRIDE, VERTICES, *registers, compiled.data());
    soft::runVertexProgramReference(decoded, setup, data, STRIDE, VERTICES, reference.data());
    // Bit for bit, but for which NaN: every NaN is treated alike after this stage.
    const auto* a = reinterpret_cast<const float*>(compiled.data());
    const auto* b = reinterpret_cast<const float*>(reference.data());
    for (std::size_t i = 0; i < VERTICES * sizeof(soft::VertexOutput) / sizeof(float); ++i) {
        const bool same = std::isnan(a[i]) ? std::isnan(b[i])
                                           : std::bit_cast<std::uint32_t>(a[i]) ==
                                                 std::bit_cast<std::uint32_t>(b[i]);
        if (!same) {
            broken("the compiled vertex program differs from the reference at float",
                   std::to_string(i));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const ShaderStage stage = (data[0] & 1) == 0 ? ShaderStage::Vertex : ShaderStage::Pixel;
    std::vector<std::uint32_t> tokens((size - 1) / 4);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::uint8_t* p = data + 1 + 4 * i;
        tokens[i] = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    ShaderProgram program;
    std::string error;
    if (!decodeShader(tokens, stage, program, error)) {
        check(!error.empty(), "a refusal without a reason");
        check(program.instructions.empty() && program.inputs.empty() && program.constants.empty(),
              "a refused stream leaves a program behind");
        return 0;
    }
    check(error.empty(), "an error after a success");
    checkProgram(program, stage, tokens.size());
    if (stage == ShaderStage::Vertex) {
        runBothWays(program);
    }
    return 0;
}
