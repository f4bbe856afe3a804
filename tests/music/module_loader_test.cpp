// What the loader makes of an XM file: the song's records, the conversions of cells and
// sample data, and the repairs that keep every loaded module safe to play.
#include "module_test_support.h"

#include <gtest/gtest.h>

namespace tessivane::music::test {
namespace {

// Offsets in oneSampleModule's file.
constexpr std::size_t INSTRUMENT = HEADER_END + 9;
constexpr std::size_t SAMPLE = INSTRUMENT + INSTRUMENT_HEADER;
constexpr std::size_t DATA = SAMPLE + SAMPLE_HEADER;
// Fields of an instrument header, from its start.
constexpr std::size_t SAMPLE_COUNT = 27;
constexpr std::size_t SAMPLE_HEADER_SIZE = 29;
constexpr std::size_t VOLUME_POINTS = 225;
constexpr std::size_t VOLUME_LOOP_START = 228;
constexpr std::size_t VOLUME_TYPE = 233;
constexpr std::size_t FADEOUT = 239;
// Fields of a sample header.
constexpr std::size_t LOOP_START = 4;
constexpr std::size_t LOOP_LENGTH = 8;
constexpr std::size_t TYPE = 14;

TEST(ModuleLoader, PatternSlotsCoverEveryOrderOfTheSongOnly) {
    ModulePtr song(createModule(4, 10, 32, 0));
    song->songLength = 3;
    song->orderTable[0] = 0;
    song->orderTable[1] = 13;
    song->orderTable[2] = 2;
    song->orderTable[5] = 200; // beyond the song: played never, counted never
    ModulePtr module = load(write(*song));
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->usedPatternCount, 14);
    EXPECT_EQ(module->patternSlotCount, 14);
    EXPECT_EQ(module->orderTable[5], 200);
    EXPECT_EQ(module->patterns[9].rowCount, 32);
    for (int p = 10; p < 14; ++p) {
        ASSERT_EQ(module->patterns[p].rowCount, 64);
        for (int c = 0; c < 64 * 4; ++c) {
            const PatternCell& cell = module->patterns[p].cells[c];
            ASSERT_EQ(cell.note | cell.instrument | cell.volume | cell.effect | cell.parameter, 0);
        }
    }
}

TEST(ModuleLoader, HeaderFieldsAndThePlaybackStartValues) {
    ModulePtr song(createModule(6, 2, 16, 0));
    setOrders(*song, {1, 0, 1});
    song->restartPosition = 2;
    song->flags = 0;
    song->defaultSpeed = 3;
    song->defaultBpm = 140;
    ModulePtr module = load(write(*song));
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *module), "");
    EXPECT_EQ(module->usedPatternCount, 2);
    EXPECT_EQ(module->initialGlobalVolume, 64);
    EXPECT_NE(module->tickHandler, nullptr);
    EXPECT_EQ(module->flags & FLAG_LINEAR_FREQUENCIES, 0);
}

