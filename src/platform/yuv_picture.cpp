#include "platform/yuv_picture.h"

#include "platform/wide.h"

#include <algorithm>

namespace tessivane::platform {

namespace {

// Fixed point: the weights are scaled by 2^15, so that each fits a signed 16-bit lane.
constexpr int SHIFT = 15;
// 219/255 · (0.299, 0.587, 0.114): studio luma from full-range channels. They are rounded
// so that they add up to 219/255, and white gives 235.
constexpr std::int32_t Y_R = 8414, Y_G = 16520, Y_B = 3208;
// 224/255 times the colour-difference weights, each set rounded so that it adds up to 0:
// every grey has the chroma 128.
constexpr std::int32_t CB_R = -4857, CB_G = -9535, CB_B = 14392;
constexpr std::int32_t CR_R = 14392, CR_G = -12052, CR_B = -2340;
// The offsets, with half a unit for rounding. Chroma is worked out from the sums of four
// pixels: two more bits go.
constexpr std::int32_t Y_BIAS = (16 << SHIFT) + (1 << (SHIFT - 1));
constexpr int CHROMA_SHIFT = SHIFT + 2;
constexpr std::int32_t C_BIAS = (128 << CHROMA_SHIFT) + (1 << (CHROMA_SHIFT - 1));

constexpr std::int32_t red(std::uint32_t p) {
    return static_cast<std::int32_t>((p >> 16) & 0xFF);
}
constexpr std::int32_t green(std::uint32_t p) {
    return static_cast<std::int32_t>((p >> 8) & 0xFF);
}
constexpr std::int32_t blue(std::uint32_t p) {
    return static_cast<std::int32_t>(p & 0xFF);
}

constexpr std::uint8_t luma(std::uint32_t p) {
    return static_cast<std::uint8_t>((Y_R * red(p) + Y_G * green(p) + Y_B * blue(p) + Y_BIAS) >>
                                     SHIFT);
}

// One chroma value from the channel sums of four pixels.
constexpr std::uint8_t chroma(std::int32_t wr, std::int32_t wg, std::int32_t wb, std::int32_t r,
                              std::int32_t g, std::int32_t b) {
    return static_cast<std::uint8_t>((wr * r + wg * g + wb * b + C_BIAS) >> CHROMA_SHIFT);
}

// Where one pair of picture rows goes: a pair of luma rows (the bottom one null for the last
// row of an odd height, whose pixels then stand for the bottom row too) and a row of each
// chroma plane.
struct RowPair {
    const std::uint32_t* top;
    const std::uint32_t* bottom;
    std::uint8_t* yTop;
    std::uint8_t* yBottom;
    std::uint8_t* cb;
    std::uint8_t* cr;
};

// Converts columns from..width-1 of a row pair, from an even column.
void plainColumns(const RowPair& rows, int from, int width) {
    for (int x = from; x < width; x += 2) {
        const int right = std::min(x + 1, width - 1);
        const std::uint32_t block[4] = {rows.top[x], rows.top[right], rows.bottom[x],
                                        rows.bottom[right]};
        rows.yTop[x] = luma(block[0]);
        if (x + 1 < width) {
            rows.yTop[x + 1] = luma(block[1]);
        }
        if (rows.yBottom != nullptr) {
            rows.yBottom[x] = luma(block[2]);
            if (x + 1 < width) {
                rows.yBottom[x + 1] = luma(block[3]);
            }
        }
        std::int32_t r = 0, g = 0, b = 0;
        for (const std::uint32_t p : block) {
            r += red(p);
            g += green(p);
            b += blue(p);
        }
        rows.cb[x / 2] = chroma(CB_R, CB_G, CB_B, r, g, b);
        rows.cr[x / 2] = chroma(CR_R, CR_G, CR_B, r, g, b);
    }
}

#if TESSIVANE_WIDE
// Two signed 16-bit weights in each 32-bit lane, low then high.
WIDE inline __m256i weights(std::int32_t low, std::int32_t high) {
    return _mm256_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(high) << 16) |
                                              (static_cast<std::uint32_t>(low) & 0xFFFFu)));
}

// Eight values from channels as 16-bit halves of each lane: blue and red in br, green and
// the unused byte in gx (or their sums), weighted, offset and shifted.
WIDE inline __m256i weighed(__m256i br, __m256i gx, __m256i wbr, __m256i wgx, std::int32_t bias,
                            int shift) {
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(br, wbr), _mm256_madd_epi16(gx, wgx));
    return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(bias)), shift);
}

