// Inside the platform layer only: the open wave-out device that a HWAVEOUT points to, and
// the devices behind it.
#pragma once

#include "platform/wave_out.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tessivane::platform::detail {

// What every device shares: the queued buffer, the play position and the underrun count.
// A device that plays data calls play() from wherever its samples are taken (the sound
// system's thread, or the puller); the null device only computes a position.
class WaveDevice {
public:
    explicit WaveDevice(const WAVEFORMATEX& format) : format_(format) {}
    virtual ~WaveDevice() = default;
    WaveDevice(const WaveDevice&) = delete;
    WaveDevice& operator=(const WaveDevice&) = delete;

    // Gets the device going; false with error set when it cannot.
    virtual bool open(std::string& error) = 0;
    // Releases what open acquired; false with error set when something could not be
    // finished (a file not completely written).
    virtual bool close(std::string& error) = 0;

    const WAVEFORMATEX& format() const { return format_; }

    MMRESULT write(WAVEHDR* header);
    void reset();
    bool queued(const WAVEHDR* header);
    bool anyQueued();
    // The position in bytes since the start of playback; notes it as the last one reported.
    std::uint64_t query();
    DWORD underruns() const { return underruns_.load(); }

protected:
    // Bytes played since open or reset. Called with mutex_ held.
    virtual std::uint64_t position() { return played_; }
    // A query has reported position; called with mutex_ held.
    virtual void queried(std::uint64_t /*previous*/, std::uint64_t /*position*/) {}
    // Playback of header has begun (waveOutWrite) or stopped (reset); with mutex_ held.
    virtual void started() {}
    virtual void stopped() {}

    // Takes bytes of sound from the queued buffer into out, looping as the header says, and
    // silence once nothing is queued. Called with mutex_ held.
    void play(std::uint8_t* out, std::size_t bytes);
    // Counts an underrun when the stretch now played reaches beyond the refilled data.
    void checkUnderrun(std::uint64_t playedUntil);
    // The buffer length of the queued header, 0 when none.
    std::uint64_t bufferLength() const;
    // Bytes left to play of the queued header with all its loops (huge for an endless one).
    std::uint64_t bytesLeft() const;
    // The queued header has played out: mark it done.
    void finish();

    std::mutex mutex_;
    WAVEFORMATEX format_;
    WAVEHDR* header_ = nullptr; // queued, null when none
    DWORD offset_ = 0;          // next byte of the header's buffer to play
    std::uint64_t loopsLeft_ = 0;
    std::uint64_t played_ = 0;
    std::uint64_t reported_ = 0; // the position the last query reported
    bool underrunCounted_ = false;
    std::atomic<DWORD> underruns_{0};
};

std::unique_ptr<WaveDevice> createNullWaveDevice(const WAVEFORMATEX& format);
std::unique_ptr<WaveDevice> createSdlWaveDevice(const WAVEFORMATEX& format);
// wavPath empty: no file.
std::unique_ptr<WaveDevice> createPullWaveDevice(const WAVEFORMATEX& format,
                                                 const std::string& wavPath);

} // namespace tessivane::platform::detail
