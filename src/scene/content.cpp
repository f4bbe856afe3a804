// Building everything the show draws, once, before the window is shown.
#include "scene/content.h"

#include "math/random.h"
#include "metaballs/metaball_effect.h"
#include "scene/scene_director.h"
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

constexpr float PI = 3.14159265f;
constexpr UINT CUBE_BUFFER_BYTES = 64512; // room for 64 cubes of 36 vertices
constexpr D3DCOLOR ORANGE = 0xFFFF8833;
constexpr D3DCOLOR DUST_GREY = 0x88999999;

// A cube of edge 2 about the origin: its corners and its twelve triangles.
constexpr Vector3 CUBE_CORNERS[8] = {{-1, 1, -1}, {1, 1, -1}, {-1, -1, -1}, {1, -1, -1},
                                     {-1, 1, 1},  {1, 1, 1},  {-1, -1, 1},  {1, -1, 1}};
constexpr int CUBE_TRIANGLES[36] = {1, 2, 3, 2, 3, 4, 1, 5, 3, 5, 3, 7, 5, 6, 7, 6, 7, 8,
                                    6, 2, 8, 2, 8, 4, 1, 5, 2, 2, 5, 6, 3, 7, 4, 4, 7, 8};

} // namespace

int writeCubeSpiral(LitVertex* vertices, int capacityCubes) {
    float y = 25.0f;
    float a = 0.0f;
    int cubes = 0;
    do {
        const float cosA = static_cast<float>(std::cos(static_cast<double>(a)));
        const float sinA = static_cast<float>(std::sin(static_cast<double>(a)));
        const Matrix4 lift = math::matrixTranslation({0, y, 0});
        for (int corner : CUBE_TRIANGLES) {
            const Vector3 c = CUBE_CORNERS[corner - 1];
            const Vector3 p =
                (Vector3(c.x + 5 * cosA, c.y, c.z + 5 * sinA) * 0.2f).transformCoord(lift);
            const Vector3 n = math::vectorNormalize(c);
            *vertices++ = LitVertex{p.x, p.y, p.z, n.x, n.y, n.z, ORANGE};
        }
        ++cubes;
        // 0.39999998: the stored step, the float just below 0.4; 0.62831855 = π/5. With
        // this step the level after fifty cubes is 5.0000153, so a 51st cube follows.
        y -= 0.39999998f;
        a += 0.62831855f;
    } while (y > 5.0f && cubes < capacityCubes);
    return cubes;
}

Matrix4 placeStructure(int index, float& theta) {
    math::seedRandom(static_cast<std::uint32_t>(index));
    // 9.155553e-6 = 0.3/32767: each step turns theta by -0.3π..0.
    theta += (static_cast<float>(math::drawRandom()) * 9.155553e-6f - 0.3f) * PI;
    const double phi = static_cast<double>(theta) - M_PI / 2;
    const Vector3 p(static_cast<float>(15 * std::cos(phi)), static_cast<float>(15 * std::sin(phi)),
                    4 * theta);
    const Matrix4 rz = math::matrixRotationAxis(theta, {0, 0, 1});
    // 3.0518509e-5 = 1/32767: a turn of 0..1 radian.
    const Matrix4 ry =
        math::matrixRotationAxis(static_cast<float>(math::drawRandom()) * 3.0518509e-5f, {0, 1, 0});
    return ry * rz * math::matrixTranslation(p);
}

