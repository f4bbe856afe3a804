// Songs built in code, written as XM and loaded again, come back as they were.
#include "module_test_support.h"

#include <gtest/gtest.h>

namespace tessivane::music::test {
namespace {

// Every kind of record the writer handles: several patterns of different lengths, cells
// in every packed form, key offs, instruments with and without samples, 8- and 16-bit
// samples with each loop mode, envelopes and vibrato.
ModulePtr richModule() {
    ModulePtr song(createModule(5, 3, 64, 4));
    song->patterns[1].rowCount = 16;
    setOrders(*song, {0, 1, 2, 1, 0});
    song->restartPosition = 3;
    song->defaultSpeed = 4;
    song->defaultBpm = 200;
    song->orderTable[200] = 77;
    for (int row = 0; row < 64; row += 3) {
        cellAt(*song, 0, row, row % 5) = {static_cast<std::uint8_t>(row % 96 + 1), 1,
                                          static_cast<std::uint8_t>(0x10 + row), 0, 0};
    }
    cellAt(*song, 1, 15, 4) = {96, 4, 0x50, 0x0F, 0x7D};
    cellAt(*song, 1, 2, 0) = {NOTE_KEY_OFF, 0, 0, 0, 0};
    cellAt(*song, 2, 63, 2) = {0, 0, 0, 0x0E, 0x61};

    Instrument& lead = song->instruments[0];
    Sample* pulse = addSample(lead, 32);
    pulse->bits = 8;
    for (int i = 0; i < 32; ++i) {
        pulse->data[i] = static_cast<std::int16_t>(i < 10 ? 0x3000 : -0x2000);
    }
    pulse->loopMode = LOOP_FORWARD;
    pulse->volume = 50;
    pulse->finetune = 17;
    pulse->relativeNote = 12;
    Sample* ramp = addSample(lead, 300);
    for (int i = 0; i < 300; ++i) {
        ramp->data[i] = static_cast<std::int16_t>(i * 211 - 30000);
    }
    ramp->loopMode = LOOP_PING_PONG;
    ramp->loopStart = 100;
    ramp->loopLength = 150;
    ramp->panning = 0;
    for (int n = 48; n < NOTE_COUNT; ++n) {
        lead.noteSample[n] = 1;
    }
    lead.volumeEnvelope[0] = {0, 0};
    lead.volumeEnvelope[1] = {4, 64};
    lead.volumeEnvelope[2] = {40, 20};
    lead.volumePointCount = 3;
    lead.volumeSustain = 1;
    lead.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    lead.panningEnvelope[0] = {0, 0};
    lead.panningEnvelope[1] = {8, 64};
    lead.panningPointCount = 2;
    lead.panningLoopEnd = 1;
    lead.panningType = ENVELOPE_ON | ENVELOPE_LOOP;
    lead.fadeout = 4096;
    lead.vibratoType = 1;
    lead.vibratoSweep = 3;
    lead.vibratoDepth = 9;
    lead.vibratoRate = 20;
    // Instrument 2 stays empty.
    Sample* hit = addSample(song->instruments[2], 1000);
    for (int i = 0; i < 1000; ++i) {
        hit->data[i] = static_cast<std::int16_t>((i * 7919) % 65536 - 32768);
    }
    addSample(song->instruments[3], 0);
    addSample(song->instruments[3], 5)->data[4] = -1;
    return song;
}

TEST(ModuleWriter, RoundTripGivesTheSameSongAndTheSameBytesAgain) {
    ModulePtr song = richModule();
    const Bytes first = write(*song);
    ModulePtr loaded = load(first);
    ASSERT_NE(loaded, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *loaded), "");
    EXPECT_EQ(loaded->instruments[0].samples[0]->bits, 16);
    EXPECT_EQ(loaded->instruments[3].samples[0]->data, nullptr);

    // A loaded module writes back as itself: only the 8-bit sample becomes 16-bit.
    const Bytes second = write(*loaded);
    EXPECT_EQ(second.size(), first.size() + 32);
    ModulePtr again = load(second);
    ASSERT_NE(again, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*loaded, *again), "");
    EXPECT_EQ(write(*again), second);
}

