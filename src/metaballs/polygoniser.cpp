// Marching cubes over the field grid: every cell on its own, no shared vertices.
#include "metaballs/metaball_effect.h"
#include "metaballs/triangle_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tessivane::metaballs {

namespace {

// Cell corners as grid offsets (dx, dy, dz): 0-3 the face at iy, 4-7 the face at iy + 1.
constexpr int CORNER_OFFSETS[8][3] = {{0, 0, 1}, {1, 0, 1}, {1, 0, 0}, {0, 0, 0},
                                      {0, 1, 1}, {1, 1, 1}, {1, 1, 0}, {0, 1, 0}};

// Cell edges: the corner interpolation starts from, the corner it ends at, and the axis.
// The edge's base grid point is its end with the smaller coordinate.
struct Edge {
    int from;
    int to;
    int axis;
};
constexpr Edge EDGES[12] = {{0, 1, 0}, {1, 2, 2}, {2, 3, 0}, {3, 0, 2}, {4, 5, 0}, {5, 6, 2},
                            {6, 7, 0}, {7, 4, 2}, {0, 4, 1}, {1, 5, 1}, {2, 6, 1}, {3, 7, 1}};

constexpr std::uint32_t WHITE = 0xFFFFFFFF;

} // namespace

void MetaballEffect::polygonise() {
    if (sizeX < 2 || sizeY < 2 || sizeZ < 2) {
        return;
    }
    // One bit per grid point, row by row: set where the point is below the level, written as
    // a failed "at or above" test so that a NaN counts as below.
    for (int iz = 0; iz < sizeZ; ++iz) {
        for (int iy = 0; iy < sizeY; ++iy) {
            const float* row = fieldValues + gridIndex(0, iy, iz);
            std::uint64_t below = 0;
            for (int ix = 0; ix < sizeX; ++ix) {
                below |= static_cast<std::uint64_t>(!(row[ix] >= isoLevel)) << ix;
            }
            rowsBelow[iy + sizeY * iz] = below;
        }
    }
    const std::uint64_t fullRow = sizeX == 64 ? ~0ull : (1ull << sizeX) - 1;
    // Linear index steps of the corners from a cell's base point.
    int cornerStep[8];
    for (int k = 0; k < 8; ++k) {
        cornerStep[k] = gridIndex(CORNER_OFFSETS[k][0], CORNER_OFFSETS[k][1], CORNER_OFFSETS[k][2]);
    }
    MetaballVertex scratch[12];
    for (int iz = 0; iz < sizeZ - 1; ++iz) {
        for (int iy = 0; iy < sizeY - 1; ++iy) {
            // The four grid rows around this row of cells; corners 0, 1 lie on the first,
            // 3, 2 on the second, 4, 5 on the third and 7, 6 on the fourth.
            const std::uint64_t r0 = rowsBelow[iy + sizeY * (iz + 1)];
            const std::uint64_t r1 = rowsBelow[iy + sizeY * iz];
            const std::uint64_t r2 = rowsBelow[iy + 1 + sizeY * (iz + 1)];
            const std::uint64_t r3 = rowsBelow[iy + 1 + sizeY * iz];
            // A row of cells wholly inside or wholly outside holds no surface.
            if ((r0 | r1 | r2 | r3) == 0 || (r0 & r1 & r2 & r3) == fullRow) {
                continue;
            }
            for (int ix = 0; ix < sizeX - 1; ++ix) {
                const int cubeIndex = static_cast<int>(
                    ((r0 >> ix) & 1) | ((r0 >> ix) & 2) | (((r1 >> ix) & 2) << 1) |
                    (((r1 >> ix) & 1) << 3) | (((r2 >> ix) & 1) << 4) | (((r2 >> ix) & 2) << 4) |
                    (((r3 >> ix) & 2) << 5) | (((r3 >> ix) & 1) << 7));
                if (cubeIndex == 0 || cubeIndex == 255) {
                    continue;
                }
                const int base = gridIndex(ix, iy, iz);
                for (int e = 0; e < 12; ++e) {
                    const Edge& edge = EDGES[e];
                    if (((cubeIndex >> edge.from) ^ (cubeIndex >> edge.to)) & 1) {
                        const int from = base + cornerStep[edge.from];
                        const int to = base + cornerStep[edge.to];
                        // The edge's base grid point: its lower end along the axis.
                        const int low = std::min(from, to);
                        const int bx = low % sizeX;
                        const int by = (low / sizeX) % sizeY;
                        const int bz = low / (sizeX * sizeY);
                        scratch[e] =
                            edgeVertex(&gridPositions[3 * from], &gridPositions[3 * to],
                                       fieldValues[from], fieldValues[to], bx, by, bz, edge.axis);
                    }
                }
                emitTriangles(cubeIndex, scratch);
            }
        }
    }
}

MetaballVertex MetaballEffect::edgeVertex(const float* p1, const float* p2, float v1, float v2,
                                          int baseX, int baseY, int baseZ, int axis) const {
    const float t = (isoLevel - v1) / (v2 - v1);
    MetaballVertex vertex{};
    float* position = &vertex.x;
    for (int k = 0; k < 3; ++k) {
        position[k] = (1.0f - t) * p1[k] + t * p2[k];
    }
    const int base[3] = {baseX, baseY, baseZ};
    const float fraction =
        (position[axis] - gridPositions[3 * gridIndex(baseX, baseY, baseZ) + axis]) / spacing;

    // The field one grid step beyond the point along each axis, interpolated along the edge.
    // Samples past the far faces of the grid take the nearest grid point's value.
    const int size[3] = {sizeX, sizeY, sizeZ};
    auto field = [&](const int* at) {
        const int x = std::min(at[0], size[0] - 1);
        const int y = std::min(at[1], size[1] - 1);
        const int z = std::min(at[2], size[2] - 1);
        return fieldValues[gridIndex(x, y, z)];
    };
    float normal[3];
    for (int k = 0; k < 3; ++k) {
        int near[3] = {base[0], base[1], base[2]};
        near[k] += 1;
        int far[3] = {near[0], near[1], near[2]};
        far[axis] += 1;
        const float g = field(near) + fraction * (field(far) - field(near));
        normal[k] = isoLevel - g;
    }
    // The length's root in double; a zero length is not guarded against.
    const float squared = normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2];
    const float inverse = 1.0f / static_cast<float>(std::sqrt(static_cast<double>(squared)));
    vertex.nx = normal[0] * inverse;
    vertex.ny = normal[1] * inverse;
    vertex.nz = normal[2] * inverse;
    return vertex;
}

void MetaballEffect::emitTriangles(int cubeIndex, const MetaballVertex* edgeVertices) {
    // Cases with corner 7 below the surface use their complement's row.
    const int row = (cubeIndex & 0x80) ? (~cubeIndex & 0xFF) : cubeIndex;
    const std::int8_t* entries = triangleTable[row];
    for (int i = 0; i < 16 && entries[i] >= 0; i += 3) {
        // Only whole triangles, and only while they fit.
        if (vertexCount + 3 > vertexCapacity()) {
            return;
        }
        for (int j = 0; j < 3; ++j) {
            MetaballVertex& v = vertices[vertexCount++];
            v = edgeVertices[entries[i + j]];
            v.u = (v.nx + 1.0f) * 0.5f;
            v.v = (v.ny + 1.0f) * 0.5f;
            v.diffuse = WHITE;
        }
    }
}

} // namespace tessivane::metaballs
