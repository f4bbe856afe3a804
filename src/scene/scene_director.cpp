#include "scene/scene_director.h"

#include "math/random.h"
#include "metaballs/metaball_effect.h"
#include "scene/stored_picture.h"
#include "structures/object_structure.h"

#include <cmath>
#include <cstring>
#include <new>

namespace tessivane::scene {

using namespace platform;
using math::Matrix4;
using math::Vector3;

namespace {

constexpr D3DCOLOR GREY = 0xFF777777;
constexpr D3DCOLOR BLACK = 0xFF000000;
constexpr D3DCOLOR WHITE = 0xFFFFFFFF;
constexpr float PI = 3.14159265f;

// The three balls start here; their first update moves them.
constexpr float INITIAL_BALLS[9] = {0.3f, 0.2f, 0.5f, 0.0f, 0.0f, 0.0f, 0.1f, -0.2f, -0.3f};

DWORD floatBits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <class Interface>
void release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// The two overlays of scene 0, in strip order, at depth 0 with rhw 1. The picture fills the
// bottom-right 256x256 pixels; the title quad hangs 90 pixels below the screen.
constexpr ScreenVertex PICTURE_QUAD[4] = {
    {384, 224, 0, 1, 0, 0}, {640, 224, 0, 1, 1, 0}, {384, 480, 0, 1, 0, 1}, {640, 480, 0, 1, 1, 1}};
constexpr ScreenVertex TITLE_QUAD[4] = {
    {100, 200, 0, 1, 0, 0}, {460, 200, 0, 1, 1, 0}, {100, 570, 0, 1, 0, 1}, {460, 570, 0, 1, 1, 1}};

// The credit quad in the plane z = -100 of the helix, carried along by the tunnel matrix.
constexpr QuadVertex CREDIT_QUAD[4] = {
    {-20, 10, -100, 0, 0}, {10, 10, -100, 1, 0}, {-20, -10, -100, 0, 1}, {10, -10, -100, 1, 1}};

} // namespace

float thinnedFog(float density) {
    // The white fog thins towards zero and never below it.
    return density >= 0.0002f ? density - 0.0002f : density;
}

SceneDirector::SceneDirector(IDirect3DDevice9* device) : device(device) {
    metaballs = new (std::nothrow) metaballs::MetaballEffect(3, INITIAL_BALLS);
    eye = Vector3(0, 0, 15);
    target = Vector3(0, 0, 0);
    up = Vector3(0, 1, 0);
}

SceneDirector::~SceneDirector() {
    delete[] points;
    points = nullptr;
    delete metaballs;
    metaballs = nullptr;
    delete[] structures;
    structures = nullptr;
    release(cubeBuffer);
    release(pictureTexture);
    release(textTexture);
    release(textSurface);
}

void SceneDirector::setTransform(D3DTRANSFORMSTATETYPE state, const Matrix4& matrix) {
    const D3DMATRIX record = math::matrixRecord<D3DMATRIX>(matrix);
    device->SetTransform(state, &record);
}

void SceneDirector::setScene(int n) {
    sceneIndex = n;
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    for (DWORD sampler = 0; sampler < 4; ++sampler) {
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        device->SetSamplerState(sampler, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    }
    switch (n) {
    case 0:
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP);
        break;
    case 1:
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        for (DWORD sampler = 0; sampler < 4; ++sampler) {
            device->SetSamplerState(sampler, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
            device->SetSamplerState(sampler, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        }
        break;
    case 2:
        tunnelActive = true;
        eye.z = 24.0f;
        writeCaption("Special Thanks to Morrowen", 0x00FF1900);
        break;
    default:
        break;
    }
}

void SceneDirector::renderFrame() {
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    update();
    switch (sceneIndex) {
    case 0:
        drawScene0();
        break;
    case 1:
        drawScene1();
        break;
    case 2:
        drawScene2();
        break;
    default:
        break;
    }
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
}

void SceneDirector::update() {
    switch (sceneIndex) {
    case 0:
        updateScene0();
        break;
    case 1:
        updateScene1();
        break;
    case 2:
        updateScene2();
        break;
    default:
        break;
    }
}

void SceneDirector::updateScene0() {
    SceneAnimation& a = animation;
    a.spiralDrop -= 0.008f;
    a.spiralTime += 0.01f;
    // -1.2566371 = -2π/5 radians per unit of spiral time.
    setTransform(D3DTS_WORLD, math::matrixRotationAxis(-1.2566371f * a.spiralTime, {0, 1, 0}) *
                                  math::matrixTranslation({3, a.spiralDrop, 2}));

    a.fogDensity = thinnedFog(a.fogDensity);
    device->SetRenderState(D3DRS_FOGCOLOR, WHITE);
    device->SetRenderState(D3DRS_FOGDENSITY, floatBits(a.fogDensity));

    // Dust drift: three draws per point, each an offset sin(r·k − k·32767/2) with
    // 3.051851e-6 = 0.1/32767 and 6.103702e-6 = 0.2/32767, taken in double.
    for (int i = 0; i < DUST_POINTS; ++i) {
        LitVertex& p = points[i];
        const int r1 = math::drawRandom();
        const int r2 = math::drawRandom();
        const int r3 = math::drawRandom();
        p.z += static_cast<float>(std::sin(r1 * 3.051851e-6 - 0.05));
        p.y += static_cast<float>(std::sin(r2 * 6.103702e-6 - 0.1));
        p.x += static_cast<float>(std::sin(r3 * 6.103702e-6 - 0.1));
    }

    // The picture emerges: every grey level steps down towards black, white stays.
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(pictureTexture->LockRect(0, &locked, nullptr, 0))) {
        fadePicture(static_cast<std::uint8_t*>(locked.pBits), locked.Pitch);
        pictureTexture->UnlockRect(0);
    }
}

void SceneDirector::drawScene0() {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, GREY, 1.0f, 0);
    device->BeginScene();

    // The cube spiral, in its vertex colour, fogged.
    device->SetFVF(LIT_VERTEX_FVF);
    device->SetStreamSource(0, cubeBuffer, 0, sizeof(LitVertex));
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 612);

