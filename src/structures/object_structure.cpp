#include "structures/object_structure.h"

#include "math/random.h"
#include "shaders/show_shaders.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

namespace tessivane::structures {

using namespace platform;
using math::Matrix4;
using math::Vector3;

namespace {

template <class Interface>
void release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

float nextRandom() {
    return static_cast<float>(math::drawRandom());
}

Matrix4 rotationX(float angle) {
    return math::matrixRotationAxis(angle, {1, 0, 0});
}
Matrix4 rotationY(float angle) {
    return math::matrixRotationAxis(angle, {0, 1, 0});
}

// One step up a tube: the segment frames turn about y and tip alternately either way
// about x, which twists the tube.
Matrix4 twistStep(float twist, int segment, const Matrix4& accumulated) {
    return rotationY(twist) * rotationX(segment % 2 == 0 ? twist : -twist) * accumulated;
}

// Position, normal and the unused texture coordinates of a TubeVertex, all in stream 0.
const D3DVERTEXELEMENT9 TUBE_ELEMENTS[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

} // namespace

ObjectStructure::ObjectStructure() {
    root.depth = 0;
    root.length = 5.0f;
    root.pitch = 0.7853982f; // π/4
    root.yaw = 2.1991148f;   // 0.7π
    root.radiusStart = 0.6f;
    root.radiusEnd = 0.3f;
    root.segments = 8;
    root.twist = 0.010995575f; // 0.0035π
    root.childCount = 12;
    root.children.reserve(12);
    totalSegments = root.segments;
}

ObjectStructure::~ObjectStructure() {
    release(vertexBuffer);
    release(vertexShader);
    release(vertexDeclaration);
    release(gradientTexture);
}

HRESULT ObjectStructure::generate(IDirect3DDevice9* device, const Matrix4& placement) {
    baseMatrix = placement;
    // The tree's variation comes from its placement.
    math::seedRandom(
        static_cast<std::uint32_t>(static_cast<std::int32_t>(placement.m[0][0] * 100.0f)));
    // 6.103702e-06 = 0.2/32767: a change of -0.2..0.
    root.pitch += nextRandom() * 6.103702e-06f - 0.2f;
    root.yaw += nextRandom() * 6.103702e-06f - 0.2f;
    root.twist += nextRandom() * 6.1037015e-09f - 0.0002f;
    // 0.00018311106 = 6/32767: 6 to 12 branches.
    root.childCount += static_cast<int>(nextRandom() * 0.00018311106f - 6.0f);
    spinSpeed = nextRandom() * 1.9175345e-06f;
    buildChildren(root);

    if (device == nullptr) {
        return E_FAIL;
    }
    // Room for three rings of vertices per segment, of which the strips use two. The format
    // code only describes the buffer; the draws read it through the declaration.
    const UINT length = static_cast<UINT>(ringVertices * totalSegments * 96);
    const std::span<const std::uint32_t> shader = shaders::tubeVertexShader();
    if (FAILED(device->CreateVertexBuffer(length, 0, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE,
                                          D3DPOOL_DEFAULT, &vertexBuffer, nullptr)) ||
        FAILED(device->CreateVertexDeclaration(TUBE_ELEMENTS, &vertexDeclaration)) ||
        FAILED(device->CreateVertexShader(shader.data(), &vertexShader)) ||
        FAILED(device->CreateTexture(256, 256, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                     &gradientTexture, nullptr))) {
        return E_FAIL;
    }
    std::uint32_t row[256];
    for (int e = 0; e < 256; ++e) {
        row[e] = gradientTexel(e);
    }
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(gradientTexture->LockRect(0, &locked, nullptr, 0))) {
        for (int y = 0; y < 256; ++y) {
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, row,
                        sizeof row);
        }
        gradientTexture->UnlockRect(0);
    }
    fillVertices();
    return S_OK;
}

std::uint32_t gradientTexel(int e) {
    const std::uint32_t red = static_cast<std::uint32_t>(std::max(256 - 2 * e, 0));
    return 0xFF000000u | ((red | 0xFF00u) << 16) |
           (0x2000u - static_cast<std::uint32_t>(e >> 4) * 0x100u) |
           static_cast<std::uint32_t>(256 - e);
}

void ObjectStructure::buildChildren(BranchNode& node) {
    node.children.clear();
    for (int i = 0; i < node.childCount; ++i) {
        // Children spread from 40 % to 100 % of the node's length. A node with a single
        // child puts it at 40 % rather than dividing by zero.
        const float spread = node.childCount > 1
                                 ? static_cast<float>(i) / static_cast<float>(node.childCount - 1)
                                 : 0.0f;
        const float d = (spread * 0.6f + 0.4f) * node.length;
        const float h = node.length / static_cast<float>(node.segments);
        const int wholeSegments =
            static_cast<int>(static_cast<float>(node.segments) * d / node.length);
        const float y0 = (d - std::trunc(d)) * h;

        // Climb the node's own segment frames to the attachment point.
        Matrix4 frame;
        Matrix4 turn;
        for (int k = 0; k < wholeSegments; ++k) {
            turn = twistStep(node.twist, k, turn);
            frame = turn * math::matrixTranslation({0, h, 0}) * frame;
        }
        const Vector3 attachment = Vector3(0, y0, 0).transformCoord(frame);

        auto child = std::make_unique<BranchNode>();
        BranchNode& k = *child;
        k.depth = node.depth + 1;
        k.matrix = rotationX(node.pitch) * rotationY(static_cast<float>(i) * node.yaw) *
                   math::matrixTranslation(attachment) * node.matrix;
        k.pitch = node.pitch;
        k.yaw = node.yaw;
        k.segments = node.segments;
        k.radiusStart = node.radiusStart * 0.5f;
        k.radiusEnd = node.radiusEnd * 0.5f;
        k.twist = static_cast<float>(k.depth) * node.twist * 3.5f;
        k.childCount = static_cast<int>(static_cast<float>(node.childCount) * 0.8f);
        k.length = k.depth == 1 ? node.length * 1.3f : 0.5f * node.length / (d / node.length);
        totalSegments += k.segments;
        node.children.push_back(std::move(child));
        if (k.depth != maxDepth) {
            k.children.reserve(static_cast<std::size_t>(std::max(k.childCount, 0)));
            buildChildren(k);
        }
    }
}

