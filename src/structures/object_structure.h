// One of the tube trees of scene 2: a trunk of twisted tube segments with branches, and
// twigs on every branch, grown once from its placement; then drawn flying past the camera
// and sent back to the far end while the supply lasts.
#pragma once

#include "math/matrix4.h"
#include "platform/d3d9.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tessivane::structures {

// One tube of the tree: the trunk (depth 0), a branch (1) or a twig (2).
struct BranchNode {
    int depth = 0;
    float length = 0.0f;      // along the node's own y axis
    float pitch = 0.0f;       // tilt of each child about x, radians
    float yaw = 0.0f;         // turn between successive children about y, radians
    float radiusStart = 0.0f; // at the base
    float radiusEnd = 0.0f;   // at the tip
    int segments = 0;
    float twist = 0.0f; // rotation per segment, radians
    int childCount = 0;
    std::vector<std::unique_ptr<BranchNode>> children; // owned, in order
    math::Matrix4 matrix;                              // node space to structure space
};

// The 32-byte vertex of the tube strips: position, normal, and texture coordinates that
// the tubes never write or read.
struct TubeVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(TubeVertex) == 32);

// Texel column e (0..255) of the tubes' gradient: alpha 255, red max(256 - 2e, 0), green
// 32 - e / 16, blue 256 - e, with the terms overlapping at e = 0 (0xFF002100).
std::uint32_t gradientTexel(int e);

class ObjectStructure {
public:
    // The default trunk: 5 long, radii 0.6 to 0.3, 8 segments, room for 12 branches.
    ObjectStructure();
    // Releases the device objects that exist.
    ~ObjectStructure();
    ObjectStructure(const ObjectStructure&) = delete;
    ObjectStructure& operator=(const ObjectStructure&) = delete;

    // Perturbs the trunk with draws from the shared generator seeded from placement, grows
    // the tree, creates the device resources and writes the strips. E_FAIL when a resource
    // cannot be created; what exists stays until destruction.
    platform::HRESULT generate(platform::IDirect3DDevice9* device, const math::Matrix4& placement);
    // Grows node's children, and theirs, depth first.
    void buildChildren(BranchNode& node);
    // Writes the strips of node and its subtree at destination; returns how many vertices.
    int writeNodeVertices(TubeVertex* destination, const BranchNode& node) const;
    // Writes the whole tree into the vertex buffer.
    void fillVertices();
    // Spins the tree, recycles it past the camera when asked, and draws every strip under
    // world and viewProjection.
    void draw(platform::IDirect3DDevice9* device, const math::Matrix4& world,
              const math::Matrix4& viewProjection, bool recycle);

    platform::IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    platform::IDirect3DVertexShader9* vertexShader = nullptr;
    platform::IDirect3DVertexDeclaration9* vertexDeclaration = nullptr;
    platform::IDirect3DTexture9* gradientTexture = nullptr;
    BranchNode root;
    math::Matrix4 baseMatrix;
    int totalSegments = 0;  // strips drawn
    int ringVertices = 8;   // around one ring of a tube
    int maxDepth = 2;       // depth of the leaves
    float spinSpeed = 0.0f; // radians per draw
    float spinAngle = 0.0f;
};

} // namespace tessivane::structures
