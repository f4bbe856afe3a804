#include "app/screenshot.h"

#include "platform/image_file.h"
#include "platform/platform.h"
#include "platform/window.h"

#include <cstdint>
#include <vector>

namespace tessivane::app {

using namespace platform;

bool runScreenshot(Application& application, double seconds, const std::string& path,
                   std::string& error) {
    std::vector<std::uint32_t> frame;
    int width = 0;
    int height = 0;
    setFrameObserver([&](const std::uint32_t* pixels, int w, int h) {
        frame.assign(pixels, pixels + static_cast<std::size_t>(w) * h);
        width = w;
        height = h;
    });
    bool done = false;
    bool written = false;
    application.onFrameDrawn = [&](DWORD elapsed) {
        if (done || elapsed < seconds * 1000.0) {
            return;
        }
        done = true;
        written = writePng(path, frame.data(), width, height, error);
        PostQuitMessage(0);
    };
    application.run();
    application.onFrameDrawn = nullptr;
    setFrameObserver(nullptr);
    if (!done) {
        error = "the show ended before the requested time";
    }
    return written;
}

} // namespace tessivane::app
