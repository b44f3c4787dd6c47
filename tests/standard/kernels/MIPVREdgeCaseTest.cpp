// MIP kernel cases with known answers: constant volumes, the grey window, a
// grazing ray, an interior cubic maximum, and calls with missing inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "MIPVRTestFrame.h"

namespace {

constexpr float kGreyTol = 1e-5f;

enum class Entry { kWithoutGrid, kWithGrid };

void RenderWith(MipTestFrame& f, Entry entry) {
    if (entry == Entry::kWithGrid)
        f.kernel.RenderWithGridPartition();
    else
        f.kernel.RenderWithoutGridPartition();
}

// Every pixel must be either a miss (0, 0, 0, 0) or grey (g, g, g, 1); returns
// the number of hits.
int ExpectUniformGrey(const MipTestFrame& f, float g) {
    int hits = 0;
    for (int j = 0; j < f.image.height; ++j)
        for (int i = 0; i < f.image.width; ++i) {
            const float* p = f.Pixel(i, j);
            if (p[3] == 0.0f) {
                EXPECT_EQ(p[0] + p[1] + p[2], 0.0f) << i << "," << j;
                continue;
            }
            ++hits;
            EXPECT_EQ(p[3], 1.0f) << i << "," << j;
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(p[c], g, kGreyTol) << i << "," << j;
        }
    return hits;
}

struct ConstantCase {
    DataType type;
    double value;
    float width, center;
    float expectedGrey;
};

// A constant volume renders (v - center) / width + 0.5, clamped, wherever the
// ray meets the box; with the default window (256, 128) the value 128 is 0.5,
// 0 is 0 (black, but opaque) and 256 is 1. A single slice (depth 1) shows too:
// every ray crossing its plane samples it once.
TEST(MIPVREdgeCases, ConstantVolumeRendersItsWindowedValue) {
    const ConstantCase cases[] = {
        {VolumeData::dtUint16, 128.0, 256.0f, 128.0f, 0.5f},
        {VolumeData::dtUint16, 0.0, 256.0f, 128.0f, 0.0f},
        {VolumeData::dtUint16, 256.0, 256.0f, 128.0f, 1.0f},
        {VolumeData::dtInt16, -300.0, 2000.0f, 100.0f, 0.3f},
        {VolumeData::dtFloat32, 7.25, 10.0f, 5.0f, 0.725f},
        {VolumeData::dtUint8, 250.0, 100.0f, 50.0f, 1.0f},  // (250-50)/100+0.5 clamps to 1
    };
    const float spacing[3] = {1.0f, 1.25f, 2.0f};
    for (const int depth : {16, 1})
        for (const ConstantCase& c : cases) {
            const int dims[3] = {24, 20, depth};
            VolumeData data;
            const auto constant = [&](int, int, int) { return c.value; };
            if (c.type == VolumeData::dtUint16)
                FillVolume<uint16_t>(data, c.type, dims, spacing, constant);
            else if (c.type == VolumeData::dtInt16)
                FillVolume<int16_t>(data, c.type, dims, spacing, constant);
            else if (c.type == VolumeData::dtFloat32)
                FillVolume<float>(data, c.type, dims, spacing, constant);
            else
                FillVolume<uint8_t>(data, c.type, dims, spacing, constant);
            for (Entry entry : {Entry::kWithoutGrid, Entry::kWithGrid}) {
                MipTestFrame f;
                f.Load(data);
                f.param.windowWidth = c.width;
                f.param.windowCenter = c.center;
                f.SetCamera(MipTestFrame::Orbit(0.6f, 0.3f), 1.0f, 40, 32);
                ASSERT_GT(f.image.width * f.image.height, 0);
                RenderWith(f, entry);
                const int hits = ExpectUniformGrey(f, c.expectedGrey);
                // The volume fills a good part of its screen rectangle, and the
                // centre of the rectangle looks straight through the box.
                EXPECT_GT(hits, f.image.width * f.image.height / (depth > 1 ? 3 : 6)) << c.value;
                EXPECT_EQ(f.Pixel(f.image.width / 2, f.image.height / 2)[3], 1.0f);
            }
        }
}

// Points a 1 x 1 image at one ray: eye -> through, both in physical units.
// windowToPhysical maps the pixel centre (0.5, 0.5, 0, 1) to `through` and the
// window direction (0, 0, 1, 0) to the eye.
void AimSingleRay(MipTestFrame& f, const Vector3& eye, const Vector3& through) {
    f.sceneParam.windowToPhysical = Matrix4x4(0, 0, 0, 0, 0, 0, 0, 0, eye.x, eye.y, eye.z, 1,
                                              through.x, through.y, through.z, 1);
    f.sceneParam.physicalToVoxel = Matrix4x4::ScaleMatrix(
        1.0f / f.volume.spacings[0], 1.0f / f.volume.spacings[1], 1.0f / f.volume.spacings[2]);
    f.image.windowX = f.image.windowY = 0;
    f.image.width = f.image.height = 1;
    f.image.Allocate();
}

// A ray that touches the cropping box in one point (tNear == tFar) is a miss:
// transparent, not opaque black. The same ray moved slightly inwards hits.
TEST(MIPVREdgeCases, GrazingRayIsTransparent) {
    VolumeData data;
    const int dims[3] = {5, 5, 5};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    FillVolume<uint16_t>(data, VolumeData::dtUint16, dims, spacing,
                         [](int, int, int) { return 0; });
    for (Entry entry : {Entry::kWithoutGrid, Entry::kWithGrid}) {
        MipTestFrame f;
        f.Load(data);
        // Direction (1, 1, 0) / sqrt 2 through the box edge x = 0, y = 4: the
        // ray enters across x = 0 and leaves across y = 4 at the same t.
        AimSingleRay(f, Vector3(-3.0f, 1.0f, 2.0f), Vector3(-2.0f, 2.0f, 2.0f));
        RenderWith(f, entry);
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(f.image.pixels[c], 0.0f);

        AimSingleRay(f, Vector3(-3.0f, 0.75f, 2.0f), Vector3(-2.0f, 1.75f, 2.0f));
        RenderWith(f, entry);
        EXPECT_EQ(f.image.pixels[3], 1.0f);  // value 0 -> black, but a hit
        EXPECT_EQ(f.image.pixels[0], 0.0f);

        // A cropping box of zero thickness in z: an oblique ray meets it in one point, which is
        // sampled once (a hit: black with alpha 1), so that a flat box still shows its plane.
        f.sceneParam.croppingBounds[4] = f.sceneParam.croppingBounds[5] = 2.0f;
        AimSingleRay(f, Vector3(1.0f, 1.0f, -3.0f), Vector3(1.5f, 1.25f, -2.0f));
        RenderWith(f, entry);
        EXPECT_EQ(f.image.pixels[3], 1.0f);
        EXPECT_EQ(f.image.pixels[0], 0.0f);
    }
}

// One bright voxel V = 1000 at (2, 2, 2); around it the interpolant is
// V (1 - |x - 2|)(1 - |y - 2|)(1 - |z - 2|). The ray through (2, 2.8, 2.5) with
// direction (1, -1, 0) / sqrt 2 crosses cell [2,3] x [2,3] x [2,3] from
// (2, 2.8) to (2.8, 2): there f = 500 (1 - s)(0.2 + s) with s = x - 2, whose
// ends give 100 and whose interior maximum at s = 0.4 is 500 * 0.36 = 180. The
// neighbouring cells fall off from 100. Window (1000, 500): grey 0.18, where
// the segment ends alone would give 0.1.
TEST(MIPVREdgeCases, InteriorCubicMaximumCounts) {
    VolumeData data;
    const int dims[3] = {5, 5, 5};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    FillVolume<uint16_t>(data, VolumeData::dtUint16, dims, spacing,
                         [](int i, int j, int k) { return i == 2 && j == 2 && k == 2 ? 1000 : 0; });
    for (Entry entry : {Entry::kWithoutGrid, Entry::kWithGrid}) {
        for (int cellSize : {2, 4}) {
            MipTestFrame f;
            f.Load(data, 0, cellSize);
            f.param.windowWidth = 1000.0f;
            f.param.windowCenter = 500.0f;
            AimSingleRay(f, Vector3(-8.0f, 12.8f, 2.5f), Vector3(2.0f, 2.8f, 2.5f));
            RenderWith(f, entry);
            EXPECT_NEAR(f.image.pixels[0], 0.18f, kGreyTol) << cellSize;
            EXPECT_EQ(f.image.pixels[3], 1.0f);
            // The same ray run backwards gives the same maximum.
            AimSingleRay(f, Vector3(12.0f, -7.2f, 2.5f), Vector3(2.0f, 2.8f, 2.5f));
            RenderWith(f, entry);
            EXPECT_NEAR(f.image.pixels[0], 0.18f, kGreyTol) << cellSize;
        }
    }
}

// Missing inputs leave the image untouched.
TEST(MIPVREdgeCases, MissingInputsLeaveTheImageAlone) {
    VolumeData data;
    const int dims[3] = {6, 6, 6};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    FillVolume<uint8_t>(data, VolumeData::dtUint8, dims, spacing,
                        [](int, int, int) { return 200; });
    MipTestFrame f;
    f.Load(data);
    f.SetCamera(Quaternion(), 1.0f, 16, 16);
    const int count = f.image.width * f.image.height * 4;
    ASSERT_GT(count, 0);
    auto fill = [&] {
        for (int i = 0; i < count; ++i)
            f.image.pixels[i] = -7.0f;
    };
    auto untouched = [&] {
        for (int i = 0; i < count; ++i)
            if (f.image.pixels[i] != -7.0f) return false;
        return true;
    };
    MIPVR saved = f.kernel;
    f.kernel.mipParam = nullptr;
    fill();
    f.kernel.RenderWithoutGridPartition();
    f.kernel.RenderWithGridPartition();
    EXPECT_TRUE(untouched());

    f.kernel = saved;
    f.kernel.gridPartition = nullptr;
    f.kernel.RenderWithGridPartition();
    EXPECT_TRUE(untouched());
    f.kernel.RenderWithoutGridPartition();  // does not need the grid
    EXPECT_FALSE(untouched());

    for (int which = 0; which < 3; ++which) {
        f.kernel = saved;
        if (which == 0) f.kernel.volume = nullptr;
        if (which == 1) f.kernel.vrSceneParam = nullptr;
        if (which == 2) f.kernel.image = nullptr;
        fill();
        f.kernel.RenderWithoutGridPartition();
        f.kernel.RenderWithGridPartition();
        EXPECT_TRUE(untouched()) << which;
    }
}

}  // namespace
