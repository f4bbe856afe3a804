#include "structures/object_structure.h"

namespace tessivane::structures {

using namespace platform;

// Growing and drawing the trees arrive with scene 2; until then each structure only keeps
// its placement.
ObjectStructure::ObjectStructure() = default;

ObjectStructure::~ObjectStructure() = default;

HRESULT ObjectStructure::generate(IDirect3DDevice9*, const math::Matrix4& placement) {
    baseMatrix = placement;
    return S_OK;
}

void ObjectStructure::draw(IDirect3DDevice9*, const math::Matrix4&, const math::Matrix4&, bool) {}

} // namespace tessivane::structures
