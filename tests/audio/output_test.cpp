// The output ring, the fill routine's tick timing, the output thread and stopping it.
#include "audio/mixer.h"
#include "audio/output.h"
#include "audio/playback.h"
#include "music/channel.h"
#include "music/module.h"
#include "music/module_builder.h"
#include "music/replay.h"
#include "music/resource_stream.h"
#include "music/stream.h"
#include "platform/platform.h"
#include "platform/thread.h"
#include "platform/timer.h"
#include "platform/wave_out.h"
#include "scoped_environment.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tessivane::audio {
namespace {

using tessivane::testing::ScopedEnvironment;

using music::Module;
using namespace platform;

// A clock any thread may read and the test moves: the null device's position follows it.
class TestClock final : public Clock {
public:
    DWORD now() override { return ms.load(); }
    void advance(DWORD by) { ms.store(ms.load() + by); }
    std::atomic<DWORD> ms{1000};
};

// The output frame of every tick, as the fill routine reports it to the tick handler.
struct TickLog {
    static constexpr int CAPACITY = 8192;
    std::array<std::uint64_t, CAPACITY> frames{};
    std::atomic<int> count{0};
    int tempoChangeAt = -1;
    std::atomic<bool> slow{false};
    std::atomic<bool> inSlowTick{false};
    std::atomic<bool> slowTickDone{false};
};
TickLog tickLog;

void recordTick(Module* module) {
    const int i = tickLog.count.load();
    if (i < TickLog::CAPACITY) {
        tickLog.frames[static_cast<std::size_t>(i)] = tickFrame();
    }
    if (i == tickLog.tempoChangeAt) {
        music::setTempo(module, 250);
    }
    if (tickLog.slow.load()) {
        tickLog.slow = false;
        tickLog.inSlowTick = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        tickLog.slowTickDone = true;
    }
    tickLog.count.store(i + 1);
}

struct ModuleDeleter {
    void operator()(Module* module) const { music::freeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

// Two channels of notes on a looping, ping-pong and one-shot sample, with volume and pitch
// moving: enough to make every frame of the ring depend on the tick timing.
ModulePtr busySong() {
    ModulePtr module(music::createModule(3, 1, 16, 3));
    const std::uint8_t modes[3] = {music::LOOP_FORWARD, music::LOOP_PING_PONG, music::LOOP_NONE};
    for (int i = 0; i < 3; ++i) {
        music::Sample* s = music::addSample(module->instruments[i], 3000);
        for (std::uint32_t v = 0; v < 3000; ++v) {
            s->data[v] = static_cast<std::int16_t>((v * (37 + i * 11)) % 20000 - 10000);
        }
        s->loopMode = modes[i];
        s->loopStart = i == 2 ? 0 : 500;
        s->loopLength = i == 2 ? 3000 : 2000;
        s->data[s->loopStart + s->loopLength] = modes[i] == music::LOOP_FORWARD
                                                    ? s->data[s->loopStart]
                                                    : s->data[s->loopStart + s->loopLength - 1];
    }
    for (int row = 0; row < 16; ++row) {
        for (int c = 0; c < 3; ++c) {
            music::PatternCell& cell = music::cellAt(*module, 0, row, c);
            if ((row + c) % 3 == 0) {
                cell.note = static_cast<std::uint8_t>(37 + (row * 5 + c * 7) % 36);
                cell.instrument = static_cast<std::uint8_t>(c + 1);
            }
            cell.volume = static_cast<std::uint8_t>(0x10 + (row * 9 + c * 13) % 65);
            cell.effect = row % 4 == 1 ? 4 : 10; // vibrato or volume slide
            cell.parameter = row % 4 == 1 ? 0x48 : 0x21;
        }
    }
    module->defaultBpm = 137;
    module->defaultSpeed = 3;
    return module;
}

// What the ring must hold: the song rendered by mixing each run between two ticks or block
// boundaries, the way the fill routine cuts its runs, without the ring.
std::vector<std::int16_t> referenceRendering(Module& module, std::size_t frames) {
    music::clearVoices();
    music::resetPlayback(module);
    std::vector<float> mix(frames * 2, 0.0f);
    std::size_t done = 0;
    std::int64_t toTick = 0;
    const auto block = static_cast<std::size_t>(blockFrames);
    while (done < frames) {
        if (toTick == 0) {
            module.tickHandler(&module);
            toTick = module.samplesPerTick;
        }
        const std::size_t toBlockEnd = block - done % block;
        const std::size_t run =
            std::min({static_cast<std::size_t>(toTick), toBlockEnd, frames - done});
        mixVoices(mix.data() + 2 * done, static_cast<int>(run));
        done += run;
        toTick -= static_cast<std::int64_t>(run);
    }
    std::vector<std::int16_t> pcm(frames * 2);
    convertToPcm16(pcm.data(), mix.data(), static_cast<int>(frames));
    return pcm;
}

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        setClock(&clock);
        setWaveOutput(WaveOutput::Null);
        music::useResourceStreams();
        tickLog.count = 0;
        tickLog.tempoChangeAt = -1;
        tickLog.slow = false;
        tickLog.inSlowTick = false;
        tickLog.slowTickDone = false;
        ASSERT_TRUE(outputInit(OUTPUT_RATE)) << lastPlatformError();
    }
    void TearDown() override {
        outputClose();
        setWaveOutput(WaveOutput::Default);
        setClock(nullptr);
    }

