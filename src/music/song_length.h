// How long a song plays before it repeats itself.
#pragma once

#include <cstdint>

namespace tessivane::music {

struct Module;

struct SongLength {
    std::uint64_t frames; // output frames at the rate measured with
    bool ends;            // false: no repeat was found within the limit
};

// Plays module's song from its start through the replay alone, without mixing, until it
// first comes back to an order and row it has already played, and counts the frames the
// ticks up to that row take at rate. The rows a pattern loop repeats do not count as a
// return. A song that has not returned within limitFrames gives limitFrames and ends false.
// The process-wide replay state (channels, voices, sample rate), the module's playback
// fields and its samples' finetunes are left as they were. Not while the module plays.
SongLength measureSongLength(Module& module, int rate, std::uint64_t limitFrames);

} // namespace tessivane::music
