// Building songs in code (tests, the composer): Module records allocated the way the loader
// allocates them, so that freeModule releases them.
#pragma once

#include "music/module.h"

#include <cstdint>
#include <initializer_list>

namespace tessivane::music {

// A module of empty patterns of rowsPerPattern rows and instruments without samples: linear
// frequency table, speed 6, 125 BPM, global volume 64, one order playing pattern 0. Null
// when a count is out of range (channels 0..32, patterns 1..256, rows 1..256, instruments
// 0..128) or memory runs out.
Module* createModule(int channelCount, int patternCount, int rowsPerPattern, int instrumentCount);

// Sets the song's orders, its length and usedPatternCount; false when there are none or
// more than 256, or an order names a pattern the module does not have.
bool setOrders(Module& module, std::initializer_list<int> orders);

// The cell of row, channel in pattern (all in range).
PatternCell& cellAt(Module& module, int pattern, int row, int channel);

// Adds a sample of length zero values (plus the padding) to instrument: 16 bits, no loop
// (start 0, loop length = length), volume 64, centre panning. Null when the instrument has
// 16 already or memory runs out.
Sample* addSample(Instrument& instrument, std::uint32_t length);

} // namespace tessivane::music
