// Filling a batch: primitives are assembled, clipped, projected, snapped and sorted into the
// strips they touch.
#include "platform/soft/raster.h"
#include "platform/wide.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessivane::platform::soft {

namespace {

// Transformed primitives are clipped in x and y only where they reach this many half-viewports
// beyond the centre; the viewport rectangle cuts the rest exactly, pixel by pixel. It keeps
// snapped coordinates within ±2^22 and edge products well inside 64 bits.
constexpr float GUARD_BAND = 4.0f;
// Triangles with at most this many pixel centres within their bounds are tested against
// them before they are binned, and carry which they cover; those of strips set up eight at a
// time, with up to COVERAGE_BITS.
constexpr int FEW_CENTRES = 32;
static_assert(FEW_CENTRES <= COVERAGE_BITS);
// Pre-transformed positions further out than this (in pixels) go through the clipper too.
constexpr float SCREEN_LIMIT = 16384.0f;
// Clip-space w below this is behind or at the eye.
constexpr float MIN_W = 1e-6f;
// Anything larger is treated as broken input and dropped rather than clipped.
constexpr float POSITION_LIMIT = 1e18f;

// A batch is drawn once it holds this much. Where render threads draw one batch while this
// thread fills the next, the fewer and larger the batches, the less time both spend on each
// other's data, up to a point: a frame of thin tubes drew fastest in batches of 32,768
// triangles (five or six to a frame), on two threads and on one, and more slowly in batches
// twice as large.
constexpr std::size_t MAX_TRIANGLES = 1 << 15;
constexpr std::size_t MAX_PLANE_FLOATS = 1 << 20;
constexpr std::size_t MAX_POOL_FLOATS = 1 << 21;
// Points are few in a frame and cheap to set up: their batches stay small.
constexpr std::size_t MAX_POINTS = 1 << 13;
// Room kept in each strip's bin from the start, per row of the strip: a full batch's
// triangles over a 480-row target, with room for strips that take more than their share.
constexpr std::size_t BIN_ENTRIES_PER_ROW = 1 << 8;
// The plane floats a draw piece of a thin draw adds at most: a group of eight triangles,
// 1/w and one attribute, for every eight triangles (and one more).
constexpr std::size_t PIECE_PLANE_FLOATS = (DRAW_PIECE / 8 + 1) * 8 * (1 + 3 * 2);

// How far ahead of the triangles and plane groups being written their lines are claimed.
constexpr std::uintptr_t TRIANGLES_AHEAD = 1536; // bytes: 32 triangles
constexpr std::uintptr_t PLANES_AHEAD = 2048;    // bytes: some nine plane groups
constexpr int PLANE_GROUP_LINES = 4;             // the most a group of 1/w and one value spans

// Asks for the cache line at address `at` to be brought in for writing. A queue is written
// over memory that a render thread on another core read when it last drew from it; a store
// to such a line waits until the line is taken back, and set-up writes its triangles and
// planes faster when the lines are asked for well before they are written. With no other
// thread it is only extra work.
// Only a hint: nothing is read, and the address need not be valid. (Processors of the
// family that predate the instruction run it as a no-op.)
inline void claimLine(std::uintptr_t at) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetchw (%0)" : : "r"(at));
#else
    __builtin_prefetch(reinterpret_cast<const void*>(at), 1);
#endif
}

enum ClipPlane : unsigned {
    CLIP_NEAR = 1 << 0,   // z >= 0
    CLIP_FAR = 1 << 1,    // z <= w
    CLIP_LEFT = 1 << 2,   // x >= -G·w
    CLIP_RIGHT = 1 << 3,  // x <= G·w
    CLIP_TOP = 1 << 4,    // y <= G·w
    CLIP_BOTTOM = 1 << 5, // y >= -G·w
    CLIP_W = 1 << 6,      // w >= MIN_W
    CLIP_PLANES = 7,
    CLIP_INVALID = 1 << 7, // not finite, or absurdly large
};

float planeDistance(unsigned plane, const float* p) {
    switch (plane) {
    case 0:
        return p[2];
    case 1:
        return p[3] - p[2];
    case 2:
        return p[0] + GUARD_BAND * p[3];
    case 3:
        return GUARD_BAND * p[3] - p[0];
    case 4:
        return GUARD_BAND * p[3] - p[1];
    case 5:
        return p[1] + GUARD_BAND * p[3];
    default:
        return p[3] - MIN_W;
    }
}

bool isSane(const float* p) {
    for (int i = 0; i < 4; ++i) {
        if (!(std::fabs(p[i]) <= POSITION_LIMIT)) {
            return false; // also NaN
        }
    }
    return true;
}

#if defined(__SSE2__)
// The plane distances in two vectors, in the order of the planes' bits, each computed as
// planeDistance does; a plane's bit is set where its distance is not >= 0 (NaN included).
unsigned clipCode(const float* p) {
    const __m128 v = _mm_loadu_ps(p);
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
    if (_mm_movemask_ps(_mm_cmple_ps(magnitude, _mm_set1_ps(POSITION_LIMIT))) != 0xF) {
        return CLIP_INVALID;
    }
    const float x = p[0], y = p[1], z = p[2], w = p[3];
    const float guard = GUARD_BAND * w;
    const __m128 first = _mm_setr_ps(z, w - z, x + guard, guard - x);
    const __m128 second = _mm_setr_ps(guard - y, y + guard, w - MIN_W, 0.0f);
    const __m128 zero = _mm_setzero_ps();
    const unsigned inside = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpge_ps(first, zero))) |
                            static_cast<unsigned>(_mm_movemask_ps(_mm_cmpge_ps(second, zero))) << 4;
    return ~inside & ((1u << CLIP_PLANES) - 1);
}
#else
unsigned clipCode(const float* p) {
    if (!isSane(p)) {
        return CLIP_INVALID;
    }
    const float x = p[0], y = p[1], z = p[2], w = p[3];
    const float guard = GUARD_BAND * w;
    // Each test as the clipper's plane distance >= 0 (see planeDistance).
    return (z >= 0.0f ? 0u : CLIP_NEAR) | (w - z >= 0.0f ? 0u : CLIP_FAR) |
           (x + guard >= 0.0f ? 0u : CLIP_LEFT) | (guard - x >= 0.0f ? 0u : CLIP_RIGHT) |
           (guard - y >= 0.0f ? 0u : CLIP_TOP) | (y + guard >= 0.0f ? 0u : CLIP_BOTTOM) |
           (w - MIN_W >= 0.0f ? 0u : CLIP_W);
}
#endif

// Whether a pre-transformed vertex can be rasterized as it is.
bool screenVertexInside(const float* p) {
    return isSane(p) && p[3] > 0.0f && p[2] >= 0.0f && p[2] <= 1.0f &&
           std::fabs(p[0]) <= SCREEN_LIMIT && std::fabs(p[1]) <= SCREEN_LIMIT;
}

// The clip-space position a pre-transformed vertex came from, for clipping it. Null when
// it has no sensible one (1/w not positive).
bool unproject(const GeometryTarget& t, const VertexOutput& v, VertexOutput& out) {
    const float* p = v.position;
    if (!isSane(p) || !(p[3] > 0.0f)) {
        return false;
    }
    out = v;
    const float w = 1.0f / p[3];
    const float range = t.maxZ - t.minZ;
    out.position[0] = ((p[0] - t.x) / t.halfWidth - 1.0f) * w;
    out.position[1] = (1.0f - (p[1] - t.y) / t.halfHeight) * w;
    out.position[2] = range != 0.0f ? (p[2] - t.minZ) / range * w : 0.0f;
    out.position[3] = w;
    return isSane(out.position);
}

// The point where the edge from inside vertex a to outside vertex b crosses a plane, computed
// from the inside end so that a shared edge gives the same point from either triangle.
void intersect(const VertexOutput& a, float da, const VertexOutput& b, float db,
               VertexOutput& out) {
    const float t = da / (da - db);
    const auto* fa = reinterpret_cast<const float*>(&a);
    const auto* fb = reinterpret_cast<const float*>(&b);
    auto* fo = reinterpret_cast<float*>(&out);
    for (int i = 0; i < VERTEX_OUTPUT_FLOATS; ++i) {
        fo[i] = fa[i] + t * (fb[i] - fa[i]);
    }
}

// round(v · 256), halves upwards; |v| stays far below 2^31 / 256 inside the guard band.
std::int32_t snap(float v) {
    const double scaled = static_cast<double>(v) * SUBPIXEL + 0.5;
    const auto i = static_cast<std::int32_t>(scaled);
    return scaled < static_cast<double>(i) ? i - 1 : i;
}

#if TESSIVANE_WIDE
// Eight positions, one per lane, as four vectors x, y, z, w.
struct WidePositions {
    __m256 x, y, z, w;
};

WIDE inline __m256 positionPair(const VertexOutput* v, int i) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(v[i].position)),
                                _mm_loadu_ps(v[i + 4].position), 1);
}