TEST(ModuleLoader, CellsInBothPackedFormsAndTheirConversions) {
    ModulePtr song(createModule(1, 1, 8, 0));
    Bytes bytes = write(*song);
    setPatternData(bytes, 0,
                   {0x80,                     // row 0: nothing
                    0x00, 5,    0x20, 1, 2,   // row 1: no mask bit, so four fields follow
                    0x83, 97,   129,          // row 2: key off, instrument beyond 128
                    0x82, 128,                // row 3: instrument 128 stays
                    0x98, 0x0C, 0x40,         // row 4: effect and parameter only
                    0x81, 98,                 // row 5: a note past the last is no note
                    0x81, 0xFF,               // row 6: likewise
                    61,   0,    0,    0, 0}); // row 7: a plain note
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    auto cell = [&](int row) {
        const PatternCell& c = module->patterns[0].cells[row];
        return std::vector<int>{c.note, c.instrument, c.volume, c.effect, c.parameter};
    };
    EXPECT_EQ(cell(0), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(cell(1), (std::vector<int>{0, 5, 0x20, 1, 2}));
    EXPECT_EQ(cell(2), (std::vector<int>{255, 0, 0, 0, 0}));
    EXPECT_EQ(cell(3), (std::vector<int>{0, 128, 0, 0, 0}));
    EXPECT_EQ(cell(4), (std::vector<int>{0, 0, 0, 0x0C, 0x40}));
    EXPECT_EQ(cell(5), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(cell(6), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(cell(7), (std::vector<int>{61, 0, 0, 0, 0}));
}

TEST(ModuleLoader, PatternDataBeyondTheLastCellIsSkipped) {
    ModulePtr song(createModule(1, 2, 1, 0));
    setOrders(*song, {0, 1});
    cellAt(*song, 1, 0, 0).note = 49;
    Bytes bytes = write(*song);
    setPatternData(bytes, 0, {0x81, 12, 0x81, 13, 0x81, 14}); // one cell, then two extra
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->patterns[0].cells[0].note, 12);
    EXPECT_EQ(module->patterns[1].cells[0].note, 49);
}

TEST(ModuleLoader, SixteenBitLengthsAreHalvedAndLoopsConverted) {
    ModulePtr song = oneSampleModule(std::vector<std::int16_t>(50, 7));
    Sample& s = *song->instruments[0].samples[0];
    s.loopMode = LOOP_FORWARD;
    s.loopStart = 10;
    s.loopLength = 20;
    Bytes bytes = write(*song);
    ASSERT_EQ(bytes.size(), DATA + 100);
    EXPECT_EQ(get16(bytes, SAMPLE), 100u);
    EXPECT_EQ(get16(bytes, SAMPLE + LOOP_START), 20u);
    EXPECT_EQ(get16(bytes, SAMPLE + LOOP_LENGTH), 40u);
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    const Sample& loaded = *module->instruments[0].samples[0];
    EXPECT_EQ(loaded.length, 50u);
    EXPECT_EQ(loaded.loopStart, 10u);
    EXPECT_EQ(loaded.loopLength, 20u);
    EXPECT_EQ(loaded.loopMode, LOOP_FORWARD);
    EXPECT_EQ(loaded.bits, 16);

    // Both loop bits: ping-pong wins.
    bytes[SAMPLE + TYPE] = 0x13;
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].samples[0]->loopMode, LOOP_PING_PONG);

    // A loop of length 0 is no loop: the whole sample, from 0.
    put32(bytes, SAMPLE + LOOP_LENGTH, 1); // half a value: 0 values
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].samples[0]->loopMode, LOOP_NONE);
    EXPECT_EQ(module->instruments[0].samples[0]->loopStart, 0u);
    EXPECT_EQ(module->instruments[0].samples[0]->loopLength, 50u);

    // Without loop bits the stored loop is ignored.
    bytes[SAMPLE + TYPE] = 0x10;
    put32(bytes, SAMPLE + LOOP_START, 8);
    put32(bytes, SAMPLE + LOOP_LENGTH, 8);
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].samples[0]->loopStart, 0u);
    EXPECT_EQ(module->instruments[0].samples[0]->loopLength, 50u);
}

TEST(ModuleLoader, EightBitDeltasBecomeHighBytes) {
    ModulePtr song = oneSampleModule({256, 512, 768, 32512, -32768}, 8);
    Bytes bytes = write(*song);
    ASSERT_EQ(bytes.size(), DATA + 5);
    EXPECT_EQ(Bytes(bytes.begin() + DATA, bytes.end()), (Bytes{1, 1, 1, 0x7C, 1}));
    // 127, 1 from the start.
    bytes[DATA] = 127;
    bytes[DATA + 1] = 1;
    bytes[DATA + 2] = 0;
    bytes[DATA + 3] = 0;
    bytes[DATA + 4] = 0xFF;
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    const Sample& s = *module->instruments[0].samples[0];
    EXPECT_EQ(s.bits, 16);
    EXPECT_EQ(
        std::vector<std::int16_t>(s.data, s.data + 5 + SAMPLE_PADDING),
        (std::vector<std::int16_t>{32512, -32768, -32768, -32768, 32512, 0, 0, 0, 0, 0, 0, 0, 0}));

    bytes[DATA] = bytes[DATA + 1] = bytes[DATA + 2] = 1;
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].samples[0]->data[0], 256);
    EXPECT_EQ(module->instruments[0].samples[0]->data[1], 512);
    EXPECT_EQ(module->instruments[0].samples[0]->data[2], 768);
}