HRESULT SceneDirector::buildContent() {
    setTransform(D3DTS_WORLD, Matrix4());
    setTransform(D3DTS_VIEW, math::matrixLookAt(eye, target, up));
    setTransform(D3DTS_PROJECTION, math::matrixProjection());

    math::seedRandom(0);

    if (FAILED(device->CreateVertexBuffer(CUBE_BUFFER_BYTES, 0, LIT_VERTEX_FVF, D3DPOOL_DEFAULT,
                                          &cubeBuffer, nullptr))) {
        return E_FAIL;
    }
    void* cubeVertices = nullptr;
    if (SUCCEEDED(cubeBuffer->Lock(0, 0, &cubeVertices, 0))) {
        writeCubeSpiral(static_cast<LitVertex*>(cubeVertices), CUBE_BUFFER_BYTES / (36 * 28));
        cubeBuffer->Unlock();
    }

    // The dust fills the box -10..10 by -10..10 by -5..5; 0.00061037019 = 20/32767 and
    // 0.00030518509 = 10/32767. Its normals stay unset: the dust is never lit.
    points = new (std::nothrow) LitVertex[DUST_POINTS];
    if (points == nullptr) {
        return E_FAIL;
    }
    for (int i = 0; i < DUST_POINTS; ++i) {
        const int r1 = math::drawRandom();
        const int r2 = math::drawRandom();
        const int r3 = math::drawRandom();
        LitVertex& p = points[i];
        p = LitVertex{};
        p.x = static_cast<float>(r3 * 0.00061037019 - 10);
        p.y = static_cast<float>(r2 * 0.00061037019 - 10);
        p.z = static_cast<float>(r1 * 0.00030518509 - 5);
        p.diffuse = DUST_GREY;
    }

    if (metaballs == nullptr) {
        return E_FAIL;
    }
    metaballs->createResources(device);

    // The structures lie on a helix of radius 15 about the z axis, each turned by a random
    // angle about its own y axis and then by its place on the helix.
    structures = new (std::nothrow) structures::ObjectStructure[STRUCTURE_COUNT];
    if (structures == nullptr) {
        return E_FAIL;
    }
    float theta = 0.0f;
    for (int i = 0; i < STRUCTURE_COUNT; ++i) {
        structures[i].generate(device, placeStructure(i, theta));
    }

    D3DLIGHT9 light;
    std::memset(&light, 0, sizeof light);
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
    const Vector3 direction = math::vectorNormalize({1, 1, 1});
    light.Direction = D3DVECTOR{direction.x, direction.y, direction.z};
    light.Range = 1000.0f;
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);

    for (DWORD sampler = 0; sampler < 4; ++sampler) {
        device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }

    const std::uint8_t* picture = storedPicture();
    if (picture == nullptr ||
        FAILED(device->CreateTexture(256, 256, 0, 0, D3DFMT_L8, D3DPOOL_MANAGED, &pictureTexture,
                                     nullptr))) {
        return E_FAIL;
    }
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(pictureTexture->LockRect(0, &locked, nullptr, 0))) {
        expandPicture(picture, static_cast<std::uint8_t*>(locked.pBits), locked.Pitch);
        pictureTexture->UnlockRect(0);
    }

    if (FAILED(device->CreateTexture(256, 256, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &textTexture,
                                     nullptr)) ||
        FAILED(textTexture->GetSurfaceLevel(0, &textSurface))) {
        return E_FAIL;
    }
    if (!writeCaption("Tessivane", 0x000000FF)) {
        return E_FAIL;
    }

    setScene(0);
    return S_OK;
}

bool SceneDirector::writeCaption(const char* text, COLORREF color) {
    // A clean white level first: nothing of an earlier caption may remain.
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(textTexture->LockRect(0, &locked, nullptr, 0))) {
        for (int y = 0; y < 256; ++y) {
            std::memset(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, 0xFF, 1024);
        }
        textTexture->UnlockRect(0);
    }
    HDC dc = nullptr;
    if (FAILED(textSurface->GetDC(&dc))) {
        return false;
    }
    if (font == nullptr) {
        // A 25-pixel cell in the system's default proportional face, smoothed.
        font = CreateFontA(25, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                           VARIABLE_PITCH, nullptr);
    }
    SelectObject(dc, font);
    SetTextColor(dc, color);
    TextOutA(dc, 0, 0, text, static_cast<int>(std::strlen(text)));
    textSurface->ReleaseDC(dc);
    return true;
}

} // namespace tessivane::scene
