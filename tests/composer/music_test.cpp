// The composed module: the facts the show and the replay rely on, and an arrangement that
// builds up, rests for the metaballs, flies and fades out.
#include "arrangement.h"
#include "composer.h"
#include "instruments.h"
#include "music/module.h"
#include "music/module_writer.h"
#include "music/resource_stream.h"

#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace tessivane::composer {
namespace {

using music::Module;
using music::PatternCell;

struct ModuleDeleter {
    void operator()(Module* module) const { music::freeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

const Module& song() {
    static const ModulePtr module = [] {
        std::string error;
        ModulePtr m(composeModule(error));
        EXPECT_NE(m, nullptr) << error;
        return m;
    }();
    return *module;
}

const PatternCell& cellAt(const Module& m, int order, int row, int channel) {
    return m.patterns[m.orderTable[order]].cells[row * m.channelCount + channel];
}

bool startsNote(const PatternCell& cell) {
    return cell.note >= 1 && cell.note <= music::NOTE_COUNT;
}

int notesIn(const Module& m, int order, int channel = -1) {
    int count = 0;
    for (int row = 0; row < ROWS; ++row) {
        for (int c = 0; c < m.channelCount; ++c) {
            count += (channel < 0 || c == channel) && startsNote(cellAt(m, order, row, c));
        }
    }
    return count;
}

int hitsOf(const Module& m, int order, InstrumentNumber instrument) {
    int count = 0;
    for (int row = 0; row < ROWS; ++row) {
        for (int c = 0; c < m.channelCount; ++c) {
            count += cellAt(m, order, row, c).instrument == instrument;
        }
    }
    return count;
}

bool playsInstrument(const Module& m, int order, InstrumentNumber instrument) {
    return hitsOf(m, order, instrument) > 0;
}

TEST(Music, HasTheShapeTheShowPlays) {
    const Module& m = song();
    EXPECT_EQ(m.channelCount, 8);
    EXPECT_EQ(m.patternSlotCount, 14);
    EXPECT_EQ(m.usedPatternCount, 14);
    EXPECT_EQ(m.instrumentCount, 8);
    EXPECT_EQ(m.songLength, 20);
    EXPECT_EQ(m.restartPosition, 0);
    EXPECT_EQ(m.flags & music::FLAG_LINEAR_FREQUENCIES, music::FLAG_LINEAR_FREQUENCIES);
    EXPECT_EQ(m.defaultSpeed, 6);
    EXPECT_EQ(m.defaultBpm, 200);
    std::set<int> played;
    for (int order = 0; order < m.songLength; ++order) {
        played.insert(m.orderTable[order]);
    }
    EXPECT_EQ(played.size(), 14u) << "every pattern is played";
    for (int p = 0; p < m.patternSlotCount; ++p) {
        EXPECT_EQ(m.patterns[p].rowCount, 64);
    }
    // 1280 rows of six ticks of floor(110250 / 200) frames: the show's 96 seconds.
    const double seconds = 20.0 * 64 * m.defaultSpeed * (110250 / m.defaultBpm) / 44100.0;
    EXPECT_NEAR(seconds, 96.0, 0.1);
}

TEST(Music, UsesOnlySetVolumeAndNoEffects) {
    const Module& m = song();
    for (int p = 0; p < m.patternSlotCount; ++p) {
        for (int i = 0; i < ROWS * m.channelCount; ++i) {
            const PatternCell& cell = m.patterns[p].cells[i];
            ASSERT_TRUE(cell.volume == 0 || (cell.volume >= 0x10 && cell.volume <= 0x50));
            ASSERT_EQ(cell.effect, 0);
            ASSERT_EQ(cell.parameter, 0);
            ASSERT_TRUE(cell.note == 0 || startsNote(cell) || cell.note == music::NOTE_KEY_OFF);
            ASSERT_LE(cell.instrument, m.instrumentCount);
            ASSERT_TRUE(cell.note != music::NOTE_KEY_OFF || cell.instrument == 0);
        }
    }
}

// A pattern plays after different patterns, so it must not lean on what came before: a
// note without instrument, or a volume change alone, only follows a note with an
// instrument on the same channel earlier in the same pattern.
TEST(Music, NoPatternLeansOnThePatternBefore) {
    const Module& m = song();
    for (int p = 0; p < m.patternSlotCount; ++p) {
        for (int c = 0; c < m.channelCount; ++c) {
            bool started = false;
            for (int row = 0; row < ROWS; ++row) {
                const PatternCell& cell = m.patterns[p].cells[row * m.channelCount + c];
                if (startsNote(cell) && cell.instrument != 0) {
                    started = true;
                } else if (cell.note != 0 || cell.volume != 0) {
                    EXPECT_TRUE(started) << "pattern " << p << " row " << row << " channel " << c;
                }
            }
        }
    }
}

TEST(Music, HasEveryKindOfSampleLoopAndEnvelope) {
    const Module& m = song();
    int bits = 0;
    int loops = 0;
    bool sustainAndFade = false;
    for (int i = 0; i < m.instrumentCount; ++i) {
        const music::Instrument& ins = m.instruments[i];
        for (int s = 0; s < ins.sampleCount; ++s) {
            bits |= ins.samples[s]->bits;
            loops |= ins.samples[s]->loopMode;
        }
        sustainAndFade |= (ins.volumeType & music::ENVELOPE_SUSTAIN) != 0 && ins.fadeout > 0;
    }
    EXPECT_EQ(bits, 8 | 16);
    EXPECT_EQ(loops, music::LOOP_NONE | music::LOOP_FORWARD | music::LOOP_PING_PONG);
    EXPECT_TRUE(sustainAndFade);
}

TEST(Music, IsASmallFileThatLoadsAsComposedAndNeverChanges) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> again;
    std::string error;
    ASSERT_TRUE(composeModuleFile(bytes, error)) << error;
    ASSERT_TRUE(composeModuleFile(again, error)) << error;
    EXPECT_EQ(bytes, again);
    EXPECT_LE(bytes.size(), 65536u);
    ModulePtr loaded(music::loadModuleFromMemory(bytes.data(), bytes.size()));
    ASSERT_NE(loaded, nullptr) << music::lastModuleError();
    EXPECT_EQ(music::moduleDifference(song(), *loaded), "");
}

TEST(Music, BuildsUpOverTheSpiral) {
    const Module& m = song();
    // Each two orders of the spiral's first eight add to what plays; the last two repeat.
    for (int order = 2; order < 8; order += 2) {
        EXPECT_GT(notesIn(m, order), notesIn(m, order - 2)) << "order " << order;
    }
    EXPECT_FALSE(playsInstrument(m, 0, KICK));
    EXPECT_TRUE(playsInstrument(m, 2, KICK));
    EXPECT_FALSE(playsInstrument(m, 2, HATS));
    EXPECT_TRUE(playsInstrument(m, 4, HATS));
    EXPECT_FALSE(playsInstrument(m, 4, LEAD));
    EXPECT_TRUE(playsInstrument(m, 6, LEAD));
}

TEST(Music, RestsTheDrumsForTheMetaballsAndDrivesTheFlight) {
    const Module& m = song();
    for (int order = 10; order <= 12; ++order) {
        EXPECT_EQ(hitsOf(m, order, HATS), 0) << order;
        EXPECT_LE(hitsOf(m, order, KICK), 2) << order;
    }
    // Only the build-up into the flight has a snare.
    EXPECT_EQ(hitsOf(m, 10, SNARE) + hitsOf(m, 11, SNARE), 0);
    EXPECT_GT(hitsOf(m, 12, SNARE), 8);
    for (int order = 13; order <= 17; ++order) {
        EXPECT_TRUE(playsInstrument(m, order, KICK) && playsInstrument(m, order, SNARE) &&
                    playsInstrument(m, order, HATS) && playsInstrument(m, order, LEAD))
            << order;
        EXPECT_GT(notesIn(m, order), notesIn(m, 6)) << order;
    }
}

// By the end every channel is silent: its last sound dies by itself (a sample without loop,
// or an envelope that ends at 0), or its volume is brought to 0 after its last note.
TEST(Music, FadesOutByTheEnd) {
    const Module& m = song();
    const int last = m.songLength - 1;
    EXPECT_LT(notesIn(m, last), notesIn(m, last - 1));
    for (int c = 0; c < m.channelCount; ++c) {
        int instrument = 0;
        bool silent = true;
        for (int row = 0; row < ROWS; ++row) {
            const PatternCell& cell = cellAt(m, last, row, c);
            instrument = cell.instrument != 0 ? cell.instrument : instrument;
            if (startsNote(cell)) {
                const music::Instrument& ins = m.instruments[instrument - 1];
                const bool envelopeEnds =
                    (ins.volumeType & (music::ENVELOPE_ON | music::ENVELOPE_SUSTAIN)) ==
                        music::ENVELOPE_ON &&
                    ins.volumeEnvelope[ins.volumePointCount - 1].value == 0;
                silent = envelopeEnds || ins.samples[0]->loopMode == music::LOOP_NONE;
                EXPECT_LT(row, 56) << "a note starts in the last bar's end, channel " << c;
            }
            if (cell.volume == 0x10) {
                silent = true;
            }
        }
        EXPECT_TRUE(silent) << "channel " << c << " still sounds at the end";
    }
}

} // namespace
} // namespace tessivane::composer
