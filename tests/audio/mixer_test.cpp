// The mixer: segments, loops, ramps, the conversion, and that splitting work never changes
// a bit.
#include "audio/mixer.h"
#include "audio/mixer_paths.h"
#include "music/module.h"
#include "music/voice.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace tessivane::audio {
namespace {

using music::Sample;
using music::Voice;
using music::voices;

// A sample with its data, the padding and the guard value the loader would write.
struct TestSample {
    TestSample(std::vector<std::int16_t> values, std::uint8_t mode, std::uint32_t loopStart = 0,
               std::uint32_t loopLength = 0)
        : data(values.size() + music::SAMPLE_PADDING, 0) {
        std::copy(values.begin(), values.end(), data.begin());
        sample.data = data.data();
        sample.length = static_cast<std::uint32_t>(values.size());
        sample.loopMode = mode;
        sample.loopStart = mode == music::LOOP_NONE ? 0 : loopStart;
        sample.loopLength = mode == music::LOOP_NONE ? sample.length : loopLength;
        const std::uint32_t end = sample.loopStart + sample.loopLength;
        if (mode == music::LOOP_FORWARD) {
            data[end] = data[sample.loopStart];
        } else if (mode == music::LOOP_PING_PONG) {
            data[end] = data[end - 1];
        }
        sample.bits = 16;
    }
    std::vector<std::int16_t> data;
    Sample sample{};
};

std::vector<std::int16_t> constant(std::size_t n, std::int16_t value) {
    return std::vector<std::int16_t>(n, value);
}

std::vector<std::int16_t> ramp(std::size_t n, int step) {
    std::vector<std::int16_t> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = static_cast<std::int16_t>(static_cast<int>(i) * step);
    }
    return values;
}

// A 32.32 value from a whole part and a fraction in 2^-32.
struct Fixed {
    std::uint32_t whole;
    std::uint32_t fraction;
};
constexpr std::uint32_t HALF = 0x80000000u;
constexpr std::uint32_t QUARTER = 0x40000000u;

// A voice playing at full, steady volume (no ramp pending).
Voice& steadyVoice(int index, const TestSample& s, Fixed position, Fixed step, int volume = 255) {
    Voice& v = voices[index];
    v.sample = &s.sample;
    v.positionInt = position.whole;
    v.positionFrac = position.fraction;
    v.stepInt = static_cast<std::int32_t>(step.whole);
    v.stepFrac = step.fraction;
    v.direction = music::DIRECTION_FORWARD;
    v.volumeLeft = v.volumeRight = volume;
    v.rampRefLeft = v.rampRefRight = volume;
    v.levelLeft = v.levelRight = static_cast<std::uint32_t>(volume) * 256;
    return v;
}

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        music::clearVoices();
        rampFrames = 128;
        rampFramesInverse = 1.0f / 128;
    }
    void TearDown() override { music::clearVoices(); }

    std::vector<float> mix(int frames) {
        std::vector<float> out(static_cast<std::size_t>(frames) * 2, 0.0f);
        mixVoices(out.data(), frames);
        return out;
    }
};

TEST_F(MixerTest, ASampleWithoutLoopEndsWhereItsSegmentReachesTheEnd) {
    TestSample s(constant(20, 1000), music::LOOP_NONE);
    // From 10.5 at step 1.0 the positions 10.5 .. 19.5 lie before the end at 20: 10 frames.
    Voice& v = steadyVoice(0, s, {10, HALF}, {1, 0});
    std::vector<float> out = mix(30);
    for (int f = 0; f < 9; ++f) {
        EXPECT_EQ(out[2 * f], 1000.0f) << f;
    }
    EXPECT_EQ(out[18], 500.0f); // 19.5: half way to the 0 after the sample
    for (int f = 10; f < 30; ++f) {
        EXPECT_EQ(out[2 * f], 0.0f) << f;
    }
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.positionInt, 0u);
    EXPECT_EQ(v.positionFrac, 0u);

    // At step 0.75 the same stretch takes 13 frames.
    steadyVoice(0, s, {10, HALF}, {0, 3 * QUARTER});
    out = mix(30);
    EXPECT_NE(out[2 * 12], 0.0f);
    EXPECT_EQ(out[2 * 13], 0.0f);
}

