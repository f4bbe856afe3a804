// Drawing a batch's strips: triangle set-up (edges and attribute planes) and coverage, then
// the pixel stage on the covered pixels.
#include "platform/soft/raster.h"

#include "platform/soft/halfway_samples.h"
#include "platform/wide.h"

#include <algorithm>
#include <bit>
#include <type_traits>

namespace tessivane::platform::soft {

namespace {

// The columns of a triangle's rows that lie inside one of its edges, row after row from the
// first. On a row, the edge function is c at column 0 and falls by step from each column to
// the next, so the row is inside from column ceil(c / step) on where step < 0, and up to
// column floor(c / step) where step > 0. The rows are stepped without a division: the
// quotient and remainder of c / |step| move on by those of the change of c from row to row.
class EdgeRows {
public:
    EdgeRows(const Edge& e, std::int64_t py)
        : c_(e.dx * (py * SUBPIXEL - e.y0) + e.dy * e.x0 - e.bias), perRow_(e.dx * SUBPIXEL) {
        const std::int64_t step = e.dy * SUBPIXEL;
        sign_ = (step > 0) - (step < 0);
        if (sign_ != 0) {
            divisor_ = step * sign_;
            quotient_ = floorDiv(c_, divisor_);
            remainder_ = c_ - quotient_ * divisor_;
            quotientPerRow_ = floorDiv(perRow_, divisor_);
            remainderPerRow_ = perRow_ - quotientPerRow_ * divisor_;
        }
    }

    // Narrows [x0, x1] (pixel columns) to where the row lies on the inner side of the edge.
    void clamp(std::int64_t& x0, std::int64_t& x1) const {
        if (sign_ < 0) {
            x0 = std::max(x0, -quotient_); // ceil(c / step): step < 0
        } else if (sign_ > 0) {
            x1 = std::min(x1, quotient_); // floor(c / step)
        } else if (c_ < 0) {
            x1 = x0 - 1;
        }
    }

    // On to the next row. Whether the remainder carries follows no pattern a processor
    // predicts, so it is added rather than branched on.
    void next() {
        c_ += perRow_;
        remainder_ += remainderPerRow_;
        const bool carry = remainder_ >= divisor_;
        remainder_ -= carry ? divisor_ : 0;
        quotient_ += quotientPerRow_ + carry;
    }

private:
    std::int64_t c_, perRow_;
    int sign_ = 0;
    // floor(c / divisor) and what is left, 0 <= remainder < divisor; the same of perRow.
    std::int64_t divisor_ = 1, quotient_ = 0, remainder_ = 0;
    std::int64_t quotientPerRow_ = 0, remainderPerRow_ = 0;
};

// The plane through three values at the snapped vertices; invDet = 1 / (x1·y2 − x2·y1).
Plane solvePlane(double x1, double y1, double x2, double y2, double invDet, float v0, float v1,
                 float v2) {
    const double d1 = double(v1) - v0;
    const double d2 = double(v2) - v0;
    Plane p;
    p.a = static_cast<float>((d1 * y2 - d2 * y1) * invDet);
    p.b = static_cast<float>((d2 * x1 - d1 * x2) * invDet);
    p.c = v0;
    return p;
}

// Vertices 1 and 2 relative to vertex 0, in pixels, and 1 / the determinant they make.
struct PlaneFrame {
    double x1, y1, x2, y2, invDet;
};

// A snapped coordinate in pixels: the float nearest snapped / SUBPIXEL. Scaling by a power of
// two commutes with rounding, so rounding first and scaling after gives that same float.
inline float inPixels(std::int32_t snapped) {
    return static_cast<float>(snapped) * (1.0f / SUBPIXEL_ONE);
}

// Vertex 0 as the reference point of a triangle's planes.
inline void planeReference(const BatchTriangle& tri, PrimitivePlanes& planes) {
    planes.refX = inPixels(tri.x[0]);
    planes.refY = inPixels(tri.y[0]);
    planes.perspective = true;
}

// Sets up a triangle's planes to be solved.
inline PlaneFrame planeFrame(const BatchTriangle& tri, PrimitivePlanes& planes) {
    PlaneFrame f;
    f.x1 = double(tri.x[1] - tri.x[0]) / SUBPIXEL;
    f.y1 = double(tri.y[1] - tri.y[0]) / SUBPIXEL;
    f.x2 = double(tri.x[2] - tri.x[0]) / SUBPIXEL;
    f.y2 = double(tri.y[2] - tri.y[0]) / SUBPIXEL;
    f.invDet = 1.0 / (f.x1 * f.y2 - f.x2 * f.y1);
    planeReference(tri, planes);
    return f;
}

// The planes of a triangle's depth, 1/w and attributes, solved at its snapped vertices.
void solvePlanes(const BatchTriangle& tri, const float* v0, const float* v1, const float* v2,
                 int attributeCount, PrimitivePlanes& planes) {
    const auto [x1, y1, x2, y2, invDet] = planeFrame(tri, planes);
    planes.z = solvePlane(x1, y1, x2, y2, invDet, v0[2], v1[2], v2[2]);
    planes.invW = solvePlane(x1, y1, x2, y2, invDet, v0[3], v1[3], v2[3]);
    for (int k = 0; k < attributeCount; ++k) {
        planes.attribute[k] = solvePlane(x1, y1, x2, y2, invDet, v0[4 + k], v1[4 + k], v2[4 + k]);
    }
}

#if TESSIVANE_WIDE
// The same, four planes at a time in 256-bit vectors of doubles: each plane goes through the
// very operations of solvePlane, so the floats are the same.
WIDE void solvePlanesWide(const BatchTriangle& tri, const float* v0, const float* v1,
                          const float* v2, int attributeCount, PrimitivePlanes& planes) {
    const auto [x1, y1, x2, y2, invDet] = planeFrame(tri, planes);
    // Depth, 1/w and the attributes follow one another in a vertex from its third float;
    // loads past the last are masked off.
    const int count = 2 + attributeCount;
    const __m256d vx1 = _mm256_set1_pd(x1), vy1 = _mm256_set1_pd(y1);
    const __m256d vx2 = _mm256_set1_pd(x2), vy2 = _mm256_set1_pd(y2);
    const __m256d vInvDet = _mm256_set1_pd(invDet);
    const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
    unsigned zeroPlanes = 0;
    int k = 0;
    do { // count >= 2
        const __m128i mask = _mm_cmplt_epi32(lanes, _mm_set1_epi32(count - k));
        const int n = std::min(4, count - k);
        const __m128 f0 = _mm_maskload_ps(v0 + 2 + k, mask);
        const __m128 f1 = _mm_maskload_ps(v1 + 2 + k, mask);
        const __m128 f2 = _mm_maskload_ps(v2 + 2 + k, mask);
        const __m128i any = _mm_castps_si128(_mm_or_ps(_mm_or_ps(f0, f1), f2));
        // Each group's planes are written from its own stores: a later read spanning two of
        // them would wait for both.
        alignas(16) float a[4], b[4];
        const unsigned zeroLanes = static_cast<unsigned>(
            _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(any, _mm_setzero_si128()))));
        zeroPlanes |= (zeroLanes & ((1u << n) - 1u)) << k;
        if (zeroLanes == 0xF) {
            // +0 at every vertex (attributes the program never writes): the planes solve to
            // zero slopes, whose signs do not matter, as c = +0 makes every value +0.
            _mm_store_ps(a, _mm_setzero_ps());
            _mm_store_ps(b, _mm_setzero_ps());
        } else {
            const __m256d p0 = _mm256_cvtps_pd(f0);
            const __m256d d1 = _mm256_sub_pd(_mm256_cvtps_pd(f1), p0);
            const __m256d d2 = _mm256_sub_pd(_mm256_cvtps_pd(f2), p0);
            const __m256d pa = _mm256_mul_pd(
                _mm256_sub_pd(_mm256_mul_pd(d1, vy2), _mm256_mul_pd(d2, vy1)), vInvDet);
            const __m256d pb = _mm256_mul_pd(
                _mm256_sub_pd(_mm256_mul_pd(d2, vx1), _mm256_mul_pd(d1, vx2)), vInvDet);
            _mm_store_ps(a, _mm256_cvtpd_ps(pa));
            _mm_store_ps(b, _mm256_cvtpd_ps(pb));
        }
        for (int j = 0; j < n; ++j) {
            const int plane = k + j;
            Plane& target = plane == 0   ? planes.z
                            : plane == 1 ? planes.invW
                                         : planes.attribute[plane - 2];
            target = Plane{a[j], b[j], v0[2 + plane]};
        }
        k += 4;
    } while (k < count);
    planes.zeroAttributes = zeroPlanes >> 2;
}
#else
void solvePlanesWide(const BatchTriangle& tri, const float* v0, const float* v1, const float* v2,
                     int attributeCount, PrimitivePlanes& planes) {
    solvePlanes(tri, v0, v1, v2, attributeCount, planes);
}
#endif

