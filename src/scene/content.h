// The generated geometry of the scenes, built once at start-up.
#pragma once

#include "math/matrix4.h"
#include "scene/vertex_formats.h"

namespace tessivane::scene {

inline constexpr int CUBE_VERTICES = 36;

// Writes the falling spiral of orange cubes, 36 vertices each: a cube of edge 0.4 every
// 0.4 units down from y = 25, ten to a turn of radius 1, for as long as the level stays
// above 5 (51 cubes) and the buffer has room. Returns the number of cubes written.
int writeCubeSpiral(LitVertex* vertices, int capacityCubes);

// The placement of structure index on the helix: seeds the shared generator with index,
// advances theta by one random step and turns the structure by a random angle.
math::Matrix4 placeStructure(int index, float& theta);

} // namespace tessivane::scene
