// FullVRScene without drawing (what SetData derives, the light accessors, the light drag and the
// endoscopy headlight), and in a real GL context: a transparent transfer function shows only the
// background.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "BasicLightParam.h"
#include "FullVRScene.h"
#include "HeadPhantom.h"
#include "Lut1D.h"
#include "RGBATransferFunction1D.h"
#include "RetStatus.h"
#include "TFEmptySpace.h"
#include "VolumeData.h"
#include "support/GLTestContext.h"

namespace {

constexpr float kTol = 1e-5f;

class ExposedFullVRScene : public FullVRScene {
public:
    using FullVRScene::CastImage;
    using FullVRScene::UpdateCamera;
};

void MakeRamp(VolumeData& volume, const int dims[3], const float spacing[3]) {
    volume.SetDataType(VolumeData::dtUint8);
    volume.SetDimensions(dims);
    volume.SetSpacings(spacing);
    volume.Allocate();
    uint8_t* p = static_cast<uint8_t*>(volume.GetData());
    for (int i = 0; i < dims[0] * dims[1] * dims[2]; ++i)
        p[i] = uint8_t(i % 200);
}

// An 8^3 ramp with unit spacing.
void MakeCube(VolumeData& volume) {
    const int dims[3] = {8, 8, 8};
    const float unit[3] = {1, 1, 1};
    MakeRamp(volume, dims, unit);
}

TEST(FullVRScene, SetDataDerivesSampleDistanceAndResetsCropping) {
    ExposedFullVRScene scene;
    const float crop[6] = {1, 2, 1, 2, 1, 2};
    scene.SetCroppingBounds(crop);
    scene.SetDataModified();  // no volume: nothing changes
    float out[6];
    scene.GetCroppingBounds(out);
    EXPECT_EQ(out[3], 2.f);

    VolumeData volume;
    const int dims[3] = {9, 7, 5};
    const float unit[3] = {1, 1, 1};
    MakeRamp(volume, dims, unit);
    scene.SetStdSampleDistance(2.5f);
    scene.SetData(&volume);
    scene.GetCroppingBounds(out);
    const float whole[6] = {0, 8, 0, 6, 0, 4};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], whole[i]) << i;
    EXPECT_NEAR(scene.GetKernelModule().sampleDistance, std::sqrt(3.f) / 9.f, 1e-7f);
    EXPECT_NEAR(scene.GetKernelModule().sampleDistance, 0.19245f, 1e-5f);
    EXPECT_EQ(scene.GetStdSampleDistance(), 2.5f);

    const float spacing[3] = {0.5f, 2.f, 4.f};
    MakeRamp(volume, dims, spacing);
    scene.SetDataModified();
    EXPECT_NEAR(scene.GetKernelModule().sampleDistance, std::sqrt(20.25f) / 9.f, 1e-6f);

    // Unnormalised light direction round trip; shading switches.
    scene.SetLightDirection(2.f, -3.f, 0.5f);
    float x, y, z;
    scene.GetLightDirection(x, y, z);
    EXPECT_EQ(x, 2.f);
    EXPECT_EQ(y, -3.f);
    EXPECT_EQ(z, 0.5f);
    EXPECT_TRUE(scene.GetShade());
    scene.ShadeOff();
    EXPECT_FALSE(scene.GetKernelModule().shade);
}

