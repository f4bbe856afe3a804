// What the pixel stage of one draw works with: the texture stages, fog, depth and blending
// state reduced to what actually runs, the target it writes, and the planes of a primitive.
// Both pixel paths (the per-draw specialised one and the per-pixel reference one) read it.
#pragma once

#include "platform/d3d9_types.h"

#include <array>
#include <bit>
#include <cstdint>

namespace tessivane::platform::soft {

// Texture stages (and texture-coordinate sets) the device draws with.
inline constexpr int MAX_STAGES = 4;
// Values interpolated across a primitive besides depth and 1/w: diffuse and specular RGBA
// and two coordinates per stage.
inline constexpr int MAX_ATTRIBUTES = 8 + 2 * MAX_STAGES;

// Bilinear samples of a texture taken halfway between every four neighbouring texel
// centres, worked out before a pass that reads them many times (see halfway_samples.h).
struct HalfwaySamples;

struct TextureView {
    const std::uint8_t* bits = nullptr; // level 0, top row first
    int pitch = 0;
    int width = 0; // a power of two
    int height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    // Whether every row holds the same texels (a gradient, say): a tap then reads one row.
    bool rowsAlike = false;
    // Set for the draws of a queue that tap a clamped 32-bit texture several times; null
    // otherwise. It holds what sampling halfway between texels would give, no more.
    const HalfwaySamples* halfway = nullptr;
};

enum class Filter : std::uint8_t { Point, Linear };
enum class Address : std::uint8_t { Wrap, Clamp };

// Where a stage argument is read from. CURRENT is the running result of the cascade. A pixel
// shader reads the same registers: v0 and v1 are DIFFUSE and SPECULAR, tn is TEX0 + n, and
// its temporaries r0 and r1 have two of their own.
enum Register : std::uint8_t {
    REG_DIFFUSE,
    REG_SPECULAR,
    REG_TFACTOR,
    REG_CURRENT,
    REG_TEX0, // the sample of stage n is REG_TEX0 + n
    REG_TEMP0 = REG_TEX0 + MAX_STAGES,
    REG_TEMP1,
    REG_COUNT,
};

// One texture stage that runs. Ops are D3DTOP values; alphaOp may be D3DTOP_DISABLE, which
// passes the current alpha through. Arguments are registers; on stage 0 CURRENT has already
// been replaced by DIFFUSE.
struct StageSetup {
    DWORD colorOp = D3DTOP_DISABLE;
    Register colorArg1 = REG_DIFFUSE;
    Register colorArg2 = REG_DIFFUSE;
    DWORD alphaOp = D3DTOP_DISABLE;
    Register alphaArg1 = REG_DIFFUSE;
    Register alphaArg2 = REG_DIFFUSE;
    bool sample = false; // the stage reads its texture
    Filter filter = Filter::Point;
    Address addressU = Address::Wrap;
    Address addressV = Address::Wrap;
    TextureView texture;
};

// Which interpolated value an attribute slot carries.
struct AttributeSlot {
    std::uint8_t source; // float index into VertexOutput
    bool coordinate;     // a texture coordinate (else a colour channel)
    std::uint8_t index;  // colour: register; coordinate: stage
    std::uint8_t component;
};

// ---- Pixel shaders, in the form both pixel paths run them.

// Arithmetic instructions of pixel shaders 1.1..1.3 (texture loads are sample operations).
enum class ShaderOp : std::uint8_t { Mov, Add, Sub, Mul, Mad, Dp3 };

inline constexpr int MAX_SHADER_STEPS = 8; // arithmetic instructions per program
inline constexpr int PIXEL_SHADER_CONSTANTS = 8;

struct ShaderOperand {
    std::uint8_t reg;        // a Register, or a constant index when constant
    bool constant;           // reads c[reg] from PixelShaderState::constants
    std::uint8_t swizzle[4]; // component read for each result component
    float sign;              // 1, or -1 for a negated source
};

struct ShaderStep {
    ShaderOp op;
    std::uint8_t sourceCount;
    std::uint8_t dst;  // REG_TEMP0 or REG_TEMP1
    std::uint8_t mask; // bit 0 r .. bit 3 a
    float scale;       // 2^shift of the result modifier
    bool saturate;     // clamp to 0..1 after scaling
    bool viaScratch;   // a later component reads one this step has already written
    ShaderOperand src[3];
};

// A bound pixel shader: its arithmetic and the constants it reads, its own definitions
// already in place. Registers hold any float between instructions; only the final colour
// is clamped, on its way to the target.
struct PixelShaderState {
    bool active = false;
    std::uint8_t texturesSampled = 0; // bit n: stage n is sampled into tn
    int stepCount = 0;
    ShaderStep steps[MAX_SHADER_STEPS];
    // The program's constants, then for each stage n whose one sample the draw takes at its
    // set-up, that sample in row PIXEL_SHADER_CONSTANTS + n (read as a constant in place of
    // tn).
    float constants[PIXEL_SHADER_CONSTANTS + MAX_STAGES][4] = {};
};

enum class FogSource : std::uint8_t {
    W, // eye depth, rebuilt per pixel from the interpolated 1/w
    Z, // depth-buffer z
};

struct PixelState {
    // Stages 0..stageCount-1 run; 0 = the diffuse colour is the output. With a pixel shader
    // the stages only sample (those it names); the shader does the rest.
    int stageCount = 0;
    StageSetup stages[MAX_STAGES];
    PixelShaderState shader;
    float textureFactor[4] = {1, 1, 1, 1};
    bool specularAdd = false;