TEST(ModuleWriter, CellsTakeTheirShortestForm) {
    ModulePtr song(createModule(4, 2, 1, 0));
    setOrders(*song, {0, 1});
    cellAt(*song, 0, 0, 0) = {49, 1, 0x40, 0x0C, 0x20};  // all five: 5 bytes as they are
    cellAt(*song, 0, 0, 1) = {NOTE_KEY_OFF, 0, 0, 0, 0}; // mask and note 97
    cellAt(*song, 0, 0, 2) = {0, 0, 0, 0x0F, 0};         // mask and effect
    Bytes bytes = write(*song);
    EXPECT_EQ(Bytes(bytes.begin() + HEADER_END + 9, bytes.begin() + HEADER_END + 9 + 10),
              (Bytes{49, 1, 0x40, 0x0C, 0x20, 0x81, 97, 0x88, 0x0F, 0x80}));
    EXPECT_EQ(get16(bytes, HEADER_END + 7), 10u);
    // An empty pattern has no data at all.
    EXPECT_EQ(get16(bytes, patternAt(bytes, 1) + 7), 0u);
    EXPECT_EQ(bytes.size(), patternAt(bytes, 1) + 9);
}

TEST(ModuleWriter, TheHeaderNamesTheSongAndThisProgram) {
    ModulePtr song(createModule(2, 1, 1, 0));
    Bytes bytes;
    std::string error;
    ASSERT_TRUE(writeModule(*song, bytes, error, "A title longer than twenty"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 37),
              "Extended Module: A title longer than ");
    EXPECT_EQ(bytes[37], 0x1A);
    EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 47), "Tessivane");
    EXPECT_EQ(get16(bytes, 58), 0x0104u);
    EXPECT_EQ(get16(bytes, 60), 276u);
}

TEST(ModuleWriter, RefusesWhatTheFileCannotHold) {
    auto refusal = [](const Module& module) {
        Bytes bytes = {1, 2, 3};
        std::string error;
        EXPECT_FALSE(writeModule(module, bytes, error));
        EXPECT_TRUE(bytes.empty());
        return error;
    };
    ModulePtr song = oneSampleModule({0x100, 0x201});
    song->instruments[0].samples[0]->bits = 8;
    EXPECT_EQ(refusal(*song), "instrument 1 sample 0: value 1 does not fit 8 bits");
    song->instruments[0].samples[0]->bits = 16;
    song->instruments[0].fadeout = 301;
    EXPECT_EQ(refusal(*song), "instrument 1: fadeout 301 is odd (the file stores half of it)");
    song->instruments[0].fadeout = 0;
    song->instruments[0].samples[0]->panning = 256;
    EXPECT_EQ(refusal(*song), "instrument 1 sample 0: panning 256 (0 to 255)");
    song->instruments[0].samples[0]->panning = 0;
    song->instruments[0].samples[0]->length = 0x80000000u;
    EXPECT_EQ(refusal(*song), "instrument 1 sample 0 is too long for the file");
    song->instruments[0].samples[0]->length = 2;
    song->instruments[0].sampleCount = 17;
    EXPECT_EQ(refusal(*song), "instrument 1 has 17 samples (0 to 16)");
    song->instruments[0].sampleCount = 2; // slot 1 is the borrowed empty sample: fine
    Sample* borrowed = song->instruments[0].samples[1];
    song->instruments[0].samples[1] = nullptr;
    EXPECT_EQ(refusal(*song), "instrument 1 has no sample 1");
    song->instruments[0].samples[1] = borrowed;
    song->instruments[0].sampleCount = 1;

    song->patterns[0].rowCount = 70000;
    EXPECT_EQ(refusal(*song), "pattern 0 has 70000 rows (0 to 65535)");
    song->patterns[0].rowCount = 4;
    song->channelCount = -1;
    EXPECT_EQ(refusal(*song), "a negative count, position, speed or BPM");
    song->channelCount = 2;

    // 512 rows of 32 channels of notes with bit 7 set: a mask and five fields each.
    ModulePtr big(createModule(32, 1, 256, 0));
    big->patterns[0].rowCount = 512;
    PatternCell* cells = big->patterns[0].cells;
    std::vector<PatternCell> more(512 * 32, PatternCell{0xF0, 1, 2, 3, 4});
    big->patterns[0].cells = more.data();
    EXPECT_EQ(refusal(*big), "pattern 0 packs to 98304 bytes (at most 65535)");
    big->patterns[0].cells = cells;
    big->patterns[0].rowCount = 256;
}

} // namespace
} // namespace tessivane::music::test