TEST(ModuleLoader, SixteenBitDeltasWrap) {
    ModulePtr song = oneSampleModule({32767, -32768, 0, -1});
    Bytes bytes = write(*song);
    EXPECT_EQ(Bytes(bytes.begin() + DATA, bytes.end()),
              (Bytes{0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80, 0xFF, 0xFF}));
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *module), "");
}

TEST(ModuleLoader, GuardValueAtTheLoopEnd) {
    auto guarded = [](std::uint8_t mode, std::uint32_t start, std::uint32_t length) {
        ModulePtr song = oneSampleModule({10, 20, 30, 40, 50, 60});
        Sample& s = *song->instruments[0].samples[0];
        s.loopMode = mode;
        s.loopStart = start;
        s.loopLength = length;
        ModulePtr module = load(write(*song));
        EXPECT_NE(module, nullptr) << lastModuleError();
        const Sample& loaded = *module->instruments[0].samples[0];
        return std::vector<std::int16_t>(loaded.data, loaded.data + 6 + SAMPLE_PADDING);
    };
    EXPECT_EQ(guarded(LOOP_FORWARD, 1, 3),
              (std::vector<std::int16_t>{10, 20, 30, 40, 20, 60, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(guarded(LOOP_PING_PONG, 1, 3),
              (std::vector<std::int16_t>{10, 20, 30, 40, 40, 60, 0, 0, 0, 0, 0, 0, 0, 0}));
    // A loop to the very end puts its guard in the padding.
    EXPECT_EQ(guarded(LOOP_FORWARD, 2, 4),
              (std::vector<std::int16_t>{10, 20, 30, 40, 50, 60, 30, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(guarded(LOOP_NONE, 0, 6),
              (std::vector<std::int16_t>{10, 20, 30, 40, 50, 60, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ModuleLoader, LoopsBeyondTheSampleAreCutToIt) {
    ModulePtr song = oneSampleModule({10, 20, 30, 40, 50, 60});
    Sample& s = *song->instruments[0].samples[0];
    s.loopMode = LOOP_PING_PONG;
    s.loopStart = 4;
    s.loopLength = 1000;
    ModulePtr module = load(write(*song));
    ASSERT_NE(module, nullptr) << lastModuleError();
    const Sample& cut = *module->instruments[0].samples[0];
    EXPECT_EQ(cut.loopMode, LOOP_PING_PONG);
    EXPECT_EQ(cut.loopStart, 4u);
    EXPECT_EQ(cut.loopLength, 2u);
    EXPECT_EQ(cut.data[6], 60);

    // Starting at or past the end, or wrapping 32 bits, it is no loop at all.
    for (std::uint32_t start : {6u, 0x7FFFFFFFu}) {
        s.loopStart = start;
        s.loopLength = 0x7FFFFFFFu;
        module = load(write(*song));
        ASSERT_NE(module, nullptr) << lastModuleError();
        const Sample& none = *module->instruments[0].samples[0];
        EXPECT_EQ(none.loopMode, LOOP_NONE);
        EXPECT_EQ(none.loopStart, 0u);
        EXPECT_EQ(none.loopLength, 6u);
        EXPECT_EQ(none.data[6], 0);
    }

    // A looping sample of no length: nothing to loop, nothing allocated.
    ModulePtr empty = oneSampleModule({});
    empty->instruments[0].samples[0]->loopMode = LOOP_FORWARD;
    empty->instruments[0].samples[0]->loopLength = 5;
    module = load(write(*empty));
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].samples[0]->data, nullptr);
    EXPECT_EQ(module->instruments[0].samples[0]->loopMode, LOOP_NONE);
    EXPECT_EQ(module->instruments[0].samples[0]->loopLength, 0u);
}

TEST(ModuleLoader, OddSixteenBitLengthsKeepTheFollowingDataInPlace) {
    ModulePtr song(createModule(1, 1, 1, 2));
    Sample* first = addSample(song->instruments[0], 2);
    first->data[0] = 100;
    first->data[1] = 200;
    Sample* second = addSample(song->instruments[0], 1);
    second->data[0] = -5;
    Sample* other = addSample(song->instruments[1], 1);
    other->data[0] = 77;
    Bytes bytes = write(*song);
    // Give the first sample a stray odd byte: 5 bytes are 2 values and one left over.
    const std::size_t instrument = instrumentsAt(bytes);
    const std::size_t data = instrument + INSTRUMENT_HEADER + 2 * SAMPLE_HEADER;
    put32(bytes, instrument + INSTRUMENT_HEADER, 5);
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(data + 4), 0xEE);
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *module), "");
}

TEST(ModuleLoader, InstrumentFieldsAndFreeSlots) {
    ModulePtr song(createModule(1, 1, 1, 3));
    Instrument& a = song->instruments[0];
    addSample(a, 4);
    Sample* s = addSample(a, 2);
    s->volume = 33;
    s->finetune = -100;
    s->panning = 255;
    s->relativeNote = -12;
    for (int n = 0; n < NOTE_COUNT; ++n) {
        a.noteSample[n] = static_cast<std::uint8_t>(n % 2);
    }
    a.volumeEnvelope[0] = {0, 64};
    a.volumeEnvelope[1] = {10, 0};
    a.volumeEnvelope[2] = {20, 32};
    a.volumePointCount = 3;
    a.volumeSustain = 1;
    a.volumeLoopStart = 0;
    a.volumeLoopEnd = 2;
    a.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP;
    a.panningEnvelope[0] = {0, 32};
    a.panningEnvelope[1] = {5, 64};
    a.panningPointCount = 2;
    a.panningType = ENVELOPE_ON;
    a.vibratoType = 2;
    a.vibratoSweep = 10;
    a.vibratoDepth = 8;
    a.vibratoRate = 30;
    a.fadeout = 600;
    // Instrument 2 has no samples; instrument 3 after it must still be found.
    addSample(song->instruments[2], 3)->data[2] = 1234;
    Bytes bytes = write(*song);
    const std::size_t instrument = instrumentsAt(bytes);
    EXPECT_EQ(get16(bytes, instrument + FADEOUT), 300u); // the file keeps half
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *module), "");
    EXPECT_EQ(module->instruments[0].fadeout, 600);
    for (int slot = 2; slot < MAX_SAMPLES_PER_INSTRUMENT; ++slot) {
        EXPECT_EQ(module->instruments[0].samples[slot], &emptySample);
    }
    for (Sample* slot : module->instruments[1].samples) {
        EXPECT_EQ(slot, &emptySample);
    }
    EXPECT_EQ(module->instruments[2].samples[0]->data[2], 1234);

    // The doubled fadeout keeps 16 bits.
    put16(bytes, instrument + FADEOUT, 40000);
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].fadeout, 14464);
}

