#include "platform/soft/pixel_wide.h"

#include "platform/soft/halfway_samples.h"
#include "platform/wide.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace tessivane::platform::soft {

namespace {

std::atomic<bool> wide{processorIsWide()};

#if TESSIVANE_WIDE

// Eight texel-space coordinates kept within ±2^23 as limitTexelCoordinate does (NaN goes to
// the low end), so that their floors convert to int exactly.
WIDE inline __m256 limited(__m256 x) {
    const __m256 low = _mm256_set1_ps(-8388608.0f);
    const __m256 high = _mm256_set1_ps(8388608.0f);
    x = _mm256_blendv_ps(low, x, _mm256_cmp_ps(x, low, _CMP_GT_OQ));
    return _mm256_min_ps(x, high);
}

template <Address A>
WIDE inline __m256i addressed(__m256i i, int size) {
    if constexpr (A == Address::Wrap) {
        return _mm256_and_si256(i, _mm256_set1_epi32(size - 1)); // sizes are powers of two
    } else {
        return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()),
                                _mm256_set1_epi32(size - 1));
    }
}

// The eight texels at the given indices, with the processor's gather instruction: faster
// than eight loads put together lane by lane on the processors we draw on, though slower
// on those that run it as microcode.
WIDE inline __m256i gathered(const int* texels, __m256i index) {
    return _mm256_i32gather_epi32(texels, index, 4);
}

WIDE inline __m256 gathered(const float* values, __m256i index) {
    return _mm256_i32gather_ps(values, index, 4);
}

WIDE inline void store(int* to, __m256i value) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(to), value);
}

WIDE inline __m256i load(const int* from) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(from));
}

// Lane 0 of eight integers, in every lane.
WIDE inline __m256i firstLane(__m256i v) {
    return _mm256_broadcastd_epi32(_mm256_castsi256_si128(v));
}

WIDE inline bool allEqual(__m256i a, __m256i b) {
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, b)) == -1;
}

// Whether eight integers count up by one from the first.
WIDE inline bool consecutive(__m256i v) {
    return allEqual(v, _mm256_add_epi32(firstLane(v), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
}

// Where eight texel columns of one row lie within a window of eight side by side (as when
// neighbouring pixels read neighbouring, the same, or, magnified, a few texels): the
// window's first column, and each lane's place in it. False when they spread wider, or when
// the row is narrower than a window.
WIDE inline bool window(__m256i columns, int width, int& first, __m256i& places) {
    if (width < 8) {
        return false;
    }
    // Pixels go left to right, so the first and last lanes bound the columns when they run
    // either way; the check below catches any other order.
    const int a = _mm256_cvtsi256_si32(columns);
    const int b = _mm256_extract_epi32(columns, 7);
    first = std::min(std::min(a, b), width - 8);
    places = _mm256_sub_epi32(columns, _mm256_set1_epi32(first));
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(places, _mm256_set1_epi32(7)),
                                            _mm256_cmpgt_epi32(_mm256_setzero_si256(), places));
    return _mm256_testz_si256(outside, outside);
}

// Eight texels side by side.
WIDE inline __m256i eightTexels(const int* first) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first));
}

// The texels of a row at the columns of a window.
WIDE inline __m256i windowed(const int* row, int first, __m256i places) {
    return _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + first)), places);
}

// Channel byte SHIFT / 8 of eight texels, as floats 0..255.
template <int SHIFT>
WIDE inline __m256 channel(__m256i texels) {
    if constexpr (SHIFT == 24) {
        return _mm256_cvtepi32_ps(_mm256_srli_epi32(texels, 24));
    } else if constexpr (SHIFT == 0) {
        return _mm256_cvtepi32_ps(_mm256_and_si256(texels, _mm256_set1_epi32(0xFF)));
    } else {
        return _mm256_cvtepi32_ps(
            _mm256_and_si256(_mm256_srli_epi32(texels, SHIFT), _mm256_set1_epi32(0xFF)));
    }
}

// One channel of four texels each, weighted, summed and divided by 255.
template <int SHIFT>
WIDE inline __m256 filtered(__m256i t00, __m256i t10, __m256i t01, __m256i t11, __m256 w00,
                            __m256 w10, __m256 w01, __m256 w11) {
    __m256 sum = _mm256_add_ps(_mm256_mul_ps(w00, channel<SHIFT>(t00)),
                               _mm256_mul_ps(w10, channel<SHIFT>(t10)));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(w01, channel<SHIFT>(t01)));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(w11, channel<SHIFT>(t11)));
    return _mm256_div_ps(sum, _mm256_set1_ps(255.0f));
}

// The sum of four texels' bytes under a mask.
WIDE inline __m256i maskedSum(__m256i t00, __m256i t10, __m256i t01, __m256i t11, __m256i mask) {
    return _mm256_add_epi32(
        _mm256_add_epi32(_mm256_and_si256(t00, mask), _mm256_and_si256(t10, mask)),
        _mm256_add_epi32(_mm256_and_si256(t01, mask), _mm256_and_si256(t11, mask)));
}

// A quarter of a sum of four bytes, divided by 255.
WIDE inline __m256 quarterValue(__m256i sum) {
    return _mm256_div_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(sum), _mm256_set1_ps(0.25f)),
                         _mm256_set1_ps(255.0f));
}

// A quarter of the sum of four texels' bytes, divided by 255, stored at red, green, blue
// and, with ALPHA, alpha. Red and blue add up side by side in one word, each below 2^10.
template <bool ALPHA>
WIDE inline void quarterSums(__m256i t00, __m256i t10, __m256i t01, __m256i t11, float* red,
                             float* green, float* blue, float* alpha) {
    const __m256i redBlue = maskedSum(t00, t10, t01, t11, _mm256_set1_epi32(0x00FF00FF));
    const __m256i greens =
        _mm256_srli_epi32(maskedSum(t00, t10, t01, t11, _mm256_set1_epi32(0x0000FF00)), 8);
    _mm256_storeu_ps(red, quarterValue(_mm256_srli_epi32(redBlue, 16)));
    _mm256_storeu_ps(green, quarterValue(greens));
    _mm256_storeu_ps(blue, quarterValue(_mm256_and_si256(redBlue, _mm256_set1_epi32(0xFFFF))));
    if constexpr (ALPHA) {
        const __m256i alphas = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_srli_epi32(t00, 24), _mm256_srli_epi32(t10, 24)),
            _mm256_add_epi32(_mm256_srli_epi32(t01, 24), _mm256_srli_epi32(t11, 24)));
        _mm256_storeu_ps(alpha, quarterValue(alphas));
    }
}

// The same into the chunk's channel rows at k; formats without alpha read opaque.
template <bool ALPHA, class Rows>
WIDE inline void quarterSums(__m256i t00, __m256i t10, __m256i t01, __m256i t11, Rows out, int k) {
    quarterSums<ALPHA>(t00, t10, t01, t11, out[0] + k, out[1] + k, out[2] + k, out[3] + k);
    if constexpr (!ALPHA) {
        _mm256_storeu_ps(out[3] + k, _mm256_set1_ps(1.0f));
    }
}

