#include "audio/mixer.h"

#include "audio/mixer_paths.h"
#include "music/module.h"
#include "music/voice.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessivane::audio {

using music::Sample;
using music::Voice;

int rampFrames = 128;
float rampFramesInverse = 1.0f / 128;

namespace {

// 1/255 as the single-precision value 0.003921568859368563 (bits 0x3B808081): level L is the
// gain L / 255, and 255 x this rounds to exactly 1.0f.
constexpr float ONE_255TH = 0.003921568859368563f;
constexpr float ONE_256TH = 1.0f / 256.0f;
// The interpolation weight is the top 31 bits of the fraction, scaled by 2^-31.
constexpr float TWO_TO_MINUS_31 = 4.656612873077393e-10f;
// Segments whose boundary lies 2^24 positions or more away are not cut at it: the distance
// is divided as a 24.24 value by an 8.24 step.
constexpr std::uint64_t FAR_AWAY = std::uint64_t{1} << 24;
constexpr std::uint64_t LOW_BIT = 1;

struct Frame {
    const std::int16_t* data;
    std::uint64_t position;
    std::uint64_t step; // negated (two's complement) when moving backward
};

// The sample value at the position, interpolated between it and the next.
inline float sampleAt(const std::int16_t* data, std::uint64_t position) {
    const auto index = static_cast<std::uint32_t>(position >> 32);
    const auto fraction = static_cast<std::uint32_t>(position);
    const float s0 = data[index];
    const float s1 = data[index + 1];
    const float w = static_cast<float>(static_cast<std::int32_t>(fraction >> 1)) * TWO_TO_MINUS_31;
    return s0 + w * (s1 - s0);
}

// The position carries 31 fraction bits from frame to frame: bit 0 is dropped before the
// step is added.
inline std::uint64_t advance(std::uint64_t position, std::uint64_t step) {
    return (position & ~LOW_BIT) + step;
}

#if defined(__SSE2__)
// The interpolated values of four frames from position on, computed side by side with the
// same single-precision operations as sampleAt; position moves past them.
inline __m128 fourValues(const std::int16_t* __restrict data, std::uint64_t& position,
                         std::uint64_t step) {
    std::uint64_t at[4];
    for (std::uint64_t& a : at) {
        a = position;
        position = advance(position, step);
    }
    // Each frame's two neighbouring values in one 32-bit load: the first in the low half,
    // the next in the high half (the data is little-endian 16-bit).
    const auto pair = [&](int k) {
        std::int32_t both;
        std::memcpy(&both, data + (at[k] >> 32), sizeof both);
        return both;
    };
    const auto weight = [&](int k) {
        return static_cast<int>(static_cast<std::uint32_t>(at[k]) >> 1);
    };
    const __m128i pairs = _mm_setr_epi32(pair(0), pair(1), pair(2), pair(3));
    const __m128 s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16));
    const __m128 s1 = _mm_cvtepi32_ps(_mm_srai_epi32(pairs, 16));
    const __m128 w =
        _mm_mul_ps(_mm_cvtepi32_ps(_mm_setr_epi32(weight(0), weight(1), weight(2), weight(3))),
                   _mm_set1_ps(TWO_TO_MINUS_31));
    return _mm_add_ps(s0, _mm_mul_ps(w, _mm_sub_ps(s1, s0)));
}
#endif

// count frames whose gains grow by their steps after every frame; the gains are kept in
// double precision through the segment.
void mixRamp(float* __restrict out, const std::int16_t* __restrict data, std::uint64_t& position,
             std::uint64_t step, int count, double& left, double& right, double leftStep,
             double rightStep) {
    std::uint64_t p = position;
    for (int i = 0; i < count; ++i) {
        const double v = sampleAt(data, p);
        p = advance(p, step);
        out[0] = static_cast<float>(out[0] + v * left);
        out[1] = static_cast<float>(out[1] + v * right);
        left += leftStep;
        right += rightStep;
        out += 2;
    }
    position = p;
}

