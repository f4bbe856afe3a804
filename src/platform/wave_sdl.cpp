// The system's sound device through SDL audio: SDL's thread asks for sound, and the device
// hands it the queued buffer from the play position on.
#include "platform/wave_out_internal.h"

#include <SDL.h>

namespace tessivane::platform::detail {

namespace {

// Frames SDL asks for at a time: about 23 ms at 44,100 Hz, short against the two seconds
// the music keeps ahead.
constexpr Uint16 SDL_BUFFER_FRAMES = 1024;

class SdlWaveDevice final : public WaveDevice {
public:
    using WaveDevice::WaveDevice;

    ~SdlWaveDevice() override {
        std::string ignored;
        close(ignored);
    }

    bool open(std::string& error) override {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            error = std::string("no sound system: ") + SDL_GetError();
            return false;
        }
        SDL_AudioSpec wanted{};
        wanted.freq = static_cast<int>(format_.nSamplesPerSec);
        // Wave data is little-endian whatever the machine; SDL converts where it must.
        wanted.format = AUDIO_S16LSB;
        wanted.channels = static_cast<Uint8>(format_.nChannels);
        wanted.samples = SDL_BUFFER_FRAMES;
        wanted.callback = fill;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
        if (device_ == 0) {
            error = std::string("cannot open a sound device: ") + SDL_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        // It plays silence until a buffer is queued.
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    bool close(std::string&) override {
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_); // waits for SDL's thread to leave fill
            device_ = 0;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        return true;
    }

private:
    static void fill(void* self, Uint8* stream, int length) {
        auto* device = static_cast<SdlWaveDevice*>(self);
        std::lock_guard<std::mutex> lock(device->mutex_);
        device->play(stream, static_cast<std::size_t>(length));
    }

    SDL_AudioDeviceID device_ = 0;
};

} // namespace

std::unique_ptr<WaveDevice> createSdlWaveDevice(const WAVEFORMATEX& format) {
    return std::make_unique<SdlWaveDevice>(format);
}

} // namespace tessivane::platform::detail
