// The scene's device resources: the procedural surface texture, the nine render targets,
// the shaders, the full-screen quad's declaration and the streak weights.
#include "metaballs/metaball_effect.h"
#include "shaders/show_shaders.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tessivane::metaballs {

using namespace platform;

namespace {

// 3.1415927: the single-precision value of pi, a little above pi itself.
constexpr float PI = 3.14159265f;

// The value truncated towards zero to a 64-bit integer, or 0 when it does not fit.
std::int64_t truncated(double v) {
    constexpr double LIMIT = 9223372036854775808.0; // 2^63
    if (!(v > -LIMIT && v < LIMIT)) {
        return 0;
    }
    return static_cast<std::int64_t>(v);
}

// The low eight bits, two's complement.
std::uint32_t low8(std::int64_t v) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) & 0xFF);
}

HRESULT createTarget(IDirect3DDevice9* device, D3DFORMAT format, IDirect3DTexture9*& texture,
                     IDirect3DSurface9*& surface) {
    if (FAILED(device->CreateTexture(EFFECT_TEXTURE_SIZE, EFFECT_TEXTURE_SIZE, 0,
                                     D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, &texture,
                                     nullptr)) ||
        FAILED(texture->GetSurfaceLevel(0, &surface))) {
        return E_FAIL;
    }
    return S_OK;
}

} // namespace

std::uint32_t surfaceTexel(int i, int j) {
    // Products and sums are taken in double; only the values named are rounded to float.
    const double row = i;
    const double column = j;
    const auto rowCosine = static_cast<float>(std::cos(row * PI));
    const std::int64_t k1 = truncated(64.0 * (1.0 + std::sin(column * PI) * rowCosine));
    const std::uint32_t red = static_cast<std::uint32_t>(k1 * i) & 0xFF;

    const auto growth = static_cast<float>(std::sinh(0.2f * static_cast<double>(red)));
    const std::int64_t k2 = truncated(64.0 * (1.0 + std::cos(0.2f * row) * growth));
    const std::uint32_t diagonal = static_cast<std::uint32_t>(i + j) & 0xFF;
    const std::uint32_t blue = (low8(k2) * diagonal) & 0xFF;

    const auto bands = static_cast<float>(std::cos(0.25 * diagonal));
    const std::int64_t k3 = truncated(64.0 * (1.0 + std::sin(0.01f * column) * bands));
    const std::uint32_t green = (low8(k3) * red) & 0xFF;

    return 0xFF000000u | red << 16 | green << 8 | blue;
}

HRESULT MetaballEffect::createResources(IDirect3DDevice9* device) {
    if (FAILED(device->CreateTexture(EFFECT_TEXTURE_SIZE, EFFECT_TEXTURE_SIZE, 0, 0,
                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &surfaceTexture, nullptr))) {
        return E_FAIL;
    }
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(surfaceTexture->LockRect(0, &locked, nullptr, 0))) {
        for (int i = 0; i < EFFECT_TEXTURE_SIZE; ++i) {
            auto* row = static_cast<std::uint8_t*>(locked.pBits) +
                        static_cast<std::ptrdiff_t>(i) * locked.Pitch;
            for (int j = 0; j < EFFECT_TEXTURE_SIZE; ++j) {
                const std::uint32_t texel = surfaceTexel(i, j);
                std::memcpy(row + 4 * j, &texel, sizeof texel);
            }
        }
        surfaceTexture->UnlockRect(0);
    }

    // The targets take the back buffer's format.
    IDirect3DSurface9* backBuffer = nullptr;
    if (FAILED(device->GetRenderTarget(0, &backBuffer))) {
        return E_FAIL;
    }
    D3DSURFACE_DESC description;
    const HRESULT described = backBuffer->GetDesc(&description);
    backBuffer->Release();
    if (FAILED(described)) {
        return E_FAIL;
    }
    const D3DFORMAT format = description.Format;
    if (FAILED(createTarget(device, format, sceneTexture, sceneSurface))) {
        return E_FAIL;
    }
    for (int k = 0; k < 4; ++k) {
        if (FAILED(createTarget(device, format, streakTextures[k], streakSurfaces[k])) ||
            FAILED(createTarget(device, format, directionTextures[k], directionSurfaces[k]))) {
            return E_FAIL;
        }
    }

    for (int k = 0; k < 3; ++k) {
        if (FAILED(device->CreateVertexShader(shaders::metaballVertexShader(k).data(),
                                              &vertexShaders[k]))) {
            return E_FAIL;
        }
    }
    for (int k = 0; k < 3; ++k) {
        if (FAILED(device->CreatePixelShader(shaders::metaballPixelShader(k).data(),
                                             &pixelShaders[k]))) {
            return E_FAIL;
        }
    }

    // The full-screen quad: a clip-space position and one coordinate set.
    const D3DVERTEXELEMENT9 quad[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END()};
    if (FAILED(device->CreateVertexDeclaration(quad, &quadDeclaration))) {
        return E_FAIL;
    }

    streakWeights = new float[STREAK_WEIGHTS];
    for (int k = 0; k < STREAK_WEIGHTS; ++k) {
        streakWeights[k] = static_cast<float>(std::pow(0.9, k));
    }
    return S_OK;
}

} // namespace tessivane::metaballs