TEST(ModuleLoader, EnvelopesTheReplayCannotFollowAreSwitchedOffOrCut) {
    ModulePtr song = oneSampleModule({1});
    Instrument& a = song->instruments[0];
    a.volumePointCount = 1;
    a.volumeType = ENVELOPE_ON | ENVELOPE_SUSTAIN;
    a.panningPointCount = 0;
    a.panningType = ENVELOPE_ON;
    Bytes bytes = write(*song);
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].volumeType, 0);
    EXPECT_EQ(module->instruments[0].panningType, 0);

    // More points than the table holds are cut to 12; a loop outside the points goes off.
    bytes[INSTRUMENT + VOLUME_POINTS] = 200;
    bytes[INSTRUMENT + VOLUME_TYPE] = ENVELOPE_ON | ENVELOPE_LOOP;
    bytes[INSTRUMENT + VOLUME_LOOP_START] = 3;
    bytes[INSTRUMENT + VOLUME_LOOP_START + 1] = 11;
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].volumePointCount, 12);
    EXPECT_EQ(module->instruments[0].volumeType, ENVELOPE_ON | ENVELOPE_LOOP);
    bytes[INSTRUMENT + VOLUME_POINTS] = 5;
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->instruments[0].volumeType, ENVELOPE_ON);
}

