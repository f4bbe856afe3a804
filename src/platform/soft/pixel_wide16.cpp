// The pixel operations that gain from sixteen lanes, for processors with 512-bit vectors:
// the blended write, whose every eight pixels otherwise spend as long finding those that
// repeat as blending them, and bilinear filtering, which gathers each pixel's two texels of a
// row as one pair. Lane by lane they compute the floats of the forms of eight lanes, in the
// same order.

// GCC 12's 512-bit intrinsics start some results from a register left undefined on purpose,
// which its own uninitialised-value warning then takes for a fault.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "platform/soft/pixel_wide.h"
#include "platform/wide.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace tessivane::platform::soft {

namespace {

std::atomic<bool> sixteen{processorIsWide16()};

#if TESSIVANE_WIDE

// saturate() on sixteen lanes: NaN and anything not above 0 become 0.
WIDE16 inline __m512 saturated(__m512 v) {
    const __m512 zero = _mm512_setzero_ps();
    return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(v, zero, _CMP_GT_OQ),
                               _mm512_min_ps(v, _mm512_set1_ps(1.0f)));
}

// A blend factor for one channel (0..3: B, G, R, A) of sixteen sources, each channel clamped.
template <DWORD FACTOR>
WIDE16 inline __m512 blendFactor(const __m512 src[4], int channel) {
    const __m512 one = _mm512_set1_ps(1.0f);
    if constexpr (FACTOR == D3DBLEND_ZERO) {
        return _mm512_setzero_ps();
    } else if constexpr (FACTOR == D3DBLEND_ONE) {
        return one;
    } else if constexpr (FACTOR == D3DBLEND_SRCCOLOR) {
        return src[channel];
    } else if constexpr (FACTOR == D3DBLEND_INVSRCCOLOR) {
        return _mm512_sub_ps(one, src[channel]);
    } else if constexpr (FACTOR == D3DBLEND_SRCALPHA) {
        return src[3];
    } else {
        static_assert(FACTOR == D3DBLEND_INVSRCALPHA);
        return _mm512_sub_ps(one, src[3]);
    }
}

