// The later ticks of a row, and the volume column.
#include "music/channel.h"
#include "music/effects.h"
#include "music/module.h"
#include "music/replay.h"
#include "music/replay_internal.h"

#include <algorithm>

namespace tessivane::music {

namespace {

const PatternCell EMPTY_CELL{};

void volumeSlide(ChannelState& ch) {
    const int up = ch.volumeSlide >> 4;
    const int down = ch.volumeSlide & 15;
    if (up != 0) {
        ch.volume = std::min(ch.volume + up, 64);
    } else if (down != 0) {
        ch.volume = std::max(ch.volume - down, 0);
    }
    ch.updateFlags |= UPDATE_VOLUME;
}

void vibratoStep(ChannelState& ch) {
    vibrato(ch);
    int next = static_cast<std::int8_t>(ch.vibratoPosition + ch.vibratoSpeed);
    if (next > 31) {
        next -= 64;
    }
    ch.vibratoPosition = static_cast<std::int8_t>(next);
}

// The volume a multi retrig leaves, by its remembered x.
int retrigVolume(int volume, int how) {
    switch (how) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
        return volume - (1 << (how - 1));
    case 6:
        return volume * 2 / 3;
    case 7:
        return volume / 2;
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
        return volume + (1 << (how - 9));
    case 14:
        return volume * 3 / 2;
    case 15:
        return volume * 2;
    default: // 0 and 8: unchanged
        return volume;
    }
}

void volumeColumnTick(ChannelState& ch, std::uint8_t byte) {
    const int y = byte & 15;
    switch (byte >> 4) {
    case 0x6:
        ch.volume = std::max(ch.volume - y, 0);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 0x7:
        ch.volume = std::min(ch.volume + y, 64);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 0xB:
        ch.vibratoDepth = static_cast<std::uint8_t>(y);
        vibratoStep(ch);
        break;
    case 0xD:
        ch.panning = keepInRange(std::int64_t{ch.panning} - y);
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 0xE:
        ch.panning = keepInRange(std::int64_t{ch.panning} + y);
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 0xF:
        tonePortamento(ch);
        break;
    default: // set volume, fine slides, vibrato speed, set panning: on the row tick only
        break;
    }
}

void extendedTickEffect(const Module& module, ChannelState& ch, const PatternCell& cell,
                        const Sample& sample) {
    const int y = cell.parameter & 15;
    const int tick = module.tick;
    switch (cell.parameter >> 4) {
    case 0x9: // retrig note
        if (y != 0 && tick % y == 0) {
            ch.updateFlags |= TRIGGER | UPDATE_VOLUME | UPDATE_FREQUENCY;
        }
        break;
    case 0xC: // note cut
        if (tick == y) {
            ch.volume = 0;
            ch.updateFlags |= UPDATE_VOLUME;
        }
        break;
    case 0xD: // note delay
        if (tick == y) {
            triggerInstrument(ch, sample);
            ch.period = ch.notePeriod;
            ch.updateFlags |= UPDATE_FREQUENCY;
            if (cell.volume != 0) {
                volumeColumnRow(ch, cell.volume);
            }
            ch.updateFlags |= TRIGGER;
        } else {
            ch.updateFlags &= static_cast<std::uint8_t>(
                ~(UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING | TRIGGER));
        }
        break;
    default:
        break;
    }
}

void tickEffect(Module& module, ChannelState& ch, const PatternCell& cell, const Sample& sample) {
    const int xy = cell.parameter;
    const int tick = module.tick;
    switch (cell.effect) {
    case 0: // arpeggio: 0, x, y semitones up by the tick's phase
        if (xy != 0) {
            const int phase = tick % 3;
            const int n = phase == 1 ? xy >> 4 : phase == 2 ? xy & 15 : 0;
            if ((module.flags & FLAG_LINEAR_FREQUENCIES) != 0) {
                ch.periodDelta = 64 * n;
            } else {
                ch.periodDelta = amigaPeriod(ch.realNote + n, sample.finetune) -
                                 amigaPeriod(ch.realNote, sample.finetune);
            }
            ch.updateFlags |= UPDATE_FREQUENCY;
        }
        break;
    case 1: // portamento up, never below period 56
        ch.period = std::max(ch.period - 4 * ch.portaUpSpeed, 56);
        ch.periodDelta = 0;
        ch.updateFlags |= UPDATE_FREQUENCY;
        break;
    case 2: // portamento down
        ch.period = keepInRange(std::int64_t{ch.period} + 4 * ch.portaDownSpeed);
        ch.periodDelta = 0;
        ch.updateFlags |= UPDATE_FREQUENCY;
        break;
    case 3:
        ch.periodDelta = 0;
        tonePortamento(ch);
        break;
    case 4:
        vibratoStep(ch);
        break;
    case 5:
        ch.periodDelta = 0;
        tonePortamento(ch);
        volumeSlide(ch);
        break;
    case 6:
        vibratoStep(ch);
        volumeSlide(ch);
        break;
    case 7:
        tremolo(ch);
        break;
    case 10:
        volumeSlide(ch);
        break;
    case 14:
        extendedTickEffect(module, ch, cell, sample);
        break;
    case 17: { // global volume slide; channels take it at their next volume update
        const int up = module.globalVolumeSlide >> 4;
        const int down = module.globalVolumeSlide & 15;
        if (up != 0) {
            module.globalVolume = std::min(module.globalVolume + up, 64);
        } else if (down != 0) {
            module.globalVolume = std::max(module.globalVolume - down, 0);
        }
        break;
    }
    case 25: { // panning slide
        const int right = ch.panningSlide >> 4;
        const int left = ch.panningSlide & 15;
        if (right != 0) {
            ch.panning = std::min(ch.panning + right, 255);
        } else if (left != 0) {
            ch.panning = std::max(ch.panning - left, 0);
        }
        ch.updateFlags |= UPDATE_PANNING;
        break;
    }
    case 27: // multi retrig
        if (ch.retrigInterval != 0 && tick % ch.retrigInterval == 0) {
            if (ch.retrigVolume != 0) {
                ch.volume = std::clamp(retrigVolume(ch.volume, ch.retrigVolume), 0, 64);
                ch.updateFlags |= UPDATE_VOLUME;
            }
            ch.updateFlags |= TRIGGER;
        }
        break;
    case 29:
        tremor(ch);
        break;
    default: // the rest act on the row tick only, or not at all
        break;
    }
}

} // namespace