// Where count frames at constant step leave the position: exactly what mixConstant leaves,
// without reading the sample. After the first frame every position has bit 0 equal to the
// step's, so each later frame drops that bit again.
std::uint64_t skip(std::uint64_t position, std::uint64_t step, int count) {
    if (count < 1) {
        return position;
    }
    const auto n = static_cast<std::uint64_t>(count);
    return (position & ~LOW_BIT) + n * step - (n - 1) * (step & LOW_BIT);
}

// The 32.32 position reflected at the boundary b (a 32.32 value): 2b - position - 2^-32.
inline std::uint64_t reflect(std::uint64_t position, std::uint64_t boundary) {
    return 2 * boundary - position - 1;
}

inline std::int64_t wholePart(std::uint64_t position) {
    return static_cast<std::int64_t>(position) >> 32;
}

// Turns at the ends of a ping-pong loop. The voice reflects at the end it passed, and at the
// other end as well when one step took it past both. A step of more than two loop lengths
// can still leave it outside: it keeps reflecting until it is back where it can be played
// (a forward voice below the end and not before the sample's start, a backward voice inside
// the loop).
void pingPong(Voice& voice, std::uint64_t& position, std::int64_t loopStart, std::int64_t loopEnd) {
    const std::uint64_t start = static_cast<std::uint64_t>(loopStart) << 32;
    const std::uint64_t end = static_cast<std::uint64_t>(loopEnd) << 32;
    if (voice.direction != music::DIRECTION_BACKWARD) {
        position = reflect(position, end);
        voice.direction = music::DIRECTION_BACKWARD;
        if (wholePart(position) < loopStart) {
            position = reflect(position, start);
            voice.direction = music::DIRECTION_FORWARD;
        }
    } else {
        position = reflect(position, start);
        voice.direction = music::DIRECTION_FORWARD;
        if (wholePart(position) >= loopEnd) {
            position = reflect(position, end);
            voice.direction = music::DIRECTION_BACKWARD;
        }
    }
    for (int turns = 0; turns < 1024; ++turns) {
        const std::int64_t whole = wholePart(position);
        const bool backward = voice.direction == music::DIRECTION_BACKWARD;
        const std::int64_t lowest = backward ? loopStart : 0;
        if (whole >= lowest && whole < loopEnd) {
            return;
        }
        if (whole < loopStart) {
            position = reflect(position, start);
            voice.direction = music::DIRECTION_FORWARD;
        } else {
            position = reflect(position, end);
            voice.direction = music::DIRECTION_BACKWARD;
        }
    }
}