WIDE inline void loadPositions(const VertexOutput* v, WidePositions& p) {
    const __m256 r0 = positionPair(v, 0), r1 = positionPair(v, 1);
    const __m256 r2 = positionPair(v, 2), r3 = positionPair(v, 3);
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1); // x0 x1 y0 y1
    const __m256 t1 = _mm256_unpackhi_ps(r0, r1); // z0 z1 w0 w1
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3);
    const __m256 t3 = _mm256_unpackhi_ps(r2, r3);
    p.x = _mm256_shuffle_ps(t0, t2, 0x44);
    p.y = _mm256_shuffle_ps(t0, t2, 0xEE);
    p.z = _mm256_shuffle_ps(t1, t3, 0x44);
    p.w = _mm256_shuffle_ps(t1, t3, 0xEE);
}

WIDE inline __m256 saneLanes(__m256 c) {
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), c);
    return _mm256_cmp_ps(magnitude, _mm256_set1_ps(POSITION_LIMIT), _CMP_LE_OQ);
}

// The plane's bit where the distance is not >= 0 (NaN included).
WIDE inline __m256i planeBit(__m256 distance, int plane) {
    const __m256 outside = _mm256_cmp_ps(distance, _mm256_setzero_ps(), _CMP_NGE_UQ);
    return _mm256_and_si256(_mm256_castps_si256(outside), _mm256_set1_epi32(1 << plane));
}

// clipCode of each lane: the same tests on the same floats.
WIDE inline __m256i wideClipCodes(const WidePositions& p) {
    const __m256 sane = _mm256_and_ps(_mm256_and_ps(saneLanes(p.x), saneLanes(p.y)),
                                      _mm256_and_ps(saneLanes(p.z), saneLanes(p.w)));
    const __m256 guard = _mm256_mul_ps(_mm256_set1_ps(GUARD_BAND), p.w);
    __m256i code = planeBit(p.z, 0);
    code = _mm256_or_si256(code, planeBit(_mm256_sub_ps(p.w, p.z), 1));
    code = _mm256_or_si256(code, planeBit(_mm256_add_ps(p.x, guard), 2));
    code = _mm256_or_si256(code, planeBit(_mm256_sub_ps(guard, p.x), 3));
    code = _mm256_or_si256(code, planeBit(_mm256_sub_ps(guard, p.y), 4));
    code = _mm256_or_si256(code, planeBit(_mm256_add_ps(p.y, guard), 5));
    code = _mm256_or_si256(code, planeBit(_mm256_sub_ps(p.w, _mm256_set1_ps(MIN_W)), 6));
    return _mm256_blendv_epi8(_mm256_set1_epi32(CLIP_INVALID), code, _mm256_castps_si256(sane));
}

// snap of four lanes.
WIDE inline __m128i wideSnap(__m128 v) {
    const __m256d scaled = _mm256_add_pd(
        _mm256_mul_pd(_mm256_cvtps_pd(v), _mm256_set1_pd(double(SUBPIXEL))), _mm256_set1_pd(0.5));
    return _mm256_cvttpd_epi32(_mm256_floor_pd(scaled));
}

WIDE inline __m256i wideSnap(__m256 v) {
    return _mm256_setr_m128i(wideSnap(_mm256_castps256_ps128(v)),
                             wideSnap(_mm256_extractf128_ps(v, 1)));
}

// Eight clip codes as bytes.
WIDE inline void storeCodes(__m256i codes, std::uint8_t* out) {
    const __m128i bytes = _mm_packus_epi16(
        _mm_packus_epi32(_mm256_castsi256_si128(codes), _mm256_extracti128_si256(codes, 1)),
        _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
}

// The projections of eight positions, as toScreen finds them: divided by w through one
// reciprocal.
struct WideScreen {
    __m256 x, y, z, invW;
};

WIDE inline WideScreen wideScreen(const GeometryTarget& t, const WidePositions& p) {
    const __m256 one = _mm256_set1_ps(1.0f);
    WideScreen s;
    s.invW = _mm256_div_ps(one, p.w);
    s.x = _mm256_add_ps(
        _mm256_set1_ps(t.x),
        _mm256_mul_ps(_mm256_add_ps(one, _mm256_mul_ps(p.x, s.invW)), _mm256_set1_ps(t.halfWidth)));
    s.y = _mm256_add_ps(_mm256_set1_ps(t.y),
                        _mm256_mul_ps(_mm256_sub_ps(one, _mm256_mul_ps(p.y, s.invW)),
                                      _mm256_set1_ps(t.halfHeight)));
    s.z = _mm256_add_ps(_mm256_set1_ps(t.minZ),
                        _mm256_mul_ps(_mm256_mul_ps(p.z, s.invW), _mm256_set1_ps(t.maxZ - t.minZ)));
    return s;
}
#endif

} // namespace

void Batch::reset(int targetHeight) {
    // What a queue of thin strips takes, up to a draw piece's worth beyond the limits.
    triangles.reserve(MAX_TRIANGLES + DRAW_PIECE);
    planes_.reserve(MAX_PLANE_FLOATS + PIECE_PLANE_FLOATS);
    draws.clear();
    pool_.clear();
    planes_.clear();
    corners_.clear();
    triangles.clear();
    points.clear();
    clears.clear();
    const int rows = stripRowsFor(targetHeight, threads_);
    stripShift_ = std::countr_zero(static_cast<unsigned>(rows));
    const auto strips = static_cast<std::size_t>((targetHeight + rows - 1) >> stripShift_);
    if (bins_.size() != strips) {
        bins_.resize(strips);
    }
    strips_ = static_cast<int>(strips);
    const std::size_t entries = BIN_ENTRIES_PER_ROW * static_cast<std::size_t>(rows);
    for (auto& bin : bins_) {
        // Written once at their size: a strip's entries rarely outgrow it.
        bin.reserve(entries);
        bin.clear();
    }
}

int stripRowsFor(int height, unsigned threads) {
    int rows = MAX_STRIP_ROWS;
    while (rows > MIN_STRIP_ROWS &&
           static_cast<unsigned>((height + rows - 1) / rows) < STRIPS_PER_THREAD * threads) {
        rows /= 2;
    }
    return rows;
}

bool Batch::full() const {
    return triangles.size() >= MAX_TRIANGLES || points.size() >= MAX_POINTS ||
           planes_.size() >= MAX_PLANE_FLOATS || pool_.size() + planes_.size() >= MAX_POOL_FLOATS;
}

std::uint32_t Batch::addDraw(const DrawRecord& draw) {
    draws.push_back(draw);
    return static_cast<std::uint32_t>(draws.size() - 1);
}