// The planes of a triangle of draw d solved at set-up, from its lane of their plane group.
// A depth plane the draw does not read is +0.
inline void takeSolvedPlanes(const BatchTriangle& tri, const DrawRecord& d, const float* lane,
                             PrimitivePlanes& planes) {
    planeReference(tri, planes);
    planes.zeroAttributes = std::bit_cast<std::uint32_t>(lane[0]);
    const float* value = lane + 8;
    auto next = [&value] {
        const Plane p{value[0], value[8], value[16]};
        value += 24;
        return p;
    };
    planes.z = d.depthRead ? next() : Plane{0.0f, 0.0f, 0.0f};
    planes.invW = next();
    for (int k = 0; k < d.storedAttributes; ++k) {
        planes.attribute[k] = next();
    }
}

// Marks the draw's attributes that no vertex stores as +0 at every corner, and where their
// planes are read, sets those to +0. Gathered pixels do not read them: every triangle of a
// gathering has them marked.
void clearUnstored(const DrawRecord& d, PrimitivePlanes& planes, bool planesRead) {
    planes.zeroAttributes |=
        ((1u << d.state.attributeCount) - 1u) & ~((1u << d.storedAttributes) - 1u);
    for (int k = d.storedAttributes; planesRead && k < d.state.attributeCount; ++k) {
        planes.attribute[k] = Plane{0.0f, 0.0f, 0.0f};
    }
}

// Triangles at most this many pixels wide find their spans by stepping the edge functions
// across the bounding box, cheaper than the divisions that wider ones use. Their pixels are
// gathered across triangles rather than shaded triangle by triangle.
constexpr int NARROW = 16;

// The covered columns of one row.
struct RowSpan {
    int y, first, last;
};

// The spans of rows y0..y1 (at most a strip's) of a triangle whose bounding box is `width`
// (at most NARROW) columns from colMin: the edge functions stepped from column to column.
// Writes the rows that have covered pixels, in order, and returns how many. A triangle's
// span in a row is contiguous: its first and last covered columns.
int narrowSpans(const Edge edges[3], int colMin, int width, int y0, int y1, RowSpan* spans) {
    std::int64_t value[3], perRow[3], perColumn[3];
    for (int i = 0; i < 3; ++i) {
        const Edge& e = edges[i];
        value[i] = edgeValue(e, colMin, y0);
        perRow[i] = e.dx * SUBPIXEL;
        perColumn[i] = -e.dy * SUBPIXEL;
    }
    int rows = 0;
    for (int y = y0; y <= y1; ++y) {
        std::int64_t e0 = value[0], e1 = value[1], e2 = value[2];
        int first = width, last = -1;
        for (int x = 0; x < width; ++x) {
            if ((e0 | e1 | e2) >= 0) {
                first = std::min(first, x);
                last = x;
            }
            e0 += perColumn[0];
            e1 += perColumn[1];
            e2 += perColumn[2];
        }
        for (int i = 0; i < 3; ++i) {
            value[i] += perRow[i];
        }
        if (first <= last) {
            spans[rows++] = RowSpan{y, colMin + first, colMin + last};
        }
    }
    return rows;
}

#if TESSIVANE_WIDE
// Adds, and fills a vector with, integers of LANES to a vector: 4 of 64 bits, or 8 of 32.
template <int LANES>
WIDE inline __m256i addLanes(__m256i a, __m256i b) {
    return LANES == 4 ? _mm256_add_epi64(a, b) : _mm256_add_epi32(a, b);
}

template <int LANES>
WIDE inline __m256i splatLanes(std::int64_t v) {
    return LANES == 4 ? _mm256_set1_epi64x(v) : _mm256_set1_epi32(static_cast<std::int32_t>(v));
}