    // A silent song whose ticks are recorded.
    ModulePtr recordedSong(int bpm) {
        ModulePtr module(music::createModule(1, 1, 64, 0));
        module->defaultBpm = static_cast<std::int16_t>(bpm);
        module->tickHandler = recordTick;
        return module;
    }

    // Waits (at most 10 s) until the output thread has handled count ticks.
    bool waitForTicks(int count) {
        for (int i = 0; i < 10000 && tickLog.count.load() < count; ++i) {
            Sleep(1);
        }
        return tickLog.count.load() >= count;
    }

    std::vector<std::uint64_t> ticks() {
        const int n = std::min(tickLog.count.load(), TickLog::CAPACITY);
        return {tickLog.frames.begin(), tickLog.frames.begin() + n};
    }

    TestClock clock;
};

TEST_F(OutputTest, RingAndBlockSizesAt44100Hz) {
    EXPECT_EQ(blockFrames, 884);
    EXPECT_EQ(ringFrames, 88400);
    EXPECT_EQ(blockCount, 100);
    EXPECT_EQ(rampFrames, 128);
    EXPECT_EQ(rampFramesInverse, 1.0f / 128);
    ModulePtr module = recordedSong(125);
    ASSERT_TRUE(playModule(module.get()));
    EXPECT_EQ(waveHeader.dwBufferLength, 353600u);
    EXPECT_EQ(waveHeader.dwLoops, 0xFFFFFFFFu);
    EXPECT_EQ(waveHeader.dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_PREPARED | WHDR_INQUEUE),
              WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(mixBuffer) % 16, 0u);
    EXPECT_EQ(writeBlock, 0); // the whole ring was filled before the device started
    EXPECT_TRUE(stopModule(module.get()));
    EXPECT_EQ(mixBuffer, nullptr);
    EXPECT_EQ(waveHeader.dwFlags & WHDR_PREPARED, 0u);
}

TEST_F(OutputTest, TickLengthIsTwoAndAHalfSecondsOverTheBpmInWholeFrames) {
    ModulePtr module = recordedSong(125);
    for (int bpm = 1; bpm <= 255; ++bpm) {
        music::setTempo(module.get(), bpm);
        ASSERT_EQ(module->samplesPerTick, 110250 / bpm) << bpm;
        ASSERT_EQ(module->bpm, bpm);
    }
    music::setTempo(module.get(), 125);
    EXPECT_EQ(module->samplesPerTick, 882);
    music::setTempo(module.get(), 0);
    EXPECT_EQ(module->samplesPerTick, 110250);
}

TEST_F(OutputTest, TicksFallOnExactFramesThroughBlocksAndTheThreadsRefills) {
    ModulePtr module = recordedSong(125);
    ASSERT_TRUE(playModule(module.get()));
    // The pre-fill: a tick before the very first frame, then one every 882 frames, the
    // ticks drifting through the 884-frame blocks.
    EXPECT_EQ(tickLog.count.load(), 101); // ticks at 0 .. 88,200 of 88,400 frames
    clock.advance(1000);                  // the device plays on: the thread refills
    ASSERT_TRUE(waitForTicks(150));
    stopModule(module.get());
    const std::vector<std::uint64_t> frames = ticks();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i], i * 882) << "tick " << i;
    }
}