// The colour blended with the target, sixteen pixels at a time, as the form of eight lanes
// blends it: source · SRC + target · DST on each clamped channel, the target's bytes read as
// byte / 255. A pixel that an earlier lane of the sixteen also holds (the chunk's pixels may
// repeat) is blended over that lane's result, round after round, and the lanes are stored in
// order. The processor finds the earlier lanes on the same pixel in one instruction.
template <DWORD SRC, DWORD DST, bool ALPHA_TARGET>
WIDE16 void writeBlended(const PixelState& s, const PixelChunk& c, int colorReg, int alphaReg) {
    const float* channels[4] = {c.reg[colorReg][2], c.reg[colorReg][1], c.reg[colorReg][0],
                                c.reg[alphaReg][3]};
    const __m512i byteMask = _mm512_set1_epi32(0xFF);
    // Byte offsets of pixels in the target (within 2^31: targets are at most 4096 a side).
    const __m512i pitch = _mm512_set1_epi32(s.targetPitch);
    // Held here: the stores to the target may alias anything, the state's pointer included.
    std::uint8_t* const targetBytes = s.target;
    std::uint8_t sink[4];
    static_assert(CHUNK % 16 == 0, "a chunk's rows hold whole groups of sixteen");
    for (int k = 0; k < c.count; k += 16) {
        const int last = std::min(16, c.count - k);
        // Lanes past the pixels read the target's first word and write to a scratch word.
        const auto valid = static_cast<__mmask16>((1u << last) - 1u);
        const __m512i offsets =
            _mm512_add_epi32(_mm512_mullo_epi32(_mm512_maskz_loadu_epi32(valid, c.y + k), pitch),
                             _mm512_slli_epi32(_mm512_maskz_loadu_epi32(valid, c.x + k), 2));
        alignas(64) std::int32_t offset[16];
        _mm512_store_si512(offset, offsets);
        // Read word by word: a gather takes longer to deliver the sixteen.
        alignas(64) std::int32_t words[16];
        for (int j = 0; j < 16; ++j) {
            std::memcpy(&words[j], targetBytes + offset[j], sizeof words[j]);
        }
        __m512 src[4];
        for (int ch = 0; ch < 4; ++ch) {
            src[ch] = saturated(_mm512_loadu_ps(channels[ch] + k));
        }
        auto blend = [&](__m512i onto) WIDE16 {
            __m512i packed = ALPHA_TARGET ? _mm512_setzero_si512()
                                          : _mm512_set1_epi32(static_cast<int>(0xFF000000u));
            for (int ch = 0; ch < (ALPHA_TARGET ? 4 : 3); ++ch) {
                const __m512 dst = _mm512_div_ps(
                    _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(onto, 8 * ch), byteMask)),
                    _mm512_set1_ps(255.0f));
                const __m512 out = _mm512_add_ps(_mm512_mul_ps(src[ch], blendFactor<SRC>(src, ch)),
                                                 _mm512_mul_ps(dst, blendFactor<DST>(src, ch)));
                const __m512i value = _mm512_cvttps_epi32(_mm512_add_ps(
                    _mm512_mul_ps(saturated(out), _mm512_set1_ps(255.0f)), _mm512_set1_ps(0.5f)));
                packed =
                    _mm512_or_si512(packed, _mm512_sll_epi32(value, _mm_cvtsi32_si128(8 * ch)));
            }
            return packed;
        };
        __m512i packed = blend(_mm512_load_si512(words));
        if (c.mayRepeat) {
            // Bit i of lane j: lane i, before j, holds the same pixel.
            const __m512i earlier = _mm512_conflict_epi32(offsets);
            __mmask16 pending = _mm512_test_epi32_mask(earlier, earlier) & valid;
            if (pending != 0) {
                // The nearest such lane: the highest of those bits.
                const __m512i nearest =
                    _mm512_sub_epi32(_mm512_set1_epi32(31), _mm512_lzcnt_epi32(earlier));
                const __mmask16 repeats = pending;
                // After each round, the lanes whose nearest lane was not settled before it.
                while (pending != 0) {
                    packed = _mm512_mask_mov_epi32(
                        packed, repeats, blend(_mm512_permutexvar_epi32(nearest, packed)));
                    const __m512i unsettled =
                        _mm512_permutexvar_epi32(nearest, _mm512_maskz_set1_epi32(pending, -1));
                    pending &= _mm512_test_epi32_mask(unsettled, unsettled);
                }
            }
        }
        _mm512_store_si512(words, packed);
        if (last == 16) {
            for (int j = 0; j < 16; ++j) {
                std::memcpy(targetBytes + offset[j], &words[j], sizeof words[j]);
            }
        } else {
            for (int j = 0; j < 16; ++j) {
                std::uint8_t* const pixel = j < last ? targetBytes + offset[j] : sink;
                std::memcpy(pixel, &words[j], sizeof words[j]);
            }
        }
    }
}

// ---- Bilinear filtering of 32-bit textures, as filterLinear32 does it with eight lanes

// Sixteen texel-space coordinates kept within ±2^23 as limitTexelCoordinate does (NaN goes to
// the low end), so that their floors convert to int exactly.
WIDE16 inline __m512 limited(__m512 x) {
    const __m512 low = _mm512_set1_ps(-8388608.0f);
    x = _mm512_mask_mov_ps(low, _mm512_cmp_ps_mask(x, low, _CMP_GT_OQ), x);
    return _mm512_min_ps(x, _mm512_set1_ps(8388608.0f));
}

template <Address A>
WIDE16 inline __m512i addressed(__m512i i, int size) {
    if constexpr (A == Address::Wrap) {
        return _mm512_and_si512(i, _mm512_set1_epi32(size - 1)); // sizes are powers of two
    } else {
        return _mm512_min_epi32(_mm512_max_epi32(i, _mm512_setzero_si512()),
                                _mm512_set1_epi32(size - 1));
    }
}

