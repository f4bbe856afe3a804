// The fixed-function state of the reference device: render, texture-stage and sampler states,
// transforms, lights and material, each starting at its documented default. Setters accept
// exactly what the device can draw; anything else is refused with D3DERR_INVALIDCALL and named
// once on stderr, so that a picture is never silently wrong.
#pragma once

#include "platform/d3d9_types.h"

#include <cstdint>

namespace tessivane::platform::soft {

inline constexpr int RENDER_STATE_SLOTS = 256;
inline constexpr int STAGE_SLOTS = 8;        // texture stages whose state can be set
inline constexpr int STAGE_STATE_SLOTS = 33; // D3DTSS_CONSTANT is the last
inline constexpr int SAMPLER_SLOTS = 16;
inline constexpr int SAMPLER_STATE_SLOTS = 14;
inline constexpr int MAX_LIGHTS = 8;

struct LightSlot {
    D3DLIGHT9 light{};
    bool set = false;
    bool enabled = false;
};

struct DeviceState {
    DWORD render[RENDER_STATE_SLOTS];
    DWORD stage[STAGE_SLOTS][STAGE_STATE_SLOTS];
    DWORD sampler[SAMPLER_SLOTS][SAMPLER_STATE_SLOTS];
    D3DMATRIX world;
    D3DMATRIX view;
    D3DMATRIX projection;
    D3DMATRIX textureTransform[8];
    D3DMATERIAL9 material;
    LightSlot lights[MAX_LIGHTS];
    DWORD fvf = 0;

    // Bumped by every change that can alter what a draw puts on screen, so that a draw can
    // reuse the set-up of the previous one while nothing changed.
    std::uint64_t version = 0;

    // The defaults of a device created with (or without) an automatic depth buffer.
    explicit DeviceState(bool depthBuffer);

    HRESULT setRenderState(D3DRENDERSTATETYPE state, DWORD value);
    HRESULT getRenderState(D3DRENDERSTATETYPE state, DWORD* value) const;
    HRESULT setStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
    HRESULT getStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) const;
    HRESULT setSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value);
    HRESULT getSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) const;
    HRESULT setTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
    HRESULT getTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) const;
    HRESULT setLight(DWORD index, const D3DLIGHT9* light);
    HRESULT getLight(DWORD index, D3DLIGHT9* light) const;
    HRESULT enableLight(DWORD index, BOOL enable);
    HRESULT getLightEnable(DWORD index, BOOL* enable) const;
    HRESULT setMaterial(const D3DMATERIAL9* material);
    HRESULT setFvf(DWORD fvf);

    float renderFloat(D3DRENDERSTATETYPE state) const;
};

} // namespace tessivane::platform::soft