TEST_F(MixerTest, ForwardLoopsWrapByTheLoopLengthAsOftenAsTheStepNeeds) {
    TestSample s(ramp(32, 100), music::LOOP_FORWARD, 4, 16);
    Voice& v = steadyVoice(0, s, {19, HALF}, {1, 0});
    std::vector<float> out = mix(2);
    EXPECT_EQ(out[0], 1150.0f); // half way to the guard value, a copy of the loop's first
    EXPECT_EQ(out[2], 450.0f);  // 20.5 wrapped to 4.5
    EXPECT_EQ(v.positionInt, 5u);

    // A step longer than the loop: 12 + 7.25 = 19.25, three loop lengths back to 10.25.
    TestSample tight(ramp(16, 100), music::LOOP_FORWARD, 10, 3);
    Voice& w = steadyVoice(1, tight, {12, 0}, {7, QUARTER});
    v.sample = nullptr;
    mix(1);
    EXPECT_EQ(w.positionInt, 10u);
    EXPECT_EQ(w.positionFrac, QUARTER);
}

TEST_F(MixerTest, AHugeStepThroughATinyForwardLoopWrapsAtOnce) {
    // Past the end by some two billion loop lengths each frame: the wrap is one division,
    // and lands where taking the length off again and again would.
    TestSample s(ramp(8, 100), music::LOOP_FORWARD, 3, 2);
    Voice& v = steadyVoice(0, s, {4, 0}, {0x7FFFFFFF, 0});
    mix(16);
    std::uint64_t whole = 4;
    for (int f = 0; f < 16; ++f) {
        whole += 0x7FFFFFFF;
        whole = 3 + (whole - 3) % 2;
    }
    EXPECT_EQ(v.positionInt, whole);
    EXPECT_EQ(v.positionFrac, 0u);
}

TEST_F(MixerTest, PingPongLoopsReflectAtTheirEnds) {
    TestSample s(ramp(32, 100), music::LOOP_PING_PONG, 10, 10);
    // 19.75 + 0.5 passes the end at 20 by 0.25: back from 19.75 - 2^-32, moving down.
    Voice& v = steadyVoice(0, s, {19, 3 * QUARTER}, {0, HALF});
    mix(1);
    EXPECT_EQ(v.positionInt, 19u);
    EXPECT_EQ(v.positionFrac, 3 * QUARTER - 1);
    EXPECT_EQ(v.direction, music::DIRECTION_BACKWARD);
    // Moving down by 0.5 a frame: 19.75, 19.25, then 18.75 between 1800 and 1900.
    const std::vector<float> out = mix(3);
    EXPECT_EQ(out[0], 1900.0f); // the guard repeats the loop's last value
    EXPECT_EQ(out[2], 1900.0f);
    EXPECT_NEAR(out[4], 1875.0f, 0.01f);
    EXPECT_EQ(v.positionInt, 18u);

    // 13.5 + 7 passes the end of 10..14 and, reflected, the start too: 12.5, moving up.
    TestSample small(ramp(16, 100), music::LOOP_PING_PONG, 10, 4);
    Voice& w = steadyVoice(0, small, {13, HALF}, {7, 0});
    mix(1);
    EXPECT_EQ(w.positionInt, 12u);
    EXPECT_EQ(w.positionFrac, HALF);
    EXPECT_EQ(w.direction, music::DIRECTION_FORWARD);
}

TEST_F(MixerTest, PingPongVoicesStayInsideTheirLoopWhateverTheStep) {
    // Steps of more than two loop lengths, and a backward voice landing exactly on a loop
    // start at 0, would otherwise leave the sample's data.
    TestSample s(ramp(12, 100), music::LOOP_PING_PONG, 10, 2);
    Voice& v = steadyVoice(0, s, {11, HALF}, {5, 0x12345679u});
    for (int f = 0; f < 2000; ++f) {
        mix(1);
        const bool backward = v.direction == music::DIRECTION_BACKWARD;
        ASSERT_LT(v.positionInt, 12u) << f;
        ASSERT_GE(v.positionInt, backward ? 10u : 0u) << f;
    }
    TestSample fromZero(ramp(4, 100), music::LOOP_PING_PONG, 0, 4);
    Voice& w = steadyVoice(1, fromZero, {1, 0}, {1, 0});
    v.sample = nullptr;
    w.direction = music::DIRECTION_BACKWARD;
    mix(1);
    EXPECT_EQ(w.positionInt, 0u);
    EXPECT_EQ(w.positionFrac, 0u);
    EXPECT_EQ(w.direction, music::DIRECTION_FORWARD);
}

