// Scene input handlers driven with retStatus: examine drags and button
// priority, endoscopy turning/rolling with the parked pointer, walking keys,
// flags across a mode switch, and the refit after SetFovy. The expected
// camera is computed by applying SceneParam operations to a copy of the
// camera, never by reading back what the handler stored.
#include "Scene.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Exposes the protected state for inspection and counts the virtual calls.
class ProbeScene : public Scene {
public:
    using Scene::endoscopyRolling;
    using Scene::endoscopyTurning;
    using Scene::leftButtonDown;
    using Scene::middleButtonDown;
    using Scene::moveSpeed;
    using Scene::rightButtonDown;
    using Scene::size3DModified;
    int size3DCalls = 0;
    int contentCalls = 0;
    float extent[3] = {2.0f, 2.0f, 2.0f};

protected:
    void RenderContent() override { ++contentCalls; }
    void GetSize3D(float* const size) override {
        ++size3DCalls;
        for (int i = 0; i < 3; ++i)
            size[i] = extent[i];
    }
};

void ExpectSameCamera(SceneParam const& a, SceneParam const& b) {
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(a.translate[i], b.translate[i]) << "translate " << i;
    EXPECT_FLOAT_EQ(a.scale, b.scale);
    EXPECT_FLOAT_EQ(a.rotation.x, b.rotation.x);
    EXPECT_FLOAT_EQ(a.rotation.y, b.rotation.y);
    EXPECT_FLOAT_EQ(a.rotation.z, b.rotation.z);
    EXPECT_FLOAT_EQ(a.rotation.w, b.rotation.w);
}

void ExpectStatus(retStatus const& s, bool redraw, bool setCursor, int cx = 0, int cy = 0) {
    EXPECT_EQ(s.redraw, redraw);
    EXPECT_EQ(s.setCursor, setCursor);
    if (setCursor) {
        EXPECT_EQ(s.cursorX, cx);
        EXPECT_EQ(s.cursorY, cy);
    }
}

// A scene sized and with a camera fitted to the cube (no GL needed: the
// fit is what Render's first step does).
void Prepare(Scene& s, int w, int h) {
    s.Resize(w, h);
    float const cube[3] = {2.0f, 2.0f, 2.0f};
    s.GetSceneParameters().InitSceneParam(cube);
}

}  // namespace

TEST(SceneDefaults, ConstructorValues) {
    ProbeScene s;
    EXPECT_EQ(s.GetFovy(), 45.0f);
    EXPECT_EQ(s.GetSceneParameters().aspect, 1.0f);
    EXPECT_EQ(s.GetRotateRadPerPixel(), 0.005f);
    // ln(1.002) rounded once to float (half an ulp there is 1.2e-10); the
    // logarithm of the float 1.002f would be 2.6e-8 off
    EXPECT_NEAR(s.GetScaleRatePerPixel(), std::log(1.002), 2e-10);
    float maxSpeed = 0, accel = 0;
    s.GetMoveSensitivity(maxSpeed, accel);
    EXPECT_EQ(maxSpeed, 10.0f);
    EXPECT_EQ(accel, 0.1f);
    EXPECT_FALSE(s.GetEndoscopy());
    EXPECT_TRUE(s.size3DModified);
    EXPECT_FALSE(s.leftButtonDown || s.middleButtonDown || s.rightButtonDown);
    EXPECT_FALSE(s.endoscopyTurning || s.endoscopyRolling);
    EXPECT_EQ(s.moveSpeed, 0.0f);
    EXPECT_EQ(s.GetScale(), 1.0f);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(s.GetViewMatrix().m[i], (i % 5 == 0) ? 1.0f : 0.0f);

    s.Resize(300, 120);
    int vp[2] = {0, 0};
    s.GetViewPort(vp);
    EXPECT_EQ(vp[0], 300);
    EXPECT_EQ(vp[1], 120);
    EXPECT_FLOAT_EQ(s.GetSceneParameters().aspect, 2.5f);
    EXPECT_TRUE(s.size3DModified);  // resize does not refit
}

