#include "platform/soft/vertex_stage.h"

#include <cmath>
#include <cstring>

namespace tessivane::platform::soft {

namespace {

// FVF bits this device reads; everything else is refused.
constexpr DWORD TEXCOORDSIZE_MASK = 0xFFFF0000u;
constexpr DWORD KNOWN_FVF_BITS = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE |
                                 D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEXCOUNT_MASK |
                                 TEXCOORDSIZE_MASK;

void multiply(const float a[4][4], const float b[4][4], float r[4][4]) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
        }
    }
}

// The inverse transpose of the upper 3x3 of m, for carrying row-vector normals along with
// row-vector positions. A singular matrix gives zero normals.
void normalMatrixOf(const float m[4][4], float r[3][3]) {
    const double a = m[0][0], b = m[0][1], c = m[0][2];
    const double d = m[1][0], e = m[1][1], f = m[1][2];
    const double g = m[2][0], h = m[2][1], i = m[2][2];
    // Cofactors: the inverse is the transposed cofactor matrix / det, so the inverse
    // transpose is the cofactor matrix / det.
    const double co[3][3] = {{e * i - f * h, -(d * i - f * g), d * h - e * g},
                             {-(b * i - c * h), a * i - c * g, -(a * h - b * g)},
                             {b * f - c * e, -(a * f - c * d), a * e - b * d}};
    const double det = a * co[0][0] + b * co[0][1] + c * co[0][2];
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            r[row][col] = det != 0.0 ? static_cast<float>(co[row][col] / det) : 0.0f;
        }
    }
}

