// The show's eight instruments, synthesised from nothing: drums, a bass, a pad, a lead, a
// glassy pluck and a wind of filtered noise.
//
// Pitched instruments are tuned so that a cell's note sounds at its name: note C-4 (cell
// note 49) is middle C, 261.6 Hz. Drums sound as recorded on the notes named below.
#pragma once

#include <cstdint>

namespace tessivane::music {
struct Instrument;
}

namespace tessivane::composer {

// Instrument numbers as cells store them.
enum InstrumentNumber : std::uint8_t {
    KICK = 1, // 16-bit, no loop; higher notes make toms of it
    SNARE,    // 8-bit, no loop
    HATS,     // 8-bit: a closed hat (no loop) and an open hat (ping-pong loop)
    BASS,     // 16-bit, forward loop: a pluck whose brightness dies into a held tone
    PAD,      // 16-bit, forward loop: five detuned saws beating slowly
    LEAD,     // 16-bit, forward loop: one bright cycle with a delayed vibrato
    PLUCK,    // 16-bit, forward loop: a glassy mallet for bells and arpeggios
    WIND,     // 8-bit, ping-pong loop: noise, dark at low notes, a cymbal wash up high
    INSTRUMENT_COUNT = WIND
};

// Semitone numbers of the notes, 0 = C-0; a cell stores the number + 1.
inline constexpr int C4 = 48;
// Where the drums sound as made.
inline constexpr int DRUM_NOTE = C4;
inline constexpr int CLOSED_HAT_NOTE = C4;
inline constexpr int OPEN_HAT_NOTE = C4 + 2;

// Fills instrument (empty, as createModule leaves it) with the sound numbered number;
// false when memory runs out or the number is unknown.
bool makeInstrument(music::Instrument& instrument, InstrumentNumber number);

} // namespace tessivane::composer
