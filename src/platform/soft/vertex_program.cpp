#include "platform/soft/vertex_program.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// The operations run eight vertices per instruction where the processor has 256-bit vectors;
// lane by lane the floats are the same as four or one at a time (nothing is fused).
#if defined(__x86_64__) && !defined(__clang__)
#define TESSIVANE_VERTEX_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TESSIVANE_VERTEX_CLONES
#endif

namespace tessivane::platform::soft {

using shader::Opcode;
using shader::RegisterFile;

namespace {

// ---- Inputs

float readFloat(const std::uint8_t* p) {
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

std::int16_t readShort(const std::uint8_t* p) {
    std::int16_t s;
    std::memcpy(&s, p, sizeof s);
    return s;
}

// An element's value as four floats; what the type does not supply reads (0, 0, 0, 1).
void readElement(std::uint8_t type, const std::uint8_t* p, float out[4]) {
    out[0] = 0.0f;
    out[1] = 0.0f;
    out[2] = 0.0f;
    out[3] = 1.0f;
    switch (type) {
    case D3DDECLTYPE_FLOAT4:
        out[3] = readFloat(p + 12);
        [[fallthrough]];
    case D3DDECLTYPE_FLOAT3:
        out[2] = readFloat(p + 8);
        [[fallthrough]];
    case D3DDECLTYPE_FLOAT2:
        out[1] = readFloat(p + 4);
        [[fallthrough]];
    case D3DDECLTYPE_FLOAT1:
        out[0] = readFloat(p);
        break;
    case D3DDECLTYPE_D3DCOLOR: // bytes B, G, R, A
        out[0] = UNORM8_TO_FLOAT[p[2]];
        out[1] = UNORM8_TO_FLOAT[p[1]];
        out[2] = UNORM8_TO_FLOAT[p[0]];
        out[3] = UNORM8_TO_FLOAT[p[3]];
        break;
    case D3DDECLTYPE_UBYTE4:
        for (int c = 0; c < 4; ++c) {
            out[c] = static_cast<float>(p[c]);
        }
        break;
    case D3DDECLTYPE_UBYTE4N:
        for (int c = 0; c < 4; ++c) {
            out[c] = UNORM8_TO_FLOAT[p[c]];
        }
        break;
    case D3DDECLTYPE_SHORT4:
        out[2] = static_cast<float>(readShort(p + 4));
        out[3] = static_cast<float>(readShort(p + 6));
        [[fallthrough]];
    case D3DDECLTYPE_SHORT2:
        out[0] = static_cast<float>(readShort(p));
        out[1] = static_cast<float>(readShort(p + 2));
        break;
    default:
        break;
    }
}

// A large vertex buffer is read from far down the memory hierarchy every frame. Vertices are
// asked for this many batches before they are processed, to arrive in the meantime.
constexpr UINT PREFETCH_BATCHES = 1;

// Asks for the batch of vertices from `first` on, those of them below count.
void prefetchVertices(const std::uint8_t* data, UINT stride, UINT first, UINT count) {
    if (first >= count) {
        return;
    }
    const std::uint8_t* from = data + static_cast<std::size_t>(first) * stride;
    const std::size_t bytes =
        static_cast<std::size_t>(std::min<UINT>(VERTEX_BATCH, count - first)) * stride;
    for (std::size_t at = 0; at < bytes; at += 64) {
        __builtin_prefetch(from + at);
    }
}

void fetchInputs(const VertexFetch& fetch, const std::uint8_t* data, UINT stride, int count,
                 VertexRegisters& r) {
    for (int i = 0; i < fetch.inputCount; ++i) {
        const VertexFetch::Input& input = fetch.inputs[i];
        if (input.components == 0) {
            continue; // declared, never read
        }
        float(*rows)[VERTEX_BATCH] = r.reg[input.reg];
        if (input.present &&
            (input.type == D3DDECLTYPE_FLOAT3 || input.type == D3DDECLTYPE_FLOAT2)) {
            // The commonest elements, read without going through the general conversion, in
            // one pass over the vertices (the components nothing reads come along), and the
            // defaults of the components read beyond them.
            const int size = input.type == D3DDECLTYPE_FLOAT3 ? 3 : 2;
            const std::uint8_t* const p = data + input.offset;
            auto copy = [&](auto n) {
                const std::uint8_t* v = p;
                int k = 0;
#if defined(__SSE2__)
                // Four vertices at a time, turned from vertices into rows. A three-float
                // element is read as four floats, the fourth past its end: inside the buffer
                // for every vertex but the last, which is left to the loop below.
                for (; k + 4 < n; k += 4, v += 4 * std::size_t{stride}) {
                    const std::uint8_t* const w[4] = {v, v + stride, v + 2 * stride,
                                                      v + 3 * stride};
                    if (size == 3) {
                        __m128 a = _mm_loadu_ps(reinterpret_cast<const float*>(w[0]));
                        __m128 b = _mm_loadu_ps(reinterpret_cast<const float*>(w[1]));
                        __m128 c = _mm_loadu_ps(reinterpret_cast<const float*>(w[2]));
                        __m128 d = _mm_loadu_ps(reinterpret_cast<const float*>(w[3]));
                        _MM_TRANSPOSE4_PS(a, b, c, d);
                        _mm_storeu_ps(rows[0] + k, a);
                        _mm_storeu_ps(rows[1] + k, b);
                        _mm_storeu_ps(rows[2] + k, c);
                    } else {
                        auto pair = [&w](int i) {
                            const __m128 low = _mm_loadl_pi(_mm_setzero_ps(),
                                                            reinterpret_cast<const __m64*>(w[i]));
                            return _mm_loadh_pi(low, reinterpret_cast<const __m64*>(w[i + 1]));
                        };
                        const __m128 ab = pair(0), cd = pair(2);
                        _mm_storeu_ps(rows[0] + k, _mm_shuffle_ps(ab, cd, _MM_SHUFFLE(2, 0, 2, 0)));
                        _mm_storeu_ps(rows[1] + k, _mm_shuffle_ps(ab, cd, _MM_SHUFFLE(3, 1, 3, 1)));
                    }
                }
#endif
                for (; k < n; ++k, v += stride) {
                    rows[0][k] = readFloat(v);
                    rows[1][k] = readFloat(v + 4);
                    if (size == 3) {
                        rows[2][k] = readFloat(v + 8);
                    }
                }
            };
            if (count == VERTEX_BATCH) {
                copy(std::integral_constant<int, VERTEX_BATCH>{});
            } else {
                copy(count);
            }
            for (int ch = size; ch < 4; ++ch) {
                if (input.components & (1 << ch)) {
                    std::fill(rows[ch], rows[ch] + count, ch == 3 ? 1.0f : 0.0f);
                }
            }
            continue;
        }
        for (int k = 0; k < count; ++k) {
            float value[4];
            if (input.present) {
                readElement(input.type, data + static_cast<std::size_t>(k) * stride + input.offset,
                            value);
            } else {
                readElement(D3DDECLTYPE_UNUSED, nullptr, value);
            }
            rows[0][k] = value[0];
            rows[1][k] = value[1];
            rows[2][k] = value[2];
            rows[3][k] = value[3];
        }
    }
}

// ---- Arithmetic, shared by both paths so that their floats agree

// Scalar instructions read the first component their swizzle selects. Both give exactly 1
// for 1 and +infinity for either zero; written without branches, a loop of them is a few
// vector instructions.
float reciprocal(float x) {
    // 1/x is exactly 1 for 1; -0 gives +infinity too.
    const float r = 1.0f / x;
    return x == 0.0f ? std::numeric_limits<float>::infinity() : r;
}

float reciprocalSquareRoot(float x) {
    // 1/sqrt(|x|) is exactly 1 for |x| = 1 and +infinity for |x| = 0 already.
    return 1.0f / std::sqrt(std::fabs(x));
}

template <Opcode OP>
inline float componentwise(float a, float b, float c) {
    if constexpr (OP == Opcode::Mov) {
        return a;
    } else if constexpr (OP == Opcode::Add) {
        return a + b;
    } else if constexpr (OP == Opcode::Sub) {
        return a - b;
    } else if constexpr (OP == Opcode::Mul) {
        return a * b;
    } else if constexpr (OP == Opcode::Mad) {
        return a * b + c;
    } else if constexpr (OP == Opcode::Min) {
        return a < b ? a : b;
    } else {
        static_assert(OP == Opcode::Max);
        return a >= b ? a : b;
    }
}

float componentwise(Opcode op, float a, float b, float c) {
    switch (op) {
    case Opcode::Mov:
        return componentwise<Opcode::Mov>(a, b, c);
    case Opcode::Add:
        return componentwise<Opcode::Add>(a, b, c);
    case Opcode::Sub:
        return componentwise<Opcode::Sub>(a, b, c);
    case Opcode::Mul:
        return componentwise<Opcode::Mul>(a, b, c);
    case Opcode::Mad:
        return componentwise<Opcode::Mad>(a, b, c);
    case Opcode::Min:
        return componentwise<Opcode::Min>(a, b, c);
    default:
        return componentwise<Opcode::Max>(a, b, c);
    }
}

bool isComponentwise(Opcode op) {
    return op != Opcode::Rcp && op != Opcode::Rsq && op != Opcode::Dp3 && op != Opcode::Dp4;
}

// ---- Compiled operations

// A source's value for result component ch: a row of the batch, or one constant for all.
// Rows keep their signs where SIGNED (some source is negated); constants carry theirs.
template <bool CONSTANT, bool SIGNED>
struct Source {
    const float* row = nullptr;
    float value = 0.0f;
    float sign = 1.0f;

    Source(const VertexOperand& s, int ch, const VertexRun& run) : sign(s.sign) {
        if constexpr (CONSTANT) {
            const float(*file)[4] = s.defined ? run.defined : run.constants;
            value = file[s.reg][s.swizzle[ch]] * s.sign;
        } else {
            row = run.registers->reg[s.reg][s.swizzle[ch]];
        }
    }
    float operator[](int k) const {
        if constexpr (CONSTANT) {
            return value;
        } else if constexpr (SIGNED) {
            return row[k] * sign;
        } else {
            return row[k]; // the product by +1 changes nothing
        }
    }
};

// Whether a source the operation reads from the batch (not a constant) is negated.
bool negatesRows(const VertexOp& op) {
    for (int i = 0; i < op.sourceCount; ++i) {
        if (!op.src[i].constant && op.src[i].sign < 0.0f) {
            return true;
        }
    }
    return false;
}

// Runs body(n) with the batch's vertex count, a constant for a full batch (the commonest,
// by far) so that its loops need no remainder.
template <typename Body>
inline void forBatch(const VertexRun& run, Body&& body) {
    if (run.count == VERTEX_BATCH) {
        body(std::integral_constant<int, VERTEX_BATCH>{});
    } else {
        body(run.count);
    }
}

template <Opcode OP, bool C0, bool C1, bool C2, bool SIGNED>
TESSIVANE_VERTEX_CLONES void componentwiseOp(const VertexOp& op, const VertexRun& run) {
    float scratch[4][VERTEX_BATCH];
    float(*dst)[VERTEX_BATCH] = run.registers->reg[op.dst];
    forBatch(run, [&](auto n) {
        for (int ch = 0; ch < 4; ++ch) {
            if (!(op.mask & (1 << ch))) {
                continue;
            }
            const Source<C0, SIGNED> a(op.src[0], ch, run);
            const Source<C1, SIGNED> b(op.src[1], ch, run);
            const Source<C2, SIGNED> c(op.src[2], ch, run);
            float* out = op.viaScratch ? scratch[ch] : dst[ch];
            for (int k = 0; k < n; ++k) {
                out[k] = componentwise<OP>(a[k], b[k], c[k]);
            }
        }
    });
    if (op.viaScratch) {
        for (int ch = 0; ch < 4; ++ch) {
            if (op.mask & (1 << ch)) {
                // Whole rows, a size known here: a few vector moves rather than a call. The
                // lanes past the batch's vertices are scratch either way.
                std::memcpy(dst[ch], scratch[ch], sizeof scratch[ch]);
            }
        }
    }
}

// Instructions whose one result is written to every component of the mask.
template <Opcode OP, bool C0, bool C1, bool SIGNED>
TESSIVANE_VERTEX_CLONES void replicatedOp(const VertexOp& op, const VertexRun& run) {
    float(*dst)[VERTEX_BATCH] = run.registers->reg[op.dst];
    // One component written (the commonest mask) takes the result straight; otherwise it is
    // copied to each. The sources are read before the destination is written either way.
    float copy[VERTEX_BATCH];
    const bool single = std::has_single_bit(op.mask);
    float* result = single ? dst[std::countr_zero(op.mask)] : copy;
    forBatch(run, [&](auto n) {
        if constexpr (OP == Opcode::Rcp || OP == Opcode::Rsq) {
            const Source<C0, SIGNED> a(op.src[0], 0, run);
            for (int k = 0; k < n; ++k) {
                result[k] = OP == Opcode::Rcp ? reciprocal(a[k]) : reciprocalSquareRoot(a[k]);
            }
        } else {
            const Source<C0, SIGNED> a0(op.src[0], 0, run), a1(op.src[0], 1, run),
                a2(op.src[0], 2, run);
            const Source<C1, SIGNED> b0(op.src[1], 0, run), b1(op.src[1], 1, run),
                b2(op.src[1], 2, run);
            if constexpr (OP == Opcode::Dp4) {
                const Source<C0, SIGNED> a3(op.src[0], 3, run);
                const Source<C1, SIGNED> b3(op.src[1], 3, run);
                for (int k = 0; k < n; ++k) {
                    const float three = a0[k] * b0[k] + a1[k] * b1[k] + a2[k] * b2[k];
                    result[k] = three + a3[k] * b3[k];
                }
            } else {
                for (int k = 0; k < n; ++k) {
                    result[k] = a0[k] * b0[k] + a1[k] * b1[k] + a2[k] * b2[k];
                }
            }
        }
    });
    if (!single) {
        for (int ch = 0; ch < 4; ++ch) {
            if (op.mask & (1 << ch)) {
                std::memcpy(dst[ch], copy, sizeof copy); // whole rows, as above
            }
        }
    }
}

// Dot products of one vector from the batch with PARTS constants, each to one component of
// a register: one call for them all, each product's floats as replicatedOp has them, one
// after the other, as the instructions ran.
template <Opcode OP, int PARTS, bool SIGNED>
TESSIVANE_VERTEX_CLONES void productsOp(const VertexOp& op, const VertexRun& run) {
    constexpr int SIZE = OP == Opcode::Dp4 ? 4 : 3;
    forBatch(run, [&](auto n) {
        const Source<false, SIGNED> a0(op.src[0], 0, run), a1(op.src[0], 1, run),
            a2(op.src[0], 2, run), a3(op.src[0], SIZE - 1, run);
        for (int p = 0; p < PARTS; ++p) {
            const Source<true, SIGNED> b0(op.products[p], 0, run), b1(op.products[p], 1, run),
                b2(op.products[p], 2, run), b3(op.products[p], SIZE - 1, run);
            float* out = run.registers->reg[op.dst][op.component[p]];
            for (int k = 0; k < n; ++k) {
                const float three = a0[k] * b0[k] + a1[k] * b1[k] + a2[k] * b2[k];
                out[k] = SIZE == 4 ? three + a3[k] * b3[k] : three;
            }
        }
    });
}

template <Opcode OP, bool SIGNED>
VertexOp::Run chooseProducts(int parts) {
    switch (parts) {
    case 2:
        return productsOp<OP, 2, SIGNED>;
    case 3:
        return productsOp<OP, 3, SIGNED>;
    default:
        return productsOp<OP, 4, SIGNED>;
    }
}

// Whether op is a dot product of a vector from the batch with a constant, written to one
// component: one that fuses with others like it.
bool fusableProduct(const VertexOp& op) {
    return (op.opcode == Opcode::Dp3 || op.opcode == Opcode::Dp4) && !op.src[0].constant &&
           op.src[1].constant && std::has_single_bit(op.mask);
}

bool sameOperand(const VertexOperand& a, const VertexOperand& b) {
    return a.reg == b.reg && a.constant == b.constant && a.defined == b.defined &&
           a.sign == b.sign && std::equal(a.swizzle, a.swizzle + 4, b.swizzle);
}

// Fuses runs of up to four products of one vector with constants into one register into
// one operation each, as a transform's four dp4 into oPos: the run pays for one call and
// one look at its operands.
void fuseProducts(std::vector<VertexOp>& ops) {
    std::vector<VertexOp> fused;
    for (std::size_t i = 0; i < ops.size();) {
        VertexOp op = ops[i++];
        if (fusableProduct(op)) {
            op.products[0] = op.src[1];
            op.component[0] = static_cast<std::uint8_t>(std::countr_zero(op.mask));
            while (i < ops.size() && op.parts < 4 && fusableProduct(ops[i]) &&
                   ops[i].opcode == op.opcode && ops[i].dst == op.dst &&
                   sameOperand(ops[i].src[0], op.src[0])) {
                op.products[op.parts] = ops[i].src[1];
                op.component[op.parts] = static_cast<std::uint8_t>(std::countr_zero(ops[i].mask));
                ++op.parts;
                op.mask |= ops[i++].mask;
            }
            if (op.parts > 1) {
                const bool dp4 = op.opcode == Opcode::Dp4;
                op.run = negatesRows(op) ? (dp4 ? chooseProducts<Opcode::Dp4, true>(op.parts)
                                                : chooseProducts<Opcode::Dp3, true>(op.parts))
                                         : (dp4 ? chooseProducts<Opcode::Dp4, false>(op.parts)
                                                : chooseProducts<Opcode::Dp3, false>(op.parts));
            }
        }
        fused.push_back(op);
    }
    ops = std::move(fused);
}

template <Opcode OP, bool SIGNED>
VertexOp::Run chooseComponentwise(bool c0, bool c1, bool c2) {
    static constexpr VertexOp::Run TABLE[8] = {componentwiseOp<OP, false, false, false, SIGNED>,
                                               componentwiseOp<OP, true, false, false, SIGNED>,
                                               componentwiseOp<OP, false, true, false, SIGNED>,
                                               componentwiseOp<OP, true, true, false, SIGNED>,
                                               componentwiseOp<OP, false, false, true, SIGNED>,
                                               componentwiseOp<OP, true, false, true, SIGNED>,
                                               componentwiseOp<OP, false, true, true, SIGNED>,
                                               componentwiseOp<OP, true, true, true, SIGNED>};
    return TABLE[(c0 ? 1 : 0) | (c1 ? 2 : 0) | (c2 ? 4 : 0)];
}

template <Opcode OP, bool SIGNED>
VertexOp::Run chooseReplicated(bool c0, bool c1) {
    static constexpr VertexOp::Run TABLE[4] = {
        replicatedOp<OP, false, false, SIGNED>, replicatedOp<OP, true, false, SIGNED>,
        replicatedOp<OP, false, true, SIGNED>, replicatedOp<OP, true, true, SIGNED>};
    return TABLE[(c0 ? 1 : 0) | (c1 ? 2 : 0)];
}

template <bool SIGNED>
VertexOp::Run chooseRun(Opcode op, bool c0, bool c1, bool c2) {
    switch (op) {
    case Opcode::Mov:
        return chooseComponentwise<Opcode::Mov, SIGNED>(c0, c1, c2);
    case Opcode::Add:
        return chooseComponentwise<Opcode::Add, SIGNED>(c0, c1, c2);
    case Opcode::Sub:
        return chooseComponentwise<Opcode::Sub, SIGNED>(c0, c1, c2);
    case Opcode::Mul:
        return chooseComponentwise<Opcode::Mul, SIGNED>(c0, c1, c2);
    case Opcode::Mad:
        return chooseComponentwise<Opcode::Mad, SIGNED>(c0, c1, c2);
    case Opcode::Min:
        return chooseComponentwise<Opcode::Min, SIGNED>(c0, c1, c2);
    case Opcode::Max:
        return chooseComponentwise<Opcode::Max, SIGNED>(c0, c1, c2);
    case Opcode::Rcp:
        return chooseReplicated<Opcode::Rcp, SIGNED>(c0, c1);
    case Opcode::Rsq:
        return chooseReplicated<Opcode::Rsq, SIGNED>(c0, c1);
    case Opcode::Dp3:
        return chooseReplicated<Opcode::Dp3, SIGNED>(c0, c1);
    default:
        return chooseReplicated<Opcode::Dp4, SIGNED>(c0, c1);
    }
}

std::uint8_t registerOf(RegisterFile file, std::uint8_t index) {
    switch (file) {
    case RegisterFile::Temp:
        return static_cast<std::uint8_t>(VREG_TEMP + index);
    case RegisterFile::Input:
        return static_cast<std::uint8_t>(VREG_INPUT + index);
    case RegisterFile::RasterOut:
        return static_cast<std::uint8_t>(VREG_POSITION + index); // oPos, oFog, oPts
    case RegisterFile::AttributeOut:
        return static_cast<std::uint8_t>(VREG_COLOR0 + index);
    default:
        return static_cast<std::uint8_t>(VREG_TEXCOORD0 + index);
    }
}

// The program's definition of constant c[index], or -1: the last definition wins.
int definitionOf(const shader::ShaderProgram& program, int index) {
    int found = -1;
    for (std::size_t i = 0; i < program.constants.size(); ++i) {
        if (program.constants[i].index == index) {
            found = static_cast<int>(i);
        }
    }
    return found;
}

// ---- Outputs

// Calls map(field, reg, ch, clamp) for every float of a vertex's output: the register and
// component it comes from, and whether it is clamped on the way.
template <typename Map>
void forEachOutputField(const VertexShaderSetup& setup, Map&& map) {
    for (int ch = 0; ch < 4; ++ch) {
        map(ch, VREG_POSITION, ch, false);
        // Colours leave the vertex stage clamped.
        map(OUTPUT_DIFFUSE + ch, VREG_COLOR0, ch, true);
        map(OUTPUT_SPECULAR + ch, VREG_COLOR1, ch, true);
    }
    for (int stage = 0; stage < MAX_STAGES; ++stage) {
        const int reg = VREG_TEXCOORD0 + setup.stageSet[stage];
        map(OUTPUT_TEXCOORD + 2 * stage, reg, 0, false);
        map(OUTPUT_TEXCOORD + 2 * stage + 1, reg, 1, false);
    }
}

// What an output component the program does not write holds.
constexpr float OUTPUT_DEFAULT[4] = {0.0f, 0.0f, 0.0f, 1.0f};

void writeOutputs(const VertexProgram& program, const VertexShaderSetup& setup,
                  const VertexRegisters& r, int count, VertexOutput* out) {
    // Which float of an output comes from which component of which register; what the program
    // does not write keeps its default, set once in a prototype every vertex starts from.
    VertexOutput prototype;
    auto* defaults = reinterpret_cast<float*>(&prototype);
    struct Field {
        int field;
        const float* values;
        bool clamp;
    };
    Field fields[VERTEX_OUTPUT_FLOATS];
    int written = 0;
    forEachOutputField(setup, [&](int field, int reg, int ch, bool clamp) {
        defaults[field] = OUTPUT_DEFAULT[ch];
        if (program.outputWritten[reg - VREG_POSITION] & (1 << ch)) {
            fields[written++] = Field{field, r.reg[reg][ch], clamp};
        }
    });
    std::fill(out, out + count, prototype);
    for (int f = 0; f < written; ++f) {
        float* first = reinterpret_cast<float*>(out) + fields[f].field;
        const float* values = fields[f].values;
        if (fields[f].clamp) {
            for (int k = 0; k < count; ++k) {
                first[k * VERTEX_OUTPUT_FLOATS] = saturate(values[k]);
            }
        } else {
            for (int k = 0; k < count; ++k) {
                first[k * VERTEX_OUTPUT_FLOATS] = values[k];
            }
        }
    }
}

// The components each instruction writes that something reads afterwards: all it writes to
// outputs, and those of temporaries that a later instruction reads before another writes
// them. The rest need not be worked out (a dot product written to every component and read
// from one, say); an instruction left with none is not run at all.
std::vector<std::uint8_t> liveMasks(const shader::ShaderProgram& program) {
    std::vector<std::uint8_t> masks(program.instructions.size());
    std::uint8_t read[shader::VERTEX_TEMPS] = {}; // components read before they are written
    for (std::size_t i = program.instructions.size(); i-- > 0;) {
        shader::Instruction in = program.instructions[i];
        if (in.destination.file == RegisterFile::Temp) {
            in.destination.mask &= read[in.destination.index];
            read[in.destination.index] &= static_cast<std::uint8_t>(~in.destination.mask);
        }
        masks[i] = in.destination.mask;
        if (in.destination.mask == 0) {
            continue;
        }
        for (int k = 0; k < in.sourceCount; ++k) {
            if (in.sources[k].file == RegisterFile::Temp) {
                read[in.sources[k].index] |= componentsRead(in, in.sources[k]);
            }
        }
    }
    return masks;
}

} // namespace

VertexProgram compileVertexProgram(const shader::ShaderProgram& program) {
    VertexProgram compiled;
    compiled.inputs = program.inputs;
    for (const shader::ConstantDefinition& d : program.constants) {
        compiled.defined.push_back({d.value[0], d.value[1], d.value[2], d.value[3]});
    }
    const std::vector<std::uint8_t> live = liveMasks(program);
    for (std::size_t at = 0; at < program.instructions.size(); ++at) {
        const shader::Instruction& in = program.instructions[at];
        // What the program reads is what its declaration must supply, whatever is used.
        for (int k = 0; k < in.sourceCount; ++k) {
            if (in.sources[k].file == RegisterFile::Input) {
                compiled.inputRead[in.sources[k].index] |= componentsRead(in, in.sources[k]);
            }
        }
        if (live[at] == 0) {
            continue;
        }
        VertexOp op;
        op.opcode = in.opcode;
        op.sourceCount = in.sourceCount;
        op.dst = registerOf(in.destination.file, in.destination.index);
        op.mask = live[at];
        // Sources the instruction does not have read constant c0, unused.
        bool constant[3] = {true, true, true};
        for (VertexOperand& o : op.src) {
            o = VertexOperand{0, true, false, {0, 1, 2, 3}, 1.0f};
        }
        for (int i = 0; i < in.sourceCount; ++i) {
            const shader::Source& s = in.sources[i];
            VertexOperand& o = op.src[i];
            o.constant = s.file == RegisterFile::Const;
            constant[i] = o.constant;
            o.defined = false;
            o.reg = s.index;
            if (o.constant) {
                const int definition = definitionOf(program, s.index);
                if (definition >= 0) {
                    o.defined = true;
                    o.reg = static_cast<std::uint8_t>(definition);
                }
            } else {
                o.reg = registerOf(s.file, s.index);
            }
            std::memcpy(o.swizzle, s.swizzle, sizeof o.swizzle);
            o.sign = s.negate ? -1.0f : 1.0f;
        }
        // Component by component, a source that is also the destination must not see the
        // components this instruction has already written.
        if (isComponentwise(in.opcode)) {
            for (int i = 0; i < in.sourceCount && !op.viaScratch; ++i) {
                const VertexOperand& o = op.src[i];
                if (o.constant || o.reg != op.dst) {
                    continue;
                }
                for (int written = 0; written < 4; ++written) {
                    for (int later = written + 1; later < 4; ++later) {
                        if ((op.mask & (1 << written)) && (op.mask & (1 << later)) &&
                            o.swizzle[later] == written) {
                            op.viaScratch = true;
                        }
                    }
                }
            }
        }
        op.run = negatesRows(op)
                     ? chooseRun<true>(in.opcode, constant[0], constant[1], constant[2])
                     : chooseRun<false>(in.opcode, constant[0], constant[1], constant[2]);
        if (op.dst >= VREG_POSITION) {
            compiled.outputWritten[op.dst - VREG_POSITION] |= op.mask;
        }
        compiled.ops.push_back(op);
    }
    fuseProducts(compiled.ops);
    return compiled;
}

int elementSize(std::uint8_t type) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT2:
        return 4;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT4:
        return 8;
    case D3DDECLTYPE_FLOAT3:
        return 12;
    case D3DDECLTYPE_FLOAT4:
        return 16;
    default:
        return 0;
    }
}