// Rows first..last-1 of the halfway samples of a 32-bit texture (see halfway_samples.h):
// eight entries at a time between the first and last columns, whose clamped blocks repeat an
// edge texel, and which are left to the one-at-a-time form with textures too narrow for that.
template <bool ALPHA>
WIDE void fillHalfway(const TextureView& t, const HalfwaySamples& table, int first, int last) {
    const int width = t.width;
    if (width < 9) {
        fillHalfwayRowsNarrow(t, table, first, last);
        return;
    }
    for (int r = first; r < last; ++r) {
        const auto* top = reinterpret_cast<const int*>(
            t.bits + static_cast<std::ptrdiff_t>(std::clamp(r - 1, 0, t.height - 1)) * t.pitch);
        const auto* bottom = reinterpret_cast<const int*>(
            t.bits + static_cast<std::ptrdiff_t>(std::clamp(r, 0, t.height - 1)) * t.pitch);
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(r) * table.stride;
        float* const* channel = table.channel;
        // Entry c reads columns c - 1 and c, for c in 1..width-1; the last eight overlap the
        // ones before where width - 1 is not a multiple of eight.
        for (int c = 1; c < width; c += 8) {
            const int at = std::min(c, width - 8);
            const std::ptrdiff_t e = row + at;
            quarterSums<ALPHA>(eightTexels(top + at - 1), eightTexels(top + at),
                               eightTexels(bottom + at - 1), eightTexels(bottom + at),
                               channel[0] + e, channel[1] + e, channel[2] + e,
                               ALPHA ? channel[3] + e : nullptr);
        }
        for (const int c : {0, width}) {
            const int column = c == 0 ? 0 : width - 1;
            const auto edge = static_cast<unsigned>(column);
            const std::uint32_t a = static_cast<std::uint32_t>(top[edge]);
            const std::uint32_t b = static_cast<std::uint32_t>(bottom[edge]);
            constexpr int SHIFTS[4] = {16, 8, 0, 24};
            for (int ch = 0; ch < (ALPHA ? 4 : 3); ++ch) {
                const unsigned sum = 2 * (((a >> SHIFTS[ch]) & 0xFF) + ((b >> SHIFTS[ch]) & 0xFF));
                channel[ch][row + c] = halfwayValue(sum);
            }
        }
    }
}

// Bilinear taps of a clamped 32-bit texture read from its halfway samples: false, leaving
// the chunk to ordinary filtering, as soon as a tap does not fall halfway between texels.
template <bool ALPHA>
WIDE bool sampleHalfway(const TextureView& t, const float* u, const float* v, float (*out)[CHUNK],
                        int count) {
    constexpr int CHANNELS = ALPHA ? 4 : 3;
    const HalfwaySamples& table = *t.halfway;
    // Kept in locals: the vector stores below may alias anything, the table included.
    const float* channel[4] = {table.channel[0], table.channel[1], table.channel[2],
                               table.channel[3]};
    const int stride = table.stride;
    const int textureWidth = t.width;
    const int textureHeight = t.height;
    const __m256 width = _mm256_set1_ps(static_cast<float>(t.width));
    const __m256 height = _mm256_set1_ps(static_cast<float>(t.height));
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 steps = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i before = _mm256_set1_epi32(-1);
    const __m256i lastColumn = _mm256_set1_epi32(t.width - 1);
    const __m256i lastRow = _mm256_set1_epi32(t.height - 1);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 small = _mm256_set1_ps(1048576.0f);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256i lastEntry = _mm256_set1_epi32(t.width);
    const bool wideRows = t.width >= 8; // eight entries side by side fit in a row
    for (int k = 0; k < count; k += 8) {
        const __m256 x = _mm256_sub_ps(_mm256_mul_ps(_mm256_loadu_ps(u + k), width), half);
        const __m256 y = _mm256_sub_ps(_mm256_mul_ps(_mm256_loadu_ps(v + k), height), half);
        const __m256 left = _mm256_floor_ps(x);
        const __m256 top = _mm256_floor_ps(y);
        // The usual group: eight taps halfway between texels, on one row of blocks and one
        // block apart, so that their entries, clamped into the table like any, lie within
        // eight side by side. Below 2^20 in size the coordinates pass the ±2^23 limit
        // unchanged.
        const __m256 x0 = _mm256_permutevar8x32_ps(x, _mm256_setzero_si256());
        const __m256 y0 = _mm256_permutevar8x32_ps(y, _mm256_setzero_si256());
        __m256 usual = _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(x, left), half, _CMP_EQ_OQ),
                                     _mm256_cmp_ps(_mm256_sub_ps(y, top), half, _CMP_EQ_OQ));
        usual = _mm256_and_ps(usual, _mm256_cmp_ps(_mm256_and_ps(x, magnitude), small, _CMP_LT_OQ));
        usual = _mm256_and_ps(usual, _mm256_cmp_ps(_mm256_and_ps(y, magnitude), small, _CMP_LT_OQ));
        usual = _mm256_and_ps(usual, _mm256_cmp_ps(x, _mm256_add_ps(x0, steps), _CMP_EQ_OQ));
        usual = _mm256_and_ps(usual, _mm256_cmp_ps(y, y0, _CMP_EQ_OQ));
        if (k + 8 <= count && wideRows && _mm256_movemask_ps(usual) == 0xFF) {
            const int row =
                std::clamp(_mm256_cvtsi256_si32(_mm256_cvttps_epi32(top)), -1, textureHeight - 1) +
                1;
            // Lane i's entry column, clamped; read from the eight entries of the row from
            // lane 0's on, or from its last eight where they run past it.
            const __m256i columns =
                _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(_mm256_cvttps_epi32(left), one),
                                                  _mm256_setzero_si256()),
                                 lastEntry);
            const int first = std::min(_mm256_cvtsi256_si32(columns), textureWidth - 7);
            const __m256i places = _mm256_sub_epi32(columns, _mm256_set1_epi32(first));
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(row) * stride + first;
            for (int ch = 0; ch < CHANNELS; ++ch) {
                _mm256_storeu_ps(out[ch] + k, _mm256_permutevar8x32_ps(
                                                  _mm256_loadu_ps(channel[ch] + at), places));
            }
            if constexpr (!ALPHA) {
                _mm256_storeu_ps(out[3] + k, _mm256_set1_ps(1.0f));
            }
            continue;
        }
        const __m256 fx = _mm256_floor_ps(limited(x));
        const __m256 fy = _mm256_floor_ps(limited(y));
        // Lanes past the count hold whatever the scratch held: they need not be halfway,
        // and their clamped places below stay inside the table all the same.
        const __m256 halfway =
            _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(limited(x), fx), half, _CMP_EQ_OQ),
                          _mm256_cmp_ps(_mm256_sub_ps(limited(y), fy), half, _CMP_EQ_OQ));
        const __m256 unused =
            _mm256_castsi256_ps(_mm256_cmpgt_epi32(lane, _mm256_set1_epi32(count - k - 1)));
        if (_mm256_movemask_ps(_mm256_or_ps(halfway, unused)) != 0xFF) {
            return false;
        }
        // Entry column c + 1 holds the block whose left texel is column c, c clamped to
        // -1..width-1; rows likewise.
        const __m256i columns = _mm256_add_epi32(
            _mm256_min_epi32(_mm256_max_epi32(_mm256_cvttps_epi32(fx), before), lastColumn), one);
        const __m256i rows = _mm256_add_epi32(
            _mm256_min_epi32(_mm256_max_epi32(_mm256_cvttps_epi32(fy), before), lastRow), one);
        int first = 0;
        __m256i places;
        if (allEqual(rows, firstLane(rows)) && window(columns, table.stride, first, places)) {
            const std::ptrdiff_t at =
                static_cast<std::ptrdiff_t>(_mm256_cvtsi256_si32(rows)) * table.stride + first;
            for (int ch = 0; ch < CHANNELS; ++ch) {
                _mm256_storeu_ps(out[ch] + k, _mm256_permutevar8x32_ps(
                                                  _mm256_loadu_ps(table.channel[ch] + at), places));
            }
        } else {
            const __m256i index = _mm256_add_epi32(
                _mm256_mullo_epi32(rows, _mm256_set1_epi32(table.stride)), columns);
            for (int ch = 0; ch < CHANNELS; ++ch) {
                _mm256_storeu_ps(out[ch] + k, gathered(table.channel[ch], index));
            }
        }
        if constexpr (!ALPHA) {
            _mm256_storeu_ps(out[3] + k, _mm256_set1_ps(1.0f));
        }
    }
    return true;
}

