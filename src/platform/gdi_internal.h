// Inside the platform layer only: device contexts over a surface's memory.
#pragma once

#include <cstdint>

#include "platform/gdi.h"

namespace tessivane::platform::detail {

// A context drawing into width x height X8R8G8B8 pixels, rows pitch bytes apart, with the
// defaults of a display context: the system font, black text, an opaque white background.
HDC createSurfaceDC(std::uint8_t* bits, int width, int height, int pitch);
void deleteSurfaceDC(HDC dc);

} // namespace tessivane::platform::detail
