// SceneParam camera: the worked numbers of the default camera, the examine
// drags relative to the reference, and the fly-through moves, checked by
// projecting points through the produced matrices.
#include "SceneParam.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {
constexpr double kPi = 3.14159265358979323846;
float const kCube[3] = {2.0f, 2.0f, 2.0f};

struct Eye {  // a model point seen in eye space
    float x, y, z;
};

Eye ToEye(SceneParam const& cam, Vector4 const& p) {
    Matrix4x4 view;
    cam.CalculateViewMatrix(&view);
    Vector4 const q = view * p;
    return {q.x / q.w, q.y / q.w, q.z / q.w};
}

// Window position (pixels, y up) of a model point for a w x h viewport.
void ToWindow(SceneParam const& cam, Vector4 const& p, int w, int h, double* wx, double* wy) {
    Matrix4x4 view, proj;
    cam.CalculateMatrix(&view, &proj);
    Vector4 const c = proj * (view * p);
    *wx = (c.x / c.w * 0.5 + 0.5) * w;
    *wy = (c.y / c.w * 0.5 + 0.5) * h;
}

// Eye position in model coordinates: inverse view x origin.
Vector4 EyeInModel(SceneParam const& cam) {
    Matrix4x4 v;
    cam.CalculateViewMatrix(&v);
    v.Inverse();
    Vector4 e = v * Vector4();
    e *= 1.0f / e.w;
    return e;
}

void ExpectQuatNear(Quaternion const& a, Quaternion const& b, float tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
    EXPECT_NEAR(a.w, b.w, tol);
}

void ExpectSameCamera(SceneParam const& a, SceneParam const& b) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a.translate[i], b.translate[i]);
    EXPECT_EQ(a.scale, b.scale);
    EXPECT_EQ(a.rotation.x, b.rotation.x);
    EXPECT_EQ(a.rotation.y, b.rotation.y);
    EXPECT_EQ(a.rotation.z, b.rotation.z);
    EXPECT_EQ(a.rotation.w, b.rotation.w);
}

// A camera away from its defaults, to show results do not depend on them.
SceneParam Posed() {
    SceneParam cam(45.0f, 1.5f, kCube);
    cam.rotation = Quaternion(0.3f, -1.0f, 0.5f, 0.9f);
    cam.scale = 1.7f;
    cam.translate[0] = 0.4f;
    cam.translate[1] = -0.2f;
    cam.translate[2] = 0.3f;
    return cam;
}
}  // namespace

TEST(SceneParamSetUp, DefaultsAndInitFromExtent) {
    SceneParam const d;
    EXPECT_EQ(d.scale, 1.0f);
    EXPECT_EQ(d.refScale, 1.0f);
    EXPECT_EQ(d.rotation.w, 1.0f);
    EXPECT_EQ(d.refRotation.w, 1.0f);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(d.translate[i], 0.0f);

    SceneParam const cam(45.0f, 2.0f, kCube);
    EXPECT_EQ(cam.fovy, 45.0f);
    EXPECT_EQ(cam.aspect, 2.0f);
    // r = sqrt(3); distance r / sin(22.5 deg)
    double const r = std::sqrt(3.0);
    double const dist = r / std::sin(22.5 * kPi / 180.0);
    EXPECT_NEAR(cam.zTranslateBase, -4.526067, 1e-5);
    EXPECT_NEAR(cam.zTranslateBase, -dist, 1e-5);
    EXPECT_NEAR(cam.zNear, 0.558803, 1e-5);
    EXPECT_NEAR(cam.zFar, 31.29059, 1e-4);
    EXPECT_NEAR(cam.zNear, (dist - r) / 5.0, 1e-5);
    EXPECT_NEAR(cam.zFar, (dist + r) * 5.0, 1e-4);

    // the transform is left alone by a later InitSceneParam
    SceneParam posed = Posed();
    SceneParam const before = posed;
    float const box[3] = {4.0f, 1.0f, 2.0f};
    posed.InitSceneParam(30.0f, 0.5f, box);
    ExpectSameCamera(posed, before);
    EXPECT_NEAR(posed.zTranslateBase, -0.5 * std::sqrt(21.0) / std::sin(15.0 * kPi / 180.0), 1e-5);
}