void mixVoice(Voice& voice, float* out, int frames) {
    const Sample& sample = *voice.sample;
    const std::int16_t* data = sample.data;
    const std::int64_t loopStart = sample.loopStart;
    const std::int64_t loopEnd = loopStart + sample.loopLength;
    const std::uint64_t start = static_cast<std::uint64_t>(loopStart) << 32;
    const std::uint64_t end = static_cast<std::uint64_t>(loopEnd) << 32;
    std::uint64_t position = std::uint64_t{voice.positionInt} << 32 | voice.positionFrac;
    const std::uint64_t step =
        std::uint64_t{static_cast<std::uint32_t>(voice.stepInt)} << 32 | voice.stepFrac;
    // The step as 8.24, the divisor that finds the frames to a boundary.
    const std::uint32_t step824 =
        static_cast<std::uint32_t>(voice.stepInt) << 24 | voice.stepFrac >> 8;

    int left = frames;
    while (left > 0) {
        const bool backward = voice.direction == music::DIRECTION_BACKWARD;
        // Frames until the position reaches or passes the boundary it moves towards.
        int count = left;
        bool boundary = false;
        const std::uint64_t distance = backward ? position - start : end - position;
        if (distance >> 32 < FAR_AWAY && step824 != 0) {
            const std::uint64_t d = distance >> 8;
            std::uint64_t frames = d / step824 + (d % step824 != 0 ? 1 : 0);
            if (frames == 0 && distance != 0) {
                // Less than 2^-24 of a sample away: one frame passes it. Counting none would
                // turn a backward ping-pong voice there at the loop's start without moving it,
                // back to where it was, for ever.
                frames = 1;
            }
            if (frames <= static_cast<std::uint64_t>(count)) {
                count = static_cast<int>(frames);
                boundary = true;
            }
        }

        // The ramp: the running one goes on while its targets stay; otherwise a new one
        // starts from the levels reached.
        int rampLength = 0;
        if (voice.rampRemaining != 0 && voice.volumeLeft == voice.rampRefLeft &&
            voice.volumeRight == voice.rampRefRight) {
            rampLength = voice.rampRemaining;
        } else {
            voice.rampRefLeft = voice.volumeLeft;
            voice.rampRefRight = voice.volumeRight;
            const int diffLeft = voice.volumeLeft - static_cast<int>(voice.levelLeft >> 8);
            const int diffRight = voice.volumeRight - static_cast<int>(voice.levelRight >> 8);
            voice.rampStepLeft = static_cast<float>(static_cast<double>(diffLeft) * ONE_255TH *
                                                    static_cast<double>(rampFramesInverse));
            voice.rampStepRight = static_cast<float>(static_cast<double>(diffRight) * ONE_255TH *
                                                     static_cast<double>(rampFramesInverse));
            if (diffLeft != 0 || diffRight != 0) {
                rampLength = rampFrames;
            } else {
                voice.rampRemaining = 0;
            }
        }
        bool cutByRamp = false;
        if (rampLength > 0) {
            voice.rampRemaining = rampLength;
            if (rampLength < count) {
                count = rampLength;
                cutByRamp = true;
            }
        }

        const std::uint64_t signedStep = backward ? ~step + 1 : step;
        if (rampLength > 0) {
            double gainLeft = static_cast<float>(voice.levelLeft) * ONE_256TH * ONE_255TH;
            double gainRight = static_cast<float>(voice.levelRight) * ONE_256TH * ONE_255TH;
            mixRamp(out, data, position, signedStep, count, gainLeft, gainRight, voice.rampStepLeft,
                    voice.rampStepRight);
            if (count > 0) {
                voice.levelLeft =
                    static_cast<std::uint32_t>(std::max(0L, std::lrint(gainLeft * 255 * 256)));
                voice.levelRight =
                    static_cast<std::uint32_t>(std::max(0L, std::lrint(gainRight * 255 * 256)));
            }
            voice.rampRemaining -= count;
            if (voice.rampRemaining == 0) {
                // The ramp lands exactly on its targets.
                voice.rampStepLeft = 0.0f;
                voice.rampStepRight = 0.0f;
                voice.levelLeft = static_cast<std::uint32_t>(std::max(voice.volumeLeft, 0)) * 256;
                voice.levelRight = static_cast<std::uint32_t>(std::max(voice.volumeRight, 0)) * 256;
            }
        } else {
            const float gainLeft = static_cast<float>(voice.volumeLeft) * ONE_255TH;
            const float gainRight = static_cast<float>(voice.volumeRight) * ONE_255TH;
            if (gainLeft == 0.0f && gainRight == 0.0f) {
                // Adding zeros changes no sum: a silent voice only moves on.
                position = skip(position, signedStep, count);
            } else {
                detail::mixConstantWide(out, data, position, signedStep, count, gainLeft,
                                        gainRight);
            }
        }
        left -= count;
        out += 2 * count;
        if (cutByRamp) {
            continue; // the boundary was not reached
        }
        if (!boundary) {
            continue;
        }
        if (sample.loopMode == music::LOOP_FORWARD && sample.loopLength > 0) {
            // Back by loop lengths until inside the loop, in one division: a huge step can
            // pass the end by billions of lengths.
            const std::int64_t length = sample.loopLength;
            std::int64_t whole = wholePart(position);
            if (whole >= loopEnd) {
                whole = loopStart + (whole - loopStart) % length;
            } else if (whole >= length) {
                whole -= length; // short of the end by a fraction: one length back
            } else {
                whole = loopStart + ((whole - loopStart) % length + length) % length;
            }
            position =
                static_cast<std::uint64_t>(whole) << 32 | static_cast<std::uint32_t>(position);
        } else if (sample.loopMode == music::LOOP_PING_PONG && sample.loopLength > 0) {
            pingPong(voice, position, loopStart, loopEnd);
        } else {
            // The end of a sample without loop: silent until triggered again.
            voice.sample = nullptr;
            position = 0;
            break;
        }
    }
    voice.positionInt = static_cast<std::uint32_t>(position >> 32);
    voice.positionFrac = static_cast<std::uint32_t>(position);
}

} // namespace

