#include "music/voice.h"

#include "music/module.h"

#include <cstdint>
#include <cstring>

namespace tessivane::music {

Voice voices[VOICE_COUNT];
int sampleRate = 44100;

namespace {

// The table is usable before the output first opens: every voice knows its own slot.
[[maybe_unused]] const bool voicesNumbered = (clearVoices(), true);

} // namespace

void clearVoices() {
    std::memset(voices, 0, sizeof voices);
    for (int i = 0; i < VOICE_COUNT; ++i) {
        voices[i].index = i;
        voices[i].stepInt = 1;
    }
}

void setTempo(Module* module, int bpm) {
    module->bpm = bpm;
    // 2.5 / bpm seconds in whole frames, computed exactly in integers: the same as
    // floor(110,250 / bpm) at 44,100 Hz for every bpm, where a double evaluation of
    // 1000 / (0.4 bpm) x rate x 0.001 falls one frame short for some (7, 14, 21, ...).
    const std::int64_t beats = bpm < 1 ? 1 : bpm;
    const std::int64_t frames = std::int64_t{sampleRate} * 5 / (2 * beats);
    module->samplesPerTick = frames < 1 ? 1 : static_cast<std::int32_t>(frames);
}

} // namespace tessivane::music
