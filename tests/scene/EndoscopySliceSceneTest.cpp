// EndoscopySliceScene without GL: the volume hand-over, the wheel, the shared camera's aspect,
// the grey-window drag and the move and turn drags with the parked pointer. Camera changes are
// checked on the eye's position and axes in model space, taken from the inverse view matrix in
// double precision.
#include "EndoscopySliceScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "CoherentVolume.h"
#include "SceneParam.h"
#include "standard/kernels/FrameTestSupport.h"

using namespace frametest;

namespace {

// The eye in model space: position and unit right, up and forward axes.
struct EyeFrame {
    double position[3], right[3], up[3], forward[3];
};

EyeFrame EyeOf(const SceneParam& camera) {
    Matrix4x4 view;
    camera.CalculateViewMatrix(&view);
    const Mat inverse = Invert(ToDouble(view));
    EyeFrame e;
    const Vec origin = Apply(inverse, Vec{0, 0, 0, 1});
    const Vec axes[3] = {Apply(inverse, Vec{1, 0, 0, 0}), Apply(inverse, Vec{0, 1, 0, 0}),
                         Apply(inverse, Vec{0, 0, -1, 0})};
    double* const out[3] = {e.right, e.up, e.forward};
    for (int k = 0; k < 3; ++k) {
        const double length =
            std::sqrt(axes[k][0] * axes[k][0] + axes[k][1] * axes[k][1] + axes[k][2] * axes[k][2]);
        for (int a = 0; a < 3; ++a) {
            e.position[a] = origin[a] / origin[3];
            out[k][a] = axes[k][a] / length;
        }
    }
    return e;
}

double Dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// A turned, zoomed camera fitted to a 40-unit box, as another view would hold it.
SceneParam FlyThroughCamera() {
    SceneParam camera;
    const float size[3] = {40.0f, 40.0f, 40.0f};
    camera.InitSceneParam(45.0f, 1.0f, size);
    camera.scale = 1.7f;
    camera.MoveTo(12.0f, 20.0f, 25.0f, size);
    camera.Turn(0.4f, -0.3f);
    camera.Roll(0.2f);
    return camera;
}

TEST(EndoscopySliceScene, VolumeBoundsGridSpacingAndWheel) {
    CoherentVolume volume;
    volume.dimensions[0] = 256;
    volume.dimensions[1] = 256;
    volume.dimensions[2] = 128;
    volume.spacings[0] = 0.5f;
    volume.spacings[1] = 0.5f;
    volume.spacings[2] = 1.0f;
    EndoscopySliceScene scene;
    scene.SetVolume(&volume);
    EXPECT_EQ(scene.GetVolume(), &volume);
    const float expected[6] = {0, 255, 0, 255, 0, 127};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(scene.GetKernelModule().sliceBounds[i], expected[i]) << i;
    EXPECT_NEAR(scene.GetGridSpacing(), 2.0 / 3.0, 1e-7);

    // SetVolumeInfo: the same from plain arrays, the volume pointer kept; null is ignored.
    int dims[3] = {10, 20, 30};
    float spacings[3] = {1.0f, 2.0f, 4.5f};
    scene.SetVolumeInfo(dims, spacings);
    EXPECT_EQ(scene.GetVolume(), &volume);
    EXPECT_EQ(scene.GetKernelModule().sliceBounds[5], 29.0f);
    EXPECT_NEAR(scene.GetGridSpacing(), 2.5, 1e-6);
    scene.SetVolume(nullptr);
    EXPECT_EQ(scene.GetVolume(), &volume);

    // The wheel: exp(0.12) per +120, back again with -120; each step asks for a redraw.
    retStatus up, down;
    scene.Wheel(120, up);
    EXPECT_NEAR(scene.GetGridSpacing(), 2.5 * 1.127496851579376, 2e-6);
    EXPECT_TRUE(up.redraw);
    scene.Wheel(-120, down);
    EXPECT_NEAR(scene.GetGridSpacing(), 2.5, 2e-6);
    EXPECT_TRUE(down.redraw);
}

TEST(EndoscopySliceScene, ResizeSetsTheSharedAspectAndTheWindowDragIsRelative) {
    SceneParam camera = FlyThroughCamera();
    EndoscopySliceScene scene;
    scene.Resize(800, 400);  // no camera yet: nothing to set
    EXPECT_EQ(camera.aspect, 1.0f);
    scene.SetSceneParam(&camera);
    scene.Resize(800, 400);
    EXPECT_EQ(camera.aspect, 2.0f);

    scene.SetWidthCenter(300.0f, 100.0f);
    retStatus press;
    scene.MButtonDown(200, 150, press);
    EXPECT_FALSE(press.redraw);
    EXPECT_FALSE(press.setCursor);
    // 400 px right of the press is half the width: x 1.5; 100 px up is a quarter height: x 1.25
    retStatus move;
    scene.MouseMove(600, 50, move);
    EXPECT_TRUE(move.redraw);
    EXPECT_FALSE(move.setCursor);
    EXPECT_NEAR(scene.GetWindowWidth(), 450.0f, 1e-4f);
    EXPECT_NEAR(scene.GetWindowCenter(), 125.0f, 1e-4f);
    // back at the press point: the window it started with, the camera untouched
    const SceneParam before = camera;
    retStatus back;
    scene.MouseMove(200, 150, back);
    EXPECT_EQ(scene.GetWindowWidth(), 300.0f);
    EXPECT_EQ(scene.GetWindowCenter(), 100.0f);
    EXPECT_EQ(std::memcmp(camera.translate, before.translate, sizeof camera.translate), 0);
    retStatus release, after;
    scene.MButtonUp(200, 150, release);
    EXPECT_FALSE(release.redraw);
    scene.MouseMove(300, 100, after);
    EXPECT_FALSE(after.redraw);
    EXPECT_EQ(scene.GetWindowWidth(), 300.0f);
}

TEST(EndoscopySliceScene, MoveAndTurnDragsFollowThePointerFromTheParkedCentre) {
    SceneParam camera = FlyThroughCamera();
    EndoscopySliceScene scene;
    scene.SetSceneParam(&camera);
    scene.Resize(201, 101);  // centre (100, 50)
    scene.SetGridSpacing(0.75f);
    constexpr double kTolerance = 1e-3;  // model units / radians, float camera

    // Horizontal cut, left drag 10 px right of the centre: 10 x gridSpacing to the camera's right.
    retStatus press;
    scene.LButtonDown(37, 81, press);
    EXPECT_FALSE(press.redraw);
    EXPECT_TRUE(press.setCursor);
    EXPECT_EQ(press.cursorX, 100);
    EXPECT_EQ(press.cursorY, 50);
    EyeFrame before = EyeOf(camera);
    retStatus move;
    scene.MouseMove(110, 50, move);
    EXPECT_TRUE(move.redraw);
    EXPECT_TRUE(move.setCursor);
    EXPECT_EQ(move.cursorX, 100);
    EXPECT_EQ(move.cursorY, 50);
    EyeFrame after = EyeOf(camera);
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(after.position[a] - before.position[a], 7.5 * before.right[a], kTolerance);
        EXPECT_NEAR(after.forward[a], before.forward[a], 1e-5);
    }
    // 4 px below the centre pulls the camera back by 4 x gridSpacing.
    scene.MouseMove(100, 54, move);
    before = after;
    after = EyeOf(camera);
    for (int a = 0; a < 3; ++a)
        EXPECT_NEAR(after.position[a] - before.position[a], -3.0 * before.forward[a], kTolerance);
    retStatus release;
    scene.LButtonUp(100, 50, release);

