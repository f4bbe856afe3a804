// Three-component single-precision vectors, used as row vectors: p' = p · M.
#pragma once

namespace tessivane::math {

struct Matrix4;

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vector3() = default;
    constexpr Vector3(float x, float y, float z) : x(x), y(y), z(z) {}

    // Component-wise, in place; returns this vector.
    Vector3& operator+=(const Vector3& w);
    Vector3 operator-(const Vector3& w) const;
    Vector3 operator*(float s) const;

    // This point (w = 1) times m, divided by the resulting w unless that w is exactly 0.
    Vector3 transformCoord(const Matrix4& m) const;

    bool operator==(const Vector3&) const = default;
};

float vectorDot(const Vector3& a, const Vector3& b);
Vector3 vectorCross(const Vector3& a, const Vector3& b);
// v scaled to unit length; the zero vector comes back unchanged (no epsilon).
Vector3 vectorNormalize(const Vector3& v);

} // namespace tessivane::math
