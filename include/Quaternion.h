// Rotation quaternion (x, y, z, w): vector part first, scalar last, combined
// with the Hamilton product.
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"

// A rotation d applied after an existing rotation q is the product d x q.
// Plain value type: no heap data, copies by value. The default is the
// identity (0, 0, 0, 1).
class KESTREL_STANDARD_API Quaternion {
public:
    float x;  ///< vector part, default 0
    float y;  ///< vector part, default 0
    float z;  ///< vector part, default 0
    float w;  ///< scalar part, default 1

    Quaternion() : x(0.0f), y(0.0f), z(0.0f), w(1.0f) {}
    /// Rotation by `angle` radians about the axis (ax, ay, az), which need not
    /// be unit length. An axis of exactly zero length gives the identity.
    Quaternion(float ax, float ay, float az, float angle);

    /// Sets the identity (0, 0, 0, 1).
    void Identity();
    /// Multiplies all four components by 1 / sqrt(x^2 + y^2 + z^2 + w^2); a zero
    /// quaternion is not guarded.
    void Normalize();
    /// this = this x o (Hamilton product, this on the left).
    Quaternion& operator*=(Quaternion const& o);
    /// Rotation matrix that turns column vectors as v' = q v q* does. The
    /// quaternion is assumed to be of unit length; it is not normalised.
    Matrix4x4 ToMatrix() const;
};

/// Hamilton product a x b (a on the left).
inline Quaternion operator*(Quaternion const& a, Quaternion const& b) {
    Quaternion r;
    r.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
    r.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    r.y = a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x;
    r.z = a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w;
    return r;
}
