// Scene: camera interaction (examine and endoscopy), per-frame matrix set-up
// and the placeholder colour cube.
#include "Scene.h"

#include <GL/glew.h>

#include <cmath>

Scene::Scene()
    : pressX(0),
      pressY(0),
      viewport{0, 0},
      sceneParam(),
      size3DModified(true),
      viewMatrix(),
      projectionMatrix(),
      rotateRadPerPixel(0.005f),
      // ln(1.002) in double, rounded once: std::log(1.002f) would take the
      // logarithm of 1.0019999742 and be 1.3e-5 (relative) too small
      scaleRatePerPixel(static_cast<float>(std::log(1.002))),
      leftButtonDown(false),
      rightButtonDown(false),
      middleButtonDown(false),
      endoscopy(false),
      endoscopyTurning(false),
      endoscopyRolling(false),
      maxMoveSpeed(10.0f),
      moveSpeed(0.0f),
      moveAcceleration(0.1f),
      quality() {
    sceneParam.fovy = 45.0f;
    sceneParam.aspect = 1.0f;
}

Scene::~Scene() = default;

void Scene::Init() {
    glewInit();
}

void Scene::Resize(int width, int height) {
    viewport[0] = width;
    viewport[1] = height;
    sceneParam.aspect = float(width) / float(height);
    glViewport(0, 0, width, height);
}

void Scene::SetInteractiveQuality(bool on) {
    quality.enabled = on;
    // Nothing left to refine: the next frame is a full one unless input follows.
    quality.complete = true;
}

void Scene::SetFrameBudget(float milliseconds) {
    if (milliseconds > 0.0f) quality.budgetMs = milliseconds;
}

void Scene::SetInteracting(bool on) {
    quality.interacting = on;
    if (on) quality.restart = true;
}

void Scene::UpdateCamera() {
    if (size3DModified) {
        // refit the camera distance to the extent; the transform stays
        float size[3];
        GetSize3D(size);
        sceneParam.InitSceneParam(size);
        size3DModified = false;
    }
    sceneParam.CalculateMatrix(&viewMatrix, &projectionMatrix);
}

void Scene::Render() {
    UpdateCamera();
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projectionMatrix);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(viewMatrix);
    RenderContent();
}

void Scene::RenderContent() {
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);

    glBegin(GL_QUADS);
    // z = -1: red
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex3f(-1.0f, -1.0f, -1.0f);
    glVertex3f(1.0f, -1.0f, -1.0f);
    glVertex3f(1.0f, 1.0f, -1.0f);
    glVertex3f(-1.0f, 1.0f, -1.0f);
    // x = -1: green
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex3f(-1.0f, -1.0f, -1.0f);
    glVertex3f(-1.0f, 1.0f, -1.0f);
    glVertex3f(-1.0f, 1.0f, 1.0f);
    glVertex3f(-1.0f, -1.0f, 1.0f);
    // y = -1: blue
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex3f(-1.0f, -1.0f, -1.0f);
    glVertex3f(-1.0f, -1.0f, 1.0f);
    glVertex3f(1.0f, -1.0f, 1.0f);
    glVertex3f(1.0f, -1.0f, -1.0f);
    // z = +1: cyan
    glColor3f(0.0f, 1.0f, 1.0f);
    glVertex3f(1.0f, 1.0f, 1.0f);
    glVertex3f(-1.0f, 1.0f, 1.0f);
    glVertex3f(-1.0f, -1.0f, 1.0f);
    glVertex3f(1.0f, -1.0f, 1.0f);
    // x = +1: magenta
    glColor3f(1.0f, 0.0f, 1.0f);
    glVertex3f(1.0f, 1.0f, 1.0f);
    glVertex3f(1.0f, -1.0f, 1.0f);
    glVertex3f(1.0f, -1.0f, -1.0f);
    glVertex3f(1.0f, 1.0f, -1.0f);
    // y = +1: yellow
    glColor3f(1.0f, 1.0f, 0.0f);
    glVertex3f(1.0f, 1.0f, 1.0f);
    glVertex3f(1.0f, 1.0f, -1.0f);
    glVertex3f(-1.0f, 1.0f, -1.0f);
    glVertex3f(-1.0f, 1.0f, 1.0f);
    glEnd();
}

void Scene::GetSize3D(float* const size) {
    size[0] = 2.0f;
    size[1] = 2.0f;
    size[2] = 2.0f;
}

// ---- accessors ------------------------------------------------------------

void Scene::GetTranslate(float* const translate) const {
    for (int i = 0; i < 3; ++i) {
        translate[i] = sceneParam.translate[i];
    }
}

void Scene::SetTranslate(float const* const translate) {
    for (int i = 0; i < 3; ++i) {
        sceneParam.translate[i] = translate[i];
    }
}

void Scene::SetFovy(float fovy) {
    sceneParam.fovy = fovy;
    size3DModified = true;
}

void Scene::GetViewPort(int* viewportOut) const {
    viewportOut[0] = viewport[0];
    viewportOut[1] = viewport[1];
}