TEST(ModuleLoader, RestartBeyondTheSongStartsOver) {
    ModulePtr song(createModule(1, 1, 1, 0));
    setOrders(*song, {0, 0});
    song->restartPosition = 1;
    Bytes bytes = write(*song);
    put16(bytes, RESTART_AT, 2);
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->restartPosition, 0);
    put16(bytes, RESTART_AT, 1);
    module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->restartPosition, 1);
}

TEST(ModuleLoader, PatternsWithoutRowsGetEmptyRows) {
    ModulePtr song(createModule(2, 2, 4, 0));
    setOrders(*song, {0, 1});
    cellAt(*song, 1, 3, 1).note = 50;
    Bytes bytes = write(*song);
    put16(bytes, patternAt(bytes, 0) + 5, 0);
    setPatternData(bytes, 0, {0x81, 12}); // data of a rowless pattern is skipped
    ModulePtr module = load(bytes);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(module->patterns[0].rowCount, 64);
    EXPECT_EQ(module->patterns[0].cells[0].note, 0);
    EXPECT_EQ(module->patterns[1].cells[7].note, 50);
}

TEST(ModuleLoader, HeaderSizesLargerThanTheirFieldsAreSkippedSmallerOnesIgnored) {
    ModulePtr song(createModule(1, 1, 1, 1));
    cellAt(*song, 0, 0, 0).note = 49;
    addSample(song->instruments[0], 2)->data[1] = 99;
    addSample(song->instruments[0], 1)->data[0] = -99;
    Bytes bytes = write(*song);

    // A pattern header of 12 bytes: its data starts after all 12.
    Bytes longer = bytes;
    const std::size_t pattern = patternAt(longer, 0);
    put32(longer, pattern, 12);
    longer.insert(longer.begin() + static_cast<std::ptrdiff_t>(pattern + 9), 3, 0xAA);
    // Sample headers of 44 bytes.
    const std::size_t instrument = instrumentsAt(bytes) + 3;
    put32(longer, instrument + SAMPLE_HEADER_SIZE, 44);
    const std::size_t headers = instrument + INSTRUMENT_HEADER;
    longer.insert(longer.begin() + static_cast<std::ptrdiff_t>(headers + 80), 4, 0xBB);
    longer.insert(longer.begin() + static_cast<std::ptrdiff_t>(headers + 40), 4, 0xBB);
    ModulePtr module = load(longer);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *module), "");

    // Sizes below the fields read are taken as the fields' own size: 9 bytes of pattern
    // header, 241 of instrument header (without the reserved bytes), 40 of sample header.
    Bytes shorter = bytes;
    const std::size_t at = instrumentsAt(shorter);
    put32(shorter, patternAt(shorter, 0), 0);
    put32(shorter, at, 100);
    put32(shorter, at + SAMPLE_HEADER_SIZE, 0);
    shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(at + 241),
                  shorter.begin() + static_cast<std::ptrdiff_t>(at + INSTRUMENT_HEADER));
    module = load(shorter);
    ASSERT_NE(module, nullptr) << lastModuleError();
    EXPECT_EQ(moduleDifference(*song, *module), "");
}

