// Process-wide set-up of the platform layer: what the window system, the 3D devices and the
// clock are for this run. Configure before the first window or device is created.
#pragma once

#include <cstdint>
#include <functional>

namespace tessivane::platform {

enum class DeviceChoice {
    Auto,      // hardware devices if there are any, else the reference device
    Hardware,  // hardware devices only
    Reference, // the reference (software) device only
};

struct PlatformConfig {
    // No window system and no sound device: windows show nothing, presents only wait for
    // the modelled retrace, and the virtual clock runs the show as fast as it renders.
    bool headless = false;
    // Fullscreen on the desktop with 4:3 letterboxing; otherwise a resizable window.
    bool fullscreen = true;
    // No sound device: the music is not played (headless implies it).
    bool mute = false;
    DeviceChoice device = DeviceChoice::Auto;
    // Refresh rate of the display the virtual clock models (1..1000).
    unsigned refreshHz = 60;
    // Threads the reference device draws with; 0 = one per processor core. The pictures are
    // the same bytes whatever the count.
    unsigned renderThreads = 0;
};

void configurePlatform(const PlatformConfig& config);
const PlatformConfig& platformConfig();
// Closes the window system. Call after every device has been released.
void shutdownPlatform();

// Sees every frame a device presents: the finished back buffer, X8R8G8B8 words, top row
// first, before the window shows it. One observer at a time; an empty one removes it.
using FrameObserver = std::function<void(const std::uint32_t* pixels, int width, int height)>;
void setFrameObserver(FrameObserver observer);

// One line naming the last thing the platform could not do, or "" when nothing failed.
const char* lastPlatformError();

} // namespace tessivane::platform
