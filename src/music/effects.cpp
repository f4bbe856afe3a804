#include "music/effects.h"

#include "music/channel.h"
#include "music/module.h"
#include "music/voice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tessivane::music {

namespace {

// 255 x 2^-35: the volume product at full volume (64 x 64 x 65536 x 64 = 2^34) times this
// is 127.5, so a full note has volume 127.
constexpr double VOLUME_SCALE = 255.0 / 34359738368.0;
// 1/768 and 1/12 as the single-precision values the pitch arithmetic uses.
constexpr float ONE_768TH = 0.0013020833721384406f;
constexpr float ONE_TWELFTH = 0.0833333358168602f;
// 2 pi / 128 for the vibrato's 64 steps per half period, as the double it is written as.
constexpr double VIBRATO_ANGLE = 0.049087375;
// 2 pi / 256 for the auto-vibrato's 256 steps per period, single precision.
constexpr float AUTO_VIBRATO_ANGLE = 0.02454368770122528f;
// The Amiga table's clock: frequency = 14,317,056 / period. It is 400 short of 8363 x 1712,
// so C-4 (period 1712) plays at 8,362 Hz and C-5 (856) at 16,725 Hz.
constexpr std::int64_t AMIGA_CLOCK = 14317056;
constexpr std::int64_t LOWEST_FREQUENCY = 100;

// The sine vibrato and tremolo waveform, 0..255 over the half period pos 0..32.
int halfSine(int pos) {
    return static_cast<int>(std::fabs(std::sin(pos * 2 * VIBRATO_ANGLE)) * 256);
}

// The ramp waveform: pos x 8 as an unsigned byte, mirrored below 0.
int ramp(int pos) {
    const int w = static_cast<std::uint8_t>(pos * 8);
    return pos < 0 ? 255 - w : w;
}

std::int64_t amigaBase(int semitones) {
    return static_cast<std::int64_t>(
        13.375 * std::pow(2.0, static_cast<double>(semitones) * static_cast<double>(ONE_TWELFTH)));
}

// The frequency of the channel's period and offset, in Hz.
std::int64_t frequency(const ChannelState& channel, const Module& module) {
    const std::int64_t period = channel.period;
    const std::int64_t delta = channel.periodDelta;
    // Beyond this the step would reach 256 positions per frame, more than the mixer takes.
    const std::int64_t highest = 256 * std::int64_t{sampleRate} - 1;
    if ((module.flags & FLAG_LINEAR_FREQUENCIES) != 0) {
        const double e =
            static_cast<double>(4608 - period + delta) * static_cast<double>(ONE_768TH);
        const double hz = 8363.0 * std::pow(2.0, e);
        return hz >= static_cast<double>(highest) ? highest : static_cast<std::int64_t>(hz);
    }
    return std::min(AMIGA_CLOCK / (period + delta), highest);
}

} // namespace

void updateVoice(ChannelState& channel, const Sample& sample, const Module& module) {
    Voice* v = channel.voice;
    if (std::int64_t{channel.period} + channel.periodDelta == 0) {
        channel.updateFlags &= static_cast<std::uint8_t>(~UPDATE_FREQUENCY);
    }
    const std::uint8_t flags = channel.updateFlags;

    if ((flags & TRIGGER) != 0) {
        if (v->sample != nullptr) {
            // The old note fades out on its own voice while the new one starts on the twin.
            const int twin =
                v->index < TWIN_OFFSET ? v->index + TWIN_OFFSET : v->index - TWIN_OFFSET;
            Voice& next = voices[twin & (VOICE_COUNT - 1)];
            next = *v;
            next.index = twin & (VOICE_COUNT - 1);
            v->volume = 0;
            v->volumeLeft = 0;
            v->volumeRight = 0;
            channel.voice = v = &next;
        }
        v->sample = &sample;
        if (std::uint64_t{v->startOffset} >= std::uint64_t{sample.loopStart} + sample.loopLength) {
            v->startOffset = 0;
        }
        v->positionInt = v->startOffset;
        v->positionFrac = 0;
        v->direction = DIRECTION_FORWARD;
        v->startOffset = 0;
        v->levelLeft = 0;
        v->levelRight = 0;
        v->rampRemaining = 0; // the mixer ramps up from silence
    }

    if ((flags & UPDATE_VOLUME) != 0) {
        const std::int64_t product = std::int64_t{channel.volume + channel.volumeDelta} *
                                     channel.volumeEnvLevel * channel.fadeVolume *
                                     module.globalVolume;
        const auto volume = static_cast<std::int32_t>(static_cast<double>(product) * VOLUME_SCALE);
        v->volume = volume;
        v->volumeLeft = v->panning * volume / 255;
        v->volumeRight = (255 - v->panning) * volume / 255;
    }

    if ((flags & UPDATE_PANNING) != 0) {
        const std::int64_t centre = 128 - std::abs(std::int64_t{channel.panning} - 128);
        std::int64_t p = channel.panning + centre / 32 * (channel.panningEnvLevel - 32);
        p = std::clamp<std::int64_t>(p, 0, 255);
        const auto panning = static_cast<std::int32_t>(p);
        v->panning = panning;
        v->volumeLeft = v->volume * panning / 255;
        v->volumeRight = (255 - panning) * v->volume / 255;
    }

    if ((flags & UPDATE_FREQUENCY) != 0) {
        const std::int64_t hz = std::max(frequency(channel, module), LOWEST_FREQUENCY);
        const std::int64_t rate = sampleRate;
        v->stepInt = static_cast<std::int32_t>(hz / rate);
        v->stepFrac =
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(hz % rate) << 32) / rate);
    }

    if ((flags & RESTART) != 0) {
        v->positionInt = 0;
        v->positionFrac = 0;
        v->startOffset = 0;
        // Forward, as a restarted sample plays: left moving backward from 0 it would run
        // out of the front of the sample's data.
        v->direction = DIRECTION_FORWARD;
    }
}

