#include "math/matrix4.h"

#include <cmath>

namespace tessivane::math {

Matrix4 Matrix4::operator*(const Matrix4& b) const {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = m[i][0] * b.m[0][j] + m[i][1] * b.m[1][j] + m[i][2] * b.m[2][j] +
                        m[i][3] * b.m[3][j];
        }
    }
    return r;
}

Matrix4 matrixTranslation(const Vector3& v) {
    Matrix4 r;
    r.m[3][0] = v.x;
    r.m[3][1] = v.y;
    r.m[3][2] = v.z;
    return r;
}

Matrix4 matrixTranspose(const Matrix4& a) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a.m[j][i];
        }
    }
    return r;
}

Matrix4 matrixRotationAxis(float angle, const Vector3& axis) {
    // Sine and cosine in double, rounded to float before any use.
    const float c = static_cast<float>(std::cos(static_cast<double>(angle)));
    const float s = static_cast<float>(std::sin(static_cast<double>(angle)));
    const float t = 1.0f - c;
    const float x = axis.x;
    const float y = axis.y;
    const float z = axis.z;
    return {t * x * x + c,
            t * x * y + s * z,
            t * x * z - s * y,
            0.0f,
            t * x * y - s * z,
            t * y * y + c,
            t * y * z + s * x,
            0.0f,
            t * x * z + s * y,
            t * y * z - s * x,
            t * z * z + c,
            0.0f,
            0.0f,
            0.0f,
            0.0f,
            1.0f};
}

Matrix4 matrixLookAt(const Vector3& eye, const Vector3& at, const Vector3& up) {
    const Vector3 z = vectorNormalize(at - eye);
    const Vector3 x = vectorNormalize(vectorCross(z, up));
    return {x.x,
            up.x,
            z.x,
            0.0f,
            x.y,
            up.y,
            z.y,
            0.0f,
            x.z,
            up.z,
            z.z,
            0.0f,
            -vectorDot(x, eye),
            -vectorDot(up, eye),
            -vectorDot(z, eye),
            1.0f};
}

Matrix4 matrixProjection() {
    // Stored decimals, not computed: 2.41421 = cot 22.5° (45° vertical field of view),
    // 1.81066 = 2.41421 · 3/4 (the 4:3 display), 1.001 = 1001/1000 (near 1, far 1001).
    // m34 = 1 and m44 = 0 make w the view-space depth.
    Matrix4 r(0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
              0.0f, 0.0f);
    r.m[0][0] = 1.81066f;
    r.m[1][1] = 2.41421f;
    r.m[2][2] = 1.001f;
    r.m[2][3] = 1.0f;
    r.m[3][2] = -1.001f;
    return r;
}

} // namespace tessivane::math
