// The scene director: owns everything the show draws, switches its three scenes, advances
// their animation by fixed steps per drawn frame and draws every frame.
#pragma once

#include "math/matrix4.h"
#include "platform/d3d9.h"
#include "platform/gdi.h"
#include "scene/vertex_formats.h"

namespace tessivane::metaballs {
class MetaballEffect;
}
namespace tessivane::structures {
class ObjectStructure;
}

namespace tessivane::scene {

inline constexpr int DUST_POINTS = 10096;
inline constexpr int STRUCTURE_COUNT = 32;

// The animation clocks: each advances by a fixed step on every drawn frame of its scene.
struct SceneAnimation {
    float spiralTime = 0.0f; // scene 0, +0.01
    float spiralDrop = 0.0f; // scene 0, -0.008
    float fogDensity = 0.3f; // scene 0, -0.0002 while at least 0.0002
    float orbitTime = 0.0f;  // scene 1, +0.02
    float tunnelTime = 0.0f; // scene 2, +0.01
};

// Scene 0's fog density one frame later.
float thinnedFog(float density);

class SceneDirector {
public:
    // Borrows device for the director's whole life; never releases it. Creates the
    // metaball effect; everything else comes from buildContent.
    explicit SceneDirector(platform::IDirect3DDevice9* device);
    // Frees and releases everything the director created.
    ~SceneDirector();
    SceneDirector(const SceneDirector&) = delete;
    SceneDirector& operator=(const SceneDirector&) = delete;

    // Builds everything the scenes draw and selects scene 0. E_FAIL when a buffer, texture,
    // allocation or the caption's device context cannot be had.
    platform::HRESULT buildContent();
    // Makes scene n current and sets the state it starts from.
    void setScene(int n);
    // One frame: the current scene's update, its draw, EndScene and Present.
    void renderFrame();
    // The current scene's animation step.
    void update();
    // Replaces the caption texture's contents with text in color, drawn with the caption
    // font at the top-left corner. False when the surface's device context is unavailable.
    bool writeCaption(const char* text, platform::COLORREF color);

    int currentScene() const { return sceneIndex; }
    const SceneAnimation& animationState() const { return animation; }
    const LitVertex* dust() const { return points; }
    platform::IDirect3DTexture9* captionTexture() const { return textTexture; }
    platform::HFONT captionFont() const { return font; }

    // True from the start of scene 2 until 90 s; while false scene 2 draws the credit quad
    // and the structures are no longer recycled.
    bool tunnelActive = false;

private:
    void updateScene0();
    void updateScene1();
    void updateScene2();
    void drawScene0();
    void drawScene1();
    void drawScene2();
    void setTransform(platform::D3DTRANSFORMSTATETYPE state, const math::Matrix4& matrix);

    platform::IDirect3DDevice9* device;
    platform::IDirect3DVertexBuffer9* cubeBuffer = nullptr;
    platform::IDirect3DTexture9* pictureTexture = nullptr;
    platform::IDirect3DTexture9* textTexture = nullptr;
    platform::IDirect3DSurface9* textSurface = nullptr;
    int sceneIndex = 0;
    LitVertex* points = nullptr; // DUST_POINTS, plain heap block
    metaballs::MetaballEffect* metaballs = nullptr;
    structures::ObjectStructure* structures = nullptr; // STRUCTURE_COUNT
    math::Vector3 eye;
    math::Vector3 target;
    math::Vector3 up;
    math::Matrix4 tunnelMatrix;
    platform::HFONT font = nullptr;
    SceneAnimation animation;
};

} // namespace tessivane::scene
