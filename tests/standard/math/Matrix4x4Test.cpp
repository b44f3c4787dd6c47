// Matrix4x4: column-major storage, element-wise operators, products,
// transpose, inverse and the standard transform factories.
#include "MathReference.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
constexpr float kPi = 3.14159265358979f;

Matrix4x4 Sequence() {  // element i holds i + 1
    Matrix4x4 m;
    for (int i = 0; i < 16; ++i)
        m.m[i] = float(i + 1);
    return m;
}
}  // namespace

TEST(Matrix4x4, ConstructionAndStorageOrder) {
    Matrix4x4 const id;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(id.m[i], (i == 0 || i == 5 || i == 10 || i == 15) ? 1.0f : 0.0f);

    Matrix4x4 const m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    float const* p = m;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p[i], float(i + 1));
    // first four arguments form the first column: M (1,0,0,0) = (1,2,3,4)
    Vector4 const col0 = m * Vector4(1, 0, 0, 0);
    EXPECT_EQ(col0.x, 1.0f);
    EXPECT_EQ(col0.y, 2.0f);
    EXPECT_EQ(col0.z, 3.0f);
    EXPECT_EQ(col0.w, 4.0f);

    Matrix4x4 s = Sequence();
    s.IdentityMatrix();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(s.m[i], id.m[i]);
}

TEST(Matrix4x4, ElementWiseOperators) {
    Matrix4x4 a = Sequence();
    a *= 2.0f;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a.m[i], 2.0f * (i + 1));
    a -= Sequence();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a.m[i], float(i + 1));
    a += Sequence();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a.m[i], 2.0f * (i + 1));
}

TEST(Matrix4x4, TransposeSwapsRowsAndColumns) {
    Matrix4x4 t = Sequence();
    t.Transpose();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(t.m[c * 4 + r], float(r * 4 + c + 1));
    t.Transpose();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(t.m[i], float(i + 1));
}

TEST(Matrix4x4, TransformFactories) {
    Matrix4x4 const t = Matrix4x4::TranslateMatrix(1, 2, 3);
    EXPECT_EQ(t.m[12], 1.0f);
    EXPECT_EQ(t.m[13], 2.0f);
    EXPECT_EQ(t.m[14], 3.0f);
    Vector4 const moved = t * Vector4(10, 20, 30, 1);
    EXPECT_EQ(moved.x, 11.0f);
    EXPECT_EQ(moved.y, 22.0f);
    EXPECT_EQ(moved.z, 33.0f);
    EXPECT_EQ(moved.w, 1.0f);
    // a direction (w = 0) is not translated
    Vector4 const dir = t * Vector4(1, 1, 1, 0);
    EXPECT_EQ(dir.x, 1.0f);
    EXPECT_EQ(dir.w, 0.0f);

    Matrix4x4 const s = Matrix4x4::ScaleMatrix(2, 4, 8);
    for (int i = 0; i < 16; ++i) {
        float const expected = i == 0    ? 2.0f
                               : i == 5  ? 4.0f
                               : i == 10 ? 8.0f
                               : i == 15 ? 1.0f
                                         : 0.0f;
        EXPECT_EQ(s.m[i], expected);
    }

    Vector4 const r = Matrix4x4::RotateMatrix(kPi / 2, 0, 0, 1) * Vector4(1, 0, 0, 1);
    EXPECT_NEAR(r.x, 0.0f, 1e-6f);
    EXPECT_NEAR(r.y, 1.0f, 1e-6f);
    EXPECT_NEAR(r.z, 0.0f, 1e-6f);
    EXPECT_EQ(r.w, 1.0f);
    // RotateMatrix equals the quaternion's matrix, axis not normalised
    Matrix4x4 const a = Matrix4x4::RotateMatrix(0.8f, 1, -2, 3);
    Matrix4x4 const b = Quaternion(1, -2, 3, 0.8f).ToMatrix();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a.m[i], b.m[i]);
}

