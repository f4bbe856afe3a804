#include "audio/output.h"

#include "audio/mixer.h"
#include "music/channel.h"
#include "music/module.h"
#include "music/replay.h"
#include "music/stream.h"
#include "music/voice.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tessivane::audio {

using namespace platform;
using music::Module;

int blockFrames = 0;
int ringFrames = 0;
int blockCount = 0;

HWAVEOUT waveOut = nullptr;
WAVEHDR waveHeader{};
std::int16_t* outputRing = nullptr;
float* mixBuffer = nullptr;
int writeBlock = 0;
Module* currentModule = nullptr;
HANDLE outputThreadHandle = nullptr;
std::atomic<bool> stopRequested{false};
std::atomic<bool> fillBusy{false};
std::atomic<bool> threadFinished{true};

namespace {

constexpr int CHANNELS = 2;
constexpr int FRAME_BYTES = CHANNELS * 2;
constexpr DWORD POLL_MS = 5;
constexpr DWORD STOP_POLL_MS = 50;
// The mix buffer's allocation leaves room to start it on a 16-byte boundary.
constexpr std::size_t ALIGNMENT_SLACK = 256;

void* mixAllocation = nullptr;
// The module whose samples the voices may still hold: voices are cleared only when the
// device opens, so they must not outlive that module's release.
Module* lastPlayed = nullptr;

// Owned by whoever renders (the output thread while playing).
std::uint64_t renderedFrames = 0;
std::uint64_t tickStart = 0;
std::atomic<std::uint64_t> devicePlayed{0};

void releaseMixBuffer() {
    std::free(mixAllocation);
    mixAllocation = nullptr;
    mixBuffer = nullptr;
}

void releaseRing() {
    std::free(outputRing);
    outputRing = nullptr;
    waveHeader = {};
}

// What freeModule runs before it releases a module.
void stopBeforeRelease(Module* module) {
    while (fillBusy.load()) {
        std::this_thread::yield();
    }
    if (module == currentModule) {
        stopModule(module);
    }
    if (module == lastPlayed) {
        music::clearVoices();
        lastPlayed = nullptr;
    }
}

// Extends the device's 32-bit position, which wraps after 4 GiB (about 6.8 hours of sound),
// to 64 bits, so that the playing block stays right however long the music plays.
class PositionCounter {
public:
    std::uint64_t extend(UINT unit, DWORD value) {
        if (unit != unit_) {
            unit_ = unit;
            total_ = value;
        } else {
            total_ += static_cast<DWORD>(value - last_);
        }
        last_ = value;
        return total_;
    }

private:
    UINT unit_ = 0;
    DWORD last_ = 0;
    std::uint64_t total_ = 0;
};

// The device's position in frames; false when it answers in a unit that cannot be turned
// into frames (the poll is then skipped).
bool framesPlayed(PositionCounter& counter, std::uint64_t& frames) {
    MMTIME time{};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(waveOut, &time, sizeof time) != MMSYSERR_NOERROR) {
        return false;
    }
    switch (time.wType) {
    case TIME_BYTES:
        frames = counter.extend(TIME_BYTES, time.u.cb) / FRAME_BYTES;
        return true;
    case TIME_SAMPLES:
        frames = counter.extend(TIME_SAMPLES, time.u.sample);
        return true;
    case TIME_MS:
        frames = counter.extend(TIME_MS, time.u.ms) * music::sampleRate / 1000;
        return true;
    default:
        return false;
    }
}

} // namespace

