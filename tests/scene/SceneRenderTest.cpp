// The placeholder Scene in a real GL context: rendered pixels against a
// reference that casts a ray per pixel centre through the camera (built from
// fovy, aspect, translate, scale and the rotation quaternion in double
// precision, without the matrices) and colours it by the cube face it enters.
#include "Scene.h"
#include "support/GLTestContext.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

using Rgb = std::array<int, 3>;
Rgb const kGrey = {128, 128, 128};  // 0.5 * 255 = 127.5, either neighbour allowed
Rgb const kCyan = {0, 255, 255};
Rgb const kGreen = {0, 255, 0};
Rgb const kBlue = {0, 0, 255};

// Per-channel tolerance of a flat-shaded pixel.
constexpr int kChannelTol = 2;
// Pixels allowed to differ from the reference, all on colour edges.
constexpr double kMaxMismatchRate = 0.02;

struct Camera {
    double fovy, aspect, zBase, t[3], scale;
    double q[4];  // x, y, z, w
};

Camera FromScene(Scene& s, Quaternion const& rotation) {
    SceneParam const& p = s.GetSceneParameters();
    Camera c{p.fovy,           p.aspect,
             p.zTranslateBase, {p.translate[0], p.translate[1], p.translate[2]},
             p.scale,          {rotation.x, rotation.y, rotation.z, rotation.w}};
    return c;
}

// v' = q* v q (the inverse rotation of a unit quaternion), Hamilton products.
std::array<double, 3> RotateInverse(double const q[4], std::array<double, 3> const& v) {
    auto mul = [](std::array<double, 4> a, std::array<double, 4> b) {  // (x, y, z, w)
        return std::array<double, 4>{a[3] * b[0] + b[3] * a[0] + a[1] * b[2] - a[2] * b[1],
                                     a[3] * b[1] + b[3] * a[1] + a[2] * b[0] - a[0] * b[2],
                                     a[3] * b[2] + b[3] * a[2] + a[0] * b[1] - a[1] * b[0],
                                     a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
    };
    std::array<double, 4> const qc{-q[0], -q[1], -q[2], q[3]};
    std::array<double, 4> const qq{q[0], q[1], q[2], q[3]};
    std::array<double, 4> const r = mul(mul(qc, {v[0], v[1], v[2], 0.0}), qq);
    return {r[0], r[1], r[2]};
}

// Colour of the cube face that the ray through pixel centre (px, py) enters.
Rgb ReferencePixel(Camera const& c, int w, int h, int px, int py) {
    double const th = std::tan(c.fovy * M_PI / 360.0);
    std::array<double, 3> const dirEye{(2.0 * (px + 0.5) / w - 1.0) * th * c.aspect,
                                       (2.0 * (py + 0.5) / h - 1.0) * th, -1.0};
    // eye origin and direction in model space: undo translate, scale, rotation
    std::array<double, 3> const oShift{-c.t[0] / c.scale, -c.t[1] / c.scale,
                                       -(c.t[2] + c.zBase) / c.scale};
    std::array<double, 3> const o = RotateInverse(c.q, oShift);
    std::array<double, 3> const d = RotateInverse(c.q, dirEye);
    // slab test against [-1, 1]^3; the entry face is the axis of the last entry
    double tNear = -1e30, tFar = 1e30;
    int face = -1;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0.0) {
            if (o[a] < -1.0 || o[a] > 1.0) return kGrey;
            continue;
        }
        double t0 = (-1.0 - o[a]) / d[a], t1 = (1.0 - o[a]) / d[a];
        if (t0 > t1) std::swap(t0, t1);
        if (t0 > tNear) {
            tNear = t0;
            face = a;
        }
        tFar = std::min(tFar, t1);
    }
    if (tNear > tFar || tFar < 0.0 || face < 0) return kGrey;
    bool const positive = d[face] < 0.0;  // entering through the + side
    switch (face) {
        case 0:
            return positive ? Rgb{255, 0, 255} : kGreen;  // x: magenta / green
        case 1:
            return positive ? Rgb{255, 255, 0} : kBlue;  // y: yellow / blue
        default:
            return positive ? kCyan : Rgb{255, 0, 0};  // z: cyan / red
    }
}

bool Close(Rgb const& a, Rgb const& b) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > kChannelTol) return false;
    return true;
}

Rgb At(std::vector<uint8_t> const& px, int w, int x, int y) {
    size_t const i = (size_t(y) * w + x) * 4;
    return {px[i], px[i + 1], px[i + 2]};
}

struct Comparison {
    int mismatches = 0;
    int offEdge = 0;           // mismatches with no reference neighbour of that colour
    int count[3] = {0, 0, 0};  // reference pixels: cyan, green, blue
};

Comparison Compare(std::vector<uint8_t> const& px, Camera const& cam, int w, int h) {
    std::vector<Rgb> ref(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ref[size_t(y) * w + x] = ReferencePixel(cam, w, h, x, y);
    Comparison r;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Rgb const& e = ref[size_t(y) * w + x];
            r.count[0] += e == kCyan;
            r.count[1] += e == kGreen;
            r.count[2] += e == kBlue;
            Rgb const got = At(px, w, x, y);
            if (Close(got, e)) continue;
            ++r.mismatches;
            bool edge = false;
            for (int dy = -1; dy <= 1 && !edge; ++dy)
                for (int dx = -1; dx <= 1 && !edge; ++dx) {
                    int const nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < w && ny < h)
                        edge = Close(got, ref[size_t(ny) * w + nx]);
                }
            if (!edge) ++r.offEdge;
        }
    }
    return r;
}

