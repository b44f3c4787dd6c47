// 4x4 float matrix in GL layout: column-major storage, maps column vectors
// (v' = M v), handed to glLoadMatrixf unchanged.
#pragma once

#include "KestrelExport.h"
#include "Vector.h"

// Storage layout (16 floats, 64 bytes): element (row r, column c) sits at
// m[c * 4 + r], so a translation lives in m[12], m[13], m[14]:
//
//   | m0 m4 m8  m12 |
//   | m1 m5 m9  m13 |
//   | m2 m6 m10 m14 |
//   | m3 m7 m11 m15 |
//
// Plain value type: no heap data, copies by value. The conversion to float*
// yields m, so `M[12]` reads the x translation.
class KESTREL_STANDARD_API Matrix4x4 {
public:
    float m[16];  ///< column-major elements, default identity

    /// Identity.
    Matrix4x4();
    /// Arguments in storage order: the first four are the first column.
    Matrix4x4(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
              float m8, float m9, float m10, float m11, float m12, float m13, float m14, float m15);

    /// Sets the identity.
    void IdentityMatrix();

    Matrix4x4& operator*=(float s);
    Matrix4x4& operator+=(Matrix4x4 const& o);
    Matrix4x4& operator-=(Matrix4x4 const& o);
    /// this = this x o: `o` acts first on a vector.
    Matrix4x4& operator*=(Matrix4x4 const& o);

    /// Transposes in place.
    void Transpose();
    /// Inverts in place by adjugate / determinant and returns the determinant.
    /// A determinant of exactly 0 returns 0 and leaves the matrix unchanged.
    float Inverse();

    /// Identity with m12, m13, m14 = x, y, z.
    static Matrix4x4 TranslateMatrix(float x, float y, float z);
    /// Diagonal (x, y, z, 1).
    static Matrix4x4 ScaleMatrix(float x, float y, float z);
    /// Right-handed rotation by `angle` radians about the axis (x, y, z), which
    /// need not be unit length; a zero axis gives the identity.
    static Matrix4x4 RotateMatrix(float angle, float x, float y, float z);

    operator float*() { return m; }
    operator float const*() const { return m; }
};

/// Standard product a x b: element (r, c) = sum_k a(r, k) b(k, c); b acts
/// first on a vector.
inline Matrix4x4 operator*(Matrix4x4 const& a, Matrix4x4 const& b) {
    Matrix4x4 r;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            r.m[c * 4 + row] =
                a.m[0 * 4 + row] * b.m[c * 4 + 0] + a.m[1 * 4 + row] * b.m[c * 4 + 1] +
                a.m[2 * 4 + row] * b.m[c * 4 + 2] + a.m[3 * 4 + row] * b.m[c * 4 + 3];
        }
    }
    return r;
}

/// r = M v with v a column vector; all four rows, w is not divided out.
inline Vector4 operator*(Matrix4x4 const& a, Vector4 const& v) {
    float const* m = a.m;
    return Vector4(m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12] * v.w,
                   m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13] * v.w,
                   m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14] * v.w,
                   m[3] * v.x + m[7] * v.y + m[11] * v.z + m[15] * v.w);
}