TEST_F(OutputTest, ATempoChangeTakesEffectOnTheTickThatMakesIt) {
    ModulePtr module = recordedSong(125);
    tickLog.tempoChangeAt = 3;
    ASSERT_TRUE(playModule(module.get()));
    stopModule(module.get());
    const std::vector<std::uint64_t> frames = ticks();
    ASSERT_GE(frames.size(), 6u);
    EXPECT_EQ(frames[3], 3u * 882);
    EXPECT_EQ(frames[4], 3u * 882 + 441);
    EXPECT_EQ(frames[5], 3u * 882 + 2 * 441);
}

TEST_F(OutputTest, SlowTicksSpanSeveralBlocksAndNoneIsLost) {
    ModulePtr module = recordedSong(32); // 3,445 frames: up to five blocks
    ASSERT_TRUE(playModule(module.get()));
    stopModule(module.get());
    const std::vector<std::uint64_t> frames = ticks();
    ASSERT_EQ(frames.size(), 26u); // 0 .. 86,125
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], i * 3445);
    }
}

TEST_F(OutputTest, TheRingHoldsTheSongMixedRunByRun) {
    ModulePtr module = busySong();
    const std::vector<std::int16_t> expected =
        referenceRendering(*module, static_cast<std::size_t>(ringFrames));
    ASSERT_TRUE(outputInit(OUTPUT_RATE)); // clears the voices the reference left
    ASSERT_TRUE(playModule(module.get()));
    stopModule(module.get());
    ASSERT_EQ(std::memcmp(outputRing, expected.data(), expected.size() * 2), 0);
    // It is music, not silence.
    EXPECT_NE(std::count(expected.begin(), expected.end(), 0), static_cast<long>(expected.size()));
}

TEST_F(OutputTest, ThePullDeviceGivesTheSameBytesInOneCallOrManyAndTheyAreTheSongs) {
    outputClose();
    setWaveOutput(WaveOutput::Pull);
    ModulePtr module = busySong();
    constexpr std::uint32_t FRAMES = 250000; // almost three loops of the ring
    const std::vector<std::int16_t> expected = referenceRendering(*module, FRAMES);

    std::vector<std::int16_t> whole(FRAMES * 2);
    ASSERT_TRUE(outputInit(OUTPUT_RATE)) << lastPlatformError();
    ASSERT_TRUE(playModule(module.get()));
    ASSERT_TRUE(pullWaveOutput(whole.data(), FRAMES)) << lastPlatformError();
    stopModule(module.get());
    EXPECT_EQ(outputUnderruns(), 0u);

    std::vector<std::int16_t> pieces(FRAMES * 2);
    ASSERT_TRUE(outputInit(OUTPUT_RATE)); // closes the first device, clears the voices
    ASSERT_TRUE(playModule(module.get()));
    const std::uint32_t sizes[] = {1, 883, 884, 885, 7, 44100, 3445};
    std::uint32_t done = 0;
    for (int i = 0; done < FRAMES; ++i) {
        const std::uint32_t n = std::min(sizes[i % 7], FRAMES - done);
        ASSERT_TRUE(pullWaveOutput(pieces.data() + 2 * done, n));
        done += n;
    }
    stopModule(module.get());
    EXPECT_TRUE(whole == pieces);
    const auto mismatch = std::mismatch(whole.begin(), whole.end(), expected.begin());
    EXPECT_TRUE(mismatch.first == whole.end())
        << "first difference at frame " << (mismatch.first - whole.begin()) / 2;
}

TEST_F(OutputTest, AStopWhileABlockIsRenderedWaitsForThatBlock) {
    ModulePtr module = recordedSong(125);
    ASSERT_TRUE(playModule(module.get()));
    tickLog.slow = true;
    clock.advance(100);
    for (int i = 0; i < 10000 && !tickLog.inSlowTick.load(); ++i) {
        Sleep(1);
    }
    ASSERT_TRUE(tickLog.inSlowTick.load());
    EXPECT_TRUE(stopModule(module.get()));
    EXPECT_TRUE(tickLog.slowTickDone.load());
    EXPECT_FALSE(fillBusy.load());
    EXPECT_TRUE(threadFinished.load());
    EXPECT_EQ(outputThreadHandle, nullptr);
    EXPECT_EQ(currentModule, nullptr);
}

