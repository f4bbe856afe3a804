// The routines the row tick and the later ticks share: passing a channel's state to its
// voice, restarting an instrument, the Amiga period table, portamento, vibrato, tremolo,
// tremor, auto-vibrato and the envelopes.
#pragma once

#include <cstdint>

namespace tessivane::music {

struct ChannelState;
struct Instrument;
struct Module;
struct Sample;

// Passes what the channel's updateFlags say to its voice: a trigger (moving to the twin
// voice while the old note still sounds), the final volume, panning and frequency, a
// restart.
void updateVoice(ChannelState& channel, const Sample& sample, const Module& module);
// Restarts volume, panning, envelopes, fade-out, auto-vibrato and tremor from the sample.
void triggerInstrument(ChannelState& channel, const Sample& sample);
// The Amiga period of note (0..) with finetune (-128..127, 1/128 semitone).
int amigaPeriod(int note, int finetune);
// The period of note with finetune in the module's frequency table.
int notePeriodOf(const Module& module, int note, int finetune);

void tonePortamento(ChannelState& channel);
// The vibrato offset at the current position; the position does not move.
void vibrato(ChannelState& channel);
// The tremolo offset at the current position, then the position moves on.
void tremolo(ChannelState& channel);
void tremor(ChannelState& channel);
void autoVibrato(ChannelState& channel, const Instrument& instrument);

enum class Envelope { Volume, Panning };
// One tick of the channel's volume or panning envelope, with sustain and loop.
void stepEnvelope(ChannelState& channel, const Instrument& instrument, Envelope envelope);
// Moves the volume envelope to tick position (Lxx); sustain and loop are not looked at.
void setEnvelopePosition(ChannelState& channel, const Instrument& instrument,
                         std::uint8_t position);

// Keeps unbounded slides (periods, panning) from overflowing over hours of sliding; far
// beyond anything audible, so nothing that can be heard changes.
inline std::int32_t keepInRange(std::int64_t value) {
    constexpr std::int64_t LIMIT = 1 << 24;
    return static_cast<std::int32_t>(value > LIMIT ? LIMIT : value < -LIMIT ? -LIMIT : value);
}

} // namespace tessivane::music
