// The vertex records scene 0 and the credit quad hand to the device, with their flexible
// vertex format codes. Their layouts are the device's: sizes are checked.
#pragma once

#include "metaballs/metaball_vertex.h"
#include "platform/d3d9.h"

#include <cstdint>

namespace tessivane::scene {

// Position, normal, diffuse colour (0xAARRGGBB).
struct LitVertex {
    float x, y, z;
    float nx, ny, nz;
    std::uint32_t diffuse;
};
inline constexpr platform::DWORD LIT_VERTEX_FVF =
    platform::D3DFVF_XYZ | platform::D3DFVF_NORMAL | platform::D3DFVF_DIFFUSE;
static_assert(sizeof(LitVertex) == 28 && LIT_VERTEX_FVF == 0x52);

// Pixel position (centres at integers), depth, 1/w; texture coordinates.
struct ScreenVertex {
    float x, y, z, rhw;
    float u, v;
};
inline constexpr platform::DWORD SCREEN_VERTEX_FVF =
    platform::D3DFVF_XYZRHW | platform::D3DFVF_TEX1;
static_assert(sizeof(ScreenVertex) == 24 && SCREEN_VERTEX_FVF == 0x104);

// Position and texture coordinates: the credit quad shares the metaball scene's layout.
using metaballs::QUAD_VERTEX_FVF;
using metaballs::QuadVertex;

} // namespace tessivane::scene
