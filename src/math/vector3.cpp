#include "math/vector3.h"

#include "math/matrix4.h"

#include <cmath>

namespace tessivane::math {

Vector3& Vector3::operator+=(const Vector3& w) {
    x += w.x;
    y += w.y;
    z += w.z;
    return *this;
}

Vector3 Vector3::operator-(const Vector3& w) const {
    return {x - w.x, y - w.y, z - w.z};
}

Vector3 Vector3::operator*(float s) const {
    return {s * x, s * y, s * z};
}

Vector3 Vector3::transformCoord(const Matrix4& mat) const {
    const auto& m = mat.m;
    const float w = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
    const float tx = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
    const float ty = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
    const float tz = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
    // Only an exact zero skips the division; points on the eye plane stay affine.
    if (w == 0.0f) {
        return {tx, ty, tz};
    }
    return {tx / w, ty / w, tz / w};
}

float vectorDot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vector3 vectorCross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vector3 vectorNormalize(const Vector3& v) {
    // The squares are summed in single precision; only the root is taken in double, and the
    // length is kept, like every stored value, as a float.
    const float squared = v.x * v.x + v.y * v.y + v.z * v.z;
    const float length = static_cast<float>(std::sqrt(static_cast<double>(squared)));
    if (length == 0.0f) {
        return v;
    }
    const float inverse = 1.0f / length;
    return {v.x * inverse, v.y * inverse, v.z * inverse};
}

} // namespace tessivane::math
