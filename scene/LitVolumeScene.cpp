// LitVolumeScene: the light settings, the light drag and the headlight of the shaded scenes.
#include "LitVolumeScene.h"

#include <GL/glew.h>

#include <cmath>

#include "BasicLightParam.h"
#include "Quaternion.h"

LitVolumeScene::LitVolumeScene()
    : Scene(),
      rotateLight(false),
      lightDragging(false),
      lightAtDragStart(),
      headlight(false),
      lightSlot(nullptr) {}

LitVolumeScene::~LitVolumeScene() = default;

void LitVolumeScene::SetLightDirection(float x, float y, float z) {
    if (BasicLightParam* light = Light()) {
        light->lightDirection.x = x;
        light->lightDirection.y = y;
        light->lightDirection.z = z;
    }
}

void LitVolumeScene::GetLightDirection(float& x, float& y, float& z) const {
    if (BasicLightParam const* light = Light()) {
        x = light->lightDirection.x;
        y = light->lightDirection.y;
        z = light->lightDirection.z;
    }
}

void LitVolumeScene::SetLightColor(float r, float g, float b) {
    if (BasicLightParam* light = Light()) {
        light->lightColor[0] = r;
        light->lightColor[1] = g;
        light->lightColor[2] = b;
    }
}

void LitVolumeScene::SetLightIntensity(float intensity) {
    if (BasicLightParam* light = Light()) light->lightIntensity = intensity;
}

void LitVolumeScene::SetAmbient(float ambient) {
    if (BasicLightParam* light = Light()) light->ambient = ambient;
}

float LitVolumeScene::GetAmbient() const {
    return Light() != nullptr ? Light()->ambient : 0.0f;
}

void LitVolumeScene::SetDiffuse(float diffuse) {
    if (BasicLightParam* light = Light()) light->diffuse = diffuse;
}

float LitVolumeScene::GetDiffuse() const {
    return Light() != nullptr ? Light()->diffuse : 0.0f;
}

void LitVolumeScene::SetSpecular(float specular) {
    if (BasicLightParam* light = Light()) light->specular = specular;
}

float LitVolumeScene::GetSpecular() const {
    return Light() != nullptr ? Light()->specular : 0.0f;
}

void LitVolumeScene::SetSpecularPower(float power) {
    if (BasicLightParam* light = Light()) light->specularPower = power;
}

float LitVolumeScene::GetSpecularPower() const {
    return Light() != nullptr ? Light()->specularPower : 0.0f;
}

void LitVolumeScene::SetBackGroundColor(float r, float g, float b) {
    if (BasicLightParam* light = Light()) {
        light->backgroundColor[0] = r;
        light->backgroundColor[1] = g;
        light->backgroundColor[2] = b;
    }
}

void LitVolumeScene::GetBackGroundColor(float& r, float& g, float& b) const {
    if (BasicLightParam const* light = Light()) {
        r = light->backgroundColor[0];
        g = light->backgroundColor[1];
        b = light->backgroundColor[2];
    }
}

void LitVolumeScene::SetIllustrativeShading(bool on) {
    if (BasicLightParam* light = Light()) light->illustrativeShading = on;
}

bool LitVolumeScene::GetIllustrativeShading() const {
    return Light() != nullptr && Light()->illustrativeShading;
}

void LitVolumeScene::LButtonDown(int x, int y, retStatus& status) {
    if (!rotateLight) {
        Scene::LButtonDown(x, y, status);
        return;
    }
    if (Light() == nullptr) return;
    pressX = x;
    pressY = y;
    lightAtDragStart = Light()->lightDirection;
    lightDragging = true;
    headlight = false;  // the light turned by hand stays where the drag leaves it
}

void LitVolumeScene::LButtonUp(int x, int y, retStatus& status) {
    if (!rotateLight) Scene::LButtonUp(x, y, status);
    lightDragging = false;
}

void LitVolumeScene::MouseMove(int x, int y, retStatus& status) {
    if (!rotateLight) {
        Scene::MouseMove(x, y, status);
        return;
    }
    if (!lightDragging || Light() == nullptr) return;
    // The drag so far, upward positive; the press stays fixed, so each move turns the
    // drag-start direction by the whole drag.
    const float dx = float(x - pressX);
    const float dy = float(pressY - y);
    // Axis (0, 0, 1) x (dx, dy, 0) = (-dy, dx, 0): in the screen plane, perpendicular to the drag.
    const float h = std::sqrt(dx * dx + dy * dy);
    Matrix4x4 rotation;  // identity for a move back to the press
    if (h > 0.0f) rotation = Quaternion(-dy / h, dx / h, 0.0f, h * rotateRadPerPixel).ToMatrix();
    // Into eye space, turn, and back: light = V^-1 R V lightAtDragStart.
    Matrix4x4 inverseView = viewMatrix;
    inverseView.Inverse();
    Light()->lightDirection = (inverseView * rotation) * viewMatrix * lightAtDragStart;
    status.redraw = true;
}

void LitVolumeScene::ClearToBackground() {
    float background[3] = {0.0f, 0.0f, 0.0f};
    GetBackGroundColor(background[0], background[1], background[2]);
    glClearColor(background[0], background[1], background[2], 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void LitVolumeScene::FollowHeadlight() {
    // A headlight travelling along the viewing direction, whatever was set before.
    if ((endoscopy || headlight) && Light() != nullptr)
        Light()->GlobalLightDir(Vector4(0.0f, 0.0f, -1.0f, 0.0f), viewMatrix);
}
