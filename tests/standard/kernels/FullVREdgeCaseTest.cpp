// The full kernel's worked numbers on single rays along +x (samples on voxel positions x = 0, 1,
// ...): opacity correction, classification at the ends and between entries, early termination,
// two-sided and illustrative shading; then the zero-opacity table, shading off and ignored inputs
// on camera frames.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "FullVRTestFrame.h"

namespace {

constexpr float kTol = 1e-6f;

// A dtFloat32 volume of `dims` with unit spacing and values f(i, j, k), loaded into the frame with
// grid cells of 4 voxels.
void LoadVolume(FullTestFrame& f, VolumeData& data, const int dims[3],
                const std::function<float(int, int, int)>& value) {
    const float spacing[3] = {1.f, 1.f, 1.f};
    FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing, value);
    f.Load(data, 0, 4);
}

Vector4 OneRay(FullTestFrame& f, bool withGrid = false) {
    f.AimOneRay(1.f, 1.f);
    f.Render(withGrid);
    const float* p = f.Pixel(0, 0);
    return Vector4(p[0], p[1], p[2], p[3]);
}

void ExpectColour(const Vector4& c, float r, float g, float b, float a) {
    EXPECT_NEAR(c.x, r, kTol);
    EXPECT_NEAR(c.y, g, kTol);
    EXPECT_NEAR(c.z, b, kTol);
    EXPECT_NEAR(c.w, a, kTol);
}

TEST(FullVR, OpacityCorrectionAndClassification) {
    FullTestFrame f;
    VolumeData data;
    float value = 0.5f;
    const int two[3] = {2, 3, 3};  // box x in [0, 1]: one sample at x = 0 for steps >= 1
    f.kernel.shade = false;

    // Opacity 0.5 for the standard step stays 0.5; at twice the step it becomes 0.75.
    f.SetTable({Vector4(1, 1, 1, 0.5f), Vector4(1, 1, 1, 0.5f)}, 0.f, 1.f);
    LoadVolume(f, data, two, [&](int, int, int) { return value; });
    ExpectColour(OneRay(f), 0.5f, 0.5f, 0.5f, 0.5f);
    f.kernel.sampleDistance = 2.f;
    ExpectColour(OneRay(f), 0.75f, 0.75f, 0.75f, 0.75f);
    f.SetTable({Vector4(1, 1, 1, 1), Vector4(1, 1, 1, 1)}, 0.f, 1.f);
    ExpectColour(OneRay(f), 1.f, 1.f, 1.f, 1.f);  // 1 stays 1

    // Four entries over 0 .. 3: the last entry at maxPos and above, the first below minPos, the
    // average halfway between two entries (premultiplied by its opacity).
    f.kernel.sampleDistance = 1.f;
    f.SetTable({Vector4(1, 0, 0, 1), Vector4(0.2f, 0.4f, 0.6f, 0.2f), Vector4(0.6f, 0, 1, 0.6f),
                Vector4(0, 0, 1, 1)},
               0.f, 3.f);
    const struct {
        float value, r, g, b, a;
    } cases[] = {{3.f, 0, 0, 1, 1},
                 {7.f, 0, 0, 1, 1},
                 {-5.f, 1, 0, 0, 1},
                 {1.5f, 0.4f * 0.4f, 0.2f * 0.4f, 0.8f * 0.4f, 0.4f}};
    for (const auto& c : cases) {
        value = c.value;
        LoadVolume(f, data, two, [&](int, int, int) { return value; });
        SCOPED_TRACE(c.value);
        ExpectColour(OneRay(f), c.r, c.g, c.b, c.a);
        ExpectColour(OneRay(f, true), c.r, c.g, c.b, c.a);
    }
}

TEST(FullVR, EarlyTerminationAtOpacity098) {
    // Opacity 0.5 per sample: 1 - 0.5^n first reaches 0.98 at n = 6 (0.984375); the ray is 19
    // samples long. With 4-voxel cells and unit steps the grid's restarts fall on the same
    // samples.
    FullTestFrame f;
    VolumeData data;
    const int dims[3] = {20, 3, 3};
    f.kernel.shade = false;
    f.SetTable({Vector4(0.8f, 0.4f, 0.2f, 0.5f), Vector4(0.8f, 0.4f, 0.2f, 0.5f)}, 0.f, 1.f);
    LoadVolume(f, data, dims, [](int, int, int) { return 0.5f; });
    const float a = 0.984375f;
    for (bool grid : {false, true})
        ExpectColour(OneRay(f, grid), 0.8f * a, 0.4f * a, 0.2f * a, a);
}

