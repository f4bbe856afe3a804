// Windows on the desktop through SDL: a streaming texture scaled to the window with the
// 640x480 picture letterboxed at 4:3, presented in step with the display's retrace.
#include "platform/window_internal.h"

#include <SDL.h>

namespace tessivane::platform::detail {

namespace {

bool videoStarted = false;

bool startVideo(std::string& error) {
    if (videoStarted) {
        return true;
    }
    // Ctrl+C in the terminal should end the show like closing its window does.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error = std::string("no window system (") + SDL_GetError() + ")";
        return false;
    }
    // Where no window system answers, SDL falls back to drivers that show nothing: the show
    // would play for nobody and report success. They count only when asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    const bool invisible = driver != nullptr && (SDL_strcmp(driver, "offscreen") == 0 ||
                                                 SDL_strcmp(driver, "dummy") == 0);
    if (invisible && (asked == nullptr || *asked == '\0')) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        error = "no window system answers (DISPLAY and WAYLAND_DISPLAY reach none; --headless "
                "or --capture run without one)";
        return false;
    }
    videoStarted = true;
    return true;
}

class SdlDisplay final : public Display {
public:
    SdlDisplay(SDL_Window* window, SDL_Renderer* renderer) : window_(window), renderer_(renderer) {}
    ~SdlDisplay() override {
        if (texture_ != nullptr) {
            SDL_DestroyTexture(texture_);
        }
        SDL_DestroyRenderer(renderer_);
        SDL_DestroyWindow(window_);
    }

    void setVisible(bool visible) override {
        if (visible) {
            SDL_ShowWindow(window_);
            SDL_RaiseWindow(window_);
        } else {
            SDL_HideWindow(window_);
        }
    }

    void setCursorVisible(bool visible) override {
        SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
    }

    void present(const std::uint32_t* pixels, int width, int height, bool waitForRetrace) override {
        if (!ensureTexture(width, height)) {
            return;
        }
        if (waitForRetrace != vsync_) {
            vsync_ = waitForRetrace;
            SDL_RenderSetVSync(renderer_, vsync_ ? 1 : 0);
        }
        SDL_UpdateTexture(texture_, nullptr, pixels, width * 4);
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
        SDL_RenderPresent(renderer_);
    }

    std::uint32_t systemId() const override { return SDL_GetWindowID(window_); }

private:
    bool ensureTexture(int width, int height) {
        if (texture_ != nullptr && width == textureWidth_ && height == textureHeight_) {
            return true;
        }
        if (texture_ != nullptr) {
            SDL_DestroyTexture(texture_);
        }
        // X8R8G8B8 words are SDL's RGB888 (the top byte ignored).
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                     width, height);
        if (texture_ == nullptr) {
            return false;
        }
        textureWidth_ = width;
        textureHeight_ = height;
        // Scale to the window at the picture's own aspect, with black bars.
        SDL_RenderSetLogicalSize(renderer_, width, height);
        return true;
    }

    SDL_Window* window_;
    SDL_Renderer* renderer_;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool vsync_ = true;
};

} // namespace

std::unique_ptr<Display> createSdlDisplay(const char* title, int width, int height, bool fullscreen,
                                          std::string& error) {
    if (!startVideo(error)) {
        return nullptr;
    }
    const Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI |
                         (fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_RESIZABLE);
    SDL_Window* window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          width, height, flags);
    if (window == nullptr) {
        error = std::string("cannot open a window: ") + SDL_GetError();
        return nullptr;
    }
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    SDL_Renderer* renderer =
        SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (renderer == nullptr) {
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    }
    if (renderer == nullptr) {
        error = std::string("cannot draw into the window: ") + SDL_GetError();
        SDL_DestroyWindow(window);
        return nullptr;
    }
    return std::make_unique<SdlDisplay>(window, renderer);
}

bool querySdlDesktopMode(D3DDISPLAYMODE& mode, std::string& error) {
    if (!startVideo(error)) {
        return false;
    }
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) {
        error = std::string("cannot read the desktop's display mode: ") + SDL_GetError();
        return false;
    }
    mode.Width = static_cast<UINT>(desktop.w);
    mode.Height = static_cast<UINT>(desktop.h);
    mode.RefreshRate = static_cast<UINT>(desktop.refresh_rate);
    // Whatever the desktop's depth, the device renders 32-bit and the window converts.
    mode.Format = D3DFMT_X8R8G8B8;
    return true;
}

void pollSdlInput(std::vector<InputEvent>& events) {
    if (!videoStarted) {
        return;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_QUIT:
            events.push_back({InputEvent::Close, 0, 0});
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                events.push_back({InputEvent::Close, event.window.windowID, 0});
            }
            break;
        case SDL_KEYDOWN: {
            // Only Escape has a meaning; other keys arrive under their own codes.
            const SDL_Keycode key = event.key.keysym.sym;
            const WPARAM virtualKey =
                key == SDLK_ESCAPE ? 0x1B : static_cast<WPARAM>(key < 0x100 ? key : 0);
            events.push_back({InputEvent::KeyDown, event.key.windowID, virtualKey});
            break;
        }
        default:
            break;
        }
    }
}

void shutdownSdl() {
    if (!videoStarted) {
        return;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
    videoStarted = false;
}

} // namespace tessivane::platform::detail