void triggerInstrument(ChannelState& channel, const Sample& sample) {
    channel.volume = sample.volume;
    channel.panning = sample.panning;
    channel.volumeEnvLevel = 64;
    channel.volumeEnvPoint = 0;
    channel.volumeEnvTick = 0;
    channel.volumeEnvSlope = 0;
    channel.panningEnvLevel = 32;
    channel.panningEnvPoint = 0;
    channel.panningEnvTick = 0;
    channel.panningEnvSlope = 0;
    channel.volumeEnvDone = 0;
    channel.panningEnvDone = 0;
    channel.keyOff = 0;
    channel.fadeVolume = 65536;
    channel.autoVibratoSweep = 0;
    channel.autoVibratoPosition = 0;
    channel.tremorCounter = 0;
    // Waveforms 4 and above keep running across notes.
    if ((channel.waveControl & 0x0F) < 4) {
        channel.vibratoPosition = 0;
    }
    if ((channel.waveControl >> 4) < 4) {
        channel.tremoloPosition = 0;
    }
    channel.updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

int amigaPeriod(int note, int finetune) {
    // 13.375 x 2^(132/12) = 27392, the period of note 0; 1712 at note 48.
    const std::int64_t base = amigaBase(132 - note);
    std::int64_t period;
    if (finetune < 0 && note != 0) {
        const std::int64_t lower = amigaBase(133 - note);
        period = base + (base - lower) * -finetune / -128;
    } else {
        const std::int64_t higher = amigaBase(131 - note);
        period = base + (base - higher) * finetune / -128;
    }
    return static_cast<int>(period);
}

int notePeriodOf(const Module& module, int note, int finetune) {
    if ((module.flags & FLAG_LINEAR_FREQUENCIES) != 0) {
        // 64 units a semitone; 4608 is note 48 without finetune.
        return 7680 - 64 * note - finetune / 2;
    }
    return amigaPeriod(note, finetune);
}

void tonePortamento(ChannelState& channel) {
    const int speed = 4 * channel.portaSpeed;
    if (channel.period < channel.portaTarget) {
        channel.period = std::min(channel.period + speed, channel.portaTarget);
    } else if (channel.period > channel.portaTarget) {
        channel.period = std::max(channel.period - speed, channel.portaTarget);
    }
    channel.updateFlags |= UPDATE_FREQUENCY;
}

void vibrato(ChannelState& channel) {
    const int pos = channel.vibratoPosition;
    int w = 255; // the square waveforms 2 and 3
    switch (channel.waveControl & 3) {
    case 0:
        w = halfSine(pos);
        break;
    case 1:
        w = ramp(pos);
        break;
    }
    const int d = ((w * channel.vibratoDepth) >> 5) & ~3;
    channel.periodDelta = pos < 0 ? d : -d;
    channel.updateFlags |= UPDATE_FREQUENCY;
}

void tremolo(ChannelState& channel) {
    const int pos = channel.tremoloPosition;
    int w = 0;
    switch ((channel.waveControl >> 4) & 3) {
    case 0:
    case 3:
        w = halfSine(pos);
        break;
    case 1:
        w = ramp(pos);
        break;
    case 2:
        w = 255;
        break;
    }
    int d = (w * channel.tremoloDepth) >> 6;
    if (pos >= 0) {
        if (channel.volume + d > 64) {
            d = 64 - channel.volume;
        }
        channel.volumeDelta = d;
    } else {
        if (channel.volume - d < 0) {
            d = channel.volume;
        }
        channel.volumeDelta = -d;
    }
    int next = static_cast<std::int8_t>(pos + channel.tremoloSpeed);
    if (next > 31) {
        next -= 64;
    }
    channel.tremoloPosition = static_cast<std::int8_t>(next);
    channel.updateFlags |= UPDATE_VOLUME;
}

void tremor(ChannelState& channel) {
    if (channel.tremorCounter >= channel.tremorOn) {
        channel.volumeDelta = -channel.volume;
    }
    channel.tremorCounter += 1;
    if (channel.tremorCounter >= channel.tremorOn + channel.tremorOff) {
        channel.tremorCounter = 0;
    }
    channel.updateFlags |= UPDATE_VOLUME;
}

void autoVibrato(ChannelState& channel, const Instrument& instrument) {
    const int a = channel.autoVibratoPosition;
    // Types above 3 have no waveform: they give no offset.
    int w = 0;
    switch (instrument.vibratoType) {
    case 0:
        w = static_cast<int>(std::sin(a * static_cast<double>(AUTO_VIBRATO_ANGLE)) * 64);
        break;
    case 1:
        w = a < 128 ? 64 : -64;
        break;
    case 2:
        w = (128 - ((a + 128) % 256)) >> 1;
        break;
    case 3:
        w = (128 - ((384 - a) % 256)) >> 1;
        break;
    }
    int d = w * instrument.vibratoDepth;
    if (instrument.vibratoSweep != 0) {
        d = channel.autoVibratoSweep * d / instrument.vibratoSweep;
    }
    channel.periodDelta += d >> 6;
    if (channel.autoVibratoSweep < instrument.vibratoSweep) {
        channel.autoVibratoSweep += 1;
    }
    channel.autoVibratoPosition += instrument.vibratoRate;
    if (channel.autoVibratoPosition > 255) {
        channel.autoVibratoPosition -= 256;
    }
    channel.updateFlags |= UPDATE_FREQUENCY;
}

} // namespace tessivane::music
