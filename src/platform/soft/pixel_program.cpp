#include "platform/soft/pixel_program.h"

#include "platform/soft/pixel_ops.h"
#include "platform/soft/pixel_wide.h"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The pixel offsets from the primitive's reference point and the depth of every covered
// pixel, in a loop that runs several pixels at a time.
TESSIVANE_BODY void pixelDepths(const PrimitivePlanes& p, PixelChunk& c) {
    const int n = c.count;
    const Plane z = p.z;
    for (int k = 0; k < n; ++k) {
        const float fx = static_cast<float>(c.x[k]) - p.refX;
        const float fy = static_cast<float>(c.y[k]) - p.refY;
        c.fx[k] = fx;
        c.fy[k] = fy;
        c.z[k] = planeAt(planeRow(z, fy), z, fx);
    }
}

// Depth for every covered pixel; keeps those that pass the test.
template <DWORD FUNC, bool WRITE>
TESSIVANE_BODY void depthTest(const PixelState& s, const PrimitivePlanes& p, PixelChunk& c) {
    pixelDepths(p, c);
    const int count = c.count;
    std::uint16_t q[CHUNK];
    for (int k = 0; k < count; ++k) {
        q[k] = toDepth16(c.z[k]);
    }
    int n = 0;
    for (int k = 0; k < count; ++k) {
        std::uint16_t& stored =
            s.depth[static_cast<std::ptrdiff_t>(c.y[k]) * s.depthPitch + c.x[k]];
        if (passes<FUNC>(q[k], stored)) {
            if constexpr (WRITE) {
                stored = q[k];
            }
            if (n != k) {
                c.x[n] = c.x[k];
                c.y[n] = c.y[k];
                c.fx[n] = c.fx[k];
                c.fy[n] = c.fy[k];
                c.z[n] = c.z[k];
            }
            ++n;
        }
    }
    c.count = n;
}

TESSIVANE_BODY void noDepthTest(const PixelState&, const PrimitivePlanes& p, PixelChunk& c) {
    pixelDepths(p, c);
}

template <DWORD FUNC>
PixelProgram::Planes depthFor(bool write, bool wide) {
    return write ? planesVariant<depthTest<FUNC, true>>(wide)
                 : planesVariant<depthTest<FUNC, false>>(wide);
}

PixelProgram::Planes chooseDepth(const PixelState& s, bool wide) {
    if (PixelProgram::Planes wideForm = wide ? wideDepth(s) : nullptr) {
        return wideForm;
    }
    if (!s.depthTest) {
        return planesVariant<noDepthTest>(wide);
    }
    switch (s.depthFunc) {
    case D3DCMP_NEVER:
        return depthFor<D3DCMP_NEVER>(s.depthWrite, wide);
    case D3DCMP_LESS:
        return depthFor<D3DCMP_LESS>(s.depthWrite, wide);
    case D3DCMP_EQUAL:
        return depthFor<D3DCMP_EQUAL>(s.depthWrite, wide);
    case D3DCMP_LESSEQUAL:
        return depthFor<D3DCMP_LESSEQUAL>(s.depthWrite, wide);
    case D3DCMP_GREATER:
        return depthFor<D3DCMP_GREATER>(s.depthWrite, wide);
    case D3DCMP_NOTEQUAL:
        return depthFor<D3DCMP_NOTEQUAL>(s.depthWrite, wide);
    case D3DCMP_GREATEREQUAL:
        return depthFor<D3DCMP_GREATEREQUAL>(s.depthWrite, wide);
    default:
        return depthFor<D3DCMP_ALWAYS>(s.depthWrite, wide);
    }
}

// ---- Interpolation