TEST(FullVR, TwoSidedAndIllustrativeShading) {
    // Opaque grey 0.2 over any value: the first sample (x = 0) decides. Defaults: ambient 0.1,
    // diffuse 1, specular 0.5, power 10, white light of intensity 1.
    FullTestFrame f;
    VolumeData data;
    const int dims[3] = {4, 3, 3};
    f.SetTable({Vector4(0.2f, 0.2f, 0.2f, 1), Vector4(0.2f, 0.2f, 0.2f, 1)}, -100.f, 100.f);
    const std::function<float(int, int, int)> rising = [](int i, int, int) { return 10.f + i; };
    const std::function<float(int, int, int)> falling = [](int i, int, int) { return 10.f - i; };
    for (const auto* volume : {&rising, &falling}) {
        LoadVolume(f, data, dims, *volume);
        // Light travelling with the view: the seen side is lit whichever way N points.
        // 0.2 (0.1 + 1) + 0.5 |H.N|^10 with H = N = +-x.
        f.light.lightDirection = Vector4(1, 0, 0, 0);
        ExpectColour(OneRay(f), 0.72f, 0.72f, 0.72f, 1.f);
        // Used as stored: length 2 doubles the diffuse term.
        f.light.lightDirection = Vector4(2, 0, 0, 0);
        ExpectColour(OneRay(f), 0.92f, 0.92f, 0.92f, 1.f);
        // Light from the far side: ambient only.
        f.light.lightDirection = Vector4(-1, 0, 0, 0);
        ExpectColour(OneRay(f), 0.02f, 0.02f, 0.02f, 1.f);
    }
    // Zero gradient: unlit.
    f.light.lightDirection = Vector4(1, 0, 0, 0);
    LoadVolume(f, data, dims, [](int, int, int) { return 5.f; });
    ExpectColour(OneRay(f), 0.02f, 0.02f, 0.02f, 1.f);

    // Illustrative: a normal across the ray keeps the colour, one along it takes the background.
    f.light.illustrativeShading = true;
    f.light.backgroundColor[0] = 0.3f;
    f.light.backgroundColor[1] = 0.6f;
    f.light.backgroundColor[2] = 0.9f;
    LoadVolume(f, data, dims, [](int, int j, int) { return 10.f + j; });
    ExpectColour(OneRay(f), 0.2f, 0.2f, 0.2f, 1.f);
    LoadVolume(f, data, dims, rising);
    ExpectColour(OneRay(f), 0.3f, 0.6f, 0.9f, 1.f);
}

// A random smooth volume seen from a fitted camera.
void LoadCameraFrame(FullTestFrame& f, VolumeData& data) {
    const int dims[3] = {16, 14, 12};
    const float spacing[3] = {1.f, 1.2f, 0.9f};
    FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing, [](int i, int j, int k) {
        return 50.f + 40.f * std::sin(0.4f * i) * std::cos(0.3f * j) + 3.f * k;
    });
    f.Load(data, 0, 4);
    f.SetCamera(FullTestFrame::Orbit(0.5f, 0.3f), 1.f, 40, 40);
    f.kernel.sampleDistance = 0.4f;
}

TEST(FullVR, ZeroOpacityTableAndShadingOff) {
    FullTestFrame f;
    VolumeData data;
    LoadCameraFrame(f, data);
    const std::size_t floats = std::size_t(f.image.width) * f.image.height * 4;
    ASSERT_GT(floats, 0u);
    auto image = [&](bool grid) {
        f.Render(grid);
        return std::vector<float>(f.image.pixels, f.image.pixels + floats);
    };
    const std::vector<float> zeros(floats, 0.f);

    // Zero opacity everywhere (colours set): nothing from either entry point.
    f.SetTable(std::vector<Vector4>(32, Vector4(1, 0.5f, 0.25f, 0)), 0.f, 150.f);
    EXPECT_EQ(image(false), zeros);
    EXPECT_EQ(image(true), zeros);
    // The grid entry point takes no sample in a cell its sums call transparent: with an opaque
    // table but the zero table's sums it still gives nothing, while the plain walk does not.
    const TFEmptySpace zeroSums = f.sums;
    f.SetTable(std::vector<Vector4>(32, Vector4(1, 0.5f, 0.25f, 0.3f)), 0.f, 150.f);
    f.sums = zeroSums;
    EXPECT_NE(image(false), zeros);
    EXPECT_EQ(image(true), zeros);

    // Shading off: the light has no effect at all.
    std::vector<Vector4> ramp;
    for (int i = 0; i < 32; ++i)
        ramp.push_back(Vector4(i / 31.f, 1 - i / 31.f, 0.5f, 0.02f * (i % 8)));
    f.SetTable(ramp, 0.f, 150.f);
    f.kernel.shade = false;
    const std::vector<float> unshaded = image(false);
    f.light.lightDirection = Vector4(0, -3, 1, 0);
    f.light.ambient = 0.7f;
    f.light.illustrativeShading = true;
    EXPECT_EQ(image(false), unshaded);
    f.kernel.shade = true;
    EXPECT_NE(image(false), unshaded);
}

TEST(FullVR, MissingOrUnusableInputsLeaveTheImageUntouched) {
    FullTestFrame f;
    VolumeData data;
    LoadCameraFrame(f, data);
    f.SetTable(std::vector<Vector4>(8, Vector4(1, 1, 1, 0.5f)), 0.f, 150.f);
    const std::size_t floats = std::size_t(f.image.width) * f.image.height * 4;
    const FullVR saved = f.kernel;
    for (int which = 0; which < 9; ++which) {
        f.kernel = saved;
        std::fill(f.image.pixels, f.image.pixels + floats, -7.f);
        Lut1D empty;
        switch (which) {
            case 0:
                f.kernel.volume = nullptr;
                break;
            case 1:
                f.kernel.lut = nullptr;
                break;
            case 2:
                f.kernel.lightParam = nullptr;
                break;
            case 3:
                f.kernel.vrSceneParam = nullptr;
                break;
            case 4:
                f.kernel.lut = &empty;
                break;  // no entries
            case 5:
                f.kernel.sampleDistance = 0.f;
                break;  // would never advance
            case 6:
                f.kernel.sampleDistance = NAN;
                break;
            case 7:
                f.kernel.gridPartition = nullptr;
                break;  // grid entry point only
            case 8:
                f.kernel.tfEmptySpace = nullptr;
                break;  // grid entry point only
        }
        f.kernel.RenderWithGridPartition();
        if (which < 7) f.kernel.RenderWithoutGridPartition();
        EXPECT_EQ(f.image.pixels[0], -7.f) << which;
        EXPECT_EQ(f.image.pixels[floats - 1], -7.f) << which;
    }
}

}  // namespace
