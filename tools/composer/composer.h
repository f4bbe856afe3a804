// The show's music: a module composed and synthesised entirely by this code, written to
// assets/music.xm by compose_music and embedded in the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessivane::music {
struct Module;
}

namespace tessivane::composer {

// The module's name in the file.
inline constexpr const char* MUSIC_TITLE = "Tessivane";

// Builds the module: 8 channels, 14 patterns of 64 rows, 8 instruments, 20 orders
// restarting at 0, the linear frequency table, speed 6 and 200 BPM. Null, with error
// saying why, when memory runs out or the score has a mistake. Release with freeModule.
// Every run builds the same module on every machine.
music::Module* composeModule(std::string& error);

// The module as the bytes of an XM file; false with error saying why.
bool composeModuleFile(std::vector<std::uint8_t>& bytes, std::string& error);

} // namespace tessivane::composer
