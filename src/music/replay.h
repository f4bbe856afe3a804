// The replay: turns the module's rows into the state of the mixer's voices, tick by tick.
#pragma once

namespace tessivane::music {

struct Module;

// Advances module by one tick. The loader makes it every module's tickHandler; the output
// calls it once per tick, before the frames of that tick are mixed.
void replayTick(Module* module);

} // namespace tessivane::music