// All ones in the first `count` of eight lanes.
WIDE inline __m256i firstLanes(int count) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// `count` lanes of each channel row from `first` on: copied from the table entries from `at`
// on, or, with SAME, all the entry at `at`. The groups of eight that cover more than eight
// lanes overlap at the end rather than run past it.
template <int CHANNELS, bool SAME>
WIDE void readEntries(const float* const channel[4], std::ptrdiff_t at, float (*out)[CHUNK],
                      int first, int count) {
    for (int ch = 0; ch < CHANNELS; ++ch) {
        const float* from = channel[ch] + at;
        float* to = out[ch] + first;
        const __m256 same = SAME ? _mm256_broadcast_ss(from) : _mm256_setzero_ps();
        if (count < 8) {
            const __m256i lanes = firstLanes(count);
            _mm256_maskstore_ps(to, lanes, SAME ? same : _mm256_maskload_ps(from, lanes));
            continue;
        }
        int j = 0;
        for (; j + 8 <= count; j += 8) {
            _mm256_storeu_ps(to + j, SAME ? same : _mm256_loadu_ps(from + j));
        }
        if (j < count) {
            j = count - 8;
            _mm256_storeu_ps(to + j, SAME ? same : _mm256_loadu_ps(from + j));
        }
    }
}

// A run of `count` pixels side by side, from `first` in the chunk, tapping row `row` (an
// offset into the table) from the block whose left texel is column `left` on: entry e + 1
// for column e, clamped to 0 left of the texture and to `width` right of it.
template <int CHANNELS>
WIDE void readHalfwayRun(const float* const channel[4], std::ptrdiff_t row, int left, int width,
                         float (*out)[CHUNK], int first, int count) {
    // The run's first `inside` pixels tap left of column -1, and those from `beyond` on right
    // of column width - 1; between them the entries lie side by side.
    const int inside = std::clamp(-1 - left, 0, count);
    const int beyond = std::clamp(width - left, inside, count);
    if (inside > 0) {
        readEntries<CHANNELS, true>(channel, row, out, first, inside);
    }
    if (beyond > inside) {
        readEntries<CHANNELS, false>(channel, row + left + 1 + inside, out, first + inside,
                                     beyond - inside);
    }
    if (count > beyond) {
        readEntries<CHANNELS, true>(channel, row + width, out, first + beyond, count - beyond);
    }
}

// The taps of a stage that fall halfway between texels at a fixed offset from every pixel
// (HalfwayTaps): each pixel's table entry follows from its position, clamped into the table
// like any. Where the chunk's runs are known, run by run. Otherwise eight at a time: a
// chunk's pixels run left to right along a row and rows downwards, so eight pixels of one
// row whose ends are seven apart are side by side; their entries are too, or, beyond an edge
// of the texture, all one.
template <bool ALPHA>
WIDE void readHalfwayTaps(const TextureView& t, const std::int32_t offset[2], PixelChunk& c,
                          float (*out)[CHUNK]) {
    constexpr int CHANNELS = ALPHA ? 4 : 3;
    const HalfwaySamples& table = *t.halfway;
    const float* channel[4] = {table.channel[0], table.channel[1], table.channel[2],
                               table.channel[3]};
    const int stride = table.stride;
    const int width = t.width;
    const int height = t.height;
    const int count = c.count;
    const __m256i offsetX = _mm256_set1_epi32(offset[0]);
    const __m256i offsetY = _mm256_set1_epi32(offset[1]);
    const __m256i before = _mm256_set1_epi32(-1);
    const __m256i lastColumn = _mm256_set1_epi32(width - 1);
    const __m256i lastRow = _mm256_set1_epi32(height - 1);
    const __m256i one = _mm256_set1_epi32(1);
    if (c.runCount > 0) {
        for (int r = 0; r < c.runCount; ++r) {
            const PixelChunk::Run& run = c.runs[r];
            const std::ptrdiff_t row =
                static_cast<std::ptrdiff_t>(std::clamp(run.y + offset[1], -1, height - 1) + 1) *
                stride;
            readHalfwayRun<CHANNELS>(channel, row, run.x + offset[0], width, out, run.first,
                                     run.count);
        }
        for (int k = 0; k < count && !ALPHA; k += 8) {
            _mm256_storeu_ps(out[3] + k, _mm256_set1_ps(1.0f));
        }
        return;
    }
    for (int k = 0; k < count; k += 8) {
        if constexpr (!ALPHA) {
            _mm256_storeu_ps(out[3] + k, _mm256_set1_ps(1.0f));
        }
        const int x = c.x[k];
        const int y = c.y[k];
        if (k + 8 <= count && c.y[k + 7] == y && c.x[k + 7] - x == 7) {
            // Entry column e + 1 holds the block whose left texel is column e, e clamped to
            // -1..width-1; rows likewise.
            const std::ptrdiff_t row =
                static_cast<std::ptrdiff_t>(std::clamp(y + offset[1], -1, height - 1) + 1) * stride;
            const int left = x + offset[0]; // of the first pixel's tap
            if (left >= -1 && left <= width - 8) {
                for (int ch = 0; ch < CHANNELS; ++ch) {
                    _mm256_storeu_ps(out[ch] + k, _mm256_loadu_ps(channel[ch] + row + left + 1));
                }
                continue;
            }
            if (left >= width - 1 || left <= -8) {
                const std::ptrdiff_t at = row + (left >= width - 1 ? width : 0);
                for (int ch = 0; ch < CHANNELS; ++ch) {
                    _mm256_storeu_ps(out[ch] + k, _mm256_broadcast_ss(channel[ch] + at));
                }
                continue;
            }
        }
        // Any other eight, lanes past the count included, clamped into the table all the same.
        const __m256i columns = _mm256_add_epi32(
            _mm256_min_epi32(
                _mm256_max_epi32(
                    _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.x + k)),
                                     offsetX),
                    before),
                lastColumn),
            one);
        const __m256i rows = _mm256_add_epi32(
            _mm256_min_epi32(
                _mm256_max_epi32(
                    _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.y + k)),
                                     offsetY),
                    before),
                lastRow),
            one);
        int first = 0;
        __m256i places;
        if (allEqual(rows, firstLane(rows)) && window(columns, stride, first, places)) {
            const std::ptrdiff_t at =
                static_cast<std::ptrdiff_t>(_mm256_cvtsi256_si32(rows)) * stride + first;
            for (int ch = 0; ch < CHANNELS; ++ch) {
                _mm256_storeu_ps(out[ch] + k, _mm256_permutevar8x32_ps(
                                                  _mm256_loadu_ps(channel[ch] + at), places));
            }
        } else {
            const __m256i index =
                _mm256_add_epi32(_mm256_mullo_epi32(rows, _mm256_set1_epi32(stride)), columns);
            for (int ch = 0; ch < CHANNELS; ++ch) {
                _mm256_storeu_ps(out[ch] + k, gathered(channel[ch], index));
            }
        }
    }
}

