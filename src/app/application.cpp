#include "app/application.h"

#include "app/report.h"
#include "audio/output.h"
#include "audio/playback.h"
#include "platform/platform.h"
#include "scene/scene_director.h"

#include <cstdio>
#include <new>

namespace tessivane::app {

using namespace platform;

namespace {

constexpr const char* WINDOW_NAME = "Tessivane";

struct DeviceAttempt {
    D3DDEVTYPE type;
    DWORD behaviour;
    const char* description;
};

// The only device selection there is: the first of these that can be created.
constexpr DeviceAttempt DEVICE_ATTEMPTS[] = {
    {D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING,
     "hardware device, hardware vertex processing"},
    {D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
     "hardware device, software vertex processing"},
    {D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING, "reference device"},
};

} // namespace

Application::Application() = default;

Application::~Application() = default;

HRESULT Application::fail(std::string reason) {
    failure_ = std::move(reason);
    return E_FAIL;
}

HRESULT Application::init(HINSTANCE instance, WNDPROC windowProcedure) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_CLASSDC;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<void*>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = WINDOW_NAME;
    RegisterClassExA(&windowClass);
    verboseLine("start-up: window class registered");

    // A missing window is not fatal here; the device has nothing to present to without it.
    window = CreateWindowExA(0, WINDOW_NAME, WINDOW_NAME, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, width, height, GetDesktopWindow(), nullptr, instance,
                             nullptr);
    const std::string windowError = window == nullptr ? lastPlatformError() : "";
    if (window != nullptr) {
        verboseLine("start-up: window created (%dx%d, %s)", width, height,
                    platformConfig().headless     ? "headless"
                    : platformConfig().fullscreen ? "fullscreen"
                                                  : "windowed");
    } else {
        verboseLine("start-up: no window: %s", windowError.c_str());
    }

    direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (direct3d == nullptr) {
        return fail(std::string("cannot create the 3D interface: ") + lastPlatformError());
    }
    verboseLine("start-up: 3D interface created");

    D3DDISPLAYMODE mode{};
    if (FAILED(direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        return fail(window == nullptr
                        ? "no display: " + windowError
                        : std::string("cannot read the display mode: ") + lastPlatformError());
    }
    verboseLine("start-up: desktop mode %ux%u", mode.Width, mode.Height);

    presentParameters = {};
    presentParameters.BackBufferWidth = static_cast<UINT>(width);
    presentParameters.BackBufferHeight = static_cast<UINT>(height);
    presentParameters.BackBufferFormat = mode.Format;
    presentParameters.BackBufferCount = 0;
    presentParameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    presentParameters.MultiSampleQuality = 0;
    presentParameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParameters.hDeviceWindow = nullptr;
    presentParameters.Windowed = FALSE;
    presentParameters.EnableAutoDepthStencil = TRUE;
    presentParameters.AutoDepthStencilFormat = D3DFMT_D16;
    presentParameters.Flags = 0;
    presentParameters.FullScreen_RefreshRateInHz = 0;
    presentParameters.PresentationInterval = D3DPRESENT_INTERVAL_ONE;

    std::string deviceErrors;
    int attemptNumber = 0;
    for (const DeviceAttempt& attempt : DEVICE_ATTEMPTS) {
        ++attemptNumber;
        if (SUCCEEDED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, attempt.type, window,
                                             attempt.behaviour, &presentParameters, &device))) {
            verboseLine("start-up: device attempt %d (%s) succeeded", attemptNumber,
                        attempt.description);
            break;
        }
        device = nullptr;
        verboseLine("start-up: device attempt %d (%s) failed: %s", attemptNumber,
                    attempt.description, lastPlatformError());
        deviceErrors += deviceErrors.empty() ? "" : "; ";
        deviceErrors += attempt.description;
        deviceErrors += ": ";
        deviceErrors += lastPlatformError();
    }
    if (device == nullptr) {
        if (window == nullptr) {
            return fail("no display: " + windowError);
        }
        return fail("no 3D device could be created (" + deviceErrors + ")");
    }

    director = new (std::nothrow) scene::SceneDirector(device);
    if (director == nullptr) {
        return fail("out of memory for the scene director");
    }
    if (FAILED(director->buildContent())) {
        return fail("content construction failed");
    }
    verboseLine("start-up: content built");

    ShowCursor(FALSE);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    verboseLine("start-up: window shown");

    // The show goes on without music when it cannot play, and says so.
    const bool playing = audio::musicStart();
    if (!playing) {
        std::fprintf(stderr, "tessivane: %s\n", audio::musicProblem());
    }
    verboseLine("start-up: music %s", playing ? "started" : "not playing");
    return S_OK;
}

int Application::run() {
    MSG message{};
    while (message.message != WM_QUIT) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            tick();
        }
    }
    return 0;
}

void Application::shutdown() {
    ShowCursor(TRUE);
    if (director != nullptr) {
        delete director;
        director = nullptr;
    }
    // Each one is a stretch the listener heard as a break in the music.
    verboseLine("shutdown: sound underruns: %u", static_cast<unsigned>(audio::outputUnderruns()));
    audio::musicStop();
    if (device != nullptr) {
        device->Release();
        device = nullptr;
    }
    if (direct3d != nullptr) {
        direct3d->Release();
        direct3d = nullptr;
    }
}

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message == WM_KEYDOWN && wParam == VK_ESCAPE) || message == WM_DESTROY) {
        PostQuitMessage(0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace tessivane::app
