// The show's shader programs, as token streams.
#pragma once

#include <cstdint>
#include <span>

namespace tessivane::shaders {

// The metaball scene: vertex shaders 0..2 (1.1) and pixel shaders 0 (1.1), 1 and 2 (1.3).
std::span<const std::uint32_t> metaballVertexShader(int index);
std::span<const std::uint32_t> metaballPixelShader(int index);
// The tube trees' vertex shader (1.1).
std::span<const std::uint32_t> tubeVertexShader();

} // namespace tessivane::shaders
