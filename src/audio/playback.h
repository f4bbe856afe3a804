// Music playback control: the module from the program's resources played through the
// wave output device on a thread of its own.
#pragma once

namespace tessivane::audio {

// Starts the music; false when it cannot play (the show then runs silent).
bool musicStart();
// Stops the music and closes the device. Harmless in every state, started or not.
void musicStop();

} // namespace tessivane::audio