void volumeColumnRow(ChannelState& ch, std::uint8_t byte) {
    if (byte >= 0x10 && byte <= 0x50) {
        ch.volume = byte - 0x10;
        ch.updateFlags |= UPDATE_VOLUME;
        return;
    }
    const int y = byte & 15;
    switch (byte >> 4) {
    case 0x6: // slide down
    case 0x8: // fine slide down
        ch.volume = std::max(ch.volume - y, 0);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 0x7: // slide up
    case 0x9: // fine slide up
        ch.volume = std::min(ch.volume + y, 64);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 0xA:
        ch.vibratoSpeed = static_cast<std::uint8_t>(y);
        break;
    case 0xB:
        ch.vibratoDepth = static_cast<std::uint8_t>(y);
        break;
    case 0xC:
        ch.panning = y * 16;
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 0xD: // panning slide left, not limited
        ch.panning = keepInRange(std::int64_t{ch.panning} - y);
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 0xE: // panning slide right, not limited
        ch.panning = keepInRange(std::int64_t{ch.panning} + y);
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 0xF: // tone portamento: the note's pitch is taken at once, only the retrigger goes
        if (y != 0) {
            ch.portaSpeed = static_cast<std::uint8_t>(y * 16);
        }
        ch.portaTarget = ch.notePeriod;
        ch.updateFlags &= static_cast<std::uint8_t>(~TRIGGER);
        break;
    default:
        break;
    }
}

void processTickEffects(Module* module) {
    const int count = std::min<int>(module->channelCount, CHANNEL_COUNT);
    if (count <= 0) {
        return;
    }
    const PatternCell* cells = rowCells(*module, detail::playedRow.order, detail::playedRow.row);
    for (int c = 0; c < count; ++c) {
        const PatternCell& cell = cells != nullptr ? cells[c] : EMPTY_CELL;
        ChannelState& ch = channels[c];
        detail::ensureVoice(ch, c);
        const detail::ChannelSound sound = detail::channelSound(*module, ch);
        const Instrument& instrument = *sound.instrument;
        const Sample& sample = *sound.sample;
        ch.volumeDelta = 0;
        ch.periodDelta = 0;
        ch.updateFlags = 0;
        if ((instrument.volumeType & ENVELOPE_ON) != 0 && ch.volumeEnvDone == 0) {
            stepEnvelope(ch, instrument, Envelope::Volume);
        }
        if ((instrument.panningType & ENVELOPE_ON) != 0 && ch.panningEnvDone == 0) {
            stepEnvelope(ch, instrument, Envelope::Panning);
        }
        if (ch.keyOff != 0) {
            ch.fadeVolume = std::max(ch.fadeVolume - instrument.fadeout, 0);
            ch.updateFlags |= UPDATE_VOLUME;
        }
        volumeColumnTick(ch, cell.volume);
        tickEffect(*module, ch, cell, sample);
        autoVibrato(ch, instrument);
        updateVoice(ch, sample, *module);
    }
}

} // namespace tessivane::music
