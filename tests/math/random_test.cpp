#include "math/random.h"

#include <gtest/gtest.h>

namespace tessivane::math {
namespace {

TEST(SharedRandom, FollowsTheLinearCongruentialSequence) {
    seedRandom(0);
    EXPECT_EQ(drawRandom(), 38);
    EXPECT_EQ(drawRandom(), 7719);
    EXPECT_EQ(drawRandom(), 21238);
    seedRandom(1); // the state before any seeding
    EXPECT_EQ(drawRandom(), 41);
    EXPECT_EQ(drawRandom(), 18467);
    // Draws stay in 0..32767 through the state's wrap.
    seedRandom(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        const int r = drawRandom();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

} // namespace
} // namespace tessivane::math
