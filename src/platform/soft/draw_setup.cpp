#include "platform/soft/draw_setup.h"

#include "platform/soft/vertex_stage.h"

namespace tessivane::platform::soft {

namespace {

Register registerOf(DWORD argument, int stage) {
    switch (argument & D3DTA_SELECTMASK) {
    case D3DTA_CURRENT:
        // Before the first stage the current colour is the diffuse colour.
        return stage == 0 ? REG_DIFFUSE : REG_CURRENT;
    case D3DTA_TEXTURE:
        return static_cast<Register>(REG_TEX0 + stage);
    case D3DTA_TFACTOR:
        return REG_TFACTOR;
    case D3DTA_SPECULAR:
        return REG_SPECULAR;
    default:
        return REG_DIFFUSE;
    }
}

bool usesArg1(DWORD op) {
    return op != D3DTOP_SELECTARG2;
}
bool usesArg2(DWORD op) {
    return op != D3DTOP_SELECTARG1;
}

void colorOf(D3DCOLOR c, float out[4]) {
    out[0] = UNORM8_TO_FLOAT[(c >> 16) & 0xFF];
    out[1] = UNORM8_TO_FLOAT[(c >> 8) & 0xFF];
    out[2] = UNORM8_TO_FLOAT[c & 0xFF];
    out[3] = UNORM8_TO_FLOAT[c >> 24];
}

// How stage n samples its texture, from sampler n's states.
bool setUpSampling(const DWORD* sampler, SoftTexture& texture, StageSetup& stage,
                   const char*& unsupported) {
    if (sampler[D3DSAMP_MINFILTER] != sampler[D3DSAMP_MAGFILTER]) {
        unsupported = "different minification and magnification filters";
        return false;
    }
    stage.filter = sampler[D3DSAMP_MAGFILTER] == D3DTEXF_LINEAR ? Filter::Linear : Filter::Point;
    stage.addressU =
        sampler[D3DSAMP_ADDRESSU] == D3DTADDRESS_CLAMP ? Address::Clamp : Address::Wrap;
    stage.addressV =
        sampler[D3DSAMP_ADDRESSV] == D3DTADDRESS_CLAMP ? Address::Clamp : Address::Wrap;
    const SoftSurface& level = texture.level(0);
    stage.texture = TextureView{level.bits(),   level.pitch(),  level.width(),
                                level.height(), level.format(), level.rowsAlike()};
    return true;
}

// Takes the one sample that every pixel of the draw reads from stage n, and has the shader
// read it as a constant instead of sampling. The texture cannot change before the draw is
// drawn: queued draws write only their target, which it is not, and a surface written by the
// CPU has the next draw set up afresh.
void sampleOnce(PixelState& s, int n) {
    float* sample = s.shader.constants[PIXEL_SHADER_CONSTANTS + n];
    sampleTexture(s.stages[n], 0.0f, 0.0f, sample);
    for (int k = 0; k < s.shader.stepCount; ++k) {
        ShaderStep& step = s.shader.steps[k];
        for (int i = 0; i < step.sourceCount; ++i) {
            ShaderOperand& o = step.src[i];
            if (!o.constant && o.reg == REG_TEX0 + n) {
                o.constant = true;
                o.reg = static_cast<std::uint8_t>(PIXEL_SHADER_CONSTANTS + n);
            }
        }
    }
    s.shader.texturesSampled &= static_cast<std::uint8_t>(~(1u << n));
    s.stages[n].sample = false;
}

} // namespace

bool buildPixelState(const DeviceState& d, SoftTexture* const textures[MAX_STAGES],
                     const PixelShaderState* shader, const DrawTargets& targets,
                     bool preTransformed, std::uint32_t zeroOutputs, PixelState& s,
                     const char*& unsupported) {
    s = PixelState{};

    bool reads[REG_COUNT] = {};
    int color = REG_DIFFUSE;
    int alpha = REG_DIFFUSE;
    if (shader != nullptr) {
        // A pixel shader replaces the cascade: the stages only sample what it names (a stage
        // without a texture reads opaque black), and its r0 is the colour.
        s.shader = *shader;
        for (int i = 0; i < MAX_STAGES; ++i) {
            if (!(shader->texturesSampled & (1 << i))) {
                continue;
            }
            StageSetup& stage = s.stages[i];
            stage.sample = textures[i] != nullptr;
            if (stage.sample && !setUpSampling(d.sampler[i], *textures[i], stage, unsupported)) {
                return false;
            }
            const std::uint32_t coordinates = 3u << (OUTPUT_TEXCOORD + 2 * i);
            if (stage.sample && (zeroOutputs & coordinates) == coordinates &&
                stage.texture.bits != targets.target->bits()) {
                sampleOnce(s, i);
            }
            s.stageCount = i + 1;
        }
        for (int k = 0; k < shader->stepCount; ++k) {
            const ShaderStep& step = shader->steps[k];
            for (int i = 0; i < step.sourceCount; ++i) {
                if (!step.src[i].constant) {
                    reads[step.src[i].reg] = true;
                }
            }
        }
        color = REG_TEMP0;
        alpha = REG_TEMP0;
    }

    // The cascade: stages run in order until one is disabled, or until one whose colour
    // reads its texture has none bound.
    for (int i = 0; i < MAX_STAGES && shader == nullptr; ++i) {
        const DWORD* st = d.stage[i];
        const DWORD colorOp = st[D3DTSS_COLOROP];
        if (colorOp == D3DTOP_DISABLE) {
            break;
        }
        SoftTexture* texture = textures[i];
        const DWORD colorArg1 = st[D3DTSS_COLORARG1];
        const DWORD colorArg2 = st[D3DTSS_COLORARG2];
        if (texture == nullptr && ((usesArg1(colorOp) && colorArg1 == D3DTA_TEXTURE) ||
                                   (usesArg2(colorOp) && colorArg2 == D3DTA_TEXTURE))) {
            break;
        }
        StageSetup& stage = s.stages[i];
        stage.colorOp = colorOp;
        stage.colorArg1 = registerOf(colorArg1, i);
        stage.colorArg2 = registerOf(colorArg2, i);
        stage.alphaOp = st[D3DTSS_ALPHAOP];
        // An alpha argument naming a texture the stage does not have reads diffuse instead.
        auto alphaRegister = [&](DWORD arg) {
            return texture == nullptr && arg == D3DTA_TEXTURE ? REG_DIFFUSE : registerOf(arg, i);
        };
        stage.alphaArg1 = alphaRegister(st[D3DTSS_ALPHAARG1]);
        stage.alphaArg2 = alphaRegister(st[D3DTSS_ALPHAARG2]);

        // Which registers the stage reads, following CURRENT to where it is held.
        const auto texReg = static_cast<Register>(REG_TEX0 + i);
        auto resolve = [](Register r, int current) { return r == REG_CURRENT ? current : int(r); };
        const int c1 = resolve(stage.colorArg1, color);
        const int c2 = resolve(stage.colorArg2, color);
        const int a1 = resolve(stage.alphaArg1, alpha);
        const int a2 = resolve(stage.alphaArg2, alpha);
        if (usesArg1(colorOp)) {
            reads[c1] = true;
        }
        if (usesArg2(colorOp)) {
            reads[c2] = true;
        }
        if (stage.alphaOp != D3DTOP_DISABLE) {
            if (usesArg1(stage.alphaOp)) {
                reads[a1] = true;
            }
            if (usesArg2(stage.alphaOp)) {
                reads[a2] = true;
            }
        }
        color = colorOp == D3DTOP_SELECTARG1   ? c1
                : colorOp == D3DTOP_SELECTARG2 ? c2
                                               : int(REG_CURRENT);
        if (stage.alphaOp != D3DTOP_DISABLE) {
            alpha = stage.alphaOp == D3DTOP_SELECTARG1   ? a1
                    : stage.alphaOp == D3DTOP_SELECTARG2 ? a2
                                                         : int(REG_CURRENT);
        }

        stage.sample = texture != nullptr && reads[texReg];
        if (stage.sample && !setUpSampling(d.sampler[i], *texture, stage, unsupported)) {
            return false;
        }
        s.stageCount = i + 1;
    }
    if (shader == nullptr && s.stageCount == MAX_STAGES &&
        d.stage[MAX_STAGES][D3DTSS_COLOROP] != D3DTOP_DISABLE) {
        unsupported = "more than four texture stages";
        return false;
    }
    reads[color] = true;
    reads[alpha] = true;

    colorOf(d.render[D3DRS_TEXTUREFACTOR], s.textureFactor);
    // Specular is added at the end of the cascade; a pixel shader does its own colour.
    s.specularAdd = shader == nullptr && d.render[D3DRS_SPECULARENABLE] != FALSE;
    if (s.specularAdd) {
        reads[REG_SPECULAR] = true;
    }

    if (d.render[D3DRS_FOGENABLE] != FALSE && d.render[D3DRS_FOGTABLEMODE] != D3DFOG_NONE) {
        s.fogMode = d.render[D3DRS_FOGTABLEMODE];
        // Eye-relative depth when the projection makes w the view depth; otherwise, and for
        // pre-transformed vertices (which carry their own depth), the z in the depth buffer.
        const D3DMATRIX& p = d.projection;
        const bool affine = p._14 == 0.0f && p._24 == 0.0f && p._34 == 0.0f && p._44 == 1.0f;
        s.fogSource = preTransformed || affine ? FogSource::Z : FogSource::W;
        s.fogDensity = d.renderFloat(D3DRS_FOGDENSITY);
        s.fogStart = d.renderFloat(D3DRS_FOGSTART);
        s.fogEnd = d.renderFloat(D3DRS_FOGEND);
        float fog[4];
        colorOf(d.render[D3DRS_FOGCOLOR], fog);
        s.fogColor[0] = fog[0];
        s.fogColor[1] = fog[1];
        s.fogColor[2] = fog[2];
    }

    s.depthTest = targets.depth != nullptr && d.render[D3DRS_ZENABLE] == D3DZB_TRUE;
    s.depthWrite = d.render[D3DRS_ZWRITEENABLE] != FALSE;
    s.depthFunc = d.render[D3DRS_ZFUNC];
    s.blend = d.render[D3DRS_ALPHABLENDENABLE] != FALSE;
    s.srcBlend = d.render[D3DRS_SRCBLEND];
    s.destBlend = d.render[D3DRS_DESTBLEND];

    auto addSlot = [&s](int source, bool coordinate, int index, int component) {
        s.attributes[s.attributeCount++] =
            AttributeSlot{static_cast<std::uint8_t>(source), coordinate,
                          static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(component)};
    };
    for (int c = 0; c < 4 && reads[REG_DIFFUSE]; ++c) {
        addSlot(OUTPUT_DIFFUSE + c, false, REG_DIFFUSE, c);
    }
    for (int c = 0; c < 4 && reads[REG_SPECULAR]; ++c) {
        addSlot(OUTPUT_SPECULAR + c, false, REG_SPECULAR, c);
    }
    for (int i = 0; i < s.stageCount; ++i) {
        if (s.stages[i].sample) {
            addSlot(OUTPUT_TEXCOORD + 2 * i, true, i, 0);
            addSlot(OUTPUT_TEXCOORD + 2 * i + 1, true, i, 1);
        }
    }

    SoftSurface* target = targets.target;
    s.target = target->bits();
    s.targetPitch = target->pitch();
    s.targetFormat = target->format();
    s.depth = targets.depth;
    s.depthPitch = targets.depthPitch;
    const D3DVIEWPORT9& v = targets.viewport;
    s.clipX0 = static_cast<int>(v.X);
    s.clipY0 = static_cast<int>(v.Y);
    s.clipX1 = static_cast<int>(v.X + v.Width);
    s.clipY1 = static_cast<int>(v.Y + v.Height);
    return true;
}

GeometryTarget buildGeometryTarget(const DeviceState& d, const D3DVIEWPORT9& v,
                                   bool preTransformed) {
    GeometryTarget t;
    t.x = static_cast<float>(v.X);
    t.y = static_cast<float>(v.Y);
    t.halfWidth = static_cast<float>(v.Width) * 0.5f;
    t.halfHeight = static_cast<float>(v.Height) * 0.5f;
    t.minZ = v.MinZ;
    t.maxZ = v.MaxZ;
    t.clipX0 = static_cast<int>(v.X);
    t.clipY0 = static_cast<int>(v.Y);
    t.clipX1 = static_cast<int>(v.X + v.Width);
    t.clipY1 = static_cast<int>(v.Y + v.Height);
    t.cull = d.render[D3DRS_CULLMODE];
    t.preTransformed = preTransformed;
    return t;
}

} // namespace tessivane::platform::soft
