// Writes the placeholder module: make_placeholder_module OUT.xm
#include "music/module.h"
#include "music/module_writer.h"
#include "placeholder_module.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace tessivane;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_placeholder_module OUT.xm\n");
        return 2;
    }
    music::Module* module = tools::buildPlaceholderModule();
    if (module == nullptr) {
        std::fprintf(stderr, "make_placeholder_module: out of memory\n");
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    const bool written = music::writeModule(*module, bytes, error, tools::PLACEHOLDER_TITLE);
    music::freeModule(module);
    if (!written) {
        std::fprintf(stderr, "make_placeholder_module: cannot write the module: %s\n",
                     error.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "make_placeholder_module: cannot create %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "make_placeholder_module: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