std::vector<VertexElement> elementsOfFvf(const VertexLayout& layout) {
    std::vector<VertexElement> elements;
    if (layout.preTransformed) {
        elements.push_back({0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0});
    } else {
        elements.push_back({0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0});
    }
    if (layout.normal >= 0) {
        elements.push_back({static_cast<std::uint16_t>(layout.normal), D3DDECLTYPE_FLOAT3,
                            D3DDECLUSAGE_NORMAL, 0});
    }
    if (layout.diffuse >= 0) {
        elements.push_back({static_cast<std::uint16_t>(layout.diffuse), D3DDECLTYPE_D3DCOLOR,
                            D3DDECLUSAGE_COLOR, 0});
    }
    if (layout.specular >= 0) {
        elements.push_back({static_cast<std::uint16_t>(layout.specular), D3DDECLTYPE_D3DCOLOR,
                            D3DDECLUSAGE_COLOR, 1});
    }
    for (int i = 0; i < layout.texcoordCount; ++i) {
        const auto type =
            static_cast<std::uint8_t>(D3DDECLTYPE_FLOAT1 + layout.texcoordSize[i] - 1);
        elements.push_back({static_cast<std::uint16_t>(layout.texcoord[i]), type,
                            D3DDECLUSAGE_TEXCOORD, static_cast<std::uint8_t>(i)});
    }
    return elements;
}