TEST(ModuleLoader, EveryRejectionNamesItsReason) {
    ModulePtr song = oneSampleModule({1, 2, 3});
    const Bytes good = write(*song);
    ASSERT_NE(load(good), nullptr) << lastModuleError();
    EXPECT_EQ(std::string(lastModuleError()), "");

    auto patched = [&](std::size_t at, unsigned value) {
        Bytes bytes = good;
        put16(bytes, at, value);
        return rejection(bytes);
    };
    EXPECT_EQ(rejection({}), "empty: not an XM module");
    EXPECT_EQ(rejection(Bytes(good.begin(), good.begin() + 10)), "not an XM module");
    Bytes wrong = good;
    wrong[16] = '!';
    EXPECT_EQ(rejection(wrong), "not an XM module");
    EXPECT_EQ(rejection(Bytes(good.begin(), good.begin() + 300)), "truncated in the module header");
    EXPECT_EQ(patched(SONG_LENGTH_AT, 0), "song length 0: no orders to play");
    EXPECT_EQ(patched(SONG_LENGTH_AT, 257), "song length 257 (at most 256)");
    EXPECT_EQ(patched(CHANNELS_AT, 42), "42 channels (at most 32)");
    EXPECT_EQ(patched(PATTERNS_AT, 300), "300 patterns (at most 256)");
    EXPECT_EQ(patched(INSTRUMENTS_AT, 129), "129 instruments (at most 128)");
    EXPECT_EQ(patched(SPEED_AT, 32), "speed 32 (at most 31)");
    EXPECT_EQ(patched(BPM_AT, 0), "BPM 0 (1 to 255)");
    EXPECT_EQ(patched(BPM_AT, 256), "BPM 256 (1 to 255)");
    EXPECT_EQ(patched(60, 19), "module header size 19 (at least 20)");
    EXPECT_EQ(patched(62, 1), "truncated in the module header"); // 65812 bytes
    EXPECT_EQ(patched(HEADER_END + 5, 257), "pattern 0 has 257 rows (at most 256)");
    EXPECT_EQ(patched(HEADER_END + 7, 0xFFFF), "truncated in pattern 0");
    EXPECT_EQ(patched(INSTRUMENT + SAMPLE_COUNT, 17), "instrument 1 has 17 samples (at most 16)");
    EXPECT_EQ(patched(INSTRUMENT + SAMPLE_COUNT, 2), "truncated in instrument 1");
    EXPECT_EQ(patched(INSTRUMENT + SAMPLE_COUNT, 16), "truncated in instrument 1");
    EXPECT_EQ(patched(INSTRUMENT + 2, 1), "truncated in instrument 1"); // header of 65799 bytes
    EXPECT_EQ(patched(SAMPLE + 2, 0x8000), "truncated in the sample data of instrument 1");

    Bytes cells = good;
    setPatternData(cells, 0, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
    EXPECT_EQ(rejection(cells), "pattern 0: its data ends in row 3 of 4");
    setPatternData(cells, 0, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x9C, 1, 2});
    EXPECT_EQ(rejection(cells), "pattern 0: its data ends in row 3 of 4");
    setPatternData(cells, 0, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x9F, 1, 2, 3, 4});
    EXPECT_EQ(rejection(cells), "pattern 0: its data ends in row 3 of 4");
}

TEST(ModuleLoader, EveryShorterFileIsRejectedAndLeavesNothingBehind) {
    ModulePtr song(createModule(3, 2, 4, 2));
    setOrders(*song, {0, 1});
    cellAt(*song, 0, 1, 2) = {49, 1, 0x30, 0x0C, 0x20};
    cellAt(*song, 1, 3, 0) = {NOTE_KEY_OFF, 0, 0, 0, 0};
    addSample(song->instruments[0], 3)->bits = 8;
    addSample(song->instruments[1], 2);
    addSample(song->instruments[1], 5);
    const Bytes bytes = write(*song);
    ASSERT_NE(load(bytes), nullptr) << lastModuleError();
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        ASSERT_EQ(load(prefix), nullptr) << "a prefix of " << size << " bytes loaded";
        ASSERT_STRNE(lastModuleError(), "");
    }
}

