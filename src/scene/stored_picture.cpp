#include "scene/stored_picture.h"

#include "platform/resource.h"

namespace tessivane::scene {

using namespace platform;

namespace {
constexpr WORD PICTURE_ID = 102;
}

const std::uint8_t* storedPicture() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(PICTURE_ID), "PICTURE");
    if (resource == nullptr || SizeofResource(nullptr, resource) != STORED_PICTURE_BYTES) {
        return nullptr;
    }
    return static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
}

void expandPicture(const std::uint8_t* stored, std::uint8_t* texels, int pitch) {
    for (int t = 0; t < 256; ++t) {
        const std::uint8_t* row = stored + (255 - t) * 32;
        std::uint8_t* out = texels + t * pitch;
        for (int x = 0; x < 256; ++x) {
            const unsigned mask = 0xF0u >> (x % 8);
            out[x] = (row[x / 8] & mask) != 0 ? 255 : 254;
        }
    }
}

void fadePicture(std::uint8_t* texels, int pitch) {
    for (int y = 0; y < 256; ++y) {
        std::uint8_t* row = texels + y * pitch;
        for (int x = 0; x < 256; ++x) {
            if (row[x] != 0 && row[x] != 255) {
                row[x] = static_cast<std::uint8_t>(row[x] - 2);
            }
        }
    }
}

} // namespace tessivane::scene
