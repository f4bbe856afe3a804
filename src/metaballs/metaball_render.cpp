// One frame of the metaball scene: the textured surface off screen, a bright pass, four
// chains of streak passes along the diagonals, their sum, and the composite on the back
// buffer.
#include "metaballs/metaball_effect.h"

namespace tessivane::metaballs {

using namespace platform;

namespace {

constexpr D3DCOLOR BLACK = 0xFF000000;

// The full-screen quad in clip space, as a two-triangle strip. Pixel i of a target w wide
// sees u = i / w: each full-screen pass reads half a texel up and to the left of the pixel.
constexpr QuadVertex FULL_SCREEN[4] = {
    {-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}};

HRESULT drawQuad(IDirect3DDevice9* device) {
    return device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, FULL_SCREEN, sizeof(QuadVertex));
}

void startPass(IDirect3DDevice9* device, IDirect3DSurface9* target) {
    device->SetRenderTarget(0, target);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, BLACK, 1.0f, 0);
}

} // namespace

HRESULT MetaballEffect::render(IDirect3DDevice9* device) {
    bool complete = surfaceTexture != nullptr && sceneSurface != nullptr &&
                    quadDeclaration != nullptr && streakWeights != nullptr;
    for (int k = 0; k < 4; ++k) {
        complete = complete && streakSurfaces[k] != nullptr && directionSurfaces[k] != nullptr;
    }
    for (int k = 0; k < 3; ++k) {
        complete = complete && vertexShaders[k] != nullptr && pixelShaders[k] != nullptr;
    }
    if (!complete) {
        // Without its resources the scene shows black rather than drawing half its passes.
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, BLACK, 1.0f, 0);
        return E_FAIL;
    }

    IDirect3DSurface9* backBuffer = nullptr;
    if (FAILED(device->GetRenderTarget(0, &backBuffer))) {
        return E_FAIL;
    }

    // The surface, lit but coloured by its texture alone, with the fixed-function pipeline.
    // From the second frame on, stages 1-3 still add what the last frame left bound.
    startPass(device, sceneSurface);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    device->SetTexture(0, surfaceTexture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    device->SetFVF(METABALL_VERTEX_FVF);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(vertexCount / 3), vertices,
                            sizeof(MetaballVertex));
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);

    // Bright pass: c · (c + 0.1) darkens the dim parts far more than the bright ones.
    device->SetVertexDeclaration(quadDeclaration);
    startPass(device, streakSurfaces[0]);
    device->SetVertexShader(vertexShaders[0]);
    device->SetPixelShader(pixelShaders[0]);
    device->SetTexture(0, sceneTexture);
    drawQuad(device);

    // Streaks: per diagonal, four passes of four taps each, the reach growing by four from
    // pass to pass (4, 16, 64, 256 texels); tap k weighs 0.9^(k · reach).
    for (int d = 0; d < 4; ++d) {
        const float dx = (d & 1) ? 1.0f : -1.0f;
        const float dy = d >= 2 ? 1.0f : -1.0f;
        int step = 1;
        for (int s = 1; s <= 4; ++s) {
            step *= 4;
            startPass(device, s < 4 ? streakSurfaces[s] : directionSurfaces[d]);
            const float reach = static_cast<float>(step) / EFFECT_TEXTURE_SIZE;
            const float distances[4] = {0.0f, reach, 2.0f * reach, 3.0f * reach};
            const float direction[4] = {dx, dy, 0.0f, 0.0f};
            device->SetVertexShader(vertexShaders[1]);
            device->SetVertexShaderConstantF(0, distances, 1);
            device->SetVertexShaderConstantF(1, direction, 1);
            float weights[4][4];
            for (int k = 0; k < 4; ++k) {
                const float w = streakWeights[k * step];
                weights[k][0] = weights[k][1] = weights[k][2] = weights[k][3] = w;
            }
            device->SetPixelShader(pixelShaders[1]);
            device->SetPixelShaderConstantF(0, &weights[0][0], 4);
            for (DWORD stage = 0; stage < 4; ++stage) {
                device->SetTexture(stage, streakTextures[s - 1]);
            }
            drawQuad(device);
        }
    }

    // The four directions summed by the texture stages.
    startPass(device, streakSurfaces[0]);
    device->SetVertexShader(vertexShaders[2]);
    device->SetPixelShader(nullptr);
    for (DWORD stage = 0; stage < 4; ++stage) {
        device->SetTexture(stage, directionTextures[stage]);
    }
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    for (DWORD stage = 1; stage < 4; ++stage) {
        device->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_ADD);
        device->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_CURRENT);
        device->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    }
    drawQuad(device);

    // Surface plus streaks, stretched over the back buffer.
    startPass(device, backBuffer);
    device->SetPixelShader(pixelShaders[2]);
    device->SetTexture(0, sceneTexture);
    device->SetTexture(1, streakTextures[0]);
    const HRESULT result = drawQuad(device);
    backBuffer->Release();
    return result;
}

} // namespace tessivane::metaballs
