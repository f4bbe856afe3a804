// The vertex stage of the reference device: reads vertices in a flexible vertex format and
// produces, per vertex, a clip-space position and the small fixed set of values the pixel
// stage interpolates. The fixed-function transform and lighting live here; a vertex program
// produces the same VertexOutput, so that everything after this stage is shared.
#pragma once

#include "platform/d3d9_types.h"
#include "platform/soft/device_state.h"
#include "platform/soft/pixel_state.h"

#include <cstdint>

namespace tessivane::platform::soft {

struct VertexOutput {
    // Clip space (x, y, z, w); for pre-transformed vertices the screen x, y, depth z and 1/w
    // exactly as the vertex carried them.
    float position[4];
    float diffuse[4];              // RGBA, 0..1
    float specular[4];             // RGBA, 0..1
    float texcoord[MAX_STAGES][2]; // the coordinates texture stage n reads
};
inline constexpr int VERTEX_OUTPUT_FLOATS = 12 + 2 * MAX_STAGES;
static_assert(sizeof(VertexOutput) == VERTEX_OUTPUT_FLOATS * sizeof(float));
// Float offsets of the fields inside a VertexOutput.
inline constexpr int OUTPUT_DIFFUSE = 4;
inline constexpr int OUTPUT_SPECULAR = 8;
inline constexpr int OUTPUT_TEXCOORD = 12;

// Byte offsets of what a flexible vertex format carries; -1 for what it lacks.
struct VertexLayout {
    DWORD fvf = 0;
    UINT size = 0; // bytes per vertex
    bool preTransformed = false;
    int normal = -1;
    int diffuse = -1;
    int specular = -1;
    int texcoordCount = 0;
    int texcoord[8] = {};
    int texcoordSize[8] = {}; // floats per set, 1..4
};

// Decodes a flexible vertex format; false, with unsupported naming the reason, for formats
// this device cannot read (blend weights, per-vertex point sizes, no position).
bool decodeFvf(DWORD fvf, VertexLayout& layout, const char*& unsupported);

// Everything the fixed-function stage needs for one draw, computed once from the state.
struct FixedFunctionSetup {
    struct Light {
        float toLight[3]; // unit vector towards the light, camera space
        float diffuse[3];
        float ambient[3];
    };

    VertexLayout layout;
    float transform[4][4]; // world · view · projection
    bool lighting = false;
    float normalMatrix[3][3]; // inverse transpose of world · view
    bool normalize = false;
    int lightCount = 0;
    Light lights[MAX_LIGHTS];
    float globalAmbient[3];
    bool colorVertex = true;
    DWORD diffuseSource = D3DMCS_COLOR1;
    DWORD ambientSource = D3DMCS_MATERIAL;
    DWORD emissiveSource = D3DMCS_MATERIAL;
    float materialDiffuse[4];
    float materialAmbient[4];
    float materialEmissive[4];
    int stageSet[MAX_STAGES]; // coordinate set each stage reads; -1 when the vertex lacks it
};

// Builds the set-up of a draw; false, with unsupported naming the reason, when the state
// asks for something this device does not do.
bool buildFixedFunction(const DeviceState& state, const VertexLayout& layout,
                        FixedFunctionSetup& setup, const char*& unsupported);

// Processes count vertices, the first at data, stride bytes apart.
void runFixedFunction(const FixedFunctionSetup& setup, const std::uint8_t* data, UINT stride,
                      UINT count, VertexOutput* out);

} // namespace tessivane::platform::soft