VertexFetch bindVertexInputs(const VertexProgram& program,
                             const std::vector<VertexElement>& elements) {
    VertexFetch fetch;
    for (const shader::InputDeclaration& input : program.inputs) {
        VertexFetch::Input& bound = fetch.inputs[fetch.inputCount++];
        bound.reg = static_cast<std::uint8_t>(VREG_INPUT + input.index);
        bound.components = program.inputRead[input.index];
        bound.present = false;
        bound.type = D3DDECLTYPE_UNUSED;
        bound.offset = 0;
        for (const VertexElement& e : elements) {
            if (e.usage == input.usage && e.usageIndex == input.usageIndex) {
                bound.present = true;
                bound.type = e.type;
                bound.offset = e.offset;
                break;
            }
        }
    }
    return fetch;
}

void shadeVertexBatch(const VertexShaderSetup& setup, const std::uint8_t* data, UINT stride,
                      UINT first, UINT count, VertexRegisters& registers) {
    const VertexProgram& program = *setup.program;
    const float(*defined)[4] = program.defined.empty()
                                   ? nullptr
                                   : reinterpret_cast<const float(*)[4]>(program.defined.data());
    const int n = static_cast<int>(std::min<UINT>(VERTEX_BATCH, count - first));
    prefetchVertices(data, stride, first + PREFETCH_BATCHES * VERTEX_BATCH, count);
    fetchInputs(setup.fetch, data + static_cast<std::size_t>(first) * stride, stride, n, registers);
    const VertexRun run{&registers, n, setup.constants, defined};
    for (const VertexOp& op : program.ops) {
        op.run(op, run);
    }
}

