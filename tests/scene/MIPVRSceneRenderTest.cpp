// MIPVRScene in a real GL context: the frame equals its kernel's float image, rendered separately
// from the same inputs, composited over black with the premultiplied blend.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "HeadPhantom.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "MIPVRScene.h"
#include "Quaternion.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "VolumeData.h"
#include "support/GLTestContext.h"

namespace {

// One 8-bit step: the frame buffer quantises the blended float colour.
constexpr int kToleranceSteps = 1;

struct Reference {
    std::vector<uint8_t> rgba;  // whole window, rows bottom-up
    int regionPixels = 0;       // region pixels inside the window
};

// The kernel's image for the scene's last frame, from objects of our own: the same volume,
// window, cropping box and camera matrices. Composited over the cleared frame (0, 0, 0, 1) as
// dst = src + (1 - src.a) dst, then quantised to 8 bits with rounding.
Reference RenderReference(VolumeData* volumeData, const MIPVRScene& scene, float width,
                          float center, const float cropping[6], int w, int h) {
    CoherentVolume volume;
    volume.SetData(volumeData);
    GridPartition grid;
    grid.Init(&volume, 0.4f);
    MIPRayCasterParam window;
    window.windowWidth = width;
    window.windowCenter = center;
    VRSceneParam rays;
    for (int i = 0; i < 6; ++i)
        rays.croppingBounds[i] = cropping[i];
    VRImage image;
    int dims[3];
    float spacings[3];
    volumeData->GetDimensions(dims);
    volumeData->GetSpacings(spacings);
    const int viewport[2] = {w, h};
    rays.CalculateVRSceneParamAndImageRegion(viewport, dims, spacings, scene.GetViewMatrix(),
                                             scene.GetProjectionMatrix(), &image.windowX,
                                             &image.width);
    image.Allocate();
    MIPVR kernel;
    kernel.volume = &volume;
    kernel.gridPartition = &grid;
    kernel.mipParam = &window;
    kernel.vrSceneParam = &rays;
    kernel.image = &image;
    kernel.RenderWithGridPartition();

    Reference ref;
    ref.rgba.assign(size_t(w) * h * 4, 0);
    for (size_t p = 0; p < size_t(w) * h; ++p)
        ref.rgba[p * 4 + 3] = 255;
    for (int j = 0; j < image.height; ++j) {
        for (int i = 0; i < image.width; ++i) {
            const int x = image.windowX + i;
            const int y = image.windowY + j;
            if (x < 0 || y < 0 || x >= w || y >= h) continue;
            ++ref.regionPixels;
            const float* src = image.pixels + (size_t(j) * image.width + i) * 4;
            const float alpha = std::clamp(src[3], 0.0f, 1.0f);
            const float background[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            for (int c = 0; c < 4; ++c) {
                const float value = std::clamp(src[c], 0.0f, 1.0f) + (1.0f - alpha) * background[c];
                ref.rgba[(size_t(y) * w + x) * 4 + c] =
                    uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
            }
        }
    }
    return ref;
}

struct Comparison {
    int mismatches = 0;    // pixels off by more than the tolerance
    int brightPixels = 0;  // pixels above 0.25 grey in the frame
};

Comparison Compare(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& expected) {
    Comparison result;
    for (size_t p = 0; p < frame.size() / 4; ++p) {
        bool off = false;
        for (int c = 0; c < 4; ++c) {
            off |= std::abs(int(frame[p * 4 + c]) - int(expected[p * 4 + c])) > kToleranceSteps;
        }
        result.mismatches += off;
        result.brightPixels += frame[p * 4] > 64;
    }
    return result;
}

TEST(MIPVRSceneRender, PhantomFrameIsTheKernelImageOverBlack) {
    const int w = 96, h = 80;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    std::unique_ptr<VolumeData> volume(CreateHeadPhantom(48, 40, 44));
    MIPVRScene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.SetData(volume.get());
    scene.Render();
    const std::vector<uint8_t> frame = gl.ReadPixels8();

    // The window spans the phantom's range 0 .. 3500 (clips may be missed at this size).
    double lo = 0.0, hi = 0.0;
    volume->GetMinMaxValue(lo, hi);
    const float whole[6] = {0, 47, 0, 39, 0, 43};
    const Reference ref =
        RenderReference(volume.get(), scene, float(hi - lo), float((hi + lo) * 0.5), whole, w, h);
    const Comparison cmp = Compare(frame, ref.rgba);
    EXPECT_EQ(cmp.mismatches, 0);
    // Not a trivial picture: the head covers a good part of the window, the corners are black.
    EXPECT_GT(ref.regionPixels, w * h / 4);
    EXPECT_GT(cmp.brightPixels, w * h / 12);
    for (int corner : {0, w - 1, (h - 1) * w, h * w - 1}) {
        EXPECT_EQ(frame[size_t(corner) * 4], 0) << corner;
        EXPECT_EQ(frame[size_t(corner) * 4 + 3], 255) << corner;
    }
}

TEST(MIPVRSceneRender, RotatedCroppedSignedVolumeWithNarrowWindow) {
    const int w = 70, h = 90;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    // A signed, anisotropic volume: a smooth bump over a ramp, values -300 .. about 700.
    VolumeData volume;
    const int dims[3] = {20, 14, 11};
    const float spacing[3] = {1.0f, 1.5f, 2.25f};
    volume.SetDataType(VolumeData::dtInt16);
    volume.SetDimensions(dims);
    volume.SetSpacings(spacing);
    volume.Allocate();
    int16_t* samples = static_cast<int16_t*>(volume.GetData());
    for (int k = 0; k < dims[2]; ++k) {
        for (int j = 0; j < dims[1]; ++j) {
            for (int i = 0; i < dims[0]; ++i) {
                const double r2 =
                    (i - 9.3) * (i - 9.3) + (j - 6.1) * (j - 6.1) + (k - 5.2) * (k - 5.2);
                samples[i + dims[0] * (j + dims[1] * k)] =
                    int16_t(std::lround(-300.0 + 20.0 * i + 800.0 * std::exp(-r2 / 8.0)));
            }
        }
    }
    MIPVRScene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.SetData(&volume);
    // A window narrower than the range clamps both ends; a crop box cuts the bump.
    scene.SetWidthCenter(400.0f, 250.0f);
    const float crop[6] = {2.5f, 17.0f, 0.0f, 9.75f, 1.0f, 10.0f};
    scene.SetCroppingBounds(crop);
    const float axisLength = std::sqrt(0.3f * 0.3f + 1.0f + 0.2f * 0.2f);
    scene.SetRotation(Quaternion(0.3f / axisLength, 1.0f / axisLength, 0.2f / axisLength, 0.7f));
    scene.SetScale(1.3f);
    scene.Render();
    const std::vector<uint8_t> frame = gl.ReadPixels8();

    const Reference ref = RenderReference(&volume, scene, 400.0f, 250.0f, crop, w, h);
    const Comparison cmp = Compare(frame, ref.rgba);
    EXPECT_EQ(cmp.mismatches, 0);
    EXPECT_GT(ref.regionPixels, w * h / 4);
    EXPECT_GT(cmp.brightPixels, 50);
}

TEST(MIPVRSceneRender, BeforeAnyVolumeOnlyBlack) {
    const int w = 32, h = 24;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    // Paint the frame first, so that a frame that does not clear is seen.
    glClearColor(1.0f, 0.5f, 0.25f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    MIPVRScene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.Render();
    const std::vector<uint8_t> frame = gl.ReadPixels8();
    for (size_t p = 0; p < size_t(w) * h; ++p) {
        ASSERT_EQ(frame[p * 4 + 0], 0) << p;
        ASSERT_EQ(frame[p * 4 + 1], 0) << p;
        ASSERT_EQ(frame[p * 4 + 2], 0) << p;
    }
}

}  // namespace