// Steps the edge functions of a triangle whose bounding box is `width` (at most NARROW) columns
// from colMin over rows y0..y1, LANES columns of a row per 256-bit vector: four as 64-bit
// integers, or eight as 32-bit ones where the values fit (see fitsIn32). A column is covered
// where no edge function is negative, that is where the sign bit of their OR is clear. Calls
// row(r, inside) for row y0 + r with its covered columns as bits from colMin up.
template <int LANES, int GROUPS, class Row>
[[gnu::always_inline]] WIDE inline void wideRows(const Edge edges[3], int colMin, int width, int y0,
                                                 int y1, Row row) {
    static_assert(LANES == 4 || LANES == 8, "64- or 32-bit lanes");
    __m256i value[3][GROUPS];
    __m256i perRow[3];
    for (int i = 0; i < 3; ++i) {
        const Edge& e = edges[i];
        const std::int64_t v = edgeValue(e, colMin, y0);
        const std::int64_t c = -e.dy * SUBPIXEL;
        if constexpr (LANES == 4) {
            value[i][0] = _mm256_set_epi64x(v + 3 * c, v + 2 * c, v + c, v);
        } else {
            value[i][0] = _mm256_add_epi32(
                splatLanes<8>(v),
                _mm256_mullo_epi32(splatLanes<8>(c), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
        }
        for (int g = 1; g < GROUPS; ++g) {
            value[i][g] = addLanes<LANES>(value[i][g - 1], splatLanes<LANES>(LANES * c));
        }
        perRow[i] = splatLanes<LANES>(e.dx * SUBPIXEL);
    }
    const unsigned columns = (1u << width) - 1u;
    for (int r = 0; r <= y1 - y0; ++r) {
        unsigned outside = 0;
        for (int g = 0; g < GROUPS; ++g) {
            const __m256i any =
                _mm256_or_si256(_mm256_or_si256(value[0][g], value[1][g]), value[2][g]);
            const int signs = LANES == 4 ? _mm256_movemask_pd(_mm256_castsi256_pd(any))
                                         : _mm256_movemask_ps(_mm256_castsi256_ps(any));
            outside |= static_cast<unsigned>(signs) << (LANES * g);
            for (int i = 0; i < 3; ++i) {
                value[i][g] = addLanes<LANES>(value[i][g], perRow[i]);
            }
        }
        row(r, ~outside & columns);
    }
}

// Whether the edge functions stay within 32 bits at every centre of rows y0..y1 and the
// `width` columns from colMin, the first of them included.
inline bool fitsIn32(const Edge edges[3], int colMin, int width, int y0, int y1) {
    constexpr std::int64_t LIMIT = std::int64_t{1} << 31;
    for (int i = 0; i < 3; ++i) {
        const Edge& e = edges[i];
        const std::int64_t reach = std::abs(edgeValue(e, colMin, y0)) +
                                   std::abs(e.dy * SUBPIXEL) * (width + 8) +
                                   std::abs(e.dx * SUBPIXEL) * (y1 - y0 + 1);
        if (reach >= LIMIT) {
            return false;
        }
    }
    return true;
}

// narrowSpans with wideRows.
template <int GROUPS>
WIDE int wideSpans(const Edge edges[3], int colMin, int width, int y0, int y1, RowSpan* spans) {
    int rows = 0;
    wideRows<4, GROUPS>(edges, colMin, width, y0, y1, [&](int r, unsigned inside) {
        if (inside != 0) {
            spans[rows++] = RowSpan{y0 + r, colMin + std::countr_zero(inside),
                                    colMin + 31 - std::countl_zero(inside)};
        }
    });
    return rows;
}

// The words of row bits that rows y0..y1 take: four rows to a word.
inline int rowWords(int y0, int y1) {
    return (y1 - y0) / 4 + 1;
}

// The covered pixels of the same rows as bits, for gathering: row y0 + r at bits 16·(r % 4)
// up of word r / 4, its columns from colMin up. Writes the words of the rows, no more.
template <int GROUPS>
WIDE void wideRowBits(const Edge edges[3], int colMin, int width, int y0, int y1,
                      std::uint64_t* words) {
    static_assert(NARROW <= 16, "a row's columns take 16 bits");
    for (int w = 0; w < rowWords(y0, y1); ++w) {
        words[w] = 0;
    }
    wideRows<4, GROUPS>(edges, colMin, width, y0, y1, [words](int r, unsigned inside) {
        words[r >> 2] |= std::uint64_t{inside} << (16 * (r & 3));
    });
}

// f(std::integral_constant<int, G>()) for the G groups of four columns of a width up to
// NARROW.
template <class F>
inline auto byColumnGroups(int width, F f) {
    switch ((width + 3) >> 2) {
    case 1:
        return f(std::integral_constant<int, 1>());
    case 2:
        return f(std::integral_constant<int, 2>());
    case 3:
        return f(std::integral_constant<int, 3>());
    default:
        return f(std::integral_constant<int, 4>());
    }
}

// The two for any width up to NARROW.
int narrowSpansWide(const Edge edges[3], int colMin, int width, int y0, int y1, RowSpan* spans) {
    return byColumnGroups(width, [&](auto groups) {
        return wideSpans<groups()>(edges, colMin, width, y0, y1, spans);
    });
}

void narrowRowBitsWide(const Edge edges[3], int colMin, int width, int y0, int y1,
                       std::uint64_t* words) {
    byColumnGroups(
        width, [&](auto groups) { wideRowBits<groups()>(edges, colMin, width, y0, y1, words); });
}
#else
int narrowSpansWide(const Edge edges[3], int colMin, int width, int y0, int y1, RowSpan* spans) {
    return narrowSpans(edges, colMin, width, y0, y1, spans);
}
#endif

// The pixels in spans[0..rows).
inline int pixelCount(const RowSpan* spans, int rows) {
    int n = 0;
    for (int r = 0; r < rows; ++r) {
        n += spans[r].last - spans[r].first + 1;
    }
    return n;
}

// Wide triangles with at most this many pixels in a strip are gathered where their draw is
// thin.
constexpr int GATHER_MOST = 64;

// The spans of rows y0..y1 of a triangle that carries its coverage.
int coveredSpans(const BatchTriangle& tri, int y0, int y1, RowSpan* spans) {
    const int columns = tri.colMax - tri.colMin + 1;
    const Coverage row = lowBits(columns);
    int rows = 0;
    for (int y = y0; y <= y1; ++y) {
        const Coverage inside = (tri.cover >> ((y - tri.rowMin) * columns)) & row;
        if (inside != 0) {
            spans[rows++] = RowSpan{y, tri.colMin + std::countr_zero(inside),
                                    tri.colMin + 63 - std::countl_zero(inside)};
        }
    }
    return rows;
}

// A walk over the centres `bits` of tri's coverage: called with pixel, it calls pixel(x, y)
// for each, row by row, left to right.
inline auto coveredCentres(const BatchTriangle& tri, Coverage bits) {
    const std::uint16_t* cells = CENTRE_CELLS.cell[tri.colMax - tri.colMin + 1];
    return [&tri, cells, bits](auto&& pixel) {
        for (Coverage rest = bits; rest != 0; rest &= rest - 1) {
            const unsigned cell = cells[std::countr_zero(rest)];
            pixel(tri.colMin + static_cast<int>(cell & 63),
                  tri.rowMin + static_cast<int>(cell >> 6));
        }
    };
}

// The centres of tri's coverage in rows y0..y1 (those of a strip).
inline Coverage coverInRows(const BatchTriangle& tri, int y0, int y1) {
    if (y0 == tri.rowMin && y1 == tri.rowMax) {
        return tri.cover; // the whole triangle, as most are within their strip
    }
    const int columns = tri.colMax - tri.colMin + 1;
    // Rows before y0 hold fewer bits than the mask, and the covered ones end within it.
    const int before = (y0 - tri.rowMin) * columns;
    const int through = std::min((y1 - tri.rowMin + 1) * columns, COVERAGE_BITS);
    return tri.cover & (lowBits(through) & ~(lowBits(before + 1) >> 1));
}

#if TESSIVANE_WIDE
// Where a thin triangle's planes lie in its lane of their plane group (see
// BatchTriangle::planes), for a draw that reads no depth: a, b and c of 1/w, then of the one
// attribute stored, each eight floats on from the one before.
constexpr int LANE_INV_W = 8;
constexpr int LANE_VALUE = 32;

// Whether draw d is thin: it reads no depth and stores one attribute (any others are +0 at
// every vertex), so that a pixel needs 1/w and one value. The gathered triangles of such a
// draw whose planes were solved at set-up are placed pixel by pixel and interpolated
// together, and so are its wide triangles of few pixels.
inline bool thinDraw(const DrawRecord& d) {
    return d.program.wide && !d.reference && !d.depthRead && d.storedAttributes == 1;
}

// The planes of a thin triangle, from its lane, and its reference point, in every lane.
struct ThinPlanes {
    __m256 wa, wb, wc; // 1/w
    __m256 va, vb, vc; // the value
    __m256 refX, refY;
};

[[gnu::always_inline]] WIDE inline ThinPlanes thinPlanes(const float* lane, float refX,
                                                         float refY) {
    const float* w = lane + LANE_INV_W;
    const float* v = lane + LANE_VALUE;
    return ThinPlanes{_mm256_set1_ps(w[0]), _mm256_set1_ps(w[8]), _mm256_set1_ps(w[16]),
                      _mm256_set1_ps(v[0]), _mm256_set1_ps(v[8]), _mm256_set1_ps(v[16]),
                      _mm256_set1_ps(refX), _mm256_set1_ps(refY)};
}

// 1/w and the value at eight pixels, with the operations of the pixel-by-pixel loop:
// w = 1 / ((c + b·fy) + a·fx) and the value ((c + b·fy) + a·fx)·w, where fx and fy are the
// pixel's offsets from the reference point.
[[gnu::always_inline]] WIDE inline void thinAt(const ThinPlanes& p, __m256i x, __m256i y,
                                               __m256& pixelW, __m256& value) {
    const __m256 fx = _mm256_sub_ps(_mm256_cvtepi32_ps(x), p.refX);
    const __m256 fy = _mm256_sub_ps(_mm256_cvtepi32_ps(y), p.refY);
    const __m256 invW =
        _mm256_add_ps(_mm256_add_ps(p.wc, _mm256_mul_ps(p.wb, fy)), _mm256_mul_ps(p.wa, fx));
    pixelW = _mm256_div_ps(_mm256_set1_ps(1.0f), invW);
    value = _mm256_mul_ps(
        _mm256_add_ps(_mm256_add_ps(p.vc, _mm256_mul_ps(p.vb, fy)), _mm256_mul_ps(p.va, fx)),
        pixelW);
}

// 1/w and the value of a thin triangle's pixels from..to-1 of the chunk, eight at a time.
[[gnu::always_inline]] WIDE inline void interpolateThin(const float* lane, float refX, float refY,
                                                        PixelChunk& c, float* destination, int from,
                                                        int to) {
    const ThinPlanes p = thinPlanes(lane, refX, refY);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int k = from; k < to; k += 8) {
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(to - k), lanes);
        __m256 pixelW, value;
        thinAt(p, _mm256_maskload_epi32(c.x + k, mask), _mm256_maskload_epi32(c.y + k, mask),
               pixelW, value);
        _mm256_maskstore_ps(c.w + k, mask, pixelW);
        _mm256_maskstore_ps(destination + k, mask, value);
    }
}

