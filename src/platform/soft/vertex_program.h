// Vertex shader 1.1 programs on the reference device. A decoded program is compiled once, at
// creation, into a list of operations, each a loop specialised on its instruction that runs
// over a batch of vertices held component by component; a draw then only fetches its
// inputs, runs the list and hands the outputs on as the fixed-function stage would.
#pragma once

#include "platform/d3d9_types.h"
#include "platform/shader/shader_program.h"
#include "platform/soft/vertex_stage.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tessivane::platform::soft {

// Vertices run through a program together: each operation is dispatched, and each batch
// fetched and projected, once for this many. Twice as many cost more than they save, as the
// registers a program uses then no longer stay in the first-level cache.
inline constexpr int VERTEX_BATCH = 64;

// The registers of the compiled form, one after the other.
enum VertexRegister : std::uint8_t {
    VREG_TEMP = 0,                                      // r0..r11
    VREG_INPUT = VREG_TEMP + shader::VERTEX_TEMPS,      // v0..v15
    VREG_POSITION = VREG_INPUT + shader::VERTEX_INPUTS, // oPos
    VREG_FOG,                                           // oFog
    VREG_POINT_SIZE,                                    // oPts
    VREG_COLOR0,                                        // oD0
    VREG_COLOR1,                                        // oD1
    VREG_TEXCOORD0,                                     // oT0..oT7
    VREG_COUNT = VREG_TEXCOORD0 + shader::VERTEX_TEXCOORDS,
};

inline constexpr int VERTEX_CONSTANTS = shader::VERTEX_CONSTANTS;

// A batch of vertices, register by register and component by component.
struct alignas(64) VertexRegisters {
    float reg[VREG_COUNT][4][VERTEX_BATCH];
};

struct VertexOperand {
    std::uint8_t reg;        // a VertexRegister, or a constant number when constant
    bool constant;           // reads a constant register
    bool defined;            // the constant is one the program defines (index into its own)
    std::uint8_t swizzle[4]; // component read for each result component
    float sign;              // 1, or -1 for a negated source
};

struct VertexOp;
struct VertexRun {
    VertexRegisters* registers;
    int count;                   // vertices in the batch, 1..VERTEX_BATCH
    const float (*constants)[4]; // the device's constant registers
    const float (*defined)[4];   // the program's own definitions
};

struct VertexOp {
    using Run = void (*)(const VertexOp&, const VertexRun&);
    Run run = nullptr;
    shader::Opcode opcode = shader::Opcode::Mov;
    std::uint8_t sourceCount = 0;
    std::uint8_t dst = 0;
    std::uint8_t mask = 0;
    bool viaScratch = false; // a later component reads one this instruction already wrote
    VertexOperand src[3];
    // Products of src[0] with constants, fused from consecutive dp3 or dp4 instructions:
    // part p reads the constant products[p] and writes component component[p] of dst. One
    // part is the instruction itself.
    std::uint8_t parts = 1;
    VertexOperand products[4];
    std::uint8_t component[4] = {};
};

struct VertexProgram {
    std::vector<VertexOp> ops;
    std::vector<std::array<float, 4>> defined;
    std::vector<shader::InputDeclaration> inputs;
    // Per output register (oPos .. oT7): the components the program writes. The rest read
    // (0, 0, 0, 1).
    std::uint8_t outputWritten[VREG_COUNT - VREG_POSITION] = {};
    // Per input register: the components some instruction reads. The others need no fetch.
    std::uint8_t inputRead[shader::VERTEX_INPUTS] = {};
};

// Compiles a decoded vertex shader.
VertexProgram compileVertexProgram(const shader::ShaderProgram& program);

// Where one input register's value comes from in a vertex: the element's byte offset and
// D3DDECLTYPE, or no element at all (the register reads (0, 0, 0, 1)).
struct VertexFetch {
    struct Input {
        std::uint8_t reg;        // VREG_INPUT + n
        std::uint8_t components; // those the program reads
        bool present;
        std::uint8_t type;
        std::uint16_t offset;
    };
    Input inputs[shader::VERTEX_INPUTS];
    int inputCount = 0;
};

// One element of the vertex a draw reads, from a declaration or a flexible vertex format.
struct VertexElement {
    std::uint16_t offset;
    std::uint8_t type;  // D3DDECLTYPE
    std::uint8_t usage; // D3DDECLUSAGE
    std::uint8_t usageIndex;
};

// Bytes a D3DDECLTYPE takes; 0 for the types the device does not read.
int elementSize(std::uint8_t type);

// The elements a flexible vertex format stands for.
std::vector<VertexElement> elementsOfFvf(const VertexLayout& layout);

// Binds each input the program declares to the element of the same usage and usage index.
VertexFetch bindVertexInputs(const VertexProgram& program,
                             const std::vector<VertexElement>& elements);

// Everything a draw with a vertex shader needs, set up once per state.
struct VertexShaderSetup {
    const VertexProgram* program = nullptr;
    VertexFetch fetch;
    const float (*constants)[4] = nullptr;
    int stageSet[MAX_STAGES]; // the oTn each texture stage reads
};

// Runs the batch of vertices first.. (at most VERTEX_BATCH of the count at data, stride
// bytes apart) through the program; its outputs are then in the registers.
void shadeVertexBatch(const VertexShaderSetup& setup, const std::uint8_t* data, UINT stride,
                      UINT first, UINT count, VertexRegisters& registers);

// Where float `field` of a VertexOutput comes from: component `component` of register
// `reg`, clamped where it is a colour, or `value` where the program does not write it.
struct OutputSource {
    std::uint8_t reg, component;
    bool written, clamp;
    float value;
};
OutputSource outputSource(const VertexShaderSetup& setup, int field);

// That float of each VertexOutput of the batch just shaded, VERTEX_BATCH of them: the
// register's row, or scratch holding the clamped colours or the default.
const float* shadedValues(const OutputSource& source, const VertexRegisters& registers,
                          float scratch[VERTEX_BATCH]);

// Processes count vertices, the first at data, stride bytes apart, through the program,
// registers serving as scratch.
void runVertexProgram(const VertexShaderSetup& setup, const std::uint8_t* data, UINT stride,
                      UINT count, VertexRegisters& registers, VertexOutput* out);

// The floats of VertexOutput (bit f for float f) that are +0 at every vertex the program
// processes: those it never writes, whose default is 0.
std::uint32_t zeroOutputs(const VertexShaderSetup& setup);

// The same, one vertex and one instruction at a time from the decoded program: the plain
// reading of the rules that the compiled form must match exactly.
void runVertexProgramReference(const shader::ShaderProgram& program, const VertexShaderSetup& setup,
                               const std::uint8_t* data, UINT stride, UINT count,
                               VertexOutput* out);

} // namespace tessivane::platform::soft