OutputSource outputSource(const VertexShaderSetup& setup, int field) {
    OutputSource source{};
    forEachOutputField(setup, [&](int f, int reg, int ch, bool clamp) {
        if (f == field) {
            source.reg = static_cast<std::uint8_t>(reg);
            source.component = static_cast<std::uint8_t>(ch);
            source.written = (setup.program->outputWritten[reg - VREG_POSITION] & (1 << ch)) != 0;
            source.clamp = clamp;
            source.value = OUTPUT_DEFAULT[ch];
        }
    });
    return source;
}

const float* shadedValues(const OutputSource& source, const VertexRegisters& registers,
                          float scratch[VERTEX_BATCH]) {
    const float* row = registers.reg[source.reg][source.component];
    if (!source.written) {
        std::fill(scratch, scratch + VERTEX_BATCH, source.value);
        return scratch;
    }
    if (source.clamp) {
        for (int k = 0; k < VERTEX_BATCH; ++k) {
            scratch[k] = saturate(row[k]);
        }
        return scratch;
    }
    return row;
}

void runVertexProgram(const VertexShaderSetup& setup, const std::uint8_t* data, UINT stride,
                      UINT count, VertexRegisters& registers, VertexOutput* out) {
    for (UINT first = 0; first < count; first += VERTEX_BATCH) {
        shadeVertexBatch(setup, data, stride, first, count, registers);
        writeOutputs(*setup.program, setup, registers,
                     static_cast<int>(std::min<UINT>(VERTEX_BATCH, count - first)), out + first);
    }
}

