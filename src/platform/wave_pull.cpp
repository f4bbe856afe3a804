// The pull device: plays only when its owner pulls frames, and then exactly what the queued
// buffer holds, optionally writing it to a WAV file.
//
// Whoever refills the buffer (the music's output thread) asks for the position, refills
// everything behind it, and asks again only after that. So once a second query has come
// after one that reported position p, the buffer is fresh from p up to p plus at least half
// its length (the refiller works in blocks of at most half the buffer). A pull plays up to
// that point and no further: a refiller that counts in places within the buffer could not
// tell a position a whole buffer on from one that has not moved. When a pull needs more it
// wakes the refiller's Sleep and waits for its next query: rendering runs as fast as the
// refiller can render, and the frames pulled are the same whatever the timing. Queueing a
// buffer counts as a query whose refill is complete.
#include "platform/thread_internal.h"
#include "platform/wave_out_internal.h"
#include "platform/window_internal.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessivane::platform::detail {

namespace {

// How long a pull waits for a refiller that has stopped asking before it plays the buffer as
// it is (counted as an underrun).
constexpr auto REFILL_PATIENCE = std::chrono::seconds(5);
constexpr std::size_t WAV_HEADER_BYTES = 44;
// A WAV file's sizes are 32-bit.
constexpr std::uint64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFull - (WAV_HEADER_BYTES - 8);

void put16(std::uint8_t* at, unsigned value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}

class PullWaveDevice;
std::mutex pullMutex;
PullWaveDevice* openPull = nullptr;

class PullWaveDevice final : public WaveDevice {
public:
    PullWaveDevice(const WAVEFORMATEX& format, std::string path)
        : WaveDevice(format), path_(std::move(path)) {}

    ~PullWaveDevice() override {
        std::string ignored;
        close(ignored);
    }

    bool open(std::string& error) override {
        std::lock_guard<std::mutex> lock(pullMutex);
        if (openPull != nullptr) {
            error = "a pull device is open already";
            return false;
        }
        if (!path_.empty()) {
            file_ = std::fopen(path_.c_str(), "wb");
            if (file_ == nullptr) {
                error = "cannot create " + path_ + ": " + std::strerror(errno);
                return false;
            }
            if (!writeHeader(error)) {
                std::fclose(file_);
                file_ = nullptr;
                return false;
            }
        }
        openPull = this;
        return true;
    }

    bool close(std::string& error) override {
        {
            std::lock_guard<std::mutex> lock(pullMutex);
            if (openPull == this) {
                openPull = nullptr;
            }
        }
        if (file_ == nullptr) {
            return true;
        }
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed) {
            error = "cannot finish " + path_ + ": " + std::strerror(errno);
        }
        return closed;
    }

    bool pull(std::int16_t* destination, std::uint32_t frames, std::string& error) {
        const std::size_t frameBytes = format_.nBlockAlign;
        std::size_t remaining = std::size_t{frames} * frameBytes;
        auto* out = reinterpret_cast<std::uint8_t*>(destination);
        while (remaining > 0) {
            std::unique_lock<std::mutex> lock(mutex_);
            std::size_t n = remaining;
            if (header_ != nullptr) {
                waitForRefill(lock);
                if (header_ != nullptr && played_ < validUntil_) {
                    const std::uint64_t fresh = (validUntil_ - played_) / frameBytes * frameBytes;
                    n = static_cast<std::size_t>(
                        std::min<std::uint64_t>(n, std::max<std::uint64_t>(fresh, frameBytes)));
                }
            }
            std::uint8_t* target = out;
            if (target == nullptr) {
                scratch_.resize(n);
                target = scratch_.data();
            }
            play(target, n);
            lock.unlock();
            if (file_ != nullptr && !append(target, n, error)) {
                return false;
            }
            remaining -= n;
            if (out != nullptr) {
                out += n;
            }
        }
        return true;
    }

protected:
    void started() override { validUntil_ = played_ + bufferLength() / 2; }
    void stopped() override { validUntil_ = 0; }