// The texels of the second pass of filterLinear32 for eight pixels: columns a and b of rows
// a and b, as t00, t10, t01, t11. Where the texture's rows are alike (ALIKE), only columns a
// and b are read, from the first row: the texels are the same.
template <bool ALIKE>
WIDE inline void fourTexels(const int* texels, int width, const int* columnA, const int* columnB,
                            const int* rowA, const int* rowB, int k, __m256i& t00, __m256i& t10,
                            __m256i& t01, __m256i& t11) {
    const __m256i ia = load(columnA + k);
    const __m256i ib = load(columnB + k);
    const __m256i ra = ALIKE ? _mm256_setzero_si256() : load(rowA + k);
    const __m256i rb = ALIKE ? _mm256_setzero_si256() : load(rowB + k);
    // Neighbouring pixels of a row usually read texels close together on one texture
    // row: then a whole vector is read at once and the texels taken from it. The texels
    // are the same either way; only how they are fetched differs.
    int firstA = 0, firstB = 0;
    __m256i placesA, placesB;
    const bool sameRows = ALIKE || (allEqual(ra, firstLane(ra)) && allEqual(rb, firstLane(rb)));
    const int* top = texels + (ALIKE ? 0 : rowA[k]);
    const int* bottom = texels + (ALIKE ? 0 : rowB[k]);
    if (sameRows && consecutive(ia) && consecutive(ib)) {
        // The commonest case, a pass over a target the texture's size: straight loads.
        t00 = eightTexels(top + columnA[k]);
        t10 = eightTexels(top + columnB[k]);
        t01 = ALIKE ? t00 : eightTexels(bottom + columnA[k]);
        t11 = ALIKE ? t10 : eightTexels(bottom + columnB[k]);
    } else if (sameRows && window(ia, width, firstA, placesA) &&
               window(ib, width, firstB, placesB)) {
        t00 = windowed(top, firstA, placesA);
        t10 = windowed(top, firstB, placesB);
        t01 = ALIKE ? t00 : windowed(bottom, firstA, placesA);
        t11 = ALIKE ? t10 : windowed(bottom, firstB, placesB);
    } else {
        t00 = gathered(texels, _mm256_add_epi32(ra, ia));
        t10 = gathered(texels, _mm256_add_epi32(ra, ib));
        t01 = ALIKE ? t00 : gathered(texels, _mm256_add_epi32(rb, ia));
        t11 = ALIKE ? t10 : gathered(texels, _mm256_add_epi32(rb, ib));
    }
}

// The second pass of filterLinear32: the texels, weighed.
template <bool ALPHA, bool ALIKE>
WIDE void filterTexels(const TextureView& t, int count, const int* columnA, const int* columnB,
                       const int* rowA, const int* rowB, const float* fractionX,
                       const float* fractionY, float* const out[4]) {
    const auto* texels = reinterpret_cast<const int*>(t.bits);
    const __m256 one = _mm256_set1_ps(1.0f);
    for (int k = 0; k < count; k += 8) {
        __m256i t00, t10, t01, t11;
        fourTexels<ALIKE>(texels, t.width, columnA, columnB, rowA, rowB, k, t00, t10, t01, t11);
        const __m256 a = _mm256_load_ps(fractionX + k);
        const __m256 b = _mm256_load_ps(fractionY + k);
        const __m256 half = _mm256_set1_ps(0.5f);
        if (_mm256_movemask_ps(_mm256_and_ps(_mm256_cmp_ps(a, half, _CMP_EQ_OQ),
                                             _mm256_cmp_ps(b, half, _CMP_EQ_OQ))) == 0xFF) {
            // Every pixel halfway between four texel centres, as in a pass over a target the
            // texture's size: all four weights are a quarter, every product and partial sum
            // of the filter is exact, and the sample is a quarter of the bytes' sum.
            quarterSums<ALPHA>(t00, t10, t01, t11, out, k);
            continue;
        }
        const __m256 na = _mm256_sub_ps(one, a);
        const __m256 nb = _mm256_sub_ps(one, b);
        const __m256 w00 = _mm256_mul_ps(na, nb);
        const __m256 w10 = _mm256_mul_ps(a, nb);
        const __m256 w01 = _mm256_mul_ps(na, b);
        const __m256 w11 = _mm256_mul_ps(a, b);
        _mm256_storeu_ps(out[0] + k, filtered<16>(t00, t10, t01, t11, w00, w10, w01, w11));
        _mm256_storeu_ps(out[1] + k, filtered<8>(t00, t10, t01, t11, w00, w10, w01, w11));
        _mm256_storeu_ps(out[2] + k, filtered<0>(t00, t10, t01, t11, w00, w10, w01, w11));
        if constexpr (ALPHA) {
            _mm256_storeu_ps(out[3] + k, filtered<24>(t00, t10, t01, t11, w00, w10, w01, w11));
        } else {
            _mm256_storeu_ps(out[3] + k, one); // formats without alpha read opaque
        }
    }
}

