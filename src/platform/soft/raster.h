// From processed vertices to pixels. Draws are not rasterized one by one: their primitives
// are clipped, projected and sorted into horizontal strips of the target (a batch), and the
// batch is rasterized later, each strip by one thread, every primitive of a strip in the
// order it was drawn. A pixel is therefore always touched by the same thread in the same
// order, and the bytes do not depend on how many threads draw.
//
// The rules are the platform's: pixel centres at integer coordinates, the viewport transform
// without a half-pixel term, a top-left fill rule on positions snapped to 1/256 pixel,
// clipping to 0 <= z <= w (and a guard band in x and y), perspective-correct interpolation,
// and points of size 1 lighting the pixel at (ceil(X - 0.5), ceil(Y - 0.5)).
#pragma once

#include "platform/soft/pixel_program.h"
#include "platform/soft/vertex_stage.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace tessivane::platform::soft {

// A batch's strips are the same number of rows high: a power of two from MIN_STRIP_ROWS to
// MAX_STRIP_ROWS, the most that still leaves each render thread STRIPS_PER_THREAD strips of
// the target to draw. The fewer the strips, the less a batch costs: a triangle across two is
// binned and walked in both, and each strip's gathered pixels fill chunks of their own, the
// last of them part-way. The pictures are the same bytes whatever the height.
inline constexpr int MIN_STRIP_ROWS = 16;
inline constexpr int MAX_STRIP_ROWS = 128;
inline constexpr int STRIPS_PER_THREAD = 2;

// The rows of a strip of a target `height` rows high drawn by `threads` render threads.
int stripRowsFor(int height, unsigned threads);

// Draws are processed and handed to a batch this many primitives at a time (even, for strips),
// but for fans, which go whole.
inline constexpr UINT DRAW_PIECE = 2048;

// Positions are snapped to 1/256 pixel before the fill rule is applied.
inline constexpr int SUBPIXEL_BITS = 8;
inline constexpr std::int64_t SUBPIXEL = 1 << SUBPIXEL_BITS;
inline constexpr std::int32_t SUBPIXEL_ONE = 1 << SUBPIXEL_BITS;

// Bin entries carry their kind in the top two bits.
inline constexpr std::uint32_t BIN_TRIANGLE = 0u << 30;
inline constexpr std::uint32_t BIN_POINT = 1u << 30;
inline constexpr std::uint32_t BIN_CLEAR = 2u << 30;
inline constexpr std::uint32_t BIN_KIND = 3u << 30;

