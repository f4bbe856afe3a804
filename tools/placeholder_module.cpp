#include "placeholder_module.h"

#include "music/module.h"
#include "music/module_builder.h"

#include <cstdint>

namespace tessivane::tools {

using namespace music;

namespace {

constexpr int CHANNELS = 8;
constexpr int PATTERNS = 4;
constexpr int ROWS = 64;
constexpr int ROWS_PER_CHORD = 16;

enum Channel { KICK, HAT, BASS, PAD_LOW, PAD_MID, PAD_HIGH, LEAD, ECHO };
enum InstrumentNumber {
    KICK_INSTRUMENT = 1,
    HAT_INSTRUMENT,
    BASS_INSTRUMENT,
    PAD_INSTRUMENT,
    LEAD_INSTRUMENT,
    INSTRUMENTS = LEAD_INSTRUMENT
};

// Note numbers as cells store them: 1 is C of octave 0.
enum Pitch { C = 0, D = 2, E = 4, F = 5, G = 7, A = 9, B = 11 };
constexpr std::uint8_t note(int pitch, int octave) {
    return static_cast<std::uint8_t>(octave * 12 + pitch + 1);
}
constexpr std::uint8_t KEY_OFF = NOTE_KEY_OFF;

// The volume column's set-volume range: 0x10 + volume, volume 0..64.
constexpr std::uint8_t volume(int level) {
    return static_cast<std::uint8_t>(0x10 + level);
}

std::int16_t clamp16(std::int32_t v) {
    return static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

// A value that 8-bit data can hold: the high byte only.
std::int16_t eightBit(std::int32_t v) {
    const std::int32_t high = (v >= 0 ? v : v - 255) / 256;
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint16_t>(high) << 8));
}

// A triangle of the 32-bit phase, -32768..32767.
std::int32_t triangle(std::uint32_t phase) {
    const std::int32_t ramp = static_cast<std::int32_t>(phase >> 16); // 0..65535
    return ramp < 32768 ? 2 * ramp - 32768 : 32767 - 2 * (ramp - 32768);
}

// A kick drum: a triangle whose pitch falls fast from about 180 Hz to 45 Hz at the
// 8363 Hz of note C-4, fading out over the sample.
bool makeKick(Instrument& instrument) {
    constexpr std::uint32_t length = 2400;
    Sample* s = addSample(instrument, length);
    if (s == nullptr) {
        return false;
    }
    // A quarter cycle in, where the triangle crosses zero: no click at the start.
    std::uint32_t phase = 0x40000000u;
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint64_t left = length - i;
        // Phase steps per value for 45 Hz and 180 Hz at 8363 values per second.
        const std::uint64_t low = 23110000ull;
        const std::uint64_t high = 92440000ull;
        const std::uint64_t falling = (high - low) * left * left / (std::uint64_t{length} * length);
        const std::uint64_t fast = falling * left / length;
        phase += static_cast<std::uint32_t>(low + fast);
        const std::int32_t level = static_cast<std::int32_t>(28000 * left / length);
        s->data[i] = clamp16(triangle(phase) / 32 * level / 1024);
    }
    s->panning = 128;
    return true;
}

// A closed hat: bright noise (differences of a pseudo-random sequence) dying away quickly.
bool makeHat(Instrument& instrument) {
    constexpr std::uint32_t length = 700;
    Sample* s = addSample(instrument, length);
    if (s == nullptr) {
        return false;
    }
    s->bits = 8;
    std::uint32_t state = 12345;
    std::int32_t previous = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        const std::int32_t noise = static_cast<std::int32_t>(state >> 16 & 0xFFFF) - 32768;
        const std::int32_t bright = (noise - previous) / 2;
        previous = noise;
        const std::int32_t left = static_cast<std::int32_t>(length - i);
        s->data[i] = eightBit(bright / 2 * left / static_cast<std::int32_t>(length));
    }
    s->panning = 176;
    s->volume = 40;
    return true;
}

