// The replay: turns the module's rows into the state of the mixer's voices, tick by tick.
//
// It works on the process-wide channels (music/channel.h) and voices (music/voice.h) and on
// the module's playback fields, on the one thread that renders the sound. It allocates
// nothing and does a fixed amount of work per channel and tick.
//
// Whatever the module, it reads nothing out of range: a row beyond the end of the pattern
// it lands in is played as the pattern's row 0, an order beyond the song as order 0, a
// pattern the module does not have as an empty row, and out-of-range notes and envelope
// points as silence or the envelope's last point.
#pragma once

#include <cstdint>

namespace tessivane::music {

struct ChannelState;
struct Module;
struct PatternCell;

// Advances module by one tick. The loader makes it every module's tickHandler; the output
// calls it once per tick, before the frames of that tick are mixed.
void replayTick(Module* module);
// The row tick: notes, instruments, the volume column and the row-tick half of every effect.
void processRow(Module* module);
// The later ticks of a row: slides, portamentos, vibrato, arpeggio, retriggers, cuts, delays.
void processTickEffects(Module* module);
// The row-tick action of a volume-column byte.
void volumeColumnRow(ChannelState& channel, std::uint8_t volumeByte);

// Puts module at the start of its song (order 0, row 0, tick 0, nothing pending, its
// default speed, tempo and global volume) and clears its channels, pointing channel i at
// voice i. The voices are left as they are.
void resetPlayback(Module& module);

// The order and row the next row tick of module will play (the pending jump, break or
// following row, made safe as the replay makes it).
void upcomingRow(const Module& module, int& order, int& row);

// The cells of row in the pattern that order plays, channelCount of them; null when the
// module has no such row.
const PatternCell* rowCells(const Module& module, int order, int row);

} // namespace tessivane::music
