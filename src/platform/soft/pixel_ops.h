// Inside the pixel stage: how an operation exists in a narrow and a wide form. Its body is
// written once, as an always-inlined function over a chunk's arrays, and inlined into two
// functions: one for any processor of the architecture, one compiled for 256-bit vectors,
// where the compiler runs the same loops eight pixels at a time. Lane by lane the floats are
// the same (no operations are fused or reordered), so the forms give the same bytes.
#pragma once

#include "platform/soft/pixel_program.h"

#include <cstdint>

namespace tessivane::platform::soft {

#if defined(__x86_64__) || defined(__i386__)
#define TESSIVANE_WIDE_TARGET __attribute__((target("avx2")))
#else
#define TESSIVANE_WIDE_TARGET
#endif
#define TESSIVANE_BODY [[gnu::always_inline]] inline

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
