// Test volumes and double-precision reference formulas for the kernel frame, the ray set-up and
// the min/max grid tests. The references are written from the definitions (weights of the eight
// corners, slab intersection, Gauss-Jordan inverse), not from the code under test.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "CoherentVolume.h"
#include "Matrix4x4.h"
#include "VolumeData.h"

namespace frametest {

// A float volume with its dense values kept for reference computations.
struct TestVolume {
    int dims[3];
    float spacing[3];
    std::vector<float> values;  // x fastest, then y, then z
    CoherentVolume volume;

    float At(int i, int j, int k) const {
        return values[std::size_t(i) +
                      std::size_t(dims[0]) * (std::size_t(j) + std::size_t(dims[1]) * k)];
    }
    // Voxel with each index clamped to the volume.
    double Clamped(int i, int j, int k) const {
        i = std::min(std::max(i, 0), dims[0] - 1);
        j = std::min(std::max(j, 0), dims[1] - 1);
        k = std::min(std::max(k, 0), dims[2] - 1);
        return At(i, j, k);
    }
    // Trilinear interpolant at (x, y, z) after clamping to [0, dim - 1]: the sum over the eight
    // corners of value times the product of the three 1-D weights.
    double Trilinear(double x, double y, double z) const {
        const double p[3] = {std::min(std::max(x, 0.0), double(dims[0] - 1)),
                             std::min(std::max(y, 0.0), double(dims[1] - 1)),
                             std::min(std::max(z, 0.0), double(dims[2] - 1))};
        int base[3];
        double f[3];
        for (int a = 0; a < 3; ++a) {
            base[a] = int(std::floor(p[a]));
            f[a] = p[a] - base[a];
        }
        double sum = 0.0;
        for (int corner = 0; corner < 8; ++corner) {
            double weight = 1.0;
            int index[3];
            for (int a = 0; a < 3; ++a) {
                const int bit = (corner >> a) & 1;
                weight *= bit ? f[a] : 1.0 - f[a];
                index[a] = base[a] + bit;
            }
            if (weight != 0.0) sum += weight * Clamped(index[0], index[1], index[2]);
        }
        return sum;
    }
};

// Builds a dtFloat32 volume from values (x fastest) with the given block size.
inline std::unique_ptr<TestVolume> MakeVolume(const int dims[3], const float spacing[3],
                                              std::vector<float> values, int blockEdge = 4) {
    std::unique_ptr<TestVolume> v(new TestVolume);
    std::copy(dims, dims + 3, v->dims);
    std::copy(spacing, spacing + 3, v->spacing);
    v->values = std::move(values);
    VolumeData data;
    data.SetDataType(VolumeData::dtFloat32);
    data.SetDimensions(dims);
    data.SetSpacings(spacing);
    data.Allocate();
    std::memcpy(data.GetData(), v->values.data(), v->values.size() * sizeof(float));
    const int block[3] = {blockEdge, blockEdge, blockEdge};
    v->volume.SetBlockSize(block);
    v->volume.SetData(&data);
    return v;
}

// Uniformly random values in [lo, hi).
inline std::unique_ptr<TestVolume> MakeRandomVolume(const int dims[3], const float spacing[3],
                                                    std::mt19937& rng, float lo = 0.f,
                                                    float hi = 100.f, int blockEdge = 4) {
    std::uniform_real_distribution<float> value(lo, hi);
    std::vector<float> values(std::size_t(dims[0]) * dims[1] * dims[2]);
    for (float& x : values)
        x = value(rng);
    return MakeVolume(dims, spacing, std::move(values), blockEdge);
}

// ---- double-precision 4x4 matrices, column-major like Matrix4x4 ----

using Mat = std::array<double, 16>;
using Vec = std::array<double, 4>;

inline Mat Identity() {
    Mat m{};
    m[0] = m[5] = m[10] = m[15] = 1.0;
    return m;
}
inline Mat Mul(const Mat& a, const Mat& b) {
    Mat r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row)
            for (int k = 0; k < 4; ++k)
                r[c * 4 + row] += a[k * 4 + row] * b[c * 4 + k];
    return r;
}
inline Vec Apply(const Mat& m, const Vec& v) {
    Vec r{};
    for (int row = 0; row < 4; ++row)
        for (int k = 0; k < 4; ++k)
            r[row] += m[k * 4 + row] * v[k];
    return r;
}
// Gauss-Jordan with partial pivoting.
inline Mat Invert(const Mat& m) {
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            a[r][c] = m[c * 4 + r];
            a[r][c + 4] = r == c ? 1.0 : 0.0;
        }
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        for (int k = 0; k < 8; ++k)
            std::swap(a[c][k], a[pivot][k]);
        const double inv = 1.0 / a[c][c];
        for (int k = 0; k < 8; ++k)
            a[c][k] *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            const double f = a[r][c];
            for (int k = 0; k < 8; ++k)
                a[r][k] -= f * a[c][k];
        }
    }
    Mat r;
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c)
            r[c * 4 + row] = a[row][c + 4];
    return r;
}
inline Matrix4x4 ToFloat(const Mat& m) {
    Matrix4x4 r;
    for (int i = 0; i < 16; ++i)
        r.m[i] = float(m[i]);
    return r;
}
inline Mat ToDouble(const Matrix4x4& m) {
    Mat r;
    for (int i = 0; i < 16; ++i)
        r[i] = m.m[i];
    return r;
}
inline Mat Translation(double x, double y, double z) {
    Mat m = Identity();
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}
// Right-handed rotation by angle about the unit axis (x, y, z) (Rodrigues).
inline Mat Rotation(double angle, double x, double y, double z) {
    const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    Mat m = Identity();
    m[0] = t * x * x + c;
    m[1] = t * x * y + s * z;
    m[2] = t * x * z - s * y;
    m[4] = t * x * y - s * z;
    m[5] = t * y * y + c;
    m[6] = t * y * z + s * x;
    m[8] = t * x * z + s * y;
    m[9] = t * y * z - s * x;
    m[10] = t * z * z + c;
    return m;
}
// Symmetric perspective projection (field of view in degrees), GL convention.
inline Mat Perspective(double fovyDegrees, double aspect, double zNear, double zFar) {
    const double f = 1.0 / std::tan(fovyDegrees * M_PI / 360.0);
    Mat m{};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1.0;
    m[14] = 2.0 * zFar * zNear / (zNear - zFar);
    return m;
}