TEST(SceneParamSetUp, DefaultMatrices) {
    SceneParam const cam(45.0f, 1.25f, kCube);
    Matrix4x4 view, proj;
    cam.CalculateMatrix(&view, &proj);
    // a pure translation by (0, 0, -4.526067)
    for (int i = 0; i < 16; ++i) {
        if (i == 14) continue;
        EXPECT_EQ(view.m[i], (i % 5 == 0) ? 1.0f : 0.0f) << "view element " << i;
    }
    EXPECT_NEAR(view.m[14], -4.526067f, 1e-5f);

    EXPECT_NEAR(proj.m[5], 2.4142135f, 1e-6f);
    EXPECT_NEAR(proj.m[0], 2.4142135f / 1.25f, 1e-6f);
    EXPECT_EQ(proj.m[11], -1.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15})
        EXPECT_EQ(proj.m[i], 0.0f);

    // near and far planes go to NDC depth -1 and +1; the top of the field of
    // view at any depth to NDC y = +1
    double const t = std::tan(22.5 * kPi / 180.0);
    for (float z : {-cam.zNear, -cam.zFar, -10.0f}) {
        Vector4 const c = proj * Vector4(0.0f, float(-z * t), z, 1.0f);
        EXPECT_NEAR(c.y / c.w, 1.0, 1e-5);
        if (z == -cam.zNear) {
            EXPECT_NEAR(c.z / c.w, -1.0, 1e-5);
        }
        if (z == -cam.zFar) {
            EXPECT_NEAR(c.z / c.w, 1.0, 1e-4);
        }
    }
    // the bounding sphere just touches the top and bottom of the view:
    // the tangent point of the sphere seen from the eye projects to y = 1
    double const r = std::sqrt(3.0), d = -cam.zTranslateBase;
    double const a = std::asin(r / d);  // half angle subtended = 22.5 degrees
    double const tx = 0.0, ty = r * std::cos(a), tz = -d + r * std::sin(a);
    Vector4 const c = proj * Vector4(float(tx), float(ty), float(tz), 1.0f);
    EXPECT_NEAR(c.y / c.w, 1.0, 1e-5);
}

TEST(SceneParamSetUp, ViewAppliesRotateThenScaleThenTranslate) {
    SceneParam const cam = Posed();
    Vector4 const p(0.3f, -0.8f, 0.6f, 1.0f);
    Vector4 r = cam.rotation.ToMatrix() * p;
    Eye const e = ToEye(cam, p);
    EXPECT_NEAR(e.x, r.x * cam.scale + cam.translate[0], 1e-5f);
    EXPECT_NEAR(e.y, r.y * cam.scale + cam.translate[1], 1e-5f);
    EXPECT_NEAR(e.z, r.z * cam.scale + cam.translate[2] + cam.zTranslateBase, 1e-5f);
}

TEST(SceneParamExamine, RotateWorkedExamples) {
    SceneParam cam(45.0f, 1.0f, kCube);
    cam.MakeReference();
    cam.Rotate(100, 0, 0.005f);
    ExpectQuatNear(cam.rotation, Quaternion(0, 1, 0, 0.5f), 1e-6f);
    // the front of the model (+z) follows the pointer to the right
    EXPECT_GT(ToEye(cam, Vector4(0, 0, 1, 1)).x, 0.4f);

    cam.Rotate(0, 100, 0.005f);
    ExpectQuatNear(cam.rotation, Quaternion(-1, 0, 0, 0.5f), 1e-6f);
    EXPECT_GT(ToEye(cam, Vector4(0, 0, 1, 1)).y, 0.4f);  // front moves up

    // diagonal drag: axis (-dy, dx, 0)/len, angle len * rate
    cam.Rotate(30, -40, 0.01f);
    ExpectQuatNear(cam.rotation, Quaternion(0.8f, 0.6f, 0.0f, 0.5f), 1e-6f);
}

