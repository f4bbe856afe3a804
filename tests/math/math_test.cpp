#include "math/matrix4.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace tessivane::math {
namespace {

// Bitwise equality: the math is specified to the last bit.
void expectSameBits(float expected, float actual) {
    std::uint32_t a, b;
    std::memcpy(&a, &expected, 4);
    std::memcpy(&b, &actual, 4);
    EXPECT_EQ(a, b) << expected << " vs " << actual;
}

void expectVector(const Vector3& v, float x, float y, float z) {
    expectSameBits(x, v.x);
    expectSameBits(y, v.y);
    expectSameBits(z, v.z);
}

// Value equality (+0 equals -0), for results whose zero signs carry no meaning.
void expectRowValues(const Matrix4& m, int row, float a, float b, float c, float d) {
    SCOPED_TRACE(row);
    EXPECT_EQ(a, m.m[row][0]);
    EXPECT_EQ(b, m.m[row][1]);
    EXPECT_EQ(c, m.m[row][2]);
    EXPECT_EQ(d, m.m[row][3]);
}

void expectRow(const Matrix4& m, int row, float a, float b, float c, float d) {
    SCOPED_TRACE(row);
    expectSameBits(a, m.m[row][0]);
    expectSameBits(b, m.m[row][1]);
    expectSameBits(c, m.m[row][2]);
    expectSameBits(d, m.m[row][3]);
}

Matrix4 sample() {
    return {1.5f,  -2.0f, 0.25f, 3.0f, 4.0f,   0.5f, -1.0f, 2.0f,
            -3.0f, 7.0f,  1.0f,  0.0f, 0.125f, 9.0f, -6.0f, 1.0f};
}

TEST(Vector, ArithmeticAndProducts) {
    Vector3 v(1, 2, 3);
    Vector3& same = (v += Vector3(0.5f, -2, 1));
    EXPECT_EQ(&same, &v);
    expectVector(v, 1.5f, 0.0f, 4.0f);
    expectVector(v - Vector3(1, 1, 1), 0.5f, -1.0f, 3.0f);
    expectVector(v * 2.0f, 3.0f, 0.0f, 8.0f);
    EXPECT_EQ(vectorDot({1, 2, 3}, {4, -5, 6}), 12.0f);
    expectVector(vectorCross({1, 0, 0}, {0, 1, 0}), 0, 0, 1);
    expectVector(vectorCross({0, 0, 1}, {1, 0, 0}), 0, 1, 0);
    expectVector(vectorCross({0, 1, 0}, {1, 0, 0}), 0, 0, -1);
}

TEST(Vector, NormaliseTakesTheRootInDoubleAndScalesByTheInverseLength) {
    expectVector(vectorNormalize({0, 0, 0}), 0, 0, 0);
    expectVector(vectorNormalize({3, 0, 4}), 3 * (1.0f / 5.0f), 0, 4 * (1.0f / 5.0f));
    // A length whose float root differs from the rounded double root shows which was used.
    const Vector3 v(1.0f, 1.0f, 1.0f);
    const float length = static_cast<float>(std::sqrt(3.0));
    expectVector(vectorNormalize(v), 1.0f / length, 1.0f / length, 1.0f / length);
    // Tiny vectors still normalise: there is no epsilon.
    const Vector3 tiny = vectorNormalize({1e-10f, 0, 0});
    EXPECT_FLOAT_EQ(tiny.x, 1.0f);
}

TEST(Vector, TransformCoordDividesOnlyByANonZeroW) {
    // Under the projection a point on the eye plane has w exactly 0 and stays undivided.
    expectVector(Vector3(1, 1, 0).transformCoord(matrixProjection()), 1.81066f, 2.41421f, -1.001f);
    // In front of the eye the result is divided by the view depth.
    const Vector3 p = Vector3(2, 1, 10).transformCoord(matrixProjection());
    expectSameBits(2 * 1.81066f / 10.0f, p.x);
    expectSameBits(2.41421f / 10.0f, p.y);
    expectSameBits((10 * 1.001f + -1.001f) / 10.0f, p.z);
    // Translation sits in the fourth row.
    expectVector(Vector3(1, 2, 3).transformCoord(matrixTranslation({10, 20, 30})), 11, 22, 33);
}

TEST(Matrix, IdentityProductAndTranspose) {
    const Matrix4 m = sample();
    EXPECT_EQ(Matrix4() * m, m);
    EXPECT_EQ(m * Matrix4(), m);
    EXPECT_EQ(matrixTranspose(matrixTranspose(m)), m);
    expectRow(matrixTranspose(m), 0, 1.5f, 4.0f, -3.0f, 0.125f);
    // A · B applies A first: translate then rotate differs from rotate then translate.
    const Matrix4 move = matrixTranslation({1, 0, 0});
    const Matrix4 turn = matrixRotationAxis(1.5707964f, {0, 1, 0});
    const Vector3 a = Vector3(0, 0, 0).transformCoord(move * turn);
    const Vector3 b = Vector3(0, 0, 0).transformCoord(turn * move);
    EXPECT_NEAR(a.z, -1.0f, 1e-6f);
    EXPECT_NEAR(b.x, 1.0f, 1e-6f);
    // Row i of the product is row i of A combined with B's rows.
    const Matrix4 p = m * turn;
    expectSameBits(m.m[1][0] * turn.m[0][2] + m.m[1][1] * turn.m[1][2] + m.m[1][2] * turn.m[2][2] +
                       m.m[1][3] * turn.m[3][2],
                   p.m[1][2]);
}

TEST(Matrix, RotationFollowsTheRowVectorConvention) {
    // +π/2 about +y carries +x to -z.
    const Vector3 r = Vector3(1, 0, 0).transformCoord(matrixRotationAxis(1.5707964f, {0, 1, 0}));
    EXPECT_NEAR(r.x, 0.0f, 1e-6f);
    EXPECT_NEAR(r.z, -1.0f, 1e-6f);
    // Sine and cosine come from double precision, rounded once.
    const float angle = 0.3f;
    const float c = static_cast<float>(std::cos(static_cast<double>(angle)));
    const float s = static_cast<float>(std::sin(static_cast<double>(angle)));
    const Matrix4 z = matrixRotationAxis(angle, {0, 0, 1});
    expectRow(z, 0, (1 - c) * 0 * 0 + c, (1 - c) * 0 * 0 + s * 1, 0 - s * 0, 0);
    expectRow(z, 1, -s, c, 0, 0);
    expectRow(z, 3, 0, 0, 0, 1);
}

TEST(Matrix, RotationDoesNotNormaliseItsAxis) {
    const Matrix4 m = matrixRotationAxis(0.0f, {0, 2, 0});
    // t = 0 at angle 0 hides the axis; any other angle shows the unnormalised axis.
    EXPECT_EQ(m, Matrix4());
    const Matrix4 n = matrixRotationAxis(1.0f, {0, 2, 0});
    const float c = static_cast<float>(std::cos(1.0));
    expectSameBits((1.0f - c) * 2.0f * 2.0f + c, n.m[1][1]); // > 1: not a rotation
    EXPECT_GT(n.m[1][1], 1.0f);
}

TEST(Matrix, LookAtBuildsTheViewFromTheGivenUp) {
    const Matrix4 v = matrixLookAt({0, 0, 15}, {0, 0, 0}, {0, 1, 0});
    expectRowValues(v, 0, 1, 0, 0, 0);
    expectRowValues(v, 1, 0, 1, 0, 0);
    expectRowValues(v, 2, 0, 0, -1, 0);
    expectRowValues(v, 3, 0, 0, 15, 1);
    expectVector(Vector3(0, 0, 0).transformCoord(v), 0, 0, 15);

    // Eye on the target: z and x stay zero; the up vector still fills the second column.
    const Matrix4 degenerate = matrixLookAt({1, 2, 3}, {1, 2, 3}, {0, 1, 0});
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(degenerate.m[r][0], 0.0f);
        EXPECT_EQ(degenerate.m[r][2], 0.0f);
    }
    EXPECT_EQ(degenerate.m[1][1], 1.0f);
    EXPECT_EQ(degenerate.m[3][1], -2.0f);

    // An up vector that is not perpendicular to the view is kept as passed: a sheared view.
    const Matrix4 sheared = matrixLookAt({0, 0, 0}, {0, 0, 1}, {0, 2, 1});
    expectRowValues(sheared, 0, -1, 0, 0, 0);
    expectRowValues(sheared, 1, 0, 2, 0, 0);
    expectRowValues(sheared, 2, 0, 1, 1, 0);
}

TEST(Matrix, ProjectionHoldsTheStoredDecimals) {
    const Matrix4 p = matrixProjection();
    expectRow(p, 0, 1.81066f, 0, 0, 0);
    expectRow(p, 1, 0, 2.41421f, 0, 0);
    expectRow(p, 2, 0, 0, 1.001f, 1.0f);
    expectRow(p, 3, 0, 0, -1.001f, 0);
}

} // namespace
} // namespace tessivane::math
