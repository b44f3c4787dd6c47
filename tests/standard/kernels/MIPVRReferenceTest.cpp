// The MIP kernel against an independent dense reference: rays built in double
// precision from the camera matrices, the trilinear interpolant sampled every
// fiftieth of a voxel or closer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <random>

#include "HeadPhantom.h"
#include "MIPVRTestFrame.h"
#include "support/DenseMipReference.h"

namespace {

// The kernel's maximum is exact, so it may lie below the sampled one only by
// the rounding of its float ray and arithmetic (the reference ray is double).
constexpr double kRoundingGrey = 2.5e-4;
// Dense sampling every 1/50 voxel misses a peak by at most |f''| h^2 / 8, far
// below this; larger gaps come only from float-versus-double ray differences
// at sharp edges.
constexpr double kCloseGrey = 0.01;
// Allowed share of compared pixels farther than kCloseGrey from the reference.
constexpr double kAllowedFarRate = 0.005;
// Rays clipped to less than this (voxels) are too close to the silhouette for
// float and double to agree on hit or miss; they are not compared.
constexpr double kMinSegment = 0.01;

struct Stats {
    long compared = 0, far = 0, misses = 0;
    double worstBelow = 0.0, worstAbove = 0.0;
};

void CompareWithReference(MipTestFrame& f, const DenseVolume& dense, bool withGrid, Stats& stats) {
    if (withGrid)
        f.kernel.RenderWithGridPartition();
    else
        f.kernel.RenderWithoutGridPartition();
    const int origin[2] = {f.image.windowX, f.image.windowY};
    const int size[2] = {f.image.width, f.image.height};
    const DenseMipImage ref = RenderDenseMip(dense, f.view, f.projection, f.viewport, origin, size,
                                             f.sceneParam.croppingBounds);
    for (int j = 0; j < size[1]; ++j)
        for (int i = 0; i < size[0]; ++i) {
            const std::size_t idx = std::size_t(j) * size[0] + i;
            const float* p = f.Pixel(i, j);
            if (std::isnan(ref.maximum[idx])) {
                if (ref.nearMiss[idx]) continue;
                // A clear miss: transparent.
                ASSERT_EQ(p[3], 0.0f) << "pixel " << i << "," << j;
                ASSERT_EQ(p[0], 0.0f);
                ++stats.misses;
                continue;
            }
            if (ref.segment[idx] < kMinSegment) continue;
            ASSERT_EQ(p[3], 1.0f) << "pixel " << i << "," << j;
            ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]);
            const double refGrey =
                DenseMipGrey(ref.maximum[idx], f.param.windowWidth, f.param.windowCenter);
            const double diff = double(p[0]) - refGrey;
            // Never below the sampled maximum beyond rounding.
            ASSERT_GE(diff, -kRoundingGrey) << "pixel " << i << "," << j;
            stats.worstBelow = std::min(stats.worstBelow, diff);
            stats.worstAbove = std::max(stats.worstAbove, diff);
            ++stats.compared;
            if (std::abs(diff) > kCloseGrey) ++stats.far;
        }
}

void ExpectCloseAlmostEverywhere(const Stats& s, const char* name) {
    std::cout << name << ": compared " << s.compared << ", clear misses " << s.misses << ", far "
              << s.far << ", worst below " << s.worstBelow << ", worst above " << s.worstAbove
              << "\n";
    EXPECT_GT(s.compared, 1500) << name;
    EXPECT_GT(s.misses, 0) << name;
    EXPECT_LE(double(s.far), kAllowedFarRate * double(s.compared)) << name;
}

// Views: two orbits, and a zoom that puts the eye inside the volume.
void RunViews(MipTestFrame& f, const DenseVolume& dense, const char* name) {
    Stats stats;
    for (bool withGrid : {false, true}) {
        f.SetCamera(MipTestFrame::Orbit(0.7f, 0.35f), 1.0f, 56, 48);
        CompareWithReference(f, dense, withGrid, stats);
        f.SetCamera(MipTestFrame::Orbit(-2.1f, -0.9f), 1.4f, 48, 56, 3.0f, -2.0f);
        CompareWithReference(f, dense, withGrid, stats);
        f.SetCamera(MipTestFrame::Orbit(0.2f, 1.1f), 7.0f, 40, 40);
        CompareWithReference(f, dense, withGrid, stats);
    }
    ExpectCloseAlmostEverywhere(stats, name);
}

void SetWindowToRange(MipTestFrame& f, VolumeData& data) {
    double lo, hi;
    data.GetMinMaxValue(lo, hi);
    f.param.windowWidth = float(hi - lo);
    f.param.windowCenter = float(0.5 * (lo + hi));
}

TEST(MIPVRReference, HeadPhantomUint16) {
    std::unique_ptr<VolumeData> data(CreateHeadPhantom(40));
    ASSERT_TRUE(data);
    MipTestFrame f;
    f.Load(*data, 16);  // 16^3 blocks: the air around the head makes uniform blocks
    SetWindowToRange(f, *data);
    RunViews(f, DenseVolumeFrom(*data), "phantom");
}

TEST(MIPVRReference, AnisotropicFloatBlobsWithCropping) {
    VolumeData data;
    FillAnisotropicBlobs(data, 20.0, 6.0, 0.01);
    MipTestFrame f;
    f.Load(data);
    SetWindowToRange(f, data);
    const float crop[6] = {2.5f, 33.0f, 0.0f, 21.25f, 1.0f, 17.0f};
    for (int a = 0; a < 6; ++a)
        f.sceneParam.croppingBounds[a] = crop[a];
    RunViews(f, DenseVolumeFrom(data), "anisotropic float");
}

TEST(MIPVRReference, SignedInt16WithNegatives) {
    const int dims[3] = {30, 26, 22};
    const float spacing[3] = {1.0f, 1.0f, 1.5f};
    VolumeData data;
    FillVolume<int16_t>(data, VolumeData::dtInt16, dims, spacing, [](int i, int j, int k) {
        return std::lround(900.0 * std::sin(0.31 * i) * std::cos(0.23 * j + 0.4 * k) - 250.0 +
                           double((i * 131 + j * 71 + k * 37) % 41));
    });
    MipTestFrame f;
    f.Load(data, 8);  // small blocks: many cells straddle two blocks
    SetWindowToRange(f, data);
    ASSERT_LT(f.param.windowCenter - 0.5f * f.param.windowWidth, -1000.0f);
    RunViews(f, DenseVolumeFrom(data), "signed int16");
}

TEST(MIPVRReference, Uint8NoiseInsideACroppingBox) {
    const int dims[3] = {18, 18, 18};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    std::mt19937 rng(77u);
    std::vector<int> noise(18 * 18 * 18);
    for (int& n : noise)
        n = int(rng() % 256);
    VolumeData data;
    FillVolume<uint8_t>(data, VolumeData::dtUint8, dims, spacing,
                        [&](int i, int j, int k) { return noise[i + 18 * (j + 18 * k)]; });
    MipTestFrame f;
    f.Load(data, 0, 3);
    f.param.windowWidth = 255.0f;
    f.param.windowCenter = 127.5f;
    const float crop[6] = {3.5f, 14.0f, 2.0f, 15.5f, 4.25f, 12.75f};
    for (int a = 0; a < 6; ++a)
        f.sceneParam.croppingBounds[a] = crop[a];
    RunViews(f, DenseVolumeFrom(data), "uint8 noise");
}

}  // namespace