// destination[k] = +0 · w[k] for k below count, eight at a time: the lanes past count, up to
// the chunk's end at most, are written with what lies beyond.
WIDE inline void zeroTimesW(float* destination, const float* w, int count) {
    for (int k = 0; k < count; k += 8) {
        _mm256_storeu_ps(destination + k,
                         _mm256_mul_ps(_mm256_setzero_ps(), _mm256_loadu_ps(w + k)));
    }
}
#endif

// Small triangles cover a pixel or two each, too few to fill the wide pixel operations. Their
// pixels are depth-tested and interpolated as they are found, triangle after triangle of one
// draw, and shaded together once a chunk is full. Depth is tested and written at once, in
// drawing order. Colour is written later, in chunk order: a pixel that comes again (the far
// side of a thin tube over its near side) is blended over what its earlier place wrote. The
// bytes are those of shading each triangle alone. The pixels of a thin draw's triangles are
// placed and interpolated eight at a time: from their coverage as they are found, or, from
// their rows, once the chunk is to be shaded.
class Gathering {
public:
    explicit Gathering(StripScratch& scratch) : scratch_(scratch) {}
    ~Gathering() { flush(); }

    void flush() {
        PixelChunk& c = scratch_.chunk;
        if (draw_ != nullptr && c.count > 0) {
            settleThin();
            writeZeros(zeroSoFar_);
            shadeGathered(draw_->state, draw_->program, c);
            c.count = 0;
        }
        c.mayRepeat = false;
        zeroSoFar_ = ~0u;
        draw_ = nullptr;
    }

    // Adds the pixels of a triangle of draw d with planes p, in the rows' spans.
    void add(const DrawRecord& d, const PrimitivePlanes& p, const RowSpan* spans, int rows) {
        addPixels(d, p, [spans, rows](auto&& pixel) {
            for (int r = 0; r < rows; ++r) {
                for (int x = spans[r].first; x <= spans[r].last; ++x) {
                    pixel(x, spans[r].y);
                }
            }
        });
    }

    // The same for the centres of tri's coverage in bits (those of the strip's rows): one pass
    // over the bits, where loops over rows and over each row's few pixels would mispredict
    // their ends again and again.
    void addCovered(const DrawRecord& d, const PrimitivePlanes& p, const BatchTriangle& tri,
                    Coverage bits) {
        addPixels(d, p, coveredCentres(tri, bits));
    }

