// The tick handler, the song position, and the row tick.
#include "music/replay.h"

#include "music/channel.h"
#include "music/effects.h"
#include "music/module.h"
#include "music/replay_internal.h"
#include "music/voice.h"

#include <algorithm>

namespace tessivane::music {

ChannelState channels[CHANNEL_COUNT];

namespace detail {

PlayedRow playedRow{};

ChannelSound channelSound(const Module& module, const ChannelState& channel) {
    if (channel.instrument >= module.instrumentCount || module.instruments == nullptr) {
        return {&emptyInstrument, &emptySample};
    }
    const Instrument& instrument = module.instruments[channel.instrument];
    const int slot = channel.keyNote < NOTE_COUNT ? instrument.noteSample[channel.keyNote]
                                                  : MAX_SAMPLES_PER_INSTRUMENT;
    Sample* sample = slot < MAX_SAMPLES_PER_INSTRUMENT ? instrument.samples[slot] : nullptr;
    return {&instrument, sample != nullptr ? sample : &emptySample};
}

} // namespace detail

using detail::playedRow;

namespace {

const PatternCell EMPTY_CELL{};

// The rows of the pattern that order plays; 0 when there is no such pattern.
int patternRows(const Module& module, int order) {
    if (order < 0 || order >= module.songLength || order >= 256 || module.patterns == nullptr) {
        return 0;
    }
    const int pattern = module.orderTable[order];
    return pattern < module.patternSlotCount ? module.patterns[pattern].rowCount : 0;
}

struct Remembered {
    std::int32_t volume;
    std::int32_t period;
    std::int32_t panning;
};

void extendedRowEffect(Module& module, ChannelState& ch, const PatternCell& cell, Sample& sample,
                       const Remembered& remembered) {
    const int y = cell.parameter & 15;
    switch (cell.parameter >> 4) {
    case 0x1: // fine portamento up
        if (y != 0) {
            ch.finePortaUp = static_cast<std::uint8_t>(y);
        }
        ch.period = keepInRange(std::int64_t{ch.period} - 4 * ch.finePortaUp);
        break;
    case 0x2: // fine portamento down
        if (y != 0) {
            ch.finePortaDown = static_cast<std::uint8_t>(y);
        }
        ch.period = keepInRange(std::int64_t{ch.period} + 4 * ch.finePortaDown);
        break;
    case 0x4: // vibrato waveform
        ch.waveControl = static_cast<std::uint8_t>((ch.waveControl & 0xF0) | y);
        break;
    case 0x5: // set finetune: of the sample itself, for every channel, from the next note on
        // The shared empty sample stays all zero.
        if (&sample != &emptySample) {
            sample.finetune = static_cast<std::int8_t>(y);
        }
        break;
    case 0x6: // pattern loop
        if (y == 0) {
            ch.loopRow = module.row;
        } else {
            if (ch.loopCount == 0) {
                ch.loopCount = y;
            } else {
                ch.loopCount -= 1;
            }
            if (ch.loopCount != 0) {
                // The tick handler's "next row" step then lands on loopRow.
                module.row = ch.loopRow - 1;
            }
        }
        break;
    case 0x7: // tremolo waveform
        ch.waveControl = static_cast<std::uint8_t>((ch.waveControl & 0x0F) | y << 4);
        break;
    case 0x8: // set panning
        ch.panning = y * 16;
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 0xA: // fine volume slide up
        if (y != 0) {
            ch.fineVolumeSlide = static_cast<std::uint8_t>(y);
        }
        ch.volume = std::min(ch.volume + ch.fineVolumeSlide, 64);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 0xB: // fine volume slide down
        if (y != 0) {
            ch.fineVolumeSlide = static_cast<std::uint8_t>(y);
        }
        ch.volume = std::max(ch.volume - ch.fineVolumeSlide, 0);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 0xD: // note delay: the old sound goes on until the note starts on tick y
        ch.volume = remembered.volume;
        ch.period = remembered.period;
        ch.panning = remembered.panning;
        ch.updateFlags &= static_cast<std::uint8_t>(
            ~(UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING | TRIGGER));
        break;
    case 0xE: // pattern delay
        module.patternDelayTicks = module.speed * y;
        break;
    default: // E0y filter, E3y glissando, E9y retrig and ECy cut (later ticks), EFy
        break;
    }
}

void rowEffect(Module& module, ChannelState& ch, const PatternCell& cell,
               const Instrument& instrument, Sample& sample, const Remembered& remembered,
               bool& jumped) {
    const int xy = cell.parameter;
    const int x = xy >> 4;
    const int y = xy & 15;
    switch (cell.effect) {
    case 1: // portamento up
        if (xy != 0) {
            ch.portaUpSpeed = static_cast<std::uint8_t>(xy);
        }
        break;
    case 2: // portamento down
        if (xy != 0) {
            ch.portaDownSpeed = static_cast<std::uint8_t>(xy);
        }
        break;
    case 3: // tone portamento
        if (xy != 0) {
            ch.portaSpeed = static_cast<std::uint8_t>(xy);
        }
        ch.portaTarget = ch.notePeriod;
        ch.updateFlags &= static_cast<std::uint8_t>(~(UPDATE_FREQUENCY | TRIGGER));
        break;
    case 4: // vibrato
        if (x != 0) {
            ch.vibratoSpeed = static_cast<std::uint8_t>(x);
        }
        if (y != 0) {
            ch.vibratoDepth = static_cast<std::uint8_t>(y);
        }
        vibrato(ch);
        break;
    case 5: // tone portamento and volume slide
        ch.portaTarget = ch.notePeriod;
        if (xy != 0) {
            ch.volumeSlide = static_cast<std::uint8_t>(xy);
        }
        ch.updateFlags &= static_cast<std::uint8_t>(~(UPDATE_FREQUENCY | TRIGGER));
        break;
    case 6: // vibrato and volume slide
        if (xy != 0) {
            ch.volumeSlide = static_cast<std::uint8_t>(xy);
        }
        vibrato(ch);
        break;
    case 7: // tremolo
        if (x != 0) {
            ch.tremoloSpeed = static_cast<std::uint8_t>(x);
        }
        if (y != 0) {
            ch.tremoloDepth = static_cast<std::uint8_t>(y);
        }
        break;
    case 8: // set panning
        ch.panning = xy;
        ch.updateFlags |= UPDATE_PANNING;
        break;
    case 9: { // sample offset
        if (xy != 0) {
            ch.sampleOffset = xy;
        }
        const std::uint32_t offset = static_cast<std::uint32_t>(ch.sampleOffset) * 256;
        if (std::uint64_t{offset} < std::uint64_t{sample.loopStart} + sample.loopLength) {
            ch.voice->startOffset = offset;
        } else {
            ch.updateFlags = static_cast<std::uint8_t>((ch.updateFlags & ~TRIGGER) | RESTART);
        }
        break;
    }
    case 10: // volume slide
        if (xy != 0) {
            ch.volumeSlide = static_cast<std::uint8_t>(xy);
        }
        break;
    case 11: // position jump
        module.nextRow = 0;
        module.nextOrder = xy >= module.songLength ? 0 : xy;
        jumped = true;
        break;
    case 12: // set volume, beyond 64 too
        ch.volume = xy;
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 13: { // pattern break
        const int row = 10 * x + y;
        module.nextRow = row > 63 ? 0 : row;
        if (!jumped) {
            module.nextOrder = module.order + 1;
        }
        if (module.nextOrder >= module.songLength) {
            module.nextOrder = 0;
        }
        break;
    }
    case 14:
        extendedRowEffect(module, ch, cell, sample, remembered);
        break;
    case 15: // set speed (0 allowed) or BPM
        if (xy < 32) {
            module.speed = xy;
        } else {
            setTempo(&module, xy);
        }
        break;
    case 16: // set global volume
        module.globalVolume = std::min(xy, 64);
        ch.updateFlags |= UPDATE_VOLUME;
        break;
    case 17: // global volume slide
        if (xy != 0) {
            module.globalVolumeSlide = static_cast<std::uint8_t>(xy);
        }
        break;
    case 21: // set envelope position
        if ((instrument.volumeType & ENVELOPE_ON) != 0) {
            setEnvelopePosition(ch, instrument, static_cast<std::uint8_t>(xy));
        }
        break;
    case 25: // panning slide
        if (xy != 0) {
            ch.panningSlide = static_cast<std::uint8_t>(xy);
            ch.updateFlags |= UPDATE_PANNING;
        }
        break;
    case 27: // multi retrig
        if (xy != 0) {
            ch.retrigVolume = static_cast<std::uint8_t>(x);
            ch.retrigInterval = static_cast<std::uint8_t>(y);
        }
        break;
    case 29: // tremor
        if (xy != 0) {
            ch.tremorOn = static_cast<std::uint8_t>(x + 1);
            ch.tremorOff = static_cast<std::uint8_t>(y + 1);
        }
        tremor(ch);
        break;
    case 33: // extra fine portamento
        if (x == 1) {
            if (y != 0) {
                ch.extraFineUp = static_cast<std::uint8_t>(y);
            }
            ch.period = keepInRange(std::int64_t{ch.period} - ch.extraFineUp);
        } else if (x == 2) {
            if (y != 0) {
                ch.extraFineDown = static_cast<std::uint8_t>(y);
            }
            ch.period = keepInRange(std::int64_t{ch.period} + ch.extraFineDown);
        }
        break;
    default: // arpeggio (later ticks), key off (step K), and effects not played
        break;
    }
}

} // namespace

const PatternCell* rowCells(const Module& module, int order, int row) {
    if (row < 0 || row >= patternRows(module, order)) {
        return nullptr;
    }
    const Pattern& pattern = module.patterns[module.orderTable[order]];
    if (pattern.cells == nullptr) {
        return nullptr;
    }
    return pattern.cells + static_cast<std::ptrdiff_t>(row) * module.channelCount;
}

void upcomingRow(const Module& module, int& order, int& row) {
    order = module.nextOrder >= 0 ? module.nextOrder : module.order;
    row = module.nextRow >= 0 ? module.nextRow : module.row;
    // Loading keeps every order inside the song; a module built otherwise starts over.
    if (order < 0 || order >= module.songLength) {
        order = 0;
    }
    // A break can name a row beyond the pattern it lands in: that pattern plays from its
    // start, as a break beyond row 63 does.
    if (row < 0 || row >= patternRows(module, order)) {
        row = 0;
    }
}

void resetPlayback(Module& module) {
    module.nextOrder = -1;
    module.nextRow = -1;
    module.globalVolume = module.initialGlobalVolume;
    module.speed = module.defaultSpeed;
    module.order = 0;
    module.row = 0;
    module.samplesToTick = 0;
    module.tick = 0;
    module.patternDelayTicks = 0;
    setTempo(&module, module.defaultBpm);
    const int count = std::clamp<int>(module.channelCount, 0, CHANNEL_COUNT);
    for (int i = 0; i < count; ++i) {
        channels[i] = {};
        channels[i].voice = &voices[i];
    }
}

void replayTick(Module* module) {
    if (module == nullptr) {
        return;
    }
    if (module->tick == 0) {
        upcomingRow(*module, module->order, module->row);
        processRow(module);
        if (module->nextRow == -1) {
            module->nextRow = module->row + 1;
            if (module->nextRow >= patternRows(*module, module->order)) {
                const int next = module->order + 1;
                module->nextOrder = next >= module->songLength ? module->restartPosition : next;
                module->nextRow = 0;
            }
        }
    } else {
        processTickEffects(module);
    }
    module->tick += 1;
    if (module->tick >= module->speed + module->patternDelayTicks) {
        module->tick = 0;
        module->patternDelayTicks = 0;
    }
}

void processRow(Module* module) {
    module->nextOrder = -1;
    module->nextRow = -1;
    playedRow = {module->order, module->row};
    const int count = std::min<int>(module->channelCount, CHANNEL_COUNT);
    if (count <= 0) {
        return;
    }
    const PatternCell* cells = rowCells(*module, module->order, module->row);
    bool jumped = false;
    for (int c = 0; c < count; ++c) {
        const PatternCell& cell = cells != nullptr ? cells[c] : EMPTY_CELL;
        ChannelState& ch = channels[c];
        detail::ensureVoice(ch, c);
        const bool porta = cell.effect == 3 || cell.effect == 5;
        const bool note = cell.note != 0 && cell.note != NOTE_KEY_OFF;
        if (cell.instrument != 0 && !porta) {
            ch.instrument = static_cast<std::uint8_t>(cell.instrument - 1);
        }
        if (note && !porta) {
            ch.keyNote = static_cast<std::uint8_t>(cell.note - 1);
        }
        const detail::ChannelSound sound = detail::channelSound(*module, ch);
        const Instrument& instrument = *sound.instrument;
        Sample& sample = *sound.sample;
        const Remembered remembered{ch.volume, ch.period, ch.panning};

        // The last tremolo offset stays in the volume once the tremolo stops.
        if (ch.lastEffect == 7 && cell.effect != 7) {
            ch.volume = remembered.volume + ch.volumeDelta;
        }
        ch.lastEffect = cell.effect;
        ch.volumeDelta = 0;
        ch.updateFlags = 0;

        if (note) {
            ch.realNote = static_cast<std::uint8_t>(cell.note - 1 + sample.relativeNote);
            ch.notePeriod = notePeriodOf(*module, ch.realNote, sample.finetune);
            if (!porta) {
                ch.period = ch.notePeriod;
            }
            ch.updateFlags = TRIGGER;
        }
        ch.periodDelta = 0;
        ch.updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME;
        if (cell.instrument != 0) {
            triggerInstrument(ch, sample);
        }
        if (cell.volume != 0) {
            volumeColumnRow(ch, cell.volume);
        }
        if (cell.note == NOTE_KEY_OFF || cell.effect == 20) {
            ch.keyOff = 1;
        }
        if ((instrument.volumeType & ENVELOPE_ON) != 0) {
            if (ch.volumeEnvDone == 0) {
                stepEnvelope(ch, instrument, Envelope::Volume);
            }
        } else if (ch.keyOff != 0) {
            // Without an envelope, a key off silences at once.
            ch.volumeEnvLevel = 0;
        }
        if ((instrument.panningType & ENVELOPE_ON) != 0 && ch.panningEnvDone == 0) {
            stepEnvelope(ch, instrument, Envelope::Panning);
        }
        if (ch.keyOff != 0) {
            ch.fadeVolume = std::max(ch.fadeVolume - instrument.fadeout, 0);
            ch.updateFlags |= UPDATE_VOLUME;
        }
        rowEffect(*module, ch, cell, instrument, sample, remembered, jumped);
        autoVibrato(ch, instrument);
        updateVoice(ch, sample, *module);
    }
}

} // namespace tessivane::music
