// Writing pictures to files.
#pragma once

#include <cstdint>
#include <string>

namespace tessivane::platform {

// Writes width x height X8R8G8B8 pixels (top row first, rows width words apart) as an
// 8-bit RGB PNG. The file appears under its name only when complete; on failure nothing is
// left there and error says what went wrong.
bool writePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              std::string& error);

} // namespace tessivane::platform
