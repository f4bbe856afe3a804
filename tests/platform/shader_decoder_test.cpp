#include "platform/shader/shader_program.h"
#include "shaders/shader_assembler.h"
#include "shaders/show_shaders.h"

#include <gtest/gtest.h>
#include <vector>

namespace tessivane::platform::shader {
namespace {

using namespace tessivane::shaders;
using namespace tessivane::shaders::registers;

std::string decode(std::span<const std::uint32_t> tokens, ShaderStage stage,
                   ShaderProgram* out = nullptr) {
    ShaderProgram program;
    std::string error;
    const bool ok = decodeShader(tokens, stage, program, error);
    EXPECT_EQ(ok, error.empty());
    if (out != nullptr) {
        *out = program;
    }
    return error;
}

TEST(ShaderDecoder, EveryShaderOfTheShowDecodes) {
    ShaderProgram program;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(decode(metaballVertexShader(i), ShaderStage::Vertex), "") << i;
        EXPECT_EQ(decode(metaballPixelShader(i), ShaderStage::Pixel), "") << i;
    }
    ASSERT_EQ(decode(tubeVertexShader(), ShaderStage::Vertex, &program), "");
    EXPECT_EQ(program.inputs.size(), 3u);
    EXPECT_EQ(program.inputs[1].usage, 3); // normal
    EXPECT_EQ(program.instructions.size(), 20u);
    EXPECT_EQ(program.texCoordsWritten, 1);
    EXPECT_EQ(program.tokenCount, tubeVertexShader().size());
    const Instruction& add = program.instructions[14];
    EXPECT_EQ(add.opcode, Opcode::Add);
    EXPECT_EQ(add.sources[0].file, RegisterFile::Const);
    EXPECT_EQ(add.sources[0].index, 14);
    EXPECT_TRUE(add.sources[1].negate);

    ASSERT_EQ(decode(metaballPixelShader(0), ShaderStage::Pixel, &program), "");
    ASSERT_EQ(program.constants.size(), 1u);
    EXPECT_EQ(program.constants[0].index, 1);
    EXPECT_FLOAT_EQ(program.constants[0].value[3], 0.1f);
    EXPECT_EQ(program.texturesSampled, 1);
    ASSERT_EQ(decode(metaballPixelShader(1), ShaderStage::Pixel, &program), "");
    EXPECT_EQ(program.texturesSampled, 0xF);
}

TEST(ShaderDecoder, RefusesMalformedStreams) {
    constexpr auto good = assemble(VS_1_1, dcl_position(v0), mov(oPos, v0));
    std::vector<std::uint32_t> stream(good.begin(), good.end());
    auto refused = [&](std::vector<std::uint32_t> tokens, ShaderStage stage, const char* why) {
        SCOPED_TRACE(why);
        EXPECT_NE(decode(tokens, stage), "");
    };
    refused({}, ShaderStage::Vertex, "empty");
    refused(stream, ShaderStage::Pixel, "a vertex stream as a pixel shader");
    auto v = stream;
    v[0] = 0xFFFE0200;
    refused(v, ShaderStage::Vertex, "version 2.0");
    v = stream;
    v[4] = 0x00000013; // lit
    refused(v, ShaderStage::Vertex, "unknown opcode");
    v = stream;
    v.pop_back();
    refused(v, ShaderStage::Vertex, "no end token");
    v.resize(5);
    refused(v, ShaderStage::Vertex, "truncated instruction");
    v = stream;
    v[6] = 0x90E40010; // v16
    refused(v, ShaderStage::Vertex, "input register out of range");
    v = stream;
    v[5] = 0x800F0000; // writes r0, never oPos
    refused(v, ShaderStage::Vertex, "position never written");
    v = stream;
    v[6] = 0x70E40000 | 0x80000000; // a register type beyond the version's
    refused(v, ShaderStage::Vertex, "unknown register type");
    v = stream;
    v[4] |= 0x40000000;
    refused(v, ShaderStage::Vertex, "co-issue");

    constexpr auto unwritten = assemble(VS_1_1, mov(oPos, r3));
    refused({unwritten.begin(), unwritten.end()}, ShaderStage::Vertex, "unwritten temporary");
    constexpr auto twoConstants = assemble(VS_1_1, add(oPos, c0, c1));
    refused({twoConstants.begin(), twoConstants.end()}, ShaderStage::Vertex, "two constants");
    constexpr auto lateTex = assemble(PS_1_1, tex(t0), mov(r0, t0), tex(t1));
    refused({lateTex.begin(), lateTex.end()}, ShaderStage::Pixel, "tex after arithmetic");
    constexpr auto unsampled = assemble(PS_1_1, mov(r0, t2));
    refused({unsampled.begin(), unsampled.end()}, ShaderStage::Pixel, "t read unsampled");
    constexpr auto bigConstant = assemble(PS_1_1, mov(r0, Register(CONST, 8)));
    refused({bigConstant.begin(), bigConstant.end()}, ShaderStage::Pixel, "c8 in a pixel shader");
    constexpr auto partial = assemble(PS_1_1, def(c0, 1, 1, 1, 1), mov(r0.x, c0));
    refused({partial.begin(), partial.end()}, ShaderStage::Pixel, "r0 only partly written");
}

TEST(ShaderDecoder, SkipsCommentsAndReadsNoFurtherThanItsSpan) {
    std::vector<std::uint32_t> tokens = {VS_1_1, 0x0002FFFE, 0x12345678, 0x0000FFFF};
    const auto body = assemble(VS_1_1, dcl_position(v0), mov(oPos, v0));
    tokens.insert(tokens.end(), body.begin() + 1, body.end());
    EXPECT_EQ(decode(tokens, ShaderStage::Vertex), "");
    // A comment claiming more than the stream holds.
    EXPECT_NE(decode(std::vector<std::uint32_t>{VS_1_1, 0x7FFFFFFE, 0}, ShaderStage::Vertex), "");
}

} // namespace
} // namespace tessivane::platform::shader