    // The same for the pixels of rows y0..y1 in row bits as wideRowBits writes them, from
    // column colMin.
    void addRowBits(const DrawRecord& d, const PrimitivePlanes& p, int colMin, int y0, int y1,
                    const std::uint64_t* words) {
        addPixels(d, p, [colMin, y0, words, count = rowWords(y0, y1)](auto&& pixel) {
            for (int w = 0; w < count; ++w) {
                for (std::uint64_t rest = words[w]; rest != 0; rest &= rest - 1) {
                    const int bit = std::countr_zero(rest);
                    pixel(colMin + (bit & 15), y0 + 4 * w + (bit >> 4));
                }
            }
        });
    }

#if TESSIVANE_WIDE
    // addCovered for a triangle of a thin draw whose planes were solved at set-up into lane.
    [[gnu::always_inline]] WIDE inline void addThinCovered(const DrawRecord& d,
                                                           const BatchTriangle& tri,
                                                           const float* lane, Coverage bits) {
        addThin(d, tri, lane,
                [centres = coveredCentres(tri, bits)](auto&& pixel, auto&&) { centres(pixel); });
    }

    // addThinCovered eight centres of the bounds at a time, with no walk over the bits: the
    // covered ones of each eight are packed into their places, in the same order, and
    // interpolated at once, from the positions in hand. False, with nothing placed, where the
    // chunk may lack room for the last vector; addThinCovered then places them.
    [[gnu::always_inline]] WIDE inline bool packThinCovered(const DrawRecord& d,
                                                            const BatchTriangle& tri,
                                                            const float* lane, Coverage bits) {
        if (draw_ != &d) {
            begin(d);
        }
        PixelChunk& c = scratch_.chunk;
        int count = c.count;
        // Each vector is stored whole at the count it starts from; the chunk is never filled
        // here, so it is split where addThin splits it.
        if (count + std::popcount(bits) > CHUNK - 8) {
            return false;
        }
        thinZeros();
        const ThinPlanes p = thinPlanes(lane, inPixels(tri.x[0]), inPixels(tri.y[0]));
        const std::uint16_t* cells = CENTRE_CELLS.cell[tri.colMax - tri.colMin + 1];
        const __m256i colMin = _mm256_set1_epi32(tri.colMin);
        const __m256i rowMin = _mm256_set1_epi32(tri.rowMin);
        const __m256i columnBits = _mm256_set1_epi32(63);
        float* const destination = destination_[0];
        int first = std::countr_zero(bits) & ~7;
        for (Coverage rest = bits >> first; rest != 0; rest >>= 8, first += 8) {
            const auto eight = static_cast<unsigned>(rest & 0xFF);
            const __m256i order = _mm256_cvtepu8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(PACK_ORDERS.lane[eight])));
            const __m256i cell =
                _mm256_permutevar8x32_epi32(_mm256_cvtepu16_epi32(_mm_loadu_si128(
                                                reinterpret_cast<const __m128i*>(cells + first))),
                                            order);
            const __m256i x = _mm256_add_epi32(colMin, _mm256_and_si256(cell, columnBits));
            const __m256i y = _mm256_add_epi32(rowMin, _mm256_srli_epi32(cell, 6));
            __m256 pixelW, value;
            thinAt(p, x, y, pixelW, value);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.x + count), x);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.y + count), y);
            _mm256_storeu_ps(c.w + count, pixelW);
            _mm256_storeu_ps(destination + count, value);
            count += std::popcount(eight);
        }
        c.count = count;
        return true;
    }

    // The same for the covered spans of a triangle.
    WIDE void addThinSpans(const DrawRecord& d, const BatchTriangle& tri, const float* lane,
                           const RowSpan* spans, int rows) {
        addThin(d, tri, lane, [spans, rows](auto&&, auto&& span) WIDE {
            for (int r = 0; r < rows; ++r) {
                for (int x = spans[r].first; x <= spans[r].last; x += NARROW) {
                    span(spans[r].y, x, std::min(NARROW, spans[r].last - x + 1));
                }
            }
        });
    }

    // The same for a narrow triangle that does not carry its coverage: its rows y0..y1 are
    // stepped here, eight columns to a vector where the edge functions allow.
    WIDE void addThinRows(const DrawRecord& d, const BatchTriangle& tri, const float* lane, int y0,
                          int y1) {
        const Edge edges[3] = {makeEdge(tri.x[0], tri.y[0], tri.x[1], tri.y[1]),
                               makeEdge(tri.x[1], tri.y[1], tri.x[2], tri.y[2]),
                               makeEdge(tri.x[2], tri.y[2], tri.x[0], tri.y[0])};
        const int colMin = tri.colMin;
        const int width = tri.colMax - tri.colMin + 1;
        addThin(d, tri, lane, [&](auto&&, auto&& span) WIDE {
            // A row's covered centres are one span: there are no bits to walk one by one.
            auto row = [&](int r, unsigned inside) WIDE {
                span(y0 + r, colMin + std::countr_zero(inside), std::popcount(inside));
            };
            if (!fitsIn32(edges, colMin, width, y0, y1)) {
                byColumnGroups(width, [&](auto groups) WIDE {
                    wideRows<4, groups()>(edges, colMin, width, y0, y1, row);
                });
            } else if (width <= 8) {
                wideRows<8, 1>(edges, colMin, width, y0, y1, row);
            } else {
                wideRows<8, 2>(edges, colMin, width, y0, y1, row);
            }
        });
    }
#endif

