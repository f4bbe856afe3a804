// The replay state of one channel, and the process-wide table of them.
#pragma once

#include <cstdint>

namespace tessivane::music {

struct Voice;

// What updateVoice must pass to the channel's voice this tick.
inline constexpr std::uint8_t UPDATE_FREQUENCY = 0x01;
inline constexpr std::uint8_t UPDATE_VOLUME = 0x02;
inline constexpr std::uint8_t UPDATE_PANNING = 0x04;
inline constexpr std::uint8_t TRIGGER = 0x08; // start the sample
inline constexpr std::uint8_t RESTART = 0x20; // position back to 0 without a trigger

struct ChannelState {
    std::uint8_t keyNote;     // note 0..95 of the last note that set it; picks the sample
    std::uint8_t updateFlags; // UPDATE_FREQUENCY | UPDATE_VOLUME | ... for this tick
    Voice* voice;             // voice c or its twin c + 32
    std::int32_t period;      // without this tick's offset
    std::int32_t volume;      // 0..64 (set volume can go beyond)
    std::int32_t panning;     // 0..255 (the volume column's slides can leave it)
    std::int32_t volumeDelta; // tremolo or tremor offset of this tick
    std::int32_t periodDelta; // vibrato, arpeggio and auto-vibrato offset of this tick
    std::int32_t volumeEnvTick;
    std::int32_t volumeEnvPoint; // the point the running segment leads to
    std::int32_t volumeEnvValue; // 16.16
    std::int32_t volumeEnvLevel; // 0..64
    std::int32_t volumeEnvSlope; // 16.16 per tick
    std::uint8_t volumeEnvDone;
    std::int32_t panningEnvTick;
    std::int32_t panningEnvPoint;
    std::int32_t panningEnvValue;
    std::int32_t panningEnvLevel; // 0..64, 32 = no change
    std::int32_t panningEnvSlope;
    std::uint8_t panningEnvDone;
    std::int32_t fadeVolume;          // 65536 = full; falls after key off
    std::int32_t autoVibratoPosition; // 0..255
    std::int32_t autoVibratoSweep;    // ticks since the instrument started, up to its sweep
    std::uint8_t keyOff;
    std::uint8_t instrument; // instrument number - 1
    std::uint8_t realNote;   // note plus the sample's relative note, modulo 256
    std::int32_t notePeriod; // period of the last note: where tone portamento goes
    std::uint8_t lastEffect; // effect of the previous row
    std::int32_t sampleOffset;
    std::uint8_t portaDownSpeed;
    std::uint8_t portaUpSpeed;
    std::uint8_t extraFineDown;
    std::uint8_t extraFineUp;
    std::uint8_t volumeSlide; // shared by Axy, 5xy and 6xy
    std::uint8_t panningSlide;
    std::uint8_t retrigVolume;
    std::uint8_t retrigInterval;
    std::int32_t portaTarget;
    std::uint8_t portaSpeed;
    std::int8_t vibratoPosition; // -32..31
    std::uint8_t vibratoSpeed;
    std::uint8_t vibratoDepth;
    std::int8_t tremoloPosition; // -32..31
    std::uint8_t tremoloSpeed;
    std::uint8_t tremoloDepth;
    std::uint8_t tremorCounter;
    std::uint8_t tremorOn;  // x + 1 of Txy
    std::uint8_t tremorOff; // y + 1 of Txy
    std::int32_t loopRow;
    std::int32_t loopCount;
    std::uint8_t waveControl; // low nibble vibrato waveform, high nibble tremolo waveform
    std::uint8_t fineVolumeSlide;
    std::uint8_t finePortaUp;
    std::uint8_t finePortaDown;
};

inline constexpr int CHANNEL_COUNT = 32;

// Channel c of the playing module uses entry c. Cleared and pointed at voices 0..31 by the
// start of playback.
extern ChannelState channels[CHANNEL_COUNT];

} // namespace tessivane::music