namespace {

// Which of the pixel centres in columns colMin.. and rows rowMin..rowMax the triangle of
// the snapped corners (x[i], y[i]) covers, row by row, each row columns bits from colMin up.
std::uint32_t coverage(const std::int32_t x[3], const std::int32_t y[3], int colMin, int columns,
                       int rowMin, int rowMax) {
    const Edge edges[3] = {makeEdge(x[0], y[0], x[1], y[1]), makeEdge(x[1], y[1], x[2], y[2]),
                           makeEdge(x[2], y[2], x[0], y[0])};
    std::int64_t rowStart[3];
    for (int i = 0; i < 3; ++i) {
        rowStart[i] = edgeValue(edges[i], colMin, rowMin);
    }
    std::uint32_t cover = 0;
    int bit = 0;
    for (int row = rowMin; row <= rowMax; ++row) {
        std::int64_t e0 = rowStart[0], e1 = rowStart[1], e2 = rowStart[2];
        for (int column = 0; column < columns; ++column, ++bit) {
            if ((e0 | e1 | e2) >= 0) {
                cover |= 1u << bit;
            }
            e0 -= edges[0].dy * SUBPIXEL;
            e1 -= edges[1].dy * SUBPIXEL;
            e2 -= edges[2].dy * SUBPIXEL;
        }
        for (int i = 0; i < 3; ++i) {
            rowStart[i] += edges[i].dx * SUBPIXEL;
        }
    }
    return cover;
}

// The row and column, as pairs of 16-bit integers, of each of the first FEW_CENTRES centres of
// bounds `columns` wide.
struct CentrePairs {
    alignas(32) std::int16_t pair[FEW_CENTRES + 1][2 * FEW_CENTRES];
};

constexpr CentrePairs centrePairs() {
    CentrePairs pairs{};
    for (int columns = 1; columns <= FEW_CENTRES; ++columns) {
        for (int i = 0; i < FEW_CENTRES; ++i) {
            pairs.pair[columns][2 * i] = static_cast<std::int16_t>(i / columns);
            pairs.pair[columns][2 * i + 1] = static_cast<std::int16_t>(i % columns);
        }
    }
    return pairs;
}

constexpr CentrePairs CENTRE_PAIRS = centrePairs();

#if TESSIVANE_WIDE
// The column and row, within bounds `columns` wide, of each of the first FEW_CENTRES centres.
struct CentrePlaces {
    alignas(32) double column[FEW_CENTRES + 1][FEW_CENTRES];
    alignas(32) double row[FEW_CENTRES + 1][FEW_CENTRES];
};

constexpr CentrePlaces centrePlaces() {
    CentrePlaces places{};
    for (int columns = 1; columns <= FEW_CENTRES; ++columns) {
        for (int i = 0; i < FEW_CENTRES; ++i) {
            places.column[columns][i] = i % columns;
            places.row[columns][i] = i / columns;
        }
    }
    return places;
}

constexpr CentrePlaces CENTRE_PLACES = centrePlaces();

// coverage of a triangle whose corners lie within 2^14 (64 pixels) of the first centre, in
// 32-bit integers: the three edges at once, and eight centres at a time. With the corners
// that close, each edge's dx and dy fit in 16 bits and its value at the first centre in 31,
// and a centre's value is that plus SUBPIXEL·(dx·row − dy·column), one multiply-add of
// 16-bit pairs: the very integers of coverage. Returns false for corners further out.
WIDE bool coverageNear(const std::int32_t x[3], const std::int32_t y[3], int colMin, int columns,
                       int rowMin, int centres, std::uint32_t& cover) {
    static_assert(SUBPIXEL_BITS == 8);
    const __m128i cx = _mm_sub_epi32(_mm_setr_epi32(x[0], x[1], x[2], x[0]),
                                     _mm_set1_epi32(colMin * SUBPIXEL_ONE));
    const __m128i cy = _mm_sub_epi32(_mm_setr_epi32(y[0], y[1], y[2], y[0]),
                                     _mm_set1_epi32(rowMin * SUBPIXEL_ONE));
    const __m128i reach = _mm_max_epi32(_mm_abs_epi32(cx), _mm_abs_epi32(cy));
    if (_mm_movemask_epi8(_mm_cmpgt_epi32(reach, _mm_set1_epi32((1 << 14) - 1))) != 0) {
        return false;
    }
    // Edges 0→1, 1→2 and 2→0, as makeEdge has them.
    const __m128i dx = _mm_sub_epi32(_mm_shuffle_epi32(cx, _MM_SHUFFLE(0, 0, 2, 1)), cx);
    const __m128i dy = _mm_sub_epi32(_mm_shuffle_epi32(cy, _MM_SHUFFLE(0, 0, 2, 1)), cy);
    const __m128i zero = _mm_setzero_si128();
    const __m128i topLeft =
        _mm_or_si128(_mm_cmplt_epi32(dy, zero),
                     _mm_and_si128(_mm_cmpeq_epi32(dy, zero), _mm_cmpgt_epi32(dx, zero)));
    const __m128i bias = _mm_add_epi32(topLeft, _mm_set1_epi32(1)); // 0 where top-left, else 1
    // E at the first centre: dx·(0 − y0) − dy·(0 − x0) − bias.
    const __m128i first =
        _mm_sub_epi32(_mm_sub_epi32(_mm_mullo_epi32(dy, cx), _mm_mullo_epi32(dx, cy)), bias);
    // (dx, −dy) against each centre's (row, column).
    const __m128i steps = _mm_or_si128(_mm_and_si128(dx, _mm_set1_epi32(0xFFFF)),
                                       _mm_slli_epi32(_mm_sub_epi32(zero, dy), 16));
    const __m256i base[3] = {_mm256_broadcastd_epi32(first),
                             _mm256_broadcastd_epi32(_mm_shuffle_epi32(first, 1)),
                             _mm256_broadcastd_epi32(_mm_shuffle_epi32(first, 2))};
    const __m256i step[3] = {_mm256_broadcastd_epi32(steps),
                             _mm256_broadcastd_epi32(_mm_shuffle_epi32(steps, 1)),
                             _mm256_broadcastd_epi32(_mm_shuffle_epi32(steps, 2))};
    unsigned outside = 0;
    for (int k = 0; k < centres; k += 8) {
        const __m256i places =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(&CENTRE_PAIRS.pair[columns][2 * k]));
        __m256i any = _mm256_setzero_si256();
        for (int i = 0; i < 3; ++i) {
            const __m256i offset = _mm256_slli_epi32(_mm256_madd_epi16(places, step[i]), 8);
            any = _mm256_or_si256(any, _mm256_add_epi32(base[i], offset));
        }
        outside |= static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(any))) << k;
    }
    cover = ~outside & static_cast<std::uint32_t>(lowBits(centres));
    return true;
}

// coverage, four centres at a time. Every edge value is a whole number below 2^53, so the
// doubles hold exactly the integers coverage works with, whatever the order of the sums.
WIDE std::uint32_t coverageWide(const std::int32_t x[3], const std::int32_t y[3], int colMin,
                                int columns, int rowMin, int centres) {
    const Edge edges[3] = {makeEdge(x[0], y[0], x[1], y[1]), makeEdge(x[1], y[1], x[2], y[2]),
                           makeEdge(x[2], y[2], x[0], y[0])};
    __m256d base[3], perColumn[3], perRow[3];
    for (int i = 0; i < 3; ++i) {
        base[i] = _mm256_set1_pd(double(edgeValue(edges[i], colMin, rowMin)));
        perColumn[i] = _mm256_set1_pd(double(-edges[i].dy * SUBPIXEL));
        perRow[i] = _mm256_set1_pd(double(edges[i].dx * SUBPIXEL));
    }
    const __m256d zero = _mm256_setzero_pd();
    unsigned cover = 0;
    for (int k = 0; k < centres; k += 4) {
        const __m256d column = _mm256_load_pd(&CENTRE_PLACES.column[columns][k]);
        const __m256d row = _mm256_load_pd(&CENTRE_PLACES.row[columns][k]);
        __m256d inside = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        for (int i = 0; i < 3; ++i) {
            const __m256d e =
                _mm256_add_pd(_mm256_add_pd(base[i], _mm256_mul_pd(column, perColumn[i])),
                              _mm256_mul_pd(row, perRow[i]));
            inside = _mm256_and_pd(inside, _mm256_cmp_pd(e, zero, _CMP_GE_OQ));
        }
        cover |= static_cast<unsigned>(_mm256_movemask_pd(inside)) << k;
    }
    return cover & static_cast<std::uint32_t>(lowBits(centres));
}
#endif

} // namespace

// Rows are never negative: whatever is binned lies inside the target.
inline void Batch::bin(std::uint32_t entry, int rowMin, int rowMax) {
    const unsigned first = static_cast<unsigned>(rowMin) >> stripShift_;
    const unsigned last = std::min(static_cast<unsigned>(rowMax) >> stripShift_,
                                   static_cast<unsigned>(stripCount() - 1));
    for (unsigned s = first; s <= last; ++s) {
        *bins_[s].append(1) = entry;
    }
}

void Batch::addClear(const BatchClear& clear) {
    if (clear.x0 >= clear.x1 || clear.y0 >= clear.y1) {
        return;
    }
    clears.push_back(clear);
    bin(BIN_CLEAR | static_cast<std::uint32_t>(clears.size() - 1), clear.y0, clear.y1 - 1);
}

namespace {

// The screen position, depth and 1/w of a clip-space position: divided by w through one
// reciprocal (exact when w = 1).
inline void toScreen(const GeometryTarget& t, const float* p, float screen[4]) {
    const float invW = 1.0f / p[3];
    screen[0] = t.x + (1.0f + p[0] * invW) * t.halfWidth;
    screen[1] = t.y + (1.0f - p[1] * invW) * t.halfHeight;
    screen[2] = t.minZ + (p[2] * invW) * (t.maxZ - t.minZ);
    screen[3] = invW;
}

} // namespace

std::uint32_t Batch::project(const GeometryTarget& t, const VertexOutput& v, bool perspective) {
    const auto offset = static_cast<std::uint32_t>(pool_.size());
    const float* p = v.position;
    float screen[4];
    if (t.preTransformed && screenVertexInside(p)) {
        std::memcpy(screen, p, sizeof screen);
    } else {
        toScreen(t, p, screen);
    }
    float* out = pool_.append(4 + static_cast<std::size_t>(storedAttributes_));
    std::memcpy(out, screen, sizeof screen);
    const auto* f = reinterpret_cast<const float*>(&v);
    for (int k = 0; k < storedAttributes_; ++k) {
        const float value = f[attributes_[k].source];
        // Triangles interpolate value/w, to be multiplied back by w per pixel.
        out[4 + k] = perspective ? value * screen[3] : value;
    }
    return offset;
}

void Batch::projectToLanes(const GeometryTarget& t, const VertexOutput& v, UINT i) {
    float screen[4];
    toScreen(t, v.position, screen);
    for (int r = 0; r < 4; ++r) {
        lanes_[r * laneStride_ + i] = screen[r];
    }
    const auto* f = reinterpret_cast<const float*>(&v);
    for (int k = 0; k < storedAttributes_; ++k) {
        lanes_[(4 + k) * laneStride_ + i] = f[attributes_[k].source] * screen[3];
    }
    snappedX_[i] = snap(screen[0]);
    snappedY_[i] = snap(screen[1]);
}

void Batch::lanesToPool(UINT count) {
    const int entry = 4 + storedAttributes_;
    for (UINT i = 0; i < count; ++i) {
        if (codes_[i] != 0) {
            continue;
        }
        projected_[i] = static_cast<std::uint32_t>(pool_.size());
        float* out = pool_.append(static_cast<std::size_t>(entry));
        for (int r = 0; r < entry; ++r) {
            out[r] = lanes_[r * laneStride_ + i];
        }
    }
}