TEST(SceneParamExamine, DragsComputeFromTheReference) {
    SceneParam cam = Posed();
    SceneParam const atPress = cam;
    cam.MakeReference();
    int const viewport[2] = {640, 480};

    // the same displacement twice gives the same camera; back to zero restores
    cam.Rotate(37, -12, 0.005f);
    SceneParam const once = cam;
    cam.Rotate(5, 5, 0.005f);
    cam.Rotate(37, -12, 0.005f);
    ExpectSameCamera(cam, once);
    cam.Rotate(0, 0, 0.005f);
    ExpectSameCamera(cam, atPress);

    cam.Scale(123, 0.002f);
    cam.Scale(0, 0.002f);
    EXPECT_EQ(cam.scale, atPress.scale);

    cam.Translate(50, 70, viewport);
    cam.Translate(0, 0, viewport);
    EXPECT_EQ(cam.translate[0], atPress.translate[0]);
    EXPECT_EQ(cam.translate[1], atPress.translate[1]);
    EXPECT_EQ(cam.translate[2], atPress.translate[2]);

    // the reference composes: rotation = d x refRotation
    cam.Rotate(100, 0, 0.005f);
    ExpectQuatNear(cam.rotation, Quaternion(0, 1, 0, 0.5f) * atPress.rotation, 1e-6f);
}

TEST(SceneParamExamine, ScaleWorkedExamples) {
    SceneParam cam;
    cam.scale = 0.5f;
    cam.MakeReference();
    float const rate = static_cast<float>(std::log(1.002));  // ln 1.002, rounded once
    // exp(dy * rate) * refScale: 1.002^500 = 2.7155685 (float exp: a few 1e-7)
    cam.Scale(500, rate);
    EXPECT_NEAR(cam.scale, 0.5 * std::pow(1.002, 500.0), 1e-6);
    cam.Scale(1, rate);
    EXPECT_NEAR(cam.scale, 0.5f * 1.002f, 1e-6f);
    cam.Scale(-500, rate);
    EXPECT_NEAR(cam.scale, 0.5 / std::pow(1.002, 500.0), 1e-6);
}

TEST(SceneParamExamine, TranslateFollowsThePointer) {
    SceneParam cam(45.0f, 1.0f, kCube);
    cam.MakeReference();
    int const viewport[2] = {600, 600};
    cam.Translate(300, 0, viewport);
    // 300 / (300 / tan(22.5 deg)) * 4.526067
    EXPECT_NEAR(cam.translate[0], 1.8747f, 1e-4f);
    EXPECT_EQ(cam.translate[1], 0.0f);
    EXPECT_EQ(cam.translate[2], 0.0f);

    // independent check on a posed camera: the model centre moves on screen
    // by exactly the pixel displacement (translate is in the centre's plane)
    SceneParam posed = Posed();
    posed.aspect = 800.0f / 500.0f;
    int const vp[2] = {800, 500};
    double x0, y0, x1, y1;
    ToWindow(posed, Vector4(), vp[0], vp[1], &x0, &y0);
    posed.MakeReference();
    posed.Translate(-73, 41, vp);
    ToWindow(posed, Vector4(), vp[0], vp[1], &x1, &y1);
    // the centre is not at zTranslateBase when translate[2] != 0: scale the
    // expected travel by the depth ratio
    double const depthRatio = posed.zTranslateBase / (posed.zTranslateBase + posed.translate[2]);
    EXPECT_NEAR(x1 - x0, -73.0 * depthRatio, 1e-2);
    EXPECT_NEAR(y1 - y0, 41.0 * depthRatio, 1e-2);
}

TEST(SceneParamFlyThrough, MoveAlongEyeAxes) {
    SceneParam cam = Posed();
    Vector4 const before = EyeInModel(cam);
    cam.Move(0.0f, 0.0f, -0.5f);  // forward by half a model unit
    Vector4 const after = EyeInModel(cam);
    // forward is the view direction -z of eye space, in model coordinates
    Matrix4x4 view;
    cam.CalculateViewMatrix(&view);
    Matrix4x4 inv = view;
    inv.Inverse();
    Vector4 fwd = inv * Vector4(0, 0, -1, 0);
    fwd.Normalize();
    EXPECT_NEAR(after.x - before.x, 0.5f * fwd.x, 1e-5f);
    EXPECT_NEAR(after.y - before.y, 0.5f * fwd.y, 1e-5f);
    EXPECT_NEAR(after.z - before.z, 0.5f * fwd.z, 1e-5f);

    SceneParam c2;
    c2.scale = 2.0f;
    c2.Move(1.0f, -2.0f, 3.0f);
    EXPECT_EQ(c2.translate[0], -2.0f);
    EXPECT_EQ(c2.translate[1], 4.0f);
    EXPECT_EQ(c2.translate[2], -6.0f);
}

