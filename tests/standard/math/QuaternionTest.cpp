// Quaternion: axis-angle construction, the Hamilton product against the
// vector-form reference, ToMatrix against v' = q v q*, and the composition
// rule (d x q applies d after q).
#include "MathReference.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
constexpr float kPi = 3.14159265358979f;
constexpr double kProductTol = 1e-5;  // float products of unit-range inputs
constexpr double kRotateTol = 2e-5;   // rotated vectors of length <= ~2
}  // namespace

TEST(Quaternion, AxisAngleWorkedExamples) {
    Quaternion const id;
    EXPECT_EQ(id.x, 0.0f);
    EXPECT_EQ(id.y, 0.0f);
    EXPECT_EQ(id.z, 0.0f);
    EXPECT_EQ(id.w, 1.0f);

    // zero axis: exactly the identity, whatever the angle
    Quaternion const zero(0, 0, 0, 1.0f);
    EXPECT_EQ(zero.x, 0.0f);
    EXPECT_EQ(zero.y, 0.0f);
    EXPECT_EQ(zero.z, 0.0f);
    EXPECT_EQ(zero.w, 1.0f);

    // axis need not be unit length: (0, 0, 2) by pi is (0, 0, 1, cos(pi/2))
    Quaternion const half(0, 0, 2, kPi);
    EXPECT_NEAR(half.x, 0.0f, 1e-7f);
    EXPECT_NEAR(half.y, 0.0f, 1e-7f);
    EXPECT_NEAR(half.z, 1.0f, 1e-7f);
    EXPECT_NEAR(half.w, 0.0f, 1e-6f);

    // (1, 1, 1) by 2pi/3: cos(pi/3) = 0.5, sin(pi/3)/sqrt(3) = 0.5
    Quaternion const diag(1, 1, 1, 2.0f * kPi / 3.0f);
    EXPECT_NEAR(diag.x, 0.5f, 1e-6f);
    EXPECT_NEAR(diag.y, 0.5f, 1e-6f);
    EXPECT_NEAR(diag.z, 0.5f, 1e-6f);
    EXPECT_NEAR(diag.w, 0.5f, 1e-6f);
}

TEST(Quaternion, IdentityAndNormalize) {
    Quaternion q(1, 2, 3, 0.7f);
    q.Identity();
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.w, 1.0f);
    q.x = 1;
    q.y = 2;
    q.z = 2;
    q.w = 4;  // length 5
    q.Normalize();
    EXPECT_FLOAT_EQ(q.x, 0.2f);
    EXPECT_FLOAT_EQ(q.y, 0.4f);
    EXPECT_FLOAT_EQ(q.z, 0.4f);
    EXPECT_FLOAT_EQ(q.w, 0.8f);
}

TEST(Quaternion, HamiltonProductMatchesVectorForm) {
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        Quaternion a, b;
        a.x = d(rng), a.y = d(rng), a.z = d(rng), a.w = d(rng);
        b.x = d(rng), b.y = d(rng), b.z = d(rng), b.w = d(rng);
        Quaternion const aCopy = a;
        Quaternion const p = a * b;
        mathref::Quat const r = mathref::Mul(mathref::FromFloat(a), mathref::FromFloat(b));
        EXPECT_NEAR(p.x, r.x, kProductTol);
        EXPECT_NEAR(p.y, r.y, kProductTol);
        EXPECT_NEAR(p.z, r.z, kProductTol);
        EXPECT_NEAR(p.w, r.w, kProductTol);
        // operands untouched; *= puts this on the left
        EXPECT_EQ(a.x, aCopy.x);
        a *= b;
        EXPECT_EQ(a.x, p.x);
        EXPECT_EQ(a.y, p.y);
        EXPECT_EQ(a.z, p.z);
        EXPECT_EQ(a.w, p.w);
    }
    // basis units: i j = k, j i = -k
    Quaternion i, j;
    i.x = 1, i.w = 0;
    j.y = 1, j.w = 0;
    Quaternion const k = i * j;
    EXPECT_EQ(k.z, 1.0f);
    EXPECT_EQ(k.w, 0.0f);
    EXPECT_EQ((j * i).z, -1.0f);
}

TEST(Quaternion, ToMatrixRotatesLikeConjugation) {
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (int i = 0; i < 300; ++i) {
        Quaternion const q = mathref::RandomRotation(rng);
        Matrix4x4 const m = q.ToMatrix();
        // a pure rotation: last row and column are those of the identity
        EXPECT_EQ(m.m[3], 0.0f);
        EXPECT_EQ(m.m[7], 0.0f);
        EXPECT_EQ(m.m[11], 0.0f);
        EXPECT_EQ(m.m[12], 0.0f);
        EXPECT_EQ(m.m[13], 0.0f);
        EXPECT_EQ(m.m[14], 0.0f);
        EXPECT_EQ(m.m[15], 1.0f);
        std::array<double, 3> const v{d(rng), d(rng), d(rng)};
        Vector4 const out = m * Vector4(float(v[0]), float(v[1]), float(v[2]), 1.0f);
        std::array<double, 3> const ref = mathref::Rotate(mathref::FromFloat(q), v);
        EXPECT_NEAR(out.x, ref[0], kRotateTol);
        EXPECT_NEAR(out.y, ref[1], kRotateTol);
        EXPECT_NEAR(out.z, ref[2], kRotateTol);
        EXPECT_FLOAT_EQ(out.w, 1.0f);
    }
}

TEST(Quaternion, ProductComposesRotationsRightToLeft) {
    std::mt19937 rng(777);
    for (int i = 0; i < 200; ++i) {
        Quaternion const q = mathref::RandomRotation(rng);
        Quaternion const dq = mathref::RandomRotation(rng);
        // d x q applies q first, then d: ToMatrix(d x q) = ToMatrix(d) ToMatrix(q)
        Matrix4x4 const lhs = (dq * q).ToMatrix();
        Matrix4x4 const rhs = dq.ToMatrix() * q.ToMatrix();
        for (int e = 0; e < 16; ++e)
            EXPECT_NEAR(lhs.m[e], rhs.m[e], 2e-5f) << "element " << e;
    }
}

TEST(Quaternion, RightHandedAboutCoordinateAxes) {
    // a quarter turn about z takes x to y, about x takes y to z, about y takes z to x
    struct Case {
        float ax, ay, az;
        Vector4 in, out;
    } const cases[] = {
        {0, 0, 1, Vector4(1, 0, 0, 1), Vector4(0, 1, 0, 1)},
        {1, 0, 0, Vector4(0, 1, 0, 1), Vector4(0, 0, 1, 1)},
        {0, 1, 0, Vector4(0, 0, 1, 1), Vector4(1, 0, 0, 1)},
    };
    for (Case const& c : cases) {
        Vector4 const r = Quaternion(c.ax, c.ay, c.az, kPi / 2).ToMatrix() * c.in;
        EXPECT_NEAR(r.x, c.out.x, 1e-6f);
        EXPECT_NEAR(r.y, c.out.y, 1e-6f);
        EXPECT_NEAR(r.z, c.out.z, 1e-6f);
        EXPECT_EQ(r.w, 1.0f);
    }
}