// Bilinear filtering of a 32-bit texture: the weighted sum of the four texels' bytes,
// divided by 255 once, in the narrow form's order of operations. Two passes over the chunk,
// first where and with what weights, then the texels, so that neither waits long on the
// other.
template <bool ALPHA, Address AU, Address AV>
WIDE void filterLinear32(const TextureView& t, const float* u, const float* v, int count,
                         float* const out[4]) {
    // Whole groups of eight: lanes past the count compute harmless values from whatever
    // the scratch holds (every address is brought inside the texture first).
    alignas(32) int columnA[CHUNK], columnB[CHUNK], rowA[CHUNK], rowB[CHUNK];
    alignas(32) float fractionX[CHUNK], fractionY[CHUNK];
    {
        const __m256 width = _mm256_set1_ps(static_cast<float>(t.width));
        const __m256 height = _mm256_set1_ps(static_cast<float>(t.height));
        const __m256 half = _mm256_set1_ps(0.5f);
        const __m256i one = _mm256_set1_epi32(1);
        // Rows are a power of two of words apart (a texture's width is one).
        const __m128i rowShift =
            _mm_cvtsi32_si128(std::countr_zero(static_cast<unsigned>(t.pitch / 4)));
        for (int k = 0; k < count; k += 8) {
            const __m256 x =
                limited(_mm256_sub_ps(_mm256_mul_ps(_mm256_loadu_ps(u + k), width), half));
            const __m256 y =
                limited(_mm256_sub_ps(_mm256_mul_ps(_mm256_loadu_ps(v + k), height), half));
            const __m256 fx = _mm256_floor_ps(x);
            const __m256 fy = _mm256_floor_ps(y);
            _mm256_store_ps(fractionX + k, _mm256_sub_ps(x, fx));
            _mm256_store_ps(fractionY + k, _mm256_sub_ps(y, fy));
            const __m256i i0 = _mm256_cvttps_epi32(fx);
            const __m256i j0 = _mm256_cvttps_epi32(fy);
            store(columnA + k, addressed<AU>(i0, t.width));
            store(columnB + k, addressed<AU>(_mm256_add_epi32(i0, one), t.width));
            store(rowA + k, _mm256_sll_epi32(addressed<AV>(j0, t.height), rowShift));
            store(rowB + k,
                  _mm256_sll_epi32(addressed<AV>(_mm256_add_epi32(j0, one), t.height), rowShift));
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

// Whether every pixel of the chunk reads at the coordinates of the first, bit for bit (as
// when a stage's coordinates are never written and read zero everywhere).
WIDE bool sameCoordinates(const float* u, const float* v, int count) {
    const __m256i u0 = _mm256_set1_epi32(std::bit_cast<int>(u[0]));
    const __m256i v0 = _mm256_set1_epi32(std::bit_cast<int>(v[0]));
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256i du =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + k)), u0);
        const __m256i dv =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + k)), v0);
        if (!_mm256_testz_si256(_mm256_or_si256(du, dv), _mm256_or_si256(du, dv))) {
            return false;
        }
    }
    for (; k < count; ++k) {
        if (std::bit_cast<int>(u[k]) != std::bit_cast<int>(u[0]) ||
            std::bit_cast<int>(v[k]) != std::bit_cast<int>(v[0])) {
            return false;
        }
    }
    return true;
}

template <bool ALPHA, Address AU, Address AV, bool SIXTEEN>
WIDE void sampleLinear32(const PixelOp& op, const PixelState& s, PixelChunk& c) {
    const TextureView& t = s.stages[op.stage].texture;
    const float* u = c.coord[op.stage][0];
    const float* v = c.coord[op.stage][1];
    float(*rows)[CHUNK] = c.reg[REG_TEX0 + op.stage];
    if constexpr (AU == Address::Clamp && AV == Address::Clamp) {
        if ((c.halfway.stages & (1 << op.stage)) != 0) {
            readHalfwayTaps<ALPHA>(t, c.halfway.offset[op.stage], c, rows);
            return;
        }
        if (t.halfway != nullptr && sampleHalfway<ALPHA>(t, u, v, rows, c.count)) {
            return;
        }
    }
    if (c.count > 1 && sameCoordinates(u, v, c.count)) {
        // One sample, the same for every pixel.
        alignas(32) float us[8], vs[8], one[4][8];
        std::fill_n(us, 8, u[0]);
        std::fill_n(vs, 8, v[0]);
        float* const to[4] = {one[0], one[1], one[2], one[3]};
        filterLinear32<ALPHA, AU, AV>(t, us, vs, 8, to);
        for (int ch = 0; ch < 4; ++ch) {
            const __m256 value = _mm256_set1_ps(one[ch][0]);
            for (int k = 0; k < c.count; k += 8) {
                _mm256_storeu_ps(rows[ch] + k, value);
            }
        }
        return;
    }
    float* const to[4] = {rows[0], rows[1], rows[2], rows[3]};
    if constexpr (SIXTEEN) {
        filterLinear16(t, ALPHA, AU, AV, u, v, c.count, to);
    } else {
        filterLinear32<ALPHA, AU, AV>(t, u, v, c.count, to);
    }
}

// saturate() on eight lanes: NaN and anything not above 0 become 0.
WIDE inline __m256 saturated(__m256 v) {
    const __m256 zero = _mm256_setzero_ps();
    return _mm256_blendv_ps(zero, _mm256_min_ps(v, _mm256_set1_ps(1.0f)),
                            _mm256_cmp_ps(v, zero, _CMP_GT_OQ));
}

// floor(c · 255 + 0.5) of eight clamped channel values, shifted into place.
template <int SHIFT>
WIDE inline __m256i unorm8(const float* values) {
    const __m256 v =
        _mm256_add_ps(_mm256_mul_ps(saturated(_mm256_loadu_ps(values)), _mm256_set1_ps(255.0f)),
                      _mm256_set1_ps(0.5f));
    return _mm256_slli_epi32(_mm256_cvttps_epi32(v), SHIFT);
}

