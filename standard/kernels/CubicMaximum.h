// Exact maximum of a cubic polynomial over an interval, the core of the
// maximum-intensity kernel (the trilinear interpolant along a ray segment
// through one voxel cell is such a cubic).
#pragma once

#include <cmath>
#include <limits>

// Maximum of f(s) = ((A s + B) s + C) s + D over [s0, s1], s0 <= s1.
// The end values always count; a critical point counts only strictly inside
// (s0, s1). f'(s) = 3A s^2 + 2B s + C:
//   A != 0: s^2 + 2h s + l = 0 with h = B / 3A, l = C / 3A, disc = h^2 - l.
//           For disc > 0 the roots are taken without cancellation:
//           r1 = -h - sqrt(disc) when h > 0, else sqrt(disc) - h; r2 = l / r1.
//           disc <= 0: f is monotonic, only the end points.
//   A == 0, B != 0: one critical point r = -C / 2B.
//   otherwise f is linear or constant: only the end points.
inline float CubicMaximum(float A, float B, float C, float D, float s0, float s1) {
    auto f = [&](float s) { return ((A * s + B) * s + C) * s + D; };
    float result = f(s0);
    const float atEnd = f(s1);
    if (atEnd > result) result = atEnd;
    // The candidates are evaluated unconditionally and kept only when they
    // qualify: selects instead of data-dependent branches in the hot loop.
    const float lowest = -std::numeric_limits<float>::infinity();
    if (A != 0.0f) {
        const float h = B / (3.0f * A);
        const float l = C / (3.0f * A);
        const float disc = h * h - l;
        const bool real = disc > 0.0f;
        const float m = std::sqrt(real ? disc : 0.0f);
        const float r1 = h > 0.0f ? -h - m : m - h;
        const float r2 = l / r1;
        const float v1 = real & (r1 > s0) & (r1 < s1) ? f(r1) : lowest;
        const float v2 = real & (r2 > s0) & (r2 < s1) ? f(r2) : lowest;
        if (v1 > result) result = v1;
        if (v2 > result) result = v2;
    } else if (B != 0.0f) {
        const float r = -C / (2.0f * B);
        const float v = (r > s0) & (r < s1) ? f(r) : lowest;
        if (v > result) result = v;
    }
    return result;
}

// True when CubicMaximum(A, B, C, D, 0, s1) is certainly not above `maximum`,
// proved without its divisions and square root, so that a caller who only
// wants to know whether the maximum rises can skip the solve. On [0, s1] the
// cubic lies below the chord between its end values plus the chord error bound
//   s1^2 / 8 * max|f''|,  max|f''| <= 6 |A| |s1| + 2 |B|,
// and CubicMaximum's float evaluations stay within
//   err = 1e-6 (|A| s1^3 + |B| s1^2 + |C| s1 + |D| + bulge + |maximum|)
// of the true values (Horner's rounding bound is about 4e-7 of the same sum).
// The end value at s1 is the very float CubicMaximum computes, and f(0) = D
// exactly. A true result therefore never hides a value above `maximum`; NaN
// coefficients give false.
inline bool CubicStaysBelow(float A, float B, float C, float D, float s1, float maximum) {
    const float atEnd = ((A * s1 + B) * s1 + C) * s1 + D;
    const float ends = atEnd > D ? atEnd : D;
    const float as1 = std::abs(s1), aa = std::abs(A), ab = std::abs(B);
    const float bulge = as1 * as1 * 0.125f * (6.0f * aa * as1 + 2.0f * ab);
    const float err = 1e-6f * (((aa * as1 + ab) * as1 + std::abs(C)) * as1 + std::abs(D) + bulge +
                               std::abs(maximum));
    return ends + bulge + err < maximum;
}