WIDE16 inline __m512i iota() {
    return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// Lane 0 of sixteen integers, in every lane.
WIDE16 inline __m512i firstLane(__m512i v) {
    return _mm512_broadcastd_epi32(_mm512_castsi512_si128(v));
}

WIDE16 inline bool allEqual(__m512i a, __m512i b) {
    return _mm512_cmpeq_epi32_mask(a, b) == 0xFFFF;
}

// Whether sixteen integers count up by one from the first.
WIDE16 inline bool consecutive(__m512i v) {
    return allEqual(v, _mm512_add_epi32(firstLane(v), iota()));
}

// Where sixteen texel columns of one row lie within a window of sixteen side by side: the
// window's first column, and each lane's place in it. False when they spread wider, or when
// the row is narrower than a window.
WIDE16 inline bool window(__m512i columns, int width, int& first, __m512i& places) {
    if (width < 16) {
        return false;
    }
    // Pixels go left to right, so the first and last lanes bound the columns when they run
    // either way; the check below catches any other order.
    const int a = _mm_cvtsi128_si32(_mm512_castsi512_si128(columns));
    const int b = _mm_extract_epi32(_mm512_extracti32x4_epi32(columns, 3), 3);
    first = std::min(std::min(a, b), width - 16);
    places = _mm512_sub_epi32(columns, _mm512_set1_epi32(first));
    return _mm512_cmpgt_epi32_mask(places, _mm512_set1_epi32(15)) == 0 &&
           _mm512_cmpgt_epi32_mask(_mm512_setzero_si512(), places) == 0;
}

WIDE16 inline __m512i load(const int* from) {
    return _mm512_load_si512(from);
}

// The texels at sixteen indices and at the indices after them, as first and second: each
// pair gathered as one eight-byte value, half the values a gather of each would take.
WIDE16 inline void pairs(const int* texels, __m512i index, __m512i& first, __m512i& second) {
    const __m512i low = _mm512_i32gather_epi64(_mm512_castsi512_si256(index), texels, 4);
    const __m512i high = _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(index, 1), texels, 4);
    const __m512i evens =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    first = _mm512_permutex2var_epi32(low, evens, high);
    second = _mm512_permutex2var_epi32(low, _mm512_add_epi32(evens, _mm512_set1_epi32(1)), high);
}

// The texels of the second pass for sixteen pixels: columns a and b of rows a and b, as t00,
// t10, t01, t11; with ALIKE only columns a and b of the first row.
template <bool ALIKE>
WIDE16 inline void fourTexels(const int* texels, int width, const int* columnA, const int* columnB,
                              const int* rowA, const int* rowB, int k, __m512i& t00, __m512i& t10,
                              __m512i& t01, __m512i& t11) {
    const __m512i ia = load(columnA + k);
    const __m512i ib = load(columnB + k);
    const __m512i ra = ALIKE ? _mm512_setzero_si512() : load(rowA + k);
    const __m512i rb = ALIKE ? _mm512_setzero_si512() : load(rowB + k);
    int firstA = 0, firstB = 0;
    __m512i placesA, placesB;
    const bool sameRows = ALIKE || (allEqual(ra, firstLane(ra)) && allEqual(rb, firstLane(rb)));
    const int* top = texels + (ALIKE ? 0 : rowA[k]);
    const int* bottom = texels + (ALIKE ? 0 : rowB[k]);
    if (sameRows && consecutive(ia) && consecutive(ib)) {
        t00 = _mm512_loadu_si512(top + columnA[k]);
        t10 = _mm512_loadu_si512(top + columnB[k]);
        t01 = ALIKE ? t00 : _mm512_loadu_si512(bottom + columnA[k]);
        t11 = ALIKE ? t10 : _mm512_loadu_si512(bottom + columnB[k]);
    } else if (sameRows && window(ia, width, firstA, placesA) &&
               window(ib, width, firstB, placesB)) {
        t00 = _mm512_permutexvar_epi32(placesA, _mm512_loadu_si512(top + firstA));
        t10 = _mm512_permutexvar_epi32(placesB, _mm512_loadu_si512(top + firstB));
        t01 = ALIKE ? t00 : _mm512_permutexvar_epi32(placesA, _mm512_loadu_si512(bottom + firstA));
        t11 = ALIKE ? t10 : _mm512_permutexvar_epi32(placesB, _mm512_loadu_si512(bottom + firstB));
    } else if (allEqual(ib, _mm512_add_epi32(ia, _mm512_set1_epi32(1)))) {
        // Each pixel's two texels of a row lie side by side: they are gathered as a pair.
        pairs(texels, _mm512_add_epi32(ra, ia), t00, t10);
        if constexpr (ALIKE) {
            t01 = t00;
            t11 = t10;
        } else {
            pairs(texels, _mm512_add_epi32(rb, ia), t01, t11);
        }
    } else {
        t00 = _mm512_i32gather_epi32(_mm512_add_epi32(ra, ia), texels, 4);
        t10 = _mm512_i32gather_epi32(_mm512_add_epi32(ra, ib), texels, 4);
        t01 = ALIKE ? t00 : _mm512_i32gather_epi32(_mm512_add_epi32(rb, ia), texels, 4);
        t11 = ALIKE ? t10 : _mm512_i32gather_epi32(_mm512_add_epi32(rb, ib), texels, 4);
    }
}

