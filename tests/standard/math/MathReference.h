// Double-precision reference formulas for the math tests, written from the
// textbook definitions (vector form of the quaternion product, v' = q v q*,
// Gaussian elimination) rather than from the code under test.
#pragma once

#include <array>
#include <cmath>
#include <random>
#include <utility>

#include "Matrix4x4.h"
#include "Quaternion.h"

namespace mathref {

struct Quat {
    double x, y, z, w;
};

// (a.w, a.v)(b.w, b.v) = (a.w b.w - a.v.b.v, a.w b.v + b.w a.v + a.v x b.v)
inline Quat Mul(Quat const& a, Quat const& b) {
    Quat r;
    r.w = a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z);
    r.x = a.w * b.x + b.w * a.x + (a.y * b.z - a.z * b.y);
    r.y = a.w * b.y + b.w * a.y + (a.z * b.x - a.x * b.z);
    r.z = a.w * b.z + b.w * a.z + (a.x * b.y - a.y * b.x);
    return r;
}

inline Quat FromFloat(Quaternion const& q) {
    return Quat{q.x, q.y, q.z, q.w};
}

// v' = q (v, 0) q*
inline std::array<double, 3> Rotate(Quat const& q, std::array<double, 3> const& v) {
    Quat const p{v[0], v[1], v[2], 0.0};
    Quat const conj{-q.x, -q.y, -q.z, q.w};
    Quat const r = Mul(Mul(q, p), conj);
    return {r.x, r.y, r.z};
}

using Mat = std::array<double, 16>;  // row-major: a[r * 4 + c]

inline Mat FromMatrix(Matrix4x4 const& m) {
    Mat a{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            a[r * 4 + c] = m.m[c * 4 + r];
    return a;
}

inline Mat Mul(Mat const& a, Mat const& b) {
    Mat r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k)
                s += a[i * 4 + k] * b[k * 4 + j];
            r[i * 4 + j] = s;
        }
    return r;
}

// Determinant by Gaussian elimination with partial pivoting.
inline double Determinant(Mat a) {
    double det = 1.0;
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r * 4 + col]) > std::fabs(a[pivot * 4 + col])) pivot = r;
        if (a[pivot * 4 + col] == 0.0) return 0.0;
        if (pivot != col) {
            for (int c = 0; c < 4; ++c)
                std::swap(a[col * 4 + c], a[pivot * 4 + c]);
            det = -det;
        }
        det *= a[col * 4 + col];
        for (int r = col + 1; r < 4; ++r) {
            double const f = a[r * 4 + col] / a[col * 4 + col];
            for (int c = col; c < 4; ++c)
                a[r * 4 + c] -= f * a[col * 4 + c];
        }
    }
    return det;
}

// Random float matrix with entries in [-2, 2].
inline Matrix4x4 RandomMatrix(std::mt19937& rng) {
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    Matrix4x4 m;
    for (float& e : m.m)
        e = d(rng);
    return m;
}

// Random unit quaternion from a random axis and angle.
inline Quaternion RandomRotation(std::mt19937& rng) {
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::uniform_real_distribution<float> angle(-3.1f, 3.1f);
    float ax, ay, az;
    do {
        ax = d(rng);
        ay = d(rng);
        az = d(rng);
    } while (ax * ax + ay * ay + az * az < 0.01f);
    return Quaternion(ax, ay, az, angle(rng));
}

}  // namespace mathref
