// Inside the mixer (and its tests) only: the frame loops at constant gains, the plain one
// and the one that renders four frames at a time with SSE2. Both give the same bits: the
// same single-precision operations in the same order, only side by side.
#pragma once

#include <cstdint>

namespace tessivane::audio::detail {

// Adds count frames of the sample at position (32.32, moving by step, which is negated
// for a backward voice) times the gains to the float pairs at out; leaves position after
// the last frame.
void mixConstantPlain(float* out, const std::int16_t* data, std::uint64_t& position,
                      std::uint64_t step, int count, float left, float right);
void mixConstantWide(float* out, const std::int16_t* data, std::uint64_t& position,
                     std::uint64_t step, int count, float left, float right);

} // namespace tessivane::audio::detail
