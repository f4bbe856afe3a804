#include "math/random.h"

namespace tessivane::math {

namespace {
std::uint32_t state = 1;
}

void seedRandom(std::uint32_t seed) {
    state = seed;
}

int drawRandom() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

} // namespace tessivane::math
