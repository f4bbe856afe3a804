#include "music/replay.h"

#include "music/module.h"

namespace tessivane::music {

// Rows are not played yet: a tick only moves the position on, so that whatever drives the
// ticks sees the song advance.
void replayTick(Module* module) {
    if (module == nullptr) {
        return;
    }
    module->tick += 1;
    if (module->tick >= module->speed + module->patternDelayTicks) {
        module->tick = 0;
        module->patternDelayTicks = 0;
    }
}

} // namespace tessivane::music
