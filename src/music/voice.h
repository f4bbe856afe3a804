// What the replay drives and the sound output plays: the mixer's voices, the output's frame
// rate and the tempo. They live here, below both, because the replay writes them on every
// tick and the output (audio/) reads them while it mixes.
//
// All of it is process-wide state, touched only by the thread that renders the sound (the
// output thread while music plays).
#pragma once

#include <cstdint>

namespace tessivane::music {

struct Module;
struct Sample;

// One sound-generating voice: a sample played at a 32.32 fixed-point position that moves by
// a per-frame step, with left and right levels that the mixer ramps towards their targets.
struct Voice {
    std::int32_t index;         // its own slot in voices, 0..255
    std::int32_t volume;        // the note's final volume as the replay computed it
    std::int32_t panning;       // the note's final panning, 0..255
    std::uint32_t startOffset;  // where the next trigger starts, in sample values
    const Sample* sample;       // null: silent, skipped by the mixer
    std::int32_t volumeLeft;    // target level of the left output, 255 = full gain
    std::int32_t volumeRight;   // target level of the right output
    std::uint32_t positionInt;  // index into the sample's data
    std::uint32_t positionFrac; // fraction of the position, in 2^-32
    std::uint32_t stepFrac;     // fraction of the step (positions per frame), in 2^-32
    std::int32_t stepInt;       // whole part of the step, below 256
    std::int32_t direction;     // 1 forward, 2 backward (inside a ping-pong loop)
    std::int32_t rampRefLeft;   // the volumeLeft the running ramp was set up for
    std::int32_t rampRefRight;
    std::uint32_t levelLeft; // current left level x 256
    std::uint32_t levelRight;
    float rampStepLeft; // gain change per frame of the running ramp
    float rampStepRight;
    std::int32_t rampRemaining; // frames left of the running ramp, 0 for none
};

inline constexpr int VOICE_COUNT = 256;
// Channel c plays on voice c or its twin c + 32, so only these are ever mixed.
inline constexpr int MIXED_VOICE_COUNT = 64;
inline constexpr int TWIN_OFFSET = 32;
inline constexpr std::int32_t DIRECTION_FORWARD = 1;
inline constexpr std::int32_t DIRECTION_BACKWARD = 2;

extern Voice voices[VOICE_COUNT];

// Zeroes every voice, then gives each its slot number and a step of 1.
void clearVoices();

// Frames per second of the output; 44,100 whenever the output is open.
extern int sampleRate;

// Sets the module's BPM and the frames of a tick at sampleRate: a tick lasts 2.5 / bpm
// seconds, truncated to whole frames (882 at 125 BPM and 44,100 Hz). A BPM below 1 is
// taken as 1, and a tick is at least one frame long.
void setTempo(Module* module, int bpm);

} // namespace tessivane::music
