// A song in memory: the module records the loader builds from an XM file, and the playback
// position that the replay and the output advance.
//
// All records are plain data allocated zero-filled with std::calloc and released with
// std::free by their owner: the Module owns its pattern array and every pattern's cells,
// its instrument array, every Sample in the first sampleCount slots of each instrument and
// each of those samples' data. Slots from sampleCount on borrow emptySample.
#pragma once

#include <cstdint>

namespace tessivane::music {

struct Module;

// One stored cell of a pattern, as the file packs it.
struct PatternCell {
    std::uint8_t note;       // 0 none, 1..96 (1 = C of octave 0), 255 key off
    std::uint8_t instrument; // 0 none, 1..128
    std::uint8_t volume;     // the volume-column byte as stored
    std::uint8_t effect;     // 0..35 (letters A.. are 10..)
    std::uint8_t parameter;
};
static_assert(sizeof(PatternCell) == 5);

inline constexpr std::uint8_t NOTE_KEY_OFF = 255;

struct Pattern {
    std::int32_t rowCount; // 1..256 once loaded
    // rowCount x channelCount cells, row by row: row r, channel c is r * channelCount + c.
    // Null when there are no cells (no channels).
    PatternCell* cells;
};

struct EnvelopePoint {
    std::uint16_t position; // tick of the point
    std::uint16_t value;    // 0..64
};
static_assert(sizeof(EnvelopePoint) == 4);

inline constexpr int MAX_SAMPLES_PER_INSTRUMENT = 16;
inline constexpr int MAX_ENVELOPE_POINTS = 12;
inline constexpr int NOTE_COUNT = 96;

// Envelope type bits.
inline constexpr std::uint8_t ENVELOPE_ON = 0x01;
inline constexpr std::uint8_t ENVELOPE_SUSTAIN = 0x02;
inline constexpr std::uint8_t ENVELOPE_LOOP = 0x04;

// Sample loop modes.
inline constexpr std::uint8_t LOOP_NONE = 1;
inline constexpr std::uint8_t LOOP_FORWARD = 2;
inline constexpr std::uint8_t LOOP_PING_PONG = 4;

// Extra zero values after every sample's data, so that interpolation may read past the end.
inline constexpr std::uint32_t SAMPLE_PADDING = 8;

struct Sample {
    // length + SAMPLE_PADDING values, zero beyond the sample except for the guard value at
    // the loop end: a copy of the loop's first value (forward loop), of its last value
    // (ping-pong), 0 after a sample without loop. Null when length is 0.
    std::int16_t* data;
    std::uint32_t length;     // in values
    std::uint32_t loopStart;  // first value of the loop
    std::uint32_t loopLength; // values in the loop; without loop: start 0, length = length
    std::uint8_t volume;      // 0..64
    std::int8_t finetune;     // in 1/128 semitone
    std::int32_t panning;     // 0..255
    std::uint8_t bits;        // 8 or 16 while loading, 16 after; the writer's choice too
    std::uint8_t loopMode;    // LOOP_NONE, LOOP_FORWARD or LOOP_PING_PONG
    std::int8_t relativeNote; // semitones added to every note played
};

struct Instrument {
    std::int32_t sampleCount; // 0..16
    Sample* samples[MAX_SAMPLES_PER_INSTRUMENT];
    std::uint8_t noteSample[NOTE_COUNT]; // sample slot for each note 0..95
    EnvelopePoint volumeEnvelope[MAX_ENVELOPE_POINTS];
    EnvelopePoint panningEnvelope[MAX_ENVELOPE_POINTS]; // 32 = centre
    std::uint8_t volumePointCount;                      // 0..12
    std::uint8_t panningPointCount;                     // 0..12
    std::uint8_t volumeSustain;                         // point indices
    std::uint8_t volumeLoopStart;
    std::uint8_t volumeLoopEnd;
    std::uint8_t panningSustain;
    std::uint8_t panningLoopStart;
    std::uint8_t panningLoopEnd;
    std::uint8_t volumeType;  // ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP; 0 under 2 points
    std::uint8_t panningType; // likewise
    std::uint8_t vibratoType; // auto-vibrato waveform 0..3
    std::uint8_t vibratoSweep;
    std::uint8_t vibratoDepth;
    std::uint8_t vibratoRate;
    std::uint16_t fadeout; // subtracted from a 65536 fade level each tick after key off
};

using TickHandler = void (*)(Module* module);

struct Module {
    Pattern* patterns;       // patternSlotCount entries
    Instrument* instruments; // instrumentCount entries
    std::int32_t samplesToTick;
    std::int32_t samplesPerTick;
    std::int16_t songLength;      // order entries played, 1..256 once loaded
    std::int16_t restartPosition; // below songLength once loaded
    std::int16_t channelCount;    // 0..32
    // 1 + the highest pattern among the first songLength orders.
    std::int32_t usedPatternCount;
    // The larger of the file's pattern count and usedPatternCount.
    std::int32_t patternSlotCount;
    std::int16_t instrumentCount; // 0..128
    std::uint16_t flags;          // bit 0: linear frequency table (else Amiga)
    std::int16_t defaultSpeed;    // ticks per row at the start
    std::int16_t defaultBpm;
    std::uint8_t orderTable[256];
    std::uint8_t initialGlobalVolume; // 64

    // Playback position, reset by the start of playback and advanced by the replay.
    std::int32_t globalVolume;
    std::uint8_t globalVolumeSlide;
    std::int32_t tick;
    std::int32_t speed;
    std::int32_t bpm;
    std::int32_t row;
    std::int32_t order;
    std::int32_t patternDelayTicks;
    std::int32_t nextRow;   // -1 = none pending
    std::int32_t nextOrder; // -1 = none pending
    TickHandler tickHandler;
};

inline constexpr std::uint16_t FLAG_LINEAR_FREQUENCIES = 0x0001;

// The all-zero sample (no data, length 0) and instrument: what the replay plays for numbers
// out of range, and what fills every free sample slot. Never released.
extern Sample emptySample;
extern Instrument emptyInstrument;

// Loads a module from the stream of that name through the registered stream callbacks
// (music/stream.h); null when the stream cannot be opened or does not hold a module the
// replay can play safely, and then lastModuleError() says why and nothing stays allocated.
Module* loadModule(const char* name);
// Why the last loadModule failed ("truncated in pattern 3"); "" after a success.
const char* lastModuleError();

// Releases module and everything it owns, first stopping it if it is playing; false for null.
bool freeModule(Module* module);

// What freeModule calls before it releases anything: the output registers a routine that
// waits until it is outside a block fill and stops playing the module. Null for none.
using ModuleStopRoutine = void (*)(Module* module);
void setModuleStopRoutine(ModuleStopRoutine routine);

} // namespace tessivane::music