inline std::int64_t floorDiv(std::int64_t a, std::int64_t b) { // b > 0
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// One edge of a triangle whose interior lies on the positive side:
// E(P) = dx·(Py − y0) − dy·(Px − x0) − bias >= 0. The bias of 1 (in the products' units)
// leaves out pixel centres exactly on edges that are neither top nor left edges.
struct Edge {
    std::int64_t dx, dy, x0, y0, bias;
};

inline Edge makeEdge(std::int32_t xa, std::int32_t ya, std::int32_t xb, std::int32_t yb) {
    Edge e;
    e.dx = std::int64_t(xb) - xa;
    e.dy = std::int64_t(yb) - ya;
    e.x0 = xa;
    e.y0 = ya;
    // With y growing downwards and the interior on the right of the edge's direction, a
    // left edge runs upwards and a top edge runs exactly horizontally to the right.
    const bool topLeft = e.dy < 0 || (e.dy == 0 && e.dx > 0);
    e.bias = topLeft ? 0 : 1;
    return e;
}

// E at the pixel centre (column, row): not negative where the centre lies inside the edge.
inline std::int64_t edgeValue(const Edge& e, std::int64_t column, std::int64_t row) {
    return e.dx * (row * SUBPIXEL - e.y0) - e.dy * (column * SUBPIXEL - e.x0) - e.bias;
}

// Per-thread scratch for drawing strips: the chunk pixels are shaded in.
struct StripScratch {
    PixelChunk chunk;
};

struct DrawRecord {
    PixelState state;
    PixelProgram program;
    bool reference = false; // shade with the per-pixel reference path
    // The attributes a vertex carries: state.attributes[0..storedAttributes). Those after
    // them are +0 at every vertex of the draw, and are neither stored nor solved.
    int storedAttributes = 0;
    // Whether pixels read their depth: for the depth test, or fog from depth.
    bool depthRead = false;
};

// Where a draw's geometry lands: the viewport and the culling it is drawn with.
struct GeometryTarget {
    float x = 0, y = 0;   // viewport origin
    float halfWidth = 0;  // viewport width / 2
    float halfHeight = 0; // viewport height / 2
    float minZ = 0;
    float maxZ = 1;
    int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0; // pixels that may be written
    DWORD cull = D3DCULL_NONE;
    bool preTransformed = false;
};

// Which pixel centres within its bounds a triangle covers: row by row from the top, each row
// as many bits as the bounds have columns, from the leftmost up.
using Coverage = std::uint64_t;
inline constexpr int COVERAGE_BITS = 64;

// The lowest n bits, 1 <= n <= 64: a coverage mask's row, or its centres.
inline constexpr Coverage lowBits(int n) {
    return ~Coverage{0} >> (COVERAGE_BITS - n);
}

// The row and column (row << 6 | column) of each bit of a coverage mask, by the number of
// columns of the bounds it covers.
struct CentreCells {
    std::uint16_t cell[COVERAGE_BITS + 1][COVERAGE_BITS];
};

constexpr CentreCells centreCells() {
    CentreCells cells{};
    for (int columns = 1; columns <= COVERAGE_BITS; ++columns) {
        for (int i = 0; i < COVERAGE_BITS; ++i) {
            cells.cell[columns][i] = static_cast<std::uint16_t>((i / columns) << 6 | (i % columns));
        }
    }
    return cells;
}

inline constexpr CentreCells CENTRE_CELLS = centreCells();

// For each byte, the places of its set bits from the lowest up (then zeros): the lanes that
// the chosen ones of eight are packed from, in order.
struct PackOrders {
    std::uint8_t lane[256][8];
};

constexpr PackOrders packOrders() {
    PackOrders orders{};
    for (int bits = 0; bits < 256; ++bits) {
        int n = 0;
        for (int i = 0; i < 8; ++i) {
            if ((bits >> i) & 1) {
                orders.lane[bits][n++] = static_cast<std::uint8_t>(i);
            }
        }
    }
    return orders;
}

inline constexpr PackOrders PACK_ORDERS = packOrders();

// Set in BatchTriangle::planes of a triangle whose planes are solved where it is drawn.
inline constexpr std::uint32_t UNSOLVED = 1u << 31;

struct BatchTriangle {
    std::int32_t x[3], y[3]; // snapped positions, 1/256 pixel
    // Where its planes were solved at set-up: lane j of a plane group in the batch's plane
    // pool, at the group's offset + j. A group holds eight triangles' planes, each value as
    // eight floats, one per lane: the bits of PrimitivePlanes::zeroAttributes, then a, b and c
    // of each plane solved (depth where the draw reads it, 1/w, and the attributes stored).
    // With UNSOLVED set, the rest is where the vertex pool offsets of its three corners lie
    // in the batch's corner list, and its planes are solved where it is drawn.
    std::uint32_t planes;
    std::uint32_t draw;
    std::int16_t colMin, colMax, rowMin, rowMax; // pixels it may cover, inside the clip
    // The pixels it covers where there are few within the bounds; 0 where not worked out.
    Coverage cover;

    bool solved() const { return (planes & UNSOLVED) == 0; }
};

struct BatchPoint {
    std::int32_t x, y; // the pixel lit
    std::uint32_t vertex;
    std::uint32_t draw;
};

struct BatchClear {
    int x0, y0, x1, y1;
    DWORD flags;
    std::uint32_t color;
    std::uint16_t depth;
    std::uint8_t* target;
    int targetPitch;
    std::uint16_t* depthBuffer;
    int depthPitch;
};

// A growable array of plain values whose new elements start out unset: the vertex pool is
// appended to per vertex, and zero-filling what is written at once is wasted work.
template <class T>
class PodBuffer {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }
    void shrink(std::size_t size) { size_ = size; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    // Room for n more elements at the end; their values are unset.
    T* append(std::size_t n) {
        if (size_ + n > capacity_) {
            grow(std::max(2 * capacity_, size_ + n), false);
        }
        T* p = data_.get() + size_;
        size_ += n;
        return p;
    }
    // Room for capacity elements in all, its memory written now: a buffer that grows that far
    // anyway then neither moves nor takes in fresh pages while a frame is drawn.
    void reserve(std::size_t capacity) {
        if (capacity > capacity_) {
            grow(capacity, true);
        }
    }

private:
    void grow(std::size_t capacity, bool zeroed) {
        std::unique_ptr<T[]> grown(zeroed ? new T[capacity]() : new T[capacity]);
        std::copy(data_.get(), data_.get() + size_, grown.get());
        data_ = std::move(grown);
        capacity_ = capacity;
    }

    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Vertices projected and snapped for strips drawn wide, value by value, as a strip's draw
// reads them: a run of vertices processed ahead of the draws that walk through it.
struct VertexLanes {
    std::vector<std::int32_t> x, y;    // snapped positions
    std::vector<std::uint8_t> outside; // the clip planes each vertex is outside
    // Value r of the pool's entry of each vertex from Z on (depth, 1/w, then the draw's
    // stored attributes times 1/w), row by row, stride apart.
    std::vector<float> values;
    std::size_t stride = 0;

    // Room for count vertices of values rows, and for the reads and writes of whole vector
    // lanes past the last.
    void resize(UINT count, int rows);
};

// Whether the strips of draw d take their vertices as VertexLanes.
bool stripsFromLanes(const DrawRecord& d);

// Projects and snaps vertices first..first+count-1 of lanes from the clip-space positions
// position[0..3][k] and the values attributes[a][k] of their draw's stored attributes, k
// from 0 to count - 1, where the rows can be read up to the next multiple of eight: the same
// floats and integers that addPrimitives finds.
void projectToLanes(const GeometryTarget& target, const float* const position[4],
                    const float* const* attributes, int attributeCount, UINT count,
                    VertexLanes& lanes, UINT first);

// The pending work for one render target.
class Batch {
public:
    // Starts an empty batch for a target of the given height.
    void reset(int targetHeight);
    // The render threads that draw the batch (1 unless set). Where others draw it, on other
    // cores, while this thread fills the next, the memory its triangles and planes go to is
    // claimed ahead of the stores. The strips' height follows at the next reset.
    void drawnBy(unsigned threads) { threads_ = threads; }
    bool empty() const { return triangles.empty() && points.empty() && clears.empty(); }
    // Whether the batch has grown enough that it should be drawn before taking more.
    bool full() const;
    std::size_t triangleCount() const { return triangles.size(); }

    std::uint32_t addDraw(const DrawRecord& draw);
    void addClear(const BatchClear& clear);

    // Clips, projects and bins count primitives of a draw whose vertices were processed into
    // vertices[0..vertexCount).
    void addPrimitives(std::uint32_t draw, const GeometryTarget& target, D3DPRIMITIVETYPE type,
                       const VertexOutput* vertices, UINT vertexCount, UINT primitiveCount);

    // The same for a strip of a draw that takes its vertices as lanes, from vertex first of
    // them on; false, adding nothing, where some vertex lies outside a clip plane and some
    // triangle needs clipping.
    bool addStrip(std::uint32_t draw, const GeometryTarget& target, const VertexLanes& lanes,
                  UINT first, UINT vertexCount, UINT primitiveCount);

    // Rasterizes everything binned into one strip, using scratch as scratch.
    void drawStrip(int strip, StripScratch& scratch) const;
    int stripCount() const { return strips_; }
    int stripRows() const { return 1 << stripShift_; }
    // The entries binned into a strip: about what drawing it costs.
    std::size_t stripEntries(int strip) const { return bins_[strip].size(); }

    std::vector<DrawRecord> draws;

private:
    struct Scratch;
    // Whether other cores draw the batch: see drawnBy.
    bool claimAhead() const { return threads_ > 1; }
    void addTriangle(const GeometryTarget& target, const VertexOutput* const v[3],
                     const UINT index[3]);
    void addPoint(const GeometryTarget& target, const VertexOutput& v);
    std::uint32_t project(const GeometryTarget& target, const VertexOutput& v, bool perspective);
    // Clip codes, projections and snapped positions of the first vertices of a draw, eight at
    // a time, as the one-by-one loop of addPrimitives finds them; returns how many it did.
    // The projections go to the pool, or with toLanes to the lanes.
    UINT prepareVerticesWide(const GeometryTarget& target, const VertexOutput* vertices, UINT count,
                             bool toLanes);
    // Writes the projection of vertex i of the draw, inside every plane, to the lanes.
    void projectToLanes(const GeometryTarget& target, const VertexOutput& v, UINT i);
    // Moves the projections of the draw's count vertices that lie inside every plane from the
    // lanes to the pool.
    void lanesToPool(UINT count);
    // Emits the triangle of three projected vertices (pool offsets) at their snapped
    // positions x, y.
    void emitTriangle(const GeometryTarget& target, const std::uint32_t vertex[3],
                      const std::int32_t x[3], const std::int32_t y[3]);
    // Stores a triangle that is drawn, with the pixels it may cover and (where worked out)
    // those it does, and bins it into the strips of its rows.
    void storeTriangle(const std::int32_t x[3], const std::int32_t y[3], std::uint32_t planes,
                       int colMin, int colMax, int rowMin, int rowMax, Coverage cover);
    // Bins triangle `index`, stored with these bounds and coverage, into the strips of the
    // rows it covers.
    void binTriangle(std::uint32_t index, int colMin, int colMax, int rowMin, int rowMax,
                     Coverage cover);
    // The same for the draw's vertices index[0..2], projected and snapped up front.
    void emitPrepared(const GeometryTarget& target, const UINT index[3]);
    // Snapped positions x[i], y[i] and values rows[r][i] of a strip's vertices i: rows
    // strides apart from firstRow, those of depth, 1/w and the draw's stored attributes.
    struct StripVertices {
        StripVertices(const std::int32_t* x, const std::int32_t* y, const float* firstRow,
                      std::size_t stride, int rowCount);
        const std::int32_t* x;
        const std::int32_t* y;
        const float* rows[2 + MAX_ATTRIBUTES];
    };
    // emitPrepared for the count triangles of a strip whose vertices are in the lanes, eight
    // at a time, solving the planes of those it keeps as it goes. The last lanes may read up
    // to eight vertices past the draw's last.
    void emitStripWide(const GeometryTarget& target, const StripVertices& vertices, UINT count);
    // The same for vertices not snapped yet.
    void emitProjected(const GeometryTarget& target, const std::uint32_t vertex[3]);
    void bin(std::uint32_t entry, int rowMin, int rowMax);
    // The triangle of entry e of a strip's bin, or null where there is none.
    const BatchTriangle* triangleAt(const PodBuffer<std::uint32_t>& bin, std::size_t e) const;
    // Ask for the triangle, or its planes, that entry e of a strip's bin (if any) will read.
    void fetchTriangle(const PodBuffer<std::uint32_t>& bin, std::size_t e) const;
    void fetchPlanes(const PodBuffer<std::uint32_t>& bin, std::size_t e) const;
    // Draws the entries of a strip's bin from e on while they are gathered triangles of thin
    // draws whose planes were solved at set-up; returns the first entry it left.
    template <class Gathering>
    std::size_t drawThinEntries(Gathering& gathering, const PodBuffer<std::uint32_t>& bin,
                                std::size_t e, int stripTop, int stripBottom) const;

    PodBuffer<float> pool_;            // per vertex: X, Y, Z, 1/w, then the draw's attributes
    PodBuffer<float> planes_;          // plane groups of triangles solved at set-up
    PodBuffer<std::uint32_t> corners_; // pool offsets of the corners of the others
    PodBuffer<BatchTriangle> triangles;
    std::vector<BatchPoint> points;
    std::vector<BatchClear> clears;
    std::vector<PodBuffer<std::uint32_t>> bins_;    // per strip, in drawing order
    int strips_ = 0;                                // bins_.size(), asked for per triangle
    int stripShift_ = 4;                            // log2 of the rows of a strip
    unsigned threads_ = 1;                          // render threads that draw the batch
    std::vector<std::uint32_t> projected_;          // pool offset of each vertex of the draw
    std::vector<std::uint8_t> codes_;               // clip planes each vertex is outside
    std::vector<std::int32_t> snappedX_, snappedY_; // of each vertex inside every plane
    // A strip drawn wide keeps its vertices' projections here rather than in the pool, value
    // by value: row r holds value r of the pool's entry of each vertex, laneStride_ apart.
    std::vector<float> lanes_;
    std::size_t laneStride_ = 0;
    std::uint32_t currentDraw_ = 0;
    int storedAttributes_ = 0;
    const AttributeSlot* attributes_ = nullptr;
};

} // namespace tessivane::platform::soft
