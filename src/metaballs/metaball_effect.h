// The metaball surface of scene 1: three moving balls whose mean 1/distance field is
// sampled on a 32x32x32 grid every frame, polygonised by marching cubes, and drawn with a
// procedural texture and a four-way star-streak glare.
#pragma once

#include "metaballs/metaball_vertex.h"
#include "platform/d3d9.h"

#include <cstdint>

namespace tessivane::metaballs {

class MetaballEffect {
public:
    // Builds the grid and the arrays. initialBalls: ballCount centres, three floats each,
    // copied (the first update replaces them; the motion always writes three balls).
    MetaballEffect(int ballCount, const float* initialBalls);
    // Releases every device object that exists and frees the arrays.
    ~MetaballEffect();
    MetaballEffect(const MetaballEffect&) = delete;
    MetaballEffect& operator=(const MetaballEffect&) = delete;

    // Creates the surface texture, the render targets, the quad declaration, the shaders and
    // the streak weights. Negative on failure; what was created stays until destruction.
    platform::HRESULT createResources(platform::IDirect3DDevice9* device);
    // One frame: moves the balls, recomputes the field and polygonises it.
    void update();
    // Recomputes fieldValues from the balls.
    void computeField();
    // Walks every grid cell and appends its triangles to vertices.
    void polygonise();
    // The surface point on a cell edge from p1 (value v1) to p2 (value v2), with its normal
    // estimated from the grid around the edge's base grid point along axis (0 x, 1 y, 2 z).
    MetaballVertex edgeVertex(const float* p1, const float* p2, float v1, float v2, int baseX,
                              int baseY, int baseZ, int axis) const;
    // Appends the triangles of cube index cubeIndex from the cell's twelve edge vertices.
    void emitTriangles(int cubeIndex, const MetaballVertex* edgeVertices);
    // Draws the frame of scene 1 between BeginScene and EndScene: the surface into a 256x256
    // target, its bright parts smeared along the four diagonals, and surface plus streaks
    // stretched over the back buffer, which is the target again at the end. Leaves its
    // shaders, declaration, textures and stage operations bound. Returns the result of its
    // last draw; with resources missing it only clears the back buffer and fails.
    platform::HRESULT render(platform::IDirect3DDevice9* device);

    int gridIndex(int ix, int iy, int iz) const { return ix + sizeX * (iy + sizeY * iz); }

    // Device objects, one reference each, empty until createResources.
    platform::IDirect3DTexture9* surfaceTexture = nullptr;
    platform::IDirect3DTexture9* sceneTexture = nullptr;
    platform::IDirect3DTexture9* streakTextures[4] = {};
    platform::IDirect3DTexture9* directionTextures[4] = {};
    platform::IDirect3DSurface9* sceneSurface = nullptr;
    platform::IDirect3DSurface9* streakSurfaces[4] = {};
    platform::IDirect3DSurface9* directionSurfaces[4] = {};
    platform::IDirect3DVertexDeclaration9* quadDeclaration = nullptr;
    platform::IDirect3DVertexShader9* vertexShaders[3] = {};
    platform::IDirect3DPixelShader9* pixelShaders[3] = {};
    float* streakWeights = nullptr; // STREAK_WEIGHTS weights 0.9^k, empty until createResources

    // The grid never changes size; a row of it fits one 64-bit mask.
    const int sizeX = 32;
    const int sizeY = 32;
    const int sizeZ = 32;
    float spacing = 0.15f;
    int ballCount = 0;
    float* balls = nullptr; // ballCount centres (x, y, z)
    float strength = 1.0f;
    float isoLevel = 0.9f;
    MetaballVertex* vertices = nullptr; // capacity sizeX·sizeY·sizeZ·4
    int vertexCount = 0;                // a multiple of 3
    float* gridPositions = nullptr;     // (x, y, z) per grid point, x fastest
    float* fieldValues = nullptr;       // per grid point

private:
    // Per grid row (iy, iz): bit ix set where the field is below the iso level.
    std::uint64_t* rowsBelow = nullptr;
    // The grid coordinates along each axis (the same for every row).
    float* axisPositions = nullptr; // sizeX + sizeY + sizeZ

public:
    int vertexCapacity() const { return sizeX * sizeY * sizeZ * 4; }
};

// Puts the balls' motion back where it starts when the program starts: the three phases
// live for the whole process, not per effect.
void resetBallMotion();

// Size of the surface texture and of the render targets, in texels.
inline constexpr int EFFECT_TEXTURE_SIZE = 256;
// Streak weights 0.9^k for k = 0..768: the taps of the last pass reach 3 x 256 texels.
inline constexpr int STREAK_WEIGHTS = 769;

// The surface texture's texel in row i, column j (0..255): a moire of wrapping byte
// products, as 0xAARRGGBB with alpha 255.
std::uint32_t surfaceTexel(int i, int j);

} // namespace tessivane::metaballs
