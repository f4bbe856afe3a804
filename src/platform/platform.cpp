#include "platform/platform.h"

#include "platform/timer.h"
#include "platform/window_internal.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace tessivane::platform {

namespace {

PlatformConfig activeConfig;
std::unique_ptr<VirtualClock> virtualClock;
std::string lastError;
FrameObserver frameObserver;

} // namespace

void configurePlatform(const PlatformConfig& config) {
    activeConfig = config;
    if (config.headless) {
        virtualClock = std::make_unique<VirtualClock>(config.refreshHz);
        setClock(virtualClock.get());
    } else {
        setClock(nullptr);
        virtualClock.reset();
    }
}

const PlatformConfig& platformConfig() {
    return activeConfig;
}

void shutdownPlatform() {
    detail::destroyAllWindows();
    detail::shutdownSdl();
}

const char* lastPlatformError() {
    return lastError.c_str();
}

void setFrameObserver(FrameObserver observer) {
    frameObserver = std::move(observer);
}

namespace detail {

void setLastError(std::string message) {
    lastError = std::move(message);
}

void notifyFrame(const std::uint32_t* pixels, int width, int height) {
    if (frameObserver) {
        frameObserver(pixels, width, height);
    }
}

void reportUnsupported(const char* what) {
    static std::set<std::string> reported;
    if (reported.insert(what).second) {
        std::fprintf(stderr, "tessivane: %s is not supported\n", what);
    }
}

} // namespace detail

} // namespace tessivane::platform
