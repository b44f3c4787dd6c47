// Exact cubic maximum: closed-form cubics and a dense-sampling property check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "kernels/CellCubic.h"

namespace {

constexpr float kTol = 1e-6f;

// f'(s) = 3(s - 1/4)(s - 3/4) for A = 1: B = -1.5, C = 0.5625. With A = 1 the
// smaller critical point is the local maximum, f(1/4) = 1/16 + D.
TEST(CubicMaximum, InteriorMaximumAboveBothEnds) {
    const float D = 2.0f;
    // f(0) = 2, f(0.6) = 2.0135, f(0.25) = 2.0625.
    EXPECT_NEAR(CubicMaximum(1.0f, -1.5f, 0.5625f, D, 0.0f, 0.6f), 2.0625f, kTol);
    // Negative leading coefficient: -f has its local maximum at the larger
    // root, 3/4, where the value is 0; the ends of [0.5, 1] give -1/32 and -1/16.
    EXPECT_NEAR(CubicMaximum(-1.0f, 1.5f, -0.5625f, 0.0f, 0.5f, 1.0f), 0.0f, kTol);
    // Critical points at -3/4 (maximum, value 0) and -1/4, so h = B / 3A > 0:
    // the other branch of the root formula. Ends of [-1, -0.5]: -1/16, -1/32.
    EXPECT_NEAR(CubicMaximum(1.0f, 1.5f, 0.5625f, 0.0f, -1.0f, -0.5f), 0.0f, kTol);
}

TEST(CubicMaximum, CriticalPointsOutsideOrAtTheEndsDoNotCount) {
    // The local maximum at 1/4 lies left of [0.3, 0.6]; on it f decreases from
    // f(0.3) = 0.060 to f(0.6) = 0.0135 (D = 0).
    const float f03 = 0.027f - 1.5f * 0.09f + 0.5625f * 0.3f;
    EXPECT_NEAR(CubicMaximum(1.0f, -1.5f, 0.5625f, 0.0f, 0.3f, 0.6f), f03, kTol);
    // A segment that ends exactly at the maximum returns that end value.
    EXPECT_NEAR(CubicMaximum(1.0f, -1.5f, 0.5625f, 0.0f, 0.0f, 0.25f), 0.0625f, kTol);
    // An empty segment [s, s] is the value at s.
    EXPECT_NEAR(CubicMaximum(1.0f, -1.5f, 0.5625f, 0.0f, 0.25f, 0.25f), 0.0625f, kTol);
}

TEST(CubicMaximum, MonotonicCubicsUseTheEnds) {
    // s^3 + s: disc = 0 - 1/3 < 0. Maximum at the right end, f(2) = 10.
    EXPECT_NEAR(CubicMaximum(1.0f, 0.0f, 1.0f, 0.0f, -1.0f, 2.0f), 10.0f, kTol);
    // -s^3 - s decreases: maximum at the left end, f(-1) = 2.
    EXPECT_NEAR(CubicMaximum(-1.0f, 0.0f, -1.0f, 0.0f, -1.0f, 2.0f), 2.0f, kTol);
    // s^3 has disc = 0 (an inflection, not an extremum): f(1) = 1 on [-1, 1].
    EXPECT_NEAR(CubicMaximum(1.0f, 0.0f, 0.0f, 0.0f, -1.0f, 1.0f), 1.0f, kTol);
}

TEST(CubicMaximum, QuadraticLinearAndConstant) {
    // -s^2 + s + 3: vertex at 1/2 with value 3.25; ends give 3.
    EXPECT_NEAR(CubicMaximum(0.0f, -1.0f, 1.0f, 3.0f, 0.0f, 1.0f), 3.25f, kTol);
    // s^2 - s: the vertex is a minimum; the maximum 0 sits at both ends.
    EXPECT_NEAR(CubicMaximum(0.0f, 1.0f, -1.0f, 0.0f, 0.0f, 1.0f), 0.0f, kTol);
    // Vertex outside the segment: -s^2 + s on [0.6, 2] peaks at 0.6 (0.24).
    EXPECT_NEAR(CubicMaximum(0.0f, -1.0f, 1.0f, 0.0f, 0.6f, 2.0f), 0.24f, kTol);
    // Linear: 2s + 1 on [0, 3] -> 7; -2s + 1 -> 1. Constant 5 -> 5.
    EXPECT_NEAR(CubicMaximum(0.0f, 0.0f, 2.0f, 1.0f, 0.0f, 3.0f), 7.0f, kTol);
    EXPECT_NEAR(CubicMaximum(0.0f, 0.0f, -2.0f, 1.0f, 0.0f, 3.0f), 1.0f, kTol);
    EXPECT_EQ(CubicMaximum(0.0f, 0.0f, 0.0f, 5.0f, 0.0f, 3.0f), 5.0f);
}

// Random cubics of the size the kernel meets (values up to a few thousand,
// segments up to sqrt 3 long): the exact maximum must match a dense double
// sampling of the same polynomial. Sampling every 1e-5 misses a smooth peak by
// at most |f''| h^2 / 8, far below the float tolerance used.
TEST(CubicMaximum, MatchesDenseSamplingOnRandomCubics) {
    std::mt19937 rng(20261208u);
    std::uniform_real_distribution<float> coef(-3000.0f, 3000.0f);
    std::uniform_real_distribution<float> len(0.0f, 1.75f);
    int interiorWins = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const float A = coef(rng), B = coef(rng), C = coef(rng), D = coef(rng);
        const float s1 = len(rng);
        const int n = 20000;
        double dense = -INFINITY;
        for (int i = 0; i <= n; ++i) {
            const double s = double(s1) * i / n;
            dense = std::max(dense, ((double(A) * s + B) * s + C) * s + D);
        }
        const double ends = std::max(double(D), ((double(A) * s1 + B) * s1 + C) * s1 + D);
        if (dense > ends + 1.0) ++interiorWins;
        const float exact = CubicMaximum(A, B, C, D, 0.0f, s1);
        const double scale = std::abs(A) + std::abs(B) + std::abs(C) + std::abs(D);
        ASSERT_NEAR(exact, dense, 2e-5 * scale) << "trial " << trial;
    }
    // The sample must exercise interior maxima, not only end points.
    EXPECT_GT(interiorWins, 40);
}

