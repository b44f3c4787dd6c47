// The transfer-function table and its opacity sums: allocation, deep copies, the worked sums and
// the range visibility test against a brute-force scan of the interpolated opacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Lut1D.h"
#include "TFEmptySpace.h"

namespace {

// A table of `count` entries over [minPos, maxPos] with the given opacities (colour 1, 1, 1).
Lut1D MakeTable(const std::vector<float>& alpha, float minPos, float maxPos) {
    Lut1D lut;
    lut.sampleCount = int32_t(alpha.size());
    lut.minPos = minPos;
    lut.maxPos = maxPos;
    lut.Allocate();
    for (std::size_t i = 0; i < alpha.size(); ++i)
        lut.data[i] = Vector4(1.f, 1.f, 1.f, alpha[i]);
    return lut;
}

TEST(Lut1D, AllocateFillsOpaqueBlackAndCopiesAreDeep) {
    Lut1D lut;
    EXPECT_EQ(lut.sampleCount, 0);
    EXPECT_EQ(lut.minPos, 0.f);
    EXPECT_EQ(lut.maxPos, 1.f);
    EXPECT_EQ(lut.data, nullptr);
    lut.sampleCount = 3;
    lut.Allocate();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lut.data[i].x, 0.f);
        EXPECT_EQ(lut.data[i].w, 1.f);
    }
    lut.data[1] = Vector4(0.25f, 0.5f, 0.75f, 0.125f);
    lut.minPos = -4.f;

    Lut1D copy(lut);
    Lut1D assigned;
    assigned = lut;
    for (const Lut1D* c : {&copy, &assigned}) {
        ASSERT_NE(c->data, lut.data);
        EXPECT_EQ(c->sampleCount, 3);
        EXPECT_EQ(c->minPos, -4.f);
        EXPECT_EQ(c->data[1].z, 0.75f);
        EXPECT_EQ(c->data[1].w, 0.125f);
    }
    lut.data[1].w = 0.9f;  // the copies keep their own entries
    EXPECT_EQ(copy.data[1].w, 0.125f);
    lut.sampleCount = 0;
    lut.Allocate();
    EXPECT_EQ(lut.data, nullptr);
}

TEST(TFEmptySpace, RunningSumsOfTheWorkedTables) {
    TFEmptySpace sums;
    EXPECT_EQ(sums.maxPos, 0.f);
    const Lut1D four = MakeTable({0.f, 0.f, 0.5f, 0.f}, 0.f, 3.f);
    sums.CalculateTFEmptySpace(&four);
    const float expected[5] = {0.f, 0.f, 0.f, 0.5f, 0.5f};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(sums.alphaSum[i], expected[i]) << i;
    EXPECT_EQ(sums.sampleCount, 4);
    EXPECT_EQ(sums.maxPos, 3.f);

    TFEmptySpace copy(sums);  // deep: survives a rebuild of the source
    Lut1D empty;
    sums.CalculateTFEmptySpace(&empty);
    EXPECT_EQ(sums.sampleCount, 0);
    EXPECT_EQ(sums.alphaSum[0], 0.f);
    EXPECT_FALSE(sums.RangeIsVisible(0.f, 1.f));
    EXPECT_EQ(copy.alphaSum[3], 0.5f);
    sums.CalculateTFEmptySpace(nullptr);  // ignored
    EXPECT_EQ(sums.sampleCount, 0);

    const Lut1D clear = MakeTable(std::vector<float>(16, 0.f), 0.f, 15.f);
    sums.CalculateTFEmptySpace(&clear);
    for (int i = 0; i <= 16; ++i)
        EXPECT_EQ(sums.alphaSum[i], 0.f);
    EXPECT_FALSE(sums.RangeIsVisible(-100.f, 100.f));
}

TEST(TFEmptySpace, RangeVisibilityOfWorkedRanges) {
    // 256 entries over 0 .. 255: x(v) = v; values 10 .. 20 read entries 10 to 20.
    std::vector<float> alpha(256, 0.f);
    auto visibleWith = [&](int opaque, float lo, float hi) {
        std::vector<float> a = alpha;
        if (opaque >= 0) a[std::size_t(opaque)] = 1.f;
        const Lut1D lut = MakeTable(a, 0.f, 255.f);
        TFEmptySpace sums;
        sums.CalculateTFEmptySpace(&lut);
        return sums.RangeIsVisible(lo, hi);
    };
    EXPECT_FALSE(visibleWith(-1, 0.f, 255.f));
    EXPECT_TRUE(visibleWith(10, 10.f, 20.f));
    EXPECT_TRUE(visibleWith(20, 10.f, 20.f));
    EXPECT_FALSE(visibleWith(9, 10.f, 20.f));  // transparent inside, opaque neighbours
    EXPECT_FALSE(visibleWith(21, 10.f, 20.f));
    // A value at 10.7 interpolates 0.3 of entry 10 with 0.7 of entry 11: entry 10 counts.
    EXPECT_TRUE(visibleWith(10, 10.7f, 10.7f));
    EXPECT_TRUE(visibleWith(12, 10.7f, 11.2f));
    // Beyond the table's range classification takes the end entries, and so does the test.
    EXPECT_TRUE(visibleWith(0, -500.f, -400.f));
    EXPECT_FALSE(visibleWith(1, -500.f, -400.f));
    EXPECT_TRUE(visibleWith(255, 400.f, 1e30f));
    EXPECT_FALSE(visibleWith(254, 400.f, 500.f));
    EXPECT_TRUE(visibleWith(128, NAN, NAN));  // NaN widens to the whole table
}

// Never a miss: wherever the interpolated opacity of some value in [lo, hi] is positive, the
// range tests visible. Sparse random tables over an offset range, random ranges, dense scan.
TEST(TFEmptySpace, RangeTestNeverMissesAnInterpolatedOpacity) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.f, 1.f);
    int visibleCases = 0, transparentCases = 0;
    for (int round = 0; round < 300; ++round) {
        const int count = 4 + int(unit(rng) * 60.f);
        std::vector<float> alpha(std::size_t(count), 0.f);
        alpha[std::size_t(unit(rng) * float(count - 1))] = 0.5f;
        const float minPos = -50.f, maxPos = 150.f;
        const Lut1D lut = MakeTable(alpha, minPos, maxPos);
        TFEmptySpace sums;
        sums.CalculateTFEmptySpace(&lut);
        const float lo = -80.f + 260.f * unit(rng), hi = lo + 15.f * unit(rng);
        // Interpolated opacity along [lo, hi], scanned in double.
        bool contributes = false;
        const double scale = double(count - 1) / (maxPos - minPos);
        for (int s = 0; s <= 4000 && !contributes; ++s) {
            const double v = lo + (hi - lo) * s / 4000.0;
            const double x = std::min(std::max((v - minPos) * scale, 0.0), double(count - 1));
            const int i = std::min(int(x), count - 2);
            const double f = x - i;
            contributes = (1.0 - f) * alpha[std::size_t(i)] + f * alpha[std::size_t(i) + 1] > 0.0;
        }
        const bool visible = sums.RangeIsVisible(lo, hi);
        if (contributes) {
            EXPECT_TRUE(visible) << "round " << round << " [" << lo << ", " << hi << "]";
        }
        (visible ? visibleCases : transparentCases)++;
    }
    // Both outcomes occur, so the property is not vacuous.
    EXPECT_GT(visibleCases, 20);
    EXPECT_GT(transparentCases, 20);
}

}  // namespace