int ObjectStructure::writeNodeVertices(TubeVertex* destination, const BranchNode& node) const {
    const int ring = ringVertices;
    const float h = (1.0f / static_cast<float>(node.segments)) * node.length;
    Matrix4 frame = node.matrix;
    Matrix4 turn;
    TubeVertex* out = destination;
    for (int k = 0; k < node.segments; ++k) {
        const float t0 = static_cast<float>(k) / static_cast<float>(node.segments);
        const float t1 = static_cast<float>(k + 1) / static_cast<float>(node.segments);
        const float r0 = (1.0f - t0) * node.radiusStart + t0 * node.radiusEnd;
        const float r1 = (1.0f - t1) * node.radiusStart + t1 * node.radiusEnd;
        // A strip of ring pairs, bottom then top; the last pair closes the tube on the first.
        for (int j = 0; j < ring; ++j) {
            const float angle = static_cast<float>(j) / static_cast<float>(ring - 1) * 6.2831855f;
            const float c = static_cast<float>(std::cos(static_cast<double>(angle)));
            const float s = static_cast<float>(std::sin(static_cast<double>(angle)));
            const Vector3 bottom = Vector3(c * r0, 0, s * r0).transformCoord(frame);
            const Vector3 top = Vector3(c * r1, h, s * r1).transformCoord(frame);
            out[2 * j] = TubeVertex{bottom.x, bottom.y, bottom.z, 0, 0, 0, 0, 0};
            out[2 * j + 1] = TubeVertex{top.x, top.y, top.z, 0, 0, 0, 0, 0};
            if (j >= 1) {
                // The previous pair faces along its side and around the ring.
                const TubeVertex& b0 = out[2 * (j - 1)];
                const TubeVertex& t = out[2 * (j - 1) + 1];
                const Vector3 side = Vector3(t.x, t.y, t.z) - Vector3(b0.x, b0.y, b0.z);
                const Vector3 around = bottom - Vector3(b0.x, b0.y, b0.z);
                const Vector3 n = math::vectorNormalize(math::vectorCross(side, around));
                for (int v = 2 * (j - 1); v <= 2 * (j - 1) + 1; ++v) {
                    out[v].nx = n.x;
                    out[v].ny = n.y;
                    out[v].nz = n.z;
                }
            }
        }
        for (int v = 2 * (ring - 1); v <= 2 * (ring - 1) + 1; ++v) {
            out[v].nx = out[0].nx;
            out[v].ny = out[0].ny;
            out[v].nz = out[0].nz;
        }
        out += 2 * ring;
        turn = twistStep(node.twist, k, turn);
        frame = turn * math::matrixTranslation({0, h, 0}) * frame;
    }
    int written = static_cast<int>(out - destination);
    if (node.depth != maxDepth) {
        for (const auto& child : node.children) {
            written += writeNodeVertices(destination + written, *child);
        }
    }
    return written;
}

void ObjectStructure::fillVertices() {
    void* data = nullptr;
    if (vertexBuffer != nullptr && SUCCEEDED(vertexBuffer->Lock(0, 0, &data, 0))) {
        writeNodeVertices(static_cast<TubeVertex*>(data), root);
        vertexBuffer->Unlock();
    }
}

void ObjectStructure::draw(IDirect3DDevice9* device, const Matrix4& world,
                           const Matrix4& viewProjection, bool recycle) {
    // Added to the frame with the texel's alpha (always 255) as its weight.
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(TubeVertex));
    device->SetVertexDeclaration(vertexDeclaration);
    device->SetVertexShader(vertexShader);
    device->SetTexture(0, gradientTexture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);

    spinAngle += spinSpeed;
    const Matrix4 w = rotationY(spinAngle) * baseMatrix * world;
    // A tree that has flown past the camera goes back 100 units, seen from the next frame.
    if (recycle && Vector3(0, 0, 0).transformCoord(w).z > 30.0f) {
        baseMatrix = baseMatrix * math::matrixTranslation({0, 0, -100});
    }
    // The shader takes its matrices as columns.
    const Matrix4 worldColumns = math::matrixTranspose(w);
    const Matrix4 allColumns = math::matrixTranspose(w * viewProjection);
    device->SetVertexShaderConstantF(4, &worldColumns.m[0][0], 4);
    device->SetVertexShaderConstantF(8, &worldColumns.m[0][0], 4);
    device->SetVertexShaderConstantF(0, &allColumns.m[0][0], 4);

    const UINT stripVertices = static_cast<UINT>(2 * ringVertices);
    for (int s = 0; s < totalSegments; ++s) {
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, stripVertices * static_cast<UINT>(s),
                              stripVertices - 2);
    }
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}

} // namespace tessivane::structures