void ExpectMatchesReference(GLTestContext& gl, Camera const& cam) {
    int const w = gl.Width(), h = gl.Height();
    Comparison const c = Compare(gl.ReadPixels8(), cam, w, h);
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
    // the frame's matrices are the ones in GL
    GLfloat proj[16], view[16];
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    glGetFloatv(GL_MODELVIEW_MATRIX, view);
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(proj[i], scene.GetProjectionMatrix().m[i]);
        EXPECT_FLOAT_EQ(view[i], scene.GetViewMatrix().m[i]);
    }
    EXPECT_NEAR(scene.GetViewMatrix().m[14], -0.5 * std::sqrt(12.0) / std::sin(M_PI / 8), 1e-5);

    std::vector<uint8_t> const px = gl.ReadPixels8();
    for (auto xy : {std::array<int, 2>{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) {
        Rgb const c = At(px, w, xy[0], xy[1]);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(c[i], 127.5, 1.0) << "corner " << xy[0] << "," << xy[1];
    }
    EXPECT_TRUE(Close(At(px, w, w / 2, h / 2), kCyan));

    // the face is a square centred in the window: half width in pixels is
    // 1 / (distance to the face) * cot(22.5 deg) * h / 2
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

    Camera const cam = FromScene(scene, Quaternion());
    Comparison const c = Compare(px, cam, w, h);
    EXPECT_EQ(c.offEdge, 0);
    EXPECT_EQ(c.count[1], 0);  // only the front face is visible
    EXPECT_EQ(c.count[2], 0);
}

TEST(SceneRender, LeftDragTurnsTheFacesAsPredicted) {
    int const w = 160, h = 120;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    Scene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.Render();

    // drag right by 100 pixels: 0.5 rad about +y, the green x = -1 face
    // comes into view on the left
    retStatus st;
    scene.LButtonDown(80, 60, st);
    scene.MouseMove(180, 60, st);
    ASSERT_TRUE(st.redraw);
    scene.Render();
    Camera cam = FromScene(scene, Quaternion(0, 1, 0, 0.5f));
    std::vector<uint8_t> px = gl.ReadPixels8();
    Comparison c = Compare(px, cam, w, h);
    EXPECT_EQ(c.offEdge, 0);
    EXPECT_LE(c.mismatches, kMaxMismatchRate * w * h);
    EXPECT_GT(c.count[1], 200);  // the reference shows the green face
    EXPECT_TRUE(Close(At(px, w, 60, 60), kGreen));
    EXPECT_TRUE(Close(At(px, w, 95, 60), kCyan));

    // continue the same drag upward by 80 pixels: rotation about (-80, 100, 0)
    // by 0.005 * sqrt(100^2 + 80^2); the blue bottom face shows up too
    st = retStatus();
    scene.MouseMove(180, -20, st);
    ASSERT_TRUE(st.redraw);
    scene.Render();
    float const len = std::sqrt(100.0f * 100.0f + 80.0f * 80.0f);
    cam = FromScene(scene, Quaternion(-80.0f, 100.0f, 0.0f, 0.005f * len));
    px = gl.ReadPixels8();
    c = Compare(px, cam, w, h);
    EXPECT_EQ(c.offEdge, 0);
    EXPECT_LE(c.mismatches, kMaxMismatchRate * w * h);
    EXPECT_GT(c.count[1], 200);
    EXPECT_GT(c.count[2], 200);
}

TEST(SceneRender, PanZoomAndEndoscopyWalkMatchTheReference) {
    int const w = 128, h = 128;
    GLTestContext gl(w, h);
    KESTREL_REQUIRE_GL(gl);
    Scene scene;
    scene.Init();
    scene.Resize(w, h);
    scene.Render();
    retStatus st;
    // zoom in a little, then pan left and down
    scene.RButtonDown(64, 64, st);
    scene.MouseMove(64, 14, st);
    scene.RButtonUp(64, 14, st);
    scene.MButtonDown(64, 64, st);
    scene.MouseMove(44, 84, st);
    scene.MButtonUp(44, 84, st);
    // rotate so that more than one face shows
    scene.LButtonDown(64, 64, st);
    scene.MouseMove(20, 30, st);
    scene.LButtonUp(20, 30, st);
    scene.Render();
    ExpectMatchesReference(gl, FromScene(scene, scene.GetRotation()));

    // walk forward in endoscopy mode and turn: still the same picture model
    scene.SetEndoscopy(true);
    scene.Keyboard('w', 0, 0, st);
    scene.Keyboard('w', 0, 0, st);
    scene.KeyboardUp('w', 0, 0, st);
    scene.LButtonDown(0, 0, st);
    scene.MouseMove(74, 60, st);
    scene.LButtonUp(74, 60, st);
    scene.Render();
    ExpectMatchesReference(gl, FromScene(scene, scene.GetRotation()));
}