// Inlined into its callers, so that the corners stay in registers: read back from memory
// just written, they would wait for the stores.
inline void Batch::storeTriangle(const std::int32_t x[3], const std::int32_t y[3],
                                 std::uint32_t planes, int colMin, int colMax, int rowMin,
                                 int rowMax, Coverage cover) {
    const auto index = static_cast<std::uint32_t>(triangles.size());
    BatchTriangle& tri = *triangles.append(1);
    if (claimAhead()) {
        claimLine(reinterpret_cast<std::uintptr_t>(&tri) + TRIANGLES_AHEAD);
    }
    for (int i = 0; i < 3; ++i) {
        tri.x[i] = x[i];
        tri.y[i] = y[i];
    }
    tri.planes = planes;
    tri.draw = currentDraw_;
    tri.colMin = static_cast<std::int16_t>(colMin);
    tri.colMax = static_cast<std::int16_t>(colMax);
    tri.rowMin = static_cast<std::int16_t>(rowMin);
    tri.rowMax = static_cast<std::int16_t>(rowMax);
    tri.cover = cover;
    binTriangle(index, colMin, colMax, rowMin, rowMax, cover);
}

inline void Batch::binTriangle(std::uint32_t index, int colMin, int colMax, int rowMin, int rowMax,
                               Coverage cover) {
    int firstRow = rowMin, lastRow = rowMax;
    if (cover != 0 && (rowMin >> stripShift_) != (rowMax >> stripShift_)) {
        // Only the strips of the rows with covered centres (most lie within one anyway).
        const std::uint16_t* cells = CENTRE_CELLS.cell[colMax - colMin + 1];
        firstRow = rowMin + (cells[std::countr_zero(cover)] >> 6);
        lastRow = rowMin + (cells[63 - std::countl_zero(cover)] >> 6);
    }
    bin(BIN_TRIANGLE | index, firstRow, lastRow);
}

[[gnu::always_inline]] inline void Batch::emitTriangle(const GeometryTarget& t,
                                                       const std::uint32_t vertex[3],
                                                       const std::int32_t x[3],
                                                       const std::int32_t y[3]) {
    std::uint32_t v[3] = {vertex[0], vertex[1], vertex[2]};
    std::int32_t cx[3] = {x[0], x[1], x[2]};
    std::int32_t cy[3] = {y[0], y[1], y[2]};
    // Twice the signed area; positive when the triangle runs clockwise on screen.
    const std::int64_t area = (std::int64_t(cx[1]) - cx[0]) * (cy[2] - cy[0]) -
                              (std::int64_t(cx[2]) - cx[0]) * (cy[1] - cy[0]);
    if (area == 0) {
        return;
    }
    if ((t.cull == D3DCULL_CW && area > 0) || (t.cull == D3DCULL_CCW && area < 0)) {
        return;
    }
    if (area < 0) {
        // Keep vertex 0 as the reference of the planes; only the winding changes.
        std::swap(cx[1], cx[2]);
        std::swap(cy[1], cy[2]);
        std::swap(v[1], v[2]);
    }
    const std::int32_t minX = std::min({cx[0], cx[1], cx[2]});
    const std::int32_t maxX = std::max({cx[0], cx[1], cx[2]});
    const std::int32_t minY = std::min({cy[0], cy[1], cy[2]});
    const std::int32_t maxY = std::max({cy[0], cy[1], cy[2]});
    // Only pixels whose centres lie within the bounds can be covered (the shifts are the
    // rounded divisions by SUBPIXEL).
    const std::int32_t colMin = std::max((minX + (SUBPIXEL_ONE - 1)) >> SUBPIXEL_BITS, t.clipX0);
    const std::int32_t colMax = std::min(maxX >> SUBPIXEL_BITS, t.clipX1 - 1);
    const std::int32_t rowMin = std::max((minY + (SUBPIXEL_ONE - 1)) >> SUBPIXEL_BITS, t.clipY0);
    const std::int32_t rowMax = std::min(maxY >> SUBPIXEL_BITS, t.clipY1 - 1);
    if (colMin > colMax || rowMin > rowMax) {
        return;
    }
    Coverage cover = 0;
    // Thin triangles often hold a pixel centre or two within their bounds and cover none of
    // them: tested here, such a triangle costs no strip any work, and one that covers some
    // carries which, so that no strip looks for them again. The reference path keeps
    // finding that out pixel by pixel, so the two are compared.
    const int columns = colMax - colMin + 1;
    if (columns * (rowMax - rowMin + 1) <= FEW_CENTRES && !draws[currentDraw_].reference) {
#if TESSIVANE_WIDE
        if (draws[currentDraw_].program.wide) {
            const int centres = columns * (rowMax - rowMin + 1);
            std::uint32_t few = 0;
            if (!coverageNear(cx, cy, colMin, columns, rowMin, centres, few)) {
                few = coverageWide(cx, cy, colMin, columns, rowMin, centres);
            }
            cover = few;
        } else {
            cover = coverage(cx, cy, colMin, columns, rowMin, rowMax);
        }
#else
        cover = coverage(cx, cy, colMin, columns, rowMin, rowMax);
#endif
        if (cover == 0) {
            return;
        }
    }
    const auto corners = static_cast<std::uint32_t>(corners_.size());
    std::copy(v, v + 3, corners_.append(3));
    storeTriangle(cx, cy, UNSOLVED | corners, colMin, colMax, rowMin, rowMax, cover);
}

// A draw's vertices inside every plane were projected and snapped up front.
[[gnu::always_inline]] inline void Batch::emitPrepared(const GeometryTarget& t,
                                                       const UINT index[3]) {
    const std::uint32_t o[3] = {projected_[index[0]], projected_[index[1]], projected_[index[2]]};
    const std::int32_t x[3] = {snappedX_[index[0]], snappedX_[index[1]], snappedX_[index[2]]};
    const std::int32_t y[3] = {snappedY_[index[0]], snappedY_[index[1]], snappedY_[index[2]]};
    emitTriangle(t, o, x, y);
}

void Batch::emitProjected(const GeometryTarget& t, const std::uint32_t vertex[3]) {
    std::int32_t x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = snap(pool_[vertex[i]]);
        y[i] = snap(pool_[vertex[i] + 1]);
    }
    emitTriangle(t, vertex, x, y);
}

void Batch::addTriangle(const GeometryTarget& t, const VertexOutput* const v[3],
                        const UINT index[3]) {
    if (t.preTransformed) {
        if (screenVertexInside(v[0]->position) && screenVertexInside(v[1]->position) &&
            screenVertexInside(v[2]->position)) {
            std::uint32_t o[3];
            for (int i = 0; i < 3; ++i) {
                if (projected_[index[i]] == UINT32_MAX) {
                    projected_[index[i]] = project(t, *v[i], true);
                }
                o[i] = projected_[index[i]];
            }
            emitProjected(t, o);
            return;
        }
        // Outside the drawable range: back to clip space, clip, and project again.
        VertexOutput clip[3];
        for (int i = 0; i < 3; ++i) {
            if (!unproject(t, *v[i], clip[i])) {
                return;
            }
        }
        const VertexOutput* c[3] = {&clip[0], &clip[1], &clip[2]};
        GeometryTarget transformed = t;
        transformed.preTransformed = false;
        const UINT none[3] = {UINT32_MAX, UINT32_MAX, UINT32_MAX};
        addTriangle(transformed, c, none);
        return;
    }

    unsigned codes[3];
    for (int i = 0; i < 3; ++i) {
        codes[i] = index[i] == UINT32_MAX ? clipCode(v[i]->position) : codes_[index[i]];
    }
    if ((codes[0] | codes[1] | codes[2]) & CLIP_INVALID) {
        return;
    }
    if (codes[0] & codes[1] & codes[2]) {
        return; // wholly outside one plane
    }
    const unsigned crossed = codes[0] | codes[1] | codes[2];
    if (crossed == 0) {
        if (index[0] != UINT32_MAX) {
            emitPrepared(t, index);
            return;
        }
        std::uint32_t o[3];
        for (int i = 0; i < 3; ++i) {
            o[i] = project(t, *v[i], true);
        }
        emitProjected(t, o);
        return;
    }

    // Sutherland-Hodgman against each plane the triangle crosses.
    constexpr int MAX_POLYGON = 3 + CLIP_PLANES;
    VertexOutput buffers[2][MAX_POLYGON];
    int count = 3;
    for (int i = 0; i < 3; ++i) {
        buffers[0][i] = *v[i];
    }
    int from = 0;
    for (unsigned plane = 0; plane < CLIP_PLANES && count > 0; ++plane) {
        if (!(crossed & (1u << plane))) {
            continue;
        }
        const VertexOutput* in = buffers[from];
        VertexOutput* out = buffers[1 - from];
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const VertexOutput& a = in[i];
            const VertexOutput& b = in[(i + 1) % count];
            const float da = planeDistance(plane, a.position);
            const float db = planeDistance(plane, b.position);
            const bool aIn = da >= 0.0f;
            const bool bIn = db >= 0.0f;
            if (aIn) {
                out[n++] = a;
            }
            if (aIn != bIn) {
                if (aIn) {
                    intersect(a, da, b, db, out[n++]);
                } else {
                    intersect(b, db, a, da, out[n++]);
                }
            }
        }
        count = n;
        from = 1 - from;
    }
    if (count < 3) {
        return;
    }
    std::uint32_t fan[MAX_POLYGON];
    for (int i = 0; i < count; ++i) {
        fan[i] = project(t, buffers[from][i], true);
    }
    for (int i = 1; i + 1 < count; ++i) {
        const std::uint32_t o[3] = {fan[0], fan[i], fan[i + 1]};
        emitProjected(t, o);
    }
}