TEST(SceneExamine, LeftDragRotatesFromThePress) {
    Scene s;
    Prepare(s, 400, 300);
    SceneParam expected = s.GetSceneParameters();
    retStatus st;
    s.LButtonDown(200, 150, st);
    ExpectStatus(st, false, false);  // a press asks for nothing

    st = retStatus();
    s.MouseMove(260, 70, st);  // dx = 60, dy = 80 (upward)
    ExpectStatus(st, true, false);
    expected.MakeReference();
    expected.Rotate(60, 80, 0.005f);
    ExpectSameCamera(s.GetSceneParameters(), expected);
    // front of the model follows the pointer: right and up
    Quaternion const q(-80.0f / 100.0f, 60.0f / 100.0f, 0.0f, 0.5f);
    EXPECT_NEAR(s.GetRotation().x, q.x, 1e-6f);
    EXPECT_NEAR(s.GetRotation().y, q.y, 1e-6f);
    EXPECT_NEAR(s.GetRotation().w, q.w, 1e-6f);

    // a second drag starts from the rotated camera
    s.LButtonUp(260, 70, st);
    s.LButtonDown(10, 10, st);
    st = retStatus();
    s.MouseMove(110, 10, st);
    Quaternion const composed = Quaternion(0, 1, 0, 0.5f) * q;
    EXPECT_NEAR(s.GetRotation().x, composed.x, 1e-6f);
    EXPECT_NEAR(s.GetRotation().y, composed.y, 1e-6f);
    EXPECT_NEAR(s.GetRotation().z, composed.z, 1e-6f);
    EXPECT_NEAR(s.GetRotation().w, composed.w, 1e-6f);

    // after the release, motion does nothing
    s.LButtonUp(110, 10, st);
    SceneParam const released = s.GetSceneParameters();
    st = retStatus();
    s.MouseMove(300, 200, st);
    ExpectStatus(st, false, false);
    ExpectSameCamera(s.GetSceneParameters(), released);
}

TEST(SceneExamine, MoveAtThePressPointAndRevisits) {
    Scene s;
    Prepare(s, 400, 300);
    retStatus st;
    s.LButtonDown(100, 100, st);
    s.MouseMove(140, 90, st);
    SceneParam const first = s.GetSceneParameters();
    s.MouseMove(170, 130, st);
    SceneParam const second = s.GetSceneParameters();

    // back at the press point: nothing happens, the last camera stays
    st = retStatus();
    s.MouseMove(100, 100, st);
    ExpectStatus(st, false, false);
    ExpectSameCamera(s.GetSceneParameters(), second);

    // revisiting an earlier position gives that position's camera exactly
    s.MouseMove(140, 90, st);
    ExpectSameCamera(s.GetSceneParameters(), first);
}

TEST(SceneExamine, ButtonPriority) {
    int const w = 500, h = 400;

    {  // left + middle: rotation only
        Scene s;
        Prepare(s, w, h);
        SceneParam expected = s.GetSceneParameters();
        retStatus st;
        s.MButtonDown(50, 60, st);
        s.LButtonDown(50, 60, st);
        s.MouseMove(80, 20, st);
        expected.MakeReference();
        expected.Rotate(30, 40, 0.005f);
        ExpectSameCamera(s.GetSceneParameters(), expected);
        EXPECT_EQ(s.GetSceneParameters().translate[0], 0.0f);
    }
    {  // middle + right: pan only
        Scene s;
        Prepare(s, w, h);
        SceneParam expected = s.GetSceneParameters();
        retStatus st;
        s.RButtonDown(50, 60, st);
        s.MButtonDown(50, 60, st);
        s.MouseMove(80, 20, st);
        int const vp[2] = {w, h};
        expected.MakeReference();
        expected.Translate(30, 40, vp);
        ExpectSameCamera(s.GetSceneParameters(), expected);
        EXPECT_EQ(s.GetScale(), 1.0f);
        // pan: one pixel per pixel at the model centre's depth
        double const k = (h * 0.5) / std::tan(22.5 * M_PI / 180.0);
        EXPECT_NEAR(s.GetSceneParameters().translate[0], -30.0 / k * s.GetZTranslateBase(), 1e-5);
    }
    {  // right alone: zoom by exp(dy * rate); horizontal motion ignored
        Scene s;
        Prepare(s, w, h);
        retStatus st;
        s.RButtonDown(50, 260, st);
        s.MouseMove(90, 10, st);  // dy = 250
        EXPECT_TRUE(st.redraw);
        EXPECT_NEAR(s.GetScale(), std::pow(1.002, 250.0), 5e-5);  // float exp
        // 500 pixels up: 1.002^500 = 2.7155685; float exp of a product near 1
        // is good to a few 1e-7 (a rate of ln(1.002f) would give 2.7155337)
        s.MouseMove(90, -240, st);
        EXPECT_NEAR(s.GetScale(), std::pow(1.002, 500.0), 2e-6);
        st = retStatus();
        s.MouseMove(400, 260, st);  // dy = 0, dx != 0: scale back to the reference
        EXPECT_TRUE(st.redraw);
        EXPECT_FLOAT_EQ(s.GetScale(), 1.0f);
    }
}

