#include "platform/image_file.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <vector>

namespace tessivane::platform {

namespace {

// libpng reports errors by longjmp; nothing with a destructor may live across it, so the
// encoder works on plain data only.
bool encode(std::FILE* file, const std::uint32_t* pixels, int width, int height,
            std::uint8_t* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* source = pixels + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(source[x] >> 16);
            row[3 * x + 1] = static_cast<std::uint8_t>(source[x] >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(source[x]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(const std::string& path, const std::uint32_t* pixels, int width, int height,
              std::string& error) {
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    const char* reason = nullptr;
    if (!encode(file, pixels, width, height, row.data())) {
        reason = "the PNG encoder failed";
    } else if (std::fflush(file) != 0 || std::ferror(file)) {
        reason = std::strerror(errno);
    }
    if (std::fclose(file) != 0 && reason == nullptr) {
        reason = std::strerror(errno);
    }
    if (reason == nullptr && std::rename(partial.c_str(), path.c_str()) != 0) {
        reason = std::strerror(errno);
    }
    if (reason != nullptr) {
        error = "cannot write " + path + ": " + reason;
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

} // namespace tessivane::platform
