// Interactive quality of the volume scenes: a host that never enables it gets the plain frame
// bit for bit, and the refinement after input ends in that same frame; a coarse frame casts the
// rays of every stride-th pixel of the full frame (at twice the sample distance for the full
// view) and is drawn bilinearly interpolated between them; a refinement band whose rows cost
// more than predicted is cut short at the budget.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "CUDAFullVRScene.h"
#include "CUDAIsosurfaceVRScene.h"
#include "CUDAMIPVRScene.h"
#include "FullVRScene.h"
#include "HeadPhantom.h"
#include "IsosurfaceVRScene.h"
#include "MIPVRScene.h"
#include "ProgressiveCast.h"
#include "Quaternion.h"
#include "RGBATransferFunction1D.h"
#include "VRImage.h"
#include "VolumeData.h"
#include "support/GLTestContext.h"

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 80;
// A coarse ray against the full frame's ray of the same pixel: the two window-to-physical
// matrices differ in rounding only, so a channel may move by this much where the volume is steep,
// and a ray grazing the box or a bone edge may land on the other side in this share of pixels.
constexpr float kRayTolerance = 2e-3f;
constexpr double kGrazingShare = 0.01;

// One scene of each kind on the head phantom, turned, with what each view needs to show.
struct Fixture {
    GLTestContext gl{kWidth, kHeight};
    std::unique_ptr<VolumeData> volume{CreateHeadPhantom(48, 40, 44)};
    RGBATransferFunction1D function;

    Fixture() {
        function.SetMinPos(0.0f);
        function.SetMaxPos(4000.0f);
        function.SetSampleNumber(256);
        function.AddPoint(400.0f, Vector4(0.0f, 0.0f, 0.0f, 0.0f));
        function.AddPoint(1500.0f, Vector4(0.9f, 0.5f, 0.2f, 0.15f));
        function.AddPoint(3000.0f, Vector4(1.0f, 1.0f, 1.0f, 0.6f));
    }

    template <class AnyScene>
    void SetUp(AnyScene& scene) {
        scene.Init();
        scene.Resize(kWidth, kHeight);
        scene.SetData(volume.get());
        scene.SetRotation(Quaternion(0.6f, 0.8f, 0.0f, 0.7f));
        if constexpr (std::is_same_v<AnyScene, FullVRScene> ||
                      std::is_same_v<AnyScene, CUDAFullVRScene>)
            scene.SetTransferFunction(&function);
    }
};

template <class AnyScene>
class InteractiveQuality : public ::testing::Test {};
using AllScenes = ::testing::Types<MIPVRScene, IsosurfaceVRScene, FullVRScene, CUDAMIPVRScene,
                                   CUDAIsosurfaceVRScene, CUDAFullVRScene>;
TYPED_TEST_SUITE(InteractiveQuality, AllScenes);

// Three hosts: one that never touches the setting, one that reports input without enabling it,
// one that enables it, drags and renders until the refinement is done, one band per frame.
TYPED_TEST(InteractiveQuality, OffByDefaultAndRefinedToTheSameFrame) {
    Fixture fixture;
    KESTREL_REQUIRE_GL(fixture.gl);
    TypeParam plain;
    fixture.SetUp(plain);
    plain.Render();
    const std::vector<uint8_t> today = fixture.gl.ReadPixels8();

    TypeParam reporting;
    fixture.SetUp(reporting);
    EXPECT_FALSE(reporting.GetInteractiveQuality());
    reporting.SetInteracting(true);
    reporting.Render();
    EXPECT_EQ(reporting.GetFrameQuality().kind, FrameQuality::kFullFrame);
    EXPECT_TRUE(fixture.gl.ReadPixels8() == today)
        << "a host without the setting got another frame";

    TypeParam refined;
    fixture.SetUp(refined);
    refined.SetInteractiveQuality(true);
    refined.SetFrameBudget(0.001f);  // the least band: one row per refinement step
    refined.SetInteracting(true);
    refined.Render();
    ASSERT_EQ(refined.GetFrameQuality().kind, FrameQuality::kCoarseFrame);
    EXPECT_FALSE(fixture.gl.ReadPixels8() == today) << "a coarse frame that is the full one";
    refined.SetInteracting(false);
    int steps = 0;
    for (; refined.NeedsRefinement() && steps <= kHeight + 1; ++steps)
        refined.Render();
    EXPECT_GT(steps, 1);
    EXPECT_FALSE(refined.NeedsRefinement());
    EXPECT_TRUE(fixture.gl.ReadPixels8() == today) << "the refined picture is not the full frame";
}

// The kernel image of a scene's frame and its window rectangle.
struct Cast {
    std::vector<float> pixels;
    int x = 0, y = 0, width = 0, height = 0;
    float At(int i, int j, int c) const { return pixels[(std::size_t(j) * width + i) * 4 + c]; }
};

Cast CastOf(const VRImage& image) {
    Cast cast;
    cast.pixels.assign(image.pixels, image.pixels + std::size_t(image.width) * image.height * 4);
    cast.x = image.windowX;
    cast.y = image.windowY;
    cast.width = image.width;
    cast.height = image.height;
    return cast;
}

