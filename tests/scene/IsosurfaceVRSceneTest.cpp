// IsosurfaceVRScene without drawing: the isovalue a volume hand-over sets, light dragging checked
// in eye space against a rotation built independently, and the endoscopy headlight.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "BasicLightParam.h"
#include "IsosurfaceVRScene.h"
#include "Quaternion.h"
#include "RetStatus.h"
#include "VolumeData.h"
#include "standard/kernels/FrameTestSupport.h"

namespace {

using frametest::Vec;

// Float rounding of the drag's matrix products on eye-space vectors of length about 3.5.
constexpr double kEyeTolerance = 5e-5;

// Exposes the GL-free frame steps and the drag state for the tests.
class TestIsoScene : public IsosurfaceVRScene {
public:
    using IsosurfaceVRScene::CastImage;
    using IsosurfaceVRScene::UpdateCamera;
    bool Dragging() const { return lightDragging; }
    // Resize without its glViewport call.
    void SetViewportSize(int width, int height) {
        viewport[0] = width;
        viewport[1] = height;
        sceneParam.aspect = float(width) / float(height);
    }
    Vector4 Light() { return GetKernelModule().lightParam->lightDirection; }
};

// A uint16 volume of 6 x 5 x 4 voxels: `lo` at the first voxel, `hi` at the last, 1000 elsewhere.
void MakeRangeVolume(VolumeData& volume, uint16_t lo, uint16_t hi) {
    const int dims[3] = {6, 5, 4};
    const float spacing[3] = {1.0f, 1.0f, 2.0f};
    volume.SetDataType(VolumeData::dtUint16);
    volume.SetDimensions(dims);
    volume.SetSpacings(spacing);
    volume.Allocate();
    uint16_t* samples = static_cast<uint16_t*>(volume.GetData());
    for (int i = 0; i < 6 * 5 * 4; ++i)
        samples[i] = 1000;
    samples[0] = lo;
    samples[6 * 5 * 4 - 1] = hi;
}

// Eye-space image of a physical direction: the view matrix in double (translation unused, w 0).
Vec ToEye(const Matrix4x4& view, const Vector4& v) {
    return frametest::Apply(frametest::ToDouble(view), Vec{v.x, v.y, v.z, 0.0});
}

void ExpectNear(const Vec& a, const Vec& b, double tolerance, const char* what) {
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(a[c], b[c], tolerance) << what << ", component " << c;
}

// A scene with a turned and zoomed camera, so that eye space differs from physical space.
void TurnCamera(TestIsoScene& scene) {
    scene.SetRotation(Quaternion(0.4f, -0.7f, 0.3f, 1.1f));
    scene.SetScale(1.7f);
    scene.UpdateCamera();
}

TEST(IsosurfaceVRSceneSetData, IsovalueMidRangeOtherSettingsKept) {
    VolumeData volume;
    MakeRangeVolume(volume, 0, 4095);
    IsosurfaceVRScene scene;
    EXPECT_EQ(scene.GetIsovalue(), 100.0f);  // the parameter default until the first volume
    scene.SetSurfaceColor(0.25f, 0.5f, 0.75f);
    scene.SetBackGroundColor(0.1f, 0.2f, 0.3f);
    scene.SetAmbient(0.3f);
    scene.SetIllustrativeShading(true);
    scene.SetData(&volume);
    EXPECT_EQ(scene.GetIsovalue(), 2047.5f);
    // Settings that do not derive from the volume survive it.
    float r = 0.0f, g = 0.0f, b = 0.0f;
    scene.GetSurfaceColor(r, g, b);
    EXPECT_EQ(r + g + b, 1.5f);
    scene.GetBackGroundColor(r, g, b);
    EXPECT_EQ(b, 0.3f);
    EXPECT_EQ(scene.GetAmbient(), 0.3f);
    EXPECT_TRUE(scene.GetIllustrativeShading());

    // A set isovalue holds until the data is handed over again; a null volume changes nothing.
    scene.SetIsovalue(12.0f);
    scene.SetData(nullptr);
    EXPECT_EQ(scene.GetIsovalue(), 12.0f);
    scene.SetData(&volume);
    EXPECT_EQ(scene.GetIsovalue(), 2047.5f);
}

// A left drag with light rotation on turns the drag-start light about the eye-space axis
// (-dy, dx, 0) / h by h * rotateRadPerPixel: 100 pixels to the right is 0.5 rad about eye y.
// The expectation rotates the eye-space light with Rodrigues' formula in double.
TEST(IsosurfaceVRSceneLight, DragTurnsTheLightAboutAnEyeSpaceAxis) {
    TestIsoScene scene;
    TurnCamera(scene);
    scene.SetLightDirection(0.3f, -0.5f, 2.0f);  // not unit: the length is kept
    scene.RotateLightDirection(true);
    const Vector4 start = scene.Light();
    const Vec startEye = ToEye(scene.GetViewMatrix(), start);
    const Quaternion rotation = scene.GetRotation();
    const float scale = scene.GetScale();

    retStatus press{};
    scene.LButtonDown(200, 150, press);
    EXPECT_FALSE(press.redraw);
    EXPECT_TRUE(scene.Dragging());
    struct Drag {
        int x, y;
        double axisX, axisY, angle;
    };
    const Drag drags[] = {
        {300, 150, 0.0, 1.0, 0.5},          // right 100 px: +0.5 rad about eye y
        {200, 110, -1.0, 0.0, 0.2},         // up 40 px: about eye -x
        {170, 190, 0.8, -0.6, 50 * 0.005},  // left 30, down 40: h = 50
        {260, 70, -0.8, 0.6, 100 * 0.005},  // right 60, up 80
    };
    for (const Drag& d : drags) {
        retStatus moved{};
        scene.MouseMove(d.x, d.y, moved);
        EXPECT_TRUE(moved.redraw);
        const Vec expected =
            frametest::Apply(frametest::Rotation(d.angle, d.axisX, d.axisY, 0.0), startEye);
        ExpectNear(ToEye(scene.GetViewMatrix(), scene.Light()), expected, kEyeTolerance, "drag");
        // The camera stays where it was.
        EXPECT_EQ(scene.GetRotation().w, rotation.w);
        EXPECT_EQ(scene.GetRotation().x, rotation.x);
        EXPECT_EQ(scene.GetScale(), scale);
    }
    // Back at the press: the light the drag started with.
    retStatus back{};
    scene.MouseMove(200, 150, back);
    EXPECT_TRUE(back.redraw);
    ExpectNear(Vec{scene.Light().x, scene.Light().y, scene.Light().z, 0.0},
               Vec{start.x, start.y, start.z, 0.0}, 1e-5, "back at the press");
    retStatus release{};
    scene.LButtonUp(200, 150, release);
    EXPECT_FALSE(scene.Dragging());

    // Without a drag in progress a move changes nothing.
    const Vector4 settled = scene.Light();
    retStatus idle{};
    scene.MouseMove(400, 400, idle);
    EXPECT_FALSE(idle.redraw);
    EXPECT_EQ(scene.Light().x, settled.x);
}

// Light rotation switched off during a drag: the moves go to Scene, which does nothing because
// the press started no camera drag; the release still ends the light drag. With light rotation
// off from the start, a left drag rotates the camera.
TEST(IsosurfaceVRSceneLight, SwitchingOffMidDragAndCameraDrags) {
    TestIsoScene scene;
    TurnCamera(scene);
    scene.RotateLightDirection(true);
    retStatus status{};
    scene.LButtonDown(50, 50, status);
    scene.MouseMove(60, 50, status);
    const Vector4 turned = scene.Light();
    const Quaternion rotation = scene.GetRotation();
    scene.RotateLightDirection(false);
    retStatus after{};
    scene.MouseMove(120, 90, after);
    EXPECT_FALSE(after.redraw);
    EXPECT_EQ(scene.Light().x, turned.x);
    EXPECT_EQ(scene.Light().z, turned.z);
    EXPECT_EQ(scene.GetRotation().w, rotation.w);
    scene.LButtonUp(120, 90, after);
    EXPECT_FALSE(scene.Dragging());
    // Switched on again with no press: nothing to drag.
    scene.RotateLightDirection(true);
    scene.MouseMove(150, 90, after);
    EXPECT_FALSE(after.redraw);
    EXPECT_EQ(scene.Light().x, turned.x);

    scene.RotateLightDirection(false);
    retStatus camera{};
    scene.LButtonDown(100, 100, camera);
    scene.MouseMove(200, 100, camera);
    EXPECT_TRUE(camera.redraw);
    EXPECT_NE(scene.GetRotation().w, rotation.w);
    EXPECT_EQ(scene.Light().x, turned.x);
}

// In endoscopy mode each frame makes the light a unit headlight along the viewing direction
// (eye -z), whatever was set; outside it the set light is used as it is.
TEST(IsosurfaceVRSceneLight, EndoscopyHeadlightFollowsTheCamera) {
    VolumeData volume;
    MakeRangeVolume(volume, 0, 2000);
    TestIsoScene scene;
    scene.SetData(&volume);
    scene.SetViewportSize(8, 8);
    TurnCamera(scene);
    scene.SetLightDirection(3.0f, 0.0f, 0.0f);
    ASSERT_TRUE(scene.CastImage());
    EXPECT_EQ(scene.Light().x, 3.0f);  // not in endoscopy: untouched

    scene.SetEndoscopy(true);
    for (int turn = 0; turn < 2; ++turn) {
        scene.SetLightDirection(3.0f, 1.0f, 0.0f);
        scene.UpdateCamera();
        ASSERT_TRUE(scene.CastImage());
        const Vector4 light = scene.Light();
        EXPECT_NEAR(std::sqrt(light.x * light.x + light.y * light.y + light.z * light.z), 1.0,
                    1e-6);
        // Eye space of the direction, divided by the camera's scale.
        Vec eye = ToEye(scene.GetViewMatrix(), light);
        for (double& c : eye)
            c /= scene.GetScale();
        ExpectNear(eye, Vec{0.0, 0.0, -1.0, 0.0}, kEyeTolerance, "headlight");
        scene.Turn(0.3f, -0.2f);  // the next frame follows the turned camera
    }
}

}  // namespace
