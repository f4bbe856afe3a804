// Writing notes into patterns: names, tunes, echoes and swells land in the right cells, and
// mistakes are reported rather than written.
#include "music/module.h"
#include "music/module_builder.h"
#include "score.h"

#include <gtest/gtest.h>
#include <memory>

namespace tessivane::composer {
namespace {

using music::Module;
using music::PatternCell;

struct ModuleDeleter {
    void operator()(Module* module) const { music::freeModule(module); }
};

class ScoreTest : public ::testing::Test {
protected:
    std::unique_ptr<Module, ModuleDeleter> module{music::createModule(4, 2, 64, 8)};
    Score score{*module};

    const PatternCell& cell(int pattern, int row, int channel) {
        return music::cellAt(*module, pattern, row, channel);
    }
};

TEST(NoteNames, NameSemitonesFromCZero) {
    EXPECT_EQ(noteNumber("C0"), 0);
    EXPECT_EQ(noteNumber("C4"), 48);
    EXPECT_EQ(noteNumber("A4"), 57);
    EXPECT_EQ(noteNumber("C#4"), 49);
    EXPECT_EQ(noteNumber("Db4"), 49);
    EXPECT_EQ(noteNumber("B#3"), 48);
    EXPECT_EQ(noteNumber("B7"), 95);
    for (const char* bad : {"", "C", "C#", "H4", "c4", "C8", "Cb0", "C#-1", "C44", "Cx4"}) {
        EXPECT_EQ(noteNumber(bad), -1) << bad;
    }
}

TEST(Tunes, ParseIntoConsecutiveEvents) {
    std::vector<TuneEvent> events;
    std::string error;
    ASSERT_TRUE(parseTune("  E5:12 D5:4@40 -:8  G#4:2 ", events, error)) << error;
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].row, 0);
    EXPECT_EQ(events[0].note, noteNumber("E5"));
    EXPECT_EQ(events[0].length, 12);
    EXPECT_EQ(events[0].volume, -1);
    EXPECT_EQ(events[1].row, 12);
    EXPECT_EQ(events[1].volume, 40);
    EXPECT_EQ(events[2].row, 16);
    EXPECT_EQ(events[2].note, REST);
    EXPECT_EQ(events[3].row, 24);
    EXPECT_EQ(events[3].note, noteNumber("G#4"));
}

