// Inside the pixel stage: how an operation exists in a narrow and a wide form. Its body is
// written once, as an always-inlined function over a chunk's arrays, and inlined into two
// functions: one for any processor of the architecture, one compiled for 256-bit vectors,
// where the compiler runs the same loops eight pixels at a time. Lane by lane the floats are
// the same (no operations are fused or reordered), so the forms give the same bytes.
#pragma once

#include "platform/soft/pixel_program.h"
#include "platform/wide.h"

#include <cstdint>
#include <cstring>

namespace tessivane::platform::soft {

#if TESSIVANE_WIDE
#define TESSIVANE_WIDE_TARGET WIDE
#else
#define TESSIVANE_WIDE_TARGET
#endif
#define TESSIVANE_BODY [[gnu::always_inline]] inline

// Eight neighbouring entries of a chunk row. Loops over a chunk run over whole groups of
// eight: every row has room for them, and lanes past the count compute values that nothing
// reads. Loading a group before storing one keeps the compiler from having to prove that a
// result row and a source row never overlap in part (they may be the same row).
using Lanes = float __attribute__((vector_size(32)));

// Functions over Lanes are always inlined, so how a 256-bit value would be passed between
// functions compiled for different processors never arises.
#pragma GCC diagnostic ignored "-Wpsabi"

TESSIVANE_BODY Lanes loadLanes(const float* from) {
    Lanes v;
    std::memcpy(&v, from, sizeof v);
    return v;
}
TESSIVANE_BODY void storeLanes(float* to, Lanes v) {
    std::memcpy(to, &v, sizeof v);
}
TESSIVANE_BODY Lanes splat(float value) {
    return Lanes{} + value;
}
// saturate() lane by lane: NaN and anything not above 0 become 0.
TESSIVANE_BODY Lanes saturate(Lanes v) {
    const Lanes zero{};
    const Lanes one = splat(1.0f);
    return v > zero ? (v < one ? v : one) : zero;
}

template <auto BODY>
void narrowOp(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    BODY(op, s, c);
}
template <auto BODY>
TESSIVANE_WIDE_TARGET void wideOp(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    BODY(op, s, c);
}
template <auto BODY>
PixelOp::Run opVariant(bool wide) {
    return wide ? wideOp<BODY> : narrowOp<BODY>;
}

template <auto BODY>
void narrowPlanes(const PixelState& s, const PrimitivePlanes& p, PixelChunk& c) {
    BODY(s, p, c);
}
template <auto BODY>
TESSIVANE_WIDE_TARGET void widePlanes(const PixelState& s, const PrimitivePlanes& p,
                                      PixelChunk& c) {
    BODY(s, p, c);
}
template <auto BODY>
PixelProgram::Planes planesVariant(bool wide) {
    return wide ? widePlanes<BODY> : narrowPlanes<BODY>;
}

// The arithmetic of a pixel shader instruction, in the form wanted. Its operation writes the
// components given as its arg1.
PixelOp::Run choosePixelShaderStep(const ShaderStep& step, bool wide);

// The components each of a draw's pixel shader steps must write: those something after it
// reads, or that leave the shader and matter to the target. The rest need not be computed.
void liveShaderComponents(const PixelState& state, std::uint8_t masks[MAX_SHADER_STEPS]);

// A stage a pixel shader samples without a texture bound reads opaque black.
void blackTexelOp(const PixelOp& op, const PixelState& s, PixelChunk& c);

} // namespace tessivane::platform::soft