TEST(SceneParamFlyThrough, MoveToPutsTheEyeAtThePoint) {
    // the model centre, whatever the rotation and scale
    SceneParam cam = Posed();
    cam.MoveTo(1.0f, 1.0f, 1.0f, kCube);
    EXPECT_NEAR(cam.translate[0], 0.0f, 1e-5f);
    EXPECT_NEAR(cam.translate[1], 0.0f, 1e-5f);
    EXPECT_NEAR(cam.translate[2], -cam.zTranslateBase, 1e-5f);

    // any point of a box: afterwards it maps to the eye, orientation kept
    float const box[3] = {3.0f, 5.0f, 1.0f};
    SceneParam c2 = Posed();
    Quaternion const rot = c2.rotation;
    c2.MoveTo(0.5f, 4.0f, 0.25f, box);
    Eye const e = ToEye(c2, Vector4(0.5f - 1.5f, 4.0f - 2.5f, 0.25f - 0.5f, 1.0f));
    EXPECT_NEAR(e.x, 0.0f, 1e-5f);
    EXPECT_NEAR(e.y, 0.0f, 1e-5f);
    EXPECT_NEAR(e.z, 0.0f, 1e-5f);
    EXPECT_EQ(c2.rotation.x, rot.x);
    EXPECT_EQ(c2.rotation.w, rot.w);
}

TEST(SceneParamFlyThrough, ZeroTurnAndRollChangeNothing) {
    SceneParam cam = Posed();
    SceneParam const before = cam;
    cam.Turn(0.0f, 0.0f);
    ExpectSameCamera(cam, before);
    cam.Roll(0.0f);
    ExpectSameCamera(cam, before);
}

TEST(SceneParamFlyThrough, TurnAndRollKeepTheEyeInPlace) {
    std::mt19937 rng(31337);
    std::uniform_real_distribution<float> a(-0.4f, 0.4f);
    SceneParam cam = Posed();
    cam.MoveTo(0.3f, 1.4f, 0.9f, kCube);  // stand inside the cube
    for (int i = 0; i < 50; ++i) {
        Vector4 const e0 = EyeInModel(cam);
        if (i % 2 == 0)
            cam.Turn(a(rng), a(rng));
        else
            cam.Roll(a(rng));
        Vector4 const e1 = EyeInModel(cam);
        EXPECT_NEAR(e1.x, e0.x, 2e-4f);
        EXPECT_NEAR(e1.y, e0.y, 2e-4f);
        EXPECT_NEAR(e1.z, e0.z, 2e-4f);
    }
}

TEST(SceneParamFlyThrough, TurnAndRollDirections) {
    // a model point straight ahead of the eye
    SceneParam cam(45.0f, 1.0f, kCube);
    Vector4 const ahead(0, 0, 0, 1);  // model centre, 4.5 units ahead

    SceneParam right = cam;
    right.Turn(0.2f, 0.0f);  // view turns right: the model moves left
    Eye const r = ToEye(right, ahead);
    EXPECT_NEAR(std::atan2(-r.x, -r.z), 0.2, 1e-5);
    EXPECT_NEAR(r.y, 0.0f, 1e-5f);

    SceneParam up = cam;
    up.Turn(0.0f, 0.2f);  // view turns up: the model moves down
    Eye const u = ToEye(up, ahead);
    EXPECT_NEAR(std::atan2(-u.y, -u.z), 0.2, 1e-5);
    EXPECT_NEAR(u.x, 0.0f, 1e-5f);

    // a roll by +0.3 turns eye-space content counter-clockwise about -z view axis
    SceneParam roll = cam;
    roll.Roll(0.3f);
    Eye const p = ToEye(roll, Vector4(1, 0, 0, 1));
    EXPECT_NEAR(std::atan2(p.y, p.x), 0.3, 1e-5);
    EXPECT_NEAR(p.z, cam.zTranslateBase, 1e-5f);
}
