// The control-point transfer function: the worked tables and positions, point order, ignored
// indices, lazy rebuilding and deep copies.
#include <gtest/gtest.h>

#include "RGBATransferFunction1D.h"

namespace {

const Vector4 kWhite(1.f, 1.f, 1.f, 1.f);

void ExpectEntry(const Vector4& e, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(e.x, r);
    EXPECT_FLOAT_EQ(e.y, g);
    EXPECT_FLOAT_EQ(e.z, b);
    EXPECT_FLOAT_EQ(e.w, a);
}

TEST(RGBATransferFunction1D, FreshTableIsTransparentAndOnePointMakesATriangle) {
    RGBATransferFunction1D tf;
    EXPECT_TRUE(tf.dirty);
    EXPECT_EQ(tf.GetSampleNumber(), 256);
    EXPECT_EQ(tf.GetMinPos(), 0.f);
    EXPECT_EQ(tf.GetMaxPos(), 256.f);
    const Vector4* data = tf.GetData();
    for (int i = 0; i < 256; ++i)
        ExpectEntry(data[i], 0.f, 0.f, 0.f, 0.f);
    EXPECT_FALSE(tf.dirty);

    // Five entries over 0 .. 4, one white point at 2: opacities 0, 0.5, 1, 0.5, 0.
    tf.SetSampleNumber(5);
    tf.SetMaxPos(4.f);
    EXPECT_EQ(tf.AddPoint(2.f, kWhite), 0);
    const float expected[5] = {0.f, 0.5f, 1.f, 0.5f, 0.f};
    const Lut1D& lut = tf.GetLut1D();
    for (int i = 0; i < 5; ++i)
        ExpectEntry(lut.data[i], expected[i], expected[i], expected[i], expected[i]);

    // A point on an end entry gives it its own colour; without one the end stays transparent.
    tf.AddPoint(0.f, Vector4(0.2f, 0.4f, 0.6f, 1.f));
    ExpectEntry(tf.GetData()[0], 0.2f, 0.4f, 0.6f, 1.f);
    ExpectEntry(tf.GetData()[4], 0.f, 0.f, 0.f, 0.f);
    tf.SetSampleNumber(1);
    tf.RemoveAllPoints();
    ExpectEntry(tf.GetData()[0], 0.f, 0.f, 0.f, 0.f);
}

TEST(RGBATransferFunction1D, PositionsOrderAndIgnoredIndices) {
    RGBATransferFunction1D tf;  // 256 entries over 0 .. 256
    EXPECT_EQ(tf.AddPoint(128.f, kWhite), 0);
    EXPECT_EQ((*tf.points)[0].position, 127.5f);  // 128 / 256 * 255
    EXPECT_EQ(tf.GetPos(0), 128.f);
    // Equal positions keep insertion order; a smaller one goes first.
    EXPECT_EQ(tf.AddPoint(128.f, Vector4(0.f, 1.f, 0.f, 1.f)), 1);
    EXPECT_EQ(tf.AddPoint(128.f, Vector4(0.f, 0.f, 1.f, 1.f)), 2);
    EXPECT_EQ(tf.AddPoint(10.f, Vector4(1.f, 0.f, 0.f, 1.f)), 0);
    EXPECT_EQ(tf.GetValue(2).y, 1.f);
    EXPECT_EQ(tf.GetValue(3).z, 1.f);
    ASSERT_EQ(tf.GetPointCount(), 4);

    tf.GetData();
    ASSERT_FALSE(tf.dirty);
    tf.RemovePoint(-1);
    tf.RemovePoint(4);
    tf.SetRGBAValue(4, kWhite);
    tf.SetRGBAValue(-1, kWhite);
    EXPECT_EQ(tf.GetPointCount(), 4);
    EXPECT_FALSE(tf.dirty);  // ignored calls do not mark the table
    EXPECT_EQ(tf.GetPos(9), 0.f);
    EXPECT_EQ(tf.GetValue(-3).w, 0.f);

    tf.SetRGBAValue(0, Vector4(0.5f, 0.5f, 0.5f, 0.5f));
    EXPECT_TRUE(tf.dirty);
    EXPECT_EQ(tf.GetPos(0), 10.f);
    tf.RemovePoint(0);
    EXPECT_EQ(tf.GetPointCount(), 3);
    EXPECT_EQ(tf.GetValue(0).x, 1.f);
}

TEST(RGBATransferFunction1D, RangeChangeMovesReportedPositionsButNotTheTable) {
    RGBATransferFunction1D tf;
    tf.AddPoint(100.f, Vector4(1.f, 0.5f, 0.f, 0.8f));
    tf.AddPoint(200.f, kWhite);
    const Lut1D before = tf.GetLut1D();  // deep copy of the rebuilt table
    tf.SetMinPos(-1000.f);
    tf.SetMaxPos(3000.f);
    EXPECT_TRUE(tf.dirty);
    // Lazy: the table keeps its contents until the next read.
    EXPECT_EQ(tf.lut.data[100].w, before.data[100].w);
    // position 99.609375 = 100 / 256 * 255 now reports 99.609375 / 255 * 4000 - 1000.
    EXPECT_FLOAT_EQ(tf.GetPos(0), 99.609375f / 255.f * 4000.f - 1000.f);
    const Lut1D& after = tf.GetLut1D();
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(after.data[i].x, before.data[i].x) << i;
        EXPECT_EQ(after.data[i].w, before.data[i].w) << i;
    }
    EXPECT_EQ(after.minPos, -1000.f);
}

TEST(RGBATransferFunction1D, CopiesAreDeep) {
    RGBATransferFunction1D tf;
    tf.AddPoint(64.f, kWhite);
    RGBATransferFunction1D copy(tf);
    RGBATransferFunction1D assigned;
    assigned = tf;
    tf.SetRGBAValue(0, Vector4(0.f, 0.f, 0.f, 0.f));
    tf.AddPoint(32.f, kWhite);
    RGBATransferFunction1D fresh;  // what the copies must still hold
    fresh.AddPoint(64.f, kWhite);
    for (RGBATransferFunction1D* c : {&copy, &assigned}) {
        ASSERT_NE(c->points, tf.points);
        ASSERT_EQ(c->GetPointCount(), 1);
        EXPECT_EQ(c->GetValue(0).w, 1.f);
        ASSERT_NE(c->GetData(), tf.GetData());
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(c->GetData()[i].w, fresh.GetData()[i].w) << i;
    }
}

}  // namespace