// Channel byte SHIFT / 8 of sixteen texels, as floats 0..255.
template <int SHIFT>
WIDE16 inline __m512 channel(__m512i texels) {
    const __m512i shifted = SHIFT == 0 ? texels : _mm512_srli_epi32(texels, SHIFT);
    return _mm512_cvtepi32_ps(SHIFT == 24 ? shifted
                                          : _mm512_and_si512(shifted, _mm512_set1_epi32(0xFF)));
}

// One channel of four texels each, weighted, summed and divided by 255.
template <int SHIFT>
WIDE16 inline __m512 filtered(__m512i t00, __m512i t10, __m512i t01, __m512i t11, __m512 w00,
                              __m512 w10, __m512 w01, __m512 w11) {
    __m512 sum = _mm512_add_ps(_mm512_mul_ps(w00, channel<SHIFT>(t00)),
                               _mm512_mul_ps(w10, channel<SHIFT>(t10)));
    sum = _mm512_add_ps(sum, _mm512_mul_ps(w01, channel<SHIFT>(t01)));
    sum = _mm512_add_ps(sum, _mm512_mul_ps(w11, channel<SHIFT>(t11)));
    return _mm512_div_ps(sum, _mm512_set1_ps(255.0f));
}

// A quarter of a sum of four bytes, divided by 255.
WIDE16 inline __m512 quarterValue(__m512i sum) {
    return _mm512_div_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(sum), _mm512_set1_ps(0.25f)),
                         _mm512_set1_ps(255.0f));
}

// Every pixel halfway between four texel centres: a quarter of the sum of the four texels'
// bytes, divided by 255. Red and blue add up side by side in one word, each below 2^10.
template <bool ALPHA>
WIDE16 inline void quarterSums(__m512i t00, __m512i t10, __m512i t01, __m512i t11,
                               float* const out[4], int k) {
    auto maskedSum = [&](int mask) WIDE16 {
        const __m512i m = _mm512_set1_epi32(mask);
        return _mm512_add_epi32(
            _mm512_add_epi32(_mm512_and_si512(t00, m), _mm512_and_si512(t10, m)),
            _mm512_add_epi32(_mm512_and_si512(t01, m), _mm512_and_si512(t11, m)));
    };
    const __m512i redBlue = maskedSum(0x00FF00FF);
    _mm512_storeu_ps(out[0] + k, quarterValue(_mm512_srli_epi32(redBlue, 16)));
    _mm512_storeu_ps(out[1] + k, quarterValue(_mm512_srli_epi32(maskedSum(0x0000FF00), 8)));
    _mm512_storeu_ps(out[2] + k,
                     quarterValue(_mm512_and_si512(redBlue, _mm512_set1_epi32(0xFFFF))));
    if constexpr (ALPHA) {
        const __m512i alphas = _mm512_add_epi32(
            _mm512_add_epi32(_mm512_srli_epi32(t00, 24), _mm512_srli_epi32(t10, 24)),
            _mm512_add_epi32(_mm512_srli_epi32(t01, 24), _mm512_srli_epi32(t11, 24)));
        _mm512_storeu_ps(out[3] + k, quarterValue(alphas));
    } else {
        _mm512_storeu_ps(out[3] + k, _mm512_set1_ps(1.0f)); // formats without alpha read opaque
    }
}

