// Feeds arbitrary bytes to the module loader. A file is either rejected with a reason and
// nothing left allocated (the leak checker sees to that), or loaded into a module that keeps
// every promise the replay and the mixer rely on, that writes back and loads again as the
// same song, and that plays for a while through the replay and the mixer without any voice
// leaving its sample.
#include "audio/mixer.h"
#include "module_checks.h"
#include "music/module.h"
#include "music/module_writer.h"
#include "music/replay.h"
#include "music/resource_stream.h"
#include "music/voice.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace tessivane::music;
using namespace tessivane::music::fuzz;

namespace {

// Plays the song from its start: many ticks, a short run of frames mixed after each.
void play(Module& module) {
    constexpr int TICKS = 512;
    constexpr int FRAMES = 16;
    sampleRate = 44100;
    clearVoices();
    resetPlayback(module);
    float mix[FRAMES * 2] = {};
    for (int t = 0; t < TICKS; ++t) {
        replayTick(&module);
        checkVoices();
        tessivane::audio::mixVoices(mix, FRAMES);
        checkVoices();
    }
    clearVoices();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Module* module = loadModuleFromMemory(data, size);
    if (module == nullptr) {
        check(lastModuleError()[0] != '\0', "a rejection without a reason");
        return 0;
    }
    checkModule(*module);
    play(*module);

    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!writeModule(*module, bytes, error)) {
        broken("a loaded module cannot be written:", error);
    }
    Module* again = loadModuleFromMemory(bytes.data(), bytes.size());
    if (again == nullptr) {
        broken("a written module does not load:", lastModuleError());
    }
    const std::string difference = moduleDifference(*module, *again);
    if (!difference.empty()) {
        broken("a written module loads differently:", difference);
    }
    freeModule(again);
    freeModule(module);
    return 0;
}