// Window position (x, y, depth) of a physical point for a camera whose model space is physical
// space shifted by minus half the box size.
inline std::array<double, 3> ProjectToWindow(const Mat& view, const Mat& projection,
                                             const double size[3], const int viewport[2],
                                             const double physical[3]) {
    const Vec model{physical[0] - 0.5 * size[0], physical[1] - 0.5 * size[1],
                    physical[2] - 0.5 * size[2], 1.0};
    const Vec clip = Apply(projection, Apply(view, model));
    return {(clip[0] / clip[3] + 1.0) * 0.5 * viewport[0],
            (clip[1] / clip[3] + 1.0) * 0.5 * viewport[1], (clip[2] / clip[3] + 1.0) * 0.5};
}

// Entry and exit parameters of the ray o + t d with the box [lo, hi] (per axis), t unrestricted;
// a miss gives tFar < tNear.
inline void SlabIntersect(const double o[3], const double d[3], const double lo[3],
                          const double hi[3], double& tNear, double& tFar) {
    tNear = -INFINITY;
    tFar = INFINITY;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0.0) {
            if (o[a] < lo[a] || o[a] > hi[a]) {
                tNear = INFINITY;
                tFar = -INFINITY;
            }
            continue;
        }
        double t0 = (lo[a] - o[a]) / d[a], t1 = (hi[a] - o[a]) / d[a];
        if (t0 > t1) std::swap(t0, t1);
        tNear = std::max(tNear, t0);
        tFar = std::min(tFar, t1);
    }
}

}  // namespace frametest
