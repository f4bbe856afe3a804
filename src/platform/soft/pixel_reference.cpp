// The pixel stage read straight from the rules, one pixel at a time: slow, and kept only as
// the yardstick the specialised operation lists are tested against.
#include "platform/soft/pixel_program.h"

#include <cmath>
#include <cstring>

namespace tessivane::platform::soft {

namespace {

int addressTexel(Address mode, int i, int size) {
    if (mode == Address::Wrap) {
        const int m = i % size;
        return m < 0 ? m + size : m;
    }
    return i < 0 ? 0 : (i > size - 1 ? size - 1 : i);
}

// A texel's bytes as R, G, B, A: L8 repeats its luminance, X8R8G8B8 has no alpha (255).
void texelBytes(const TextureView& t, int i, int j, float out[4]) {
    const std::uint8_t* row = t.bits + static_cast<std::ptrdiff_t>(j) * t.pitch;
    if (t.format == D3DFMT_L8) {
        out[0] = out[1] = out[2] = row[i];
        out[3] = 255.0f;
        return;
    }
    std::uint32_t p;
    std::memcpy(&p, row + 4 * i, sizeof p);
    out[0] = float((p >> 16) & 0xFF);
    out[1] = float((p >> 8) & 0xFF);
    out[2] = float(p & 0xFF);
    out[3] = t.format == D3DFMT_A8R8G8B8 ? float(p >> 24) : 255.0f;
}

} // namespace

// Bytes become values in 0..1 by dividing by 255. A bilinear sample is the weighted sum of the
// four texels' bytes, divided once.
void sampleTexture(const StageSetup& st, float u, float v, float out[4]) {
    const TextureView& t = st.texture;
    const float width = static_cast<float>(t.width);
    const float height = static_cast<float>(t.height);
    float bytes[4];
    if (st.filter == Filter::Point) {
        const int i = static_cast<int>(std::floor(limitTexelCoordinate(u * width)));
        const int j = static_cast<int>(std::floor(limitTexelCoordinate(v * height)));
        texelBytes(t, addressTexel(st.addressU, i, t.width), addressTexel(st.addressV, j, t.height),
                   bytes);
        for (int ch = 0; ch < 4; ++ch) {
            out[ch] = bytes[ch] / 255.0f;
        }
    } else {
        const float x = limitTexelCoordinate(u * width - 0.5f);
        const float y = limitTexelCoordinate(v * height - 0.5f);
        const int i0 = static_cast<int>(std::floor(x));
        const int j0 = static_cast<int>(std::floor(y));
        const float a = x - std::floor(x);
        const float b = y - std::floor(y);
        float t00[4], t10[4], t01[4], t11[4];
        const int ia = addressTexel(st.addressU, i0, t.width);
        const int ib = addressTexel(st.addressU, i0 + 1, t.width);
        const int ja = addressTexel(st.addressV, j0, t.height);
        const int jb = addressTexel(st.addressV, j0 + 1, t.height);
        texelBytes(t, ia, ja, t00);
        texelBytes(t, ib, ja, t10);
        texelBytes(t, ia, jb, t01);
        texelBytes(t, ib, jb, t11);
        for (int ch = 0; ch < 4; ++ch) {
            out[ch] = ((1.0f - a) * (1.0f - b) * t00[ch] + a * (1.0f - b) * t10[ch] +
                       (1.0f - a) * b * t01[ch] + a * b * t11[ch]) /
                      255.0f;
        }
    }
    if (t.format != D3DFMT_A8R8G8B8) {
        out[3] = 1.0f;
    }
}

namespace {

// Selection passes its argument on as it is; every other operation saturates.
float operate(DWORD op, float a, float b) {
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a;
    case D3DTOP_SELECTARG2:
        return b;
    case D3DTOP_MODULATE:
        return saturate(a * b);
    case D3DTOP_MODULATE2X:
        return saturate(a * b * 2.0f);
    case D3DTOP_MODULATE4X:
        return saturate(a * b * 4.0f);
    case D3DTOP_ADD:
        return saturate(a + b);
    case D3DTOP_ADDSIGNED:
        return saturate(a + b - 0.5f);
    default:
        return saturate(a - b);
    }
}

float factor(DWORD blend, const float src[4], int channel) {
    switch (blend) {
    case D3DBLEND_ZERO:
        return 0.0f;
    case D3DBLEND_ONE:
        return 1.0f;
    case D3DBLEND_SRCCOLOR:
        return src[channel];
    case D3DBLEND_INVSRCCOLOR:
        return 1.0f - src[channel];
    case D3DBLEND_SRCALPHA:
        return src[3];
    default:
        return 1.0f - src[3];
    }
}

float fog(const PixelState& s, float d) {
    switch (s.fogMode) {
    case D3DFOG_EXP:
        return fogFactorOf<D3DFOG_EXP>(d, s.fogDensity, s.fogStart, s.fogEnd);
    case D3DFOG_EXP2:
        return fogFactorOf<D3DFOG_EXP2>(d, s.fogDensity, s.fogStart, s.fogEnd);
    default:
        return fogFactorOf<D3DFOG_LINEAR>(d, s.fogDensity, s.fogStart, s.fogEnd);
    }
}

// Runs a pixel shader on one pixel: samples first, then each instruction computing all its
// components before writing any. Returns r0.
void runShader(const PixelState& s, const float diffuse[4], const float specular[4],
               const float coord[MAX_STAGES][2], float out[4]) {
    float reg[REG_COUNT][4] = {};
    std::memcpy(reg[REG_DIFFUSE], diffuse, sizeof reg[0]);
    std::memcpy(reg[REG_SPECULAR], specular, sizeof reg[0]);
    for (int i = 0; i < s.stageCount; ++i) {
        if (!(s.shader.texturesSampled & (1 << i))) {
            continue;
        }
        if (s.stages[i].sample) {
            sampleTexture(s.stages[i], coord[i][0], coord[i][1], reg[REG_TEX0 + i]);
        } else {
            const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            std::memcpy(reg[REG_TEX0 + i], black, sizeof black);
        }
    }
    for (int k = 0; k < s.shader.stepCount; ++k) {
        const ShaderStep& step = s.shader.steps[k];
        float src[3][4];
        for (int i = 0; i < 3; ++i) {
            const ShaderOperand& o = step.src[i];
            const float* r = o.constant ? s.shader.constants[o.reg] : reg[o.reg];
            for (int ch = 0; ch < 4; ++ch) {
                src[i][ch] = r[o.swizzle[ch]] * o.sign;
            }
        }
        float result[4];
        for (int ch = 0; ch < 4; ++ch) {
            const float a = src[0][ch], b = src[1][ch], c = src[2][ch];
            float v = 0.0f;
            switch (step.op) {
            case ShaderOp::Mov:
                v = a;
                break;
            case ShaderOp::Add:
                v = a + b;
                break;
            case ShaderOp::Sub:
                v = a - b;
                break;
            case ShaderOp::Mul:
                v = a * b;
                break;
            case ShaderOp::Mad:
                v = a * b + c;
                break;
            case ShaderOp::Dp3:
                v = src[0][0] * src[1][0] + src[0][1] * src[1][1] + src[0][2] * src[1][2];
                break;
            }
            v = v * step.scale;
            result[ch] = step.saturate ? saturate(v) : v;
        }
        for (int ch = 0; ch < 4; ++ch) {
            if (step.mask & (1 << ch)) {
                reg[step.dst][ch] = result[ch];
            }
        }
    }
    std::memcpy(out, reg[REG_TEMP0], sizeof reg[0]);
}

} // namespace

