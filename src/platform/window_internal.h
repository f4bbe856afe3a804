// Inside the platform layer only: what a window presents through, and how devices reach it.
#pragma once

#include "platform/d3d9.h"
#include "platform/win_types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessivane::platform::detail {

// Where a window's frames go.
class Display {
public:
    virtual ~Display() = default;
    virtual void setVisible(bool visible) = 0;
    virtual void setCursorVisible(bool visible) = 0;
    // Shows width x height pixels in X8R8G8B8 (rows of width words, top row first), waiting
    // for the next vertical retrace first when asked.
    virtual void present(const std::uint32_t* pixels, int width, int height,
                         bool waitForRetrace) = 0;
    // The window system's id for this window, 0 when it has none.
    virtual std::uint32_t systemId() const { return 0; }
};

// A display that shows nothing; a present only waits for the current clock's retrace.
std::unique_ptr<Display> createHeadlessDisplay();
// A window on the desktop, hidden until shown; null with error set when there is no display.
std::unique_ptr<Display> createSdlDisplay(const char* title, int width, int height, bool fullscreen,
                                          std::string& error);
// The desktop's mode; false with error set when there is no display.
bool querySdlDesktopMode(D3DDISPLAYMODE& mode, std::string& error);
void shutdownSdl();

struct InputEvent {
    enum Kind { Close, KeyDown };
    Kind kind;
    std::uint32_t systemId; // the window it is for, 0 for every window
    WPARAM virtualKey;
};
// Everything the window system has for us since the last call; nothing when SDL is closed.
void pollSdlInput(std::vector<InputEvent>& events);

// The display of a live window, or null when the window is unknown or destroyed.
Display* windowDisplay(HWND window);
void destroyAllWindows();

void setLastError(std::string message);
// Hands a presented frame to the frame observer, if there is one.
void notifyFrame(const std::uint32_t* pixels, int width, int height);
// Prints "what" once per process on stderr: the first use of something this stand-in
// refuses, so that a refused call is never silent.
void reportUnsupported(const char* what);

} // namespace tessivane::platform::detail
