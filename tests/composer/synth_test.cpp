// The composer's own sine, power of two and filters: close to the library's, so that the
// instruments sound as designed, while staying the same on every machine.
#include "synth.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::composer {
namespace {

TEST(Synth, SineFollowsTheLibraryOverManyTurns) {
    for (double x = -2000.0; x <= 2000.0; x += 0.37) {
        ASSERT_NEAR(sine(x), std::sin(x), 1e-12) << x;
    }
    for (int quarter = -8; quarter <= 8; ++quarter) {
        ASSERT_NEAR(sine(quarter * PI / 2.0), std::sin(quarter * PI / 2.0), 1e-15) << quarter;
    }
}

TEST(Synth, PowerOfTwoFollowsTheLibrary) {
    for (int n = -60; n <= 60; ++n) {
        EXPECT_EQ(power2(n), std::ldexp(1.0, n)) << n;
    }
    for (double x = -30.0; x <= 30.0; x += 0.013) {
        ASSERT_NEAR(power2(x) / std::exp2(x), 1.0, 4e-16) << x;
    }
    EXPECT_NEAR(decay(2.5, 2.5), std::exp(-1.0), 1e-15);
    EXPECT_NEAR(decay(0.0, 0.1), 1.0, 0.0);
}

TEST(Synth, NoiseRepeatsForASeedAndSpreadsEvenly) {
    Noise a(42);
    Noise b(42);
    Noise c(43);
    double sum = 0.0;
    int differ = 0;
    for (int i = 0; i < 20000; ++i) {
        const double v = a.next();
        ASSERT_EQ(v, b.next());
        ASSERT_GE(v, -1.0);
        ASSERT_LT(v, 1.0);
        differ += v != c.next();
        sum += v;
    }
    EXPECT_NEAR(sum / 20000.0, 0.0, 0.02);
    EXPECT_GT(differ, 19990);
}

TEST(Synth, OnePoleSeparatesLowFromHigh) {
    constexpr double RATE = 8000.0;
    OnePole low(100.0, RATE);
    OnePole high(100.0, RATE);
    double lastLow = 0.0;
    double lastHigh = 0.0;
    for (int i = 0; i < 4000; ++i) {
        lastLow = low.lowPass(1.0);
        lastHigh = high.highPass(1.0);
    }
    EXPECT_NEAR(lastLow, 1.0, 1e-9);
    EXPECT_NEAR(lastHigh, 0.0, 1e-9);

    // A tone five octaves above the cutoff comes out of the low-pass about 30 dB down.
    OnePole tone(100.0, RATE);
    double top = 0.0;
    for (int i = 0; i < 4000; ++i) {
        const double out = tone.lowPass(sine(TWO_PI * 3200.0 * i / RATE));
        top = i > 2000 && std::fabs(out) > top ? std::fabs(out) : top;
    }
    EXPECT_LT(top, 0.06);
    EXPECT_GT(top, 0.01);
}

TEST(Synth, SoftClipIsOddMonotonicAndBounded) {
    double previous = -2.0;
    for (double x = -5.0; x <= 5.0; x += 0.01) {
        const double y = softClip(x);
        ASSERT_GE(y, previous) << x;
        ASSERT_LE(std::fabs(y), 1.0);
        ASSERT_EQ(softClip(-x), -y);
        previous = y;
    }
    EXPECT_NEAR(softClip(0.05), 0.05, 1e-4);
}

TEST(Synth, NormaliseSetsThePeakAndLeavesSilenceAlone) {
    std::vector<double> wave = {0.1, -0.4, 0.2};
    normalise(wave, 0.8);
    EXPECT_DOUBLE_EQ(peak(wave), 0.8);
    EXPECT_DOUBLE_EQ(wave[0], 0.2);
    std::vector<double> silence(5, 0.0);
    normalise(silence, 0.8);
    EXPECT_EQ(peak(silence), 0.0);
}

TEST(Synth, SampleValuesRoundAndStayInRange) {
    EXPECT_EQ(toSixteenBits(1.0), 32767);
    EXPECT_EQ(toSixteenBits(-1.0), -32767);
    EXPECT_EQ(toSixteenBits(3.0), 32767);
    EXPECT_EQ(toSixteenBits(-3.0), -32768);
    EXPECT_EQ(toSixteenBits(0.5 / 32767.0), 1);
    EXPECT_EQ(toEightBits(1.0), 127 * 256);
    EXPECT_EQ(toEightBits(-1.0), -127 * 256);
    EXPECT_EQ(toEightBits(-2.0), -128 * 256);
    EXPECT_EQ(toEightBits(0.6 / 127.0), 256);
    EXPECT_EQ(toEightBits(0.4 / 127.0), 0);
    for (double v = -1.0; v <= 1.0; v += 0.001) {
        ASSERT_EQ(toEightBits(v) & 0xFF, 0) << v;
    }
}

} // namespace
} // namespace tessivane::composer