private:
#if TESSIVANE_WIDE
    // For a triangle of the thin draw begun, about to be placed: brings the chunk's zero attributes
    // up to date, and returns those of the triangle (all but the first are +0 at every corner).
    std::uint32_t thinZeros() {
        const std::uint32_t zeros = drawAttributes_ & ~1u;
        writeZeros(zeroSoFar_ & ~zeros);
        zeroSoFar_ &= zeros;
        return zeros;
    }

    // Places the pixels of a thin triangle of draw d, with its planes in lane, and leaves
    // their interpolation to settleThin. forEach(pixel, span) calls pixel(x, y) for each, or
    // span(y, x, n) for n (0 to NARROW) of them from (x, y) to the right, row by row, left
    // to right.
    template <class ForEach>
    [[gnu::always_inline]] WIDE inline void addThin(const DrawRecord& d, const BatchTriangle& tri,
                                                    const float* lane, ForEach forEach) {
        if (draw_ != &d) {
            begin(d);
        }
        const std::uint32_t zeros = thinZeros();
        const float refX = inPixels(tri.x[0]);
        const float refY = inPixels(tri.y[0]);
        PixelChunk& c = scratch_.chunk;
        // The count is kept here: the chunk's own would be read back after every store of a
        // position, which the compiler must take to be a store to it.
        int count = c.count;
        int from = count;
        auto pixel = [&](int x, int y) {
            if (count == CHUNK) {
                c.count = CHUNK;
                if (from < CHUNK) {
                    thin_[thinCount_++] = ThinRun{lane, refX, refY, from, CHUNK};
                }
                begin(d);
                zeroSoFar_ = zeros;
                from = 0;
                count = 0;
            }
            c.x[count] = x;
            c.y[count] = y;
            ++count;
        };
        auto span = [&](int y, int x, int n) WIDE {
            if (count > CHUNK - NARROW) {
                for (int i = 0; i < n; ++i) {
                    pixel(x + i, y);
                }
                return;
            }
            // NARROW places, whatever n is: a loop over the span's pixels would be mispredicted
            // at its end, row after row. The places past the span are written again later.
            static_assert(NARROW == 16, "two vectors of eight places");
            const __m256i columns =
                _mm256_add_epi32(_mm256_set1_epi32(x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
            const __m256i row = _mm256_set1_epi32(y);
            auto* xs = reinterpret_cast<__m256i*>(c.x + count);
            auto* ys = reinterpret_cast<__m256i*>(c.y + count);
            _mm256_storeu_si256(xs, columns);
            _mm256_storeu_si256(xs + 1, _mm256_add_epi32(columns, _mm256_set1_epi32(8)));
            _mm256_storeu_si256(ys, row);
            _mm256_storeu_si256(ys + 1, row);
            count += n;
        };
        forEach(pixel, span);
        c.count = count;
        if (from < count) {
            thin_[thinCount_++] = ThinRun{lane, refX, refY, from, count};
        }
    }
#endif

    // Interpolates the pixels that thin triangles placed in the chunk. This waits until the
    // chunk is shaded (or its 1/w is read): reading the positions back straight after they
    // were written would stall on the stores.
#if TESSIVANE_WIDE
    WIDE void settleThin() {
        PixelChunk& c = scratch_.chunk;
        for (int i = 0; i < thinCount_; ++i) {
            const ThinRun& r = thin_[i];
            interpolateThin(r.lane, r.refX, r.refY, c, destination_[0], r.from, r.to);
        }
        thinCount_ = 0;
    }
#else
    void settleThin() {
        thinCount_ = 0;
    }
#endif

    // Adds the pixels of a triangle of draw d with planes p: forEach(pixel) calls pixel(x, y)
    // for each, row by row, left to right.
    template <class ForEach>
    [[gnu::always_inline]] void addPixels(const DrawRecord& d, const PrimitivePlanes& p,
                                          ForEach forEach) {
        if (draw_ != &d) {
            begin(d);
        }
        const PixelState& s = d.state;
        // An attribute +0 at every corner is +0·w at every pixel. It is written for the whole
        // chunk at once, unless another triangle in it has the attribute after all.
        const std::uint32_t zeros = p.zeroAttributes;
        writeZeros(zeroSoFar_ & ~zeros);
        zeroSoFar_ &= zeros;
        const std::uint32_t skipped = zeroSoFar_;
        int live[MAX_ATTRIBUTES];
        int liveCount = 0;
        for (std::uint32_t rest = ~skipped & ((1u << s.attributeCount) - 1u); rest != 0;
             rest &= rest - 1) {
            live[liveCount++] = std::countr_zero(rest);
        }

        PixelChunk& c = scratch_.chunk;
        const bool unitW = p.invW.a == 0.0f && p.invW.b == 0.0f && p.invW.c == 1.0f;
        const bool perspective = p.perspective && !unitW;
        // Places the pixel in the chunk, in a new one where it is full; returns its index.
        auto place = [&](int x, int y) {
            if (c.count == CHUNK) {
                begin(d);
                // The rest of the triangle writes what it wrote before; the chunk's zero
                // attributes are its own, some of them written twice alike.
                zeroSoFar_ = zeros;
            }
            const int k = c.count++;
            c.x[k] = x;
            c.y[k] = y;
            return k;
        };
        // Without depth read there is no depth test either.
        if (!d.depthRead && perspective && liveCount == 1) {
            // The commonest triangles (thin tubes, say): no depth, one attribute. Nothing
            // reads these pixels' depth, so none is stored.
            const Plane invW = p.invW, plane = p.attribute[live[0]];
            float* const destination = destination_[live[0]];
            forEach([&](int x, int y) {
                const float fy = static_cast<float>(y) - p.refY;
                const float fx = static_cast<float>(x) - p.refX;
                const int k = place(x, y);
                const float w = 1.0f / planeAt(planeRow(invW, fy), invW, fx);
                c.w[k] = w;
                destination[k] = ((plane.c + plane.b * fy) + plane.a * fx) * w;
            });
            return;
        }
        forEach([&](int x, int y) {
            const float fy = static_cast<float>(y) - p.refY;
            const float fx = static_cast<float>(x) - p.refX;
            const float z = d.depthRead ? planeAt(planeRow(p.z, fy), p.z, fx) : 0.0f;
            if (s.depthTest && !depthTestPixel(s, x, y, z)) {
                return;
            }
            const int k = place(x, y);
            c.z[k] = z;
            const float w = unitW ? 1.0f : 1.0f / planeAt(planeRow(p.invW, fy), p.invW, fx);
            c.w[k] = w;
            for (int i = 0; i < liveCount; ++i) {
                const Plane& plane = p.attribute[live[i]];
                const float value = (plane.c + plane.b * fy) + plane.a * fx;
                destination_[live[i]][k] = perspective ? value * w : value;
            }
        });
    }

    // Writes the attributes of the mask, so far +0 at every corner of the chunk's triangles,
    // for the pixels in the chunk: the +0·w the pixel-by-pixel loop would have written (the
    // offsets are finite, so the plane gives +0 whatever the signs of its slopes).
    void writeZeros(std::uint32_t attributes) {
        PixelChunk& c = scratch_.chunk;
        attributes &= drawAttributes_;
        if (attributes == 0) {
            return;
        }
        settleThin(); // the zeros are +0·w
        for (; attributes != 0; attributes &= attributes - 1) {
            float* destination = destination_[std::countr_zero(attributes)];
#if TESSIVANE_WIDE
            if (draw_->program.wide) {
                zeroTimesW(destination, c.w, c.count);
                continue;
            }
#endif
            for (int k = 0; k < c.count; ++k) {
                destination[k] = 0.0f * c.w[k];
            }
        }
    }

    // Starts gathering the pixels of draw d, with where each of its attributes goes.
    void begin(const DrawRecord& d) {
        flush();
        draw_ = &d;
        drawAttributes_ = (1u << d.state.attributeCount) - 1u;
        PixelChunk& c = scratch_.chunk;
        c.count = 0; // the chunk may hold what a triangle shaded alone left in it
        c.halfway.stages = 0;
        c.runCount = 0;
        c.mayRepeat = true;
        for (int a = 0; a < d.state.attributeCount; ++a) {
            const AttributeSlot& slot = d.state.attributes[a];
            destination_[a] = slot.coordinate ? c.coord[slot.index][slot.component]
                                              : c.reg[slot.index][slot.component];
        }
    }

    // Pixels from..to-1 of the chunk, of a thin triangle with its planes in lane and its
    // reference point (refX, refY).
    struct ThinRun {
        const float* lane;
        float refX, refY;
        int from, to;
    };

    StripScratch& scratch_;
    ThinRun thin_[CHUNK]; // each with a pixel of the chunk at least
    int thinCount_ = 0;
    const DrawRecord* draw_ = nullptr;
    std::uint32_t drawAttributes_ = 0; // the bits of the draw's attributes
    std::uint32_t zeroSoFar_ = ~0u;    // attributes +0 at every corner of the chunk's triangles
    float* destination_[MAX_ATTRIBUTES] = {};
};

} // namespace