// The chord bound may only say "stays below" when the exact maximum really is
// not above the threshold; and it must say so often enough to be worth having.
TEST(CubicMaximum, ChordBoundNeverHidesARise) {
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<float> coef(-3000.0f, 3000.0f);
    std::uniform_real_distribution<float> len(-0.01f, 4.0f);  // slightly negative: restarts
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int claimedWellAbove = 0, wellAbove = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const float A = coef(rng), B = coef(rng), C = coef(rng), D = coef(rng);
        const float s1 = len(rng);
        const float exact = CubicMaximum(A, B, C, D, 0.0f, s1);
        // Thresholds just around the maximum (the hard cases) and well above it.
        const float scale = std::abs(A) + std::abs(B) + std::abs(C) + std::abs(D);
        const float offsets[4] = {0.0f, 1e-6f * scale, 1e-3f * scale, unit(rng) * scale};
        for (float offset : offsets) {
            for (float threshold : {exact + offset, exact - offset}) {
                if (CubicStaysBelow(A, B, C, D, s1, threshold)) {
                    ASSERT_LE(exact, threshold) << "trial " << trial;
                }
            }
        }
        ++wellAbove;
        claimedWellAbove += CubicStaysBelow(A, B, C, D, s1, exact + offsets[3]);
    }
    // Thresholds a random fraction of the coefficient sum above the maximum
    // are often proved (the kernel's common case).
    EXPECT_GT(claimedWellAbove, wellAbove / 4);
    // Constant cubic 5 on any segment: below 5.01, not below 5.
    EXPECT_TRUE(CubicStaysBelow(0.0f, 0.0f, 0.0f, 5.0f, 1.0f, 5.01f));
    EXPECT_FALSE(CubicStaysBelow(0.0f, 0.0f, 0.0f, 5.0f, 1.0f, 5.0f));
    // An interior peak above both ends (0.0625 at s = 0.25) is not hidden by
    // a threshold between the ends and the peak.
    EXPECT_FALSE(CubicStaysBelow(1.0f, -1.5f, 0.5625f, 0.0f, 0.6f, 0.05f));
    EXPECT_FALSE(CubicStaysBelow(NAN, 0.0f, 0.0f, 0.0f, 1.0f, 1e30f));
}

}  // namespace