TEST(Tunes, RejectWhatDoesNotParseAndSayWhich) {
    std::vector<TuneEvent> events;
    std::string error;
    for (const char* bad : {"E5", "E5:", "E5:0", "E5:4@65", "E5:4@", "E5:4x", "Q5:4", "E5:-2"}) {
        EXPECT_FALSE(parseTune(std::string("C4:4 ") + bad, events, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
    std::vector<int> notes;
    EXPECT_FALSE(parseNotes("C4 X4", notes, error));
    EXPECT_NE(error.find("X4"), std::string::npos);
    ASSERT_TRUE(parseNotes("A1 C4", notes, error));
    EXPECT_EQ(notes, (std::vector<int>{21, 48}));
}

TEST_F(ScoreTest, WritesNotesGlidesReleasesAndVolumes) {
    score.play(1, 5, 2, noteNumber("A4"), PAD, 30);
    score.glide(1, 6, 2, noteNumber("B4"));
    score.glide(1, 7, 2, noteNumber("C5"), 12);
    score.release(1, 8, 2);
    score.volume(1, 9, 2, 64);
    ASSERT_TRUE(score.ok()) << score.error();
    EXPECT_EQ(cell(1, 5, 2).note, 58);
    EXPECT_EQ(cell(1, 5, 2).instrument, PAD);
    EXPECT_EQ(cell(1, 5, 2).volume, 0x10 + 30);
    EXPECT_EQ(cell(1, 6, 2).instrument, 0);
    EXPECT_EQ(cell(1, 6, 2).volume, 0);
    EXPECT_EQ(cell(1, 7, 2).volume, 0x10 + 12);
    EXPECT_EQ(cell(1, 8, 2).note, music::NOTE_KEY_OFF);
    EXPECT_EQ(cell(1, 9, 2).volume, 0x50);
    EXPECT_EQ(cell(1, 9, 2).note, 0);
    EXPECT_EQ(cell(0, 5, 2).note, 0);
}

TEST_F(ScoreTest, TunesReleaseAtRestsAndUseTheirOwnVolumes) {
    score.tune(0, 1, 8, "C5:4 D5:4@20 -:4 E5:4", LEAD, 33);
    ASSERT_TRUE(score.ok()) << score.error();
    EXPECT_EQ(cell(0, 8, 1).note, noteNumber("C5") + 1);
    EXPECT_EQ(cell(0, 8, 1).volume, 0x10 + 33);
    EXPECT_EQ(cell(0, 12, 1).volume, 0x10 + 20);
    EXPECT_EQ(cell(0, 16, 1).note, music::NOTE_KEY_OFF);
    EXPECT_EQ(cell(0, 20, 1).note, noteNumber("E5") + 1);
    EXPECT_EQ(cell(0, 20, 1).instrument, LEAD);
}

TEST_F(ScoreTest, EchoesFollowLaterAndSofterAndStopAtTheEnd) {
    score.play(0, 0, 0, noteNumber("E5"), PLUCK, 40);
    score.play(0, 10, 0, noteNumber("G5"), PLUCK, 64);
    score.release(0, 20, 0);
    score.play(0, 60, 0, noteNumber("A5"), PLUCK, 40);
    score.echo(0, 0, 3, 6, 0.5);
    ASSERT_TRUE(score.ok()) << score.error();
    EXPECT_EQ(cell(0, 6, 3).note, noteNumber("E5") + 1);
    EXPECT_EQ(cell(0, 6, 3).instrument, PLUCK);
    EXPECT_EQ(cell(0, 6, 3).volume, 0x10 + 20);
    EXPECT_EQ(cell(0, 16, 3).volume, 0x10 + 32);
    EXPECT_EQ(cell(0, 26, 3).note, music::NOTE_KEY_OFF);
    for (int row = 0; row < 64; ++row) {
        EXPECT_NE(cell(0, row, 3).note, noteNumber("A5") + 1) << row;
    }
    EXPECT_EQ(cell(1, 6, 3).note, 0);
}

TEST_F(ScoreTest, SwellsStepInAStraightLine) {
    score.swell(0, 1, 4, 24, 4, 10, 30);
    ASSERT_TRUE(score.ok()) << score.error();
    const int expected[] = {10, 14, 18, 22, 26, 30};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(cell(0, 4 + 4 * i, 1).volume, 0x10 + expected[i]);
        EXPECT_EQ(cell(0, 5 + 4 * i, 1).volume, 0);
    }
    score.swell(0, 2, 8, 8, 1, 40, 0);
    EXPECT_EQ(cell(0, 8, 2).volume, 0x10);
}

TEST_F(ScoreTest, KeepsTheFirstMistakeAndWritesNothingOutside) {
    score.play(0, 64, 0, noteNumber("C4"), KICK, 64);
    const std::string first = score.error();
    EXPECT_NE(first.find("row 64"), std::string::npos) << first;
    score.play(0, 0, 4, noteNumber("C4"), KICK, 64);
    score.play(0, 0, 0, 96, KICK, 64);
    score.volume(0, 0, 0, 65);
    score.tune(1, 0, 60, "C4:8", LEAD, 30);
    score.tune(1, 0, 0, "C4", LEAD, 30);
    EXPECT_FALSE(score.ok());
    EXPECT_EQ(score.error(), first);
    EXPECT_EQ(cell(0, 0, 0).note, 0);
    EXPECT_EQ(cell(0, 0, 0).volume, 0);
}

TEST_F(ScoreTest, ReportsATuneThatRunsPastThePattern) {
    score.tune(1, 0, 60, "C4:8", LEAD, 30);
    EXPECT_FALSE(score.ok());
    EXPECT_NE(score.error().find("past the end"), std::string::npos) << score.error();
}

} // namespace
} // namespace tessivane::composer
