#include "audio/playback.h"

namespace tessivane::audio {

// The module player and the wave output are not part of this build yet: the show runs
// silent, and stopping has nothing to stop.
bool musicStart() {
    return false;
}

void musicStop() {}

} // namespace tessivane::audio
