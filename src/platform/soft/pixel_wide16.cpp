// The pixel operations that gain from sixteen lanes, for processors with 512-bit vectors:
// the blended write, whose every eight pixels otherwise spend as long finding those that
// repeat as blending them. Lane by lane they compute the floats of the forms of eight lanes,
// in the same order.

// GCC 12's 512-bit intrinsics start some results from a register left undefined on purpose,
// which its own uninitialised-value warning then takes for a fault.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "platform/soft/pixel_wide.h"
#include "platform/wide.h"

#include <algorithm>
#include <array>
#include <atomic>
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
