// Effects by family: pitch (arpeggio, portamento, vibrato, auto-vibrato), volume (slides,
// tremolo, tremor, cut, global volume), timing (retrig, delay), panning, and envelopes.
#include "music/effects.h"
#include "replay_test_support.h"

#include <vector>

namespace tessivane::music::test {
namespace {

constexpr int C4 = 49;

class EffectsTest : public ReplayTest {
protected:
    // The channel's periodDelta after each of the next count ticks.
    std::vector<int> periodDeltas(int c, int count) {
        std::vector<int> deltas;
        for (int i = 0; i < count; ++i) {
            tick();
            deltas.push_back(ch(c).periodDelta);
        }
        return deltas;
    }
    std::vector<int> volumes(int c, int count) {
        std::vector<int> result;
        for (int i = 0; i < count; ++i) {
            tick();
            result.push_back(ch(c).volume);
        }
        return result;
    }
    std::vector<int> voiceVolumes(int c, int count) {
        std::vector<int> result;
        for (int i = 0; i < count; ++i) {
            tick();
            result.push_back(voiceOf(c).volume);
        }
        return result;
    }
};

using Ints = std::vector<int>;

// Pitch.

TEST_F(EffectsTest, ArpeggioCyclesThroughItsNotesByTickAndGoesOnThroughAPatternDelay) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, ARPEGGIO, 0x37);
    effect(0, 1, 0, ARPEGGIO, 0x37);
    effect(0, 1, 1, EXTENDED, 0xE1); // the row lasts two rows' ticks
    start();
    EXPECT_EQ(periodDeltas(0, 6), (Ints{0, 192, 448, 0, 192, 448}));
    EXPECT_EQ(periodDeltas(0, 12), (Ints{0, 192, 448, 0, 192, 448, 0, 192, 448, 0, 192, 448}));

    // With the Amiga table the offset is the difference of the two notes' periods: negative,
    // so that the pitch rises.
    module->flags = 0;
    start();
    tick(2);
    EXPECT_EQ(ch(0).periodDelta, amigaPeriod(51, 0) - amigaPeriod(48, 0));
}

TEST_F(EffectsTest, PortamentoUpStopsAtPeriod56AndDownHasNoLimit) {
    song();
    note(0, 0, 0, 96); // period 1600
    effect(0, 0, 0, PORTA_UP, 0xFF);
    note(0, 0, 1, C4);
    effect(0, 0, 1, PORTA_DOWN, 0xFF);
    effect(0, 1, 1, PORTA_DOWN, 0x00); // the remembered speed
    start();
    tick(2);
    EXPECT_EQ(ch(0).period, 1600 - 1020);
    tick(1);
    EXPECT_EQ(ch(0).period, 56);
    tick(9);
    EXPECT_EQ(ch(0).period, 56);
    EXPECT_EQ(ch(1).period, 4608 + 10 * 1020);
}

TEST_F(EffectsTest, FinePortamentosMoveOnTheRowTickOnly) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, EXTENDED, 0x12); // E12: fine up by 4 x 2
    effect(0, 1, 0, EXTENDED, 0x10); // again, remembered
    effect(0, 2, 0, 33, 0x13);       // X13: extra fine up by 3
    effect(0, 3, 0, 33, 0x25);       // X25: extra fine down by 5
    start();
    tick(6);
    EXPECT_EQ(ch(0).period, 4608 - 8);
    tick(6);
    EXPECT_EQ(ch(0).period, 4608 - 16);
    tick(6);
    EXPECT_EQ(ch(0).period, 4608 - 19);
    tick(6);
    EXPECT_EQ(ch(0).period, 4608 - 14);
}

TEST_F(EffectsTest, VibratoAtDepth15SwingsBy116EitherWay) {
    ChannelState c{};
    c.vibratoDepth = 15;
    c.vibratoPosition = 16;
    vibrato(c);
    EXPECT_EQ(c.periodDelta, -116);
    c.vibratoPosition = -16;
    vibrato(c);
    EXPECT_EQ(c.periodDelta, 116);
    // Ramp and square waveforms.
    c.waveControl = 1;
    c.vibratoPosition = -16; // ramp: 255 - (-128 as a byte) = 127
    vibrato(c);
    EXPECT_EQ(c.periodDelta, 56);
    c.waveControl = 2;
    c.vibratoPosition = 3;
    vibrato(c);
    EXPECT_EQ(c.periodDelta, -116);
}

