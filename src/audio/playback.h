// Music playback control: the module from the program's resources played through the
// wave output device on a thread of its own.
#pragma once

namespace tessivane::audio {

// Starts the music; false when it cannot play (the show then runs silent), and then
// musicProblem() says why.
bool musicStart();
// Stops the music, closes the device and releases the module. Harmless in every state,
// started or not, and quick: it returns within a few tens of milliseconds.
void musicStop();
// One line saying why the last musicStart could not play, "" when it could: "no sound
// device: playing without music (...)" when no sound device could be opened.
const char* musicProblem();

} // namespace tessivane::audio
