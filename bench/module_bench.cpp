// Loading a module of the size the program carries (about 50 KB) from memory, and releasing
// it. The target is well under a millisecond.
#include "music/module.h"
#include "music/module_builder.h"
#include "music/module_writer.h"
#include "music/resource_stream.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tessivane::music;

namespace {

// The shipped module's shape: 8 channels, 14 patterns of 64 rows with a note on every other
// row of every channel, 8 instruments with 8- and 16-bit samples in each loop mode.
std::vector<std::uint8_t> fiftyKilobyteModule() {
    Module* module = createModule(8, 14, 64, 8);
    setOrders(*module, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0, 1, 2, 3, 4, 5});
    module->defaultSpeed = 6;
    module->defaultBpm = 200;
    for (int p = 0; p < 14; ++p) {
        for (int row = 0; row < 64; row += 2) {
            for (int c = 0; c < 8; ++c) {
                cellAt(*module, p, row, c) = {static_cast<std::uint8_t>((p * 7 + row + c) % 96 + 1),
                                              static_cast<std::uint8_t>(c + 1),
                                              static_cast<std::uint8_t>(0x10 + row), 0, 0};
            }
        }
    }
    const std::uint8_t modes[3] = {LOOP_NONE, LOOP_FORWARD, LOOP_PING_PONG};
    for (int i = 0; i < 8; ++i) {
        const bool eightBit = i % 2 == 0;
        const std::uint32_t length = eightBit ? 3900 : 1950;
        Sample* sample = addSample(module->instruments[i], length);
        sample->bits = eightBit ? 8 : 16;
        for (std::uint32_t v = 0; v < length; ++v) {
            const int value = static_cast<int>((v * 2654435761u) >> 16) - 32768;
            sample->data[v] = static_cast<std::int16_t>(eightBit ? value & ~0xFF : value);
        }
        sample->loopMode = modes[i % 3];
        sample->loopStart = sample->loopMode == LOOP_NONE ? 0 : length / 4;
        sample->loopLength = sample->loopMode == LOOP_NONE ? length : length / 2;
        module->instruments[i].volumeEnvelope[1] = {16, 64};
        module->instruments[i].volumePointCount = 2;
        module->instruments[i].volumeType = ENVELOPE_ON;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!writeModule(*module, bytes, error)) {
        std::fprintf(stderr, "module_bench: %s\n", error.c_str());
        std::abort();
    }
    freeModule(module);
    return bytes;
}

void BM_LoadModule50KB(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = fiftyKilobyteModule();
    for (auto _ : state) {
        Module* module = loadModuleFromMemory(bytes.data(), bytes.size());
        if (module == nullptr) {
            state.SkipWithError(lastModuleError());
            return;
        }
        benchmark::DoNotOptimize(module);
        freeModule(module);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_LoadModule50KB)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly();

} // namespace