TEST(SceneEndoscopy, ParkingAtTheCentreWithOddSizes) {
    Scene s;
    Prepare(s, 201, 101);  // cx = 100, cy = 50
    s.SetEndoscopy(true);
    SceneParam const start = s.GetSceneParameters();

    retStatus st;
    s.LButtonDown(7, 9, st);
    ExpectStatus(st, false, true, 100, 50);
    ExpectSameCamera(s.GetSceneParameters(), start);

    // exactly at the centre: nothing
    st = retStatus();
    s.MouseMove(100, 50, st);
    ExpectStatus(st, false, false);
    ExpectSameCamera(s.GetSceneParameters(), start);

    // h = 130 - 100 = 30, v = 50 - 40 = 10
    st = retStatus();
    s.MouseMove(130, 40, st);
    ExpectStatus(st, true, true, 100, 50);
    SceneParam expected = start;
    expected.Turn(30 * 0.005f, 10 * 0.005f);
    ExpectSameCamera(s.GetSceneParameters(), expected);

    // turns accumulate (the pointer was parked back at the centre)
    s.MouseMove(130, 40, st);
    expected.Turn(30 * 0.005f, 10 * 0.005f);
    ExpectSameCamera(s.GetSceneParameters(), expected);

    // an even size truncates the same way: 100 x 60 -> (50, 30)
    Scene e;
    Prepare(e, 100, 60);
    e.SetEndoscopy(true);
    st = retStatus();
    e.RButtonDown(1, 1, st);
    ExpectStatus(st, false, true, 50, 30);
}

TEST(SceneEndoscopy, RollIgnoresHorizontalMotion) {
    Scene s;
    Prepare(s, 201, 101);
    s.SetEndoscopy(true);
    SceneParam expected = s.GetSceneParameters();
    retStatus st;
    s.RButtonDown(0, 0, st);
    ExpectStatus(st, false, true, 100, 50);

    st = retStatus();
    s.MouseMove(180, 50, st);  // horizontal only
    ExpectStatus(st, false, false);
    ExpectSameCamera(s.GetSceneParameters(), expected);

    st = retStatus();
    s.MouseMove(180, 20, st);  // v = 30
    ExpectStatus(st, true, true, 100, 50);
    expected.Roll(30 * 0.005f);
    ExpectSameCamera(s.GetSceneParameters(), expected);

    // turning takes precedence over rolling
    s.LButtonDown(0, 0, st);
    st = retStatus();
    s.MouseMove(110, 50, st);  // h = 10, v = 0: a turn (a roll would ignore it)
    EXPECT_TRUE(st.redraw);
    expected.Turn(10 * 0.005f, 0.0f);
    ExpectSameCamera(s.GetSceneParameters(), expected);
}

TEST(SceneEndoscopy, MiddleDragPansInBothModes) {
    Scene s;
    Prepare(s, 300, 300);
    s.SetEndoscopy(true);
    SceneParam expected = s.GetSceneParameters();
    retStatus st;
    s.MButtonDown(100, 100, st);
    ExpectStatus(st, false, false);
    s.MouseMove(120, 90, st);
    EXPECT_TRUE(st.redraw);
    EXPECT_FALSE(st.setCursor);
    int const vp[2] = {300, 300};
    expected.MakeReference();
    expected.Translate(20, 10, vp);
    ExpectSameCamera(s.GetSceneParameters(), expected);
}

