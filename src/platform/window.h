// Windows and the message queue: the calls the shell makes to get a window on screen,
// hear Escape and window closing, and pump messages without waiting.
//
// A window is an SDL window (fullscreen desktop with 4:3 letterboxing, or a plain window),
// or, when the platform runs headless, a window that shows nothing and produces no input.
// Only the user-interface thread may call these.
#pragma once

#include "platform/win_types.h"

namespace tessivane::platform {

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSEXA {
    UINT cbSize; // sizeof(WNDCLASSEXA)
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground; // a system colour index + 1, or a brush
    const char* lpszMenuName;
    const char* lpszClassName;
    void* hIconSm;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

inline constexpr UINT CS_CLASSDC = 0x0040;
inline constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr UINT PM_NOREMOVE = 0;
inline constexpr UINT PM_REMOVE = 1;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr WPARAM VK_ESCAPE = 0x1B;

// The handle of the running program's own module.
HINSTANCE GetModuleHandleA(const char* moduleName);

// Registers a class; 0 on failure (a missing procedure or name, or a name already taken).
ATOM RegisterClassExA(const WNDCLASSEXA* windowClass);
// Creates a hidden window of a registered class; null on failure (lastPlatformError says why).
// Width and height are the client size the device will present at.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                     int x, int y, int width, int height, HWND parent, void* menu,
                     HINSTANCE instance, void* param);
HWND GetDesktopWindow();
// Sends WM_DESTROY to the window's procedure; the window shows nothing from then on.
BOOL DestroyWindow(HWND window);
// Returns whether the window was visible before.
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
// Moves the display counter by one; the pointer shows while the counter is >= 0.
int ShowCursor(BOOL show);

// Takes the next message without waiting. Input from the window system is read first.
// WM_QUIT comes only once the queue is otherwise empty. FALSE when nothing is waiting:
// that is an idle pass, which the virtual clock counts.
BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* message);
// Calls the procedure of the message's window; returns its result.
LRESULT DispatchMessageA(const MSG* message);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Default handling: WM_CLOSE destroys the window; everything else is ignored.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace tessivane::platform
