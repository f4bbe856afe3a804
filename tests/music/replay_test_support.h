// Songs built in memory and played tick by tick through the replay, without the output.
#pragma once

#include "music/channel.h"
#include "music/module.h"
#include "music/module_builder.h"
#include "music/replay.h"
#include "music/voice.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>

namespace tessivane::music::test {

// Effect numbers as cells store them.
enum Effect : std::uint8_t {
    ARPEGGIO = 0,
    PORTA_UP = 1,
    PORTA_DOWN = 2,
    TONE_PORTA = 3,
    VIBRATO = 4,
    TREMOLO = 7,
    SAMPLE_OFFSET = 9,
    VOLUME_SLIDE = 10,
    JUMP = 11,
    SET_VOLUME = 12,
    BREAK = 13,
    EXTENDED = 14,
    SPEED = 15,
    GLOBAL_VOLUME = 16,
    GLOBAL_SLIDE = 17,
    KEY_OFF_EFFECT = 20,
    ENVELOPE_POSITION = 21,
    PANNING_SLIDE = 25,
    RETRIG = 27,
    TREMOR = 29,
};

class ReplayTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t SAMPLE_LENGTH = 1000;

    void SetUp() override {
        sampleRate = 44100;
        clearVoices();
    }
    void TearDown() override {
        clearVoices();
        freeModule(module);
    }

    // A song of patterns of rows on channels, speed 6, 125 BPM, the linear table; every
    // instrument has one forward-looping sample of SAMPLE_LENGTH values at volume 64,
    // panning 128.
    Module& song(int channelCount = 4, int patterns = 1, int rows = 64, int instruments = 2) {
        module = createModule(channelCount, patterns, rows, instruments);
        for (int i = 0; i < instruments; ++i) {
            Sample* s = addSample(module->instruments[i], SAMPLE_LENGTH);
            s->loopMode = LOOP_FORWARD;
            for (std::uint32_t v = 0; v < SAMPLE_LENGTH; ++v) {
                s->data[v] = 1000;
            }
        }
        return *module;
    }

    void orders(std::initializer_list<int> list) { ASSERT_TRUE(setOrders(*module, list)); }
    PatternCell& cell(int pattern, int row, int channel) {
        return cellAt(*module, pattern, row, channel);
    }
    // A cell with a note (1 = C-0, 49 = C-4) of instrument 1 unless said otherwise.
    void note(int pattern, int row, int channel, int n, int instrument = 1,
              std::uint8_t volume = 0) {
        PatternCell& c = cell(pattern, row, channel);
        c.note = static_cast<std::uint8_t>(n);
        c.instrument = static_cast<std::uint8_t>(instrument);
        c.volume = volume;
    }
    void effect(int pattern, int row, int channel, std::uint8_t number, std::uint8_t parameter) {
        PatternCell& c = cell(pattern, row, channel);
        c.effect = number;
        c.parameter = parameter;
    }
    Sample& sampleOf(int instrument) { return *module->instruments[instrument].samples[0]; }

    void start() { resetPlayback(*module); }
    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            replayTick(module);
        }
    }
    ChannelState& ch(int c) { return channels[c]; }
    Voice& voiceOf(int c) { return *channels[c].voice; }

    // The (order, row) the next row tick plays.
    std::pair<int, int> next() {
        int order = 0;
        int row = 0;
        upcomingRow(*module, order, row);
        return {order, row};
    }

    Module* module = nullptr;
};

// stepInt and stepFrac for a frequency in Hz at 44,100 Hz.
inline std::uint64_t stepOf(const Voice& v) {
    return std::uint64_t{static_cast<std::uint32_t>(v.stepInt)} << 32 | v.stepFrac;
}
inline std::uint64_t stepFor(std::uint64_t hz) {
    return (hz / 44100) << 32 | ((hz % 44100) << 32) / 44100;
}

} // namespace tessivane::music::test
