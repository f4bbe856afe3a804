// The fixed-function vertex stage: vertex formats, row-vector transforms and lighting.
#include "device_test_support.h"
#include "platform/soft/vertex_stage.h"

#include <cmath>

namespace tessivane::platform::testing {
namespace {

TEST(VertexFormats, LayoutsOfTheShowsFormats) {
    soft::VertexLayout layout;
    const char* unsupported = nullptr;
    ASSERT_TRUE(soft::decodeFvf(0x52, layout, unsupported));
    EXPECT_EQ(layout.size, 28u);
    EXPECT_EQ(layout.normal, 12);
    EXPECT_EQ(layout.diffuse, 24);
    ASSERT_TRUE(soft::decodeFvf(0x104, layout, unsupported));
    EXPECT_EQ(layout.size, 24u);
    EXPECT_TRUE(layout.preTransformed);
    EXPECT_EQ(layout.texcoord[0], 16);
    ASSERT_TRUE(soft::decodeFvf(0x102, layout, unsupported));
    EXPECT_EQ(layout.size, 20u);
    ASSERT_TRUE(soft::decodeFvf(0x152, layout, unsupported));
    EXPECT_EQ(layout.size, 36u);
    EXPECT_EQ(layout.texcoord[0], 28);
    // Two sets, the second of one float (size code 3 in bits 18-19).
    ASSERT_TRUE(soft::decodeFvf(D3DFVF_XYZ | D3DFVF_TEX2 | (3u << 18), layout, unsupported));
    EXPECT_EQ(layout.size, 12u + 8u + 4u);

    EXPECT_FALSE(soft::decodeFvf(D3DFVF_XYZ | D3DFVF_PSIZE, layout, unsupported));
    EXPECT_FALSE(soft::decodeFvf(D3DFVF_DIFFUSE, layout, unsupported));
    EXPECT_FALSE(soft::decodeFvf(0x006, layout, unsupported)); // blend weights
    EXPECT_FALSE(soft::decodeFvf(D3DFVF_XYZ | (1u << 16), layout, unsupported));
}

class Vertices : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        create(1);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->BeginScene();
    }

    // A triangle around the screen centre in the plane z = 0.5, all vertices with the given
    // normal and colour; returns the centre pixel.
    std::uint32_t litTriangle(float nx, float ny, float nz, D3DCOLOR color) {
        const LitVertex triangle[3] = {{-0.5f, -0.5f, 0.5f, nx, ny, nz, color},
                                       {0.5f, -0.5f, 0.5f, nx, ny, nz, color},
                                       {0.0f, 0.5f, 0.5f, nx, ny, nz, color}};
        device->SetFVF(LIT_FVF);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, sizeof triangle[0]),
                  D3D_OK);
        return pixel(320, 240);
    }

    void directionalLight(float x, float y, float z, float intensity = 1.0f) {
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = D3DCOLORVALUE{intensity, intensity, intensity, 0.0f};
        light.Direction = D3DVECTOR{x, y, z};
        light.Range = 1000.0f;
        ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
        ASSERT_EQ(device->LightEnable(0, TRUE), D3D_OK);
    }
};

TEST_F(Vertices, TransformsAreRowVectorsThroughWorldViewProjection) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    D3DMATRIX world = identityMatrix();
    world._41 = 0.5f; // translation in the fourth row
    D3DMATRIX view = identityMatrix();
    view._42 = 0.5f;
    D3DMATRIX projection = identityMatrix();
    projection._11 = 0.5f; // applied last: halves x after the world's move
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    const LitVertex point{0, 0, 0.5f, 0, 0, 0, 0xFFFFFFFF};
    device->SetFVF(LIT_FVF);
    device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof point);
    // Clip (0.25, 0.5): screen x = (1 + 0.25) · 320 = 400, y = (1 - 0.5) · 240 = 120.
    EXPECT_EQ(pixel(400, 120), 0xFFFFFFFFu);
    D3DMATRIX back{};
    ASSERT_EQ(device->GetTransform(D3DTS_WORLD, &back), D3D_OK);
    EXPECT_EQ(back._41, 0.5f);
}

TEST_F(Vertices, UnlitVerticesKeepTheirColourAndLackingOneReadWhite) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    EXPECT_EQ(litTriangle(0, 0, -1, 0xFF123456), 0xFF123456u);
    const D3DVECTOR positions[3] = {{-0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, 0.5f}, {0, 0.5f, 0.5f}};
    device->SetFVF(D3DFVF_XYZ);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, positions, sizeof positions[0]);
    EXPECT_EQ(pixel(320, 240), 0xFFFFFFFFu);
}

TEST_F(Vertices, DirectionalLightScalesTheDiffuseColourByTheCosine) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    directionalLight(0, 0, 1); // travelling away from the viewer
    // Facing the light: the vertex colour itself.
    EXPECT_EQ(litTriangle(0, 0, -1, 0xFF80C040), 0xFF80C040u);
    // 60 degrees off: half of it.
    EXPECT_EQ(litTriangle(0, 0.8660254f, -0.5f, 0xFF80C040), 0xFF406020u);
    // Facing away: nothing, not a negative amount.
    EXPECT_EQ(litTriangle(0, 0, 1, 0xFF80C040), 0xFF000000u);
    // Alpha comes from the diffuse source whatever the light.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    EXPECT_EQ(litTriangle(0, 0, -1, 0x80FFFFFF), 0xFF808080u);
}