    void queried(std::uint64_t previous, std::uint64_t) override {
        // This query proves that the refill after the previous one is complete.
        validUntil_ = std::max(validUntil_, previous + bufferLength() / 2);
        ++queries_;
        refilled_.notify_all();
    }

private:
    // Waits, with mutex_ held through lock, until the position is inside the fresh stretch,
    // nothing is queued any more, or the refiller has stopped asking.
    void waitForRefill(std::unique_lock<std::mutex>& lock) {
        std::uint64_t seen = queries_;
        auto lastQuery = std::chrono::steady_clock::now();
        while (header_ != nullptr && played_ >= validUntil_) {
            lock.unlock();
            wakeSleepers();
            lock.lock();
            refilled_.wait_for(lock, std::chrono::milliseconds(1));
            const auto now = std::chrono::steady_clock::now();
            if (queries_ != seen) {
                seen = queries_;
                lastQuery = now;
            } else if (now - lastQuery > REFILL_PATIENCE) {
                validUntil_ = played_ + bufferLength() / 2;
            }
        }
    }

    bool writeHeader(std::string& error) {
        std::uint8_t header[WAV_HEADER_BYTES] = {};
        const std::uint32_t dataBytes = static_cast<std::uint32_t>(dataBytes_);
        std::memcpy(header, "RIFF", 4);
        put32(header + 4, static_cast<std::uint32_t>(WAV_HEADER_BYTES - 8) + dataBytes);
        std::memcpy(header + 8, "WAVEfmt ", 8);
        put32(header + 16, 16);
        put16(header + 20, format_.wFormatTag);
        put16(header + 22, format_.nChannels);
        put32(header + 24, format_.nSamplesPerSec);
        put32(header + 28, format_.nAvgBytesPerSec);
        put16(header + 32, format_.nBlockAlign);
        put16(header + 34, format_.wBitsPerSample);
        std::memcpy(header + 36, "data", 4);
        put32(header + 40, dataBytes);
        if (std::fseek(file_, 0, SEEK_SET) != 0 ||
            std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
            error = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    // Adds bytes of sound to the file and brings its header up to date, so that the file is
    // complete after every pull.
    bool append(const std::uint8_t* bytes, std::size_t count, std::string& error) {
        if (dataBytes_ + count > WAV_MAX_DATA_BYTES) {
            error = "cannot write " + path_ + ": a WAV file holds at most 4 GiB of sound";
            return false;
        }
        if (std::fseek(file_, static_cast<long>(WAV_HEADER_BYTES + dataBytes_), SEEK_SET) != 0 ||
            std::fwrite(bytes, 1, count, file_) != count) {
            error = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
        dataBytes_ += count;
        if (!writeHeader(error)) {
            return false;
        }
        if (std::fflush(file_) != 0) {
            error = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    std::string path_;
    std::FILE* file_ = nullptr;
    std::uint64_t dataBytes_ = 0;
    std::vector<std::uint8_t> scratch_;
    // With mutex_ held:
    std::uint64_t validUntil_ = 0; // the buffer is fresh up to this position
    std::uint64_t queries_ = 0;
    std::condition_variable refilled_;
};

} // namespace

std::unique_ptr<WaveDevice> createPullWaveDevice(const WAVEFORMATEX& format,
                                                 const std::string& wavPath) {
    return std::make_unique<PullWaveDevice>(format, wavPath);
}

} // namespace tessivane::platform::detail

namespace tessivane::platform {

bool pullWaveOutput(std::int16_t* destination, std::uint32_t frames) {
    detail::PullWaveDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(detail::pullMutex);
        device = detail::openPull;
    }
    if (device == nullptr) {
        detail::setLastError("no pull device is open");
        return false;
    }
    std::string error;
    if (!device->pull(destination, frames, error)) {
        detail::setLastError(error);
        return false;
    }
    return true;
}

} // namespace tessivane::platform
