// Vector2/3/4: defaults, array construction, compound operators, length and
// normalisation (w of a Vector4 is neither counted nor scaled).
#include "Vector.h"

#include <gtest/gtest.h>

TEST(Vector, DefaultsDifferForVector4) {
    Vector2 const a;
    EXPECT_EQ(a.x, 0.0f);
    EXPECT_EQ(a.y, 0.0f);
    Vector3 const b;
    EXPECT_EQ(b.x, 0.0f);
    EXPECT_EQ(b.y, 0.0f);
    EXPECT_EQ(b.z, 0.0f);
    Vector4 const c;
    EXPECT_EQ(c.x, 0.0f);
    EXPECT_EQ(c.y, 0.0f);
    EXPECT_EQ(c.z, 0.0f);
    EXPECT_EQ(c.w, 1.0f);
}

TEST(Vector, ArrayConstructionAndPointerConversionShareStorageOrder) {
    float src[4] = {1.5f, -2.0f, 3.25f, 9.0f};
    Vector2 v2(src);
    Vector3 v3(src);
    Vector4 v4(src);
    float const* p4 = v4;
    float* p3 = v3;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p4[i], src[i]);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(p3[i], src[i]);
    EXPECT_EQ(v2.x, 1.5f);
    EXPECT_EQ(v2.y, -2.0f);
    // writing through the pointer reaches the named components
    p3[2] = 7.0f;
    EXPECT_EQ(v3.z, 7.0f);
    EXPECT_EQ(v4[3], 9.0f);
}

TEST(Vector, CompoundOperatorsActOnAllComponents) {
    Vector4 a(1, 2, 3, 4);
    a *= 2.0f;
    EXPECT_EQ(a.x, 2.0f);
    EXPECT_EQ(a.w, 8.0f);  // w is scaled too
    a += Vector4(1, 1, 1, 1);
    EXPECT_EQ(a.y, 5.0f);
    EXPECT_EQ(a.w, 9.0f);
    a -= Vector4(3, 5, 7, 9);
    EXPECT_EQ(a.x, 0.0f);
    EXPECT_EQ(a.y, 0.0f);
    EXPECT_EQ(a.z, 0.0f);
    EXPECT_EQ(a.w, 0.0f);

    Vector3 b(1, -2, 3);
    b -= Vector3(1, 1, 1);
    b *= -1.0f;
    EXPECT_EQ(b.x, 0.0f);
    EXPECT_EQ(b.y, 3.0f);
    EXPECT_EQ(b.z, -2.0f);
    Vector2 c(1, 2);
    c += Vector2(0.5f, 0.5f);
    c *= 2.0f;
    EXPECT_EQ(c.x, 3.0f);
    EXPECT_EQ(c.y, 5.0f);
}

TEST(Vector, LengthAndNormalize) {
    Vector4 v(3, 4, 0, 7);
    EXPECT_FLOAT_EQ(v.Length(), 5.0f);  // w not counted
    v.Normalize();
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_FLOAT_EQ(v.y, 0.8f);
    EXPECT_EQ(v.z, 0.0f);
    EXPECT_EQ(v.w, 7.0f);  // w unchanged

    Vector3 u(2, 3, 6);
    EXPECT_FLOAT_EQ(u.Length(), 7.0f);
    u.Normalize();
    EXPECT_FLOAT_EQ(u.x, 2.0f / 7.0f);
    EXPECT_FLOAT_EQ(u.y, 3.0f / 7.0f);
    EXPECT_FLOAT_EQ(u.z, 6.0f / 7.0f);
    EXPECT_NEAR(u.Length(), 1.0f, 1e-6f);

    Vector2 t(-5, 12);
    EXPECT_FLOAT_EQ(t.Length(), 13.0f);
    t.Normalize();
    EXPECT_FLOAT_EQ(t.x, -5.0f / 13.0f);
    EXPECT_FLOAT_EQ(t.y, 12.0f / 13.0f);
}