TEST_F(MixerTest, ABackwardPingPongVoiceJustAboveALoopStartAtZeroKeepsMoving) {
    // 2^-32 above the start, moving down: the frame passes the start and turns the voice.
    TestSample s(ramp(16, 100), music::LOOP_PING_PONG, 0, 8);
    Voice& v = steadyVoice(0, s, {0, 1}, {3, QUARTER});
    v.direction = music::DIRECTION_BACKWARD;
    mix(1);
    EXPECT_EQ(v.direction, music::DIRECTION_FORWARD);
    EXPECT_EQ(v.positionInt, 3u);
}

TEST_F(MixerTest, InterpolatesLinearlyBetweenNeighbours) {
    TestSample s(ramp(8, 1000), music::LOOP_NONE);
    steadyVoice(0, s, {2, QUARTER}, {0, HALF});
    const std::vector<float> out = mix(2);
    EXPECT_EQ(out[0], 2250.0f);
    EXPECT_EQ(out[2], 2750.0f);
}

TEST_F(MixerTest, ANoteRampsUpFromSilenceOverExactly128FramesToFullGain) {
    TestSample s(constant(64, 10000), music::LOOP_FORWARD, 0, 64);
    Voice& v = steadyVoice(0, s, {0, 0}, {1, 0});
    v.levelLeft = v.levelRight = 0; // as a trigger leaves it
    v.rampRemaining = 0;
    const std::vector<float> out = mix(200);
    // The gain grows by its single-precision step after every frame, summed in double.
    const double step = static_cast<float>(255 * double{0.003921568859368563f} / 128);
    double gain = 0.0;
    for (int f = 0; f < 128; ++f) {
        ASSERT_EQ(out[2 * f], static_cast<float>(10000.0 * gain)) << f;
        gain += step;
    }
    for (int f = 128; f < 200; ++f) {
        ASSERT_EQ(out[2 * f], 10000.0f) << f;
        ASSERT_EQ(out[2 * f + 1], 10000.0f) << f;
    }
    EXPECT_EQ(v.levelLeft, 255u * 256);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(v.rampStepLeft, 0.0f);

    // Cut into runs, the ramp goes on where it was and lands on the same target.
    steadyVoice(0, s, {0, 0}, {1, 0});
    v.levelLeft = v.levelRight = 0;
    std::vector<float> runs;
    for (int run : {1, 50, 77, 72}) {
        const std::vector<float> part = mix(run);
        runs.insert(runs.end(), part.begin(), part.end());
    }
    for (int f = 0; f < 200; ++f) {
        ASSERT_NEAR(runs[2 * f], out[2 * f], 0.01f) << f;
    }
    EXPECT_EQ(runs[2 * 128], 10000.0f);
    EXPECT_EQ(v.levelLeft, 255u * 256);
}

TEST_F(MixerTest, ANewTargetRestartsTheRampAtFullLengthFromTheLevelReached) {
    TestSample s(constant(64, 10000), music::LOOP_FORWARD, 0, 64);
    Voice& v = steadyVoice(0, s, {0, 0}, {1, 0});
    v.levelLeft = v.levelRight = 0;
    mix(64);
    EXPECT_EQ(v.rampRemaining, 64);
    EXPECT_EQ(v.levelLeft, 32640u); // half way up: 127.5 x 256
    v.volumeLeft = 100;
    mix(1);
    EXPECT_EQ(v.rampRemaining, 127);
    EXPECT_EQ(v.rampRefLeft, 100);
    EXPECT_EQ(v.rampStepLeft,
              static_cast<float>((100 - 127) * double{0.003921568859368563f} / 128));
    // The right side, whose target did not change, starts its new ramp too, with its own step.
    EXPECT_EQ(v.rampStepRight,
              static_cast<float>((255 - 127) * double{0.003921568859368563f} / 128));
    mix(127);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(v.levelLeft, 100u * 256);
    EXPECT_EQ(v.levelRight, 255u * 256);
}

