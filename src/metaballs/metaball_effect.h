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
    // Draws the frame of scene 1 between BeginScene and EndScene; ends on the back buffer.
    // Returns the result of its last draw.
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
    platform::IUnknown* quadDeclaration = nullptr;
    platform::IUnknown* vertexShaders[3] = {};
    platform::IUnknown* pixelShaders[3] = {};
    float* streakWeights = nullptr; // 769 weights 0.9^k, empty until createResources

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

} // namespace tessivane::metaballs
