// The piece: fourteen patterns of 64 rows over eight channels, and the order they play in.
//
// One row is a 32nd note: 8 rows a beat at 100 beats a minute, two bars of 4/4 a pattern.
// The song is in A minor and follows the show's three scenes: a calm, slowly filling
// intro for the falling spiral (orders 0-9), a glowing, drumless interlude for the metaballs
// (orders 10-12), and a driving flight through the tube trees that thins out and fades
// away by the end (orders 13-19).
#pragma once

#include <string>
#include <vector>

namespace tessivane::music {
struct Module;
}

namespace tessivane::composer {

inline constexpr int CHANNELS = 8;
inline constexpr int PATTERNS = 14;
inline constexpr int ROWS = 64;

// The order table: the pattern each of the 20 orders plays.
const std::vector<int>& songOrders();

// Writes every pattern of module (CHANNELS channels, PATTERNS empty patterns of ROWS rows);
// false with error naming the first mistake in the writing.
bool writeArrangement(music::Module& module, std::string& error);

} // namespace tessivane::composer
