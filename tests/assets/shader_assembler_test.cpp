#include "shaders/shader_assembler.h"
#include "shaders/show_shaders.h"

#include <gtest/gtest.h>
#include <vector>

namespace tessivane::shaders {
namespace {

using namespace registers;

template <std::size_t N>
std::vector<Word> words(const Instruction<N>& instruction) {
    return {instruction.words.begin(), instruction.words.end()};
}

// Token words worked out by hand from the documented token layouts.
TEST(ShaderAssembler, EncodesInstructionsAsDocumented) {
    EXPECT_EQ(words(dcl_position(v0)), (std::vector<Word>{0x0000001F, 0x80000000, 0x900F0000}));
    EXPECT_EQ(words(dcl_normal(v1)), (std::vector<Word>{0x0000001F, 0x80000003, 0x900F0001}));
    EXPECT_EQ(words(dcl_texcoord(v2)), (std::vector<Word>{0x0000001F, 0x80000005, 0x900F0002}));
    EXPECT_EQ(words(dp4(oPos.x, v0, c0)),
              (std::vector<Word>{0x00000009, 0xC0010000, 0x90E40000, 0xA0E40000}));
    EXPECT_EQ(words(add(r2, c14, -r1)),
              (std::vector<Word>{0x00000002, 0x800F0002, 0xA0E4000E, 0x81E40001}));
    EXPECT_EQ(words(rsq(r0.w, r0.w)), (std::vector<Word>{0x00000007, 0x80080000, 0x80FF0000}));
    EXPECT_EQ(words(mul(r0, r0, r0.w)),
              (std::vector<Word>{0x00000005, 0x800F0000, 0x80E40000, 0x80FF0000}));
    EXPECT_EQ(words(mul(r0, c1.x, r2)),
              (std::vector<Word>{0x00000005, 0x800F0000, 0xA0000001, 0x80E40002}));
    EXPECT_EQ(words(mov(oT0.x, r1)), (std::vector<Word>{0x00000001, 0xE0010000, 0x80E40001}));
    EXPECT_EQ(words(def(c1, 0.1f, 0.1f, 0.1f, 0.1f)),
              (std::vector<Word>{0x00000051, 0xA00F0001, 0x3DCCCCCD, 0x3DCCCCCD, 0x3DCCCCCD,
                                 0x3DCCCCCD}));
    EXPECT_EQ(words(tex(t0)), (std::vector<Word>{0x00000042, 0xB00F0000}));
    EXPECT_EQ(words(add(r0, t0, c1)),
              (std::vector<Word>{0x00000002, 0x800F0000, 0xB0E40000, 0xA0E40001}));
    EXPECT_EQ(words(mad(r0, t1, c1, r0)),
              (std::vector<Word>{0x00000004, 0x800F0000, 0xB0E40001, 0xA0E40001, 0x80E40000}));
    EXPECT_EQ(words(mov(oT3.xy, v1)), (std::vector<Word>{0x00000001, 0xE0030003, 0x90E40001}));
    EXPECT_EQ(words(mov(r0, r1.swizzled(W, Z, Y, X))),
              (std::vector<Word>{0x00000001, 0x800F0000, 0x801B0001}));
}

TEST(ShaderAssembler, StreamsRunFromVersionToEnd) {
    constexpr auto stream = assemble(PS_1_3, tex(t0), tex(t1), add(r0, t0, t1));
    EXPECT_EQ(stream.size(), 10u);
    EXPECT_EQ(stream.front(), 0xFFFF0103u);
    EXPECT_EQ(stream.back(), 0x0000FFFFu);
    for (auto program : {metaballVertexShader(0), metaballVertexShader(1), metaballVertexShader(2),
                         tubeVertexShader()}) {
        EXPECT_EQ(program.front(), VS_1_1);
        EXPECT_EQ(program.back(), END_TOKEN);
    }
    EXPECT_EQ(metaballPixelShader(0).front(), PS_1_1);
    EXPECT_EQ(metaballPixelShader(1).front(), PS_1_3);
    EXPECT_EQ(metaballPixelShader(2).size(), 10u);
    // The tube shader: 3 declarations and 20 instructions.
    EXPECT_EQ(tubeVertexShader().size(),
              2u + 3 * 3 + 4 * 4 + 3 * 4 + 4 + 3 + 4 + 4 * 4 + 4 + 4 + 3 + 4 + 4 + 3);
}

} // namespace
} // namespace tessivane::shaders
