// The trilinear interpolant of one voxel cell along a ray segment is a cubic in the distance s
// along the segment. This file builds that cubic and answers the two questions the kernels ask of
// it: its exact maximum over the segment (maximum-intensity projection) and its first root
// (isosurfaces). Both split the segment at the cubic's critical points.
#pragma once

#include <cmath>
#include <limits>

#include "KestrelExport.h"
#include "Vector.h"

// f(s) = ((a s + b) s + c) s + d.
struct CellCubic {
    float a, b, c, d;
    KESTREL_HOST_DEVICE float operator()(float s) const { return ((a * s + b) * s + c) * s + d; }
};

// The trilinear interpolant of one cell along a ray segment, as a cubic in s. (u, v, w) is the
// segment's start inside the cell (0..1 per axis), (dx, dy, dz) the voxel-space direction.
// The 1-D weights are linear in s:
//   X0 = (1 - u) - s dx, X1 = u + s dx, likewise Y with (v, dy) and Z with (w, dz),
//   f(s) = sum over a, b, c of corners[a + 2b + 4c] Xa Yb Zc.
// Evaluated as nested linear interpolations: along x (linear in s), then y (quadratic), then z.
KESTREL_HOST_DEVICE inline CellCubic BuildCellCubic(const float corners[8], float u, float v,
                                                    float w, float dx, float dy, float dz) {
    // Along x: e(b, c)(s) = e0 + e1 s.
    float e0[4], e1[4];
    for (int bc = 0; bc < 4; ++bc) {
        const float v0 = corners[2 * bc], v1 = corners[2 * bc + 1];
        e0[bc] = v0 * (1.f - u) + v1 * u;
        e1[bc] = (v1 - v0) * dx;
    }
    // Along y: g(c)(s) = g0 + g1 s + g2 s^2 from e(0, c) Y0 + e(1, c) Y1.
    float g0[2], g1[2], g2[2];
    for (int c = 0; c < 2; ++c) {
        const float p0 = e0[2 * c], p1 = e1[2 * c], r0 = e0[2 * c + 1], r1 = e1[2 * c + 1];
        g0[c] = p0 * (1.f - v) + r0 * v;
        g1[c] = p1 * (1.f - v) + r1 * v + (r0 - p0) * dy;
        g2[c] = (r1 - p1) * dy;
    }
    // Along z: f(s) = g(0) Z0 + g(1) Z1.
    CellCubic f;
    f.d = g0[0] * (1.f - w) + g0[1] * w;
    f.c = g1[0] * (1.f - w) + g1[1] * w + (g0[1] - g0[0]) * dz;
    f.b = g2[0] * (1.f - w) + g2[1] * w + (g1[1] - g1[0]) * dz;
    f.a = (g2[1] - g2[0]) * dz;
    return f;
}

// The cell cubic of cell[] for the segment that starts at ray parameter t0: s = t - t0.
KESTREL_HOST_DEVICE inline CellCubic BuildCellCubic(const float corners[8], const int cell[3],
                                                    const Vector4& origin, const Vector4& dir,
                                                    float t0) {
    const float u = (origin.x + t0 * dir.x) - float(cell[0]);
    const float v = (origin.y + t0 * dir.y) - float(cell[1]);
    const float w = (origin.z + t0 * dir.z) - float(cell[2]);
    return BuildCellCubic(corners, u, v, w, dir.x, dir.y, dir.z);
}

