#include "platform/soft/device_state.h"

#include "platform/soft/vertex_stage.h"
#include "platform/window_internal.h"

#include <cstring>
#include <string>

namespace tessivane::platform::soft {

namespace {

DWORD floatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

bool any(DWORD) {
    return true;
}
bool isFalse(DWORD v) {
    return v == FALSE;
}
bool isZero(DWORD v) {
    return v == 0;
}
bool isBool(DWORD v) {
    return v <= 1;
}
bool isZEnable(DWORD v) {
    return v == D3DZB_FALSE || v == D3DZB_TRUE;
}
bool isSolid(DWORD v) {
    return v == D3DFILL_SOLID;
}
bool isGouraud(DWORD v) {
    return v == D3DSHADE_GOURAUD;
}
bool isDrawnBlend(DWORD v) {
    return v >= D3DBLEND_ZERO && v <= D3DBLEND_INVSRCALPHA;
}
bool isCull(DWORD v) {
    return v >= D3DCULL_NONE && v <= D3DCULL_CCW;
}
bool isCompare(DWORD v) {
    return v >= D3DCMP_NEVER && v <= D3DCMP_ALWAYS;
}
bool isFogMode(DWORD v) {
    return v <= D3DFOG_LINEAR;
}
bool isFogNone(DWORD v) {
    return v == D3DFOG_NONE;
}
bool isColorSource(DWORD v) {
    return v <= D3DMCS_COLOR2;
}
bool isPointSizeOne(DWORD v) {
    return v == floatBits(1.0f);
}
bool isAllChannels(DWORD v) {
    return v == 0xF;
}
bool isAdd(DWORD v) {
    return v == D3DBLENDOP_ADD;
}

struct RenderRule {
    D3DRENDERSTATETYPE id;
    const char* name;
    bool (*accepts)(DWORD);
};

// Every render state the device knows, with the values it draws with.
constexpr RenderRule RENDER_RULES[] = {
    {D3DRS_ZENABLE, "ZENABLE", isZEnable},
    {D3DRS_FILLMODE, "FILLMODE", isSolid},
    {D3DRS_SHADEMODE, "SHADEMODE", isGouraud},
    {D3DRS_ZWRITEENABLE, "ZWRITEENABLE", isBool},
    {D3DRS_ALPHATESTENABLE, "ALPHATESTENABLE", isFalse},
    {D3DRS_LASTPIXEL, "LASTPIXEL", any},
    {D3DRS_SRCBLEND, "SRCBLEND", isDrawnBlend},
    {D3DRS_DESTBLEND, "DESTBLEND", isDrawnBlend},
    {D3DRS_CULLMODE, "CULLMODE", isCull},
    {D3DRS_ZFUNC, "ZFUNC", isCompare},
    {D3DRS_ALPHAREF, "ALPHAREF", any},
    {D3DRS_ALPHAFUNC, "ALPHAFUNC", isCompare},
    {D3DRS_DITHERENABLE, "DITHERENABLE", isFalse},
    {D3DRS_ALPHABLENDENABLE, "ALPHABLENDENABLE", isBool},
    {D3DRS_FOGENABLE, "FOGENABLE", isBool},
    {D3DRS_SPECULARENABLE, "SPECULARENABLE", isBool},
    {D3DRS_FOGCOLOR, "FOGCOLOR", any},
    {D3DRS_FOGTABLEMODE, "FOGTABLEMODE", isFogMode},
    {D3DRS_FOGSTART, "FOGSTART", any},
    {D3DRS_FOGEND, "FOGEND", any},
    {D3DRS_FOGDENSITY, "FOGDENSITY", any},
    {D3DRS_RANGEFOGENABLE, "RANGEFOGENABLE", isBool},
    {D3DRS_STENCILENABLE, "STENCILENABLE", isFalse},
    {D3DRS_TEXTUREFACTOR, "TEXTUREFACTOR", any},
    {D3DRS_WRAP0, "WRAP0", isZero},
    {D3DRS_WRAP1, "WRAP1", isZero},
    {D3DRS_WRAP2, "WRAP2", isZero},
    {D3DRS_WRAP3, "WRAP3", isZero},
    {D3DRS_WRAP4, "WRAP4", isZero},
    {D3DRS_WRAP5, "WRAP5", isZero},
    {D3DRS_WRAP6, "WRAP6", isZero},
    {D3DRS_WRAP7, "WRAP7", isZero},
    {D3DRS_CLIPPING, "CLIPPING", isBool},
    {D3DRS_LIGHTING, "LIGHTING", isBool},
    {D3DRS_AMBIENT, "AMBIENT", any},
    {D3DRS_FOGVERTEXMODE, "FOGVERTEXMODE", isFogNone},
    {D3DRS_COLORVERTEX, "COLORVERTEX", isBool},
    {D3DRS_LOCALVIEWER, "LOCALVIEWER", isBool},
    {D3DRS_NORMALIZENORMALS, "NORMALIZENORMALS", isBool},
    {D3DRS_DIFFUSEMATERIALSOURCE, "DIFFUSEMATERIALSOURCE", isColorSource},
    {D3DRS_SPECULARMATERIALSOURCE, "SPECULARMATERIALSOURCE", isColorSource},
    {D3DRS_AMBIENTMATERIALSOURCE, "AMBIENTMATERIALSOURCE", isColorSource},
    {D3DRS_EMISSIVEMATERIALSOURCE, "EMISSIVEMATERIALSOURCE", isColorSource},
    {D3DRS_VERTEXBLEND, "VERTEXBLEND", isZero},
    {D3DRS_CLIPPLANEENABLE, "CLIPPLANEENABLE", isZero},
    {D3DRS_POINTSIZE, "POINTSIZE", isPointSizeOne},
    {D3DRS_POINTSIZE_MIN, "POINTSIZE_MIN", any},
    {D3DRS_POINTSPRITEENABLE, "POINTSPRITEENABLE", isFalse},
    {D3DRS_POINTSCALEENABLE, "POINTSCALEENABLE", isFalse},
    {D3DRS_POINTSCALE_A, "POINTSCALE_A", any},
    {D3DRS_POINTSCALE_B, "POINTSCALE_B", any},
    {D3DRS_POINTSCALE_C, "POINTSCALE_C", any},
    {D3DRS_MULTISAMPLEANTIALIAS, "MULTISAMPLEANTIALIAS", isBool},
    {D3DRS_POINTSIZE_MAX, "POINTSIZE_MAX", any},
    {D3DRS_COLORWRITEENABLE, "COLORWRITEENABLE", isAllChannels},
    {D3DRS_BLENDOP, "BLENDOP", isAdd},
    {D3DRS_SCISSORTESTENABLE, "SCISSORTESTENABLE", isFalse},
    {D3DRS_SLOPESCALEDEPTHBIAS, "SLOPESCALEDEPTHBIAS", isZero},
    {D3DRS_SRGBWRITEENABLE, "SRGBWRITEENABLE", isFalse},
    {D3DRS_DEPTHBIAS, "DEPTHBIAS", isZero},
    {D3DRS_SEPARATEALPHABLENDENABLE, "SEPARATEALPHABLENDENABLE", isFalse},
};

const RenderRule* findRenderRule(DWORD id) {
    for (const RenderRule& rule : RENDER_RULES) {
        if (rule.id == id) {
            return &rule;
        }
    }
    return nullptr;
}

bool isDrawnOp(DWORD op) {
    switch (op) {
    case D3DTOP_DISABLE:
    case D3DTOP_SELECTARG1:
    case D3DTOP_SELECTARG2:
    case D3DTOP_MODULATE:
    case D3DTOP_MODULATE2X:
    case D3DTOP_MODULATE4X:
    case D3DTOP_ADD:
    case D3DTOP_ADDSIGNED:
    case D3DTOP_SUBTRACT:
        return true;
    default:
        return false;
    }
}

bool isDrawnArgument(DWORD arg) {
    switch (arg) {
    case D3DTA_DIFFUSE:
    case D3DTA_CURRENT:
    case D3DTA_TEXTURE:
    case D3DTA_TFACTOR:
    case D3DTA_SPECULAR:
        return true;
    default:
        return false; // TEMP, CONSTANT and the modifiers
    }
}

const char* stageStateName(DWORD type) {
    switch (type) {
    case D3DTSS_COLOROP:
        return "COLOROP";
    case D3DTSS_COLORARG1:
        return "COLORARG1";
    case D3DTSS_COLORARG2:
        return "COLORARG2";
    case D3DTSS_ALPHAOP:
        return "ALPHAOP";
    case D3DTSS_ALPHAARG1:
        return "ALPHAARG1";
    case D3DTSS_ALPHAARG2:
        return "ALPHAARG2";
    case D3DTSS_TEXCOORDINDEX:
        return "TEXCOORDINDEX";
    case D3DTSS_TEXTURETRANSFORMFLAGS:
        return "TEXTURETRANSFORMFLAGS";
    case D3DTSS_RESULTARG:
        return "RESULTARG";
    default:
        return "stage state";
    }
}

bool isKnownStageState(DWORD type) {
    return (type >= D3DTSS_COLOROP && type <= D3DTSS_TEXCOORDINDEX) ||
           type == D3DTSS_BUMPENVLSCALE || type == D3DTSS_BUMPENVLOFFSET ||
           type == D3DTSS_TEXTURETRANSFORMFLAGS || type == D3DTSS_COLORARG0 ||
           type == D3DTSS_ALPHAARG0 || type == D3DTSS_RESULTARG || type == D3DTSS_CONSTANT;
}

bool acceptsStageValue(DWORD type, DWORD value) {
    switch (type) {
    case D3DTSS_COLOROP:
    case D3DTSS_ALPHAOP:
        return isDrawnOp(value);
    case D3DTSS_COLORARG1:
    case D3DTSS_COLORARG2:
    case D3DTSS_ALPHAARG1:
    case D3DTSS_ALPHAARG2:
        return isDrawnArgument(value);
    case D3DTSS_RESULTARG:
        return value == D3DTA_CURRENT;
    case D3DTSS_TEXCOORDINDEX:
        return value < 8; // no generated coordinates
    case D3DTSS_TEXTURETRANSFORMFLAGS:
        return value == D3DTTFF_DISABLE;
    default:
        return true;
    }
}

const char* samplerStateName(DWORD type) {
    switch (type) {
    case D3DSAMP_ADDRESSU:
        return "ADDRESSU";
    case D3DSAMP_ADDRESSV:
        return "ADDRESSV";
    case D3DSAMP_MAGFILTER:
        return "MAGFILTER";
    case D3DSAMP_MINFILTER:
        return "MINFILTER";
    case D3DSAMP_MIPFILTER:
        return "MIPFILTER";
    case D3DSAMP_MAXMIPLEVEL:
        return "MAXMIPLEVEL";
    case D3DSAMP_SRGBTEXTURE:
        return "SRGBTEXTURE";
    default:
        return "sampler state";
    }
}

bool acceptsSamplerValue(DWORD type, DWORD value) {
    switch (type) {
    case D3DSAMP_ADDRESSU:
    case D3DSAMP_ADDRESSV:
        return value == D3DTADDRESS_WRAP || value == D3DTADDRESS_CLAMP;
    case D3DSAMP_ADDRESSW:
        return value >= D3DTADDRESS_WRAP && value <= D3DTADDRESS_MIRRORONCE;
    case D3DSAMP_MAGFILTER:
    case D3DSAMP_MINFILTER:
        return value == D3DTEXF_POINT || value == D3DTEXF_LINEAR;
    case D3DSAMP_MIPFILTER:
        return value == D3DTEXF_NONE; // only level 0 is ever sampled
    case D3DSAMP_MAXMIPLEVEL:
    case D3DSAMP_SRGBTEXTURE:
        return value == 0;
    default:
        return true;
    }
}

void refuse(const std::string& what) {
    detail::reportUnsupported(what.c_str());
    detail::setLastError("the reference device cannot draw with " + what);
}

void identity(D3DMATRIX& m) {
    m = D3DMATRIX{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
}

} // namespace

DeviceState::DeviceState(bool depthBuffer) {
    std::memset(render, 0, sizeof render);
    render[D3DRS_ZENABLE] = depthBuffer ? D3DZB_TRUE : D3DZB_FALSE;
    render[D3DRS_FILLMODE] = D3DFILL_SOLID;
    render[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    render[D3DRS_ZWRITEENABLE] = TRUE;
    render[D3DRS_LASTPIXEL] = TRUE;
    render[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    render[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    render[D3DRS_CULLMODE] = D3DCULL_CCW;
    render[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    render[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    render[D3DRS_FOGSTART] = floatBits(0.0f);
    render[D3DRS_FOGEND] = floatBits(1.0f);
    render[D3DRS_FOGDENSITY] = floatBits(1.0f);
    render[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    render[D3DRS_CLIPPING] = TRUE;
    render[D3DRS_LIGHTING] = TRUE;
    render[D3DRS_COLORVERTEX] = TRUE;
    render[D3DRS_LOCALVIEWER] = TRUE;
    render[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    render[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    render[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    render[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    // 1.0 is what the runtime sets at start; the reference page's 64 would turn every point
    // into a 64-pixel square.
    render[D3DRS_POINTSIZE] = floatBits(1.0f);
    render[D3DRS_POINTSIZE_MIN] = floatBits(1.0f);
    render[D3DRS_POINTSCALE_A] = floatBits(1.0f);
    render[D3DRS_POINTSCALE_B] = floatBits(0.0f);
    render[D3DRS_POINTSCALE_C] = floatBits(0.0f);
    render[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    render[D3DRS_POINTSIZE_MAX] = floatBits(64.0f);
    render[D3DRS_COLORWRITEENABLE] = 0xF;
    render[D3DRS_BLENDOP] = D3DBLENDOP_ADD;

    std::memset(stage, 0, sizeof stage);
    for (DWORD s = 0; s < STAGE_SLOTS; ++s) {
        DWORD* st = stage[s];
        st[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        st[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        st[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        st[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        st[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        st[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        st[D3DTSS_TEXCOORDINDEX] = s;
        st[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        st[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        st[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        st[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }

    std::memset(sampler, 0, sizeof sampler);
    for (DWORD s = 0; s < SAMPLER_SLOTS; ++s) {
        DWORD* sa = sampler[s];
        sa[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        sa[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        sa[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sa[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        sa[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sa[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sa[D3DSAMP_MAXANISOTROPY] = 1;
    }

    identity(world);
    identity(view);
    identity(projection);
    for (D3DMATRIX& m : textureTransform) {
        identity(m);
    }
    // The material starts all zero (the table of defaults; no output here depends on it).
    material = D3DMATERIAL9{};
}

HRESULT DeviceState::setRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    const RenderRule* rule = findRenderRule(state);
    if (rule == nullptr) {
        refuse("render state " + std::to_string(state));
        return D3DERR_INVALIDCALL;
    }
    if (!rule->accepts(value)) {
        refuse(std::string("render state ") + rule->name + " = " + std::to_string(value));
        return D3DERR_INVALIDCALL;
    }
    if (render[state] != value) {
        render[state] = value;
        ++version;
    }
    return D3D_OK;
}

HRESULT DeviceState::getRenderState(D3DRENDERSTATETYPE state, DWORD* value) const {
    if (value == nullptr || findRenderRule(state) == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *value = render[state];
    return D3D_OK;
}

HRESULT DeviceState::setStageState(DWORD s, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (s >= STAGE_SLOTS || !isKnownStageState(type)) {
        return D3DERR_INVALIDCALL;
    }
    if (!acceptsStageValue(type, value)) {
        refuse(std::string("texture stage state ") + stageStateName(type) + " = " +
               std::to_string(value));
        return D3DERR_INVALIDCALL;
    }
    if (stage[s][type] != value) {
        stage[s][type] = value;
        ++version;
    }
    return D3D_OK;
}

HRESULT DeviceState::getStageState(DWORD s, D3DTEXTURESTAGESTATETYPE type, DWORD* value) const {
    if (value == nullptr || s >= STAGE_SLOTS || !isKnownStageState(type)) {
        return D3DERR_INVALIDCALL;
    }
    *value = stage[s][type];
    return D3D_OK;
}

HRESULT DeviceState::setSamplerState(DWORD s, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (s >= SAMPLER_SLOTS || type < D3DSAMP_ADDRESSU || type > D3DSAMP_DMAPOFFSET) {
        return D3DERR_INVALIDCALL;
    }
    if (!acceptsSamplerValue(type, value)) {
        refuse(std::string("sampler state ") + samplerStateName(type) + " = " +
               std::to_string(value));
        return D3DERR_INVALIDCALL;
    }
    if (sampler[s][type] != value) {
        sampler[s][type] = value;
        ++version;
    }
    return D3D_OK;
}

HRESULT DeviceState::getSamplerState(DWORD s, D3DSAMPLERSTATETYPE type, DWORD* value) const {
    if (value == nullptr || s >= SAMPLER_SLOTS || type < D3DSAMP_ADDRESSU ||
        type > D3DSAMP_DMAPOFFSET) {
        return D3DERR_INVALIDCALL;
    }
    *value = sampler[s][type];
    return D3D_OK;
}

namespace {

D3DMATRIX* transformSlot(DeviceState& s, D3DTRANSFORMSTATETYPE state) {
    switch (state) {
    case D3DTS_WORLD:
        return &s.world;
    case D3DTS_VIEW:
        return &s.view;
    case D3DTS_PROJECTION:
        return &s.projection;
    default:
        if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) {
            return &s.textureTransform[state - D3DTS_TEXTURE0];
        }
        return nullptr;
    }
}

} // namespace

HRESULT DeviceState::setTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    D3DMATRIX* slot = transformSlot(*this, state);
    if (matrix == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    if (slot == nullptr) {
        if (state > D3DTS_WORLD && state < D3DTS_WORLDMATRIX(256)) {
            refuse("vertex blending with more than one world matrix");
        }
        return D3DERR_INVALIDCALL;
    }
    if (std::memcmp(slot, matrix, sizeof *slot) != 0) {
        std::memcpy(slot, matrix, sizeof *slot);
        ++version;
    }
    return D3D_OK;
}

HRESULT DeviceState::getTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) const {
    const D3DMATRIX* slot = transformSlot(const_cast<DeviceState&>(*this), state);
    if (matrix == nullptr || slot == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *matrix = *slot;
    return D3D_OK;
}

HRESULT DeviceState::setLight(DWORD index, const D3DLIGHT9* light) {
    if (light == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    if (index >= MAX_LIGHTS) {
        refuse("more than 8 lights");
        return D3DERR_INVALIDCALL;
    }
    if (light->Type != D3DLIGHT_DIRECTIONAL) {
        if (light->Type == D3DLIGHT_POINT || light->Type == D3DLIGHT_SPOT) {
            refuse("point and spot lights");
        }
        return D3DERR_INVALIDCALL;
    }
    const D3DVECTOR& d = light->Direction;
    if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) {
        return D3DERR_INVALIDCALL; // a directional light needs a direction
    }
    lights[index].light = *light;
    lights[index].set = true;
    ++version;
    return D3D_OK;
}

HRESULT DeviceState::getLight(DWORD index, D3DLIGHT9* light) const {
    if (light == nullptr || index >= MAX_LIGHTS || !lights[index].set) {
        return D3DERR_INVALIDCALL;
    }
    *light = lights[index].light;
    return D3D_OK;
}

HRESULT DeviceState::enableLight(DWORD index, BOOL enable) {
    if (index >= MAX_LIGHTS) {
        refuse("more than 8 lights");
        return D3DERR_INVALIDCALL;
    }
    LightSlot& slot = lights[index];
    if (!slot.set) {
        // A light enabled before it was set takes the default light: white, directional,
        // shining along +z.
        slot.light = D3DLIGHT9{};
        slot.light.Type = D3DLIGHT_DIRECTIONAL;
        slot.light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
        slot.light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
        slot.set = true;
    }
    slot.enabled = enable != FALSE;
    ++version;
    return D3D_OK;
}

HRESULT DeviceState::getLightEnable(DWORD index, BOOL* enable) const {
    if (enable == nullptr || index >= MAX_LIGHTS || !lights[index].set) {
        return D3DERR_INVALIDCALL;
    }
    *enable = lights[index].enabled ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT DeviceState::setMaterial(const D3DMATERIAL9* m) {
    if (m == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    material = *m;
    ++version;
    return D3D_OK;
}

HRESULT DeviceState::setFvf(DWORD value) {
    if (value != 0) {
        VertexLayout layout;
        const char* unsupported = nullptr;
        if (!decodeFvf(value, layout, unsupported)) {
            refuse(unsupported);
            return D3DERR_INVALIDCALL;
        }
    }
    if (fvf != value) {
        fvf = value;
        ++version;
    }
    return D3D_OK;
}

float DeviceState::renderFloat(D3DRENDERSTATETYPE state) const {
    float f;
    std::memcpy(&f, &render[state], sizeof f);
    return f;
}

} // namespace tessivane::platform::soft
