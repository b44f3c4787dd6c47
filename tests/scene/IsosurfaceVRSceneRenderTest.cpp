// IsosurfaceVRScene in a real GL context: the frame is the scene's kernel image composited over
// its background colour, and the light's length scales the diffuse term.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "HeadPhantom.h"
#include "IsosurfaceVRScene.h"
#include "VRImage.h"
#include "VolumeData.h"
#include "support/GLTestContext.h"

namespace {

// One 8-bit step: the frame buffer quantises the blended float colour.
constexpr int kToleranceSteps = 1;

TEST(IsosurfaceVRSceneRender, KernelImageOverTheBackgroundColour) {
    const int w = 96, h = 80;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    std::unique_ptr<VolumeData> volume(CreateHeadPhantom(48, 40, 44));
    IsosurfaceVRScene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.SetData(volume.get());
    scene.SetIsovalue(1300.0f);  // the skull
    scene.SetSurfaceColor(0.9f, 0.8f, 0.6f);
    const float background[3] = {0.2f, 0.3f, 0.5f};
    scene.SetBackGroundColor(background[0], background[1], background[2]);
    scene.Render();
    const std::vector<uint8_t> frame = gl.ReadPixels8();

    // Expected: the background everywhere, and over it, inside the image's rectangle,
    // dst = src + (1 - src.a) dst per channel, rounded to 8 bits.
    const VRImage& image = *scene.GetKernelModule().image;
    ASSERT_NE(image.pixels, nullptr);
    int mismatches = 0, surfacePixels = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float expected[3] = {background[0], background[1], background[2]};
            const int i = x - image.windowX, j = y - image.windowY;
            if (i >= 0 && j >= 0 && i < image.width && j < image.height) {
                const float* src = image.pixels + (std::size_t(j) * image.width + i) * 4;
                surfacePixels += src[3] == 1.0f;
                for (int c = 0; c < 3; ++c)
                    expected[c] = std::clamp(src[c] + (1.0f - src[3]) * expected[c], 0.0f, 1.0f);
            }
            for (int c = 0; c < 3; ++c) {
                const int want = int(std::lround(expected[c] * 255.0f));
                mismatches +=
                    std::abs(int(frame[(std::size_t(y) * w + x) * 4 + c]) - want) > kToleranceSteps;
            }
        }
    EXPECT_EQ(mismatches, 0);
    // Not a trivial picture: the skull covers a good part of the window, the corner shows the
    // background.
    EXPECT_GT(surfacePixels, w * h / 12);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(frame[c], background[c] * 255.0f, 1.0f) << c;
}

// A ball seen from the front under light travelling along +x: the ball's left half is lit.
// With ambient and specular 0 a pixel's value is diffuse x |L.N|, so a light direction of twice
// the length doubles every lit pixel.
TEST(IsosurfaceVRSceneRender, LightLengthScalesTheDiffuseTerm) {
    const int w = 64, h = 64;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    VolumeData ball;
    const int dims[3] = {24, 24, 24};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    ball.SetDataType(VolumeData::dtFloat32);
    ball.SetDimensions(dims);
    ball.SetSpacings(spacing);
    ball.Allocate();
    float* samples = static_cast<float*>(ball.GetData());
    for (int k = 0; k < 24; ++k)
        for (int j = 0; j < 24; ++j)
            for (int i = 0; i < 24; ++i)
                *samples++ =
                    10.0f - std::sqrt(float((i - 11.5) * (i - 11.5) + (j - 11.5) * (j - 11.5) +
                                            (k - 11.5) * (k - 11.5)));
    IsosurfaceVRScene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.SetData(&ball);
    scene.SetIsovalue(0.0f);
    scene.SetAmbient(0.0f);
    scene.SetSpecular(0.0f);
    scene.SetDiffuse(0.45f);
    scene.SetLightDirection(1.0f, 0.0f, 0.0f);
    scene.Render();
    const std::vector<float> single = gl.ReadPixelsFloat();
    scene.SetLightDirection(2.0f, 0.0f, 0.0f);
    scene.Render();
    const std::vector<float> doubled = gl.ReadPixelsFloat();

    // Every value is at most 0.45 (diffuse 0.45, |L.N| <= 1), so doubling never clamps; the
    // tolerance is the 8-bit rounding of both frames.
    int lit = 0, litLeft = 0;
    for (int p = 0; p < w * h; ++p) {
        const float a = single[std::size_t(p) * 4], b = doubled[std::size_t(p) * 4];
        EXPECT_NEAR(b, 2.0f * a, 2.5f / 255.0f) << "pixel " << p % w << ", " << p / w;
        if (a < 0.04f) continue;
        ++lit;
        litLeft += p % w < w / 2;
    }
    EXPECT_GT(lit, 200);
    EXPECT_GT(litLeft, lit * 9 / 10);  // lit from the left: the ball's left half
}

}  // namespace
