#include "platform/window.h"

#include "platform/platform.h"
#include "platform/timer.h"
#include "platform/window_internal.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

struct tessivane::platform::HWND__ {
    WNDPROC procedure = nullptr;
    int width = 0;
    int height = 0;
    bool visible = false;
    bool destroyed = false;
    std::unique_ptr<detail::Display> display;
};

struct tessivane::platform::HINSTANCE__ {};

namespace tessivane::platform {

namespace {

struct WindowClass {
    std::string name;
    WNDPROC procedure;
};

// All of it belongs to the user-interface thread.
struct WindowSystem {
    std::vector<WindowClass> classes;
    std::vector<std::unique_ptr<HWND__>> windows;
    HWND__ desktop;
    HINSTANCE__ module;
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    int cursorCounter = 0;
    std::vector<detail::InputEvent> input;
};

WindowSystem& windowSystem() {
    static WindowSystem instance;
    return instance;
}

bool isLive(HWND window) {
    for (const auto& w : windowSystem().windows) {
        if (w.get() == window) {
            return !w->destroyed;
        }
    }
    return false;
}

void post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    windowSystem().queue.push_back(MSG{window, message, wParam, lParam, timeGetTime()});
}

// Turns what the window system reports into messages, as the real system would queue them.
void readInput() {
    auto& ws = windowSystem();
    ws.input.clear();
    detail::pollSdlInput(ws.input);
    for (const auto& event : ws.input) {
        for (const auto& w : ws.windows) {
            if (w->destroyed || (event.systemId != 0 && w->display->systemId() != event.systemId)) {
                continue;
            }
            if (event.kind == detail::InputEvent::Close) {
                post(w.get(), WM_CLOSE, 0, 0);
            } else {
                post(w.get(), WM_KEYDOWN, event.virtualKey, 0);
            }
        }
    }
}

} // namespace

namespace detail {

Display* windowDisplay(HWND window) {
    return isLive(window) ? window->display.get() : nullptr;
}

void destroyAllWindows() {
    auto& ws = windowSystem();
    ws.windows.clear();
    ws.queue.clear();
    ws.quitPosted = false;
    ws.cursorCounter = 0;
}

} // namespace detail

HINSTANCE GetModuleHandleA(const char* moduleName) {
    return moduleName == nullptr ? &windowSystem().module : nullptr;
}

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) ||
        windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr) {
        return 0;
    }
    auto& classes = windowSystem().classes;
    for (const auto& c : classes) {
        if (c.name == windowClass->lpszClassName) {
            return 0;
        }
    }
    classes.push_back({windowClass->lpszClassName, windowClass->lpfnWndProc});
    // Atoms of registered classes start at 0xC000.
    return static_cast<ATOM>(0xC000 + classes.size() - 1);
}

HWND CreateWindowExA(DWORD, const char* className, const char* windowName, DWORD, int, int,
                     int width, int height, HWND, void*, HINSTANCE, void*) {
    if (className == nullptr) {
        return nullptr;
    }
    const WindowClass* windowClass = nullptr;
    for (const auto& c : windowSystem().classes) {
        if (c.name == className) {
            windowClass = &c;
        }
    }
    if (windowClass == nullptr) {
        detail::setLastError(std::string("no window class named ") + className);
        return nullptr;
    }
    auto window = std::make_unique<HWND__>();
    window->procedure = windowClass->procedure;
    window->width = width;
    window->height = height;
    const PlatformConfig& config = platformConfig();
    if (config.headless) {
        window->display = detail::createHeadlessDisplay();
    } else {
        std::string error;
        window->display = detail::createSdlDisplay(windowName != nullptr ? windowName : "", width,
                                                   height, config.fullscreen, error);
        if (!window->display) {
            detail::setLastError(error);
            return nullptr;
        }
    }
    windowSystem().windows.push_back(std::move(window));
    return windowSystem().windows.back().get();
}

HWND GetDesktopWindow() {
    return &windowSystem().desktop;
}

BOOL DestroyWindow(HWND window) {
    if (!isLive(window)) {
        return FALSE;
    }
    window->display->setVisible(false);
    window->visible = false;
    window->procedure(window, WM_DESTROY, 0, 0);
    // The display itself stays until the platform shuts down: a device may still hold it.
    window->destroyed = true;
    return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
    if (!isLive(window)) {
        return FALSE;
    }
    const BOOL wasVisible = window->visible ? TRUE : FALSE;
    window->visible = command != SW_HIDE;
    window->display->setVisible(window->visible);
    return wasVisible;
}

BOOL UpdateWindow(HWND window) {
    // Nothing to paint: the device presents every pixel the window shows.
    return isLive(window) ? TRUE : FALSE;
}

int ShowCursor(BOOL show) {
    auto& ws = windowSystem();
    ws.cursorCounter += show ? 1 : -1;
    for (const auto& w : ws.windows) {
        w->display->setCursorVisible(ws.cursorCounter >= 0);
    }
    return ws.cursorCounter;
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (message == nullptr) {
        return FALSE;
    }
    auto& ws = windowSystem();
    readInput();
    const bool anyMessage = filterMin == 0 && filterMax == 0;
    for (auto it = ws.queue.begin(); it != ws.queue.end(); ++it) {
        const bool windowMatches = window == nullptr || it->hwnd == window;
        const bool rangeMatches =
            anyMessage || (it->message >= filterMin && it->message <= filterMax);
        if (windowMatches && rangeMatches) {
            *message = *it;
            if (removeFlags & PM_REMOVE) {
                ws.queue.erase(it);
            }
            return TRUE;
        }
    }
    if (ws.quitPosted && (anyMessage || (WM_QUIT >= filterMin && WM_QUIT <= filterMax))) {
        *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(ws.quitCode), 0, timeGetTime()};
        if (removeFlags & PM_REMOVE) {
            ws.quitPosted = false;
        }
        return TRUE;
    }
    currentClock().idle();
    return FALSE;
}

BOOL TranslateMessage(const MSG*) {
    // Character messages are never needed: nothing reads typed text.
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (message == nullptr || !isLive(message->hwnd)) {
        return 0;
    }
    return message->hwnd->procedure(message->hwnd, message->message, message->wParam,
                                    message->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != nullptr && !isLive(window)) {
        return FALSE;
    }
    post(window, message, wParam, lParam);
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    windowSystem().quitPosted = true;
    windowSystem().quitCode = exitCode;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    }
    return 0;
}

} // namespace tessivane::platform