TEST_F(EffectsTest, VibratoMovesItsPositionOnLaterTicksOnly) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, VIBRATO, 0x8F);
    start();
    tick();
    EXPECT_EQ(ch(0).vibratoPosition, 0);
    tick();
    EXPECT_EQ(ch(0).vibratoPosition, 8);
    tick(3);
    EXPECT_EQ(ch(0).vibratoPosition, 32 - 64); // wrapped from 31 past the top
}

TEST_F(EffectsTest, AutoVibratoSweepsToFullDepthOverItsSweepTicks) {
    Instrument instrument{};
    instrument.vibratoType = 1; // square: +64 in the first half
    instrument.vibratoDepth = 8;
    instrument.vibratoSweep = 10;
    ChannelState c{};
    std::vector<int> deltas;
    for (int t = 0; t < 12; ++t) {
        c.periodDelta = 0;
        autoVibrato(c, instrument);
        deltas.push_back(c.periodDelta);
    }
    EXPECT_EQ(deltas, (Ints{0, 0, 1, 2, 3, 4, 4, 5, 6, 7, 8, 8}));
    // Types beyond 3 have no waveform.
    instrument.vibratoType = 7;
    c.periodDelta = 0;
    autoVibrato(c, instrument);
    EXPECT_EQ(c.periodDelta, 0);
    EXPECT_NE(c.updateFlags & UPDATE_FREQUENCY, 0);
}

TEST_F(EffectsTest, AutoVibratoWaveformsHaveTheirShapes) {
    Instrument instrument{};
    instrument.vibratoDepth = 64;
    instrument.vibratoRate = 0;
    ChannelState c{};
    const auto delta = [&](int type, int position) {
        instrument.vibratoType = static_cast<std::uint8_t>(type);
        c.autoVibratoPosition = position;
        c.periodDelta = 0;
        autoVibrato(c, instrument);
        return c.periodDelta;
    };
    // A quarter period falls a hair short of pi / 2 in single precision: 63, not 64.
    EXPECT_EQ(delta(0, 64), 63);
    EXPECT_EQ(delta(0, 192), -63);
    EXPECT_EQ(delta(2, 0), 0);
    EXPECT_EQ(delta(2, 127), -64);
    EXPECT_EQ(delta(2, 128), 64);
    EXPECT_EQ(delta(3, 127), 63);
    EXPECT_EQ(delta(3, 129), -64);
    EXPECT_EQ(delta(3, 255), -1);
}

TEST_F(EffectsTest, TonePortamentoSlidesToItsTargetAndStops) {
    ChannelState c{};
    c.period = 1000;
    c.portaTarget = 990;
    c.portaSpeed = 2;
    tonePortamento(c);
    EXPECT_EQ(c.period, 992);
    tonePortamento(c);
    EXPECT_EQ(c.period, 990);
    c.portaTarget = 1003;
    tonePortamento(c);
    tonePortamento(c);
    EXPECT_EQ(c.period, 1003);
}

// Volume.

TEST_F(EffectsTest, VolumeSlidesByTheHighNibbleFirstAndRememberTheirParameter) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, VOLUME_SLIDE, 0x0F);
    effect(0, 1, 0, VOLUME_SLIDE, 0x4F);
    effect(0, 2, 0, VOLUME_SLIDE, 0x00);
    start();
    EXPECT_EQ(volumes(0, 6), (Ints{64, 49, 34, 19, 4, 0}));
    EXPECT_EQ(volumes(0, 6), (Ints{0, 4, 8, 12, 16, 20}));
    EXPECT_EQ(volumes(0, 6), (Ints{20, 24, 28, 32, 36, 40}));
}

TEST_F(EffectsTest, VolumeColumnSlidesActOnTheRowTickToo) {
    song();
    note(0, 0, 0, C4, 1, 0x63);
    note(0, 1, 0, 0, 0, 0x82); // fine: the row tick only
    start();
    EXPECT_EQ(volumes(0, 6), (Ints{61, 58, 55, 52, 49, 46}));
    EXPECT_EQ(volumes(0, 6), (Ints{44, 44, 44, 44, 44, 44}));
}

TEST_F(EffectsTest, TremoloOffsetsStayWithinTheVolumeRange) {
    ChannelState c{};
    c.tremoloDepth = 7;
    c.tremoloPosition = 4; // sine 97: an offset of 10
    c.volume = 60;
    tremolo(c);
    EXPECT_EQ(c.volumeDelta, 4);
    EXPECT_EQ(c.tremoloPosition, 4);
    c.tremoloSpeed = 30;
    c.tremoloPosition = -4;
    c.volume = 5;
    tremolo(c);
    EXPECT_EQ(c.volumeDelta, -5);
    EXPECT_EQ(c.tremoloPosition, 26);
}

