// The scene director: owns what the show draws, switches its scenes and draws every frame.
#pragma once

#include "platform/d3d9.h"

namespace tessivane::scene {

class SceneDirector {
public:
    // Borrows device for the director's whole life; never releases it.
    explicit SceneDirector(platform::IDirect3DDevice9* device);
    ~SceneDirector();
    SceneDirector(const SceneDirector&) = delete;
    SceneDirector& operator=(const SceneDirector&) = delete;

    // Builds everything the scenes draw and selects scene 0. Negative on failure.
    platform::HRESULT buildContent();
    // Makes scene n (0, 1 or 2) current and sets the state it starts from.
    void setScene(int n);
    // Updates the current scene's animation by one step, draws it and presents.
    void renderFrame();
    // One animation step of the current scene.
    void update();

    int currentScene() const { return sceneIndex; }

    // True from the start of scene 2 until 90 s; the frame clock clears it after that.
    bool tunnelActive = false;

private:
    platform::IDirect3DDevice9* device;
    int sceneIndex = 0;
};

} // namespace tessivane::scene