void Batch::addPoint(const GeometryTarget& t, const VertexOutput& v) {
    const float* p = v.position;
    if (t.preTransformed) {
        if (!screenVertexInside(p)) {
            return;
        }
    } else if (clipCode(p) & (CLIP_INVALID | CLIP_NEAR | CLIP_FAR | CLIP_W)) {
        return; // behind the eye or outside the depth range
    }
    const std::uint32_t offset = project(t, v, false);
    const float x = pool_[offset];
    const float y = pool_[offset + 1];
    // The unit square around (x, y) holds exactly one pixel centre under the fill rule: the
    // nearest, ties going to the lower index.
    const float column = std::ceil(x - 0.5f);
    const float row = std::ceil(y - 0.5f);
    if (!(column >= float(t.clipX0) && column < float(t.clipX1) && row >= float(t.clipY0) &&
          row < float(t.clipY1))) {
        pool_.shrink(offset);
        return;
    }
    BatchPoint point{static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), offset,
                     currentDraw_};
    points.push_back(point);
    bin(BIN_POINT | static_cast<std::uint32_t>(points.size() - 1), point.y, point.y);
}

#if TESSIVANE_WIDE
WIDE UINT Batch::prepareVerticesWide(const GeometryTarget& t, const VertexOutput* vertices,
                                     UINT count, bool toLanes) {
    const int entry = 4 + storedAttributes_;
    UINT i = 0;
    for (; i + 8 <= count; i += 8) {
        const VertexOutput* v = vertices + i;
        WidePositions p;
        loadPositions(v, p);
        const __m256i codes = wideClipCodes(p);
        alignas(32) std::int32_t code[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(code), codes);
        const WideScreen screenLanes = wideScreen(t, p);
        const __m256 sx = screenLanes.x, sy = screenLanes.y, sz = screenLanes.z;
        const __m256 invW = screenLanes.invW;
        const __m256i snappedX = wideSnap(sx), snappedY = wideSnap(sy);
        if (toLanes) {
            // Every lane is written, those outside a plane too: nothing reads them.
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(snappedX_.data() + i), snappedX);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(snappedY_.data() + i), snappedY);
            float* lane = lanes_.data() + i;
            _mm256_storeu_ps(lane, sx);
            _mm256_storeu_ps(lane + laneStride_, sy);
            _mm256_storeu_ps(lane + 2 * laneStride_, sz);
            _mm256_storeu_ps(lane + 3 * laneStride_, invW);
            const __m256i fields = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                                      _mm256_set1_epi32(VERTEX_OUTPUT_FLOATS));
            const auto* f = reinterpret_cast<const float*>(v);
            for (int k = 0; k < storedAttributes_; ++k) {
                const __m256 value = _mm256_i32gather_ps(f + attributes_[k].source, fields, 4);
                _mm256_storeu_ps(lane + (4 + k) * laneStride_, _mm256_mul_ps(value, invW));
            }
            storeCodes(codes, codes_.data() + i);
            continue;
        }
        alignas(32) float screen[4][8];
        _mm256_store_ps(screen[0], sx);
        _mm256_store_ps(screen[1], sy);
        _mm256_store_ps(screen[2], sz);
        _mm256_store_ps(screen[3], invW);
        alignas(32) std::int32_t snapped[2][8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(snapped[0]), snappedX);
        _mm256_store_si256(reinterpret_cast<__m256i*>(snapped[1]), snappedY);
        int inside = 0;
        for (int lane = 0; lane < 8; ++lane) {
            inside += code[lane] == 0;
        }
        float* out = pool_.append(static_cast<std::size_t>(inside) * entry);
        auto offset = static_cast<std::uint32_t>(out - pool_.data());
        for (int lane = 0; lane < 8; ++lane) {
            codes_[i + lane] = static_cast<std::uint8_t>(code[lane]);
            if (code[lane] != 0) {
                continue;
            }
            out[0] = screen[0][lane];
            out[1] = screen[1][lane];
            out[2] = screen[2][lane];
            out[3] = screen[3][lane];
            const auto* f = reinterpret_cast<const float*>(&v[lane]);
            for (int k = 0; k < storedAttributes_; ++k) {
                out[4 + k] = f[attributes_[k].source] * screen[3][lane];
            }
            projected_[i + lane] = offset;
            snappedX_[i + lane] = snapped[0][lane];
            snappedY_[i + lane] = snapped[1][lane];
            out += entry;
            offset += static_cast<std::uint32_t>(entry);
        }
    }
    return i;
}
#endif

void VertexLanes::resize(UINT count, int rows) {
    // Writes go up to the next multiple of eight, reads up to eight past the last vertex.
    constexpr UINT SLACK = 16;
    stride = count + SLACK;
    x.resize(stride);
    y.resize(stride);
    outside.resize(stride);
    values.resize(static_cast<std::size_t>(rows) * stride);
}

bool stripsFromLanes(const DrawRecord& d) {
    return TESSIVANE_WIDE && d.program.wide && !d.reference;
}

#if TESSIVANE_WIDE
WIDE void projectToLanes(const GeometryTarget& t, const float* const position[4],
                         const float* const* attributes, int attributeCount, UINT count,
                         VertexLanes& lanes, UINT first) {
    for (UINT i = 0; i < count; i += 8) {
        const WidePositions p{_mm256_loadu_ps(position[0] + i), _mm256_loadu_ps(position[1] + i),
                              _mm256_loadu_ps(position[2] + i), _mm256_loadu_ps(position[3] + i)};
        const WideScreen screen = wideScreen(t, p);
        const UINT at = first + i;
        storeCodes(wideClipCodes(p), lanes.outside.data() + at);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.x.data() + at), wideSnap(screen.x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.y.data() + at), wideSnap(screen.y));
        float* row = lanes.values.data() + at;
        _mm256_storeu_ps(row, screen.z);
        _mm256_storeu_ps(row + lanes.stride, screen.invW);
        for (int a = 0; a < attributeCount; ++a) {
            _mm256_storeu_ps(row + (2 + a) * lanes.stride,
                             _mm256_mul_ps(_mm256_loadu_ps(attributes[a] + i), screen.invW));
        }
    }
}
#else
void projectToLanes(const GeometryTarget&, const float* const[4], const float* const*, int, UINT,
                    VertexLanes&, UINT) {}
#endif

Batch::StripVertices::StripVertices(const std::int32_t* x, const std::int32_t* y,
                                    const float* firstRow, std::size_t stride, int rowCount)
    : x(x), y(y), rows{} {
    for (int r = 0; r < rowCount; ++r) {
        rows[r] = firstRow + static_cast<std::size_t>(r) * stride;
    }
}

bool Batch::addStrip(std::uint32_t draw, const GeometryTarget& t, const VertexLanes& lanes,
                     UINT first, UINT vertexCount, UINT primitiveCount) {
#if TESSIVANE_WIDE
    // Eight vertices' clip codes at a time.
    const std::uint8_t* outside = lanes.outside.data() + first;
    std::uint64_t any = 0;
    UINT i = 0;
    for (; i + 8 <= vertexCount; i += 8) {
        std::uint64_t codes;
        std::memcpy(&codes, outside + i, sizeof codes);
        any |= codes;
    }
    for (; i < vertexCount; ++i) {
        any |= outside[i];
    }
    if (any != 0) {
        // The clipper drops a triangle at once where a corner is no number, or where all
        // three lie outside one plane: where it would drop every one (a strip behind the
        // camera), there is nothing to clip.
        for (UINT k = 0; k < primitiveCount; ++k) {
            const unsigned a = outside[k], b = outside[k + 1], c = outside[k + 2];
            if (((a | b | c) & CLIP_INVALID) == 0 && (a & b & c) == 0) {
                return false;
            }
        }
        return true;
    }
    currentDraw_ = draw;
    storedAttributes_ = draws[draw].storedAttributes;
    attributes_ = draws[draw].state.attributes;
    emitStripWide(t,
                  StripVertices(lanes.x.data() + first, lanes.y.data() + first,
                                lanes.values.data() + first, lanes.stride, 2 + storedAttributes_),
                  primitiveCount);
    return true;
#else
    (void)draw, (void)t, (void)lanes, (void)first, (void)vertexCount, (void)primitiveCount;
    return false; // never asked: no draw takes its strips from lanes
#endif
}

#if TESSIVANE_WIDE
namespace {

// Eight lanes of a strip's vertices from vertex `first` on.
WIDE inline __m256i loadLanes(const void* p, UINT first) {
    return _mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(static_cast<const std::int32_t*>(p) + first));
}

// Writes sixteen bytes of each of eight triangles that lie one after another: into triangle
// j, lane j of a, b, c and d, at the place `first` has in the first of them. The layout the
// three such writes of a triangle fill:
static_assert(sizeof(BatchTriangle) == 48 && offsetof(BatchTriangle, y) == 12 &&
              offsetof(BatchTriangle, planes) == 24 && offsetof(BatchTriangle, draw) == 28 &&
              offsetof(BatchTriangle, colMin) == 32 && offsetof(BatchTriangle, colMax) == 34 &&
              offsetof(BatchTriangle, rowMin) == 36 && offsetof(BatchTriangle, rowMax) == 38 &&
              offsetof(BatchTriangle, cover) == 40);