TEST(SceneEndoscopy, KeyAccelerationAndReset) {
    Scene s;
    Prepare(s, 200, 200);
    s.SetScale(2.0f);
    s.SetEndoscopy(true);
    float t0[3], t1[3];
    retStatus st;

    // 'x' accelerates without moving; then 'w' walks 0.2 forward
    s.GetTranslate(t0);
    s.Keyboard('x', 0, 0, st);
    ExpectStatus(st, false, false);
    s.GetTranslate(t1);
    EXPECT_EQ(t1[2], t0[2]);
    s.Keyboard('w', 0, 0, st);
    EXPECT_TRUE(st.redraw);
    s.GetTranslate(t1);
    EXPECT_NEAR(t1[2] - t0[2], 0.2f * 2.0f, 1e-6f);  // forward: model moves towards +z

    // a key release resets the speed: the next move is 0.1
    s.KeyboardUp('w', 0, 0, st);
    s.GetTranslate(t0);
    s.Keyboard('s', 0, 0, st);
    s.GetTranslate(t1);
    EXPECT_NEAR(t1[2] - t0[2], -0.1f * 2.0f, 1e-6f);
    s.KeyboardUp('s', 0, 0, st);

    // 'a' and 'd' walk along x
    s.GetTranslate(t0);
    s.Keyboard('d', 0, 0, st);
    s.GetTranslate(t1);
    EXPECT_NEAR(t1[0] - t0[0], -0.1f * 2.0f, 1e-6f);
    s.KeyboardUp('d', 0, 0, st);
    s.Keyboard('a', 0, 0, st);
    s.GetTranslate(t0);
    EXPECT_NEAR(t0[0] - t1[0], 0.1f * 2.0f, 1e-6f);
    s.KeyboardUp('a', 0, 0, st);

    // auto-repeat saturates at the maximum speed
    s.SetMoveSensitivity(0.35f, 0.1f);
    for (int i = 0; i < 10; ++i)
        s.Keyboard('q', 0, 0, st);
    s.GetTranslate(t0);
    s.Keyboard('w', 0, 0, st);
    s.GetTranslate(t1);
    EXPECT_NEAR(t1[2] - t0[2], 0.35f * 2.0f, 1e-6f);
    // upper-case letters do not walk
    st = retStatus();
    s.GetTranslate(t0);
    s.Keyboard('W', 0, 0, st);
    ExpectStatus(st, false, false);
    s.GetTranslate(t1);
    EXPECT_EQ(t1[2], t0[2]);
}

TEST(SceneEndoscopy, KeysDoNothingInExamineMode) {
    ProbeScene s;
    Prepare(s, 200, 200);
    SceneParam const start = s.GetSceneParameters();
    retStatus st;
    for (unsigned char k : {'w', 'a', 's', 'd'})
        s.Keyboard(k, 0, 0, st);
    ExpectStatus(st, false, false);
    ExpectSameCamera(s.GetSceneParameters(), start);
    EXPECT_EQ(s.moveSpeed, 0.0f);  // no hidden acceleration either

    // and a release in examine mode leaves an endoscopy speed alone
    s.SetEndoscopy(true);
    s.Keyboard('x', 0, 0, st);
    s.SetEndoscopy(false);
    s.KeyboardUp('x', 0, 0, st);
    EXPECT_FLOAT_EQ(s.moveSpeed, 0.1f);
}

