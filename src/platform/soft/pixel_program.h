// The pixel stage: per draw, the state is compiled once into a short list of operations, each
// a loop specialised on its state (texture format, filter, addressing, stage operation, fog
// mode, blend factors) that runs over a chunk of pixels at a time. Nothing in those loops
// looks state up or allocates. A pixel shader compiles into the same kind of list, over the
// same registers.
#pragma once

#include "platform/soft/pixel_state.h"

#include <cstdint>

namespace tessivane::platform::soft {

// Pixels shaded together.
inline constexpr int CHUNK = 128;

// Per-thread scratch for up to CHUNK covered pixels of one primitive, from any of its rows.
struct alignas(64) PixelChunk {
    int count = 0; // pixels covered; after the depth test, those that passed
    std::int32_t x[CHUNK];
    std::int32_t y[CHUNK];
    float fx[CHUNK]; // x − refX of the primitive
    float fy[CHUNK]; // y − refY
    float z[CHUNK];
    float w[CHUNK];
    float coord[MAX_STAGES][2][CHUNK];
    float reg[REG_COUNT][4][CHUNK];
    HalfwayTaps halfway; // those of the primitive shaded
    // Where the pixels lie, when known: runCount runs of pixels side by side on a row, in
    // chunk order. 0 when unknown (pixels gathered from many primitives, or some failed the
    // depth test).
    struct Run {
        std::int16_t x, y;         // the first pixel (targets are at most 4096 a side)
        std::uint8_t first, count; // its place in the chunk, and the run's length
    };
    int runCount = 0;
    Run runs[CHUNK];
    // Whether a pixel may be in the chunk more than once (pixels gathered from many
    // primitives); they are written in chunk order.
    bool mayRepeat = false;
};
static_assert(CHUNK <= 255, "a run's place and length are bytes");

struct PixelOp {
    using Run = void (*)(const PixelOp&, const PixelState&, PixelChunk&);
    Run run = nullptr;
    std::uint8_t stage = 0;
    std::uint8_t dst = 0;
    std::uint8_t arg1 = 0;
    std::uint8_t arg2 = 0;
};

// Enough for the texture stages (a sample and two operations each, the factor, specular and
// fog) and for a pixel shader (its samples, its arithmetic and fog).
inline constexpr int MAX_PIXEL_OPS = 3 * MAX_STAGES + 3;
static_assert(MAX_PIXEL_OPS >= MAX_STAGES + MAX_SHADER_STEPS + 1);

struct PixelProgram {
    using Planes = void (*)(const PixelState&, const PrimitivePlanes&, PixelChunk&);
    using Write = void (*)(const PixelState&, const PixelChunk&, int colorReg, int alphaReg);

    Planes depth = nullptr; // tests (and writes) depth; keeps the pixels that pass
    // The test alone, for primitives whose every attribute is a tap read by position
    // (HalfwayTaps::everyAttribute): nothing needs the pixels' offsets, depth or w. Null
    // where the program reads them anyway.
    Planes depthOnly = nullptr;
    Planes interpolate = nullptr; // w and the attributes of the pixels kept
    PixelOp ops[MAX_PIXEL_OPS];
    int opCount = 0;
    std::uint8_t colorReg = REG_DIFFUSE; // where the final RGB is
    std::uint8_t alphaReg = REG_DIFFUSE; // where the final alpha is
    Write write = nullptr;               // blends and stores
    bool wide = false;                   // compiled for 256-bit vectors
};

PixelProgram compilePixelProgram(const PixelState& state);

// Shades the chunk's pixels, all of them inside the primitive and the clip rectangle.
void shadeChunk(const PixelState& state, const PixelProgram& program, const PrimitivePlanes& planes,
                PixelChunk& chunk);

// Shades pixels whose depth test has already been passed and whose w and attributes are
// already in the chunk: the program's operations and the write.
void shadeGathered(const PixelState& state, const PixelProgram& program, PixelChunk& chunk);

// One sample of the stage's texture at (u, v), as the rules define it.
void sampleTexture(const StageSetup& stage, float u, float v, float out[4]);

// The same, one pixel at a time, every state looked up as it goes: the plain reading of the
// rules that the specialised paths must match byte for byte.
void shadeSpanReference(const PixelState& state, const PrimitivePlanes& planes, int y, int x0,
                        int x1);

} // namespace tessivane::platform::soft
