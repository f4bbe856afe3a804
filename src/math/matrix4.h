// 4x4 single-precision matrices in the row-major, row-vector convention the 3D device
// takes unchanged: element m[r][c] is m(r+1)(c+1), translation sits in the fourth row,
// and A · B applies A first.
#pragma once

#include "math/vector3.h"

#include <cstring>

namespace tessivane::math {

struct Matrix4 {
    float m[4][4];

    // The identity.
    constexpr Matrix4() : m{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}} {}
    // The sixteen elements row by row: m11 m12 m13 m14 m21 ... m44.
    constexpr Matrix4(float f11, float f12, float f13, float f14, float f21, float f22, float f23,
                      float f24, float f31, float f32, float f33, float f34, float f41, float f42,
                      float f43, float f44)
        : m{{f11, f12, f13, f14},
            {f21, f22, f23, f24},
            {f31, f32, f33, f34},
            {f41, f42, f43, f44}} {}

    // R = this · b, each element summed left to right in single precision.
    Matrix4 operator*(const Matrix4& b) const;

    bool operator==(const Matrix4&) const = default;
};

static_assert(sizeof(Matrix4) == 64, "handed to the device as 16 packed floats");

// The matrix as any record of sixteen floats in the same order, such as the device's own
// matrix record, which takes our matrices unchanged.
template <class Record>
Record matrixRecord(const Matrix4& m) {
    static_assert(sizeof(Record) == sizeof(Matrix4));
    Record r;
    std::memcpy(&r, &m, sizeof r);
    return r;
}

Matrix4 matrixTranslation(const Vector3& v);
Matrix4 matrixTranspose(const Matrix4& m);
// Rotation by angle (radians) about an axis through the origin. The axis is used as given,
// not normalised.
Matrix4 matrixRotationAxis(float angle, const Vector3& axis);
// View matrix of a camera at eye looking at at. up becomes the second axis exactly as passed:
// it is neither orthogonalised nor normalised.
Matrix4 matrixLookAt(const Vector3& eye, const Vector3& at, const Vector3& up);
// The show's one projection: 45° vertical field of view, 4:3, near 1, far 1001, left-handed.
Matrix4 matrixProjection();

} // namespace tessivane::math