    DWORD fogMode = D3DFOG_NONE;
    FogSource fogSource = FogSource::W;
    float fogDensity = 1.0f;
    float fogStart = 0.0f;
    float fogEnd = 1.0f;
    float fogColor[3] = {0, 0, 0};

    bool depthTest = false;
    bool depthWrite = false;
    DWORD depthFunc = D3DCMP_LESSEQUAL;

    bool blend = false;
    DWORD srcBlend = D3DBLEND_ONE;
    DWORD destBlend = D3DBLEND_ZERO;

    int attributeCount = 0;
    AttributeSlot attributes[MAX_ATTRIBUTES];

    std::uint8_t* target = nullptr; // X8R8G8B8 or A8R8G8B8
    int targetPitch = 0;
    D3DFORMAT targetFormat = D3DFMT_X8R8G8B8;
    std::uint16_t* depth = nullptr; // null when there is no depth buffer
    int depthPitch = 0;             // in entries
    // Pixels written: x0 <= x < x1, y0 <= y < y1 (the viewport).
    int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;
};

// value(x, y) = (c + b·(y − refY)) + a·(x − refX), evaluated in that order, in float.
struct Plane {
    float a, b, c;
};

// Stages whose every tap over a primitive falls exactly halfway between four texels, at a
// whole number of texels from the pixel: a full-screen pass over a target the texture's
// size, for one. Their samples come straight from the texture's halfway table, found from
// the pixel's position alone, and their coordinates are never interpolated (only sampling
// reads them).
struct HalfwayTaps {
    std::uint8_t stages = 0;     // bit n: stage n
    bool everyAttribute = false; // every attribute of the draw is a coordinate of such a stage
    // Per stage, the column and row of the texel left of and above the tap, less the pixel's.
    std::int32_t offset[MAX_STAGES][2];
};

// The interpolation of one primitive. For triangles the attribute planes carry value / w and
// are perspective-corrected per pixel; for points every plane is flat and taken as it is.
// Only the draw's attributeCount planes are set.
struct PrimitivePlanes {
    float refX, refY;
    bool perspective;
    // Attributes known to be +0 at every corner (bit a for attribute a); not every such
    // attribute need be marked.
    std::uint32_t zeroAttributes = 0;
    Plane z;
    Plane invW;
    Plane attribute[MAX_ATTRIBUTES];
    HalfwayTaps halfway;
};

// ---- Arithmetic shared by both pixel paths, so that their bytes agree.

// Clamps to 0..1; NaN becomes 0.
inline float saturate(float v) {
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

// The 8-bit value of a colour channel: floor(c·255 + 0.5) after clamping.
inline std::uint32_t toUnorm8(float v) {
    return static_cast<std::uint32_t>(saturate(v) * 255.0f + 0.5f);
}

// The depth test: whether a pixel's depth passes against the stored one.
inline bool depthPasses(DWORD func, std::uint16_t pixel, std::uint16_t stored) {
    switch (func) {
    case D3DCMP_NEVER:
        return false;
    case D3DCMP_LESS:
        return pixel < stored;
    case D3DCMP_EQUAL:
        return pixel == stored;
    case D3DCMP_LESSEQUAL:
        return pixel <= stored;
    case D3DCMP_GREATER:
        return pixel > stored;
    case D3DCMP_NOTEQUAL:
        return pixel != stored;
    case D3DCMP_GREATEREQUAL:
        return pixel >= stored;
    default:
        return true;
    }
}

// Whether every depth a pixel can have passes the test against stored. The orderings pass
// everywhere when they pass at both ends; not-equal fails at stored itself.
inline bool depthAlwaysPasses(DWORD func, std::uint16_t stored) {
    return func != D3DCMP_NOTEQUAL && depthPasses(func, 0, stored) &&
           depthPasses(func, 0xFFFF, stored);
}

// D16 holds unsigned normalised depth: round(z·65535) after clamping.
inline std::uint16_t toDepth16(float z) {
    return static_cast<std::uint16_t>(saturate(z) * 65535.0f + 0.5f);
}

// The depth test of the pixel (x, y) at depth z: whether it passes, its depth written when it
// does and the state writes depth. Without a depth test every pixel passes.
inline bool depthTestPixel(const PixelState& s, int x, int y, float z) {
    if (!s.depthTest) {
        return true;
    }
    std::uint16_t& stored = s.depth[static_cast<std::ptrdiff_t>(y) * s.depthPitch + x];
    const std::uint16_t q = toDepth16(z);
    if (!depthPasses(s.depthFunc, q, stored)) {
        return false;
    }
    if (s.depthWrite) {
        stored = q;
    }
    return true;
}

constexpr std::array<float, 256> unorm8Table() {
    std::array<float, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<float>(i) / 255.0f;
    }
    return table;
}
// byte / 255 for every byte value.
inline constexpr std::array<float, 256> UNORM8_TO_FLOAT = unorm8Table();

// Texel-space coordinates are kept within ±2^23 so that they convert to int exactly; far
// outside any texture, where wrapping has long lost all precision anyway.
inline float limitTexelCoordinate(float x) {
    constexpr float LIMIT = 8388608.0f;
    if (!(x > -LIMIT)) {
        return -LIMIT; // also NaN
    }
    return x < LIMIT ? x : LIMIT;
}

// e^x for x <= 0 to within about 2·10^-7, the same on every machine: built from float
// additions and multiplications only (the C library's exp may differ by machine in its last
// bit), and without branches, so that fog runs several pixels at a time. Positive x gives 1;
// below -87 (and NaN) it gives e^-87, 1.6·10^-38, which no 8-bit colour can tell from 0.
inline float expNonPositive(float x) {
    x = x >= -87.0f ? x : -87.0f;
    x = x < 0.0f ? x : 0.0f;
    // x = k·ln 2 + r with |r| <= ln 2 / 2 (ln 2 in two parts, the first exact in k·ln2High),
    // e^r from its series to r^6, then scaled by 2^k.
    const int k = static_cast<int>(x * 1.44269504f - 0.5f);
    const float fk = static_cast<float>(k);
    const float r = (x - fk * 0.693145752f) - fk * 1.42860677e-6f;
    const float series =
        1.0f +
        r * (1.0f +
             r * (0.5f + r * (1.0f / 6.0f +
                              r * (1.0f / 24.0f + r * (1.0f / 120.0f + r * (1.0f / 720.0f))))));
    return series * std::bit_cast<float>(static_cast<std::uint32_t>(k + 127) << 23);
}

// The fog factor f at distance d: 1 leaves the colour alone, 0 is all fog colour.
template <DWORD MODE>
inline float fogFactorOf(float d, float density, float start, float end) {
    if constexpr (MODE == D3DFOG_EXP) {
        return expNonPositive(-(d * density));
    } else if constexpr (MODE == D3DFOG_EXP2) {
        const float t = d * density;
        return expNonPositive(-(t * t));
    } else {
        return saturate((end - d) / (end - start));
    }
}

inline float planeRow(const Plane& p, float fy) {
    return p.c + p.b * fy;
}
inline float planeAt(float row, const Plane& p, float fx) {
    return row + p.a * fx;
}

} // namespace tessivane::platform::soft