TEST_F(EffectsTest, TremorSoundsXPlusOneTicksAndIsSilentYPlusOne) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, TREMOR, 0x21);
    effect(0, 1, 0, TREMOR, 0x00);
    start();
    EXPECT_EQ(voiceVolumes(0, 12), (Ints{127, 127, 127, 0, 0, 127, 127, 127, 0, 0, 127, 127}));
}

TEST_F(EffectsTest, NoteCutSilencesOnItsTickAndNeverOnTheRowTick) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, EXTENDED, 0xC3);
    note(0, 0, 1, C4);
    effect(0, 0, 1, EXTENDED, 0xC0);
    start();
    EXPECT_EQ(volumes(0, 6), (Ints{64, 64, 64, 0, 0, 0}));
    EXPECT_EQ(ch(1).volume, 64);
}

TEST_F(EffectsTest, GlobalVolumeSlideReachesChannelsAtTheirNextVolumeUpdate) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 1, GLOBAL_SLIDE, 0x0F);
    start();
    tick();
    EXPECT_EQ(module->globalVolume, 64);
    tick();
    EXPECT_EQ(module->globalVolume, 49);
    EXPECT_EQ(voiceOf(0).volume, 127);
    tick(4);
    EXPECT_EQ(module->globalVolume, 0);
    tick();
    EXPECT_EQ(voiceOf(0).volume, 0);
}

TEST_F(EffectsTest, RetrigVolumeFollowsItsTable) {
    const int expected[16] = {32, 31, 30, 28, 24, 16, 21, 16, 32, 33, 34, 36, 40, 48, 48, 64};
    for (int x = 0; x < 16; ++x) {
        song();
        note(0, 0, 0, C4, 1, 0x10 + 32);
        effect(0, 0, 0, RETRIG, static_cast<std::uint8_t>(x << 4 | 1));
        start();
        tick(2);
        EXPECT_EQ(ch(0).volume, expected[x]) << "x = " << x;
        freeModule(module);
        module = nullptr;
        clearVoices();
    }
}

// Timing.

TEST_F(EffectsTest, RetriggersFallOnTheirTicks) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, EXTENDED, 0x93);
    note(0, 0, 1, C4);
    effect(0, 0, 1, EXTENDED, 0x90);
    note(0, 0, 2, C4, 1, 0x10 + 20);
    effect(0, 0, 2, RETRIG, 0x82); // every 2nd tick, volume unchanged
    start();
    std::vector<int> e9Voices;
    std::vector<int> e90Voices;
    std::vector<int> rVoices;
    for (int t = 0; t < 6; ++t) {
        tick();
        e9Voices.push_back(voiceOf(0).index);
        e90Voices.push_back(voiceOf(1).index);
        rVoices.push_back(voiceOf(2).index);
    }
    // A retrigger moves the channel to its twin voice: tick 3 only for E93.
    EXPECT_EQ(e9Voices, (Ints{0, 0, 0, 32, 32, 32}));
    EXPECT_EQ(e90Voices, (Ints{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(rVoices, (Ints{2, 2, 34, 34, 2, 2}));
    EXPECT_EQ(ch(2).volume, 20);
}

TEST_F(EffectsTest, NoteDelayKeepsTheOldSoundUntilItsTick) {
    song();
    note(0, 0, 0, C4, 1, 0x10 + 50);
    note(0, 1, 0, C4 + 12, 2, 0x10 + 20);
    effect(0, 1, 0, EXTENDED, 0xD3);
    note(0, 1, 1, C4, 1);
    effect(0, 1, 1, EXTENDED, 0xD0);
    start();
    tick(6);
    const std::uint64_t oldStep = stepOf(voiceOf(0));
    tick(3); // the row tick and ticks 1 and 2
    EXPECT_EQ(voiceOf(0).index, 0);
    EXPECT_EQ(ch(0).volume, 50);
    EXPECT_EQ(ch(0).period, 4608);
    EXPECT_EQ(stepOf(voiceOf(0)), oldStep);
    tick();
    EXPECT_EQ(voiceOf(0).index, 32);
    EXPECT_EQ(voiceOf(0).sample, module->instruments[1].samples[0]);
    EXPECT_EQ(ch(0).volume, 20);
    EXPECT_EQ(ch(0).period, 3840);
    EXPECT_EQ(stepOf(voiceOf(0)), stepFor(16726));
    // ED0 never starts its note.
    EXPECT_EQ(voiceOf(1).sample, nullptr);
}

// Panning.

TEST_F(EffectsTest, PanningSlidesStopAt255ButTheVolumeColumnsDoNot) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, 8, 250); // set panning
    effect(0, 1, 0, PANNING_SLIDE, 0xF0);
    note(0, 0, 1, C4, 1, 0xC0 + 15); // panning 240
    note(0, 1, 1, 0, 0, 0xE8);       // slide right by 8 every tick
    start();
    tick(6);
    tick(6);
    EXPECT_EQ(ch(0).panning, 255);
    EXPECT_EQ(ch(1).panning, 240 + 6 * 8);
    EXPECT_EQ(voiceOf(1).panning, 255);
}