// A stream that says it is longer than what it gives.
struct LyingStream {
    std::int32_t position;
};
void* lyingOpen(const char*) {
    return new LyingStream{0};
}
int lyingClose(void* handle) {
    delete static_cast<LyingStream*>(handle);
    return 0;
}
std::int32_t lyingRead(void* buffer, std::int32_t count, void* handle) {
    static const Bytes header = [] {
        ModulePtr song(createModule(1, 1, 1, 0));
        return write(*song);
    }();
    auto* stream = static_cast<LyingStream*>(handle);
    const std::int32_t left = static_cast<std::int32_t>(header.size()) - stream->position;
    const std::int32_t n = count < left - 4 ? count : (left - 4 > 0 ? left - 4 : 0);
    std::memcpy(buffer, header.data() + stream->position, static_cast<std::size_t>(n));
    stream->position += n;
    return n;
}
void lyingSeek(void* handle, std::int32_t offset, std::int8_t origin) {
    auto* stream = static_cast<LyingStream*>(handle);
    stream->position = origin == 2 ? 1 << 20 : offset;
}
std::int32_t lyingTell(void* handle) {
    return static_cast<LyingStream*>(handle)->position;
}

TEST(ModuleLoader, AStreamThatDeliversLessThanItsSizeIsRejected) {
    const StreamCallbacks earlier = registeredStreamCallbacks();
    setStreamCallbacks(lyingOpen, lyingClose, lyingRead, lyingSeek, lyingTell);
    EXPECT_EQ(loadModule("anything"), nullptr);
    EXPECT_EQ(std::string(lastModuleError()), "truncated in pattern 0");
    setStreamCallbacks(earlier.open, earlier.close, earlier.read, earlier.seek, earlier.tell);
}

TEST(ModuleLoader, HugeCountsAreRejectedBeforeAnythingIsAllocatedForThem) {
    // Sizes near 4 GiB in the size fields: each is refused by the check of what the file
    // holds, which comes before any allocation for it (the fuzzer also caps every single
    // allocation at 32 MB).
    ModulePtr song = oneSampleModule({1});
    Bytes bytes = write(*song);
    put32(bytes, SAMPLE, 0xFFFFFFFEu);
    EXPECT_EQ(rejection(bytes), "truncated in the sample data of instrument 1");
    bytes = write(*song);
    put32(bytes, INSTRUMENT + SAMPLE_HEADER_SIZE, 0xFFFFFFF0u);
    EXPECT_EQ(rejection(bytes), "truncated in instrument 1");
    bytes = write(*song);
    put32(bytes, INSTRUMENT, 0xFFFFFFF0u);
    EXPECT_EQ(rejection(bytes), "truncated in instrument 1");
    bytes = write(*song);
    put32(bytes, HEADER_END, 0xFFFFFFF0u);
    EXPECT_EQ(rejection(bytes), "truncated in pattern 0");
}

TEST(ModuleLoader, FreeModuleStopsPlaybackFirstAndRefusesNull) {
    static Module* stopped = nullptr;
    setModuleStopRoutine([](Module* module) { stopped = module; });
    EXPECT_FALSE(freeModule(nullptr));
    EXPECT_EQ(stopped, nullptr);
    Module* module = load(write(*oneSampleModule({1, 2}))).release();
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(freeModule(module));
    EXPECT_EQ(stopped, module);
    // A load that fails never played, so it stops nothing.
    stopped = nullptr;
    EXPECT_EQ(load({}), nullptr);
    EXPECT_EQ(stopped, nullptr);
    setModuleStopRoutine(nullptr);
}

} // namespace
} // namespace tessivane::music::test
