#include "math/random.h"
#include "structures/object_structure.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace tessivane::structures {
namespace {

math::Matrix4 placementWithM11(float m11) {
    math::Matrix4 m;
    m.m[0][0] = m11;
    return m;
}

TEST(StructureGrowth, SeedsFromTheWholePartOfM11TimesHundred) {
    for (float m11 : {0.4567f, -0.4567f}) {
        ObjectStructure s;
        EXPECT_EQ(s.generate(nullptr, placementWithM11(m11)), platform::E_FAIL); // no device
        math::seedRandom(static_cast<std::uint32_t>(m11 > 0 ? 45 : -45));
        const float r[5] = {float(math::drawRandom()), float(math::drawRandom()),
                            float(math::drawRandom()), float(math::drawRandom()),
                            float(math::drawRandom())};
        EXPECT_EQ(s.root.pitch, 0.7853982f + (r[0] * 6.103702e-06f - 0.2f));
        EXPECT_EQ(s.root.yaw, 2.1991148f + (r[1] * 6.103702e-06f - 0.2f));
        EXPECT_EQ(s.root.twist, 0.010995575f + (r[2] * 6.1037015e-09f - 0.0002f));
        EXPECT_EQ(s.root.childCount, 12 + static_cast<int>(r[3] * 0.00018311106f - 6.0f));
        EXPECT_EQ(s.spinSpeed, r[4] * 1.9175345e-06f);
        EXPECT_EQ(s.baseMatrix, placementWithM11(m11));
    }
}

int countNodes(const BranchNode& node) {
    int n = 1;
    for (const auto& child : node.children) {
        n += countNodes(*child);
    }
    return n;
}

TEST(StructureGrowth, ATwelveBranchTreeHas121NodesAnd968Segments) {
    ObjectStructure s;
    s.buildChildren(s.root);
    EXPECT_EQ(countNodes(s.root), 121);
    EXPECT_EQ(s.totalSegments, 968);
    ASSERT_EQ(s.root.children.size(), 12u);
    const BranchNode& branch = *s.root.children[0];
    EXPECT_EQ(branch.depth, 1);
    EXPECT_EQ(branch.childCount, 9);
    EXPECT_FLOAT_EQ(branch.length, 6.5f);
    EXPECT_FLOAT_EQ(branch.radiusStart, 0.3f);
    EXPECT_FLOAT_EQ(branch.twist, 0.010995575f * 3.5f);
    const BranchNode& twig = *branch.children[0];
    EXPECT_EQ(twig.depth, 2);
    EXPECT_TRUE(twig.children.empty());
    EXPECT_FLOAT_EQ(twig.radiusEnd, 0.075f);
    // A twig at its branch's 40 % mark is 21.125 / d long, d = 0.4 · 6.5.
    EXPECT_FLOAT_EQ(twig.length, 21.125f / (0.4f * 6.5f));

    std::vector<TubeVertex> vertices(8 * s.totalSegments * 3);
    EXPECT_EQ(s.writeNodeVertices(vertices.data(), s.root), 15488);
    EXPECT_EQ(15488, 2 * s.ringVertices * s.totalSegments);
}

TEST(StructureGrowth, ChildrenAttachFromFortyPercentToTheTip) {
    ObjectStructure s;
    s.root.twist = 0.0f; // a straight trunk: attachment heights read straight off
    s.root.pitch = 0.0f;
    s.buildChildren(s.root);
    // Child 0: d = 2, three whole segments, y0 = 0: at height 3 · 0.625.
    const math::Matrix4& first = s.root.children[0]->matrix;
    EXPECT_NEAR(first.m[3][1], 3 * 0.625f, 1e-5f);
    // The last child: d = 5, all eight segments, at the tip.
    const math::Matrix4& last = s.root.children[11]->matrix;
    EXPECT_NEAR(last.m[3][1], 5.0f, 1e-5f);
}

TEST(StructureStrips, EveryStripClosesOnItsFirstPair) {
    ObjectStructure s;
    s.root.childCount = 6;
    s.buildChildren(s.root);
    std::vector<TubeVertex> vertices(8 * s.totalSegments * 3);
    const int written = s.writeNodeVertices(vertices.data(), s.root);
    ASSERT_EQ(written, 16 * s.totalSegments);
    for (int strip = 0; strip < s.totalSegments; ++strip) {
        const TubeVertex* v = &vertices[16 * strip];
        for (int pair = 0; pair < 2; ++pair) {
            const TubeVertex& a = v[pair];
            const TubeVertex& b = v[14 + pair];
            EXPECT_NEAR(a.x, b.x, 1e-4f);
            EXPECT_NEAR(a.y, b.y, 1e-4f);
            EXPECT_NEAR(a.z, b.z, 1e-4f);
            EXPECT_EQ(a.nx, b.nx);
            EXPECT_EQ(a.ny, b.ny);
            EXPECT_EQ(a.nz, b.nz);
            EXPECT_NEAR(a.nx * a.nx + a.ny * a.ny + a.nz * a.nz, 1.0f, 1e-4f);
        }
        // The two vertices of a pair share their normal.
        EXPECT_EQ(v[4].nx, v[5].nx);
    }
    // The trunk's first ring has radius 0.6 at its base.
    EXPECT_NEAR(std::hypot(vertices[0].x, vertices[0].z), 0.6f, 1e-5f);
    EXPECT_NEAR(vertices[1].y, 0.625f, 1e-5f);
}

} // namespace
} // namespace tessivane::structures