// Critical points of f(s) = A s^3 + B s^2 + C s + D, the real roots of f'(s) = 3A s^2 + 2B s + C,
// written to r[] in increasing order; returns how many there are:
//   A != 0: s^2 + 2h s + l = 0 with h = B / 3A, l = C / 3A, disc = h^2 - l. For disc > 0 the
//           roots are taken without cancellation: the one of larger magnitude is -h - sqrt(disc)
//           when h > 0, else sqrt(disc) - h, and the other is l divided by it. disc <= 0: none
//           (f is monotonic).
//   A == 0, B != 0: one, r = -C / 2B.
//   otherwise f is linear or constant: none.
// Both roots are computed whatever disc is, so that callers can select instead of branching.
KESTREL_HOST_DEVICE inline int CubicCriticalPoints(float A, float B, float C, float r[2]) {
    if (A != 0.0f) {
        const float h = B / (3.0f * A);
        const float l = C / (3.0f * A);
        const float disc = h * h - l;
        const bool real = disc > 0.0f;
        const float m = std::sqrt(real ? disc : 0.0f);
        const float outer = h > 0.0f ? -h - m : m - h;
        const float inner = l / outer;
        r[0] = h > 0.0f ? outer : inner;
        r[1] = h > 0.0f ? inner : outer;
        return real ? 2 : 0;
    }
    if (B != 0.0f) {
        r[0] = -C / (2.0f * B);
        return 1;
    }
    return 0;
}

// Maximum of f(s) = ((A s + B) s + C) s + D over [s0, s1], s0 <= s1. The end values always count;
// a critical point counts only strictly inside (s0, s1).
KESTREL_HOST_DEVICE inline float CubicMaximum(float A, float B, float C, float D, float s0,
                                              float s1) {
    auto f = [&](float s) { return ((A * s + B) * s + C) * s + D; };
    float result = f(s0);
    const float atEnd = f(s1);
    if (atEnd > result) result = atEnd;
    // The candidates are evaluated unconditionally and kept only when they qualify: selects
    // instead of data-dependent branches in the hot loop.
    const float lowest = -std::numeric_limits<float>::infinity();
    float r[2] = {0.0f, 0.0f};
    const int count = CubicCriticalPoints(A, B, C, r);
    const float v1 = ((count > 0) & (r[0] > s0) & (r[0] < s1)) ? f(r[0]) : lowest;
    const float v2 = ((count > 1) & (r[1] > s0) & (r[1] < s1)) ? f(r[1]) : lowest;
    if (v1 > result) result = v1;
    if (v2 > result) result = v2;
    return result;
}

// True when CubicMaximum(A, B, C, D, 0, s1) is certainly not above `maximum`, proved without its
// divisions and square root, so that a caller who only wants to know whether the maximum rises
// can skip the solve. On [0, s1] the cubic lies below the chord between its end values plus the
// chord error bound
//   s1^2 / 8 * max|f''|,  max|f''| <= 6 |A| |s1| + 2 |B|,
// and CubicMaximum's float evaluations stay within
//   err = 1e-6 (|A| s1^3 + |B| s1^2 + |C| s1 + |D| + bulge + |maximum|)
// of the true values (Horner's rounding bound is about 4e-7 of the same sum). The end value at s1
// is the very float CubicMaximum computes, and f(0) = D exactly. A true result therefore never
// hides a value above `maximum`; NaN coefficients give false.
KESTREL_HOST_DEVICE inline bool CubicStaysBelow(float A, float B, float C, float D, float s1,
                                                float maximum) {
    const float atEnd = ((A * s1 + B) * s1 + C) * s1 + D;
    const float ends = atEnd > D ? atEnd : D;
    const float as1 = std::abs(s1), aa = std::abs(A), ab = std::abs(B);
    const float bulge = as1 * as1 * 0.125f * (6.0f * aa * as1 + 2.0f * ab);
    const float err = 1e-6f * (((aa * as1 + ab) * as1 + std::abs(C)) * as1 + std::abs(D) + bulge +
                               std::abs(maximum));
    return ends + bulge + err < maximum;
}

// -1, 0 or +1.
KESTREL_HOST_DEVICE inline int SignOf(float x) {
    return (x > 0.0f) - (x < 0.0f);
}