void toFloats(const D3DCOLORVALUE& c, float out[4]) {
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

void colorToFloats(D3DCOLOR c, float out[4]) {
    out[0] = UNORM8_TO_FLOAT[(c >> 16) & 0xFF];
    out[1] = UNORM8_TO_FLOAT[(c >> 8) & 0xFF];
    out[2] = UNORM8_TO_FLOAT[c & 0xFF];
    out[3] = UNORM8_TO_FLOAT[c >> 24];
}

float readFloat(const std::uint8_t* p) {
    float f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

D3DCOLOR readColor(const std::uint8_t* p) {
    D3DCOLOR c;
    std::memcpy(&c, p, sizeof c);
    return c;
}

const float* colorSource(DWORD source, bool colorVertex, const float* vertexDiffuse,
                         const float* vertexSpecular, const float* material) {
    if (colorVertex) {
        if (source == D3DMCS_COLOR1 && vertexDiffuse != nullptr) {
            return vertexDiffuse;
        }
        if (source == D3DMCS_COLOR2 && vertexSpecular != nullptr) {
            return vertexSpecular;
        }
    }
    return material;
}

} // namespace

bool decodeFvf(DWORD fvf, VertexLayout& layout, const char*& unsupported) {
    layout = VertexLayout{};
    layout.fvf = fvf;
    if ((fvf & ~KNOWN_FVF_BITS) != 0) {
        unsupported = "a vertex format with unknown bits";
        return false;
    }
    UINT offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
        offset = 12;
        break;
    case D3DFVF_XYZRHW:
        offset = 16;
        layout.preTransformed = true;
        break;
    case 0:
        unsupported = "a vertex format without a position";
        return false;
    default:
        unsupported = "vertex formats with blend weights or a w coordinate";
        return false;
    }
    if (fvf & D3DFVF_NORMAL) {
        layout.normal = static_cast<int>(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE) {
        unsupported = "per-vertex point sizes";
        return false;
    }
    if (fvf & D3DFVF_DIFFUSE) {
        layout.diffuse = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        layout.specular = static_cast<int>(offset);
        offset += 4;
    }
    const int sets = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (sets > 8) {
        unsupported = "more than eight texture-coordinate sets";
        return false;
    }
    layout.texcoordCount = sets;
    for (int i = 0; i < sets; ++i) {
        // Two bits per set from bit 16: 0 = two floats, 1 = three, 2 = four, 3 = one.
        static constexpr int SIZES[4] = {2, 3, 4, 1};
        const int size = SIZES[(fvf >> (16 + 2 * i)) & 3];
        layout.texcoord[i] = static_cast<int>(offset);
        layout.texcoordSize[i] = size;
        offset += 4 * static_cast<UINT>(size);
    }
    if (sets < 8 && (fvf >> (16 + 2 * sets)) != 0) {
        unsupported = "coordinate sizes for texture sets the format does not have";
        return false;
    }
    layout.size = offset;
    return true;
}

bool buildFixedFunction(const DeviceState& state, const VertexLayout& layout,
                        FixedFunctionSetup& setup, const char*& unsupported) {
    setup.layout = layout;
    float worldView[4][4];
    multiply(state.world.m, state.view.m, worldView);
    multiply(worldView, state.projection.m, setup.transform);

    for (int s = 0; s < MAX_STAGES; ++s) {
        const auto set = static_cast<int>(state.stage[s][D3DTSS_TEXCOORDINDEX]);
        setup.stageSet[s] = set < layout.texcoordCount ? set : -1;
    }

    setup.lighting = state.render[D3DRS_LIGHTING] != FALSE && !layout.preTransformed;
    setup.lightCount = 0;
    if (!setup.lighting) {
        return true;
    }
    if (state.render[D3DRS_SPECULARENABLE] != FALSE) {
        unsupported = "specular lighting";
        return false;
    }
    normalMatrixOf(worldView, setup.normalMatrix);
    setup.normalize = state.render[D3DRS_NORMALIZENORMALS] != FALSE;
    const D3DCOLOR ambient = state.render[D3DRS_AMBIENT];
    float ambientRgba[4];
    colorToFloats(ambient, ambientRgba);
    std::memcpy(setup.globalAmbient, ambientRgba, sizeof setup.globalAmbient);
    setup.colorVertex = state.render[D3DRS_COLORVERTEX] != FALSE;
    setup.diffuseSource = state.render[D3DRS_DIFFUSEMATERIALSOURCE];
    setup.ambientSource = state.render[D3DRS_AMBIENTMATERIALSOURCE];
    setup.emissiveSource = state.render[D3DRS_EMISSIVEMATERIALSOURCE];
    toFloats(state.material.Diffuse, setup.materialDiffuse);
    toFloats(state.material.Ambient, setup.materialAmbient);
    toFloats(state.material.Emissive, setup.materialEmissive);

    const auto& v = state.view.m;
    for (const LightSlot& slot : state.lights) {
        if (!slot.enabled) {
            continue;
        }
        // Lights are placed in world space: only the view matrix carries them to camera
        // space (the object's world matrix does not move them).
        const D3DVECTOR& d = slot.light.Direction;
        const double cx = double(d.x) * v[0][0] + double(d.y) * v[1][0] + double(d.z) * v[2][0];
        const double cy = double(d.x) * v[0][1] + double(d.y) * v[1][1] + double(d.z) * v[2][1];
        const double cz = double(d.x) * v[0][2] + double(d.y) * v[1][2] + double(d.z) * v[2][2];
        const double length = std::sqrt(cx * cx + cy * cy + cz * cz);
        FixedFunctionSetup::Light& light = setup.lights[setup.lightCount++];
        for (int i = 0; i < 3; ++i) {
            const double c = i == 0 ? cx : i == 1 ? cy : cz;
            light.toLight[i] = length > 0.0 ? static_cast<float>(-c / length) : 0.0f;
        }
        light.diffuse[0] = slot.light.Diffuse.r;
        light.diffuse[1] = slot.light.Diffuse.g;
        light.diffuse[2] = slot.light.Diffuse.b;
        light.ambient[0] = slot.light.Ambient.r;
        light.ambient[1] = slot.light.Ambient.g;
        light.ambient[2] = slot.light.Ambient.b;
    }
    return true;
}

namespace {

void lightVertex(const FixedFunctionSetup& s, const std::uint8_t* vertex,
                 const float* vertexDiffuse, const float* vertexSpecular, VertexOutput& out) {
    float n[3] = {0.0f, 0.0f, 0.0f};
    const bool hasNormal = s.layout.normal >= 0;
    if (hasNormal) {
        const float nx = readFloat(vertex + s.layout.normal);
        const float ny = readFloat(vertex + s.layout.normal + 4);
        const float nz = readFloat(vertex + s.layout.normal + 8);
        for (int j = 0; j < 3; ++j) {
            n[j] =
                nx * s.normalMatrix[0][j] + ny * s.normalMatrix[1][j] + nz * s.normalMatrix[2][j];
        }
        if (s.normalize) {
            const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (length > 0.0f) {
                n[0] /= length;
                n[1] /= length;
                n[2] /= length;
            }
        }
    }
    const float* cd = colorSource(s.diffuseSource, s.colorVertex, vertexDiffuse, vertexSpecular,
                                  s.materialDiffuse);
    const float* ca = colorSource(s.ambientSource, s.colorVertex, vertexDiffuse, vertexSpecular,
                                  s.materialAmbient);
    const float* ce = colorSource(s.emissiveSource, s.colorVertex, vertexDiffuse, vertexSpecular,
                                  s.materialEmissive);
    float ambient[3] = {s.globalAmbient[0], s.globalAmbient[1], s.globalAmbient[2]};
    float diffuse[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < s.lightCount; ++i) {
        const FixedFunctionSetup::Light& light = s.lights[i];
        // Without a normal every lighting dot product is 0.
        float dot = 0.0f;
        if (hasNormal) {
            dot = n[0] * light.toLight[0] + n[1] * light.toLight[1] + n[2] * light.toLight[2];
            dot = dot > 0.0f ? dot : 0.0f;
        }
        for (int c = 0; c < 3; ++c) {
            ambient[c] += light.ambient[c];
            diffuse[c] += light.diffuse[c] * dot;
        }
    }
    for (int c = 0; c < 3; ++c) {
        out.diffuse[c] = saturate(ca[c] * ambient[c] + cd[c] * diffuse[c] + ce[c]);
    }
    // A lit vertex keeps the alpha of its diffuse source.
    out.diffuse[3] = saturate(cd[3]);
    for (float& c : out.specular) {
        c = 0.0f;
    }
}

} // namespace

void runFixedFunction(const FixedFunctionSetup& s, const std::uint8_t* data, UINT stride,
                      UINT count, VertexOutput* out) {
    const VertexLayout& layout = s.layout;
    const auto& m = s.transform;
    for (UINT k = 0; k < count; ++k) {
        const std::uint8_t* vertex = data + static_cast<std::size_t>(k) * stride;
        VertexOutput& o = out[k];
        const float x = readFloat(vertex);
        const float y = readFloat(vertex + 4);
        const float z = readFloat(vertex + 8);
        if (layout.preTransformed) {
            o.position[0] = x;
            o.position[1] = y;
            o.position[2] = z;
            o.position[3] = readFloat(vertex + 12);
        } else {
            for (int j = 0; j < 4; ++j) {
                o.position[j] = x * m[0][j] + y * m[1][j] + z * m[2][j] + m[3][j];
            }
        }

        // A vertex without a colour reads opaque white.
        float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        float specular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        if (layout.diffuse >= 0) {
            colorToFloats(readColor(vertex + layout.diffuse), diffuse);
        }
        if (layout.specular >= 0) {
            colorToFloats(readColor(vertex + layout.specular), specular);
        }
        if (s.lighting) {
            lightVertex(s, vertex, layout.diffuse >= 0 ? diffuse : nullptr,
                        layout.specular >= 0 ? specular : nullptr, o);
        } else {
            std::memcpy(o.diffuse, diffuse, sizeof diffuse);
            std::memcpy(o.specular, specular, sizeof specular);
        }

        for (int stage = 0; stage < MAX_STAGES; ++stage) {
            const int set = s.stageSet[stage];
            if (set < 0) {
                // A stage reading a set the vertex does not have sees (0, 0).
                o.texcoord[stage][0] = 0.0f;
                o.texcoord[stage][1] = 0.0f;
                continue;
            }
            const std::uint8_t* t = vertex + layout.texcoord[set];
            o.texcoord[stage][0] = readFloat(t);
            o.texcoord[stage][1] = layout.texcoordSize[set] >= 2 ? readFloat(t + 4) : 0.0f;
        }
    }
}

} // namespace tessivane::platform::soft