TEST_F(MixerTest, ConversionRoundsHalvesToEvenAndClips) {
    const std::vector<float> in = {32767.4f, 32767.6f, 40000.0f, -32768.4f, -40000.0f,
                                   0.5f,     1.5f,     2.5f,     -0.5f,     -1.5f};
    std::vector<std::int16_t> out(in.size(), 99);
    convertToPcm16(out.data(), in.data(), 5);
    EXPECT_EQ(out,
              (std::vector<std::int16_t>{32767, 32767, 32767, -32768, -32768, 0, 2, 2, 0, -2}));
    // Every value, whichever path converts it: eight at a time, or one by one at the end.
    std::mt19937 random(5);
    std::vector<float> many(20001);
    for (std::size_t i = 0; i < many.size(); ++i) {
        const int whole = static_cast<int>(random() % 140000) - 70000;
        many[i] = static_cast<float>(whole) * (i % 3 == 0 ? 0.5f : 0.37f);
    }
    many[7] = 1e30f;
    many[8] = -1e30f;
    std::vector<std::int16_t> converted(many.size() + 1, 0);
    convertToPcm16(converted.data(), many.data(), static_cast<int>(many.size() / 2));
    for (std::size_t i = 0; i + 1 < many.size(); ++i) {
        const float expected = std::nearbyint(std::clamp(many[i], -32768.0f, 32767.0f));
        ASSERT_EQ(converted[i], static_cast<std::int16_t>(expected)) << many[i];
    }

    std::vector<std::int16_t> untouched(2, 99);
    convertToPcm16(untouched.data(), in.data(), 0);
    convertToPcm16(untouched.data(), nullptr, 1);
    convertToPcm16(nullptr, in.data(), 1);
    EXPECT_EQ(untouched, (std::vector<std::int16_t>{99, 99}));
}

TEST_F(MixerTest, ARunOfNoFramesChangesNothing) {
    TestSample s(constant(64, 10000), music::LOOP_FORWARD, 0, 64);
    Voice& v = steadyVoice(0, s, {3, HALF}, {1, 7});
    v.volumeLeft = 3; // a ramp would start
    const Voice before = v;
    std::vector<float> out(4, 1.0f);
    mixVoices(out.data(), 0);
    mixVoices(out.data(), -5);
    EXPECT_EQ(std::memcmp(&before, &v, sizeof v), 0);
    EXPECT_EQ(out, std::vector<float>(4, 1.0f));
}

// Voices of every kind: loops of each mode, both directions, odd and even steps, ramps
// under way, silent voices that only move on.
void setUpBusyVoices(std::vector<TestSample>& samples, std::mt19937& random) {
    const std::uint8_t modes[] = {music::LOOP_NONE, music::LOOP_FORWARD, music::LOOP_PING_PONG};
    for (int i = 0; i < 24; ++i) {
        std::vector<std::int16_t> values(50 + random() % 3000);
        for (auto& value : values) {
            value = static_cast<std::int16_t>(random());
        }
        const std::uint8_t mode = modes[i % 3];
        const auto length = static_cast<std::uint32_t>(values.size());
        const std::uint32_t start = random() % (length / 2);
        samples.emplace_back(values, mode, start, 1 + random() % (length - start));
    }
    for (int i = 0; i < 24; ++i) {
        const TestSample& s = samples[static_cast<std::size_t>(i)];
        Voice& v = voices[i * 2 + i % 2];
        v.sample = &s.sample;
        v.positionInt = s.sample.loopStart + random() % s.sample.loopLength;
        v.positionFrac = static_cast<std::uint32_t>(random());
        v.stepInt = static_cast<std::int32_t>(random() % 4);
        v.stepFrac = static_cast<std::uint32_t>(random()) | (i % 4 == 0 ? 1u : 0u);
        v.direction = s.sample.loopMode == music::LOOP_PING_PONG && i % 2 == 0
                          ? music::DIRECTION_BACKWARD
                          : music::DIRECTION_FORWARD;
        v.volumeLeft = i % 5 == 0 ? 0 : static_cast<int>(random() % 256);
        v.volumeRight = i % 5 == 0 ? 0 : static_cast<int>(random() % 256);
        v.levelLeft = static_cast<std::uint32_t>(random() % 256) * 256;
        v.levelRight = i % 3 == 0 ? v.levelLeft : static_cast<std::uint32_t>(v.volumeRight) * 256;
    }
}

