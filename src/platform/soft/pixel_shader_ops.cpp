// The arithmetic of pixel shaders as operations over a chunk: one loop per instruction and
// result component, specialised on the instruction and on which sources are constants.
#include "platform/soft/pixel_ops.h"

#include <cstring>

namespace tessivane::platform::soft {

namespace {

// A source operand for result component ch: a row of the chunk, or one constant for all.
// Rows are multiplied by their sign only in the general form of a step (x · 1 is x).
template <bool CONSTANT, bool GENERAL>
struct StepSource {
    const float* row = nullptr;
    Lanes value{};
    float sign = 1.0f;

    TESSIVANE_BODY StepSource(const ShaderOperand& o, int ch, const PixelState& s,
                              const PixelChunk& c)
        : sign(o.sign) {
        if constexpr (CONSTANT) {
            value = splat(s.shader.constants[o.reg][o.swizzle[ch]] * o.sign);
        } else {
            row = c.reg[o.reg][o.swizzle[ch]];
        }
    }
    // The eight lanes from k on.
    TESSIVANE_BODY Lanes operator[](int k) const {
        if constexpr (CONSTANT) {
            return value;
        } else if constexpr (GENERAL) {
            return loadLanes(row + k) * sign;
        } else {
            return loadLanes(row + k);
        }
    }
};

template <ShaderOp OP>
TESSIVANE_BODY Lanes shaderCombine(Lanes a, Lanes b, Lanes c) {
    if constexpr (OP == ShaderOp::Mov) {
        return a;
    } else if constexpr (OP == ShaderOp::Add) {
        return a + b;
    } else if constexpr (OP == ShaderOp::Sub) {
        return a - b;
    } else if constexpr (OP == ShaderOp::Mul) {
        return a * b;
    } else {
        static_assert(OP == ShaderOp::Mad);
        return a * b + c;
    }
}

// The result modifier: scaled (in the general form; otherwise the scale is 1), then clamped
// if the instruction asks for it. Nothing else limits the range of a shader's registers.
template <bool SATURATE, bool GENERAL>
TESSIVANE_BODY Lanes modified(Lanes v, float scale) {
    if constexpr (GENERAL) {
        v = v * scale;
    }
    if constexpr (SATURATE) {
        return saturate(v);
    } else {
        return v;
    }
}

template <ShaderOp OP, bool C0, bool C1, bool C2, bool SATURATE, bool GENERAL>
TESSIVANE_BODY void shaderStep(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    const ShaderStep& step = s.shader.steps[op.stage];
    const int mask = op.arg1; // the components written that anything reads later
    const int n = c.count;
    float(*dst)[CHUNK] = c.reg[step.dst];
    const float scale = step.scale;
    if constexpr (OP == ShaderOp::Dp3) {
        const StepSource<C0, GENERAL> a0(step.src[0], 0, s, c), a1(step.src[0], 1, s, c),
            a2(step.src[0], 2, s, c);
        const StepSource<C1, GENERAL> b0(step.src[1], 0, s, c), b1(step.src[1], 1, s, c),
            b2(step.src[1], 2, s, c);
        for (int k = 0; k < n; k += 8) {
            const Lanes result =
                modified<SATURATE, GENERAL>(a0[k] * b0[k] + a1[k] * b1[k] + a2[k] * b2[k], scale);
            for (int ch = 0; ch < 4; ++ch) {
                if (mask & (1 << ch)) {
                    storeLanes(dst[ch] + k, result);
                }
            }
        }
    } else {
        float scratch[4][CHUNK];
        for (int ch = 0; ch < 4; ++ch) {
            if (!(mask & (1 << ch))) {
                continue;
            }
            const StepSource<C0, GENERAL> a(step.src[0], ch, s, c);
            const StepSource<C1, GENERAL> b(step.src[1], ch, s, c);
            const StepSource<C2, GENERAL> d(step.src[2], ch, s, c);
            float* out = step.viaScratch ? scratch[ch] : dst[ch];
            for (int k = 0; k < n; k += 8) {
                storeLanes(out + k,
                           modified<SATURATE, GENERAL>(shaderCombine<OP>(a[k], b[k], d[k]), scale));
            }
        }
        if (step.viaScratch) {
            for (int ch = 0; ch < 4; ++ch) {
                if (mask & (1 << ch)) {
                    std::memcpy(dst[ch], scratch[ch], sizeof(float) * static_cast<std::size_t>(n));
                }
            }
        }
    }
}

template <ShaderOp OP, bool SATURATE, bool GENERAL>
PixelOp::Run stepFor(int constants, bool wide) {
    switch (constants) {
    case 0:
        return opVariant<shaderStep<OP, false, false, false, SATURATE, GENERAL>>(wide);
    case 1:
        return opVariant<shaderStep<OP, true, false, false, SATURATE, GENERAL>>(wide);
    case 2:
        return opVariant<shaderStep<OP, false, true, false, SATURATE, GENERAL>>(wide);
    case 3:
        return opVariant<shaderStep<OP, true, true, false, SATURATE, GENERAL>>(wide);
    case 4:
        return opVariant<shaderStep<OP, false, false, true, SATURATE, GENERAL>>(wide);
    case 5:
        return opVariant<shaderStep<OP, true, false, true, SATURATE, GENERAL>>(wide);
    case 6:
        return opVariant<shaderStep<OP, false, true, true, SATURATE, GENERAL>>(wide);
    default:
        return opVariant<shaderStep<OP, true, true, true, SATURATE, GENERAL>>(wide);
    }
}

template <bool SATURATE, bool GENERAL>
PixelOp::Run stepFor(ShaderOp op, int constants, bool wide) {
    switch (op) {
    case ShaderOp::Mov:
        return stepFor<ShaderOp::Mov, SATURATE, GENERAL>(constants, wide);
    case ShaderOp::Add:
        return stepFor<ShaderOp::Add, SATURATE, GENERAL>(constants, wide);
    case ShaderOp::Sub:
        return stepFor<ShaderOp::Sub, SATURATE, GENERAL>(constants, wide);
    case ShaderOp::Mul:
        return stepFor<ShaderOp::Mul, SATURATE, GENERAL>(constants, wide);
    case ShaderOp::Mad:
        return stepFor<ShaderOp::Mad, SATURATE, GENERAL>(constants, wide);
    default:
        return stepFor<ShaderOp::Dp3, SATURATE, GENERAL>(constants, wide);
    }
}

} // namespace

void blackTexelOp(const PixelOp& op, const PixelState&, PixelChunk& c) {
    float(*out)[CHUNK] = c.reg[REG_TEX0 + op.stage];
    for (int ch = 0; ch < 4; ++ch) {
        const float value = ch == 3 ? 1.0f : 0.0f;
        for (int k = 0; k < c.count; ++k) {
            out[ch][k] = value;
        }
    }
}

void liveShaderComponents(const PixelState& s, std::uint8_t masks[MAX_SHADER_STEPS]) {
    // What leaves the shader: r0's colour, and its alpha where the target keeps it or the
    // blend weighs by it.
    const bool alphaBlend =
        s.blend && (s.srcBlend == D3DBLEND_SRCALPHA || s.srcBlend == D3DBLEND_INVSRCALPHA ||
                    s.destBlend == D3DBLEND_SRCALPHA || s.destBlend == D3DBLEND_INVSRCALPHA);
    std::uint8_t live[REG_COUNT] = {};
    live[REG_TEMP0] = s.targetFormat == D3DFMT_A8R8G8B8 || alphaBlend ? 0xF : 0x7;
    for (int k = s.shader.stepCount - 1; k >= 0; --k) {
        const ShaderStep& step = s.shader.steps[k];
        const auto written = static_cast<std::uint8_t>(step.mask & live[step.dst]);
        masks[k] = written;
        live[step.dst] &= static_cast<std::uint8_t>(~step.mask);
        for (int i = 0; i < step.sourceCount; ++i) {
            const ShaderOperand& o = step.src[i];
            for (int ch = 0; ch < 4 && !o.constant; ++ch) {
                const bool read =
                    step.op == ShaderOp::Dp3 ? written != 0 && ch < 3 : (written & (1 << ch)) != 0;
                if (read) {
                    live[o.reg] |= static_cast<std::uint8_t>(1 << o.swizzle[ch]);
                }
            }
        }
    }
}

PixelOp::Run choosePixelShaderStep(const ShaderStep& step, bool wide) {
    const int constants = (step.src[0].constant ? 1 : 0) | (step.src[1].constant ? 2 : 0) |
                          (step.src[2].constant ? 4 : 0);
    // The general form negates register sources and scales the result; most steps do
    // neither.
    bool general = step.scale != 1.0f;
    for (int i = 0; i < step.sourceCount; ++i) {
        general = general || (!step.src[i].constant && step.src[i].sign != 1.0f);
    }
    if (step.saturate) {
        return general ? stepFor<true, true>(step.op, constants, wide)
                       : stepFor<true, false>(step.op, constants, wide);
    }
    return general ? stepFor<false, true>(step.op, constants, wide)
                   : stepFor<false, false>(step.op, constants, wide);
}

} // namespace tessivane::platform::soft