// Envelopes.

Instrument envelope(std::initializer_list<EnvelopePoint> points, std::uint8_t type) {
    Instrument instrument{};
    int i = 0;
    for (const EnvelopePoint& point : points) {
        instrument.volumeEnvelope[i++] = point;
    }
    instrument.volumePointCount = static_cast<std::uint8_t>(i);
    instrument.volumeType = type;
    return instrument;
}

std::vector<int> levels(ChannelState& c, const Instrument& instrument, int count) {
    std::vector<int> result;
    for (int i = 0; i < count; ++i) {
        stepEnvelope(c, instrument, Envelope::Volume);
        result.push_back(c.volumeEnvLevel);
    }
    return result;
}

TEST_F(EffectsTest, AnEnvelopeHoldsAtItsSustainUntilKeyOffAndEndsAtItsLastPoint) {
    Instrument instrument = envelope({{0, 64}, {10, 0}}, ENVELOPE_ON | ENVELOPE_SUSTAIN);
    ChannelState c{};
    EXPECT_EQ(levels(c, instrument, 5), (Ints{64, 64, 64, 64, 64}));
    c.keyOff = 1;
    EXPECT_EQ(levels(c, instrument, 13), (Ints{64, 57, 51, 44, 38, 32, 25, 19, 12, 6, 0, 0, 0}));
    EXPECT_EQ(c.volumeEnvDone, 1);
}

TEST_F(EffectsTest, AnEnvelopeLoopRepeatsForeverEvenAfterKeyOff) {
    Instrument instrument = envelope({{0, 0}, {4, 64}, {8, 32}}, ENVELOPE_ON | ENVELOPE_LOOP);
    instrument.volumeLoopStart = 0;
    instrument.volumeLoopEnd = 1;
    ChannelState c{};
    EXPECT_EQ(levels(c, instrument, 10), (Ints{0, 16, 32, 48, 0, 16, 32, 48, 0, 16}));
    c.keyOff = 1;
    EXPECT_EQ(levels(c, instrument, 5), (Ints{32, 48, 0, 16, 32}));
    EXPECT_EQ(c.volumeEnvDone, 0);
}

TEST_F(EffectsTest, SetEnvelopePositionLandsInsideItsSegment) {
    Instrument instrument = envelope({{0, 64}, {10, 0}, {20, 32}}, ENVELOPE_ON);
    ChannelState c{};
    setEnvelopePosition(c, instrument, 5);
    EXPECT_EQ(c.volumeEnvLevel, 32);
    EXPECT_EQ(c.volumeEnvPoint, 1);
    EXPECT_EQ(levels(c, instrument, 1), (Ints{25}));
    setEnvelopePosition(c, instrument, 200);
    EXPECT_EQ(c.volumeEnvLevel, 32);
    EXPECT_EQ(c.volumeEnvDone, 1);
    // With all twelve points in use the search never looks past the table.
    Instrument full{};
    for (int i = 0; i < MAX_ENVELOPE_POINTS; ++i) {
        full.volumeEnvelope[i] = {static_cast<std::uint16_t>(i * 2), 10};
    }
    full.volumePointCount = MAX_ENVELOPE_POINTS;
    full.volumeType = ENVELOPE_ON;
    setEnvelopePosition(c, full, 255);
    EXPECT_EQ(c.volumeEnvDone, 1);
    EXPECT_EQ(c.volumeEnvLevel, 10);
}

TEST_F(EffectsTest, EnvelopeValuesBeyond64AndPointsOutOfOrderStayWithinTheLevels) {
    Instrument instrument = envelope({{10, 60000}, {2, 0}, {5, 64}}, ENVELOPE_ON);
    ChannelState c{};
    c.volumeEnvTick = 10;
    for (int level : levels(c, instrument, 5000)) {
        ASSERT_GE(level, 0);
        ASSERT_LE(level, 64);
    }
}

} // namespace
} // namespace tessivane::music::test
