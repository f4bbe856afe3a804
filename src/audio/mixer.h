// The software mixer: adds the playing voices (music/voice.h) into pairs of floats, and turns
// finished pairs into 16-bit sound.
//
// Each voice plays its sample at a 32.32 position with linear interpolation between
// neighbouring values, follows forward and ping-pong loops, stops at the end of a sample
// without loop, and ramps its left and right levels linearly to new targets over rampFrames
// frames. Work is split at events (loop ends, ramp ends) found beforehand with one division,
// so the frame loops test nothing. Rendering a stretch in one call or in several gives the
// same floats.
#pragma once

#include <cstdint>

namespace tessivane::audio {

// The length of a volume ramp in frames (128 at 44,100 Hz) and its inverse; the output sets
// them for its rate when it opens.
extern int rampFrames;
extern float rampFramesInverse;

// Adds frames frames of voices 0..63 to the (left, right) float pairs at destination, in
// ascending voice order; nothing for frames below 1. Advances the voices: positions, loops,
// ramps, and the end of samples without loop.
void mixVoices(float* destination, int frames);

// Rounds frames x 2 floats to the nearest integer (ties to even), clips them to
// -32768..32767 and stores them; nothing for frames below 1 or a null pointer.
void convertToPcm16(std::int16_t* destination, const float* source, int frames);

} // namespace tessivane::audio