namespace detail {

// Two frames per pass.
void mixConstantPlain(float* __restrict out, const std::int16_t* __restrict data,
                      std::uint64_t& position, std::uint64_t step, int count, float left,
                      float right) {
    std::uint64_t p = position;
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const float v0 = sampleAt(data, p);
        p = advance(p, step);
        const float v1 = sampleAt(data, p);
        p = advance(p, step);
        out[0] += v0 * left;
        out[1] += v0 * right;
        out[2] += v1 * left;
        out[3] += v1 * right;
        out += 4;
    }
    if (i < count) {
        const float v = sampleAt(data, p);
        p = advance(p, step);
        out[0] += v * left;
        out[1] += v * right;
    }
    position = p;
}

void mixConstantWide(float* __restrict out, const std::int16_t* __restrict data,
                     std::uint64_t& position, std::uint64_t step, int count, float left,
                     float right) {
#if defined(__SSE2__)
    std::uint64_t p = position;
    const __m128 gains = _mm_setr_ps(left, right, left, right);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 v = fourValues(data, p, step);
        const __m128 first = _mm_mul_ps(_mm_unpacklo_ps(v, v), gains);
        const __m128 second = _mm_mul_ps(_mm_unpackhi_ps(v, v), gains);
        _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), first));
        _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), second));
        out += 8;
    }
    position = p;
    mixConstantPlain(out, data, position, step, count - i, left, right);
#else
    mixConstantPlain(out, data, position, step, count, left, right);
#endif
}

} // namespace detail

void mixVoices(float* destination, int frames) {
    if (frames < 1 || destination == nullptr) {
        return;
    }
    for (int i = 0; i < music::MIXED_VOICE_COUNT; ++i) {
        Voice& voice = music::voices[i];
        if (voice.sample != nullptr) {
            mixVoice(voice, destination, frames);
        }
    }
}

void convertToPcm16(std::int16_t* destination, const float* source, int frames) {
    if (frames < 1 || destination == nullptr || source == nullptr) {
        return;
    }
    const int count = frames * 2;
    int i = 0;
#if defined(__SSE2__)
    // Clipped first, so that rounding (to nearest, ties to even) and packing never saturate
    // anything but what is already at the limits.
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    const __m128 highest = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(source + i), lowest), highest);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(source + i + 4), lowest), highest);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), packed);
    }
#endif
    // Adding and taking away 1.5 x 2^23 rounds to an integer, ties to even, for every value
    // within the clipped range.
    constexpr float ROUNDER = 12582912.0f;
    for (; i < count; ++i) {
        const float clipped = std::clamp(source[i], -32768.0f, 32767.0f);
        const float rounded = (clipped + ROUNDER) - ROUNDER;
        destination[i] = static_cast<std::int16_t>(static_cast<int>(rounded));
    }
}

} // namespace tessivane::audio
