// Writes the show's module: compose_music OUT.xm
#include "composer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: compose_music OUT.xm\n");
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!tessivane::composer::composeModuleFile(bytes, error)) {
        std::fprintf(stderr, "compose_music: %s\n", error.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "compose_music: cannot create %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "compose_music: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    return 0;
}