TEST(Matrix4x4, ProductsMatchReferenceAndAssociate) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    for (int i = 0; i < 200; ++i) {
        Matrix4x4 const a = mathref::RandomMatrix(rng);
        Matrix4x4 const b = mathref::RandomMatrix(rng);
        Vector4 const v(d(rng), d(rng), d(rng), d(rng));

        // element (r, c) = sum_k A(r, k) B(k, c), checked in double
        Matrix4x4 const ab = a * b;
        mathref::Mat const ref = mathref::Mul(mathref::FromMatrix(a), mathref::FromMatrix(b));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(ab.m[c * 4 + r], ref[r * 4 + c], 1e-5);

        // (A B) v = A (B v): B acts first
        Vector4 const lhs = ab * v;
        Vector4 const rhs = a * (b * v);
        EXPECT_NEAR(lhs.x, rhs.x, 1e-4f);
        EXPECT_NEAR(lhs.y, rhs.y, 1e-4f);
        EXPECT_NEAR(lhs.z, rhs.z, 1e-4f);
        EXPECT_NEAR(lhs.w, rhs.w, 1e-4f);

        // A *= B gives A x B exactly (same float operations)
        Matrix4x4 c = a;
        c *= b;
        for (int e = 0; e < 16; ++e)
            EXPECT_EQ(c.m[e], ab.m[e]);
    }
}

TEST(Matrix4x4, InverseWorkedExamples) {
    Matrix4x4 s = Matrix4x4::ScaleMatrix(2, 4, 8);
    EXPECT_EQ(s.Inverse(), 64.0f);
    EXPECT_EQ(s.m[0], 0.5f);
    EXPECT_EQ(s.m[5], 0.25f);
    EXPECT_EQ(s.m[10], 0.125f);
    EXPECT_EQ(s.m[15], 1.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 11, 12, 13, 14})
        EXPECT_EQ(s.m[i], 0.0f);

    // a zero column (any one of the four) makes the determinant 0 and the matrix stays
    for (int col = 0; col < 4; ++col) {
        Matrix4x4 z = Sequence();
        for (int r = 0; r < 4; ++r)
            z.m[col * 4 + r] = 0.0f;
        Matrix4x4 const before = z;
        EXPECT_EQ(z.Inverse(), 0.0f);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(z.m[i], before.m[i]);
    }

    // translation inverts to the opposite translation
    Matrix4x4 t = Matrix4x4::TranslateMatrix(1, -2, 3);
    EXPECT_EQ(t.Inverse(), 1.0f);
    EXPECT_EQ(t.m[12], -1.0f);
    EXPECT_EQ(t.m[13], 2.0f);
    EXPECT_EQ(t.m[14], -3.0f);
}

TEST(Matrix4x4, InverseOfRandomMatricesIsInverse) {
    std::mt19937 rng(98765);
    int checked = 0;
    for (int i = 0; i < 300; ++i) {
        Matrix4x4 const a = mathref::RandomMatrix(rng);
        double const refDet = mathref::Determinant(mathref::FromMatrix(a));
        if (std::fabs(refDet) < 0.5) continue;  // keep the conditioning reasonable
        ++checked;
        Matrix4x4 inv = a;
        float const det = inv.Inverse();
        EXPECT_NEAR(det, refDet, 1e-4 * std::fabs(refDet) + 1e-4);
        mathref::Mat const p = mathref::Mul(mathref::FromMatrix(a), mathref::FromMatrix(inv));
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(p[r * 4 + c], r == c ? 1.0 : 0.0, 1e-3);
    }
    EXPECT_GT(checked, 150);

    // rotation: inverse is the transpose and the determinant 1
    Matrix4x4 rot = Matrix4x4::RotateMatrix(1.1f, 0.3f, -0.4f, 0.8f);
    Matrix4x4 tr = rot;
    tr.Transpose();
    EXPECT_NEAR(rot.Inverse(), 1.0f, 1e-5f);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(rot.m[i], tr.m[i], 1e-5f);
}
