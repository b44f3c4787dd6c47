// The placeholder Scene in a real GL context: rendered pixels against the
// ray-cast reference of support/ColourCubeReference (a ray per pixel centre
// through the camera parameters, in double precision, no matrices). The
// expected rotations are worked out from the drag, not read from the scene.
#include "Scene.h"
#include "support/ColourCubeReference.h"
#include "support/GLTestContext.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace cuberef;

namespace {

// Pixels allowed to differ from the reference, all of them on colour edges.
constexpr double kMaxMismatchRate = 0.02;

void ExpectMatches(Comparison const& c, int w, int h) {
    EXPECT_EQ(c.offEdge, 0) << "pixels differing away from any colour edge";
    EXPECT_LE(c.mismatches, kMaxMismatchRate * w * h);
}

}  // namespace

TEST(SceneRender, NewSceneShowsTheCyanFaceCentredOnGrey) {
    int const w = 160, h = 120;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    Scene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.Render();

    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], w);
    EXPECT_EQ(vp[3], h);
    // the frame's matrices are the ones loaded into GL
    GLfloat proj[16], view[16];
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    glGetFloatv(GL_MODELVIEW_MATRIX, view);
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(proj[i], scene.GetProjectionMatrix().m[i]);
        EXPECT_FLOAT_EQ(view[i], scene.GetViewMatrix().m[i]);
    }
    // cube centre at eye-space z = -0.5 sqrt(12) / sin(22.5 deg)
    EXPECT_NEAR(scene.GetViewMatrix().m[14], -0.5 * std::sqrt(12.0) / std::sin(M_PI / 8), 1e-5);

    std::vector<uint8_t> const px = gl.ReadPixels8();
    int const corners[4][2] = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}};
    for (auto const& xy : corners) {
        Rgb const c = At(px, w, xy[0], xy[1]);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(c[i], 127.5, 1.0);
    }
    EXPECT_TRUE(Close(At(px, w, w / 2, h / 2), kCyan));

    // the face is a square centred in the window; its half width in pixels
    // is cot(22.5 deg) * (h / 2) / (distance from the eye to the face)
    double const half = (h / 2.0) / std::tan(M_PI / 8) / (-scene.GetZTranslateBase() - 1.0);
    int left = w, right = -1, bottom = h, top = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (Close(At(px, w, x, y), kCyan)) {
                left = std::min(left, x);
                right = std::max(right, x);
                bottom = std::min(bottom, y);
                top = std::max(top, y);
            }
    EXPECT_NEAR((left + right + 1) / 2.0, w / 2.0, 1.0);
    EXPECT_NEAR((bottom + top + 1) / 2.0, h / 2.0, 1.0);
    EXPECT_NEAR(right + 1 - left, 2.0 * half, 1.5);
    EXPECT_NEAR(top + 1 - bottom, 2.0 * half, 1.5);

    Comparison const c = Compare(px, DefaultCamera(w, h), w, h);
    ExpectMatches(c, w, h);
    EXPECT_EQ(c.counts[0] + c.counts[4], w * h);  // grey and cyan only
}

TEST(SceneRender, LeftDragTurnsTheFacesAsPredicted) {
    int const w = 160, h = 120;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    Scene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.Render();

    // drag right by 100 pixels: 0.5 rad about +y; the front turns right and
    // the green x = -1 face comes into view on the left
    retStatus st;
    scene.LButtonDown(80, 60, st);
    scene.MouseMove(180, 60, st);
    ASSERT_TRUE(st.redraw);
    scene.Render();
    Camera cam = DefaultCamera(w, h);
    AxisAngle(0, 1, 0, 0.5, cam.q);
    std::vector<uint8_t> px = gl.ReadPixels8();
    Comparison c = Compare(px, cam, w, h);
    ExpectMatches(c, w, h);
    EXPECT_GT(c.counts[2], 200);  // the reference shows the green face
    EXPECT_TRUE(Close(At(px, w, 60, 60), kGreen));
    EXPECT_TRUE(Close(At(px, w, 95, 60), kCyan));

    // the same drag continued upward by 80 pixels: rotation about
    // (-80, 100, 0) by 0.005 * |(100, 80)|; the blue bottom face shows too
    st = retStatus();
    scene.MouseMove(180, -20, st);
    ASSERT_TRUE(st.redraw);
    scene.Render();
    AxisAngle(-80, 100, 0, 0.005 * std::sqrt(100.0 * 100.0 + 80.0 * 80.0), cam.q);
    px = gl.ReadPixels8();
    c = Compare(px, cam, w, h);
    ExpectMatches(c, w, h);
    EXPECT_GT(c.counts[2], 200);
    EXPECT_GT(c.counts[3], 200);
}

TEST(SceneRender, EndoscopyTurnSwingsTheCubeLeft) {
    int const w = 200, h = 150;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    Scene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.Render();
    scene.SetEndoscopy(true);
    retStatus st;
    scene.LButtonDown(0, 0, st);
    scene.MouseMove(130, 75, st);  // h = 30 px -> 0.15 rad to the right
    scene.LButtonUp(130, 75, st);
    scene.Render();

    // the eye stays at (0, 0, D) in model space and looks 0.15 rad to the
    // right: rotation d about +y, translate = -d(0, 0, D) - (0, 0, zBase)
    Camera cam = DefaultCamera(w, h);
    double const D = -cam.zBase, a = 0.15;
    AxisAngle(0, 1, 0, a, cam.q);
    cam.t[0] = -D * std::sin(a);
    cam.t[2] = -D * std::cos(a) + D;
    std::vector<uint8_t> const px = gl.ReadPixels8();
    ExpectMatches(Compare(px, cam, w, h), w, h);
    // the cube centre now projects left of the window centre
    double const centreX = w / 2.0 - std::tan(a) * (h / 2.0) / std::tan(M_PI / 8);
    EXPECT_TRUE(Close(At(px, w, int(centreX), h / 2), kCyan));
    EXPECT_TRUE(Close(At(px, w, w - 30, h / 2), kGrey));
}