void Scene::SetMoveSensitivity(float maxSpeed, float acceleration) {
    maxMoveSpeed = maxSpeed;
    moveAcceleration = acceleration;
}

void Scene::GetMoveSensitivity(float& maxSpeed, float& acceleration) const {
    maxSpeed = maxMoveSpeed;
    acceleration = moveAcceleration;
}

void Scene::MoveTo(float x, float y, float z) {
    float size[3];
    GetSize3D(size);
    sceneParam.MoveTo(x, y, z, size);
}

void Scene::Move(float dx, float dy, float dz) {
    sceneParam.Move(dx, dy, dz);
}

void Scene::Turn(float h, float v) {
    sceneParam.Turn(h, v);
}

void Scene::Roll(float angle) {
    sceneParam.Roll(angle);
}

// ---- interaction ----------------------------------------------------------

void Scene::StartDrag(int x, int y) {
    sceneParam.MakeReference();
    pressX = x;
    pressY = y;
}

void Scene::Centre(int* cx, int* cy) const {
    // half the size in float, truncated toward zero
    *cx = int(float(viewport[0]) * 0.5f);
    *cy = int(float(viewport[1]) * 0.5f);
}

void Scene::LButtonDown(int x, int y, retStatus& status) {
    if (endoscopy) {
        // turn start: park the pointer at the centre, no reference
        endoscopyTurning = true;
        Centre(&status.cursorX, &status.cursorY);
        status.setCursor = true;
        return;
    }
    StartDrag(x, y);
    leftButtonDown = true;
}

void Scene::LButtonUp(int, int, retStatus&) {
    if (endoscopy) {
        endoscopyTurning = false;
    } else {
        leftButtonDown = false;
    }
}

void Scene::MButtonDown(int x, int y, retStatus&) {
    // a middle drag pans in both modes
    StartDrag(x, y);
    middleButtonDown = true;
}

void Scene::MButtonUp(int, int, retStatus&) {
    middleButtonDown = false;
}

void Scene::RButtonDown(int x, int y, retStatus& status) {
    if (endoscopy) {
        endoscopyRolling = true;
        Centre(&status.cursorX, &status.cursorY);
        status.setCursor = true;
        return;
    }
    StartDrag(x, y);
    rightButtonDown = true;
}

void Scene::RButtonUp(int, int, retStatus&) {
    if (endoscopy) {
        endoscopyRolling = false;
    } else {
        rightButtonDown = false;
    }
}

void Scene::MouseMove(int x, int y, retStatus& status) {
    if (endoscopyTurning) {
        // mouse-look: turn by the pointer's offset from the centre, re-park
        int cx, cy;
        Centre(&cx, &cy);
        int const h = x - cx;
        int const v = cy - y;
        if (h == 0 && v == 0) return;
        sceneParam.Turn(float(h) * rotateRadPerPixel, float(v) * rotateRadPerPixel);
        status.setCursor = true;
        status.cursorX = cx;
        status.redraw = true;
        status.cursorY = cy;
        return;
    }
    if (endoscopyRolling) {
        // roll by the vertical offset only
        int cx, cy;
        Centre(&cx, &cy);
        int const v = cy - y;
        if (v == 0) return;
        sceneParam.Roll(float(v) * rotateRadPerPixel);
        status.setCursor = true;
        status.redraw = true;
        status.cursorX = cx;
        status.cursorY = cy;
        return;
    }

    // examine: one action by priority, from the total displacement since the press
    if (!leftButtonDown && !middleButtonDown && !rightButtonDown) return;
    int const dx = x - pressX;
    int const dy = pressY - y;  // upward positive
    if (dx == 0 && dy == 0) return;
    if (leftButtonDown) {
        sceneParam.Rotate(dx, dy, rotateRadPerPixel);
    } else if (middleButtonDown) {
        sceneParam.Translate(dx, dy, viewport);
    } else {
        sceneParam.Scale(dy, scaleRatePerPixel);
    }
    status.redraw = true;
}

void Scene::Keyboard(unsigned char key, int, int, retStatus& status) {
    if (!endoscopy) return;
    // every key press accelerates, also keys that do not move
    moveSpeed += moveAcceleration;
    if (moveSpeed > maxMoveSpeed) moveSpeed = maxMoveSpeed;
    switch (key) {
        case 'w':
            sceneParam.Move(0.0f, 0.0f, -moveSpeed);
            break;
        case 's':
            sceneParam.Move(0.0f, 0.0f, moveSpeed);
            break;
        case 'a':
            sceneParam.Move(-moveSpeed, 0.0f, 0.0f);
            break;
        case 'd':
            sceneParam.Move(moveSpeed, 0.0f, 0.0f);
            break;
        default:
            return;
    }
    status.redraw = true;
}

void Scene::KeyboardUp(unsigned char, int, int, retStatus&) {
    if (!endoscopy) return;
    moveSpeed = 0.0f;
}
