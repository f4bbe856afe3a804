// The vertex records of the metaball scene, with their device layouts.
#pragma once

#include <cstdint>

namespace tessivane::metaballs {

// A point of the polygonised surface: position and unit normal in grid space, diffuse
// colour, and texture coordinates taken from the normal. Flexible vertex format 0x152.
struct MetaballVertex {
    float x, y, z;
    float nx, ny, nz;
    std::uint32_t diffuse;
    float u, v;
};
inline constexpr std::uint32_t METABALL_VERTEX_FVF = 0x152; // xyz | normal | diffuse | tex1
static_assert(sizeof(MetaballVertex) == 36);

// A corner of a textured quad: position and texture coordinates. Flexible format 0x102.
struct QuadVertex {
    float x, y, z;
    float u, v;
};
inline constexpr std::uint32_t QUAD_VERTEX_FVF = 0x102; // xyz | tex1
static_assert(sizeof(QuadVertex) == 20);

} // namespace tessivane::metaballs