TEST_F(MixerTest, SteadyVoicesGiveTheSameBitsInOneRunOrInManyOddRuns) {
    // A ramp restarts each segment from its level rounded to 1/65280, so where a run ends
    // inside a ramp the ramp's low bits follow the runs (the output always cuts its runs at
    // the same ticks and blocks). Steady voices, looping and ending, never depend on them.
    std::mt19937 random(20240611);
    std::vector<TestSample> samples;
    samples.reserve(24);
    setUpBusyVoices(samples, random);
    for (int i = 0; i < music::MIXED_VOICE_COUNT; ++i) {
        Voice& v = voices[i];
        v.rampRefLeft = v.volumeLeft;
        v.rampRefRight = v.volumeRight;
        v.levelLeft = static_cast<std::uint32_t>(v.volumeLeft) * 256;
        v.levelRight = static_cast<std::uint32_t>(v.volumeRight) * 256;
    }
    Voice saved[music::MIXED_VOICE_COUNT];
    std::memcpy(saved, voices, sizeof saved);

    const int frames = 30011;
    const std::vector<float> whole = mix(frames);
    Voice afterWhole[music::MIXED_VOICE_COUNT];
    std::memcpy(afterWhole, voices, sizeof afterWhole);

    std::memcpy(voices, saved, sizeof saved);
    std::vector<float> pieces(static_cast<std::size_t>(frames) * 2, 0.0f);
    const int runs[] = {1, 7, 127, 128, 129, 883, 882, 13, 3445};
    int done = 0;
    for (int i = 0; done < frames; ++i) {
        const int run = std::min(runs[i % 9], frames - done);
        mixVoices(pieces.data() + 2 * done, run);
        done += run;
    }
    ASSERT_EQ(std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(afterWhole, voices, sizeof afterWhole), 0);
}

TEST_F(MixerTest, SilentVoicesMoveExactlyAsAudibleOnesDo) {
    // A voice at level 0 is not mixed, only moved on; it must end where mixing would leave it.
    std::mt19937 random(7);
    std::vector<TestSample> samples;
    samples.reserve(24);
    setUpBusyVoices(samples, random);
    for (int i = 0; i < music::MIXED_VOICE_COUNT; ++i) {
        voices[i].volumeLeft = voices[i].volumeRight = 0;
        voices[i].levelLeft = voices[i].levelRight = 0;
    }
    Voice silent[music::MIXED_VOICE_COUNT];
    std::memcpy(silent, voices, sizeof silent);
    mix(20000);
    Voice afterSilent[music::MIXED_VOICE_COUNT];
    std::memcpy(afterSilent, voices, sizeof afterSilent);

    std::memcpy(voices, silent, sizeof silent);
    for (int i = 0; i < music::MIXED_VOICE_COUNT; ++i) {
        voices[i].volumeLeft = voices[i].rampRefLeft = 1;
        voices[i].levelLeft = 256;
    }
    mix(20000);
    for (int i = 0; i < music::MIXED_VOICE_COUNT; ++i) {
        EXPECT_EQ(voices[i].sample, afterSilent[i].sample) << i;
        EXPECT_EQ(voices[i].positionInt, afterSilent[i].positionInt) << i;
        EXPECT_EQ(voices[i].positionFrac, afterSilent[i].positionFrac) << i;
        EXPECT_EQ(voices[i].direction, afterSilent[i].direction) << i;
    }
}

} // namespace
} // namespace tessivane::audio

namespace tessivane::audio {
namespace {

TEST(MixerPaths, FourFramesAtATimeGiveTheSameBitsAsOneAtATime) {
    std::mt19937 random(11);
    std::vector<std::int16_t> data(5000 + music::SAMPLE_PADDING);
    for (auto& value : data) {
        value = static_cast<std::int16_t>(random());
    }
    for (int trial = 0; trial < 2000; ++trial) {
        const int count = static_cast<int>(random() % 67);
        const bool backward = trial % 2 == 1;
        const std::uint64_t step =
            std::uint64_t{random() % 3} << 32 | static_cast<std::uint32_t>(random());
        // Room for count steps either way inside the data.
        std::uint64_t start = (std::uint64_t{200 + random() % 4000} << 32) | random();
        std::vector<float> plain(static_cast<std::size_t>(count) * 2 + 2);
        for (auto& value : plain) {
            value = static_cast<float>(static_cast<int>(random() % 20001) - 10000) / 7.0f;
        }
        std::vector<float> wide = plain;
        const float left = static_cast<float>(random() % 256) * 0.003921568859368563f;
        const float right = static_cast<float>(random() % 256) * 0.003921568859368563f;
        const std::uint64_t signedStep = backward ? ~step + 1 : step;
        std::uint64_t plainPosition = start;
        std::uint64_t widePosition = start;
        detail::mixConstantPlain(plain.data(), data.data(), plainPosition, signedStep, count, left,
                                 right);
        detail::mixConstantWide(wide.data(), data.data(), widePosition, signedStep, count, left,
                                right);
        ASSERT_EQ(std::memcmp(plain.data(), wide.data(), plain.size() * sizeof(float)), 0)
            << "trial " << trial;
        ASSERT_EQ(plainPosition, widePosition) << "trial " << trial;
    }
}

} // namespace
} // namespace tessivane::audio
