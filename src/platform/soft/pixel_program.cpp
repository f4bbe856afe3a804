#include "platform/soft/pixel_program.h"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace tessivane::platform::soft {

namespace {

// ---- Depth

template <DWORD FUNC>
inline bool passes(std::uint16_t pixel, std::uint16_t stored) {
    if constexpr (FUNC == D3DCMP_NEVER) {
        return false;
    } else if constexpr (FUNC == D3DCMP_LESS) {
        return pixel < stored;
    } else if constexpr (FUNC == D3DCMP_EQUAL) {
        return pixel == stored;
    } else if constexpr (FUNC == D3DCMP_LESSEQUAL) {
        return pixel <= stored;
    } else if constexpr (FUNC == D3DCMP_GREATER) {
        return pixel > stored;
    } else if constexpr (FUNC == D3DCMP_NOTEQUAL) {
        return pixel != stored;
    } else if constexpr (FUNC == D3DCMP_GREATEREQUAL) {
        return pixel >= stored;
    } else {
        return true;
    }
}

template <DWORD FUNC, bool WRITE>
void depthTest(const PixelState& s, const PrimitivePlanes& p, float zRow, int y, int x0, int x1,
               PixelChunk& c) {
    std::uint16_t* row = s.depth + static_cast<std::ptrdiff_t>(y) * s.depthPitch;
    int n = 0;
    for (int x = x0; x < x1; ++x) {
        const float fx = static_cast<float>(x) - p.refX;
        const float z = planeAt(zRow, p.z, fx);
        const std::uint16_t q = toDepth16(z);
        if (passes<FUNC>(q, row[x])) {
            if constexpr (WRITE) {
                row[x] = q;
            }
            c.x[n] = x;
            c.fx[n] = fx;
            c.z[n] = z;
            ++n;
        }
    }
    c.count = n;
}

void noDepthTest(const PixelState&, const PrimitivePlanes& p, float zRow, int, int x0, int x1,
                 PixelChunk& c) {
    int n = 0;
    for (int x = x0; x < x1; ++x, ++n) {
        const float fx = static_cast<float>(x) - p.refX;
        c.x[n] = x;
        c.fx[n] = fx;
        c.z[n] = planeAt(zRow, p.z, fx);
    }
    c.count = n;
}

template <DWORD FUNC>
PixelProgram::Depth depthFor(bool write) {
    return write ? depthTest<FUNC, true> : depthTest<FUNC, false>;
}

PixelProgram::Depth chooseDepth(const PixelState& s) {
    if (!s.depthTest) {
        return noDepthTest;
    }
    switch (s.depthFunc) {
    case D3DCMP_NEVER:
        return depthFor<D3DCMP_NEVER>(s.depthWrite);
    case D3DCMP_LESS:
        return depthFor<D3DCMP_LESS>(s.depthWrite);
    case D3DCMP_EQUAL:
        return depthFor<D3DCMP_EQUAL>(s.depthWrite);
    case D3DCMP_LESSEQUAL:
        return depthFor<D3DCMP_LESSEQUAL>(s.depthWrite);
    case D3DCMP_GREATER:
        return depthFor<D3DCMP_GREATER>(s.depthWrite);
    case D3DCMP_NOTEQUAL:
        return depthFor<D3DCMP_NOTEQUAL>(s.depthWrite);
    case D3DCMP_GREATEREQUAL:
        return depthFor<D3DCMP_GREATEREQUAL>(s.depthWrite);
    default:
        return depthFor<D3DCMP_ALWAYS>(s.depthWrite);
    }
}

// ---- Texture sampling

template <Address A>
inline int address(int i, int size) {
    if constexpr (A == Address::Wrap) {
        return i & (size - 1); // sizes are powers of two
    } else {
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    }
}

template <D3DFORMAT FORMAT>
inline void loadTexel(const TextureView& t, int i, int j, float out[4]) {
    const std::uint8_t* row = t.bits + static_cast<std::ptrdiff_t>(j) * t.pitch;
    if constexpr (FORMAT == D3DFMT_L8) {
        const float l = UNORM8_TO_FLOAT[row[i]];
        out[0] = l;
    } else {
        const std::uint32_t p = reinterpret_cast<const std::uint32_t*>(row)[i];
        out[0] = UNORM8_TO_FLOAT[(p >> 16) & 0xFF];
        out[1] = UNORM8_TO_FLOAT[(p >> 8) & 0xFF];
        out[2] = UNORM8_TO_FLOAT[p & 0xFF];
        if constexpr (FORMAT == D3DFMT_A8R8G8B8) {
            out[3] = UNORM8_TO_FLOAT[p >> 24];
        }
    }
}

// Channels the format carries in its texels; the rest read 1 (alpha) or repeat L.
template <D3DFORMAT FORMAT>
constexpr int STORED_CHANNELS = FORMAT == D3DFMT_L8         ? 1
                                : FORMAT == D3DFMT_X8R8G8B8 ? 3
                                                            : 4;

template <D3DFORMAT FORMAT, Filter FILTER, Address AU, Address AV>
void sampleOp(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    constexpr int N = STORED_CHANNELS<FORMAT>;
    const TextureView& t = s.stages[op.stage].texture;
    const float width = static_cast<float>(t.width);
    const float height = static_cast<float>(t.height);
    const float* u = c.coord[op.stage][0];
    const float* v = c.coord[op.stage][1];
    float(*out)[CHUNK] = c.reg[REG_TEX0 + op.stage];
    for (int k = 0; k < c.count; ++k) {
        float value[4];
        if constexpr (FILTER == Filter::Point) {
            // The nearest texel centre: texel i spans u·size in [i, i + 1).
            const int i = address<AU>(
                static_cast<int>(std::floor(limitTexelCoordinate(u[k] * width))), t.width);
            const int j = address<AV>(
                static_cast<int>(std::floor(limitTexelCoordinate(v[k] * height))), t.height);
            loadTexel<FORMAT>(t, i, j, value);
        } else {
            // Texel centres sit at (i + 0.5) / size.
            const float x = limitTexelCoordinate(u[k] * width - 0.5f);
            const float y = limitTexelCoordinate(v[k] * height - 0.5f);
            const float fx0 = std::floor(x);
            const float fy0 = std::floor(y);
            const float a = x - fx0;
            const float b = y - fy0;
            const int i0 = static_cast<int>(fx0);
            const int j0 = static_cast<int>(fy0);
            const int ia = address<AU>(i0, t.width);
            const int ib = address<AU>(i0 + 1, t.width);
            const int ja = address<AV>(j0, t.height);
            const int jb = address<AV>(j0 + 1, t.height);
            float t00[4], t10[4], t01[4], t11[4];
            loadTexel<FORMAT>(t, ia, ja, t00);
            loadTexel<FORMAT>(t, ib, ja, t10);
            loadTexel<FORMAT>(t, ia, jb, t01);
            loadTexel<FORMAT>(t, ib, jb, t11);
            const float w00 = (1.0f - a) * (1.0f - b);
            const float w10 = a * (1.0f - b);
            const float w01 = (1.0f - a) * b;
            const float w11 = a * b;
            for (int ch = 0; ch < N; ++ch) {
                value[ch] = w00 * t00[ch] + w10 * t10[ch] + w01 * t01[ch] + w11 * t11[ch];
            }
        }
        if constexpr (N == 1) {
            out[0][k] = value[0];
            out[1][k] = value[0];
            out[2][k] = value[0];
        } else {
            out[0][k] = value[0];
            out[1][k] = value[1];
            out[2][k] = value[2];
        }
        out[3][k] = N == 4 ? value[3] : 1.0f;
    }
}

template <D3DFORMAT FORMAT, Filter FILTER>
PixelOp::Run sampleFor(Address u, Address v) {
    if (u == Address::Wrap) {
        return v == Address::Wrap ? sampleOp<FORMAT, FILTER, Address::Wrap, Address::Wrap>
                                  : sampleOp<FORMAT, FILTER, Address::Wrap, Address::Clamp>;
    }
    return v == Address::Wrap ? sampleOp<FORMAT, FILTER, Address::Clamp, Address::Wrap>
                              : sampleOp<FORMAT, FILTER, Address::Clamp, Address::Clamp>;
}

template <D3DFORMAT FORMAT>
PixelOp::Run sampleFor(const StageSetup& st) {
    return st.filter == Filter::Point ? sampleFor<FORMAT, Filter::Point>(st.addressU, st.addressV)
                                      : sampleFor<FORMAT, Filter::Linear>(st.addressU, st.addressV);
}

PixelOp::Run chooseSample(const StageSetup& st) {
    switch (st.texture.format) {
    case D3DFMT_L8:
        return sampleFor<D3DFMT_L8>(st);
    case D3DFMT_X8R8G8B8:
        return sampleFor<D3DFMT_X8R8G8B8>(st);
    default:
        return sampleFor<D3DFMT_A8R8G8B8>(st);
    }
}

// ---- Texture stage operations

template <DWORD OP>
inline float combine(float a, float b) {
    if constexpr (OP == D3DTOP_MODULATE) {
        return saturate(a * b);
    } else if constexpr (OP == D3DTOP_MODULATE2X) {
        return saturate(a * b * 2.0f);
    } else if constexpr (OP == D3DTOP_MODULATE4X) {
        return saturate(a * b * 4.0f);
    } else if constexpr (OP == D3DTOP_ADD) {
        return saturate(a + b);
    } else if constexpr (OP == D3DTOP_ADDSIGNED) {
        return saturate(a + b - 0.5f);
    } else {
        static_assert(OP == D3DTOP_SUBTRACT);
        return saturate(a - b);
    }
}

// Colour operations write channels 0..2, alpha operations channel 3.
template <DWORD OP, int FIRST, int LAST>
void combineOp(const PixelOp& op, const PixelState&, PixelChunk& c) {
    for (int ch = FIRST; ch <= LAST; ++ch) {
        const float* a = c.reg[op.arg1][ch];
        const float* b = c.reg[op.arg2][ch];
        float* d = c.reg[op.dst][ch];
        for (int k = 0; k < c.count; ++k) {
            d[k] = combine<OP>(a[k], b[k]);
        }
    }
}

template <int FIRST, int LAST>
PixelOp::Run chooseCombine(DWORD op) {
    switch (op) {
    case D3DTOP_MODULATE:
        return combineOp<D3DTOP_MODULATE, FIRST, LAST>;
    case D3DTOP_MODULATE2X:
        return combineOp<D3DTOP_MODULATE2X, FIRST, LAST>;
    case D3DTOP_MODULATE4X:
        return combineOp<D3DTOP_MODULATE4X, FIRST, LAST>;
    case D3DTOP_ADD:
        return combineOp<D3DTOP_ADD, FIRST, LAST>;
    case D3DTOP_ADDSIGNED:
        return combineOp<D3DTOP_ADDSIGNED, FIRST, LAST>;
    default:
        return combineOp<D3DTOP_SUBTRACT, FIRST, LAST>;
    }
}

void fillFactorOp(const PixelOp&, const PixelState& s, PixelChunk& c) {
    for (int ch = 0; ch < 4; ++ch) {
        float* d = c.reg[REG_TFACTOR][ch];
        const float value = s.textureFactor[ch];
        for (int k = 0; k < c.count; ++k) {
            d[k] = value;
        }
    }
}

// Specular is added to the colour after the last stage.
void addSpecularOp(const PixelOp& op, const PixelState&, PixelChunk& c) {
    for (int ch = 0; ch < 3; ++ch) {
        const float* a = c.reg[op.arg1][ch];
        const float* b = c.reg[REG_SPECULAR][ch];
        float* d = c.reg[op.dst][ch];
        for (int k = 0; k < c.count; ++k) {
            d[k] = saturate(a[k] + b[k]);
        }
    }
}

// ---- Fog

template <DWORD MODE, FogSource SOURCE>
void fogOp(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    float* r = c.reg[op.dst][0];
    float* g = c.reg[op.dst][1];
    float* b = c.reg[op.dst][2];
    const float* distance = SOURCE == FogSource::W ? c.w : c.z;
    for (int k = 0; k < c.count; ++k) {
        const float f = fogFactorOf<MODE>(distance[k], s.fogDensity, s.fogStart, s.fogEnd);
        const float rest = 1.0f - f;
        r[k] = f * r[k] + rest * s.fogColor[0];
        g[k] = f * g[k] + rest * s.fogColor[1];
        b[k] = f * b[k] + rest * s.fogColor[2];
    }
}

template <DWORD MODE>
PixelOp::Run fogFor(FogSource source) {
    return source == FogSource::W ? fogOp<MODE, FogSource::W> : fogOp<MODE, FogSource::Z>;
}

PixelOp::Run chooseFog(const PixelState& s) {
    switch (s.fogMode) {
    case D3DFOG_EXP:
        return fogFor<D3DFOG_EXP>(s.fogSource);
    case D3DFOG_EXP2:
        return fogFor<D3DFOG_EXP2>(s.fogSource);
    default:
        return fogFor<D3DFOG_LINEAR>(s.fogSource);
    }
}

// ---- Blending and writing

template <DWORD FACTOR>
inline float blendFactor(const float src[4], int channel) {
    if constexpr (FACTOR == D3DBLEND_ZERO) {
        return 0.0f;
    } else if constexpr (FACTOR == D3DBLEND_ONE) {
        return 1.0f;
    } else if constexpr (FACTOR == D3DBLEND_SRCCOLOR) {
        return src[channel];
    } else if constexpr (FACTOR == D3DBLEND_INVSRCCOLOR) {
        return 1.0f - src[channel];
    } else if constexpr (FACTOR == D3DBLEND_SRCALPHA) {
        return src[3];
    } else {
        static_assert(FACTOR == D3DBLEND_INVSRCALPHA);
        return 1.0f - src[3];
    }
}

template <bool BLEND, DWORD SRC, DWORD DST, bool ALPHA_TARGET>
void writeOp(const PixelState& s, const PixelChunk& c, int colorReg, int alphaReg, int y) {
    auto* row =
        reinterpret_cast<std::uint32_t*>(s.target + static_cast<std::ptrdiff_t>(y) * s.targetPitch);
    const float* r = c.reg[colorReg][0];
    const float* g = c.reg[colorReg][1];
    const float* b = c.reg[colorReg][2];
    const float* a = c.reg[alphaReg][3];
    for (int k = 0; k < c.count; ++k) {
        const float src[4] = {saturate(r[k]), saturate(g[k]), saturate(b[k]), saturate(a[k])};
        float out[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        if constexpr (BLEND) {
            const std::uint32_t d = row[c.x[k]];
            const float dst[4] = {UNORM8_TO_FLOAT[(d >> 16) & 0xFF],
                                  UNORM8_TO_FLOAT[(d >> 8) & 0xFF], UNORM8_TO_FLOAT[d & 0xFF],
                                  ALPHA_TARGET ? UNORM8_TO_FLOAT[d >> 24] : 1.0f};
            for (int ch = 0; ch < (ALPHA_TARGET ? 4 : 3); ++ch) {
                out[ch] = src[ch] * blendFactor<SRC>(src, ch) + dst[ch] * blendFactor<DST>(src, ch);
            }
        } else {
            for (int ch = 0; ch < 4; ++ch) {
                out[ch] = src[ch];
            }
        }
        const std::uint32_t alpha = ALPHA_TARGET ? toUnorm8(out[3]) : 0xFFu;
        row[c.x[k]] =
            alpha << 24 | toUnorm8(out[0]) << 16 | toUnorm8(out[1]) << 8 | toUnorm8(out[2]);
    }
}

// Blend functions for every factor pair, indexed [src - 1][dst - 1][alpha target].
constexpr int BLEND_FACTORS = D3DBLEND_INVSRCALPHA;

template <DWORD SRC, DWORD DST>
constexpr std::array<PixelProgram::Write, 2> writersFor() {
    return {writeOp<true, SRC, DST, false>, writeOp<true, SRC, DST, true>};
}

template <DWORD SRC, std::size_t... D>
constexpr std::array<std::array<PixelProgram::Write, 2>, BLEND_FACTORS>
writerRow(std::index_sequence<D...>) {
    return {writersFor<SRC, static_cast<DWORD>(D + 1)>()...};
}

template <std::size_t... S>
constexpr std::array<std::array<std::array<PixelProgram::Write, 2>, BLEND_FACTORS>, BLEND_FACTORS>
writerTable(std::index_sequence<S...>) {
    return {writerRow<static_cast<DWORD>(S + 1)>(std::make_index_sequence<BLEND_FACTORS>())...};
}

constexpr auto BLEND_WRITERS = writerTable(std::make_index_sequence<BLEND_FACTORS>());

PixelProgram::Write chooseWrite(const PixelState& s) {
    const bool alphaTarget = s.targetFormat == D3DFMT_A8R8G8B8;
    if (!s.blend) {
        return alphaTarget ? writeOp<false, D3DBLEND_ONE, D3DBLEND_ZERO, true>
                           : writeOp<false, D3DBLEND_ONE, D3DBLEND_ZERO, false>;
    }
    return BLEND_WRITERS[s.srcBlend - 1][s.destBlend - 1][alphaTarget ? 1 : 0];
}

} // namespace

PixelProgram compilePixelProgram(const PixelState& s) {
    PixelProgram program;
    program.depth = chooseDepth(s);
    auto emit = [&program](PixelOp::Run run, int stage, int dst, int arg1, int arg2) {
        PixelOp& op = program.ops[program.opCount++];
        op.run = run;
        op.stage = static_cast<std::uint8_t>(stage);
        op.dst = static_cast<std::uint8_t>(dst);
        op.arg1 = static_cast<std::uint8_t>(arg1);
        op.arg2 = static_cast<std::uint8_t>(arg2);
    };

    bool usesFactor = false;
    for (int i = 0; i < s.stageCount; ++i) {
        const StageSetup& st = s.stages[i];
        usesFactor = usesFactor || st.colorArg1 == REG_TFACTOR || st.colorArg2 == REG_TFACTOR ||
                     st.alphaArg1 == REG_TFACTOR || st.alphaArg2 == REG_TFACTOR;
    }
    if (usesFactor) {
        emit(fillFactorOp, 0, REG_TFACTOR, 0, 0);
    }

    // CURRENT is not copied from stage to stage: the program tracks which register holds
    // the current colour and alpha, so selecting an argument costs nothing.
    int color = REG_DIFFUSE;
    int alpha = REG_DIFFUSE;
    for (int i = 0; i < s.stageCount; ++i) {
        const StageSetup& st = s.stages[i];
        if (st.sample) {
            emit(chooseSample(st), i, REG_TEX0 + i, 0, 0);
        }
        auto colorArg = [color](Register r) { return r == REG_CURRENT ? color : int(r); };
        auto alphaArg = [alpha](Register r) { return r == REG_CURRENT ? alpha : int(r); };
        if (st.colorOp == D3DTOP_SELECTARG1) {
            color = colorArg(st.colorArg1);
        } else if (st.colorOp == D3DTOP_SELECTARG2) {
            color = colorArg(st.colorArg2);
        } else {
            emit(chooseCombine<0, 2>(st.colorOp), i, REG_CURRENT, colorArg(st.colorArg1),
                 colorArg(st.colorArg2));
            color = REG_CURRENT;
        }
        if (st.alphaOp == D3DTOP_SELECTARG1) {
            alpha = alphaArg(st.alphaArg1);
        } else if (st.alphaOp == D3DTOP_SELECTARG2) {
            alpha = alphaArg(st.alphaArg2);
        } else if (st.alphaOp != D3DTOP_DISABLE) {
            emit(chooseCombine<3, 3>(st.alphaOp), i, REG_CURRENT, alphaArg(st.alphaArg1),
                 alphaArg(st.alphaArg2));
            alpha = REG_CURRENT;
        }
    }
    if (s.specularAdd) {
        emit(addSpecularOp, 0, REG_CURRENT, color, REG_SPECULAR);
        color = REG_CURRENT;
    }
    if (s.fogMode != D3DFOG_NONE) {
        emit(chooseFog(s), 0, color, 0, 0);
    }
    program.colorReg = static_cast<std::uint8_t>(color);
    program.alphaReg = static_cast<std::uint8_t>(alpha);
    program.write = chooseWrite(s);
    return program;
}

void shadeSpan(const PixelState& s, const PixelProgram& program, const PrimitivePlanes& p, int y,
               int x0, int x1, PixelChunk& c) {
    const float fy = static_cast<float>(y) - p.refY;
    const float zRow = planeRow(p.z, fy);
    const float wRow = planeRow(p.invW, fy);
    float attributeRow[MAX_ATTRIBUTES];
    float* destination[MAX_ATTRIBUTES];
    for (int k = 0; k < s.attributeCount; ++k) {
        attributeRow[k] = planeRow(p.attribute[k], fy);
        const AttributeSlot& slot = s.attributes[k];
        destination[k] = slot.coordinate ? c.coord[slot.index][slot.component]
                                         : c.reg[slot.index][slot.component];
    }
    for (int start = x0; start < x1; start += CHUNK) {
        const int end = x1 - start > CHUNK ? start + CHUNK : x1;
        program.depth(s, p, zRow, y, start, end, c);
        const int n = c.count;
        if (n == 0) {
            continue;
        }
        for (int k = 0; k < n; ++k) {
            c.w[k] = 1.0f / planeAt(wRow, p.invW, c.fx[k]);
        }
        for (int a = 0; a < s.attributeCount; ++a) {
            const float row = attributeRow[a];
            const float slope = p.attribute[a].a;
            float* d = destination[a];
            if (p.perspective) {
                for (int k = 0; k < n; ++k) {
                    d[k] = (row + slope * c.fx[k]) * c.w[k];
                }
            } else {
                for (int k = 0; k < n; ++k) {
                    d[k] = row + slope * c.fx[k];
                }
            }
        }
        for (int i = 0; i < program.opCount; ++i) {
            const PixelOp& op = program.ops[i];
            op.run(op, s, c);
        }
        program.write(s, c, program.colorReg, program.alphaReg, y);
    }
}

} // namespace tessivane::platform::soft