bool outputInit(int rate) {
    if (!music::streamCallbacksRegistered()) {
        return false;
    }
    outputClose();
    music::sampleRate = rate;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = CHANNELS;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * FRAME_BYTES;
    format.nBlockAlign = FRAME_BYTES;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    if (waveOutOpen(&waveOut, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        waveOut = nullptr;
        return false;
    }
    // 20 ms plus 3 frames, rounded down to a multiple of 4: 884 at 44,100 Hz.
    blockFrames = (rate * 20 / 1000 + 3) & ~3;
    ringFrames = (RING_MILLISECONDS / 20) * blockFrames * 2;
    blockCount = ringFrames / blockFrames;
    rampFrames = std::max(rate * 128 / 44100, 1);
    rampFramesInverse = 1.0f / static_cast<float>(rampFrames);
    music::clearVoices();
    lastPlayed = nullptr;
    music::setModuleStopRoutine(stopBeforeRelease);
    return true;
}

void outputClose() {
    // The output thread must be gone before the ring it writes is released.
    if (currentModule != nullptr) {
        stopModule(currentModule);
    }
    if (waveOut != nullptr) {
        waveOutReset(waveOut);
        waveOutClose(waveOut);
        waveOut = nullptr;
    }
    releaseRing();
}

bool playModule(Module* module) {
    if (module == nullptr) {
        return false;
    }
    stopModule(module);
    if (waveOut == nullptr) {
        return false;
    }
    music::resetPlayback(*module);
    currentModule = module;
    lastPlayed = module;

    // A ring from an earlier song may still be playing: it stops before it is replaced.
    if (outputRing != nullptr) {
        waveOutReset(waveOut);
        waveOutUnprepareHeader(waveOut, &waveHeader, sizeof waveHeader);
        releaseRing();
    }
    outputRing = static_cast<std::int16_t*>(
        std::calloc(static_cast<std::size_t>(ringFrames) * CHANNELS, sizeof(std::int16_t)));
    mixAllocation = std::malloc(static_cast<std::size_t>(ringFrames) * CHANNELS * sizeof(float) +
                                ALIGNMENT_SLACK);
    if (outputRing == nullptr || mixAllocation == nullptr) {
        releaseRing();
        releaseMixBuffer();
        currentModule = nullptr;
        return false;
    }
    const auto aligned =
        (reinterpret_cast<std::uintptr_t>(mixAllocation) + 15) & ~std::uintptr_t{15};
    mixBuffer = reinterpret_cast<float*>(aligned);
    waveHeader = {};
    waveHeader.lpData = reinterpret_cast<char*>(outputRing);
    waveHeader.dwBufferLength = static_cast<DWORD>(ringFrames) * FRAME_BYTES;
    waveHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    waveHeader.dwLoops = 0xFFFFFFFFu;
    waveOutPrepareHeader(waveOut, &waveHeader, sizeof waveHeader);

    // The whole ring holds sound before the device starts; the song's first ticks run here.
    writeBlock = 0;
    renderedFrames = 0;
    devicePlayed.store(0);
    do {
        fillBlock();
    } while (writeBlock != 0);
    waveOutWrite(waveOut, &waveHeader, sizeof waveHeader);

    stopRequested.store(false);
    threadFinished.store(false);
    outputThreadHandle = CreateThread(nullptr, 0, outputThread, nullptr, 0, nullptr);
    if (outputThreadHandle == nullptr) {
        threadFinished.store(true);
        waveOutReset(waveOut);
        stopModule(module);
        return false;
    }
    SetThreadPriority(outputThreadHandle, THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

bool stopModule(Module* module) {
    if (module == nullptr) {
        return false;
    }
    stopRequested.store(true);
    // The block being rendered is finished first.
    while (fillBusy.load()) {
        std::this_thread::yield();
    }
    if (outputThreadHandle != nullptr) {
        while (!threadFinished.load()) {
            Sleep(STOP_POLL_MS);
        }
        CloseHandle(outputThreadHandle);
        outputThreadHandle = nullptr;
    }
    releaseMixBuffer();
    if (waveHeader.lpData != nullptr) {
        // Still queued, so the device answers "still playing" and keeps it; it keeps
        // replaying the ring until outputClose resets it.
        waveOutUnprepareHeader(waveOut, &waveHeader, sizeof waveHeader);
        waveHeader.dwFlags &= ~WHDR_PREPARED;
    }
    currentModule = nullptr;
    return true;
}

void fillBlock() {
    Module* module = currentModule;
    if (module == nullptr || mixBuffer == nullptr || outputRing == nullptr) {
        return;
    }
    const int block = writeBlock;
    const std::size_t first = static_cast<std::size_t>(block) * blockFrames * CHANNELS;
    float* mix = mixBuffer + first;
    std::fill(mix, mix + static_cast<std::size_t>(blockFrames) * CHANNELS, 0.0f);
    // Ticks fall on exact frames whatever the blocks: a tick's frames may span several.
    int remaining = module->samplesToTick;
    int done = 0;
    while (done < blockFrames) {
        if (remaining <= 0) {
            tickStart = renderedFrames + static_cast<std::uint64_t>(done);
            if (module->tickHandler != nullptr) {
                module->tickHandler(module);
            }
            // Read after the tick: a tempo effect takes effect on the tick that has it.
            remaining = std::max(module->samplesPerTick, 1);
        }
        const int run = std::min(remaining, blockFrames - done);
        mixVoices(mix + static_cast<std::size_t>(done) * CHANNELS, run);
        done += run;
        remaining -= run;
    }
    module->samplesToTick = remaining;
    convertToPcm16(outputRing + first, mix, blockFrames);
    writeBlock = block + 1 == blockCount ? 0 : block + 1;
    renderedFrames += static_cast<std::uint64_t>(blockFrames);
}

DWORD outputThread(void*) {
    PositionCounter counter;
    while (!stopRequested.load()) {
        std::uint64_t frames = 0;
        if (framesPlayed(counter, frames)) {
            devicePlayed.store(frames);
            const int playing = static_cast<int>(frames % static_cast<std::uint64_t>(ringFrames) /
                                                 static_cast<std::uint64_t>(blockFrames));
            // Every block the device has left, up to the one it plays; a stop request is
            // answered between blocks.
            while (writeBlock != playing && !stopRequested.load()) {
                fillBusy.store(true);
                fillBlock();
                fillBusy.store(false);
            }
        }
        Sleep(POLL_MS);
    }
    threadFinished.store(true);
    return 0;
}

std::uint64_t tickFrame() {
    return tickStart;
}

std::uint64_t playedFrames() {
    return devicePlayed.load();
}

DWORD outputUnderruns() {
    return waveOut != nullptr ? waveOutUnderruns(waveOut) : 0;
}

} // namespace tessivane::audio
