// The small module the program embeds until the composed one replaces it: eight channels of
// drums, bass, a pad and a lead over four 64-row patterns, every sample synthesised here.
#pragma once

namespace tessivane::music {
struct Module;
}

namespace tessivane::tools {

// Builds the placeholder song; null when memory runs out. Release with freeModule. The
// result is the same on every machine: the samples are made with integer arithmetic only.
music::Module* buildPlaceholderModule();

// The title written into the file.
inline constexpr const char* PLACEHOLDER_TITLE = "Tessivane sketch";

} // namespace tessivane::tools
