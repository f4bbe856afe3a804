// Notes on the row tick, and what reaches the voice: pitch in both frequency tables,
// volume, panning, triggers on twin voices, start offsets.
#include "music/effects.h"
#include "replay_test_support.h"

#include <cmath>

namespace tessivane::music::test {
namespace {

constexpr int C4 = 49; // note 48 counted from 0: period 4608 in the linear table

class NotesTest : public ReplayTest {};

TEST_F(NotesTest, LinearPeriodsGiveTheirFrequencies) {
    song();
    note(0, 0, 0, C4);
    note(0, 0, 1, C4 + 12);
    sampleOf(1).finetune = -128;
    note(0, 0, 2, C4, 2);
    start();
    tick();
    EXPECT_EQ(ch(0).period, 4608);
    EXPECT_EQ(voiceOf(0).stepInt, 0);
    EXPECT_EQ(voiceOf(0).stepFrac, static_cast<std::uint32_t>((8363ull << 32) / 44100));
    EXPECT_EQ(ch(1).period, 3840);
    EXPECT_EQ(stepOf(voiceOf(1)), stepFor(16726));
    EXPECT_EQ(ch(2).period, 4608 + 64); // finetune -128: half a semitone's 128 units down
}

TEST_F(NotesTest, AmigaPeriodsGiveTheirFrequenciesTruncated) {
    song();
    module->flags = 0;
    note(0, 0, 0, C4);
    note(0, 0, 1, C4 + 12);
    start();
    tick();
    EXPECT_EQ(ch(0).period, 1712);
    EXPECT_EQ(stepOf(voiceOf(0)), stepFor(8362)); // 14,317,056 / 1712 = 8362.8
    EXPECT_EQ(ch(1).period, 856);
    EXPECT_EQ(stepOf(voiceOf(1)), stepFor(16725));

    EXPECT_EQ(amigaPeriod(0, 0), 27392);
    EXPECT_EQ(amigaPeriod(95, 0), 113);
    // Finetune moves towards the neighbouring note by f/128 of the step.
    EXPECT_EQ(amigaPeriod(48, -128), amigaPeriod(47, 0));
    EXPECT_EQ(amigaPeriod(48, 64), 1712 - (1712 - amigaPeriod(49, 0)) / 2);
}

TEST_F(NotesTest, FrequenciesBelow100HzPlayAt100AndNoneReachesAStepOf256) {
    song();
    ChannelState& c = ch(0);
    c.voice = &voices[0];
    c.period = 30000;
    c.updateFlags = UPDATE_FREQUENCY;
    updateVoice(c, emptySample, *module);
    EXPECT_EQ(stepOf(voices[0]), stepFor(100));
    c.period = -100000; // slid far beyond any audible pitch
    c.updateFlags = UPDATE_FREQUENCY;
    updateVoice(c, emptySample, *module);
    EXPECT_EQ(voices[0].stepInt, 255);

    // Amiga: a period and offset adding up to 0 leave the frequency as it was; a negative
    // sum is floored.
    module->flags = 0;
    c.period = 1712;
    c.updateFlags = UPDATE_FREQUENCY;
    updateVoice(c, emptySample, *module);
    c.periodDelta = -1712;
    c.updateFlags = UPDATE_FREQUENCY;
    updateVoice(c, emptySample, *module);
    EXPECT_EQ(stepOf(voices[0]), stepFor(8362));
    c.periodDelta = -1800;
    c.updateFlags = UPDATE_FREQUENCY;
    updateVoice(c, emptySample, *module);
    EXPECT_EQ(stepOf(voices[0]), stepFor(100));
}

TEST_F(NotesTest, AFullNoteAtCentrePanningHasVolume127SplitEvenly) {
    song();
    note(0, 0, 0, C4);
    start();
    tick();
    EXPECT_EQ(voiceOf(0).volume, 127);
    EXPECT_EQ(voiceOf(0).panning, 128);
    EXPECT_EQ(voiceOf(0).volumeLeft, 63);
    EXPECT_EQ(voiceOf(0).volumeRight, 63);
}

TEST_F(NotesTest, ThePanningEnvelopeMovesCentrePanningFullyButNotTheExtremes) {
    song();
    ChannelState& c = ch(0);
    c.voice = &voices[0];
    voices[0].volume = 100;
    const auto finalPanning = [&](int panning, int level) {
        c.panning = panning;
        c.panningEnvLevel = level;
        c.updateFlags = UPDATE_PANNING;
        updateVoice(c, emptySample, *module);
        return voices[0].panning;
    };
    EXPECT_EQ(finalPanning(128, 0), 0);
    EXPECT_EQ(finalPanning(128, 64), 255); // 256, limited
    EXPECT_EQ(finalPanning(128, 40), 160);
    EXPECT_EQ(finalPanning(0, 64), 0);
    EXPECT_EQ(finalPanning(255, 0), 255);
    EXPECT_EQ(voices[0].volumeLeft, 100);
    EXPECT_EQ(voices[0].volumeRight, 0);
}

TEST_F(NotesTest, ANewNoteOnASoundingVoiceMovesToItsTwinAndBack) {
    song();
    note(0, 0, 3, C4);
    note(0, 1, 3, C4 + 2);
    note(0, 2, 3, C4 + 4);
    start();
    tick(6);
    EXPECT_EQ(voiceOf(3).index, 3);
    tick(6);
    EXPECT_EQ(voiceOf(3).index, 35);
    // The old voice fades out on its own, still playing.
    EXPECT_NE(voices[3].sample, nullptr);
    EXPECT_EQ(voices[3].volumeLeft, 0);
    EXPECT_EQ(voices[3].volumeRight, 0);
    EXPECT_EQ(voices[35].levelLeft, 0u); // the new note ramps up from silence
    tick(6);
    EXPECT_EQ(voiceOf(3).index, 3);
    EXPECT_EQ(voices[35].volumeLeft, 0);
}

TEST_F(NotesTest, SampleOffsetsWaitForTheNextTriggerAndStartAt0BeyondTheLoop) {
    song();
    module->instruments[1].samples[0]->length = 100;
    module->instruments[1].samples[0]->loopLength = 100;
    note(0, 0, 0, C4);
    effect(0, 1, 0, SAMPLE_OFFSET, 0x03); // no note: kept for the next trigger
    note(0, 2, 0, C4);
    note(0, 3, 0, C4, 2); // 768 is beyond the 100-value sample's loop
    effect(0, 4, 0, SAMPLE_OFFSET, 0x03);
    start();
    tick(6);
    tick(1);
    EXPECT_EQ(voiceOf(0).startOffset, 768u);
    tick(5);
    tick(1);
    EXPECT_EQ(voiceOf(0).positionInt, 768u);
    voiceOf(0).startOffset = 768;
    tick(5);
    tick(1);
    EXPECT_EQ(voiceOf(0).positionInt, 0u);
    // With the offset beyond the channel's sample, the row restarts the voice at 0 instead
    // of triggering it.
    voiceOf(0).positionInt = 50;
    tick(5);
    tick(1);
    EXPECT_EQ(voiceOf(0).positionInt, 0u);
    EXPECT_EQ(voiceOf(0).direction, DIRECTION_FORWARD);
}

TEST_F(NotesTest, ToneportamentoWithANoteKeepsTheSoundAndAimsAtTheNote) {
    song();
    note(0, 0, 0, C4);
    note(0, 1, 0, C4 + 4, 2);
    effect(0, 1, 0, TONE_PORTA, 0x10);
    start();
    tick(6);
    voiceOf(0).positionInt = 500;
    tick(1);
    EXPECT_EQ(ch(0).period, 4608);
    EXPECT_EQ(ch(0).portaTarget, 4608 - 4 * 64);
    EXPECT_EQ(ch(0).notePeriod, 4608 - 4 * 64);
    EXPECT_EQ(ch(0).realNote, 52);
    EXPECT_EQ(ch(0).keyNote, 48);
    EXPECT_EQ(ch(0).instrument, 0);
    EXPECT_EQ(voiceOf(0).index, 0); // not retriggered
    EXPECT_EQ(voiceOf(0).positionInt, 500u);
    tick();
    EXPECT_EQ(ch(0).period, 4608 - 4 * 16);
}

TEST_F(NotesTest, VolumeColumnPortamentoTakesTheNotesPitchAtOnceWithoutRetriggering) {
    song();
    note(0, 0, 0, C4);
    note(0, 1, 0, C4 + 4, 2, 0xF2);
    start();
    tick(6);
    voiceOf(0).positionInt = 500;
    tick(1);
    EXPECT_EQ(ch(0).period, 4608 - 4 * 64);
    EXPECT_EQ(ch(0).instrument, 1);
    EXPECT_EQ(ch(0).portaSpeed, 32);
    EXPECT_EQ(voiceOf(0).index, 0);
    EXPECT_EQ(voiceOf(0).positionInt, 500u);
}

TEST_F(NotesTest, KeyOffSilencesAnInstrumentWithoutEnvelopeAndReleasesOneWith) {
    song();
    note(0, 0, 0, C4);
    note(0, 1, 0, NOTE_KEY_OFF, 0);
    Instrument& withEnvelope = module->instruments[1];
    withEnvelope.volumeEnvelope[0] = {0, 64};
    withEnvelope.volumeEnvelope[1] = {10, 0};
    withEnvelope.volumePointCount = 2;
    withEnvelope.volumeSustain = 0;
    withEnvelope.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    withEnvelope.fadeout = 4096;
    note(0, 0, 1, C4, 2);
    effect(0, 1, 1, KEY_OFF_EFFECT, 0x33); // Kxx acts on the row tick whatever xx
    start();
    tick(6);
    EXPECT_EQ(voiceOf(0).volume, 127);
    EXPECT_EQ(voiceOf(1).volume, 127);
    tick(1);
    EXPECT_EQ(voiceOf(0).volume, 0);
    EXPECT_EQ(ch(1).keyOff, 1);
    EXPECT_EQ(ch(1).fadeVolume, 65536 - 4096);
    EXPECT_EQ(ch(1).volumeEnvLevel, 64);
    tick(1);
    EXPECT_EQ(ch(1).volumeEnvLevel, 57); // past the sustain, falling
    EXPECT_EQ(ch(1).fadeVolume, 65536 - 2 * 4096);
}

TEST_F(NotesTest, GlobalVolumeReachesLaterChannelsOnItsRowAndEarlierOnesAtTheirNextUpdate) {
    song(6);
    for (int c = 0; c < 6; ++c) {
        note(0, 0, c, C4);
    }
    effect(0, 1, 3, GLOBAL_VOLUME, 32);
    start();
    tick(6);
    tick(1);
    EXPECT_EQ(voiceOf(2).volume, 127);
    EXPECT_EQ(voiceOf(3).volume, 63);
    EXPECT_EQ(voiceOf(4).volume, 63);
    EXPECT_EQ(voiceOf(5).volume, 63);
    tick(5);
    EXPECT_EQ(voiceOf(0).volume, 127); // no volume update on the later ticks
    tick(1);
    EXPECT_EQ(voiceOf(0).volume, 63);
}

TEST_F(NotesTest, SetVolumeIsNotLimitedTo64) {
    song();
    note(0, 0, 0, C4);
    effect(0, 0, 0, SET_VOLUME, 80);
    start();
    tick();
    EXPECT_EQ(ch(0).volume, 80);
    EXPECT_EQ(voiceOf(0).volume, 159);
}

TEST_F(NotesTest, TheLastTremoloOffsetStaysInTheVolume) {
    song();
    note(0, 0, 0, C4, 1, 0x10 + 40);
    effect(0, 0, 0, TREMOLO, 0x4F);
    start();
    tick(6);
    const int delta = ch(0).volumeDelta;
    EXPECT_GT(delta, 0);
    tick(1);
    EXPECT_EQ(ch(0).volume, 40 + delta);
    EXPECT_EQ(ch(0).volumeDelta, 0);
}

TEST_F(NotesTest, NotesAndInstrumentsOutOfRangePlaySilence) {
    song();
    note(0, 0, 0, C4, 9);                      // no instrument 9
    module->instruments[1].noteSample[48] = 5; // a slot without a sample
    note(0, 0, 1, C4, 2);
    start();
    tick();
    EXPECT_EQ(voiceOf(0).sample, &emptySample);
    EXPECT_EQ(voiceOf(1).sample, &emptySample);
    // A note beyond the note table (possible in a module made in code) plays silence too.
    ch(2).keyNote = 200;
    ch(2).instrument = 0;
    cell(0, 1, 2).note = 1;
    cell(0, 1, 2).effect = TONE_PORTA;
    tick(6);
    EXPECT_EQ(voiceOf(2).sample, nullptr);
}

} // namespace
} // namespace tessivane::music::test
