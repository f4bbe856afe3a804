// The application: the window, the 3D device and the scene director, the message pump
// and the frame clock that runs the show's fixed timeline.
#pragma once

#include "platform/d3d9.h"
#include "platform/window.h"

#include <functional>
#include <string>

namespace tessivane::scene {
class SceneDirector;
}

namespace tessivane::app {

// What the timeline does, each reported once: the two scene switches, the end of the
// structure supply and the quit.
enum class TimelineEvent { Scene1, Scene2, SupplyEnd, Quit };

// The frame clock's memory. Times are timeGetTime milliseconds.
struct FrameClock {
    platform::DWORD startTime = 0;     // the timeline's origin, the first call's reading
    platform::DWORD lastFrameTime = 0; // the reading taken before the last drawn frame
    bool startLatched = false;
    bool lastFrameLatched = false;
    bool scene1Fired = false;
    bool scene2Fired = false;
    bool supplyEndReported = false;
    bool quitReported = false;
};

// Minimum spacing of drawn frames, and the timeline, in elapsed milliseconds. Every test
// is strictly greater than.
inline constexpr platform::DWORD FRAME_INTERVAL = 34;
inline constexpr platform::DWORD SCENE1_TIME = 48000;
inline constexpr platform::DWORD SCENE2_TIME = 62050;
inline constexpr platform::DWORD SUPPLY_END_TIME = 90000;
inline constexpr platform::DWORD QUIT_TIME = 96000;

class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Registers the window class, opens the window, the 3D interface and device (hardware
    // with hardware vertex processing, hardware with software vertex processing, then the
    // reference device), builds the content, shows the window and starts the music.
    // E_FAIL at the first failure, with failure() saying what failed.
    platform::HRESULT init(platform::HINSTANCE instance, platform::WNDPROC windowProcedure);
    // Pumps messages without waiting until WM_QUIT, calling tick whenever none is waiting.
    int run();
    // Releases what init created, in order; safe after a partial start-up.
    void shutdown();
    // The frame clock: draws a frame when at least FRAME_INTERVAL ms have passed since the
    // last one, then runs the timeline.
    void tick();

    // Why init failed, one line; empty after a successful start-up.
    const std::string& failure() const { return failure_; }
    // Called the first time each timeline event happens, with the elapsed time it used.
    std::function<void(TimelineEvent, platform::DWORD)> onTimelineEvent;
    // Called after every drawn frame with the elapsed time the frame was drawn at, before
    // the timeline is tested.
    std::function<void(platform::DWORD)> onFrameDrawn;

    scene::SceneDirector* sceneDirector() { return director; }
    platform::IDirect3DDevice9* displayDevice() { return device; }
    platform::HWND mainWindow() const { return window; }

private:
    platform::HRESULT fail(std::string reason);
    void announce(TimelineEvent event, bool& done, platform::DWORD elapsed);

    platform::IDirect3D9* direct3d = nullptr;
    platform::IDirect3DDevice9* device = nullptr;
    platform::D3DPRESENT_PARAMETERS presentParameters{};
    scene::SceneDirector* director = nullptr;
    platform::HWND window = nullptr;
    int width = 640;
    int height = 480;

    FrameClock frameClock;
    std::string failure_;
};

// The window procedure: Escape and the window's destruction quit; everything goes on to
// the default handling.
platform::LRESULT windowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                             platform::LPARAM lParam);

} // namespace tessivane::app
