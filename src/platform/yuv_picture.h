// Colour conversion for video files: the device's X8R8G8B8 pixels to the planar Y'CbCr 4:2:0
// pictures video encoders take.
#pragma once

#include <cstdint>

namespace tessivane::platform {

// Where a converted picture goes: a full-size plane of luma and two of chroma, half as wide
// and half as high (rounded up); pitches in bytes from one row to the next.
struct Yuv420Planes {
    std::uint8_t* y = nullptr;
    std::uint8_t* cb = nullptr;
    std::uint8_t* cr = nullptr;
    int yPitch = 0;
    int cbPitch = 0;
    int crPitch = 0;
};

// Converts a picture of width x height X8R8G8B8 words, pitch words from one row to the next,
// to studio-range Y'CbCr with the ITU-R BT.601 weights: luma 16..235 per pixel, chroma 16..240
// from the mean of each 2x2 block (its last column or row taken twice where the size is
// odd), every value rounded to nearest.
void toYuv420(const std::uint32_t* pixels, int width, int height, int pitch,
              const Yuv420Planes& out);

// The same, one pixel at a time, without vector instructions: the very same bytes.
void toYuv420Plain(const std::uint32_t* pixels, int width, int height, int pitch,
                   const Yuv420Planes& out);

} // namespace tessivane::platform
