// The wave output: a ring of blocks of 16-bit stereo sound that the device plays as one
// endlessly looping buffer, kept filled by an output thread that renders each block the
// device has left: the replay's ticks at exact frames, the mixer's runs between them.
//
// There is one device, one ring and at most one module playing; the state is process-wide.
// Between the thread that starts and stops playback and the output thread only three flags
// pass (stopRequested, fillBusy, threadFinished); while music plays, the module, the
// channels and the voices belong to the output thread.
#pragma once

#include "music/voice.h"
#include "platform/thread.h"
#include "platform/wave_out.h"

#include <atomic>
#include <cstdint>

namespace tessivane::music {
struct Module;
}

namespace tessivane::audio {

inline constexpr int OUTPUT_RATE = 44100;
inline constexpr int RING_MILLISECONDS = 1000;

// Set by outputInit for its rate, with the mixer's ramp length (audio/mixer.h). At 44,100 Hz:
// blocks of 884 frames (20 ms plus 3, rounded down to a multiple of 4) and a ring of 88,400
// frames (100 blocks, about 2 s).
extern int blockFrames;
extern int ringFrames;
extern int blockCount;

extern platform::HWAVEOUT waveOut;
extern platform::WAVEHDR waveHeader;
extern std::int16_t* outputRing; // ringFrames (left, right) pairs, while playing
extern float* mixBuffer;         // ringFrames float pairs, 16-byte aligned, while playing
extern int writeBlock;           // the next block to fill, 0..blockCount-1
extern music::Module* currentModule;
extern platform::HANDLE outputThreadHandle;
extern std::atomic<bool> stopRequested;
extern std::atomic<bool> fillBusy;
extern std::atomic<bool> threadFinished;

// Opens the wave device (platform::setWaveOutput chooses which) for 16-bit stereo at rate
// and sizes the ring; clears every voice. False, with nothing open, when the stream
// callbacks are not registered or the device cannot be opened (lastPlatformError says why).
bool outputInit(int rate);
// Stops what is playing, resets and closes the device and releases the ring. Harmless when
// nothing is open.
void outputClose();

// Plays module from the start of its song: renders the whole ring on this thread, starts
// the device and the output thread. False for a null module, when no device is open, or
// when the buffers or the thread cannot be had (nothing then plays). Calling it again while
// playing starts the new song at once.
bool playModule(music::Module* module);
// Stops the output thread (waiting for the block it renders) and releases the mix buffer.
// The device goes on replaying the ring until outputClose. False for a null module.
bool stopModule(music::Module* module);

// Renders block writeBlock of the ring and moves writeBlock on.
void fillBlock();
// The output thread: refills every block the device has left, every 5 ms, until asked to
// stop.
platform::DWORD outputThread(void* unused);

// The output frame (counted from the start of playback) at which the tick now being
// handled begins. For tick handlers; meaningful only inside one.
std::uint64_t tickFrame();
// Frames the device had played when the output thread last asked; any thread may read it.
std::uint64_t playedFrames();
// Underruns the device has counted since it was opened.
platform::DWORD outputUnderruns();

} // namespace tessivane::audio