// The eight pixels from k on of the colour rows r, g, b and the alpha row a, packed.
template <bool ALPHA_TARGET>
WIDE inline __m256i packed(const float* r, const float* g, const float* b, const float* a, int k) {
    const __m256i rgb =
        _mm256_or_si256(_mm256_or_si256(unorm8<16>(r + k), unorm8<8>(g + k)), unorm8<0>(b + k));
    if constexpr (ALPHA_TARGET) {
        return _mm256_or_si256(rgb, unorm8<24>(a + k));
    } else {
        return _mm256_or_si256(rgb, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    }
}

// The colour written as it is, without blending.
template <bool ALPHA_TARGET>
WIDE void writeStraight(const PixelState& s, const PixelChunk& c, int colorReg, int alphaReg) {
    const float* r = c.reg[colorReg][0];
    const float* g = c.reg[colorReg][1];
    const float* b = c.reg[colorReg][2];
    const float* a = c.reg[alphaReg][3];
    if (c.runCount > 0) {
        // Run by run, eight at a time; the last eight of a run longer than eight overlap the
        // ones before, writing the same again, and a shorter run is written lane by lane.
        for (int i = 0; i < c.runCount; ++i) {
            const PixelChunk::Run& run = c.runs[i];
            auto* row = reinterpret_cast<std::uint32_t*>(
                            s.target + static_cast<std::ptrdiff_t>(run.y) * s.targetPitch) +
                        run.x;
            if (run.count < 8) {
                _mm256_maskstore_epi32(reinterpret_cast<int*>(row), firstLanes(run.count),
                                       packed<ALPHA_TARGET>(r, g, b, a, run.first));
                continue;
            }
            int j = 0;
            for (; j + 8 <= run.count; j += 8) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + j),
                                    packed<ALPHA_TARGET>(r, g, b, a, run.first + j));
            }
            if (j < run.count) {
                j = run.count - 8;
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + j),
                                    packed<ALPHA_TARGET>(r, g, b, a, run.first + j));
            }
        }
        return;
    }
    for (int k = 0; k < c.count; k += 8) {
        const __m256i colour = packed<ALPHA_TARGET>(r, g, b, a, k);
        const __m256i xs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.x + k));
        const __m256i ys = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.y + k));
        if (k + 8 <= c.count && allEqual(ys, firstLane(ys)) && consecutive(xs)) {
            // Eight pixels side by side on a row, as they usually are.
            auto* row = reinterpret_cast<std::uint32_t*>(
                s.target + static_cast<std::ptrdiff_t>(c.y[k]) * s.targetPitch);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + c.x[k]), colour);
            continue;
        }
        alignas(32) std::uint32_t pixels[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(pixels), colour);
        const int last = std::min(8, c.count - k);
        for (int j = 0; j < last; ++j) {
            reinterpret_cast<std::uint32_t*>(s.target + static_cast<std::ptrdiff_t>(c.y[k + j]) *
                                                            s.targetPitch)[c.x[k + j]] = pixels[j];
        }
    }
}

// A blend factor for one channel (0..3: B, G, R, A) of eight sources, each channel clamped.
template <DWORD FACTOR>
WIDE inline __m256 blendFactor(const __m256 src[4], int channel) {
    const __m256 one = _mm256_set1_ps(1.0f);
    if constexpr (FACTOR == D3DBLEND_ZERO) {
        return _mm256_setzero_ps();
    } else if constexpr (FACTOR == D3DBLEND_ONE) {
        return one;
    } else if constexpr (FACTOR == D3DBLEND_SRCCOLOR) {
        return src[channel];
    } else if constexpr (FACTOR == D3DBLEND_INVSRCCOLOR) {
        return _mm256_sub_ps(one, src[channel]);
    } else if constexpr (FACTOR == D3DBLEND_SRCALPHA) {
        return src[3];
    } else {
        static_assert(FACTOR == D3DBLEND_INVSRCALPHA);
        return _mm256_sub_ps(one, src[3]);
    }
}

// Bit j for each lane j whose value one of the lanes before it also holds.
WIDE inline unsigned repeatedLanes(__m256i v) {
    // Lane j against lane j - r, round the eight: for j >= r an earlier lane, for j < r the
    // later lane j + 8 - r, which repeats lane j. Four turns meet every pair.
    unsigned repeated = 0;
    for (int r = 1; r <= 4; ++r) {
        const __m256i from = _mm256_and_si256(
            _mm256_sub_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(r)),
            _mm256_set1_epi32(7));
        const auto same = static_cast<unsigned>(_mm256_movemask_ps(
            _mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_permutevar8x32_epi32(v, from)))));
        repeated |= (same & (0xFFu << r)) | (same & ((1u << r) - 1u)) << (8 - r);
    }
    return repeated & 0xFFu;
}

// For each lane, the nearest lane before it that holds the same value, or the lane itself
// where none does.
WIDE inline __m256i nearestEarlierLanes(__m256i v) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i nearest = lanes;
    // From the farthest back to the nearest, each match overriding those before it.
    for (int r = 7; r >= 1; --r) {
        const __m256i from = _mm256_sub_epi32(lanes, _mm256_set1_epi32(r));
        const __m256i same =
            _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), from),
                                _mm256_cmpeq_epi32(v, _mm256_permutevar8x32_epi32(v, from)));
        nearest = _mm256_blendv_epi8(nearest, from, same);
    }
    return nearest;
}