TEST_F(Vertices, AmbientAndEmissiveComeFromTheMaterial) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    directionalLight(0, 0, 1, 128.0f / 255.0f);
    D3DMATERIAL9 material{};
    material.Ambient = D3DCOLORVALUE{1.0f, 0.5f, 0.0f, 1.0f};
    material.Emissive = D3DCOLORVALUE{0.0f, 0.0f, 0.25f, 1.0f};
    material.Diffuse = D3DCOLORVALUE{0.0f, 1.0f, 0.0f, 1.0f};
    ASSERT_EQ(device->SetMaterial(&material), D3D_OK);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF404040);
    // White vertex diffuse lit at 128/255; ambient 0x40 · material ambient; emissive on top:
    // r = (128 + 64) / 255, g = (128 + 32) / 255, b = 128 / 255 + 0.25.
    const std::uint32_t lit = litTriangle(0, 0, -1, 0xFFFFFFFF);
    EXPECT_EQ(red(lit), 128 + 64);
    EXPECT_EQ(green(lit), 128 + 32);
    EXPECT_EQ(blue(lit), 192);

    // With the vertex colour switched off, diffuse comes from the material too.
    device->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    const std::uint32_t materialOnly = litTriangle(0, 0, -1, 0xFFFFFFFF);
    EXPECT_EQ(red(materialOnly), 64);
    EXPECT_EQ(green(materialOnly), 128 + 32);
    EXPECT_EQ(blue(materialOnly), 64);

    // A vertex without a normal gets no diffuse light at all.
    device->SetRenderState(D3DRS_COLORVERTEX, TRUE);
    const D3DVECTOR positions[3] = {{-0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, 0.5f}, {0, 0.5f, 0.5f}};
    device->SetFVF(D3DFVF_XYZ);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, positions, sizeof positions[0]);
    EXPECT_EQ(pixel(320, 240), 0xFF402040u);
}

TEST_F(Vertices, LightsStayPutWhenTheWorldTurns) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    directionalLight(-1, 0, 0); // towards the light is +x
    EXPECT_EQ(litTriangle(1, 0, 0, 0xFFFFFFFF), 0xFFFFFFFFu);
    // A quarter turn about the viewing axis carries the normal to +y, away from the light.
    D3DMATRIX world{};
    world._12 = 1.0f;
    world._21 = -1.0f;
    world._33 = world._44 = 1.0f;
    device->SetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(litTriangle(1, 0, 0, 0xFFFFFFFF), 0xFF000000u);
    // With the world back and the view turned instead, normal and light turn together.
    const D3DMATRIX identity = identityMatrix();
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &world);
    EXPECT_EQ(litTriangle(1, 0, 0, 0xFFFFFFFF), 0xFFFFFFFFu);
}

TEST_F(Vertices, NormalsFollowTheInverseTransposeAndMayBeRenormalised) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    directionalLight(-1, 0, 0);
    D3DMATRIX world = identityMatrix();
    world._11 = 2.0f; // stretch x
    device->SetTransform(D3DTS_WORLD, &world);
    const float n = 0.70710678f;
    // (n, n, 0) under the inverse transpose of diag(2, 1, 1): (n / 2, n, 0); N·L = n / 2.
    EXPECT_EQ(red(litTriangle(n, n, 0, 0xFFFFFFFF)), 90);
    // Renormalised: (1, 2, 0) / √5, N·L = 1 / √5 = 0.4472.
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    EXPECT_EQ(red(litTriangle(n, n, 0, 0xFFFFFFFF)), 114);
}

TEST_F(Vertices, LightsOnlyOfTheKindsDrawn) {
    D3DLIGHT9 point{};
    point.Type = D3DLIGHT_POINT;
    EXPECT_EQ(device->SetLight(0, &point), D3DERR_INVALIDCALL);
    D3DLIGHT9 none{};
    none.Type = D3DLIGHT_DIRECTIONAL;
    EXPECT_EQ(device->SetLight(0, &none), D3DERR_INVALIDCALL); // no direction
    // Enabling a light that was never set gives it the default light.
    ASSERT_EQ(device->LightEnable(3, TRUE), D3D_OK);
    D3DLIGHT9 got{};
    ASSERT_EQ(device->GetLight(3, &got), D3D_OK);
    EXPECT_EQ(got.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(got.Direction.z, 1.0f);
    EXPECT_EQ(got.Diffuse.r, 1.0f);
    BOOL enabled = FALSE;
    EXPECT_EQ(device->GetLightEnable(3, &enabled), D3D_OK);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(device->GetLight(4, &got), D3DERR_INVALIDCALL);
}

} // namespace
} // namespace tessivane::platform::testing
