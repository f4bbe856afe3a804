// Wave output: the subset of the system's wave-out services that plays the music, with their
// own names and values, over three devices:
//
//  - the system's sound device (through SDL audio, which reaches PipeWire, PulseAudio or
//    ALSA);
//  - the null device: plays nothing, and its position follows the clock in use (timeGetTime,
//    which is the virtual clock in a headless run), as if a sound card were playing;
//  - the pull device: its position moves only when its owner pulls frames with
//    pullWaveOutput, which hands over exactly the samples the buffer holds at that moment,
//    and optionally writes them to a WAV file. Rendering to a file and capture use it.
//
// A device plays one prepared buffer of 16-bit PCM that may loop on itself, and reports its
// play position in bytes counted from the start of playback (0 after open and reset).
// Each device counts underruns: stretches of play between two position queries that reach
// data more than one buffer length past the position the earlier query reported, which
// whoever refills the buffer behind the reported position cannot have refilled in time.
//
// Handles may be used from any thread; one thread at a time per handle except that
// waveOutGetPosition may run beside the others.
#pragma once

#include "platform/win_types.h"

#include <cstdint>

namespace tessivane::platform {

using MMRESULT = UINT;
using DWORD_PTR = std::uintptr_t;
struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

// The device able to play the format; the only device there is here (0 names it too).
inline constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr WORD WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;      // WAVE_FORMAT_PCM
    WORD nChannels;       // 2
    DWORD nSamplesPerSec; // frames per second
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign; // bytes per frame: 4
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength; // bytes
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops; // times to play a buffer that loops on itself
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};

inline constexpr DWORD WHDR_DONE = 0x01;
inline constexpr DWORD WHDR_PREPARED = 0x02;
inline constexpr DWORD WHDR_BEGINLOOP = 0x04;
inline constexpr DWORD WHDR_ENDLOOP = 0x08;
inline constexpr DWORD WHDR_INQUEUE = 0x10;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour, min, sec, frame, fps, dummy, pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
};
static_assert(sizeof(MMTIME) == 12);

inline constexpr UINT TIME_MS = 0x01;
inline constexpr UINT TIME_SAMPLES = 0x02;
inline constexpr UINT TIME_BYTES = 0x04;
inline constexpr UINT TIME_SMPTE = 0x08;
inline constexpr UINT TIME_MIDI = 0x10;
inline constexpr UINT TIME_TICKS = 0x20;

// Opens the device for 16-bit PCM (1 or 2 channels, 8,000..192,000 frames per second)
// without notifications. MMSYSERR_NODRIVER when there is no sound device (lastPlatformError
// says why), WAVERR_BADFORMAT for another format.
MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
// Marks a header prepared, keeping the loop flags it carries.
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
// Queues a prepared header; playback starts at its first byte. One header at a time.
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size);
// The play position in the unit asked for (bytes, samples or milliseconds; any other unit
// is answered in bytes, with wType saying so). Wraps after 2^32 units.
MMRESULT waveOutGetPosition(HWAVEOUT device, MMTIME* time, UINT size);
// WAVERR_STILLPLAYING, doing nothing, while the header is queued.
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
// Stops playing, marks the queued header done and sets the position back to 0.
MMRESULT waveOutReset(HWAVEOUT device);
// WAVERR_STILLPLAYING while a header is queued; otherwise closes the handle.
MMRESULT waveOutClose(HWAVEOUT device);

// What the next waveOutOpen opens.
enum class WaveOutput {
    Default, // the system's sound device, or the null device when the platform is mute
    System,
    Null,
    Pull,
};
// Chooses the device for the next waveOutOpen. For Pull, wavPath (when not null or empty)
// names a WAV file that waveOutOpen creates and every pulled frame is written to.
void setWaveOutput(WaveOutput output, const char* wavPath = nullptr);

// Underruns counted since the handle was opened.
DWORD waveOutUnderruns(HWAVEOUT device);

// Plays the next frames of the open pull device: waits until whoever refills its buffer has
// refilled that stretch behind the positions it was told, then copies the frames to
// destination (when not null, frames x channels values) and to the WAV file (when there is
// one). Frames played while nothing is queued are silence. Call it on the thread that opens
// and closes the device. False when no pull device is open or the WAV file cannot be
// written; lastPlatformError says why.
bool pullWaveOutput(std::int16_t* destination, std::uint32_t frames);

} // namespace tessivane::platform