// The colour blended with the target: source · SRC + target · DST on each clamped channel,
// the target's bytes read as byte / 255, eight pixels at a time. Where the chunk's pixels
// may repeat (gathered from many triangles: a thin tube's far side under its near side),
// every pixel is blended over what those before it wrote: a lane whose pixel an earlier lane
// of the eight holds takes that lane's result for the target, as many rounds as the longest
// run of lanes on one pixel, and the lanes are stored in order, so that the last one stays.
// Reading the target back between them would wait for the stores.
template <DWORD SRC, DWORD DST, bool ALPHA_TARGET>
WIDE void writeBlended(const PixelState& s, const PixelChunk& c, int colorReg, int alphaReg) {
    const float* channels[4] = {c.reg[colorReg][2], c.reg[colorReg][1], c.reg[colorReg][0],
                                c.reg[alphaReg][3]};
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    // Byte offsets of pixels in the target (within 2^31: targets are at most 4096 a side).
    const __m256i pitch = _mm256_set1_epi32(s.targetPitch);
    // Held here: the stores to the target may alias anything, the state's pointer included.
    std::uint8_t* const targetBytes = s.target;
    std::uint8_t sink[4];
    for (int k = 0; k < c.count; k += 8) {
        const int last = std::min(8, c.count - k);
        // The lanes' pixels, read and written eight at a time whatever their number, so that
        // no loop ends where the pixels do: lanes past them read the target's first word and
        // write to a scratch word.
        const __m256i valid = firstLanes(last);
        const __m256i offsets =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_maskload_epi32(c.y + k, valid), pitch),
                             _mm256_slli_epi32(_mm256_maskload_epi32(c.x + k, valid), 2));
        alignas(32) std::int32_t offset[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(offset), offsets);
        // Read word by word: a gather takes longer to deliver the eight.
        const auto word = [targetBytes, &offset](int j) {
            std::int32_t w;
            std::memcpy(&w, targetBytes + offset[j], sizeof w);
            return w;
        };
        const __m256i target = _mm256_setr_epi32(word(0), word(1), word(2), word(3), word(4),
                                                 word(5), word(6), word(7));
        __m256 src[4];
        for (int ch = 0; ch < 4; ++ch) {
            src[ch] = saturated(_mm256_loadu_ps(channels[ch] + k));
        }
        auto blend = [&](__m256i onto) WIDE {
            __m256i packed = ALPHA_TARGET ? _mm256_setzero_si256()
                                          : _mm256_set1_epi32(static_cast<int>(0xFF000000u));
            for (int ch = 0; ch < (ALPHA_TARGET ? 4 : 3); ++ch) {
                const __m256 dst = _mm256_div_ps(
                    _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(onto, 8 * ch), byteMask)),
                    _mm256_set1_ps(255.0f));
                const __m256 out = _mm256_add_ps(_mm256_mul_ps(src[ch], blendFactor<SRC>(src, ch)),
                                                 _mm256_mul_ps(dst, blendFactor<DST>(src, ch)));
                const __m256i value = _mm256_cvttps_epi32(_mm256_add_ps(
                    _mm256_mul_ps(saturated(out), _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
                packed =
                    _mm256_or_si256(packed, _mm256_sll_epi32(value, _mm_cvtsi32_si128(8 * ch)));
            }
            return packed;
        };
        __m256i packed = blend(target);
        if (c.mayRepeat) {
            unsigned pending = repeatedLanes(offsets) & ((1u << last) - 1u);
            if (pending != 0) {
                const __m256i nearest = nearestEarlierLanes(offsets);
                const __m256i repeats = laneMask(pending);
                // After each round, the lanes whose earlier lane was not settled before it.
                while (pending != 0) {
                    packed = _mm256_blendv_epi8(
                        packed, blend(_mm256_permutevar8x32_epi32(packed, nearest)), repeats);
                    pending &= laneBits(_mm256_permutevar8x32_epi32(laneMask(pending), nearest));
                }
            }
        }
        alignas(32) std::uint32_t words[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(words), packed);
        if (last == 8) {
            for (int j = 0; j < 8; ++j) {
                std::memcpy(targetBytes + offset[j], &words[j], sizeof words[j]);
            }
        } else {
            for (int j = 0; j < 8; ++j) {
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

// Whether q passes the test against stored, eight unsigned 16-bit lanes at a time: all ones
// where it does.
template <DWORD FUNC>
WIDE inline __m128i depthPasses(__m128i q, __m128i stored) {
    const __m128i equal = _mm_cmpeq_epi16(q, stored);
    const __m128i all = _mm_set1_epi16(-1);
    if constexpr (FUNC == D3DCMP_NEVER) {
        return _mm_setzero_si128();
    } else if constexpr (FUNC == D3DCMP_LESS) {
        return _mm_andnot_si128(equal, _mm_cmpeq_epi16(_mm_min_epu16(q, stored), q));
    } else if constexpr (FUNC == D3DCMP_EQUAL) {
        return equal;
    } else if constexpr (FUNC == D3DCMP_LESSEQUAL) {
        return _mm_cmpeq_epi16(_mm_min_epu16(q, stored), q);
    } else if constexpr (FUNC == D3DCMP_GREATER) {
        return _mm_andnot_si128(equal, _mm_cmpeq_epi16(_mm_max_epu16(q, stored), q));
    } else if constexpr (FUNC == D3DCMP_NOTEQUAL) {
        return _mm_xor_si128(equal, all);
    } else if constexpr (FUNC == D3DCMP_GREATEREQUAL) {
        return _mm_cmpeq_epi16(_mm_max_epu16(q, stored), q);
    } else {
        return all;
    }
}

// Whether every pixel of the chunk's runs passes the depth test at one depth, eight side by
// side at a time where a run has them. Writes nothing.
template <DWORD FUNC>
WIDE bool everyRunPasses(const PixelState& s, const PixelChunk& c, std::uint16_t depth) {
    const __m128i value = _mm_set1_epi16(static_cast<short>(depth));
    for (int i = 0; i < c.runCount; ++i) {
        const PixelChunk::Run& run = c.runs[i];
        const std::uint16_t* row =
            s.depth + static_cast<std::ptrdiff_t>(run.y) * s.depthPitch + run.x;
        if (run.count < 8) {
            for (int j = 0; j < run.count; ++j) {
                const __m128i pass =
                    depthPasses<FUNC>(_mm_cvtsi32_si128(depth), _mm_cvtsi32_si128(row[j]));
                if ((_mm_cvtsi128_si32(pass) & 1) == 0) {
                    return false;
                }
            }
            continue;
        }
        for (int j = 0;; j += 8) {
            const int place = std::min(j, run.count - 8);
            const __m128i stored = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + place));
            if (_mm_movemask_epi8(depthPasses<FUNC>(value, stored)) != 0xFFFF) {
                return false;
            }
            if (place == run.count - 8) {
                break;
            }
        }
    }
    return true;
}

// Offsets, depth and the depth test of every covered pixel, keeping those that pass. Eight
// pixels side by side on a row (the usual case) are tested against one load of the depth
// buffer; any others one by one. Without POSITIONS, for pixels whose offsets and depth
// nothing after the test reads, only the test: a depth plane without slopes is its constant
// at every pixel ((c + 0·fy) + 0·fx is c, or a zero of either sign, which round alike).
template <DWORD FUNC, bool WRITE, bool POSITIONS>
WIDE void depthTest(const PixelState& s, const PrimitivePlanes& p, PixelChunk& c) {
    const int count = c.count;
    const __m256 refX = _mm256_set1_ps(p.refX);
    const __m256 refY = _mm256_set1_ps(p.refY);
    const __m256 za = _mm256_set1_ps(p.z.a);
    const __m256 zb = _mm256_set1_ps(p.z.b);
    const __m256 zc = _mm256_set1_ps(p.z.c);
    const __m256 depthScale = _mm256_set1_ps(65535.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    alignas(16) std::uint16_t q[CHUNK];
    const bool flat = !POSITIONS && p.z.a == 0.0f && p.z.b == 0.0f;
    const std::uint16_t flatDepth = flat ? toDepth16(p.z.c) : 0;
    if (flat && c.runCount > 0 && everyRunPasses<FUNC>(s, c, flatDepth)) {
        // Nothing to drop: the runs stay as they are, and take the one depth.
        for (int i = 0; i < c.runCount && WRITE; ++i) {
            const PixelChunk::Run& run = c.runs[i];
            std::fill_n(s.depth + static_cast<std::ptrdiff_t>(run.y) * s.depthPitch + run.x,
                        run.count, flatDepth);
        }
        return;
    }
    if (flat) {
        const __m128i depth = _mm_set1_epi16(static_cast<short>(flatDepth));
        for (int k = 0; k < count; k += 8) {
            _mm_store_si128(reinterpret_cast<__m128i*>(q + k), depth);
        }
    }
    for (int k = 0; k < count && !flat; k += 8) {
        const __m256i xs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.x + k));
        const __m256i ys = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.y + k));
        const __m256 fx = _mm256_sub_ps(_mm256_cvtepi32_ps(xs), refX);
        const __m256 fy = _mm256_sub_ps(_mm256_cvtepi32_ps(ys), refY);
        const __m256 z =
            _mm256_add_ps(_mm256_add_ps(zc, _mm256_mul_ps(zb, fy)), _mm256_mul_ps(za, fx));
        if constexpr (POSITIONS) {
            _mm256_storeu_ps(c.fx + k, fx);
            _mm256_storeu_ps(c.fy + k, fy);
            _mm256_storeu_ps(c.z + k, z);
        }
        // round(z · 65535) of the clamped depth, as toDepth16 does.
        const __m256i words =
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(saturated(z), depthScale), half));
        _mm_store_si128(
            reinterpret_cast<__m128i*>(q + k),
            _mm_packus_epi32(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1)));
    }
    int n = 0;
    auto keep = [&c, &n](int k) {
        if (n != k) {
            c.x[n] = c.x[k];
            c.y[n] = c.y[k];
            if constexpr (POSITIONS) {
                c.fx[n] = c.fx[k];
                c.fy[n] = c.fy[k];
                c.z[n] = c.z[k];
            }
        }
        ++n;
    };
    for (int k = 0; k < count; k += 8) {
        const __m256i xs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.x + k));
        const __m256i ys = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.y + k));
        const bool run = k + 8 <= count && allEqual(ys, firstLane(ys)) &&
                         allEqual(xs, _mm256_add_epi32(firstLane(xs), iota));
        if (run) {
            auto* stored = reinterpret_cast<__m128i*>(
                s.depth + static_cast<std::ptrdiff_t>(c.y[k]) * s.depthPitch + c.x[k]);
            const __m128i old = _mm_loadu_si128(stored);
            const __m128i value = _mm_load_si128(reinterpret_cast<const __m128i*>(q + k));
            const __m128i pass = depthPasses<FUNC>(value, old);
            if constexpr (WRITE) {
                _mm_storeu_si128(stored, _mm_blendv_epi8(old, value, pass));
            }
            const int bits = _mm_movemask_epi8(pass);
            if (bits == 0xFFFF && n == k) {
                n += 8;
                continue;
            }
            for (int j = 0; j < 8; ++j) {
                if (bits & (1 << (2 * j))) {
                    keep(k + j);
                }
            }
            continue;
        }
        const int last = std::min(k + 8, count);
        for (int j = k; j < last; ++j) {
            std::uint16_t& stored =
                s.depth[static_cast<std::ptrdiff_t>(c.y[j]) * s.depthPitch + c.x[j]];
            const __m128i pass =
                depthPasses<FUNC>(_mm_cvtsi32_si128(q[j]), _mm_cvtsi32_si128(stored));
            if (_mm_cvtsi128_si32(pass) & 1) {
                if constexpr (WRITE) {
                    stored = q[j];
                }
                keep(j);
            }
        }
    }
    c.count = n;
}

