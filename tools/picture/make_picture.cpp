// Writes the show's stored picture: make_picture OUT.bin [--pgm PREVIEW.pgm]
#include "picture/portrait.h"

#include <cstdio>
#include <cstring>

using namespace tessivane::tools;

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--pgm") == 0)) {
        std::fprintf(stderr, "usage: make_picture OUT.bin [--pgm PREVIEW.pgm]\n");
        return 2;
    }
    const auto picture = drawPortrait();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(picture.data(), 1, picture.size(), out) != picture.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "make_picture: cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc == 4) {
        std::FILE* preview = std::fopen(argv[3], "wb");
        if (preview == nullptr) {
            std::fprintf(stderr, "make_picture: cannot write %s\n", argv[3]);
            return 1;
        }
        std::fprintf(preview, "P5\n%d %d\n255\n", PICTURE_SIZE, PICTURE_SIZE);
        for (int y = 0; y < PICTURE_SIZE; ++y) {
            const std::uint8_t* row = picture.data() + (PICTURE_SIZE - 1 - y) * (PICTURE_SIZE / 8);
            for (int x = 0; x < PICTURE_SIZE; ++x) {
                std::fputc((row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0, preview);
            }
        }
        std::fclose(preview);
    }
    return 0;
}