WIDE inline void storeTransposed(__m256i a, __m256i b, __m256i c, __m256i d, void* first) {
    // Lanes j and j + 4 of each, side by side in row j.
    const __m256i ab0 = _mm256_unpacklo_epi32(a, b), ab1 = _mm256_unpackhi_epi32(a, b);
    const __m256i cd0 = _mm256_unpacklo_epi32(c, d), cd1 = _mm256_unpackhi_epi32(c, d);
    const __m256i row[4] = {_mm256_unpacklo_epi64(ab0, cd0), _mm256_unpackhi_epi64(ab0, cd0),
                            _mm256_unpacklo_epi64(ab1, cd1), _mm256_unpackhi_epi64(ab1, cd1)};
    auto* bytes = static_cast<char*>(first);
    for (int j = 0; j < 4; ++j) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + sizeof(BatchTriangle) * j),
                         _mm256_castsi256_si128(row[j]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + sizeof(BatchTriangle) * (j + 4)),
                         _mm256_extracti128_si256(row[j], 1));
    }
}

// The low 16 bits of each lane of low, then those of high, as one lane.
WIDE inline __m256i halves(__m256i low, __m256i high) {
    return _mm256_blend_epi16(low, _mm256_slli_epi32(high, 16), 0xAA);
}

// Lane by lane, b where the sign bit of sign is set, else a: one instruction, where a select
// on a mask of bytes takes two more to make that mask.
WIDE inline __m256i bySign(__m256i sign, __m256i a, __m256i b) {
    return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b),
                                                _mm256_castsi256_ps(sign)));
}

// Lanes 0..3 (half 0) or 4..7 (half 1) as doubles.
WIDE inline __m256d halfToDouble(__m256i v, int half) {
    return _mm256_cvtepi32_pd(half == 0 ? _mm256_castsi256_si128(v)
                                        : _mm256_extracti128_si256(v, 1));
}

// The same for lanes that hold the bits of floats.
WIDE inline __m256d floatHalfToDouble(__m256i v, int half) {
    const __m256 f = _mm256_castsi256_ps(v);
    return _mm256_cvtps_pd(half == 0 ? _mm256_castps256_ps128(f) : _mm256_extractf128_ps(f, 1));
}

// One edge of eight triangles, as coverageNear has it, stepped from centre to centre: across
// a row, and from the last centre of a row to the first of the next.
struct WideEdge {
    __m256i value, perColumn, perWrap;
};

WIDE inline WideEdge wideEdge(__m256i xa, __m256i ya, __m256i xb, __m256i yb, __m256i columns) {
    const __m256i dx = _mm256_sub_epi32(xb, xa);
    const __m256i dy = _mm256_sub_epi32(yb, ya);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i topLeft = _mm256_or_si256(
        _mm256_cmpgt_epi32(zero, dy),
        _mm256_and_si256(_mm256_cmpeq_epi32(dy, zero), _mm256_cmpgt_epi32(dx, zero)));
    const __m256i bias = _mm256_add_epi32(topLeft, _mm256_set1_epi32(1));
    WideEdge e;
    // E at the first centre: dx·(0 − ya) − dy·(0 − xa) − bias.
    e.value = _mm256_sub_epi32(
        _mm256_sub_epi32(_mm256_mullo_epi32(dy, xa), _mm256_mullo_epi32(dx, ya)), bias);
    // SUBPIXEL·(dx·row − dy·column) from centre to centre.
    e.perColumn = _mm256_sub_epi32(zero, _mm256_slli_epi32(dy, SUBPIXEL_BITS));
    e.perWrap = _mm256_slli_epi32(
        _mm256_add_epi32(dx,
                         _mm256_mullo_epi32(dy, _mm256_sub_epi32(columns, _mm256_set1_epi32(1)))),
        SUBPIXEL_BITS);
    return e;
}

// Solves the planes of eight triangles, lane by lane, with the very operations of
// solvePlanesWide on the same doubles: the same floats, but for the sign of zero slopes of a
// value +0 at every corner, which solvePlanesWide sets to +0 without working them out where
// four such values come together; the sign is read nowhere (the value is +0 at every pixel,
// and no tap lies halfway with a zero slope). Triangle j has the snapped corners
// (x0, y0), (x1, y1), (x2, y2) in lane j; its corners are vertices k + j, k + j + 1 and
// k + j + 2 of the draw, the last two swapped where oddLanes is set and again where swap is.
// rows[p] holds value p of every vertex (depth, 1/w, then the attributes); planes first..
// count-1 are solved, as a plane group (see BatchTriangle::planes) at out.
WIDE void solveLanePlanes(const float* const* rows, int first, int count, __m256i x0, __m256i x1,
                          __m256i x2, __m256i y0, __m256i y1, __m256i y2, __m256i oddLanes,
                          __m256i swap, UINT k, float* out) {
    // The frame of planeFrame, four lanes at a time: the corners from corner 0, in pixels
    // (times 1/256, as exact as the division), and 1 / the determinant.
    const __m256d toPixels = _mm256_set1_pd(1.0 / double(SUBPIXEL));
    const __m256i ex1 = _mm256_sub_epi32(x1, x0), ey1 = _mm256_sub_epi32(y1, y0);
    const __m256i ex2 = _mm256_sub_epi32(x2, x0), ey2 = _mm256_sub_epi32(y2, y0);
    __m256d fx1[2], fy1[2], fx2[2], fy2[2], invDet[2];
    for (int half = 0; half < 2; ++half) {
        fx1[half] = _mm256_mul_pd(halfToDouble(ex1, half), toPixels);
        fy1[half] = _mm256_mul_pd(halfToDouble(ey1, half), toPixels);
        fx2[half] = _mm256_mul_pd(halfToDouble(ex2, half), toPixels);
        fy2[half] = _mm256_mul_pd(halfToDouble(ey2, half), toPixels);
        invDet[half] =
            _mm256_div_pd(_mm256_set1_pd(1.0), _mm256_sub_pd(_mm256_mul_pd(fx1[half], fy2[half]),
                                                             _mm256_mul_pd(fx2[half], fy1[half])));
    }
    __m256i zeroAttributes = _mm256_setzero_si256();
    for (int p = first; p < count; ++p) {
        const __m256i f0 = loadLanes(rows[p], k);
        const __m256i fb = loadLanes(rows[p], k + 1), fc = loadLanes(rows[p], k + 2);
        __m256i f1 = bySign(oddLanes, fb, fc);
        __m256i f2 = bySign(oddLanes, fc, fb);
        const __m256i s1 = f1;
        f1 = bySign(swap, f1, f2);
        f2 = bySign(swap, f2, s1);
        if (p >= 2) {
            const __m256i zeros = _mm256_cmpeq_epi32(_mm256_or_si256(_mm256_or_si256(f0, f1), f2),
                                                     _mm256_setzero_si256());
            zeroAttributes = _mm256_or_si256(
                zeroAttributes, _mm256_and_si256(zeros, _mm256_set1_epi32(1 << (p - 2))));
        }
        float* plane = out + 8 * (1 + 3 * (p - first));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(plane + 16), f0);
        for (int half = 0; half < 2; ++half) {
            const __m256d p0 = floatHalfToDouble(f0, half);
            const __m256d d1 = _mm256_sub_pd(floatHalfToDouble(f1, half), p0);
            const __m256d d2 = _mm256_sub_pd(floatHalfToDouble(f2, half), p0);
            const __m256d a = _mm256_mul_pd(
                _mm256_sub_pd(_mm256_mul_pd(d1, fy2[half]), _mm256_mul_pd(d2, fy1[half])),
                invDet[half]);
            const __m256d b = _mm256_mul_pd(
                _mm256_sub_pd(_mm256_mul_pd(d2, fx1[half]), _mm256_mul_pd(d1, fx2[half])),
                invDet[half]);
            _mm_storeu_ps(plane + 4 * half, _mm256_cvtpd_ps(a));
            _mm_storeu_ps(plane + 8 + 4 * half, _mm256_cvtpd_ps(b));
        }
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), zeroAttributes);
}

} // namespace

