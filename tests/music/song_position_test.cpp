// Where the song goes: ticks and rows, breaks, jumps, loops, delays, the end, and its length.
#include "music/song_length.h"
#include "replay_test_support.h"

#include <utility>
#include <vector>

namespace tessivane::music::test {
namespace {

class SongPositionTest : public ReplayTest {
protected:
    // The (order, row) of each of the next count row ticks.
    std::vector<std::pair<int, int>> playRows(int count) {
        std::vector<std::pair<int, int>> rows;
        while (static_cast<int>(rows.size()) < count) {
            if (module->tick == 0) {
                rows.push_back(next());
            }
            tick();
        }
        return rows;
    }
};

using Rows = std::vector<std::pair<int, int>>;

TEST_F(SongPositionTest, RowsLastSpeedTicksAndAPatternDelayAddsWholeRowsOfEffectTicks) {
    song();
    note(0, 0, 0, 49);
    effect(0, 0, 0, VOLUME_SLIDE, 0x01);
    effect(0, 0, 1, EXTENDED, 0xE2);
    start();
    std::vector<int> rowTicks;
    for (int t = 0; t < 30; ++t) {
        if (module->tick == 0) {
            rowTicks.push_back(t);
        }
        tick();
        if (t == 17) {
            // Every one of the 17 later ticks of the delayed row slid the volume.
            EXPECT_EQ(ch(0).volume, 64 - 17);
        }
    }
    EXPECT_EQ(rowTicks, (std::vector<int>{0, 18, 24}));
}

TEST_F(SongPositionTest, SpeedZeroMakesEveryTickARowTick) {
    song();
    module->defaultSpeed = 0;
    start();
    EXPECT_EQ(playRows(3), (Rows{{0, 0}, {0, 1}, {0, 2}}));
    EXPECT_EQ(module->tick, 0);
}

TEST_F(SongPositionTest, BreaksGoToTheirRowOfTheNextOrderAndFromTheLastOrderToTheFirst) {
    song(4, 3);
    orders({0, 1, 2});
    module->restartPosition = 1;
    module->defaultSpeed = 1;
    effect(0, 0, 2, BREAK, 0x32);  // row 32 of the next order
    effect(1, 32, 0, BREAK, 0x70); // beyond 63: row 0
    effect(2, 0, 0, BREAK, 0x05);  // in the last order: order 0, not the restart position
    start();
    EXPECT_EQ(playRows(4), (Rows{{0, 0}, {1, 32}, {2, 0}, {0, 5}}));
}

TEST_F(SongPositionTest, AJumpAndABreakInOneRowCombineWhicheverChannelComesFirst) {
    song(4, 2);
    orders({0, 1, 1, 1, 1, 1, 1});
    module->defaultSpeed = 1;
    effect(0, 0, 0, JUMP, 5);
    effect(0, 0, 3, BREAK, 0x10);
    start();
    EXPECT_EQ(playRows(2), (Rows{{0, 0}, {5, 10}}));

    freeModule(module);
    song(4, 2);
    orders({0, 1, 1, 1, 1, 1, 1});
    module->defaultSpeed = 1;
    effect(0, 0, 3, JUMP, 5);
    effect(0, 0, 0, BREAK, 0x10);
    start();
    EXPECT_EQ(playRows(2), (Rows{{0, 0}, {5, 0}}));
}

TEST_F(SongPositionTest, TheSongContinuesAtItsRestartPositionAfterItsLastOrder) {
    song(2, 2, 2);
    orders({0, 1});
    module->restartPosition = 1;
    module->defaultSpeed = 1;
    start();
    EXPECT_EQ(playRows(6), (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 0}, {1, 1}}));
}

TEST_F(SongPositionTest, APatternLoopPlaysItsRowsAgainAsOftenAsItSays) {
    song(2);
    module->defaultSpeed = 1;
    effect(0, 8, 1, EXTENDED, 0x60);
    effect(0, 15, 1, EXTENDED, 0x62);
    start();
    Rows expected;
    for (int r = 0; r < 16; ++r) {
        expected.push_back({0, r});
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (int r = 8; r < 16; ++r) {
            expected.push_back({0, r});
        }
    }
    expected.push_back({0, 16});
    EXPECT_EQ(playRows(static_cast<int>(expected.size())), expected);
}

TEST_F(SongPositionTest, ABreakBeyondTheRowsOfItsPatternLandsOnThatPatternsFirstRow) {
    // Loading lets a 32-row pattern follow a break to row 40; playing it must read no cell
    // beyond the pattern.
    song(2, 2, 64);
    orders({0, 1});
    module->patterns[1].rowCount = 32;
    module->defaultSpeed = 1;
    effect(0, 0, 0, BREAK, 0x40);
    start();
    EXPECT_EQ(playRows(3), (Rows{{0, 0}, {1, 0}, {1, 1}}));
}

TEST_F(SongPositionTest, OrdersAndPatternsTheModuleDoesNotHavePlayAsEmptyRows) {
    song(2, 1, 4);
    note(0, 0, 0, 49);
    module->orderTable[0] = 200; // no such pattern
    EXPECT_EQ(rowCells(*module, 0, 0), nullptr);
    EXPECT_EQ(rowCells(*module, 1, 0), nullptr); // beyond the song
    start();
    tick(30);
    EXPECT_EQ(voiceOf(0).sample, nullptr);
    module->orderTable[0] = 0;
    module->restartPosition = 7; // beyond the song: the song starts over
    start();
    tick(6 * 4);
    EXPECT_EQ(next(), (std::pair<int, int>{0, 0}));
}

TEST_F(SongPositionTest, SongLengthIsTheTimeUntilTheSongReturnsToARowItHasPlayed) {
    song(2, 2, 4);
    orders({0, 1});
    effect(0, 1, 0, GLOBAL_VOLUME, 10);
    sampleOf(0).finetune = 3;
    effect(1, 0, 0, EXTENDED, 0x57); // set finetune
    note(1, 0, 0, 49);
    // 8 rows of 6 ticks of 882 frames at 125 BPM.
    const SongLength length = measureSongLength(*module, 44100, 10'000'000);
    EXPECT_TRUE(length.ends);
    EXPECT_EQ(length.frames, 8u * 6 * 882);
    // Nothing the measurement touched has changed.
    EXPECT_EQ(sampleRate, 44100);
    EXPECT_EQ(module->globalVolume, 0);
    EXPECT_EQ(sampleOf(0).finetune, 3);
    EXPECT_EQ(voices[0].sample, nullptr);

    // A pattern loop's repeats are part of the song; a jump back ends it.
    effect(0, 0, 1, EXTENDED, 0x60);
    effect(0, 1, 1, EXTENDED, 0x62);
    effect(1, 2, 1, JUMP, 1);
    // Order 0 plays rows 0, 1 three times, then 2 and 3; order 1 rows 0..2, then jumps back.
    EXPECT_EQ(measureSongLength(*module, 44100, 10'000'000).frames, (8u + 3) * 6 * 882);
}

TEST_F(SongPositionTest, ASongThatDoesNotRepeatWithinTheLimitGivesTheLimit) {
    song(2, 1, 64);
    const SongLength length = measureSongLength(*module, 44100, 44100);
    EXPECT_FALSE(length.ends);
    EXPECT_EQ(length.frames, 44100u);
}

} // namespace
} // namespace tessivane::music::test