TEST(SceneModeSwitch, FlagsSurviveTheSwitch) {
    ProbeScene s;
    Prepare(s, 201, 101);

    // left pressed in endoscopy mode, released in examine mode: the release
    // clears the examine flag, the turn flag stays and motion keeps turning
    s.SetEndoscopy(true);
    retStatus st;
    s.LButtonDown(0, 0, st);
    s.SetEndoscopy(false);
    s.LButtonUp(0, 0, st);
    EXPECT_TRUE(s.endoscopyTurning);
    EXPECT_FALSE(s.leftButtonDown);
    SceneParam expected = s.GetSceneParameters();
    st = retStatus();
    s.MouseMove(120, 50, st);
    ExpectStatus(st, true, true, 100, 50);
    expected.Turn(20 * 0.005f, 0.0f);
    ExpectSameCamera(s.GetSceneParameters(), expected);

    // pressing and releasing left in endoscopy mode clears it
    s.SetEndoscopy(true);
    s.LButtonDown(0, 0, st);
    s.LButtonUp(0, 0, st);
    EXPECT_FALSE(s.endoscopyTurning);

    // right pressed in examine mode, released in endoscopy mode: the zoom
    // flag stays and motion keeps zooming
    s.SetEndoscopy(false);
    s.RButtonDown(50, 50, st);
    s.SetEndoscopy(true);
    s.RButtonUp(50, 50, st);
    EXPECT_TRUE(s.rightButtonDown);
    EXPECT_FALSE(s.endoscopyRolling);
    float const before = s.GetScale();
    st = retStatus();
    s.MouseMove(50, 40, st);
    EXPECT_TRUE(st.redraw);
    EXPECT_FALSE(st.setCursor);
    EXPECT_NEAR(s.GetScale(), before * std::pow(1.002, 10.0), 1e-6);

    // switching changes nothing else
    SceneParam const cam = s.GetSceneParameters();
    s.SetEndoscopy(false);
    s.SetEndoscopy(true);
    ExpectSameCamera(s.GetSceneParameters(), cam);
    EXPECT_TRUE(s.GetEndoscopy());
}

TEST(SceneRefit, SetFovyTakesEffectAtTheNextRender) {
    ProbeScene s;
    s.Resize(64, 64);
    s.Render();
    EXPECT_EQ(s.size3DCalls, 1);
    EXPECT_EQ(s.contentCalls, 1);
    EXPECT_FALSE(s.size3DModified);
    EXPECT_NEAR(s.GetZTranslateBase(), -4.526067f, 1e-5f);

    // only when the extent is marked modified is it read again
    s.Render();
    EXPECT_EQ(s.size3DCalls, 1);

    s.SetFovy(30.0f);
    EXPECT_EQ(s.GetFovy(), 30.0f);
    EXPECT_NEAR(s.GetZTranslateBase(), -4.526067f, 1e-5f);  // not yet
    s.Render();
    EXPECT_EQ(s.size3DCalls, 2);
    EXPECT_NEAR(s.GetZTranslateBase(), -std::sqrt(3.0) / std::sin(15.0 * M_PI / 180.0), 1e-5);
    // the new projection is in the matrices of the frame
    EXPECT_NEAR(s.GetProjectionMatrix().m[5], 1.0 / std::tan(15.0 * M_PI / 180.0), 1e-5);

    // the refit keeps the model transform
    s.SetScale(1.5f);
    float const t[3] = {0.1f, 0.2f, 0.3f};
    s.SetTranslate(t);
    s.extent[0] = 6.0f;
    s.SetFovy(45.0f);
    s.Render();
    EXPECT_EQ(s.GetScale(), 1.5f);
    float out[3];
    s.GetTranslate(out);
    EXPECT_EQ(out[2], 0.3f);
    EXPECT_NEAR(s.GetZTranslateBase(), -0.5 * std::sqrt(44.0) / std::sin(22.5 * M_PI / 180.0),
                1e-5);
    EXPECT_NEAR(s.GetViewMatrix().m[14], 0.3f + s.GetZTranslateBase(), 1e-5f);
}

TEST(SceneForwarding, MoveToUsesTheVirtualExtent) {
    ProbeScene s;
    s.extent[0] = 4.0f;
    s.extent[1] = 2.0f;
    s.extent[2] = 6.0f;
    s.Resize(100, 100);
    s.Render();
    int const before = s.size3DCalls;
    s.MoveTo(2.0f, 1.0f, 3.0f);  // the box centre
    EXPECT_EQ(s.size3DCalls, before + 1);
    float t[3];
    s.GetTranslate(t);
    EXPECT_NEAR(t[0], 0.0f, 1e-5f);
    EXPECT_NEAR(t[1], 0.0f, 1e-5f);
    EXPECT_NEAR(t[2], -s.GetZTranslateBase(), 1e-5f);

    // Move, Turn and Roll forward to the camera
    SceneParam expected = s.GetSceneParameters();
    s.Move(0.1f, 0.2f, 0.3f);
    s.Turn(0.05f, -0.02f);
    s.Roll(0.1f);
    expected.Move(0.1f, 0.2f, 0.3f);
    expected.Turn(0.05f, -0.02f);
    expected.Roll(0.1f);
    ExpectSameCamera(s.GetSceneParameters(), expected);
}
