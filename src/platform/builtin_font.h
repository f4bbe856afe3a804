// A small bitmap font built into the program, for machines without a usable scalable font.
#pragma once

#include <cstdint>

namespace tessivane::platform::detail {

inline constexpr int BUILTIN_GLYPH_COLUMNS = 5;
inline constexpr int BUILTIN_GLYPH_ROWS = 9;
// A character cell: one blank row above the glyph, one blank column after it.
inline constexpr int BUILTIN_CELL_HEIGHT = BUILTIN_GLYPH_ROWS + 1;
inline constexpr int BUILTIN_ASCENT = 8;
inline constexpr int BUILTIN_ADVANCE = BUILTIN_GLYPH_COLUMNS + 1;

// The glyph's rows, top first; in each row bit 4 is the leftmost column.
const std::uint8_t* builtinGlyph(unsigned char code);

} // namespace tessivane::platform::detail