template <bool ALPHA, bool ALIKE>
WIDE16 void filterTexels(const TextureView& t, int count, const int* columnA, const int* columnB,
                         const int* rowA, const int* rowB, const float* fractionX,
                         const float* fractionY, float* const out[4]) {
    const auto* texels = reinterpret_cast<const int*>(t.bits);
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 half = _mm512_set1_ps(0.5f);
    for (int k = 0; k < count; k += 16) {
        __m512i t00, t10, t01, t11;
        fourTexels<ALIKE>(texels, t.width, columnA, columnB, rowA, rowB, k, t00, t10, t01, t11);
        const __m512 a = _mm512_load_ps(fractionX + k);
        const __m512 b = _mm512_load_ps(fractionY + k);
        if ((_mm512_cmp_ps_mask(a, half, _CMP_EQ_OQ) & _mm512_cmp_ps_mask(b, half, _CMP_EQ_OQ)) ==
            0xFFFF) {
            quarterSums<ALPHA>(t00, t10, t01, t11, out, k);
            continue;
        }
        const __m512 na = _mm512_sub_ps(one, a);
        const __m512 nb = _mm512_sub_ps(one, b);
        const __m512 w00 = _mm512_mul_ps(na, nb);
        const __m512 w10 = _mm512_mul_ps(a, nb);
        const __m512 w01 = _mm512_mul_ps(na, b);
        const __m512 w11 = _mm512_mul_ps(a, b);
        _mm512_storeu_ps(out[0] + k, filtered<16>(t00, t10, t01, t11, w00, w10, w01, w11));
        _mm512_storeu_ps(out[1] + k, filtered<8>(t00, t10, t01, t11, w00, w10, w01, w11));
        _mm512_storeu_ps(out[2] + k, filtered<0>(t00, t10, t01, t11, w00, w10, w01, w11));
        if constexpr (ALPHA) {
            _mm512_storeu_ps(out[3] + k, filtered<24>(t00, t10, t01, t11, w00, w10, w01, w11));
        } else {
            _mm512_storeu_ps(out[3] + k, one); // formats without alpha read opaque
        }
    }
}

// First where and with what weights, then the texels, so that neither waits long on the
// other. Lanes past the count compute harmless values from whatever the scratch holds (every
// address is brought inside the texture first).
template <bool ALPHA, Address AU, Address AV>
WIDE16 void filterLinear(const TextureView& t, const float* u, const float* v, int count,
                         float* const out[4]) {
    alignas(64) int columnA[CHUNK], columnB[CHUNK], rowA[CHUNK], rowB[CHUNK];
    alignas(64) float fractionX[CHUNK], fractionY[CHUNK];
    {
        const __m512 width = _mm512_set1_ps(static_cast<float>(t.width));
        const __m512 height = _mm512_set1_ps(static_cast<float>(t.height));
        const __m512 half = _mm512_set1_ps(0.5f);
        const __m512i one = _mm512_set1_epi32(1);
        // Rows are a power of two of words apart (a texture's width is one).
        const __m128i rowShift =
            _mm_cvtsi32_si128(std::countr_zero(static_cast<unsigned>(t.pitch / 4)));
        constexpr int FLOOR = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
        for (int k = 0; k < count; k += 16) {
            const __m512 x =
                limited(_mm512_sub_ps(_mm512_mul_ps(_mm512_loadu_ps(u + k), width), half));
            const __m512 y =
                limited(_mm512_sub_ps(_mm512_mul_ps(_mm512_loadu_ps(v + k), height), half));
            const __m512 fx = _mm512_roundscale_ps(x, FLOOR);
            const __m512 fy = _mm512_roundscale_ps(y, FLOOR);
            _mm512_store_ps(fractionX + k, _mm512_sub_ps(x, fx));
            _mm512_store_ps(fractionY + k, _mm512_sub_ps(y, fy));
            const __m512i i0 = _mm512_cvttps_epi32(fx);
            const __m512i j0 = _mm512_cvttps_epi32(fy);
            _mm512_store_si512(columnA + k, addressed<AU>(i0, t.width));
            _mm512_store_si512(columnB + k, addressed<AU>(_mm512_add_epi32(i0, one), t.width));
            _mm512_store_si512(rowA + k, _mm512_sll_epi32(addressed<AV>(j0, t.height), rowShift));
            _mm512_store_si512(
                rowB + k,
                _mm512_sll_epi32(addressed<AV>(_mm512_add_epi32(j0, one), t.height), rowShift));
        }
    }
    if (t.rowsAlike) {
        filterTexels<ALPHA, true>(t, count, columnA, columnB, rowA, rowB, fractionX, fractionY,
                                  out);
    } else {
        filterTexels<ALPHA, false>(t, count, columnA, columnB, rowA, rowB, fractionX, fractionY,
                                   out);
    }
}

