// What every module the loader accepts must hold, and what the voices must hold while it
// plays: the fuzzers of the loader and of the replay trap when any of it fails.
#pragma once

#include "music/module.h"
#include "music/voice.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace tessivane::music::fuzz {

[[noreturn]] inline void broken(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "fuzzer: a broken promise: %s %s\n", what, detail.c_str());
    __builtin_trap();
}

inline void check(bool holds, const char* what) {
    if (!holds) {
        broken(what);
    }
}

inline void checkSample(const Sample& sample) {
    check(sample.loopMode == LOOP_NONE || sample.loopMode == LOOP_FORWARD ||
              sample.loopMode == LOOP_PING_PONG,
          "loop mode");
    check(sample.bits == 16, "sample bits");
    const std::uint64_t loopEnd = std::uint64_t{sample.loopStart} + sample.loopLength;
    check(loopEnd <= sample.length, "loop beyond the sample");
    check(sample.loopMode == LOOP_NONE || sample.loopLength > 0, "empty loop");
    check((sample.data == nullptr) == (sample.length == 0), "data and length");
    if (sample.data != nullptr) {
        // The guard value and the padding must be readable: the address checker traps here
        // if they are not.
        volatile std::int16_t guard = sample.data[loopEnd];
        volatile std::int16_t last = sample.data[sample.length + SAMPLE_PADDING - 1];
        (void)guard;
        (void)last;
    }
}

inline void checkInstrument(const Instrument& instrument) {
    check(instrument.sampleCount >= 0 && instrument.sampleCount <= MAX_SAMPLES_PER_INSTRUMENT,
          "sample count");
    for (int s = 0; s < MAX_SAMPLES_PER_INSTRUMENT; ++s) {
        const Sample* sample = instrument.samples[s];
        check(sample != nullptr, "null sample slot");
        if (s >= instrument.sampleCount) {
            check(sample == &emptySample, "free slot not the empty sample");
        } else {
            checkSample(*sample);
        }
    }
    check(instrument.volumePointCount <= MAX_ENVELOPE_POINTS, "volume points");
    check(instrument.panningPointCount <= MAX_ENVELOPE_POINTS, "panning points");
    if ((instrument.volumeType & ENVELOPE_LOOP) != 0) {
        check(instrument.volumeLoopStart < instrument.volumePointCount &&
                  instrument.volumeLoopEnd < instrument.volumePointCount,
              "volume loop points");
    }
    if ((instrument.panningType & ENVELOPE_LOOP) != 0) {
        check(instrument.panningLoopStart < instrument.panningPointCount &&
                  instrument.panningLoopEnd < instrument.panningPointCount,
              "panning loop points");
    }
    check(instrument.volumePointCount >= 2 || instrument.volumeType == 0, "volume type");
    check(instrument.panningPointCount >= 2 || instrument.panningType == 0, "panning type");
}

inline void checkModule(const Module& module) {
    check(module.channelCount >= 0 && module.channelCount <= 32, "channels");
    check(module.songLength >= 1 && module.songLength <= 256, "song length");
    check(module.restartPosition >= 0 && module.restartPosition < module.songLength, "restart");
    check(module.defaultBpm >= 1 && module.defaultBpm <= 255, "BPM");
    check(module.defaultSpeed >= 0 && module.defaultSpeed <= 31, "speed");
    check(module.patternSlotCount >= module.usedPatternCount, "pattern slots");
    check(module.tickHandler != nullptr, "tick handler");
    for (int order = 0; order < module.songLength; ++order) {
        check(module.orderTable[order] < module.patternSlotCount, "order beyond the patterns");
    }
    for (int p = 0; p < module.patternSlotCount; ++p) {
        const Pattern& pattern = module.patterns[p];
        check(pattern.rowCount >= 1 && pattern.rowCount <= 256, "rows");
        const int cells = pattern.rowCount * module.channelCount;
        check((pattern.cells == nullptr) == (cells == 0), "cells");
        for (int c = 0; c < cells; ++c) {
            const PatternCell& cell = pattern.cells[c];
            check(cell.note <= 96 || cell.note == NOTE_KEY_OFF, "note");
            check(cell.instrument <= 128, "instrument number");
        }
    }
    check(module.instrumentCount >= 0 && module.instrumentCount <= 128, "instruments");
    check(module.instrumentCount == 0 || module.instruments != nullptr, "instrument array");
    for (int i = 0; i < module.instrumentCount; ++i) {
        checkInstrument(module.instruments[i]);
    }
}

// Every voice that sounds reads inside its sample's data, guard value included.
inline void checkVoices() {
    for (int i = 0; i < VOICE_COUNT; ++i) {
        const Voice& voice = voices[i];
        if (voice.sample == nullptr) {
            continue;
        }
        check(i < MIXED_VOICE_COUNT, "a voice beyond those mixed");
        const Sample& sample = *voice.sample;
        const std::uint64_t loopEnd = std::uint64_t{sample.loopStart} + sample.loopLength;
        check(voice.stepInt >= 0 && voice.stepInt < 256, "step");
        if (sample.data == nullptr) {
            continue; // the empty sample: the mixer ends it before reading
        }
        check(voice.positionInt < loopEnd, "a position beyond the loop");
        if (voice.direction == DIRECTION_BACKWARD) {
            check(voice.positionInt >= sample.loopStart, "a backward position before the loop");
        }
    }
}

} // namespace tessivane::music::fuzz
