#include "scene/scene_director.h"

namespace tessivane::scene {

using namespace platform;

namespace {

// Scene 0 plays on mid grey, the others on black.
constexpr D3DCOLOR SCENE0_CLEAR = 0xFF777777;
constexpr D3DCOLOR DARK_CLEAR = 0xFF000000;

} // namespace

SceneDirector::SceneDirector(IDirect3DDevice9* device) : device(device) {}

SceneDirector::~SceneDirector() = default;

HRESULT SceneDirector::buildContent() {
    setScene(0);
    return S_OK;
}

void SceneDirector::setScene(int n) {
    sceneIndex = n;
    if (n == 2) {
        tunnelActive = true;
    }
}

void SceneDirector::update() {}

void SceneDirector::renderFrame() {
    update();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER,
                  sceneIndex == 0 ? SCENE0_CLEAR : DARK_CLEAR, 1.0f, 0);
    device->BeginScene();
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
}

} // namespace tessivane::scene
