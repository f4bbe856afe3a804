// The stored 1-bit picture and its conversion into the picture texture.
#pragma once

#include <cstdint>

namespace tessivane::scene {

inline constexpr int STORED_PICTURE_BYTES = 8192;

// 256 rows of 32 bytes, bottom row first; bit 7 is the leftmost pixel of a byte, a set bit
// white. Null if the program was built without it.
const std::uint8_t* storedPicture();

// Writes the 256x256 luminance texels (top row first, rows pitch bytes apart): 255 where a
// pixel or any of the up to three pixels to its right in the same byte is set (the mask
// is four bits wide), 254 elsewhere. The fade later takes the 254s down to black.
void expandPicture(const std::uint8_t* stored, std::uint8_t* texels, int pitch);

// One step of the picture's emergence: every texel that is neither black nor white loses 2.
void fadePicture(std::uint8_t* texels, int pitch);

} // namespace tessivane::scene
