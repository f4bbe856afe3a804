// The show's stored picture: a 256x256 1-bit portrait, drawn from curves.
#pragma once

#include <array>
#include <cstdint>

namespace tessivane::tools {

inline constexpr int PICTURE_SIZE = 256;
inline constexpr int PICTURE_BYTES = PICTURE_SIZE * PICTURE_SIZE / 8; // 8192

// The picture in the stored layout: 256 rows of 32 bytes, bottom row first, bit 7 the
// leftmost pixel of its byte, a set bit white.
std::array<std::uint8_t, PICTURE_BYTES> drawPortrait();

} // namespace tessivane::tools