// Triangle j of the strip is (j, j + 1, j + 2), its last two swapped where j is odd; eight of
// them go through the steps of emitTriangle lane by lane, with the same integers: the signed
// area (exact in doubles, as the snapped positions stay within ±2^22), culling, the winding,
// the bounds and the pixel centres within them, and, where there are few, which are covered,
// as coverageNear finds them. Lanes whose corners lie too far for that take coverageWide.
// The eight triangles' planes are solved together, into a plane group; those kept are then
// stored and binned one by one, in order, each with its lane of the group.
WIDE void Batch::emitStripWide(const GeometryTarget& t, const StripVertices& vertices, UINT count) {
    const __m256i oddLanes = _mm256_setr_epi32(0, -1, 0, -1, 0, -1, 0, -1);
    const __m256i clipX0 = _mm256_set1_epi32(t.clipX0), clipY0 = _mm256_set1_epi32(t.clipY0);
    const __m256i clipX1 = _mm256_set1_epi32(t.clipX1 - 1);
    const __m256i clipY1 = _mm256_set1_epi32(t.clipY1 - 1);
    const __m256i roundUp = _mm256_set1_epi32(SUBPIXEL_ONE - 1);
    const __m256i one = _mm256_set1_epi32(1);
    // The planes solved: depth only where the draw reads it.
    const int firstPlane = draws[currentDraw_].depthRead ? 0 : 1;
    const int planeCount = 2 + storedAttributes_;
    const std::size_t groupFloats = 8 * (1 + 3 * static_cast<std::size_t>(planeCount - firstPlane));
    const float* const* rows = vertices.rows;
    for (UINT k = 0; k < count; k += 8) { // k even: the odd lanes are the odd triangles
        const __m256i xa = loadLanes(vertices.x, k), xb = loadLanes(vertices.x, k + 1),
                      xc = loadLanes(vertices.x, k + 2);
        const __m256i ya = loadLanes(vertices.y, k), yb = loadLanes(vertices.y, k + 1),
                      yc = loadLanes(vertices.y, k + 2);
        __m256i x1 = bySign(oddLanes, xb, xc), x2 = bySign(oddLanes, xc, xb);
        __m256i y1 = bySign(oddLanes, yb, yc), y2 = bySign(oddLanes, yc, yb);
        const __m256i x0 = xa, y0 = ya;

        // Twice the signed area, four lanes at a time.
        const __m256i ex1 = _mm256_sub_epi32(x1, x0), ey1 = _mm256_sub_epi32(y1, y0);
        const __m256i ex2 = _mm256_sub_epi32(x2, x0), ey2 = _mm256_sub_epi32(y2, y0);
        unsigned positive = 0, negative = 0;
        for (int half = 0; half < 2; ++half) {
            const __m256d area =
                _mm256_sub_pd(_mm256_mul_pd(halfToDouble(ex1, half), halfToDouble(ey2, half)),
                              _mm256_mul_pd(halfToDouble(ex2, half), halfToDouble(ey1, half)));
            const __m256d zero = _mm256_setzero_pd();
            positive |=
                static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(area, zero, _CMP_GT_OQ)))
                << (4 * half);
            negative |=
                static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(area, zero, _CMP_LT_OQ)))
                << (4 * half);
        }
        // Past the last triangle, the lanes read what lies beyond the draw's vertices.
        unsigned keep = (positive | negative) & (count - k >= 8 ? 0xFFu : (1u << (count - k)) - 1u);
        if (t.cull == D3DCULL_CW) {
            keep &= ~positive;
        } else if (t.cull == D3DCULL_CCW) {
            keep &= ~negative;
        }
        if (keep == 0) {
            continue;
        }
        // Keep vertex 0 as the reference of the planes; only the winding changes.
        const __m256i swap = laneMask(negative);
        const __m256i sx = x1, sy = y1;
        x1 = bySign(swap, x1, x2), x2 = bySign(swap, x2, sx);
        y1 = bySign(swap, y1, y2), y2 = bySign(swap, y2, sy);

        const __m256i minX = _mm256_min_epi32(x0, _mm256_min_epi32(x1, x2));
        const __m256i maxX = _mm256_max_epi32(x0, _mm256_max_epi32(x1, x2));
        const __m256i minY = _mm256_min_epi32(y0, _mm256_min_epi32(y1, y2));
        const __m256i maxY = _mm256_max_epi32(y0, _mm256_max_epi32(y1, y2));
        const __m256i colMin = _mm256_max_epi32(
            _mm256_srai_epi32(_mm256_add_epi32(minX, roundUp), SUBPIXEL_BITS), clipX0);
        const __m256i colMax = _mm256_min_epi32(_mm256_srai_epi32(maxX, SUBPIXEL_BITS), clipX1);
        const __m256i rowMin = _mm256_max_epi32(
            _mm256_srai_epi32(_mm256_add_epi32(minY, roundUp), SUBPIXEL_BITS), clipY0);
        const __m256i rowMax = _mm256_min_epi32(_mm256_srai_epi32(maxY, SUBPIXEL_BITS), clipY1);
        keep &= ~laneBits(_mm256_or_si256(_mm256_cmpgt_epi32(colMin, colMax),
                                          _mm256_cmpgt_epi32(rowMin, rowMax)));
        if (keep == 0) {
            continue;
        }
        const __m256i columns = _mm256_add_epi32(_mm256_sub_epi32(colMax, colMin), one);
        const __m256i centres =
            _mm256_mullo_epi32(columns, _mm256_add_epi32(_mm256_sub_epi32(rowMax, rowMin), one));
        // Lanes whose centres coverageWide tests one by one where they lie too far for 32
        // bits, and those whose coverage is worked out here where they lie near enough.
        const unsigned few =
            keep & laneBits(_mm256_cmpgt_epi32(_mm256_set1_epi32(FEW_CENTRES + 1), centres));
        const unsigned many =
            keep & laneBits(_mm256_cmpgt_epi32(_mm256_set1_epi32(COVERAGE_BITS + 1), centres));

        // The corners from the first centre, where they are near enough for 32 bits.
        const __m256i originX = _mm256_slli_epi32(colMin, SUBPIXEL_BITS);
        const __m256i originY = _mm256_slli_epi32(rowMin, SUBPIXEL_BITS);
        const __m256i cx0 = _mm256_sub_epi32(x0, originX), cy0 = _mm256_sub_epi32(y0, originY);
        const __m256i cx1 = _mm256_sub_epi32(x1, originX), cy1 = _mm256_sub_epi32(y1, originY);
        const __m256i cx2 = _mm256_sub_epi32(x2, originX), cy2 = _mm256_sub_epi32(y2, originY);
        const __m256i reach = _mm256_max_epi32(
            _mm256_max_epi32(_mm256_max_epi32(_mm256_abs_epi32(cx0), _mm256_abs_epi32(cy0)),
                             _mm256_max_epi32(_mm256_abs_epi32(cx1), _mm256_abs_epi32(cy1))),
            _mm256_max_epi32(_mm256_abs_epi32(cx2), _mm256_abs_epi32(cy2)));
        const unsigned near =
            many & ~laneBits(_mm256_cmpgt_epi32(reach, _mm256_set1_epi32((1 << 14) - 1)));
        // Each lane's coverage as two 32-bit halves: centres 0 to 31, then 32 to 63.
        alignas(32) std::uint32_t cover[2][8] = {};
        if (near != 0) {
            WideEdge e[3] = {wideEdge(cx0, cy0, cx1, cy1, columns),
                             wideEdge(cx1, cy1, cx2, cy2, columns),
                             wideEdge(cx2, cy2, cx0, cy0, columns)};
            const __m256i last = _mm256_sub_epi32(columns, one);
            __m256i column = _mm256_setzero_si256();
            const __m256i active = _mm256_and_si256(laneMask(near), centres);
            // The most centres of a lane: the largest of the eight, found across the lanes.
            __m256i most = _mm256_max_epi32(active, _mm256_permute2x128_si256(active, active, 1));
            most = _mm256_max_epi32(most, _mm256_shuffle_epi32(most, _MM_SHUFFLE(1, 0, 3, 2)));
            most = _mm256_max_epi32(most, _mm256_shuffle_epi32(most, _MM_SHUFFLE(2, 3, 0, 1)));
            const int steps = _mm256_cvtsi256_si32(most);
            // Tests centres from..to-1, centre from + i into bit i of covered.
            auto test = [&](int from, int to) WIDE {
                __m256i covered = _mm256_setzero_si256();
                __m256i bit = one;
                for (int i = from; i < to; ++i) {
                    const __m256i outside =
                        _mm256_or_si256(_mm256_or_si256(e[0].value, e[1].value), e[2].value);
                    covered = bySign(outside, _mm256_or_si256(covered, bit), covered);
                    bit = _mm256_add_epi32(bit, bit);
                    const __m256i wrap = _mm256_cmpeq_epi32(column, last);
                    for (WideEdge& edge : e) {
                        edge.value = _mm256_add_epi32(edge.value,
                                                      bySign(wrap, edge.perColumn, edge.perWrap));
                    }
                    column = _mm256_andnot_si256(wrap, _mm256_add_epi32(column, one));
                }
                return covered;
            };
            // A lane steps on past its own centres for the others' sake: those bits go. The
            // shifts by 32 or more give 0, so the masks are whole where a half is.
            const __m256i low =
                _mm256_and_si256(test(0, std::min(steps, 32)),
                                 _mm256_sub_epi32(_mm256_sllv_epi32(one, active), one));
            _mm256_store_si256(reinterpret_cast<__m256i*>(cover[0]), low);
            __m256i any = low;
            if (steps > 32) {
                const __m256i beyond = _mm256_max_epi32(
                    _mm256_sub_epi32(active, _mm256_set1_epi32(32)), _mm256_setzero_si256());
                const __m256i high = _mm256_and_si256(
                    test(32, steps), _mm256_sub_epi32(_mm256_sllv_epi32(one, beyond), one));
                _mm256_store_si256(reinterpret_cast<__m256i*>(cover[1]), high);
                any = _mm256_or_si256(any, high);
            }
            // Those that cover no centre go here, rather than one by one below, where whether
            // they do is a branch no processor predicts.
            keep &= ~(near & laneBits(_mm256_cmpeq_epi32(any, _mm256_setzero_si256())));
            if (keep == 0) {
                continue;
            }
        }

        const auto group = static_cast<std::uint32_t>(planes_.size());
        float* const planeGroup = planes_.append(groupFloats);
        for (int line = 0; claimAhead() && line < PLANE_GROUP_LINES; ++line) {
            claimLine(reinterpret_cast<std::uintptr_t>(planeGroup) + PLANES_AHEAD + 64 * line);
        }
        solveLanePlanes(rows, firstPlane, planeCount, x0, x1, x2, y0, y1, y2, oddLanes, swap, k,
                        planeGroup);
        // The eight triangles as they are stored, three rows of sixteen bytes: corners, the
        // planes' lane and the draw, then bounds and coverage.
        const __m256i parts[3][4] = {
            {x0, x1, x2, y0},
            {y1, y2,
             _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(group)),
                              _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)),
             _mm256_set1_epi32(static_cast<int>(currentDraw_))},
            {halves(colMin, colMax), halves(rowMin, rowMax),
             _mm256_load_si256(reinterpret_cast<const __m256i*>(cover[0])),
             _mm256_load_si256(reinterpret_cast<const __m256i*>(cover[1]))}};
        const auto index = static_cast<std::uint32_t>(triangles.size());
        BatchTriangle* stored = nullptr;
        int kept = 0;
        if (const unsigned far = keep & few & ~near; far == 0) {
            // Those kept are packed to the front of the eight lanes and stored at once; the
            // lanes after them are written too, into room the buffer then gives back.
            kept = std::popcount(keep);
            stored = triangles.append(8);
            triangles.shrink(index + static_cast<std::size_t>(kept));
            const __m256i order = _mm256_cvtepu8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(PACK_ORDERS.lane[keep])));
            for (int r = 0; r < 3; ++r) {
                storeTransposed(_mm256_permutevar8x32_epi32(parts[r][0], order),
                                _mm256_permutevar8x32_epi32(parts[r][1], order),
                                _mm256_permutevar8x32_epi32(parts[r][2], order),
                                _mm256_permutevar8x32_epi32(parts[r][3], order),
                                reinterpret_cast<char*>(stored) + 16 * r);
            }
        } else {
            // Lanes of few centres that lie too far for the wide test have their coverage
            // worked out one by one, and are dropped where they cover none; then each kept
            // one is copied whole.
            alignas(32) BatchTriangle made[8];
            for (int r = 0; r < 3; ++r) {
                storeTransposed(parts[r][0], parts[r][1], parts[r][2], parts[r][3],
                                reinterpret_cast<char*>(made) + 16 * r);
            }
            for (unsigned rest = far; rest != 0; rest &= rest - 1) {
                BatchTriangle& tri = made[std::countr_zero(rest)];
                const int columns = tri.colMax - tri.colMin + 1;
                tri.cover = coverageWide(tri.x, tri.y, tri.colMin, columns, tri.rowMin,
                                         columns * (tri.rowMax - tri.rowMin + 1));
                if (tri.cover == 0) {
                    keep &= ~(1u << std::countr_zero(rest));
                }
            }
            if (keep == 0) {
                planes_.shrink(group);
                continue;
            }
            kept = std::popcount(keep);
            stored = triangles.append(static_cast<std::size_t>(kept));
            BatchTriangle* next = stored;
            for (unsigned rest = keep; rest != 0; rest &= rest - 1) {
                std::memcpy(next++, &made[std::countr_zero(rest)], sizeof(BatchTriangle));
            }
        }
        if (claimAhead()) {
            const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(stored) + TRIANGLES_AHEAD;
            for (std::uintptr_t line = from & ~std::uintptr_t{63};
                 line < from + sizeof(BatchTriangle) * static_cast<std::size_t>(kept); line += 64) {
                claimLine(line);
            }
        }
        // Mostly every triangle of the group lies in the strip of the first: their entries,
        // one after another, go there at once. Otherwise each goes where its rows lie.
        const __m128i shift = _mm_cvtsi32_si128(stripShift_);
        const __m256i firstStrip = _mm256_srl_epi32(rowMin, shift);
        const __m256i lastStrip =
            _mm256_min_epi32(_mm256_srl_epi32(rowMax, shift), _mm256_set1_epi32(strips_ - 1));
        const int strip = stored[0].rowMin >> stripShift_;
        const __m256i here = _mm256_set1_epi32(strip);
        if ((keep & ~laneBits(_mm256_and_si256(_mm256_cmpeq_epi32(firstStrip, here),
                                               _mm256_cmpeq_epi32(lastStrip, here)))) == 0) {
            PodBuffer<std::uint32_t>& bin = bins_[static_cast<std::size_t>(strip)];
            std::uint32_t* const entries = bin.append(8);
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(entries),
                _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(BIN_TRIANGLE | index)),
                                 _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
            bin.shrink(bin.size() - 8 + static_cast<std::size_t>(kept));
            continue;
        }
        for (int i = 0; i < kept; ++i) {
            const BatchTriangle& tri = stored[i];
            binTriangle(index + static_cast<std::uint32_t>(i), tri.colMin, tri.colMax, tri.rowMin,
                        tri.rowMax, tri.cover);
        }
    }
}
#endif

