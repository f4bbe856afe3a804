// What the show's scenes leave bound on the device for the next: the metaball scene's
// shaders stay set into the tube scene, which also gets its camera constant, until the
// credit pass returns to the fixed-function pipeline.
#include "app/test_support.h"
#include "shaders/show_shaders.h"

#include <gtest/gtest.h>
#include <vector>

namespace tessivane::app::testing {
namespace {

using namespace platform;

class SceneShaderState : public HeadlessApplication {
protected:
    // The stream of the pixel shader now bound, empty for none.
    std::vector<DWORD> boundPixelShader() {
        IDirect3DPixelShader9* shader = nullptr;
        application.displayDevice()->GetPixelShader(&shader);
        if (shader == nullptr) {
            return {};
        }
        UINT bytes = 0;
        shader->GetFunction(nullptr, &bytes);
        std::vector<DWORD> tokens(bytes / 4);
        shader->GetFunction(tokens.data(), &bytes);
        shader->Release();
        return tokens;
    }
    bool vertexShaderBound() {
        IDirect3DVertexShader9* shader = nullptr;
        application.displayDevice()->GetVertexShader(&shader);
        if (shader != nullptr) {
            shader->Release();
        }
        return shader != nullptr;
    }
};

TEST_F(SceneShaderState, ShadersOfTheMetaballSceneStayBoundUntilTheCreditPass) {
    start();
    ASSERT_TRUE(SUCCEEDED(result)) << application.failure();
    scene::SceneDirector* director = application.sceneDirector();
    director->setScene(1);
    director->renderFrame();
    const auto sum = shaders::metaballPixelShader(2);
    const std::vector<DWORD> sumTokens(sum.begin(), sum.end());
    EXPECT_EQ(boundPixelShader(), sumTokens);

    director->setScene(2);
    director->renderFrame();
    float camera[4] = {};
    application.displayDevice()->GetVertexShaderConstantF(14, camera, 1);
    EXPECT_EQ(camera[0], 0.0f);
    EXPECT_EQ(camera[1], 0.0f);
    EXPECT_EQ(camera[2], 24.0f);
    EXPECT_EQ(camera[3], 0.0f);
    // Nothing in the tube scene unbinds the last pixel shader...
    EXPECT_EQ(boundPixelShader(), sumTokens);

    // ...until the credit quad, drawn without shaders; the structures drawn after it bind
    // their own vertex program again, but no pixel shader.
    director->tunnelActive = false;
    director->renderFrame();
    EXPECT_TRUE(boundPixelShader().empty());
    EXPECT_TRUE(vertexShaderBound());
}

} // namespace
} // namespace tessivane::app::testing
