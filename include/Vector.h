// Float vector value types in the conventions of the fixed-function GL pipeline.
// Vector4 defaults to the homogeneous origin (0, 0, 0, 1).
#pragma once

#include "KestrelExport.h"

// Two-component float vector. Plain value type: no heap data, copies by value.
// The components are stored contiguously (x, y) so that the conversion to
// float* hands out an array of two floats.
class KESTREL_STANDARD_API Vector2 {
public:
    float x;  ///< first component, default 0
    float y;  ///< second component, default 0

    Vector2() : x(0.0f), y(0.0f) {}
    Vector2(float x_, float y_) : x(x_), y(y_) {}
    /// Copies two floats from `v`.
    explicit Vector2(float* const v) : x(v[0]), y(v[1]) {}
    explicit Vector2(float const* const v) : x(v[0]), y(v[1]) {}

    Vector2& operator*=(float s) {
        x *= s;
        y *= s;
        return *this;
    }
    Vector2& operator+=(Vector2 const& o) {
        x += o.x;
        y += o.y;
        return *this;
    }
    Vector2& operator-=(Vector2 const& o) {
        x -= o.x;
        y -= o.y;
        return *this;
    }

    /// sqrt(x^2 + y^2).
    float Length() const;
    /// Scales x and y by 1 / Length(). A zero vector is not guarded.
    void Normalize();

    operator float*() { return &x; }
    operator float const*() const { return &x; }
};

// Three-component float vector (points, directions, extents).
class KESTREL_STANDARD_API Vector3 {
public:
    float x;  ///< default 0
    float y;  ///< default 0
    float z;  ///< default 0

    Vector3() : x(0.0f), y(0.0f), z(0.0f) {}
    Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
    /// Copies three floats from `v`.
    explicit Vector3(float* const v) : x(v[0]), y(v[1]), z(v[2]) {}
    explicit Vector3(float const* const v) : x(v[0]), y(v[1]), z(v[2]) {}

    Vector3& operator*=(float s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    Vector3& operator+=(Vector3 const& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vector3& operator-=(Vector3 const& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }

    /// sqrt(x^2 + y^2 + z^2).
    float Length() const;
    /// Scales all components by 1 / Length(). A zero vector is not guarded.
    void Normalize();

    operator float*() { return &x; }
    operator float const*() const { return &x; }
};

// Four-component float vector, usually a homogeneous point. The default is
// the origin (0, 0, 0, 1). Length and Normalize look at x, y, z only; the
// compound operators act on all four components.
class KESTREL_STANDARD_API Vector4 {
public:
    float x;  ///< default 0
    float y;  ///< default 0
    float z;  ///< default 0
    float w;  ///< default 1 (homogeneous point)

    KESTREL_HOST_DEVICE Vector4() : x(0.0f), y(0.0f), z(0.0f), w(1.0f) {}
    KESTREL_HOST_DEVICE Vector4(float x_, float y_, float z_, float w_)
        : x(x_), y(y_), z(z_), w(w_) {}
    /// Copies four floats from `v`.
    explicit Vector4(float* const v) : x(v[0]), y(v[1]), z(v[2]), w(v[3]) {}
    explicit Vector4(float const* const v) : x(v[0]), y(v[1]), z(v[2]), w(v[3]) {}

    Vector4& operator*=(float s) {
        x *= s;
        y *= s;
        z *= s;
        w *= s;
        return *this;
    }
    Vector4& operator+=(Vector4 const& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        w += o.w;
        return *this;
    }
    Vector4& operator-=(Vector4 const& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        w -= o.w;
        return *this;
    }

    /// sqrt(x^2 + y^2 + z^2): w is not counted.
    float Length() const;
    /// Scales x, y, z by 1 / sqrt(x^2 + y^2 + z^2); w is unchanged.
    void Normalize();

    KESTREL_HOST_DEVICE operator float*() { return &x; }
    KESTREL_HOST_DEVICE operator float const*() const { return &x; }
};

static_assert(sizeof(Vector2) == 2 * sizeof(float), "Vector2 must be two packed floats");
static_assert(sizeof(Vector3) == 3 * sizeof(float), "Vector3 must be three packed floats");
static_assert(sizeof(Vector4) == 4 * sizeof(float), "Vector4 must be four packed floats");
