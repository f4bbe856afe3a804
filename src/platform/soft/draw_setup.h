// Turns the device's state into what one draw needs: the pixel state (which stages run, what
// they read, fog, depth, blending, the target) and where the geometry lands.
#pragma once

#include "platform/soft/device_state.h"
#include "platform/soft/pixel_state.h"
#include "platform/soft/raster.h"
#include "platform/soft/resources.h"

namespace tessivane::platform::soft {

struct DrawTargets {
    SoftSurface* target = nullptr;
    std::uint16_t* depth = nullptr; // null without a depth buffer
    int depthPitch = 0;
    D3DVIEWPORT9 viewport{};
};

// Fills state for a draw; false, with unsupported naming the reason, when the state asks for
// something the device does not draw. textures[n] is the texture bound to stage n, or null;
// shader is the bound pixel shader's state, or null for the texture stages. zeroOutputs are
// the VertexOutput floats (bit f for float f) known to be +0 at every vertex of the draw: a
// stage that a pixel shader samples at two such coordinates reads one texel for every pixel,
// and is sampled here, once.
bool buildPixelState(const DeviceState& device, SoftTexture* const textures[MAX_STAGES],
                     const PixelShaderState* shader, const DrawTargets& targets,
                     bool preTransformed, std::uint32_t zeroOutputs, PixelState& state,
                     const char*& unsupported);

GeometryTarget buildGeometryTarget(const DeviceState& device, const D3DVIEWPORT9& viewport,
                                   bool preTransformed);

} // namespace tessivane::platform::soft