    // Vertical cut: 6 px up moves it up, 8 px right moves it forward.
    scene.SetVertical();
    scene.LButtonDown(0, 0, press);
    before = EyeOf(camera);
    scene.MouseMove(108, 44, move);
    after = EyeOf(camera);
    for (int a = 0; a < 3; ++a)
        EXPECT_NEAR(after.position[a] - before.position[a],
                    4.5 * before.up[a] + 6.0 * before.forward[a], kTolerance);
    scene.LButtonUp(0, 0, release);

    // Vertical cut, right drag 20 px up: pitched up by 20 x 0.005 rad about the fixed eye.
    retStatus turnPress, turn;
    scene.RButtonDown(5, 5, turnPress);
    EXPECT_FALSE(turnPress.redraw);
    EXPECT_TRUE(turnPress.setCursor);
    before = EyeOf(camera);
    scene.MouseMove(130, 30, turn);  // the horizontal offset is ignored in this cut
    EXPECT_TRUE(turn.redraw);
    after = EyeOf(camera);
    EXPECT_NEAR(std::acos(Dot(after.forward, before.forward)), 0.1, kTolerance);
    EXPECT_NEAR(Dot(after.forward, before.up), std::sin(0.1), kTolerance);
    EXPECT_NEAR(Dot(after.right, before.right), 1.0, 1e-5);
    for (int a = 0; a < 3; ++a)
        EXPECT_NEAR(after.position[a], before.position[a], kTolerance);
    scene.RButtonUp(0, 0, release);

    // Horizontal cut, right drag 10 px left: yawed left by 0.05 rad.
    scene.SetHorizontial();
    scene.RButtonDown(5, 5, turnPress);
    before = EyeOf(camera);
    scene.MouseMove(90, 10, turn);
    after = EyeOf(camera);
    EXPECT_NEAR(Dot(after.forward, before.right), -std::sin(0.05), kTolerance);
    EXPECT_NEAR(Dot(after.up, before.up), 1.0, 1e-5);
    scene.RButtonUp(0, 0, release);

    // Without a camera the move drag parks nothing and moves nothing.
    scene.SetSceneParam(nullptr);
    scene.LButtonDown(0, 0, press);
    retStatus idle;
    scene.MouseMove(150, 70, idle);
    EXPECT_FALSE(idle.redraw);
    EXPECT_FALSE(idle.setCursor);
}

}  // namespace