    // The dust, half transparent, straight from memory.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    setTransform(D3DTS_WORLD, Matrix4());
    device->DrawPrimitiveUP(D3DPT_POINTLIST, DUST_POINTS, points, sizeof(LitVertex));

    // The overlays multiply what is on screen by their texture.
    device->SetFVF(SCREEN_VERTEX_FVF);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTexture(0, pictureTexture);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, PICTURE_QUAD, sizeof(ScreenVertex));
    device->SetTexture(0, textTexture);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, TITLE_QUAD, sizeof(ScreenVertex));
}

void SceneDirector::updateScene1() {
    SceneAnimation& a = animation;
    a.orbitTime += 0.02f;
    // The camera swings between 3 and 7 units in front of the blob.
    eye.y = 0.0f;
    eye.z = 5.0f - 2.0f * static_cast<float>(std::sin(static_cast<double>(a.orbitTime)));
    target.y = 0.0f;
    setTransform(D3DTS_WORLD, math::matrixRotationAxis(PI * a.orbitTime, {0, 1, 0}));
    setTransform(D3DTS_VIEW, math::matrixLookAt(eye, target, up));
    metaballs->update();
}

void SceneDirector::drawScene1() {
    device->BeginScene();
    metaballs->render(device);
}

void SceneDirector::updateScene2() {
    SceneAnimation& a = animation;
    a.tunnelTime += 0.01f;
    // The helix turns about the view axis and comes 0.5 units nearer every frame.
    tunnelMatrix = math::matrixRotationAxis(PI * a.tunnelTime, {0, 0, 1}) *
                   math::matrixTranslation({0, 0, 50.0f * a.tunnelTime});
    // The tubes' shaders read the camera position from c14; its fourth float is the look-at
    // point's x, which follows the eye in memory.
    const float camera[4] = {eye.x, eye.y, eye.z, target.x};
    device->SetVertexShaderConstantF(14, camera, 1);
}

void SceneDirector::drawScene2() {
    const Matrix4 view = math::matrixLookAt(eye, target, up);
    const Matrix4 viewProjection = view * math::matrixProjection();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, BLACK, 1.0f, 0);
    device->BeginScene();
    if (!tunnelActive) {
        // The credit quad: each channel written is texel · (1 − texel).
        device->SetFVF(QUAD_VERTEX_FVF);
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        setTransform(D3DTS_WORLD, tunnelMatrix);
        setTransform(D3DTS_VIEW, view);
        setTransform(D3DTS_PROJECTION, math::matrixProjection());
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVSRCCOLOR);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        device->SetTexture(0, textTexture);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, CREDIT_QUAD, sizeof(QuadVertex));
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }
    for (int i = 0; i < STRUCTURE_COUNT; ++i) {
        structures[i].draw(device, tunnelMatrix, viewProjection, tunnelActive);
    }
}

} // namespace tessivane::scene