// The triangles and planes a strip draws were mostly set up by another thread, on another
// core. Those of the entries a few places ahead are asked for early, so that they are here
// when needed: the triangle PREFETCH_AHEAD entries on (and the first ones before the strip
// starts), and the planes of the one PLANES_AHEAD entries on (its triangle, asked for
// before, says where they are).
constexpr std::size_t PREFETCH_AHEAD = 16;
constexpr std::size_t PLANES_AHEAD = 8;
// A lane's first two planes (1/w and one attribute, where the draw reads no depth) lie
// within this many cache lines (of 16 floats) from the lane's start.
constexpr int PLANE_LINES = 4;

inline const BatchTriangle* Batch::triangleAt(const PodBuffer<std::uint32_t>& bin,
                                              std::size_t e) const {
    return e < bin.size() && (bin[e] & BIN_KIND) == BIN_TRIANGLE ? &triangles[bin[e] & ~BIN_KIND]
                                                                 : nullptr;
}

inline void Batch::fetchTriangle(const PodBuffer<std::uint32_t>& bin, std::size_t e) const {
    if (const BatchTriangle* tri = triangleAt(bin, e)) {
        __builtin_prefetch(tri);
        __builtin_prefetch(reinterpret_cast<const char*>(tri) + sizeof *tri - 1);
    }
}

inline void Batch::fetchPlanes(const PodBuffer<std::uint32_t>& bin, std::size_t e) const {
    const BatchTriangle* tri = triangleAt(bin, e);
    if (tri != nullptr && tri->solved()) {
        for (int line = 0; line < PLANE_LINES; ++line) {
            __builtin_prefetch(&planes_[tri->planes] + 16 * line);
        }
    }
}

#if TESSIVANE_WIDE
template <class Gathering>
WIDE std::size_t Batch::drawThinEntries(Gathering& gathering, const PodBuffer<std::uint32_t>& bin,
                                        std::size_t e, int stripTop, int stripBottom) const {
    // Held here: the chunk's stores may alias anything, the buffers' own pointers included,
    // which would then be read again for every entry.
    const std::uint32_t* const entries = bin.data();
    const std::size_t size = bin.size();
    const BatchTriangle* const stored = triangles.data();
    const float* const planes = planes_.data();
    const DrawRecord* const records = draws.data();
    const DrawRecord* thin = nullptr; // the draw of the last entry, known to be thin
    for (; e < size; ++e) {
        const std::uint32_t entry = entries[e];
        if ((entry & BIN_KIND) != BIN_TRIANGLE) {
            break;
        }
        const BatchTriangle& tri = stored[entry]; // a triangle's entry is its index
        const DrawRecord& draw = records[tri.draw];
        if (&draw != thin) {
            if (!thinDraw(draw)) {
                break;
            }
            thin = &draw;
        }
        if (tri.colMax - tri.colMin >= NARROW || !tri.solved()) {
            break;
        }
        fetchTriangle(bin, e + PREFETCH_AHEAD);
        fetchPlanes(bin, e + PLANES_AHEAD);
        const int y0 = std::max<int>(tri.rowMin, stripTop);
        const int y1 = std::min<int>(tri.rowMax, stripBottom);
        const float* lane = planes + tri.planes;
        if (tri.cover == 0) {
            gathering.addThinRows(draw, tri, lane, y0, y1);
            continue;
        }
        const Coverage coveredHere = coverInRows(tri, y0, y1);
        if (coveredHere != 0 && !gathering.packThinCovered(draw, tri, lane, coveredHere)) {
            gathering.addThinCovered(draw, tri, lane, coveredHere);
        }
    }
    return e;
}
#endif