TEST_F(OutputTest, StartingAndStoppingAtOnceOrAtRandomMomentsIsSafe) {
    ModulePtr module = busySong();
    std::mt19937 random(3);
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(playModule(module.get()));
        EXPECT_FALSE(threadFinished.load());
        if (i % 3 != 0) {
            clock.advance(random() % 3000);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
        ASSERT_TRUE(stopModule(module.get()));
        ASSERT_TRUE(threadFinished.load());
        ASSERT_EQ(outputThreadHandle, nullptr);
    }
    // Playing again while playing starts the song over on a fresh ring.
    ASSERT_TRUE(playModule(module.get()));
    ASSERT_TRUE(playModule(module.get()));
    EXPECT_EQ(module->order, 0);
    stopModule(module.get());
}

TEST_F(OutputTest, ReleasingAPlayingModuleStopsItAndLeavesNoVoiceOnItsSamples) {
    ModulePtr module = busySong();
    ASSERT_TRUE(playModule(module.get()));
    clock.advance(500);
    music::freeModule(module.release());
    EXPECT_EQ(currentModule, nullptr);
    EXPECT_TRUE(threadFinished.load());
    for (const music::Voice& voice : music::voices) {
        ASSERT_EQ(voice.sample, nullptr);
    }
}

TEST_F(OutputTest, StoppingANullModuleOrPlayingWithoutADeviceIsRefused) {
    EXPECT_FALSE(stopModule(nullptr));
    EXPECT_FALSE(playModule(nullptr));
    outputClose();
    outputClose(); // twice is harmless
    ModulePtr module = recordedSong(125);
    EXPECT_FALSE(playModule(module.get()));
    EXPECT_EQ(currentModule, nullptr);
}

TEST_F(OutputTest, TheDeviceCountsUnderrunsWhenTheRefillFallsBehind) {
    ModulePtr module = recordedSong(125);
    ASSERT_TRUE(playModule(module.get()));
    EXPECT_EQ(outputUnderruns(), 0u);
    // Three seconds pass between two polls: more than the ring holds.
    clock.advance(3000);
    for (int i = 0; i < 5000 && outputUnderruns() == 0; ++i) {
        Sleep(1);
    }
    EXPECT_GE(outputUnderruns(), 1u);
    stopModule(module.get());
}

TEST_F(OutputTest, OpeningFailsWithoutStreamCallbacksOrWithoutASoundDevice) {
    outputClose();
    music::setStreamCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(outputInit(OUTPUT_RATE));
    music::useResourceStreams();
    ScopedEnvironment noDriver("SDL_AUDIODRIVER", "no-such-driver");
    setWaveOutput(WaveOutput::System);
    EXPECT_FALSE(outputInit(OUTPUT_RATE));
    EXPECT_EQ(waveOut, nullptr);
}

class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        PlatformConfig config;
        config.mute = true;
        configurePlatform(config);
    }
    void TearDown() override {
        musicStop();
        configurePlatform(PlatformConfig{});
    }
};

TEST_F(MusicTest, StopReturnsQuicklyInEveryState) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    musicStop(); // never started
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(musicStart()) << musicProblem();
        EXPECT_STREQ(musicProblem(), "");
        if (i % 2 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        start = Clock::now();
        musicStop();
        // Well within the 100 ms a shutdown may take; the bound here only catches a hang.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(waveOut, nullptr);
        EXPECT_EQ(outputRing, nullptr);
    }
    musicStop(); // stopped twice
}

TEST_F(MusicTest, WithoutASoundDeviceMusicStartSaysSo) {
    configurePlatform(PlatformConfig{});
    ScopedEnvironment noDriver("SDL_AUDIODRIVER", "no-such-driver");
    EXPECT_FALSE(musicStart());
    EXPECT_EQ(std::string(musicProblem()).rfind("no sound device: playing without music", 0), 0u)
        << musicProblem();
    musicStop();
}

} // namespace
} // namespace tessivane::audio
