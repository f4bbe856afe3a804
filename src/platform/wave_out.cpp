// The wave-out calls, what every device shares (the queued buffer, the position, the
// underruns), and the null device.
#include "platform/wave_out.h"

#include "platform/platform.h"
#include "platform/timer.h"
#include "platform/wave_out_internal.h"
#include "platform/window_internal.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace tessivane::platform {

struct HWAVEOUT__ {
    std::unique_ptr<detail::WaveDevice> device;
};

namespace {

std::mutex registryMutex;
std::vector<HWAVEOUT> openHandles;
WaveOutput selectedOutput = WaveOutput::Default;
std::string selectedWavPath;

detail::WaveDevice* deviceOf(HWAVEOUT handle) {
    std::lock_guard<std::mutex> lock(registryMutex);
    const bool known = handle != nullptr && std::find(openHandles.begin(), openHandles.end(),
                                                      handle) != openHandles.end();
    return known ? handle->device.get() : nullptr;
}

bool validHeader(const WAVEHDR* header, UINT size) {
    return header != nullptr && size >= sizeof(WAVEHDR) && header->lpData != nullptr;
}

constexpr DWORD MIN_RATE = 8000;
constexpr DWORD MAX_RATE = 192000;

// What is wrong with format for the devices here, or "" when it can be played.
std::string formatProblem(const WAVEFORMATEX& format) {
    if (format.wFormatTag != WAVE_FORMAT_PCM) {
        return "only PCM can be played";
    }
    if (format.wBitsPerSample != 16 || format.nChannels < 1 || format.nChannels > 2) {
        return "only 16-bit mono or stereo can be played";
    }
    if (format.nBlockAlign != format.nChannels * 2 ||
        format.nAvgBytesPerSec != format.nSamplesPerSec * format.nBlockAlign) {
        return "the frame size or byte rate does not match the format";
    }
    if (format.nSamplesPerSec < MIN_RATE || format.nSamplesPerSec > MAX_RATE) {
        return "the frame rate is outside 8000..192000";
    }
    return "";
}

// Plays nothing; its position follows the clock in use from the moment a buffer is queued,
// so a headless run's virtual clock moves it exactly as it moves the pictures.
class NullWaveDevice final : public detail::WaveDevice {
public:
    using WaveDevice::WaveDevice;
    bool open(std::string&) override { return true; }
    bool close(std::string&) override { return true; }

protected:
    void started() override {
        startMs_ = timeGetTime();
        base_ = played_;
        length_ = bytesLeft();
    }

    std::uint64_t position() override {
        if (header_ != nullptr) {
            const DWORD elapsed = timeGetTime() - startMs_;
            const std::uint64_t frames = std::uint64_t{elapsed} * format_.nSamplesPerSec / 1000;
            const std::uint64_t bytes =
                std::min<std::uint64_t>(frames * format_.nBlockAlign, length_);
            checkUnderrun(base_ + bytes);
            played_ = base_ + bytes;
            if (bytes == length_) {
                finish();
            }
        }
        return played_;
    }

private:
    DWORD startMs_ = 0;
    std::uint64_t base_ = 0;
    std::uint64_t length_ = 0;
};

} // namespace

namespace detail {

std::unique_ptr<WaveDevice> createNullWaveDevice(const WAVEFORMATEX& format) {
    return std::make_unique<NullWaveDevice>(format);
}

MMRESULT WaveDevice::write(WAVEHDR* header) {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if (header_ != nullptr) {
        reportUnsupported("waveOutWrite while another buffer is queued");
        return MMSYSERR_ERROR;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header_ = header;
    offset_ = 0;
    const bool loops =
        (header->dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP)) == (WHDR_BEGINLOOP | WHDR_ENDLOOP);
    loopsLeft_ = loops && header->dwLoops > 0 ? header->dwLoops : 1;
    // The whole buffer was written before it was queued: all of it is fresh.
    reported_ = played_;
    underrunCounted_ = false;
    started();
    return MMSYSERR_NOERROR;
}

void WaveDevice::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (header_ != nullptr) {
        finish();
    }
    played_ = 0;
    reported_ = 0;
    underrunCounted_ = false;
    stopped();
}

bool WaveDevice::queued(const WAVEHDR* header) {
    std::lock_guard<std::mutex> lock(mutex_);
    position(); // a buffer that has played out by now is no longer queued
    return header_ != nullptr && header_ == header;
}

bool WaveDevice::anyQueued() {
    std::lock_guard<std::mutex> lock(mutex_);
    position();
    return header_ != nullptr;
}

std::uint64_t WaveDevice::query() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t now = position();
    const std::uint64_t previous = reported_;
    reported_ = now;
    underrunCounted_ = false;
    queried(previous, now);
    return now;
}

std::uint64_t WaveDevice::bufferLength() const {
    return header_ != nullptr ? header_->dwBufferLength : 0;
}

std::uint64_t WaveDevice::bytesLeft() const {
    if (header_ == nullptr) {
        return 0;
    }
    const std::uint64_t length = header_->dwBufferLength;
    return (loopsLeft_ - 1) * length + (length - std::min<std::uint64_t>(offset_, length));
}

