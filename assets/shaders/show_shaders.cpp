// The show's shaders, written as their assembly listings.
#include "shaders/show_shaders.h"

#include "shaders/shader_assembler.h"

namespace tessivane::shaders {

namespace {

using namespace registers;

// Each program keeps the layout of its listing.
// clang-format off

// The full-screen quad as it is: position and texture coordinates straight through.
constexpr auto QUAD_COPY = assemble(VS_1_1,
    dcl_position(v0),
    dcl_texcoord(v1),
    mov(oPos, v0),
    mov(oT0, v1));

// Four taps along a diagonal: c0 holds the tap distances (0, 1, 2, 3 steps) and c1 the
// direction; tap k reads at the input coordinates moved by c1 · c0[k].
constexpr auto QUAD_TAPS = assemble(VS_1_1,
    dcl_position(v0),
    dcl_texcoord(v1),
    mov(oPos, v0),
    mov(r2, c0),
    mul(r0, c1.x, r2),
    mul(r1, c1.y, r2),
    add(oT0.x, v1.x, r0.x),
    add(oT0.y, v1.y, r1.x),
    add(oT1.x, v1.x, r0.y),
    add(oT1.y, v1.y, r1.y),
    add(oT2.x, v1.x, r0.z),
    add(oT2.y, v1.y, r1.z),
    add(oT3.x, v1.x, r0.w),
    add(oT3.y, v1.y, r1.w));

// The same coordinates for all four stages.
constexpr auto QUAD_FOUR_STAGES = assemble(VS_1_1,
    dcl_position(v0),
    dcl_texcoord(v1),
    mov(oPos, v0),
    mov(oT0.xy, v1),
    mov(oT1.xy, v1),
    mov(oT2.xy, v1),
    mov(oT3.xy, v1));

// The bright pass: c · (c + 0.1).
constexpr auto BRIGHT_PASS = assemble(PS_1_1,
    def(c1, 0.1f, 0.1f, 0.1f, 0.1f),
    tex(t0),
    add(r0, t0, c1),
    mul(r0, t0, r0));

// Four weighted taps.
constexpr auto WEIGHTED_TAPS = assemble(PS_1_3,
    tex(t0),
    tex(t1),
    tex(t2),
    tex(t3),
    mul(r0, t0, c0),
    mad(r0, t1, c1, r0),
    mad(r0, t2, c2, r0),
    mad(r0, t3, c3, r0));

// Scene plus glare.
constexpr auto SUM_OF_TWO = assemble(PS_1_3,
    tex(t0),
    tex(t1),
    add(r0, t0, t1));

// The tubes: clip position from the transposed world-view-projection in c0..c3, the
// normal through the world matrix in c8..c10, and as texture coordinate u the cosine
// between the normal and the direction to the camera in c14.
constexpr auto TUBE = assemble(VS_1_1,
    dcl_position(v0),
    dcl_normal(v1),
    dcl_texcoord(v2),
    dp4(oPos.x, v0, c0),
    dp4(oPos.y, v0, c1),
    dp4(oPos.z, v0, c2),
    dp4(oPos.w, v0, c3),
    dp3(r0.x, v1, c8),
    dp3(r0.y, v1, c9),
    dp3(r0.z, v1, c10),
    dp3(r0.w, r0, r0),
    rsq(r0.w, r0.w),
    mul(r0, r0, r0.w),
    dp4(r1.x, v0, c4),
    dp4(r1.y, v0, c5),
    dp4(r1.z, v0, c6),
    dp4(r1.w, v0, c7),
    add(r2, c14, -r1),
    dp3(r2.w, r2, r2),
    rsq(r2.w, r2.w),
    mul(r2, r2, r2.w),
    dp3(r1, r2, r0),
    mov(oT0.x, r1));

// clang-format on

} // namespace

std::span<const std::uint32_t> metaballVertexShader(int index) {
    switch (index) {
    case 0:
        return QUAD_COPY;
    case 1:
        return QUAD_TAPS;
    default:
        return QUAD_FOUR_STAGES;
    }
}

std::span<const std::uint32_t> metaballPixelShader(int index) {
    switch (index) {
    case 0:
        return BRIGHT_PASS;
    case 1:
        return WEIGHTED_TAPS;
    default:
        return SUM_OF_TWO;
    }
}

std::span<const std::uint32_t> tubeVertexShader() { return TUBE; }

} // namespace tessivane::shaders