// A bass: half a cycle of a ramp, played back and forth, is a triangle of 128 values, so
// note C-4 sounds C-2.
bool makeBass(Instrument& instrument) {
    constexpr std::uint32_t length = 64;
    Sample* s = addSample(instrument, length);
    if (s == nullptr) {
        return false;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        s->data[i] = clamp16(-24000 + static_cast<std::int32_t>(i) * 48000 / (length - 1));
    }
    s->loopMode = LOOP_PING_PONG;
    s->loopStart = 0;
    s->loopLength = length;
    s->panning = 128;
    // A short pluck: loud at once, down to nothing in 30 ticks.
    instrument.volumeEnvelope[0] = {0, 64};
    instrument.volumeEnvelope[1] = {6, 40};
    instrument.volumeEnvelope[2] = {30, 0};
    instrument.volumePointCount = 3;
    instrument.volumeType = ENVELOPE_ON;
    return true;
}

// A pad: one cycle of a softened saw of 64 values (note C-4 sounds C-3), swelling in and
// holding until released.
bool makePad(Instrument& instrument) {
    constexpr std::uint32_t length = 64;
    Sample* s = addSample(instrument, length);
    if (s == nullptr) {
        return false;
    }
    s->bits = 8;
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::int32_t saw = -20000 + static_cast<std::int32_t>(i) * 40000 / length;
        const std::int32_t soft = triangle(static_cast<std::uint32_t>(i) << 26) / 3;
        s->data[i] = eightBit((saw + soft) / 2);
    }
    s->loopMode = LOOP_FORWARD;
    s->loopStart = 0;
    s->loopLength = length;
    s->panning = 112;
    s->volume = 48;
    instrument.volumeEnvelope[0] = {0, 0};
    instrument.volumeEnvelope[1] = {24, 56};
    instrument.volumeEnvelope[2] = {60, 44};
    instrument.volumePointCount = 3;
    instrument.volumeSustain = 2;
    instrument.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    instrument.fadeout = 800;
    return true;
}

// A lead: one cycle of a pulse of 32 values (note C-4 sounds C-4), with a quick attack, a
// held sustain and a short release.
bool makeLead(Instrument& instrument) {
    constexpr std::uint32_t length = 32;
    Sample* s = addSample(instrument, length);
    if (s == nullptr) {
        return false;
    }
    s->bits = 8;
    for (std::uint32_t i = 0; i < length; ++i) {
        s->data[i] = eightBit(i < 12 ? 14000 : -8000);
    }
    s->loopMode = LOOP_FORWARD;
    s->loopStart = 0;
    s->loopLength = length;
    s->panning = 144;
    s->volume = 44;
    instrument.volumeEnvelope[0] = {0, 64};
    instrument.volumeEnvelope[1] = {8, 44};
    instrument.volumeEnvelope[2] = {24, 36};
    instrument.volumePointCount = 3;
    instrument.volumeSustain = 2;
    instrument.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    instrument.fadeout = 2048;
    // A gentle vibrato that comes in after a while.
    instrument.vibratoType = 0;
    instrument.vibratoSweep = 40;
    instrument.vibratoDepth = 4;
    instrument.vibratoRate = 10;
    return true;
}

void put(Module& module, int pattern, int row, int channel, std::uint8_t n, int instrument,
         std::uint8_t vol = 0) {
    PatternCell& cell = cellAt(module, pattern, row, channel);
    cell.note = n;
    cell.instrument = static_cast<std::uint8_t>(n == KEY_OFF ? 0 : instrument);
    cell.volume = vol;
}

struct Chord {
    std::uint8_t root;
    std::uint8_t tones[3];
};

// A minor, F, C, G: one chord per 16 rows.
constexpr Chord CHORDS[4] = {
    {note(A, 4), {note(A, 4), note(C, 5), note(E, 5)}},
    {note(F, 4), {note(F, 4), note(A, 4), note(C, 5)}},
    {note(C, 4), {note(E, 4), note(G, 4), note(C, 5)}},
    {note(G, 4), {note(D, 4), note(G, 4), note(B, 4)}},
};

