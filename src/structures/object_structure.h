// One of the tube trees of scene 2: grown once from its placement, then drawn flying past
// the camera and sent back to the far end while the supply lasts.
#pragma once

#include "math/matrix4.h"
#include "platform/d3d9.h"

namespace tessivane::structures {

class ObjectStructure {
public:
    ObjectStructure();
    ~ObjectStructure();
    ObjectStructure(const ObjectStructure&) = delete;
    ObjectStructure& operator=(const ObjectStructure&) = delete;

    // Grows the tree from placement and creates its device resources. E_FAIL when a
    // resource cannot be created.
    platform::HRESULT generate(platform::IDirect3DDevice9* device, const math::Matrix4& placement);
    // Draws the tree under world and viewProjection; with recycle, a tree that has passed
    // the camera goes back to the far end.
    void draw(platform::IDirect3DDevice9* device, const math::Matrix4& world,
              const math::Matrix4& viewProjection, bool recycle);

private:
    math::Matrix4 baseMatrix;
};

} // namespace tessivane::structures