// w from the interpolated 1/w, and the draw's attributes at every pixel left: triangles
// carry value / w and are corrected by w; points carry flat values.
TESSIVANE_BODY void interpolate(const PixelState& s, const PrimitivePlanes& p, PixelChunk& c) {
    const int n = c.count;
    const Plane invW = p.invW;
    // Where w is 1 across the primitive (clip-space quads, for one), 1 / (1 + 0 + 0) and the
    // products with it change nothing and are left out.
    const bool unitW = invW.a == 0.0f && invW.b == 0.0f && invW.c == 1.0f;
    const bool perspective = p.perspective && !unitW;
    if (!unitW) {
        for (int k = 0; k < n; k += 8) {
            const Lanes fy = loadLanes(c.fy + k);
            const Lanes fx = loadLanes(c.fx + k);
            storeLanes(c.w + k, 1.0f / ((invW.c + invW.b * fy) + invW.a * fx));
        }
    } else {
        for (int k = 0; k < n; k += 8) {
            storeLanes(c.w + k, splat(1.0f));
        }
    }
    for (int a = 0; a < s.attributeCount; ++a) {
        const Plane plane = p.attribute[a];
        const AttributeSlot& slot = s.attributes[a];
        if (slot.coordinate && (p.halfway.stages & (1 << slot.index)) != 0) {
            continue;
        }
        float* d = slot.coordinate ? c.coord[slot.index][slot.component]
                                   : c.reg[slot.index][slot.component];
        if (perspective) {
            for (int k = 0; k < n; k += 8) {
                const Lanes value =
                    (plane.c + plane.b * loadLanes(c.fy + k)) + plane.a * loadLanes(c.fx + k);
                storeLanes(d + k, value * loadLanes(c.w + k));
            }
        } else {
            for (int k = 0; k < n; k += 8) {
                storeLanes(d + k, (plane.c + plane.b * loadLanes(c.fy + k)) +
                                      plane.a * loadLanes(c.fx + k));
            }
        }
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

// Four lanes of float or int, one per channel of a 32-bit texel or pixel in its memory order
// (B, G, R, A). Lane by lane the arithmetic is the scalar arithmetic of the reference path.
using Vec4 = float __attribute__((vector_size(16)));
using Int4 = std::int32_t __attribute__((vector_size(16)));

// The four bytes of p, lowest first, as floats 0..255.
inline Vec4 bytesOf(std::uint32_t p) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero);
    return reinterpret_cast<Vec4>(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
#else
    const Int4 lanes = {
        static_cast<std::int32_t>(p & 0xFF), static_cast<std::int32_t>((p >> 8) & 0xFF),
        static_cast<std::int32_t>((p >> 16) & 0xFF), static_cast<std::int32_t>(p >> 24)};
    return __builtin_convertvector(lanes, Vec4);
#endif
}

inline std::uint32_t texel32(const TextureView& t, int i, int j) {
    return reinterpret_cast<const std::uint32_t*>(t.bits +
                                                  static_cast<std::ptrdiff_t>(j) * t.pitch)[i];
}

inline std::uint32_t texel8(const TextureView& t, int i, int j) {
    return t.bits[static_cast<std::ptrdiff_t>(j) * t.pitch + i];
}

// floor(x) for |x| <= 2^23 (see limitTexelCoordinate), where every integer is a float.
inline int floorToInt(float x) {
    const int i = static_cast<int>(x);
    return x < static_cast<float>(i) ? i - 1 : i;
}

template <D3DFORMAT FORMAT, Filter FILTER, Address AU, Address AV>
void sampleOp(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    const TextureView& t = s.stages[op.stage].texture;
    const float width = static_cast<float>(t.width);
    const float height = static_cast<float>(t.height);
    const float* u = c.coord[op.stage][0];
    const float* v = c.coord[op.stage][1];
    float(*out)[CHUNK] = c.reg[REG_TEX0 + op.stage];
    for (int k = 0; k < c.count; ++k) {
        float r, g, b, a = 1.0f; // formats without alpha read opaque
        if constexpr (FILTER == Filter::Point) {
            // The nearest texel centre: texel i spans u·size in [i, i + 1).
            const int i = address<AU>(floorToInt(limitTexelCoordinate(u[k] * width)), t.width);
            const int j = address<AV>(floorToInt(limitTexelCoordinate(v[k] * height)), t.height);
            if constexpr (FORMAT == D3DFMT_L8) {
                r = g = b = UNORM8_TO_FLOAT[texel8(t, i, j)];
            } else {
                const std::uint32_t p = texel32(t, i, j);
                r = UNORM8_TO_FLOAT[(p >> 16) & 0xFF];
                g = UNORM8_TO_FLOAT[(p >> 8) & 0xFF];
                b = UNORM8_TO_FLOAT[p & 0xFF];
                if constexpr (FORMAT == D3DFMT_A8R8G8B8) {
                    a = UNORM8_TO_FLOAT[p >> 24];
                }
            }
        } else {
            // Texel centres sit at (i + 0.5) / size.
            const float x = limitTexelCoordinate(u[k] * width - 0.5f);
            const float y = limitTexelCoordinate(v[k] * height - 0.5f);
            const int i0 = floorToInt(x);
            const int j0 = floorToInt(y);
            const float fa = x - static_cast<float>(i0);
            const float fb = y - static_cast<float>(j0);
            const int ia = address<AU>(i0, t.width);
            const int ib = address<AU>(i0 + 1, t.width);
            const int ja = address<AV>(j0, t.height);
            const int jb = address<AV>(j0 + 1, t.height);
            const float w00 = (1.0f - fa) * (1.0f - fb);
            const float w10 = fa * (1.0f - fb);
            const float w01 = (1.0f - fa) * fb;
            const float w11 = fa * fb;
            // The weighted sum of the texels' bytes, divided by 255 once.
            if constexpr (FORMAT == D3DFMT_L8) {
                r = g = b = (w00 * float(texel8(t, ia, ja)) + w10 * float(texel8(t, ib, ja)) +
                             w01 * float(texel8(t, ia, jb)) + w11 * float(texel8(t, ib, jb))) /
                            255.0f;
            } else {
                const Vec4 sum =
                    (w00 * bytesOf(texel32(t, ia, ja)) + w10 * bytesOf(texel32(t, ib, ja)) +
                     w01 * bytesOf(texel32(t, ia, jb)) + w11 * bytesOf(texel32(t, ib, jb))) /
                    255.0f;
                b = sum[0];
                g = sum[1];
                r = sum[2];
                if constexpr (FORMAT == D3DFMT_A8R8G8B8) {
                    a = sum[3];
                }
            }
        }
        out[0][k] = r;
        out[1][k] = g;
        out[2][k] = b;
        out[3][k] = a;
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
    if (PixelOp::Run wideForm = wideSample(st)) {
        return wideForm;
    }
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

template <DWORD OP, typename T>
TESSIVANE_BODY T combine(T a, T b) {
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
TESSIVANE_BODY void combineOp(const PixelOp& op, const PixelState&, PixelChunk& c) {
    for (int ch = FIRST; ch <= LAST; ++ch) {
        const float* a = c.reg[op.arg1][ch];
        const float* b = c.reg[op.arg2][ch];
        float* d = c.reg[op.dst][ch];
        for (int k = 0; k < c.count; k += 8) {
            storeLanes(d + k, combine<OP>(loadLanes(a + k), loadLanes(b + k)));
        }
    }
}

template <int FIRST, int LAST>
PixelOp::Run chooseCombine(DWORD op, bool wide) {
    switch (op) {
    case D3DTOP_MODULATE:
        return opVariant<combineOp<D3DTOP_MODULATE, FIRST, LAST>>(wide);
    case D3DTOP_MODULATE2X:
        return opVariant<combineOp<D3DTOP_MODULATE2X, FIRST, LAST>>(wide);
    case D3DTOP_MODULATE4X:
        return opVariant<combineOp<D3DTOP_MODULATE4X, FIRST, LAST>>(wide);
    case D3DTOP_ADD:
        return opVariant<combineOp<D3DTOP_ADD, FIRST, LAST>>(wide);
    case D3DTOP_ADDSIGNED:
        return opVariant<combineOp<D3DTOP_ADDSIGNED, FIRST, LAST>>(wide);
    default:
        return opVariant<combineOp<D3DTOP_SUBTRACT, FIRST, LAST>>(wide);
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
    const float* __restrict distance = SOURCE == FogSource::W ? c.w : c.z;
    const float density = s.fogDensity, start = s.fogStart, end = s.fogEnd;
    // The factors first, in a loop of their own that runs several pixels at a time.
    float factor[CHUNK];
    const int n = c.count;
    for (int k = 0; k < n; ++k) {
        factor[k] = fogFactorOf<MODE>(distance[k], density, start, end);
    }
    for (int k = 0; k < n; ++k) {
        const float f = factor[k];
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

// A blend factor for the four lanes of a source in memory order (B, G, R, A).
template <DWORD FACTOR>
inline Vec4 blendFactor(Vec4 src) {
    if constexpr (FACTOR == D3DBLEND_ZERO) {
        return Vec4{0.0f, 0.0f, 0.0f, 0.0f};
    } else if constexpr (FACTOR == D3DBLEND_ONE) {
        return Vec4{1.0f, 1.0f, 1.0f, 1.0f};
    } else if constexpr (FACTOR == D3DBLEND_SRCCOLOR) {
        return src;
    } else if constexpr (FACTOR == D3DBLEND_INVSRCCOLOR) {
        return 1.0f - src;
    } else if constexpr (FACTOR == D3DBLEND_SRCALPHA) {
        return Vec4{src[3], src[3], src[3], src[3]};
    } else {
        static_assert(FACTOR == D3DBLEND_INVSRCALPHA);
        const float f = 1.0f - src[3];
        return Vec4{f, f, f, f};
    }
}

// The four lanes, each in 0.5..255.5, truncated to bytes, lane 0 lowest.
inline std::uint32_t packBytes(Vec4 v) {
#if defined(__SSE2__)
    const __m128i q = _mm_cvttps_epi32(reinterpret_cast<__m128>(v));
    const __m128i words = _mm_packs_epi32(q, q);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
    const Int4 q = __builtin_convertvector(v, Int4);
    return static_cast<std::uint32_t>(q[3]) << 24 | static_cast<std::uint32_t>(q[2]) << 16 |
           static_cast<std::uint32_t>(q[1]) << 8 | static_cast<std::uint32_t>(q[0]);
#endif
}

// saturate() on each lane.
inline Vec4 saturate4(Vec4 v) {
    const Vec4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Vec4 one = {1.0f, 1.0f, 1.0f, 1.0f};
    return v > zero ? (v < one ? v : one) : zero;
}

template <bool BLEND, DWORD SRC, DWORD DST, bool ALPHA_TARGET>
void writeOp(const PixelState& s, const PixelChunk& c, int colorReg, int alphaReg) {
    const float* r = c.reg[colorReg][0];
    const float* g = c.reg[colorReg][1];
    const float* b = c.reg[colorReg][2];
    const float* a = c.reg[alphaReg][3];
    for (int k = 0; k < c.count; ++k) {
        std::uint32_t& pixel = reinterpret_cast<std::uint32_t*>(
            s.target + static_cast<std::ptrdiff_t>(c.y[k]) * s.targetPitch)[c.x[k]];
        const Vec4 src = saturate4(Vec4{b[k], g[k], r[k], a[k]});
        Vec4 out = src;
        if constexpr (BLEND) {
            Vec4 dst = bytesOf(pixel) / 255.0f;
            if constexpr (!ALPHA_TARGET) {
                dst[3] = 1.0f; // no alpha stored: it reads opaque
            }
            out = src * blendFactor<SRC>(src) + dst * blendFactor<DST>(src);
        }
        // floor(c · 255 + 0.5) of each clamped channel.
        const std::uint32_t packed = packBytes(saturate4(out) * 255.0f + 0.5f);
        pixel = ALPHA_TARGET ? packed : packed | 0xFF000000u;
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

PixelProgram::Write chooseWrite(const PixelState& s, bool wide) {
    if (PixelProgram::Write wideForm = wide ? wideWrite(s) : nullptr) {
        return wideForm;
    }
    const bool alphaTarget = s.targetFormat == D3DFMT_A8R8G8B8;
    if (!s.blend) {
        return alphaTarget ? writeOp<false, D3DBLEND_ONE, D3DBLEND_ZERO, true>
                           : writeOp<false, D3DBLEND_ONE, D3DBLEND_ZERO, false>;
    }
    return BLEND_WRITERS[s.srcBlend - 1][s.destBlend - 1][alphaTarget ? 1 : 0];
}

} // namespace

PixelProgram compilePixelProgram(const PixelState& s) {
    const bool wide = wideOperationsEnabled();
    PixelProgram program;
    program.wide = wide;
    program.depth = chooseDepth(s, wide);
    program.depthOnly = wide ? wideDepthOnly(s) : nullptr;
    program.interpolate = planesVariant<interpolate>(wide);
    auto emit = [&program](PixelOp::Run run, int stage, int dst, int arg1, int arg2) {
        PixelOp& op = program.ops[program.opCount++];
        op.run = run;
        op.stage = static_cast<std::uint8_t>(stage);
        op.dst = static_cast<std::uint8_t>(dst);
        op.arg1 = static_cast<std::uint8_t>(arg1);
        op.arg2 = static_cast<std::uint8_t>(arg2);
    };

    if (s.shader.active) {
        // Every sample first, then the arithmetic; r0 is the colour.
        for (int i = 0; i < s.stageCount; ++i) {
            if (s.shader.texturesSampled & (1 << i)) {
                emit(s.stages[i].sample ? chooseSample(s.stages[i]) : blackTexelOp, i, REG_TEX0 + i,
                     0, 0);
            }
        }
        std::uint8_t masks[MAX_SHADER_STEPS];
        liveShaderComponents(s, masks);
        for (int k = 0; k < s.shader.stepCount; ++k) {
            if (masks[k] != 0) {
                emit(choosePixelShaderStep(s.shader.steps[k], wide), k, s.shader.steps[k].dst,
                     masks[k], 0);
            }
        }
        if (s.fogMode != D3DFOG_NONE) {
            emit(chooseFog(s), 0, REG_TEMP0, 0, 0);
        }
        program.colorReg = REG_TEMP0;
        program.alphaReg = REG_TEMP0;
        program.write = chooseWrite(s, wide);
        return program;
    }

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
            emit(chooseCombine<0, 2>(st.colorOp, wide), i, REG_CURRENT, colorArg(st.colorArg1),
                 colorArg(st.colorArg2));
            color = REG_CURRENT;
        }
        if (st.alphaOp == D3DTOP_SELECTARG1) {
            alpha = alphaArg(st.alphaArg1);
        } else if (st.alphaOp == D3DTOP_SELECTARG2) {
            alpha = alphaArg(st.alphaArg2);
        } else if (st.alphaOp != D3DTOP_DISABLE) {
            emit(chooseCombine<3, 3>(st.alphaOp, wide), i, REG_CURRENT, alphaArg(st.alphaArg1),
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
    program.write = chooseWrite(s, wide);
    return program;
}

void shadeChunk(const PixelState& s, const PixelProgram& program, const PrimitivePlanes& p,
                PixelChunk& c) {
    const int covered = c.count;
    if (p.halfway.everyAttribute && program.depthOnly != nullptr) {
        program.depthOnly(s, p, c);
        if (c.count > 0) {
            c.halfway = p.halfway;
            c.runCount = c.count == covered ? c.runCount : 0;
            shadeGathered(s, program, c);
        }
        return;
    }
    program.depth(s, p, c);
    if (c.count == 0) {
        return;
    }
    c.runCount = c.count == covered ? c.runCount : 0;
    c.halfway = p.halfway;
    program.interpolate(s, p, c);
    shadeGathered(s, program, c);
}

void shadeGathered(const PixelState& s, const PixelProgram& program, PixelChunk& c) {
    for (int i = 0; i < program.opCount; ++i) {
        const PixelOp& op = program.ops[i];
        op.run(op, s, c);
    }
    program.write(s, c, program.colorReg, program.alphaReg);
}

} // namespace tessivane::platform::soft
