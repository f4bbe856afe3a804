// The shared pseudo-random generator: one 32-bit state for the whole program, 1 until it
// is first seeded. The picture depends on its exact sequence and on the order of every
// seed and draw, so nothing else may draw from it.
#pragma once

#include <cstdint>

namespace tessivane::math {

// Sets the state to seed.
void seedRandom(std::uint32_t seed);
// Advances the state (state · 214013 + 2531011, modulo 2^32) and returns its bits 16..30,
// a value in 0..32767.
int drawRandom();

} // namespace tessivane::math