template <bool ALPHA>
void filterLinearFor(const TextureView& t, Address au, Address av, const float* u, const float* v,
                     int count, float* const out[4]) {
    if (au == Address::Wrap) {
        if (av == Address::Wrap) {
            filterLinear<ALPHA, Address::Wrap, Address::Wrap>(t, u, v, count, out);
        } else {
            filterLinear<ALPHA, Address::Wrap, Address::Clamp>(t, u, v, count, out);
        }
    } else if (av == Address::Wrap) {
        filterLinear<ALPHA, Address::Clamp, Address::Wrap>(t, u, v, count, out);
    } else {
        filterLinear<ALPHA, Address::Clamp, Address::Clamp>(t, u, v, count, out);
    }
}

// The blended writes for every factor pair, indexed [src - 1][dst - 1][alpha target].
constexpr int BLEND_FACTORS = D3DBLEND_INVSRCALPHA;

template <DWORD SRC, std::size_t... D>
constexpr std::array<std::array<PixelProgram::Write, 2>, BLEND_FACTORS>
blendedRow(std::index_sequence<D...>) {
    return {
        std::array<PixelProgram::Write, 2>{writeBlended<SRC, static_cast<DWORD>(D + 1), false>,
                                           writeBlended<SRC, static_cast<DWORD>(D + 1), true>}...};
}

template <std::size_t... S>
constexpr std::array<std::array<std::array<PixelProgram::Write, 2>, BLEND_FACTORS>, BLEND_FACTORS>
blendedTable(std::index_sequence<S...>) {
    return {blendedRow<static_cast<DWORD>(S + 1)>(std::make_index_sequence<BLEND_FACTORS>())...};
}

constexpr auto BLENDED_WRITES = blendedTable(std::make_index_sequence<BLEND_FACTORS>());

#endif

} // namespace

bool sixteenLanesEnabled() {
    return sixteen.load(std::memory_order_relaxed);
}

void enableSixteenLanes(bool on) {
    sixteen.store(on && processorIsWide16(), std::memory_order_relaxed);
}

void filterLinear16(const TextureView& t, bool alpha, Address au, Address av, const float* u,
                    const float* v, int count, float* const out[4]) {
#if TESSIVANE_WIDE
    if (alpha) {
        filterLinearFor<true>(t, au, av, u, v, count, out);
    } else {
        filterLinearFor<false>(t, au, av, u, v, count, out);
    }
#else
    (void)t, (void)alpha, (void)au, (void)av, (void)u, (void)v, (void)count, (void)out;
#endif
}

PixelProgram::Write blendedWrite16(const PixelState& state) {
#if TESSIVANE_WIDE
    if (!sixteenLanesEnabled() || !state.blend) {
        return nullptr;
    }
    return BLENDED_WRITES[state.srcBlend - 1][state.destBlend - 1]
                         [state.targetFormat == D3DFMT_A8R8G8B8 ? 1 : 0];
#else
    (void)state;
    return nullptr;
#endif
}

} // namespace tessivane::platform::soft