// The coarse frame against a full frame cast at the sample distance the coarse frame reports
// (twice the full view's own, for the full view): its pixel (i, j) is the full frame's pixel
// (k i, k j); and the window shows, at every pixel of the rectangle, the bilinear interpolation
// of the coarse pixels around it (over a black background, so the window byte is the colour).
template <class AnyScene>
void ExpectCoarseFrameDefinition(float expectedDistanceFactor) {
    Fixture fixture;
    KESTREL_REQUIRE_GL(fixture.gl);
    AnyScene coarse;
    fixture.SetUp(coarse);
    coarse.SetInteractiveQuality(true);
    coarse.SetInteracting(true);
    coarse.Render();
    const FrameQuality& quality = coarse.GetFrameQuality();
    ASSERT_EQ(quality.kind, FrameQuality::kCoarseFrame);
    EXPECT_EQ(quality.distanceFactor, expectedDistanceFactor);
    const int k = quality.stride;
    const Cast low = CastOf(*coarse.GetKernelModule().image);
    const std::vector<uint8_t> window = fixture.gl.ReadPixels8();

    AnyScene full;
    fixture.SetUp(full);
    if constexpr (std::is_same_v<AnyScene, FullVRScene>)
        full.GetKernelModule().sampleDistance *= quality.distanceFactor;
    full.Render();
    const Cast high = CastOf(*full.GetKernelModule().image);
    ASSERT_EQ(low.width, (high.width + k - 1) / k);
    ASSERT_EQ(low.height, (high.height + k - 1) / k);

    int off = 0, shown = 0;
    for (int j = 0; j < low.height; ++j)
        for (int i = 0; i < low.width; ++i)
            for (int c = 0; c < 4; ++c) {
                off += !(std::fabs(low.At(i, j, c) - high.At(k * i, k * j, c)) <= kRayTolerance);
                shown += c == 3 && low.At(i, j, c) > 0.0f;
            }
    EXPECT_LE(off, kGrazingShare * low.width * low.height * 4) << "coarse rays off";
    EXPECT_GT(shown, 20) << "too little of the volume in view to compare";

    int interpolationOff = 0;
    for (int y = 0; y < high.height; ++y)
        for (int x = 0; x < high.width; ++x) {
            const int i0 = x / k, j0 = y / k;
            const int i1 = std::min(i0 + 1, low.width - 1), j1 = std::min(j0 + 1, low.height - 1);
            const double tx = double(x - k * i0) / k, ty = double(y - k * j0) / k;
            const int wx = high.x + x, wy = high.y + y;
            if (wx >= kWidth || wy >= kHeight) continue;
            for (int c = 0; c < 3; ++c) {
                const double value =
                    (1 - ty) * ((1 - tx) * low.At(i0, j0, c) + tx * low.At(i1, j0, c)) +
                    ty * ((1 - tx) * low.At(i0, j1, c) + tx * low.At(i1, j1, c));
                const int byte = window[(std::size_t(wy) * kWidth + wx) * 4 + c];
                interpolationOff += std::abs(byte - int(std::lround(value * 255.0))) > 1;
            }
        }
    EXPECT_EQ(interpolationOff, 0) << "window bytes that are not the interpolated coarse frame";
}

TEST(InteractiveQualityCoarseFrame, MIPCastsEveryStrideThRay) {
    ExpectCoarseFrameDefinition<MIPVRScene>(1.0f);
}

TEST(InteractiveQualityCoarseFrame, FullViewCastsEveryStrideThRayAtTwiceTheDistance) {
    ExpectCoarseFrameDefinition<FullVRScene>(2.0f);
}

// The image rectangle ProgressiveCast::Frame reads and writes.
struct Rectangle {
    int windowX = 0, windowY = 0, width = 0, height = 0;
};

// A coarse frame that casts in no time makes the next band the whole picture; full-quality rows
// that then cost 25 ms per 16 must end each refine step after one or two chunks (the second
// chunk would end at 50 ms, a third at 75 ms, past the 60 ms budget), until the picture is full.
TEST(InteractiveQualityRefinement, ABandIsCutShortAtTheBudget) {
    constexpr int kRows = 160, kChunkRows = 16;
    ProgressiveCast progressive;
    FrameQuality quality;
    quality.enabled = true;
    quality.interacting = true;
    VRSceneParam rays;
    std::vector<float> pixels;
    bool slowRows = false;
    auto frame = [&] {
        Rectangle image{0, 0, 128, kRows};
        progressive.Frame(quality, rays, image, 1.0f, [&](float) -> float const* {
            if (slowRows) std::this_thread::sleep_for(std::chrono::milliseconds(25));
            pixels.assign(std::size_t(image.width) * std::size_t(image.height) * 4, 1.0f);
            return pixels.data();
        });
    };
    frame();
    ASSERT_EQ(quality.kind, FrameQuality::kCoarseFrame);
    quality.interacting = false;
    slowRows = true;
    int steps = 0;
    float refined = 0.0f;
    while (!quality.complete && steps < kRows) {
        frame();
        ASSERT_EQ(quality.kind, FrameQuality::kRefineStep);
        const float rows = (quality.refined - refined) * kRows;
        EXPECT_GE(rows, kChunkRows - 0.5f) << "step " << steps;
        EXPECT_LE(rows, 2 * kChunkRows + 0.5f) << "step " << steps;
        refined = quality.refined;
        ++steps;
    }
    EXPECT_TRUE(quality.complete);
    EXPECT_GE(steps, kRows / (2 * kChunkRows));
}

}  // namespace
