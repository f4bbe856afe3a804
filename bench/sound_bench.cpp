// The sound side's speed: the mixer in voice-frames per second, the replay's cost per tick,
// and whole songs rendered, in seconds of sound per second of CPU (the "x real time"
// counter). The target is at least 1000x real time for an 8-channel module on one core.
#include "audio/mixer.h"
#include "audio/output.h"
#include "composer.h"
#include "music/channel.h"
#include "music/module.h"
#include "music/module_builder.h"
#include "music/replay.h"
#include "music/resource_stream.h"
#include "music/voice.h"
#include "platform/wave_out.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace tessivane;
using music::Module;

namespace {

constexpr int RATE = 44100;
constexpr int BLOCK = 884;

struct ModuleDeleter {
    void operator()(Module* module) const { music::freeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

// Looping samples of several lengths, forward and ping-pong.
struct Samples {
    Samples() {
        for (int i = 0; i < 8; ++i) {
            const std::uint32_t length = 2000 + 1500 * i;
            data.emplace_back(length + music::SAMPLE_PADDING);
            for (std::uint32_t v = 0; v < length; ++v) {
                data.back()[v] = static_cast<std::int16_t>((v * 2654435761u) >> 17);
            }
            music::Sample s{};
            s.data = data.back().data();
            s.length = length;
            s.loopStart = length / 4;
            s.loopLength = length / 2;
            s.loopMode = i % 2 == 0 ? music::LOOP_FORWARD : music::LOOP_PING_PONG;
            s.bits = 16;
            samples.push_back(s);
        }
    }
    std::vector<std::vector<std::int16_t>> data;
    std::vector<music::Sample> samples;
};

void setUpVoices(const Samples& s, int count) {
    music::clearVoices();
    for (int i = 0; i < count; ++i) {
        music::Voice& v = music::voices[i];
        v.sample = &s.samples[static_cast<std::size_t>(i % 8)];
        v.positionInt = v.sample->loopStart;
        v.stepInt = i % 3 == 0 ? 1 : 0;
        v.stepFrac = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1);
        v.volumeLeft = v.rampRefLeft = 100 + i;
        v.volumeRight = v.rampRefRight = 180 - i;
        v.levelLeft = static_cast<std::uint32_t>(v.volumeLeft) * 256;
        v.levelRight = static_cast<std::uint32_t>(v.volumeRight) * 256;
    }
}

// Voices playing looping samples; with ramping, every voice's targets change every 128
// frames, so all the mixing is ramps.
void BM_MixVoices(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool ramping = state.range(1) != 0;
    Samples samples;
    setUpVoices(samples, count);
    audio::rampFrames = 128;
    audio::rampFramesInverse = 1.0f / 128;
    std::vector<float> out(BLOCK * 2);
    int flip = 0;
    for (auto _ : state) {
        if (ramping) {
            for (int done = 0; done < BLOCK; done += 128) {
                flip ^= 1;
                for (int i = 0; i < count; ++i) {
                    music::voices[i].volumeLeft = flip != 0 ? 40 : 200;
                }
                audio::mixVoices(out.data() + 2 * done, std::min(128, BLOCK - done));
            }
        } else {
            audio::mixVoices(out.data(), BLOCK);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * count * BLOCK);
    state.SetLabel("voice-frames");
    music::clearVoices();
}
BENCHMARK(BM_MixVoices)->ArgNames({"voices", "ramping"})->ArgsProduct({{8, 32, 64}, {0, 1}});

// Every cell busy: notes with instruments, volume-column slides and effects that run on
// every tick, instruments with looping envelopes and auto-vibrato.
ModulePtr busyModule(int channels) {
    ModulePtr module(music::createModule(channels, 1, 64, 4));
    for (int i = 0; i < 4; ++i) {
        music::Instrument& instrument = module->instruments[i];
        music::Sample* s = music::addSample(instrument, 4000);
        for (std::uint32_t v = 0; v < 4000; ++v) {
            s->data[v] = static_cast<std::int16_t>((v * 40503u) >> 1);
        }
        s->loopMode = i % 2 == 0 ? music::LOOP_FORWARD : music::LOOP_PING_PONG;
        s->loopStart = 1000;
        s->loopLength = 2000;
        instrument.volumeEnvelope[0] = {0, 64};
        instrument.volumeEnvelope[1] = {8, 20};
        instrument.volumeEnvelope[2] = {16, 48};
        instrument.volumePointCount = 3;
        instrument.volumeLoopStart = 1;
        instrument.volumeLoopEnd = 2;
        instrument.volumeType = music::ENVELOPE_ON | music::ENVELOPE_LOOP;
        instrument.panningEnvelope[0] = {0, 0};
        instrument.panningEnvelope[1] = {30, 64};
        instrument.panningPointCount = 2;
        instrument.panningType = music::ENVELOPE_ON;
        instrument.vibratoType = static_cast<std::uint8_t>(i);
        instrument.vibratoDepth = 6;
        instrument.vibratoRate = 9;
        instrument.vibratoSweep = 4;
    }
    const std::uint8_t effects[][2] = {{0, 0x37}, {4, 0x46}, {7, 0x58}, {10, 0x21},
                                       {3, 0x08}, {6, 0x12}, {1, 0x02}, {25, 0x31}};
    for (int row = 0; row < 64; ++row) {
        for (int c = 0; c < channels; ++c) {
            music::PatternCell& cell = music::cellAt(*module, 0, row, c);
            if ((row + c) % 4 == 0) {
                cell.note = static_cast<std::uint8_t>(25 + (row * 7 + c * 5) % 60);
                cell.instrument = static_cast<std::uint8_t>(1 + c % 4);
            }
            cell.volume = static_cast<std::uint8_t>(row % 2 == 0 ? 0x62 : 0xB4);
            const auto& e = effects[(row + c) % 8];
            cell.effect = e[0];
            cell.parameter = e[1];
        }
    }
    module->defaultBpm = 150;
    return module;
}

// The replay alone: one tick of every channel, without mixing.
void BM_ReplayTick(benchmark::State& state) {
    ModulePtr module = busyModule(static_cast<int>(state.range(0)));
    music::sampleRate = RATE;
    music::clearVoices();
    music::resetPlayback(*module);
    for (auto _ : state) {
        music::replayTick(module.get());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("ticks");
    music::clearVoices();
}
BENCHMARK(BM_ReplayTick)->ArgName("channels")->Arg(8)->Arg(32);

// A whole song as the output renders it, block by block with ticks at exact frames, on
// this thread: seconds of sound per second of CPU.
void renderSong(benchmark::State& state, Module& module) {
    music::sampleRate = RATE;
    audio::rampFrames = 128;
    audio::rampFramesInverse = 1.0f / 128;
    constexpr int BLOCKS = 100;
    std::vector<float> mix(BLOCK * 2);
    std::vector<std::int16_t> pcm(BLOCK * 2);
    music::clearVoices();
    music::resetPlayback(module);
    for (auto _ : state) {
        for (int b = 0; b < BLOCKS; ++b) {
            std::fill(mix.begin(), mix.end(), 0.0f);
            int done = 0;
            int remaining = module.samplesToTick;
            while (done < BLOCK) {
                if (remaining == 0) {
                    module.tickHandler(&module);
                    remaining = module.samplesPerTick;
                }
                const int run = std::min(remaining, BLOCK - done);
                audio::mixVoices(mix.data() + 2 * done, run);
                done += run;
                remaining -= run;
            }
            module.samplesToTick = remaining;
            audio::convertToPcm16(pcm.data(), mix.data(), BLOCK);
        }
        benchmark::DoNotOptimize(pcm.data());
    }
    const double seconds = static_cast<double>(state.iterations()) * BLOCKS * BLOCK / RATE;
    state.counters["x real time"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    music::clearVoices();
}

// The show's own music, as composed.
ModulePtr showModule() {
    std::string error;
    return ModulePtr(composer::composeModule(error));
}

void BM_RenderShowModule(benchmark::State& state) {
    ModulePtr module = showModule();
    renderSong(state, *module);
}
BENCHMARK(BM_RenderShowModule)->Unit(benchmark::kMillisecond);

void BM_RenderBusyModule(benchmark::State& state) {
    ModulePtr module = busyModule(static_cast<int>(state.range(0)));
    renderSong(state, *module);
}
BENCHMARK(BM_RenderBusyModule)->ArgName("channels")->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

// The whole path of tessivane-xm --wav: the pull device, the output thread refilling the
// ring, both threads' CPU counted.
void BM_PullShowModule(benchmark::State& state) {
    ModulePtr module = showModule();
    music::useResourceStreams();
    platform::setWaveOutput(platform::WaveOutput::Pull);
    if (!audio::outputInit(RATE) || !audio::playModule(module.get())) {
        state.SkipWithError("cannot open the pull device");
        return;
    }
    constexpr std::uint32_t FRAMES = 10 * RATE;
    for (auto _ : state) {
        platform::pullWaveOutput(nullptr, FRAMES);
    }
    audio::stopModule(module.get());
    audio::outputClose();
    platform::setWaveOutput(platform::WaveOutput::Default);
    const double seconds = static_cast<double>(state.iterations()) * FRAMES / RATE;
    state.counters["x real time"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PullShowModule)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

} // namespace
