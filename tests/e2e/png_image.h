// Reading the program's PNG output back in tests.
#pragma once

#include <cstdint>
#include <png.h>
#include <string>
#include <vector>

namespace tessivane::testing {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // 3 bytes per pixel, top row first

    std::uint32_t at(int x, int y) const {
        const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    }
};

inline bool readPng(const std::string& path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

} // namespace tessivane::testing
