// The full kernel against the double-precision reference of FullVRTestFrame.h: every pixel's
// samples at the positions the entry point defines (every sampleDistance from the ray's entry;
// with the grid, restarting at each macro-cell plane), classified, corrected, shaded and
// composited in double. The grid's skipping must lose nothing, also for tables with transparent
// gaps that the volume's values cross.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>
#include <vector>

#include "FullVRTestFrame.h"

namespace {

// Per channel: float rays, float steps and float shading against double, on smooth volumes.
constexpr double kClose = 2e-3;
// Allowed share of pixels farther than kClose: a sample that float and double place on either
// side of a segment end, or a normal near a zero gradient.
constexpr double kAllowedFarRate = 0.01;
// Rays clipped to less than this (physical units) graze the box and are not compared.
constexpr double kMinSegment = 0.01;

// Compares the frame's image with the reference; returns the number of compared pixels.
long CompareWithReference(FullTestFrame& f, bool withGrid, const DenseVolume& dense) {
    f.Render(withGrid);
    const fullref::Setup setup(f, withGrid);
    long compared = 0, far = 0;
    double worst = 0.0;
    for (int j = 0; j < f.image.height; ++j)
        for (int i = 0; i < f.image.width; ++i) {
            const fullref::Ray ray = fullref::PixelRay(f.sceneParam, f.image.windowX + i + 0.5,
                                                       f.image.windowY + j + 0.5);
            if (std::fabs(ray.tFar - ray.tNear) < kMinSegment) continue;
            double expected[4];
            fullref::TraceRay(setup, dense, ray, expected);
            const float* p = f.Pixel(i, j);
            double difference = 0.0;
            for (int c = 0; c < 4; ++c)
                difference = std::max(difference, std::fabs(p[c] - expected[c]));
            worst = std::max(worst, difference);
            ++compared;
            if (difference > kClose) ++far;
        }
    EXPECT_LE(double(far), kAllowedFarRate * double(compared))
        << far << " of " << compared << " pixels off, worst " << worst;
    return compared;
}

// A random table: n entries over [lo, hi], colours in [0, 1], opacities in [0, maxAlpha] or 0
// inside transparent gaps (entries whose index / gap is odd, when gap > 0).
std::vector<Vector4> RandomTable(std::mt19937& rng, int n, float maxAlpha, int gap) {
    std::uniform_real_distribution<float> unit(0.f, 1.f);
    std::vector<Vector4> entries;
    for (int i = 0; i < n; ++i) {
        const bool clear = gap > 0 && (i / gap) % 2 == 1;
        entries.push_back(
            Vector4(unit(rng), unit(rng), unit(rng), clear ? 0.f : maxAlpha * unit(rng)));
    }
    return entries;
}

TEST(FullVRReference, BothEntryPointsInEveryShadingMode) {
    FullTestFrame f;
    VolumeData data;
    const int dims[3] = {20, 18, 16};
    const float spacing[3] = {1.f, 1.25f, 0.8f};
    FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing, [](int i, int j, int k) {
        return 100.f + 60.f * std::sin(0.35f * i + 0.2f * k) * std::cos(0.28f * j) + 2.f * k;
    });
    f.Load(data, 8, 0);
    const DenseVolume dense = DenseVolumeFrom(data);
    std::mt19937 rng(11);
    f.SetTable(RandomTable(rng, 48, 0.3f, 0), 20.f, 200.f);
    f.kernel.sampleDistance = 0.35f;
    f.light.lightDirection = Vector4(0.3f, -0.5f, -0.8f, 0.f);
    f.light.backgroundColor[0] = 0.2f;
    long compared = 0;
    const float views[3][2] = {{0.f, 0.f}, {0.9f, 0.4f}, {2.6f, -0.7f}};
    for (const auto& view : views) {
        f.SetCamera(FullTestFrame::Orbit(view[0], view[1]), 1.2f, 48, 48);
        for (int mode = 0; mode < 3; ++mode) {
            f.kernel.shade = mode > 0;
            f.light.illustrativeShading = mode == 2;
            for (bool grid : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "view " << view[0] << " mode " << mode << " grid " << grid);
                compared += CompareWithReference(f, grid, dense);
            }
        }
    }
    EXPECT_GT(compared, 3 * 6 * 1000);
}

TEST(FullVRReference, GridSkipsOnlyTransparentCellsOfAGappedTable) {
    // A diagonal ramp crosses the table's alternating opaque and transparent bands several times
    // per ray; 4-voxel cells. Some cells are skipped, none that matters.
    FullTestFrame f;
    VolumeData data;
    const int dims[3] = {24, 24, 24};
    const float spacing[3] = {1.f, 1.f, 1.f};
    FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing,
                      [](int i, int j, int k) { return 1.5f * (i + j + k); });
    f.Load(data, 0, 4);
    const DenseVolume dense = DenseVolumeFrom(data);
    std::mt19937 rng(5);
    f.SetTable(RandomTable(rng, 64, 0.6f, 16), 0.f, 103.5f);
    f.kernel.sampleDistance = 0.3f;
    f.kernel.shade = false;

    int skipped = 0;
    const int cells = f.grid.cellCount[0] * f.grid.cellCount[1] * f.grid.cellCount[2];
    for (int c = 0; c < cells; ++c)
        if (!f.sums.RangeIsVisible(f.grid.minMax[2 * c], f.grid.minMax[2 * c + 1])) ++skipped;
    ASSERT_GT(skipped, cells / 10);
    ASSERT_LT(skipped, cells - cells / 10);

    for (float azimuth : {0.3f, 1.1f, 2.2f}) {
        f.SetCamera(FullTestFrame::Orbit(azimuth, 0.5f), 1.f, 48, 48);
        SCOPED_TRACE(azimuth);
        CompareWithReference(f, true, dense);
        CompareWithReference(f, false, dense);
    }
}

}  // namespace
