// The marching-cubes triangle table.
#pragma once

#include <cstdint>

namespace tessivane::metaballs {

// Row r: the edges of cube index r's triangles, three per triangle, ended by -1.
extern const std::int8_t triangleTable[128][16];

} // namespace tessivane::metaballs