// The lead's tune over one pattern: (row, note), 0 for a release.
struct Step {
    int row;
    std::uint8_t n;
};
constexpr Step TUNE[] = {
    {0, note(E, 5)},  {4, note(C, 5)},  {6, note(D, 5)},  {8, note(E, 5)},  {12, note(G, 5)},
    {14, 0},          {16, note(F, 5)}, {20, note(E, 5)}, {22, note(C, 5)}, {24, note(A, 4)},
    {30, 0},          {32, note(G, 4)}, {36, note(C, 5)}, {40, note(E, 5)}, {44, note(D, 5)},
    {46, 0},          {48, note(D, 5)}, {52, note(B, 4)}, {54, note(G, 4)}, {56, note(D, 5)},
    {60, note(B, 4)}, {62, 0},
};
constexpr int ECHO_DELAY = 3;

void writeDrums(Module& module, int pattern, bool full) {
    for (int row = 0; row < ROWS; row += 8) {
        put(module, pattern, row, KICK, note(C, 4), KICK_INSTRUMENT);
        if (full && row % 16 == 8) {
            put(module, pattern, row + 6, KICK, note(C, 4), KICK_INSTRUMENT, volume(40));
        }
    }
    for (int row = 0; row < ROWS; row += 2) {
        const int level = row % 4 == 2 ? 48 : 24;
        if (full || row % 4 == 2) {
            put(module, pattern, row, HAT, note(C, 5), HAT_INSTRUMENT, volume(level));
        }
    }
}

void writeBass(Module& module, int pattern) {
    for (int row = 0; row < ROWS; row += 2) {
        const Chord& chord = CHORDS[row / ROWS_PER_CHORD];
        // Root on the beat, the octave above on the offbeats of the second half.
        const bool high = row % ROWS_PER_CHORD >= 8 && row % 4 == 2;
        put(module, pattern, row, BASS, high ? chord.root + 12 : chord.root, BASS_INSTRUMENT,
            volume(row % 4 == 0 ? 64 : 44));
    }
}

void writePad(Module& module, int pattern) {
    for (int chord = 0; chord < 4; ++chord) {
        const int row = chord * ROWS_PER_CHORD;
        for (int t = 0; t < 3; ++t) {
            put(module, pattern, row, PAD_LOW + t, CHORDS[chord].tones[t], PAD_INSTRUMENT);
            put(module, pattern, row + ROWS_PER_CHORD - 2, PAD_LOW + t, KEY_OFF, 0);
        }
    }
}

void writeLead(Module& module, int pattern) {
    for (const Step& step : TUNE) {
        const std::uint8_t n = step.n == 0 ? KEY_OFF : step.n;
        put(module, pattern, step.row, LEAD, n, LEAD_INSTRUMENT);
        if (step.row + ECHO_DELAY < ROWS) {
            put(module, pattern, step.row + ECHO_DELAY, ECHO, n, LEAD_INSTRUMENT, volume(20));
        }
    }
}

} // namespace

Module* buildPlaceholderModule() {
    Module* module = createModule(CHANNELS, PATTERNS, ROWS, INSTRUMENTS);
    if (module == nullptr) {
        return nullptr;
    }
    module->defaultSpeed = 6;
    module->defaultBpm = 200;
    Instrument* instruments = module->instruments;
    if (!makeKick(instruments[KICK_INSTRUMENT - 1]) || !makeHat(instruments[HAT_INSTRUMENT - 1]) ||
        !makeBass(instruments[BASS_INSTRUMENT - 1]) || !makePad(instruments[PAD_INSTRUMENT - 1]) ||
        !makeLead(instruments[LEAD_INSTRUMENT - 1]) || !setOrders(*module, {0, 1, 2, 3})) {
        freeModule(module);
        return nullptr;
    }
    // 0: drums and bass; 1: the pad joins; 2: the lead; 3: everything with busier drums.
    writeDrums(*module, 0, false);
    writeBass(*module, 0);
    writeDrums(*module, 1, false);
    writeBass(*module, 1);
    writePad(*module, 1);
    for (int pattern = 2; pattern < PATTERNS; ++pattern) {
        writeDrums(*module, pattern, pattern == 3);
        writeBass(*module, pattern);
        writePad(*module, pattern);
        writeLead(*module, pattern);
    }
    return module;
}

} // namespace tessivane::tools