TEST(FullVRScene, LeftDragTurnsTheLightInEyeSpace) {
    ExposedFullVRScene scene;
    VolumeData volume;
    MakeCube(volume);
    scene.SetData(&volume);
    scene.Resize(100, 100);
    // A turned camera, so that eye and physical space differ.
    scene.SetRotation(Quaternion(1.f, 0.f, 0.f, 0.6f));
    scene.UpdateCamera();
    const Quaternion camera = scene.GetRotation();
    scene.SetLightDirection(0.f, 0.f, -1.f);
    scene.RotateLightDirection(true);

    retStatus status;
    scene.LButtonDown(100, 100, status);
    status = retStatus();
    scene.MouseMove(200, 100, status);  // 100 px right: 0.5 rad about the eye-space y axis
    EXPECT_TRUE(status.redraw);
    EXPECT_EQ(scene.GetRotation().w, camera.w);  // the camera does not move
    // Expected: in eye space the light (V L) turns about y by 0.5 rad, then back with V^T.
    const float* v = scene.GetViewMatrix().m;
    float eye[3];
    for (int r = 0; r < 3; ++r)
        eye[r] = -v[8 + r];  // V (0, 0, -1, 0)
    const float c = std::cos(0.5f), s = std::sin(0.5f);
    const float turned[3] = {c * eye[0] + s * eye[2], eye[1], -s * eye[0] + c * eye[2]};
    float expected[3];
    for (int a = 0; a < 3; ++a)
        expected[a] = v[4 * a] * turned[0] + v[4 * a + 1] * turned[1] + v[4 * a + 2] * turned[2];
    float x, y, z;
    scene.GetLightDirection(x, y, z);
    EXPECT_NEAR(x, expected[0], kTol);
    EXPECT_NEAR(y, expected[1], kTol);
    EXPECT_NEAR(z, expected[2], kTol);

    scene.MouseMove(100, 100, status);  // back at the press: the starting direction
    scene.GetLightDirection(x, y, z);
    EXPECT_NEAR(x, 0.f, kTol);
    EXPECT_NEAR(y, 0.f, kTol);
    EXPECT_NEAR(z, -1.f, kTol);

    // Switching light rotation off mid-drag: the release still ends the drag.
    scene.RotateLightDirection(false);
    scene.LButtonUp(100, 100, status);
    scene.RotateLightDirection(true);
    scene.MouseMove(150, 130, status);
    scene.GetLightDirection(x, y, z);
    EXPECT_NEAR(z, -1.f, kTol);

    // Without light rotation the left drag turns the camera, not the light.
    scene.RotateLightDirection(false);
    scene.LButtonDown(10, 10, status);
    scene.MouseMove(60, 10, status);
    scene.LButtonUp(60, 10, status);
    EXPECT_NE(scene.GetRotation().w, camera.w);
    scene.GetLightDirection(x, y, z);
    EXPECT_NEAR(z, -1.f, kTol);
}

TEST(FullVRScene, EndoscopyHeadlightFollowsTheCamera) {
    ExposedFullVRScene scene;
    VolumeData volume;
    MakeCube(volume);
    RGBATransferFunction1D tf;
    tf.AddPoint(100.f, Vector4(1, 1, 1, 0.5f));
    scene.SetData(&volume);
    scene.SetTransferFunction(&tf);
    scene.Resize(40, 30);
    scene.SetRotation(Quaternion(0.3f, 1.f, 0.f, 1.1f));
    scene.SetEndoscopy(true);
    scene.SetLightDirection(5.f, 0.f, 0.f);
    scene.UpdateCamera();
    ASSERT_TRUE(scene.CastImage());
    // The light travels along the view: V^-1 (0, 0, -1) = minus the view's third row.
    const float* v = scene.GetViewMatrix().m;
    float x, y, z;
    scene.GetLightDirection(x, y, z);
    EXPECT_NEAR(x, -v[2], kTol);
    EXPECT_NEAR(y, -v[6], kTol);
    EXPECT_NEAR(z, -v[10], kTol);
    // The kernel reads the transfer function's own entries and their sums.
    EXPECT_EQ(scene.GetKernelModule().lut->data, tf.GetData());
    EXPECT_GT(scene.GetKernelModule().tfEmptySpace->alphaSum[256], 0.f);
    scene.SetTransferFunction(nullptr);
    EXPECT_FALSE(scene.CastImage());
}

TEST(FullVRSceneRender, TransparentTransferFunctionShowsOnlyTheBackground) {
    const int w = 64, h = 48;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    std::unique_ptr<VolumeData> volume(CreateHeadPhantom(32));
    RGBATransferFunction1D tf;
    tf.SetMaxPos(3500.f);
    tf.AddPoint(1000.f, Vector4(1, 0.8f, 0.6f, 0.f));
    tf.AddPoint(2400.f, Vector4(1, 1, 1, 0.f));
    FullVRScene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.SetData(volume.get());
    scene.SetTransferFunction(&tf);
    scene.SetBackGroundColor(0.2f, 0.4f, 0.6f);
    const uint8_t background[3] = {51, 102, 153};
    auto countOff = [&]() {
        scene.Render();
        const std::vector<uint8_t> frame = gl.ReadPixels8();
        int off = 0;
        for (std::size_t p = 0; p < std::size_t(w) * h; ++p)
            for (int c = 0; c < 3; ++c)
                off += std::abs(int(frame[p * 4 + c]) - int(background[c])) > 1;
        return off;
    };
    EXPECT_EQ(countOff(), 0);
    // The same points made opaque (the function is read anew each frame): the head shows.
    tf.SetRGBAValue(0, Vector4(1, 0.8f, 0.6f, 0.2f));
    tf.SetRGBAValue(1, Vector4(1, 1, 1, 0.9f));
    EXPECT_GT(countOff(), w * h / 8);
}

}  // namespace