std::uint32_t zeroOutputs(const VertexShaderSetup& setup) {
    static_assert(VERTEX_OUTPUT_FLOATS <= 32);
    std::uint32_t zero = 0;
    forEachOutputField(setup, [&](int field, int reg, int ch, bool) {
        if (!(setup.program->outputWritten[reg - VREG_POSITION] & (1 << ch)) &&
            OUTPUT_DEFAULT[ch] == 0.0f) {
            zero |= 1u << field;
        }
    });
    return zero;
}

void runVertexProgramReference(const shader::ShaderProgram& program, const VertexShaderSetup& setup,
                               const std::uint8_t* data, UINT stride, UINT count,
                               VertexOutput* out) {
    for (UINT v = 0; v < count; ++v) {
        const std::uint8_t* vertex = data + static_cast<std::size_t>(v) * stride;
        float temp[shader::VERTEX_TEMPS][4] = {};
        float input[shader::VERTEX_INPUTS][4] = {};
        // oPos, oFog, oPts, oD0, oD1, oT0..oT7, all (0, 0, 0, 1) until written.
        float output[VREG_COUNT - VREG_POSITION][4];
        for (auto& o : output) {
            o[0] = o[1] = o[2] = 0.0f;
            o[3] = 1.0f;
        }
        for (int i = 0; i < setup.fetch.inputCount; ++i) {
            const VertexFetch::Input& in = setup.fetch.inputs[i];
            readElement(in.present ? in.type : std::uint8_t{D3DDECLTYPE_UNUSED},
                        in.present ? vertex + in.offset : nullptr, input[in.reg - VREG_INPUT]);
        }
        for (const shader::Instruction& in : program.instructions) {
            float src[3][4];
            for (int i = 0; i < in.sourceCount; ++i) {
                const shader::Source& s = in.sources[i];
                const float* reg = nullptr;
                switch (s.file) {
                case RegisterFile::Temp:
                    reg = temp[s.index];
                    break;
                case RegisterFile::Input:
                    reg = input[s.index];
                    break;
                default: {
                    const int definition = definitionOf(program, s.index);
                    reg = definition >= 0 ? program.constants[definition].value
                                          : setup.constants[s.index];
                    break;
                }
                }
                for (int ch = 0; ch < 4; ++ch) {
                    src[i][ch] = reg[s.swizzle[ch]] * (s.negate ? -1.0f : 1.0f);
                }
            }
            float result[4];
            switch (in.opcode) {
            case Opcode::Rcp:
                result[0] = reciprocal(src[0][0]);
                break;
            case Opcode::Rsq:
                result[0] = reciprocalSquareRoot(src[0][0]);
                break;
            case Opcode::Dp3:
            case Opcode::Dp4:
                result[0] = src[0][0] * src[1][0] + src[0][1] * src[1][1] + src[0][2] * src[1][2];
                if (in.opcode == Opcode::Dp4) {
                    result[0] = result[0] + src[0][3] * src[1][3];
                }
                break;
            default:
                for (int ch = 0; ch < 4; ++ch) {
                    result[ch] =
                        componentwise(in.opcode, src[0][ch], in.sourceCount > 1 ? src[1][ch] : 0.0f,
                                      in.sourceCount > 2 ? src[2][ch] : 0.0f);
                }
                break;
            }
            if (!isComponentwise(in.opcode)) {
                result[1] = result[2] = result[3] = result[0];
            }
            const shader::Destination& d = in.destination;
            float* dst = d.file == RegisterFile::Temp
                             ? temp[d.index]
                             : output[registerOf(d.file, d.index) - VREG_POSITION];
            for (int ch = 0; ch < 4; ++ch) {
                if (d.mask & (1 << ch)) {
                    dst[ch] = result[ch];
                }
            }
        }
        VertexOutput& o = out[v];
        for (int ch = 0; ch < 4; ++ch) {
            o.position[ch] = output[0][ch];
            o.diffuse[ch] = saturate(output[VREG_COLOR0 - VREG_POSITION][ch]);
            o.specular[ch] = saturate(output[VREG_COLOR1 - VREG_POSITION][ch]);
        }
        for (int stage = 0; stage < MAX_STAGES; ++stage) {
            const float* t = output[VREG_TEXCOORD0 - VREG_POSITION + setup.stageSet[stage]];
            o.texcoord[stage][0] = t[0];
            o.texcoord[stage][1] = t[1];
        }
    }
}

} // namespace tessivane::platform::soft