void Batch::addPrimitives(std::uint32_t draw, const GeometryTarget& t, D3DPRIMITIVETYPE type,
                          const VertexOutput* vertices, UINT vertexCount, UINT primitiveCount) {
    currentDraw_ = draw;
    storedAttributes_ = draws[draw].storedAttributes;
    attributes_ = draws[draw].state.attributes;
    if (type == D3DPT_POINTLIST) {
        for (UINT i = 0; i < primitiveCount; ++i) {
            addPoint(t, vertices[i]);
        }
        return;
    }
    // Room for emitStripWide's last lanes to read past the last vertex.
    constexpr UINT LANE_SLACK = 8;
    projected_.assign(vertexCount + LANE_SLACK, UINT32_MAX);
    // The reference path keeps the one-by-one loops, so the two are compared.
    const bool wide = TESSIVANE_WIDE && draws[draw].program.wide && !draws[draw].reference;
    // The vertices of a strip drawn wide go to the lanes, whose triangles solve their planes
    // at set-up, eight at a time; they reach the pool only if the strip is clipped after all.
    const bool toLanes = wide && type == D3DPT_TRIANGLESTRIP && !t.preTransformed;
    bool everyVertexInside = false;
    if (!t.preTransformed) {
        // Every vertex inside all planes is drawn by the triangles that use it as it is, so
        // it is projected and snapped once here rather than by each of them.
        codes_.resize(vertexCount);
        snappedX_.resize(vertexCount + LANE_SLACK);
        snappedY_.resize(vertexCount + LANE_SLACK);
        if (toLanes) {
            laneStride_ = vertexCount + LANE_SLACK;
            lanes_.resize((4 + static_cast<std::size_t>(storedAttributes_)) * laneStride_);
        }
        UINT i = 0;
#if TESSIVANE_WIDE
        if (wide) {
            i = prepareVerticesWide(t, vertices, vertexCount, toLanes);
        }
#endif
        for (; i < vertexCount; ++i) {
            codes_[i] = static_cast<std::uint8_t>(clipCode(vertices[i].position));
            if (codes_[i] == 0) {
                if (toLanes) {
                    projectToLanes(t, vertices[i], i);
                    continue;
                }
                const std::uint32_t o = project(t, vertices[i], true);
                projected_[i] = o;
                snappedX_[i] = snap(pool_[o]);
                snappedY_[i] = snap(pool_[o + 1]);
            }
        }
        everyVertexInside =
            std::all_of(codes_.begin(), codes_.end(), [](std::uint8_t c) { return c == 0; });
    }
#if TESSIVANE_WIDE
    if (toLanes && everyVertexInside) {
        // The lanes' rows from Z on: X and Y are there for lanesToPool alone.
        emitStripWide(t,
                      StripVertices(snappedX_.data(), snappedY_.data(),
                                    lanes_.data() + 2 * laneStride_, laneStride_,
                                    2 + storedAttributes_),
                      primitiveCount);
        return;
    }
#endif
    if (toLanes) {
        lanesToPool(vertexCount);
    }
    for (UINT k = 0; k < primitiveCount; ++k) {
        UINT index[3];
        switch (type) {
        case D3DPT_TRIANGLESTRIP:
            // Odd triangles swap their last two vertices so that all keep one winding.
            index[0] = k;
            index[1] = (k & 1) ? k + 2 : k + 1;
            index[2] = (k & 1) ? k + 1 : k + 2;
            break;
        case D3DPT_TRIANGLEFAN:
            index[0] = 0;
            index[1] = k + 1;
            index[2] = k + 2;
            break;
        default:
            index[0] = 3 * k;
            index[1] = 3 * k + 1;
            index[2] = 3 * k + 2;
            break;
        }
        if (everyVertexInside) {
            // What addTriangle does with vertices inside every plane, without asking.
            emitPrepared(t, index);
            continue;
        }
        const VertexOutput* v[3] = {&vertices[index[0]], &vertices[index[1]], &vertices[index[2]]};
        addTriangle(t, v, index);
    }
}

} // namespace tessivane::platform::soft