// A root of f in [a, b] where f(a) = fa and f(b) = fb have opposite signs (or one is 0), by false
// position: x = a - fa (b - a) / (fb - fa); the end whose value has the sign of f(x) moves to x
// (f(x) = 0 moves the right end); stops when an estimate moves by at most (b - a) / 10000 of the
// first bracket. An end that is already a root is returned as it is (false position would divide
// 0 by 0 there); 100 steps bound the refinement where rounding stalls it.
KESTREL_HOST_DEVICE inline float RefineRoot(const CellCubic& f, float a, float b, float fa,
                                            float fb) {
    if (fa == 0.0f) return a;
    const float tolerance = (b - a) / 10000.0f;
    const bool increasing = fb >= fa;
    float x = a + (0.0f - fa) / (fb - fa) * (b - a);
    for (int step = 0; step < 100; ++step) {
        const float fx = f(x);
        const bool movesRight = increasing ? fx >= 0.0f : fx <= 0.0f;
        if (movesRight) {
            b = x;
            fb = fx;
        } else {
            a = x;
            fa = fx;
        }
        const float next = a + (0.0f - fa) / (fb - fa) * (b - a);
        if (!(std::abs(next - x) > tolerance)) return next;
        x = next;
    }
    return x;
}

// The first root of f(s) = ((A s + B) s + C) s + D in [s0, s1]. The bracket is split at the
// critical points in increasing order, keeping only the part before the first sign change: a
// critical point strictly inside the bracket whose value has the sign of the left end becomes the
// left end, otherwise the right end. No sign change left (equal signs at both ends): false.
KESTREL_HOST_DEVICE inline bool FindFirstRoot(float A, float B, float C, float D, float s0,
                                              float s1, float& root) {
    const CellCubic f{A, B, C, D};
    float f0 = f(s0), f1 = f(s1);
    float r[2];
    const int count = CubicCriticalPoints(A, B, C, r);
    for (int i = 0; i < count; ++i) {
        if (!(s0 < r[i] && r[i] < s1)) continue;
        const float fr = f(r[i]);
        if (SignOf(fr) == SignOf(f0)) {
            s0 = r[i];
            f0 = fr;
        } else {
            s1 = r[i];
            f1 = fr;
        }
    }
    if (SignOf(f0) == SignOf(f1)) return false;
    root = RefineRoot(f, s0, s1, f0, f1);
    return true;
}

// One cell of a maximum-intensity ray over [t, tExit]: raises `maximum` by the maximum of the
// cell's cubic, unless the cubic provably stays below it. (origin, dir) in voxel space.
KESTREL_HOST_DEVICE inline void RaiseToCellMaximum(const float corners[8], const int cell[3],
                                                   const Vector4& origin, const Vector4& dir,
                                                   float t, float tExit, float& maximum) {
    const CellCubic f = BuildCellCubic(corners, cell, origin, dir, t);
    const float s1 = tExit - t;
    if (CubicStaysBelow(f.a, f.b, f.c, f.d, s1, maximum)) return;
    const float cellMaximum = CubicMaximum(f.a, f.b, f.c, f.d, 0.0f, s1);
    if (cellMaximum > maximum) maximum = cellMaximum;
}

// One cell of an isosurface ray over [t, tExit]: true with `hit`, the first point where the
// cell's cubic crosses `iso`, at (origin + t dir) + s dir in voxel space.
KESTREL_HOST_DEVICE inline bool FirstCrossing(const float corners[8], const int cell[3],
                                              const Vector4& origin, const Vector4& dir, float t,
                                              float tExit, float iso, Vector4& hit) {
    const CellCubic f = BuildCellCubic(corners, cell, origin, dir, t);
    float s;
    if (!FindFirstRoot(f.a, f.b, f.c, f.d - iso, 0.f, tExit - t, s)) return false;
    hit = Vector4((origin.x + t * dir.x) + s * dir.x, (origin.y + t * dir.y) + s * dir.y,
                  (origin.z + t * dir.z) + s * dir.z, 1.f);
    return true;
}
