// EndoscopySliceScene in a real GL context: the cut covers the whole window as its kernel renders
// it, the yellow field-of-view edges run from the camera's place to where its field of view
// leaves the window, and a MIP view in endoscopy mode and the slice share one camera both ways.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "CoherentVolume.h"
#include "EndoscopySliceScene.h"
#include "FlyThrough.h"
#include "HeadPhantom.h"
#include "MIPVRScene.h"
#include "SceneParam.h"
#include "VolumeData.h"
#include "support/GLTestContext.h"

namespace {

// One 8-bit step: the frame buffer quantises the float grey.
constexpr int kToleranceSteps = 1;
// Line pixels lie within this many pixels of the edge's ideal position (rasterisation).
constexpr double kLineTolerance = 1.5;

bool IsYellow(const uint8_t* p) {
    return p[0] > 200 && p[1] > 200 && p[2] < 80;
}

// The cut of `camera` as the kernel renders it on its own (the tools' off-screen slice), the
// grey of every pixel quantised like the frame buffer.
std::vector<uint8_t> ExpectedSlice(CoherentVolume* volume, const SceneParam& camera,
                                   bool horizontal, float gridSpacing, float width, float center,
                                   int w, int h) {
    const std::vector<uint8_t> rgba =
        RenderSliceRgba8(volume, camera, horizontal, gridSpacing, width, center, w, h);
    std::vector<uint8_t> grey(std::size_t(w) * h);
    for (std::size_t p = 0; p < grey.size(); ++p)
        grey[p] = rgba[p * 4];
    return grey;
}

struct SliceComparison {
    int mismatches = 0;  // non-line pixels that differ from the expected grey
    int yellow = 0;      // line pixels
    int bright = 0;      // pixels above a quarter grey (the cut shows the volume)
    int black = 0;       // black pixels (the cut shows the outside too)
};

SliceComparison CompareSlice(const std::vector<uint8_t>& frame,
                             const std::vector<uint8_t>& expected) {
    SliceComparison c;
    for (std::size_t p = 0; p < expected.size(); ++p) {
        const uint8_t* px = &frame[p * 4];
        if (IsYellow(px)) {
            ++c.yellow;
            continue;
        }
        bool off = std::abs(int(px[3]) - 255) > 0;
        for (int ch = 0; ch < 3; ++ch)
            off |= std::abs(int(px[ch]) - int(expected[p])) > kToleranceSteps;
        c.mismatches += off;
        c.bright += px[0] > 64;
        c.black += px[0] == 0;
    }
    return c;
}

// Checks that the yellow pixels of one pixel row (or column) sit at the two expected positions.
void ExpectLineCrossings(const std::vector<int>& yellowAt, double first, double second,
                         const char* where) {
    bool seenFirst = false, seenSecond = false;
    for (int at : yellowAt) {
        const double centre = at + 0.5;
        const bool nearFirst = std::fabs(centre - first) <= kLineTolerance;
        const bool nearSecond = std::fabs(centre - second) <= kLineTolerance;
        EXPECT_TRUE(nearFirst || nearSecond) << where << ": stray yellow pixel at " << at;
        seenFirst |= nearFirst;
        seenSecond |= nearSecond;
    }
    EXPECT_TRUE(seenFirst) << where << ": no edge near " << first;
    EXPECT_TRUE(seenSecond) << where << ": no edge near " << second;
}

TEST(EndoscopySliceSceneRender, CutCoversTheWindowAndTheEdgesLeaveItWhereTheFieldOfViewDoes) {
    const int w = 80, h = 80;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    std::unique_ptr<VolumeData> data(CreateHeadPhantom(40));
    CoherentVolume volume;
    volume.SetData(data.get());
    const float size[3] = {256.0f, 256.0f, 256.0f};
    SceneParam camera;
    camera.InitSceneParam(40.0f, 1.0f, size);
    camera.MoveTo(128.0f, 110.0f, 200.0f, size);  // inside the head, looking towards the back
    camera.Turn(0.3f, 0.1f);

    EndoscopySliceScene scene;
    scene.SetSceneParam(&camera);
    scene.SetVolume(&volume);
    scene.SetGridSpacing(4.0f);
    scene.SetWidthCenter(3500.0f, 1750.0f);
    scene.Resize(w, h);
    // Paint the frame first, so that a frame that does not cover the window is seen.
    glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    // tan of half the vertical and horizontal fields of view (aspect 1 after the resize)
    const double tv = std::tan(40.0 * M_PI / 360.0);
    // The drawing maps event x 0 .. w - 1 onto the window's w pixels (likewise y): a pixel edge
    // position of the window is the event coordinate times w / (w - 1).
    const double stretch = double(w) / double(w - 1);
    for (const bool horizontal : {true, false}) {
        if (horizontal)
            scene.SetHorizontial();
        else
            scene.SetVertical();
        scene.Render();
        const std::vector<uint8_t> frame = gl.ReadPixels8();
        const SliceComparison c = CompareSlice(
            frame, ExpectedSlice(&volume, camera, horizontal, 4.0f, 3500.0f, 1750.0f, w, h));
        EXPECT_EQ(c.mismatches, 0) << (horizontal ? "horizontal" : "vertical");
        EXPECT_GT(c.bright, w * h / 10);
        EXPECT_GT(c.black, w * h / 20);
        EXPECT_GT(c.yellow, w);  // two edges across the window
        EXPECT_LT(c.yellow, 5 * w);

        // Where the edges cross the first and last pixel row (horizontal cut) or column
        // (vertical cut), from (w/2, h) to (w/2 -+ h tan(ah), 0), resp. (0, h/2) to
        // (w, h/2 -+ w tv), evaluated at that row's or column's centre in event coordinates.
        std::vector<int> nearEnd, nearCamera;
        if (horizontal) {
            for (int x = 0; x < w; ++x) {
                if (IsYellow(&frame[(std::size_t(h - 1) * w + x) * 4])) nearEnd.push_back(x);
                if (IsYellow(&frame[std::size_t(x) * 4])) nearCamera.push_back(x);
            }
            const double topY = 0.5 / stretch, bottomY = (h - 0.5) / stretch;
            const double spread = tv * 1.0;  // tan(atan(tv * aspect))
            ExpectLineCrossings(nearEnd, (w / 2.0 - (h - topY) * spread) * stretch,
                                (w / 2.0 + (h - topY) * spread) * stretch, "top row");
            ExpectLineCrossings(nearCamera, (w / 2.0 - (h - bottomY) * spread) * stretch,
                                (w / 2.0 + (h - bottomY) * spread) * stretch, "bottom row");
        } else {
            // rows are counted from the bottom: window row r is event y = (h - 0.5 - r) / stretch
            for (int r = 0; r < h; ++r) {
                if (IsYellow(&frame[(std::size_t(r) * w + w - 1) * 4]))
                    nearEnd.push_back(h - 1 - r);
                if (IsYellow(&frame[std::size_t(r) * w * 4])) nearCamera.push_back(h - 1 - r);
            }
            const double rightX = (w - 0.5) / stretch, leftX = 0.5 / stretch;
            ExpectLineCrossings(nearEnd, (h / 2.0 - rightX * tv) * stretch,
                                (h / 2.0 + rightX * tv) * stretch, "last column");
            ExpectLineCrossings(nearCamera, (h / 2.0 - leftX * tv) * stretch,
                                (h / 2.0 + leftX * tv) * stretch, "first column");
        }
    }
}

TEST(EndoscopySliceSceneRender, MipViewAndSliceInOneWindowShareTheCamera) {
    const int w = 64, h = 64;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    std::unique_ptr<VolumeData> data(CreateHeadPhantom(32));
    MIPVRScene mip;
    mip.Init();
    mip.Resize(w, h);
    mip.SetData(data.get());
    mip.SetEndoscopy(true);
    mip.Render();                        // fits the camera to the volume
    mip.MoveTo(128.0f, 120.0f, 230.0f);  // inside the head near the face, looking back
    EndoscopySliceScene slice;
    slice.SetSceneParam(&mip.GetSceneParameters());
    slice.SetVolume(mip.GetKernelModule().volume);  // the MIP scene's bricked volume
    slice.Resize(w, h);
    slice.SetWidthCenter(3500.0f, 1750.0f);
    const float gridSpacing = slice.GetGridSpacing();

    // The slice steers the MIP view: a move drag 5 px right of the centre.
    mip.Render();
    const std::vector<uint8_t> mipBefore = gl.ReadPixels8();
    SceneParam moved = mip.GetSceneParameters();
    moved.Move(5.0f * gridSpacing, 0.0f, 0.0f);
    retStatus press, drag;
    slice.LButtonDown(0, 0, press);
    slice.MouseMove(w / 2 + 5, h / 2, drag);
    slice.LButtonUp(0, 0, press);
    ASSERT_TRUE(drag.redraw);
    mip.Render();
    const std::vector<uint8_t> mipAfter = gl.ReadPixels8();
    Matrix4x4 expectedView;
    moved.CalculateViewMatrix(&expectedView);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(mip.GetViewMatrix().m[i], expectedView.m[i], 1e-4f) << i;
    int changed = 0;
    for (std::size_t p = 0; p < mipAfter.size(); p += 4)
        changed += mipAfter[p] != mipBefore[p];
    EXPECT_GT(changed, w * h / 20);

    // The MIP view steers the slice: one walking key moves the eye forward by the acceleration
    // (6 model units here), and the next slice frame is the cut of the walked camera.
    slice.Render();
    const std::vector<uint8_t> sliceBefore = gl.ReadPixels8();
    moved = mip.GetSceneParameters();
    moved.Move(0.0f, 0.0f, -6.0f);
    mip.SetMoveSensitivity(10.0f, 6.0f);
    retStatus key;
    mip.Keyboard('w', 0, 0, key);
    ASSERT_TRUE(key.redraw);
    slice.Render();
    const std::vector<uint8_t> sliceAfter = gl.ReadPixels8();
    CoherentVolume* volume = mip.GetKernelModule().volume;
    const SliceComparison c = CompareSlice(
        sliceAfter, ExpectedSlice(volume, moved, true, gridSpacing, 3500.0f, 1750.0f, w, h));
    EXPECT_EQ(c.mismatches, 0);
    EXPECT_GT(c.bright, w * h / 20);
    // and it is not the cut before the walk.
    const SliceComparison previous = CompareSlice(
        sliceBefore, ExpectedSlice(volume, moved, true, gridSpacing, 3500.0f, 1750.0f, w, h));
    EXPECT_GT(previous.mismatches, 0) << "the walk must show in the slice";
}

}  // namespace
