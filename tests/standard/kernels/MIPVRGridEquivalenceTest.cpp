// The grid entry point skips macro cells but must give the image of the plain
// cell walk: random volumes, cameras, cropping boxes, block and cell sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>
#include <cstdio>

#include "MIPVRTestFrame.h"

namespace {

// Skipping changes only where the voxel walk restarts (at macro-cell faces)
// and, through the order in which macro cells are visited, which of two
// rounded cell maxima of equal true value is kept; so the two images agree up
// to float rounding.
constexpr float kRoundingTol = 2e-5f;

// Smooth blobs over an empty background, plus noise: large empty regions to
// skip, and peaks that macro cells must not hide.
double BlobValue(int i, int j, int k, const double centres[3][4], uint32_t noise) {
    double v = 0.0;
    for (int b = 0; b < 3; ++b) {
        const double dx = i - centres[b][0], dy = j - centres[b][1], dz = k - centres[b][2];
        v += std::exp(-(dx * dx + dy * dy + dz * dz) / centres[b][3]);
    }
    return v + double(noise % 1000) * 1e-4;
}

TEST(MIPVRGridEquivalence, GridVariantEqualsPlainWalk) {
    std::mt19937 rng(5150u);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto integer = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const DataType types[4] = {VolumeData::dtUint8, VolumeData::dtInt16, VolumeData::dtFloat32,
                               VolumeData::dtUint16};
    const int blockSizes[3] = {0, 8, 5};  // default 64, power of two, not a power of two
    long comparedPixels = 0;
    double largest = 0.0;
    for (int trial = 0; trial < 12; ++trial) {
        const DataType type = types[trial % 4];
        const int dims[3] = {integer(6, 26), integer(6, 26), integer(6, 26)};
        const float spacing[3] = {float(uniform(0.5, 2.0)), float(uniform(0.5, 2.0)),
                                  float(uniform(0.5, 2.0))};
        double centres[3][4];
        for (auto& c : centres) {
            for (int a = 0; a < 3; ++a)
                c[a] = uniform(0, dims[a] - 1);
            c[3] = uniform(1.0, 12.0);
        }
        const double scale = type == VolumeData::dtUint8 ? 90.0 : 1500.0;
        const double offset = type == VolumeData::dtInt16 ? -800.0 : 0.0;
        std::vector<uint32_t> noise(std::size_t(dims[0]) * dims[1] * dims[2]);
        for (auto& n : noise)
            n = rng();
        // Every third volume has an exactly constant background, which makes
        // uniform blocks (no buffer) wherever a block misses the blobs.
        const bool flatBackground = trial % 3 == 1;
        auto value = [&](int i, int j, int k) {
            const uint32_t n = noise[i + dims[0] * (j + dims[1] * std::size_t(k))];
            const double v = BlobValue(i, j, k, centres, n);
            return (flatBackground && v < 0.2 ? 0.0 : v * scale) + offset;
        };
        VolumeData data;
        if (type == VolumeData::dtUint8)
            FillVolume<uint8_t>(data, type, dims, spacing, value);
        else if (type == VolumeData::dtInt16)
            FillVolume<int16_t>(data, type, dims, spacing, value);
        else if (type == VolumeData::dtFloat32)
            FillVolume<float>(data, type, dims, spacing, value);
        else
            FillVolume<uint16_t>(data, type, dims, spacing, value);

        MipTestFrame f;
        f.Load(data, blockSizes[trial % 3], trial % 2 ? integer(2, 7) : 0);
        double lo, hi;
        data.GetMinMaxValue(lo, hi);
        f.param.windowWidth = float(hi - lo);
        f.param.windowCenter = float(0.5 * (lo + hi));
        // Random cropping box, fractional bounds, sometimes reaching past the volume.
        for (int a = 0; a < 3; ++a) {
            const double l = uniform(-1.0, 0.5 * dims[a]);
            f.sceneParam.croppingBounds[2 * a] = float(l);
            f.sceneParam.croppingBounds[2 * a + 1] = float(uniform(l + 0.5, dims[a]));
        }
        f.SetCamera(MipTestFrame::Orbit(float(uniform(-3.2, 3.2)), float(uniform(-1.5, 1.5))),
                    float(uniform(0.7, 1.8)), 64, 56, float(uniform(-2, 2)), float(uniform(-2, 2)));
        const int count = f.image.width * f.image.height * 4;
        ASSERT_GT(count, 0);
        f.kernel.RenderWithoutGridPartition();
        const std::vector<float> plain(f.image.pixels, f.image.pixels + count);
        std::fill(f.image.pixels, f.image.pixels + count, -1.0f);
        f.kernel.RenderWithGridPartition();
        int hits = 0;
        for (int p = 0; p < count; p += 4) {
            ASSERT_EQ(f.image.pixels[p + 3], plain[p + 3]) << "trial " << trial;
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(f.image.pixels[p + c], plain[p + c], kRoundingTol)
                    << "trial " << trial << " pixel " << p / 4;
            hits += plain[p + 3] == 1.0f;
            largest = std::max(largest, double(std::abs(f.image.pixels[p] - plain[p])));
        }
        EXPECT_GT(hits, 0) << "trial " << trial;
        comparedPixels += hits;
    }
    std::printf("compared %ld, largest difference %g\n", comparedPixels, largest);
    EXPECT_GT(comparedPixels, 4000);
}

}  // namespace

namespace {

// A grid of one-voxel cells along a 260-voxel axis: rays along that axis meet
// more grid cells than a ray lists before visiting them in order of their
// maxima, so the rest are visited in walk order. Same image as the plain walk.
TEST(MIPVRGridEquivalence, RaysWithMoreGridCellsThanTheListHolds) {
    const int dims[3] = {260, 24, 24};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    VolumeData data;
    FillVolume<uint16_t>(data, VolumeData::dtUint16, dims, spacing, [](int i, int j, int k) {
        // Zero on the two end faces, so that the entry sample is 0 and every
        // grid cell along the ray is a candidate.
        if (i == 0 || i == 259) return 0;
        return (i * 37 + j * 11 + k * 5) % 97 + 1 + (i % 50 == 7 ? 400 : 0);
    });
    MipTestFrame f;
    f.Load(data, 0, 1);
    f.param.windowWidth = 500.0f;
    f.param.windowCenter = 250.0f;
    // Looking along x, the long axis turned towards the eye, which stays
    // outside the volume: central rays cross all 260 grid cells.
    f.SetCamera(MipTestFrame::Orbit(1.5707964f, 0.02f), 2.0f, 48, 48);
    const int count = f.image.width * f.image.height * 4;
    ASSERT_GT(count, 0);
    f.kernel.RenderWithoutGridPartition();
    const std::vector<float> plain(f.image.pixels, f.image.pixels + count);
    f.kernel.RenderWithGridPartition();
    int hits = 0;
    for (int p = 0; p < count; p += 4) {
        ASSERT_EQ(f.image.pixels[p + 3], plain[p + 3]);
        // Slopes of 400 per voxel, and the plain walk adds its 260 plane
        // steps up in float while the grid walk restarts at every grid cell:
        // positions part by up to a few 1e-3 voxel at the far end, which shows
        // as up to about 1e-3 grey here.
        ASSERT_NEAR(f.image.pixels[p], plain[p], 1e-3f) << "pixel " << p / 4;
        hits += plain[p + 3] == 1.0f;
    }
    EXPECT_GT(hits, 400);
}

}  // namespace