void WaveDevice::checkUnderrun(std::uint64_t playedUntil) {
    if (!underrunCounted_ && header_ != nullptr && playedUntil > reported_ + bufferLength()) {
        underruns_.fetch_add(1);
        underrunCounted_ = true;
    }
}

void WaveDevice::finish() {
    header_->dwFlags = (header_->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
    header_ = nullptr;
    offset_ = 0;
}

void WaveDevice::play(std::uint8_t* out, std::size_t bytes) {
    while (bytes > 0) {
        if (header_ == nullptr) {
            std::memset(out, 0, bytes);
            return;
        }
        const DWORD length = header_->dwBufferLength;
        if (offset_ >= length) {
            finish(); // an empty buffer plays out at once
            continue;
        }
        const std::size_t n = std::min<std::size_t>(bytes, length - offset_);
        checkUnderrun(played_ + n);
        std::memcpy(out, header_->lpData + offset_, n);
        offset_ += static_cast<DWORD>(n);
        played_ += n;
        out += n;
        bytes -= n;
        if (offset_ == length) {
            offset_ = 0;
            if (--loopsLeft_ == 0) {
                finish();
            }
        }
    }
}

} // namespace detail

MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR,
                     DWORD_PTR, DWORD flags) {
    if (device == nullptr || format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *device = nullptr;
    if (deviceId != WAVE_MAPPER && deviceId != 0) {
        detail::setLastError("waveOutOpen: there is no wave device " + std::to_string(deviceId));
        return MMSYSERR_BADDEVICEID;
    }
    if (flags != CALLBACK_NULL) {
        detail::reportUnsupported("waveOutOpen with notifications or flags");
        return MMSYSERR_INVALFLAG;
    }
    const std::string problem = formatProblem(*format);
    if (!problem.empty()) {
        detail::setLastError("waveOutOpen: " + problem);
        return WAVERR_BADFORMAT;
    }
    WaveOutput output;
    std::string wavPath;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        output = selectedOutput;
        wavPath = selectedWavPath;
    }
    if (output == WaveOutput::Default) {
        output = platformConfig().mute || platformConfig().headless ? WaveOutput::Null
                                                                    : WaveOutput::System;
    }
    std::unique_ptr<detail::WaveDevice> opened;
    switch (output) {
    case WaveOutput::Null:
        opened = detail::createNullWaveDevice(*format);
        break;
    case WaveOutput::Pull:
        opened = detail::createPullWaveDevice(*format, wavPath);
        break;
    default:
        opened = detail::createSdlWaveDevice(*format);
        break;
    }
    std::string error;
    if (!opened->open(error)) {
        detail::setLastError(error);
        return output == WaveOutput::System ? MMSYSERR_NODRIVER : MMSYSERR_ERROR;
    }
    auto* handle = new HWAVEOUT__{std::move(opened)};
    std::lock_guard<std::mutex> lock(registryMutex);
    openHandles.push_back(handle);
    *device = handle;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size) {
    if (deviceOf(device) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!validHeader(header, size)) {
        return MMSYSERR_INVALPARAM;
    }
    // The loop flags the caller set stay: they say how the buffer plays.
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size) {
    detail::WaveDevice* wave = deviceOf(device);
    if (wave == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!validHeader(header, size)) {
        return MMSYSERR_INVALPARAM;
    }
    return wave->write(header);
}

MMRESULT waveOutGetPosition(HWAVEOUT device, MMTIME* time, UINT size) {
    detail::WaveDevice* wave = deviceOf(device);
    if (wave == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (time == nullptr || size < sizeof(MMTIME)) {
        return MMSYSERR_INVALPARAM;
    }
    const std::uint64_t bytes = wave->query();
    const WAVEFORMATEX& format = wave->format();
    switch (time->wType) {
    case TIME_SAMPLES:
        time->u.sample = static_cast<DWORD>(bytes / format.nBlockAlign);
        break;
    case TIME_MS:
        time->u.ms = static_cast<DWORD>(bytes * 1000 / format.nAvgBytesPerSec);
        break;
    default:
        // Units the device does not keep are answered in bytes, and wType says so.
        time->wType = TIME_BYTES;
        time->u.cb = static_cast<DWORD>(bytes);
        break;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size) {
    detail::WaveDevice* wave = deviceOf(device);
    if (wave == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || size < sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if (wave->queued(header)) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
    detail::WaveDevice* wave = deviceOf(device);
    if (wave == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    wave->reset();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
    detail::WaveDevice* wave = deviceOf(device);
    if (wave == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (wave->anyQueued()) {
        return WAVERR_STILLPLAYING;
    }
    std::string error;
    const bool closed = wave->close(error);
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        openHandles.erase(std::find(openHandles.begin(), openHandles.end(), device));
    }
    delete device;
    if (!closed) {
        detail::setLastError(error);
        return MMSYSERR_ERROR;
    }
    return MMSYSERR_NOERROR;
}

void setWaveOutput(WaveOutput output, const char* wavPath) {
    std::lock_guard<std::mutex> lock(registryMutex);
    selectedOutput = output;
    selectedWavPath = wavPath != nullptr ? wavPath : "";
}

DWORD waveOutUnderruns(HWAVEOUT device) {
    detail::WaveDevice* wave = deviceOf(device);
    return wave != nullptr ? wave->underruns() : 0;
}

} // namespace tessivane::platform