// Lanes 0..3, 8..11, 4..7, 12..15 of sixteen 16-bit ones to 0..15: what packing two
// vectors lane by lane leaves.
WIDE inline __m256i inOrder(__m256i v) {
    return _mm256_permute4x64_epi64(v, 0xD8);
}

// Sixteen values 0..255 in the lanes of a and then b, stored as bytes.
WIDE inline void storeBytes16(std::uint8_t* to, __m256i a, __m256i b) {
    const __m256i words = inOrder(_mm256_packus_epi32(a, b));
    const __m256i bytes = inOrder(_mm256_packus_epi16(words, words));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(bytes));
}

// Eight values 0..255, stored as bytes.
WIDE inline void storeBytes8(std::uint8_t* to, __m256i v) {
    const __m256i words = inOrder(_mm256_packus_epi32(v, v));
    const __m256i bytes = _mm256_packus_epi16(words, words);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(bytes));
}

// Converts the first `columns` (a multiple of 16) columns of a row pair with both rows,
// sixteen at a time: plainColumns' sums and shifts on the same integers.
WIDE void wideColumns(const RowPair& rows, int columns) {
    const __m256i bytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i yBR = weights(Y_B, Y_R), yGX = weights(Y_G, 0);
    const __m256i cbBR = weights(CB_B, CB_R), cbGX = weights(CB_G, 0);
    const __m256i crBR = weights(CR_B, CR_R), crGX = weights(CR_G, 0);
    for (int x = 0; x < columns; x += 16) {
        // Eight pixels each: top left, top right, bottom left, bottom right.
        __m256i br[4], gx[4];
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t* row = i < 2 ? rows.top : rows.bottom;
            const __m256i p =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x + 8 * (i & 1)));
            br[i] = _mm256_and_si256(p, bytes);
            gx[i] = _mm256_and_si256(_mm256_srli_epi32(p, 8), bytes);
        }
        storeBytes16(rows.yTop + x, weighed(br[0], gx[0], yBR, yGX, Y_BIAS, SHIFT),
                     weighed(br[1], gx[1], yBR, yGX, Y_BIAS, SHIFT));
        storeBytes16(rows.yBottom + x, weighed(br[2], gx[2], yBR, yGX, Y_BIAS, SHIFT),
                     weighed(br[3], gx[3], yBR, yGX, Y_BIAS, SHIFT));
        // Each pixel's channels with those below, then with the neighbour's on the right:
        // the halves of a lane stay apart, as neither sum reaches 2^16.
        const __m256i sumBR = inOrder(
            _mm256_hadd_epi32(_mm256_add_epi16(br[0], br[2]), _mm256_add_epi16(br[1], br[3])));
        const __m256i sumGX = inOrder(
            _mm256_hadd_epi32(_mm256_add_epi16(gx[0], gx[2]), _mm256_add_epi16(gx[1], gx[3])));
        storeBytes8(rows.cb + x / 2, weighed(sumBR, sumGX, cbBR, cbGX, C_BIAS, CHROMA_SHIFT));
        storeBytes8(rows.cr + x / 2, weighed(sumBR, sumGX, crBR, crGX, C_BIAS, CHROMA_SHIFT));
    }
}
#endif

void convert(const std::uint32_t* pixels, int width, int height, int pitch, const Yuv420Planes& out,
             bool wide) {
    for (int y = 0; y < height; y += 2) {
        const bool pair = y + 1 < height;
        const std::uint32_t* top = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        std::uint8_t* yTop = out.y + static_cast<std::ptrdiff_t>(y) * out.yPitch;
        const RowPair rows{top,
                           pair ? top + pitch : top,
                           yTop,
                           pair ? yTop + out.yPitch : nullptr,
                           out.cb + static_cast<std::ptrdiff_t>(y / 2) * out.cbPitch,
                           out.cr + static_cast<std::ptrdiff_t>(y / 2) * out.crPitch};
        int done = 0;
#if TESSIVANE_WIDE
        if (wide && pair) {
            done = width & ~15;
            wideColumns(rows, done);
        }
#else
        (void)wide;
#endif
        plainColumns(rows, done, width);
    }
}

} // namespace

void toYuv420(const std::uint32_t* pixels, int width, int height, int pitch,
              const Yuv420Planes& out) {
    static const bool wide = processorIsWide();
    convert(pixels, width, height, pitch, out, wide);
}

void toYuv420Plain(const std::uint32_t* pixels, int width, int height, int pitch,
                   const Yuv420Planes& out) {
    convert(pixels, width, height, pitch, out, false);
}

} // namespace tessivane::platform
