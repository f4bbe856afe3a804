// Loads arbitrary bytes as a module and, when they load, does what the module player does
// with them: measures the song's length (bounded), then renders the first seconds of the song
// block by block through the output's own block fill, the replay's ticks at their exact
// frames and the mixer's runs between them, into 16-bit sound. Every tick the voices must
// stay inside their samples; the address and undefined-behaviour checkers watch the rest
// (a float that does not fit the 16-bit conversion traps too).
#include "audio/mixer.h"
#include "audio/output.h"
#include "module_checks.h"
#include "music/module.h"
#include "music/replay.h"
#include "music/resource_stream.h"
#include "music/song_length.h"
#include "music/voice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace tessivane;
using namespace tessivane::music;
using namespace tessivane::music::fuzz;

namespace {

constexpr int RATE = audio::OUTPUT_RATE;
// Enough to reach a song's second row at the slowest tempo the first row can set.
constexpr int RENDER_SECONDS = 2;
// The length measurement plays the replay alone, much faster than mixing: a longer look.
constexpr std::uint64_t LENGTH_LIMIT_FRAMES = 60ull * RATE;

void checkedTick(Module* module) {
    replayTick(module);
    check(module->samplesPerTick >= 1, "a tick without frames");
    checkVoices();
}

// The output's ring and mix buffer as outputInit and playModule size them at this rate,
// without a device: fillBlock only renders into them.
struct Ring {
    std::vector<std::int16_t> pcm;
    std::vector<float> mix;
};

void render(Module& module, Ring& ring) {
    clearVoices();
    resetPlayback(module);
    module.tickHandler = checkedTick;
    audio::currentModule = &module;
    audio::mixBuffer = ring.mix.data();
    audio::outputRing = ring.pcm.data();
    audio::writeBlock = 0;
    const int blocks = RENDER_SECONDS * RATE / audio::blockFrames;
    for (int b = 0; b < blocks; ++b) {
        audio::fillBlock();
    }
    audio::currentModule = nullptr;
    audio::mixBuffer = nullptr;
    audio::outputRing = nullptr;
    clearVoices();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sampleRate = RATE;
    // What outputInit sets for 44,100 Hz.
    audio::blockFrames = (RATE * 20 / 1000 + 3) & ~3;
    audio::ringFrames = (audio::RING_MILLISECONDS / 20) * audio::blockFrames * 2;
    audio::blockCount = audio::ringFrames / audio::blockFrames;
    audio::rampFrames = 128;
    audio::rampFramesInverse = 1.0f / 128.0f;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Module* module = loadModuleFromMemory(data, size);
    if (module == nullptr) {
        return 0;
    }
    const SongLength length = measureSongLength(*module, RATE, LENGTH_LIMIT_FRAMES);
    check(length.frames <= LENGTH_LIMIT_FRAMES, "a length beyond the limit");
    check(length.ends || length.frames == LENGTH_LIMIT_FRAMES, "a song that neither ends nor runs");
    static Ring ring{std::vector<std::int16_t>(static_cast<std::size_t>(audio::ringFrames) * 2),
                     std::vector<float>(static_cast<std::size_t>(audio::ringFrames) * 2)};
    render(*module, ring);
    freeModule(module);
    return 0;
}