void Batch::drawStrip(int strip, StripScratch& scratch) const {
    const int stripTop = strip << stripShift_;
    const int stripBottom = stripTop + stripRows() - 1;
    PixelChunk& chunk = scratch.chunk;
    Gathering gathering(scratch);
    const PodBuffer<std::uint32_t>& bin = bins_[strip];
    for (std::size_t e = 0; e < PREFETCH_AHEAD; ++e) {
        fetchTriangle(bin, e);
    }
    for (std::size_t e = 0; e < bin.size(); ++e) {
#if TESSIVANE_WIDE
        // Most entries are triangles of thin draws: they are taken a run at a time.
        e = drawThinEntries(gathering, bin, e, stripTop, stripBottom);
        if (e == bin.size()) {
            break;
        }
#endif
        const std::uint32_t entry = bin[e];
        const std::uint32_t index = entry & ~BIN_KIND;
        fetchTriangle(bin, e + PREFETCH_AHEAD);
        fetchPlanes(bin, e + PLANES_AHEAD);
        const std::uint32_t kind = entry & BIN_KIND;
        const bool gathered = kind == BIN_TRIANGLE && !draws[triangles[index].draw].reference &&
                              triangles[index].colMax - triangles[index].colMin < NARROW;
        if (kind != BIN_TRIANGLE) {
            gathering.flush();
        }
        switch (kind) {
        case BIN_CLEAR: {
            const BatchClear& c = clears[index];
            const int y0 = std::max(c.y0, stripTop);
            const int y1 = std::min(c.y1 - 1, stripBottom);
            for (int y = y0; y <= y1; ++y) {
                if (c.flags & D3DCLEAR_TARGET) {
                    auto* row = reinterpret_cast<std::uint32_t*>(
                        c.target + static_cast<std::ptrdiff_t>(y) * c.targetPitch);
                    std::fill(row + c.x0, row + c.x1, c.color);
                }
                if (c.flags & D3DCLEAR_ZBUFFER) {
                    std::uint16_t* row =
                        c.depthBuffer + static_cast<std::ptrdiff_t>(y) * c.depthPitch;
                    std::fill(row + c.x0, row + c.x1, c.depth);
                }
            }
            break;
        }
        case BIN_POINT: {
            const BatchPoint& pt = points[index];
            const DrawRecord& draw = draws[pt.draw];
            const float* v = &pool_[pt.vertex];
            PrimitivePlanes planes;
            planes.refX = static_cast<float>(pt.x);
            planes.refY = static_cast<float>(pt.y);
            planes.perspective = false;
            planes.z = Plane{0.0f, 0.0f, v[2]};
            planes.invW = Plane{0.0f, 0.0f, v[3]};
            for (int k = 0; k < draw.storedAttributes; ++k) {
                planes.attribute[k] = Plane{0.0f, 0.0f, v[4 + k]};
            }
            clearUnstored(draw, planes, true);
            if (draw.reference) {
                shadeSpanReference(draw.state, planes, pt.y, pt.x, pt.x + 1);
            } else {
                chunk.x[0] = pt.x;
                chunk.y[0] = pt.y;
                chunk.count = 1;
                chunk.runCount = 0;
                shadeChunk(draw.state, draw.program, planes, chunk);
            }
            break;
        }
        default: {
            const BatchTriangle& tri = triangles[index];
            const DrawRecord& draw = draws[tri.draw];

            const int y0 = std::max<int>(tri.rowMin, stripTop);
            const int y1 = std::min<int>(tri.rowMax, stripBottom);
            const bool wide = draw.program.wide && !draw.reference;
            // The triangle's pixels in the strip: gathered ones as bits, where they can be
            // walked in one pass (a triangle's own coverage, or row bits), the others as
            // spans.
            RowSpan spans[MAX_STRIP_ROWS];
            int rows = 0;
            Coverage coveredHere = 0; // the triangle's coverage in the strip's rows
            std::uint64_t rowBits[MAX_STRIP_ROWS / 4];
            bool anyRowBits = false;
            if (tri.cover != 0 && gathered) {
                coveredHere = coverInRows(tri, y0, y1);
            } else if (tri.cover != 0) {
                rows = coveredSpans(tri, y0, y1, spans);
            } else if (tri.colMax - tri.colMin < NARROW) {
                const Edge edges[3] = {makeEdge(tri.x[0], tri.y[0], tri.x[1], tri.y[1]),
                                       makeEdge(tri.x[1], tri.y[1], tri.x[2], tri.y[2]),
                                       makeEdge(tri.x[2], tri.y[2], tri.x[0], tri.y[0])};
                const int width = tri.colMax - tri.colMin + 1;
#if TESSIVANE_WIDE
                if (gathered && wide) {
                    narrowRowBitsWide(edges, tri.colMin, width, y0, y1, rowBits);
                    anyRowBits = std::any_of(rowBits, rowBits + rowWords(y0, y1),
                                             [](std::uint64_t word) { return word != 0; });
                } else
#endif
                    // The reference path keeps to the plain stepping.
                    rows = wide ? narrowSpansWide(edges, tri.colMin, width, y0, y1, spans)
                                : narrowSpans(edges, tri.colMin, width, y0, y1, spans);
            } else {
                const Edge edges[3] = {makeEdge(tri.x[0], tri.y[0], tri.x[1], tri.y[1]),
                                       makeEdge(tri.x[1], tri.y[1], tri.x[2], tri.y[2]),
                                       makeEdge(tri.x[2], tri.y[2], tri.x[0], tri.y[0])};
                EdgeRows limits[3] = {EdgeRows(edges[0], y0), EdgeRows(edges[1], y0),
                                      EdgeRows(edges[2], y0)};
                for (int y = y0; y <= y1; ++y) {
                    std::int64_t left = tri.colMin;
                    std::int64_t right = tri.colMax;
                    for (EdgeRows& limit : limits) {
                        limit.clamp(left, right);
                        limit.next();
                    }
                    if (left <= right) {
                        spans[rows++] = RowSpan{y, int(left), int(right)};
                    }
                }
            }
            if (rows == 0 && coveredHere == 0 && !anyRowBits) {
                break; // many small triangles cover no pixel centre of a strip they touch
            }
#if TESSIVANE_WIDE
            // A wide triangle of few pixels (a thin tube seen along its length, say) is
            // gathered too: shaded on its own, it would pay the whole set-up of the pixel
            // stage for them.
            if (!gathered && wide && tri.solved() && thinDraw(draw) &&
                pixelCount(spans, rows) <= GATHER_MOST) {
                gathering.addThinSpans(draw, tri, &planes_[tri.planes], spans, rows);
                break;
            }
#endif
            if (!gathered) {
                gathering.flush();
            }
            PrimitivePlanes planes;
            if (tri.solved()) {
                takeSolvedPlanes(tri, draw, &planes_[tri.planes], planes);
            } else {
                const std::uint32_t* corner = &corners_[tri.planes & ~UNSOLVED];
                const float* v0 = &pool_[corner[0]];
                const float* v1 = &pool_[corner[1]];
                const float* v2 = &pool_[corner[2]];
                if (wide) {
                    solvePlanesWide(tri, v0, v1, v2, draw.storedAttributes, planes);
                } else {
                    solvePlanes(tri, v0, v1, v2, draw.storedAttributes, planes);
                }
            }
            clearUnstored(draw, planes, !gathered);
            if (wide && !gathered) {
                findHalfwayTaps(draw.state, tri, planes);
            }
            if (coveredHere != 0) {
                gathering.addCovered(draw, planes, tri, coveredHere);
                break;
            }
            if (anyRowBits) {
                gathering.addRowBits(draw, planes, tri.colMin, y0, y1, rowBits);
                break;
            }
            if (gathered) {
                gathering.add(draw, planes, spans, rows);
                break;
            }
            int covered = 0;
            chunk.runCount = 0;
            for (int r = 0; r < rows; ++r) {
                const int y = spans[r].y;
                const int left = spans[r].first;
                const int right = spans[r].last;
                if (draw.reference) {
                    shadeSpanReference(draw.state, planes, y, left, right + 1);
                    continue;
                }
                // Pixels of several rows are shaded together, CHUNK at a time.
                for (int x = left; x <= right;) {
                    const int n = std::min(CHUNK - covered, right - x + 1);
                    for (int i = 0; i < n; ++i) {
                        chunk.x[covered + i] = x + i;
                        chunk.y[covered + i] = y;
                    }
                    chunk.runs[chunk.runCount++] = {
                        static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                        static_cast<std::uint8_t>(covered), static_cast<std::uint8_t>(n)};
                    covered += n;
                    x += n;
                    if (covered == CHUNK) {
                        chunk.count = covered;
                        shadeChunk(draw.state, draw.program, planes, chunk);
                        covered = 0;
                        chunk.runCount = 0;
                    }
                }
            }
            if (covered > 0) {
                chunk.count = covered;
                shadeChunk(draw.state, draw.program, planes, chunk);
            }
            break;
        }
        }
    }
}

} // namespace tessivane::platform::soft