template <DWORD FUNC, bool POSITIONS>
PixelProgram::Planes depthFor(bool write) {
    return write ? depthTest<FUNC, true, POSITIONS> : depthTest<FUNC, false, POSITIONS>;
}

// Nothing to test and nothing to work out.
void noPositions(const PixelState&, const PrimitivePlanes&, PixelChunk&) {}

template <bool POSITIONS>
PixelProgram::Planes depthVariant(const PixelState& state) {
    switch (state.depthFunc) {
    case D3DCMP_NEVER:
        return depthFor<D3DCMP_NEVER, POSITIONS>(state.depthWrite);
    case D3DCMP_LESS:
        return depthFor<D3DCMP_LESS, POSITIONS>(state.depthWrite);
    case D3DCMP_EQUAL:
        return depthFor<D3DCMP_EQUAL, POSITIONS>(state.depthWrite);
    case D3DCMP_LESSEQUAL:
        return depthFor<D3DCMP_LESSEQUAL, POSITIONS>(state.depthWrite);
    case D3DCMP_GREATER:
        return depthFor<D3DCMP_GREATER, POSITIONS>(state.depthWrite);
    case D3DCMP_NOTEQUAL:
        return depthFor<D3DCMP_NOTEQUAL, POSITIONS>(state.depthWrite);
    case D3DCMP_GREATEREQUAL:
        return depthFor<D3DCMP_GREATEREQUAL, POSITIONS>(state.depthWrite);
    default:
        return depthFor<D3DCMP_ALWAYS, POSITIONS>(state.depthWrite);
    }
}

template <bool ALPHA, bool S>
PixelOp::Run linear32For(Address u, Address v) {
    if (u == Address::Wrap) {
        return v == Address::Wrap ? sampleLinear32<ALPHA, Address::Wrap, Address::Wrap, S>
                                  : sampleLinear32<ALPHA, Address::Wrap, Address::Clamp, S>;
    }
    return v == Address::Wrap ? sampleLinear32<ALPHA, Address::Clamp, Address::Wrap, S>
                              : sampleLinear32<ALPHA, Address::Clamp, Address::Clamp, S>;
}

#endif

} // namespace

void fillHalfwayRows(const TextureView& t, const HalfwaySamples& table, int first, int last) {
#if TESSIVANE_WIDE
    if (wideOperationsEnabled()) {
        if (t.format == D3DFMT_A8R8G8B8) {
            fillHalfway<true>(t, table, first, last);
        } else {
            fillHalfway<false>(t, table, first, last);
        }
        return;
    }
#endif
    fillHalfwayRowsNarrow(t, table, first, last);
}

bool wideOperationsEnabled() {
    return wide.load(std::memory_order_relaxed);
}

void enableWideOperations(bool on) {
    wide.store(on && processorIsWide(), std::memory_order_relaxed);
}

PixelOp::Run wideSample(const StageSetup& stage) {
#if TESSIVANE_WIDE
    if (!wideOperationsEnabled() || stage.filter != Filter::Linear) {
        return nullptr;
    }
    const bool sixteen = sixteenLanesEnabled();
    switch (stage.texture.format) {
    case D3DFMT_X8R8G8B8:
        return sixteen ? linear32For<false, true>(stage.addressU, stage.addressV)
                       : linear32For<false, false>(stage.addressU, stage.addressV);
    case D3DFMT_A8R8G8B8:
        return sixteen ? linear32For<true, true>(stage.addressU, stage.addressV)
                       : linear32For<true, false>(stage.addressU, stage.addressV);
    default:
        return nullptr;
    }
#else
    (void)stage;
    return nullptr;
#endif
}

PixelProgram::Write wideWrite(const PixelState& state) {
#if TESSIVANE_WIDE
    if (!wideOperationsEnabled()) {
        return nullptr;
    }
    const bool alphaTarget = state.targetFormat == D3DFMT_A8R8G8B8;
    if (state.blend) {
        if (const PixelProgram::Write sixteen = blendedWrite16(state)) {
            return sixteen;
        }
        return BLENDED_WRITES[state.srcBlend - 1][state.destBlend - 1][alphaTarget ? 1 : 0];
    }
    return alphaTarget ? writeStraight<true> : writeStraight<false>;
#else
    (void)state;
    return nullptr;
#endif
}

PixelProgram::Planes wideDepth(const PixelState& state) {
#if TESSIVANE_WIDE
    if (!wideOperationsEnabled() || !state.depthTest) {
        return nullptr;
    }
    return depthVariant<true>(state);
#else
    (void)state;
    return nullptr;
#endif
}

PixelProgram::Planes wideDepthOnly(const PixelState& state) {
#if TESSIVANE_WIDE
    if (!wideOperationsEnabled() || state.fogMode != D3DFOG_NONE) {
        return nullptr;
    }
    return state.depthTest ? depthVariant<false>(state) : noPositions;
#else
    (void)state;
    return nullptr;
#endif
}

} // namespace tessivane::platform::soft
