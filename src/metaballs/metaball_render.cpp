#include "metaballs/metaball_effect.h"

namespace tessivane::metaballs {

using namespace platform;

// The glare's resources and passes arrive with shader programs on the device; until then
// the surface is computed but scene 1 shows its black clear.
HRESULT MetaballEffect::createResources(IDirect3DDevice9*) {
    return S_OK;
}

HRESULT MetaballEffect::render(IDirect3DDevice9* device) {
    return device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
}

} // namespace tessivane::metaballs