void shadeSpanReference(const PixelState& s, const PrimitivePlanes& p, int y, int x0, int x1) {
    const float fy = static_cast<float>(y) - p.refY;
    for (int x = x0; x < x1; ++x) {
        const float fx = static_cast<float>(x) - p.refX;
        const float z = planeAt(planeRow(p.z, fy), p.z, fx);
        if (!depthTestPixel(s, x, y, z)) {
            continue;
        }
        const float w = 1.0f / planeAt(planeRow(p.invW, fy), p.invW, fx);

        float diffuse[4] = {0, 0, 0, 0};
        float specular[4] = {0, 0, 0, 0};
        float coord[MAX_STAGES][2] = {};
        for (int k = 0; k < s.attributeCount; ++k) {
            float value = planeAt(planeRow(p.attribute[k], fy), p.attribute[k], fx);
            if (p.perspective) {
                value = value * w;
            }
            const AttributeSlot& slot = s.attributes[k];
            if (slot.coordinate) {
                coord[slot.index][slot.component] = value;
            } else if (slot.index == REG_DIFFUSE) {
                diffuse[slot.component] = value;
            } else {
                specular[slot.component] = value;
            }
        }

        // On stage 0 the current colour is the diffuse colour.
        float current[4] = {diffuse[0], diffuse[1], diffuse[2], diffuse[3]};
        float texel[MAX_STAGES][4] = {};
        if (s.shader.active) {
            runShader(s, diffuse, specular, coord, current);
        }
        for (int i = 0; i < s.stageCount && !s.shader.active; ++i) {
            const StageSetup& st = s.stages[i];
            if (st.sample) {
                sampleTexture(st, coord[i][0], coord[i][1], texel[i]);
            }
            auto argument = [&](Register r, int ch) {
                switch (r) {
                case REG_DIFFUSE:
                    return diffuse[ch];
                case REG_SPECULAR:
                    return specular[ch];
                case REG_TFACTOR:
                    return s.textureFactor[ch];
                case REG_CURRENT:
                    return current[ch];
                default:
                    return texel[r - REG_TEX0][ch];
                }
            };
            float next[4];
            for (int ch = 0; ch < 3; ++ch) {
                next[ch] =
                    operate(st.colorOp, argument(st.colorArg1, ch), argument(st.colorArg2, ch));
            }
            // An alpha op left DISABLE under an active colour op keeps the current alpha.
            next[3] = st.alphaOp == D3DTOP_DISABLE ? current[3]
                                                   : operate(st.alphaOp, argument(st.alphaArg1, 3),
                                                             argument(st.alphaArg2, 3));
            std::memcpy(current, next, sizeof current);
        }
        if (s.specularAdd) {
            for (int ch = 0; ch < 3; ++ch) {
                current[ch] = saturate(current[ch] + specular[ch]);
            }
        }
        if (s.fogMode != D3DFOG_NONE) {
            const float f = fog(s, s.fogSource == FogSource::W ? w : z);
            for (int ch = 0; ch < 3; ++ch) {
                current[ch] = f * current[ch] + (1.0f - f) * s.fogColor[ch];
            }
        }

        auto* pixel = reinterpret_cast<std::uint32_t*>(s.target + static_cast<std::ptrdiff_t>(y) *
                                                                      s.targetPitch) +
                      x;
        const bool alphaTarget = s.targetFormat == D3DFMT_A8R8G8B8;
        float src[4];
        for (int ch = 0; ch < 4; ++ch) {
            src[ch] = saturate(current[ch]);
        }
        float out[4] = {src[0], src[1], src[2], src[3]};
        if (s.blend) {
            const std::uint32_t d = *pixel;
            const float dst[4] = {UNORM8_TO_FLOAT[(d >> 16) & 0xFF],
                                  UNORM8_TO_FLOAT[(d >> 8) & 0xFF], UNORM8_TO_FLOAT[d & 0xFF],
                                  alphaTarget ? UNORM8_TO_FLOAT[d >> 24] : 1.0f};
            for (int ch = 0; ch < 4; ++ch) {
                out[ch] =
                    src[ch] * factor(s.srcBlend, src, ch) + dst[ch] * factor(s.destBlend, src, ch);
            }
        }
        const std::uint32_t alpha = alphaTarget ? toUnorm8(out[3]) : 0xFFu;
        *pixel = alpha << 24 | toUnorm8(out[0]) << 16 | toUnorm8(out[1]) << 8 | toUnorm8(out[2]);
    }
}

} // namespace tessivane::platform::soft
