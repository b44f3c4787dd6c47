// IsosurfaceVRScene: volume hand-over, light and material settings, light dragging and the
// per-frame cast.
#include "IsosurfaceVRScene.h"

#include <GL/glew.h>

#include <cmath>

#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "Quaternion.h"
#include "VRImage.h"

IsosurfaceVRScene::IsosurfaceVRScene()
    : Scene(),
      volumeData(nullptr),
      kernelModule(),
      rotateLight(false),
      lightDragging(false),
      lightAtDragStart(),
      ownedLight(nullptr),
      ownedIso(nullptr) {
    ownedLight = new BasicLightParam();
    ownedIso = new IsosurfaceRayCasterParam();
    core.Attach(kernelModule);
    kernelModule.lightParam = ownedLight;
    kernelModule.isoParam = ownedIso;
}

IsosurfaceVRScene::~IsosurfaceVRScene() {
    delete ownedIso;
    delete ownedLight;
}

void IsosurfaceVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void IsosurfaceVRScene::SetDataModified() {
    if (volumeData == nullptr) return;
    SetSize3DModified();
    double minValue = 0.0;
    double maxValue = 0.0;
    core.HandOver(kernelModule, volumeData, minValue, maxValue);
    // The surface starts halfway through the value range.
    if (kernelModule.isoParam != nullptr)
        kernelModule.isoParam->isovalue = float((minValue + maxValue) * 0.5);
}

// ---- surface, light and material ----------------------------------------------------------

void IsosurfaceVRScene::SetIsovalue(float isovalue) {
    if (kernelModule.isoParam != nullptr) kernelModule.isoParam->isovalue = isovalue;
}

float IsosurfaceVRScene::GetIsovalue() const {
    return kernelModule.isoParam != nullptr ? kernelModule.isoParam->isovalue : 0.0f;
}

void IsosurfaceVRScene::SetSurfaceColor(float r, float g, float b) {
    if (kernelModule.isoParam == nullptr) return;
    float* colour = kernelModule.isoParam->surfaceColor;
    colour[0] = r;
    colour[1] = g;
    colour[2] = b;
}

void IsosurfaceVRScene::GetSurfaceColor(float& r, float& g, float& b) const {
    if (kernelModule.isoParam == nullptr) return;
    const float* colour = kernelModule.isoParam->surfaceColor;
    r = colour[0];
    g = colour[1];
    b = colour[2];
}

void IsosurfaceVRScene::SetLightDirection(float x, float y, float z) {
    if (kernelModule.lightParam == nullptr) return;
    // w stays as it is; the length is kept on purpose (it scales the diffuse term).
    Vector4& direction = kernelModule.lightParam->lightDirection;
    direction.x = x;
    direction.y = y;
    direction.z = z;
}

void IsosurfaceVRScene::SetLightColor(float r, float g, float b) {
    if (kernelModule.lightParam == nullptr) return;
    float* colour = kernelModule.lightParam->lightColor;
    colour[0] = r;
    colour[1] = g;
    colour[2] = b;
}

void IsosurfaceVRScene::SetLightIntensity(float intensity) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->lightIntensity = intensity;
}

void IsosurfaceVRScene::SetAmbient(float ambient) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->ambient = ambient;
}

float IsosurfaceVRScene::GetAmbient() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->ambient : 0.0f;
}

void IsosurfaceVRScene::SetDiffuse(float diffuse) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->diffuse = diffuse;
}

float IsosurfaceVRScene::GetDiffuse() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->diffuse : 0.0f;
}

void IsosurfaceVRScene::SetSpecular(float specular) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->specular = specular;
}

float IsosurfaceVRScene::GetSpecular() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->specular : 0.0f;
}

void IsosurfaceVRScene::SetSpecularPower(float power) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->specularPower = power;
}

float IsosurfaceVRScene::GetSpecularPower() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->specularPower : 0.0f;
}

void IsosurfaceVRScene::SetBackGroundColor(float r, float g, float b) {
    if (kernelModule.lightParam == nullptr) return;
    float* colour = kernelModule.lightParam->backgroundColor;
    colour[0] = r;
    colour[1] = g;
    colour[2] = b;
}

void IsosurfaceVRScene::GetBackGroundColor(float& r, float& g, float& b) const {
    if (kernelModule.lightParam == nullptr) return;
    const float* colour = kernelModule.lightParam->backgroundColor;
    r = colour[0];
    g = colour[1];
    b = colour[2];
}

void IsosurfaceVRScene::SetIllustrativeShading(bool on) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->illustrativeShading = on;
}

bool IsosurfaceVRScene::GetIllustrativeShading() const {
    return kernelModule.lightParam != nullptr && kernelModule.lightParam->illustrativeShading;
}

void IsosurfaceVRScene::SetCroppingBounds(float const* const bounds) {
    VolumeSceneCore::SetCropping(kernelModule.vrSceneParam, bounds);
}

void IsosurfaceVRScene::GetCroppingBounds(float* const bounds) {
    VolumeSceneCore::GetCropping(kernelModule.vrSceneParam, bounds);
}

// ---- light dragging -------------------------------------------------------------------------

void IsosurfaceVRScene::LButtonDown(int x, int y, retStatus& status) {
    if (!rotateLight) {
        Scene::LButtonDown(x, y, status);
        return;
    }
    if (kernelModule.lightParam == nullptr) return;
    pressX = x;
    pressY = y;
    lightAtDragStart = kernelModule.lightParam->lightDirection;
    lightDragging = true;
}

void IsosurfaceVRScene::LButtonUp(int x, int y, retStatus& status) {
    if (!rotateLight) Scene::LButtonUp(x, y, status);
    lightDragging = false;
}

void IsosurfaceVRScene::MouseMove(int x, int y, retStatus& status) {
    if (!rotateLight) {
        Scene::MouseMove(x, y, status);
        return;
    }
    if (!lightDragging || kernelModule.lightParam == nullptr) return;
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
    kernelModule.lightParam->lightDirection =
        (inverseView * rotation) * viewMatrix * lightAtDragStart;
    status.redraw = true;
}

// ---- frame ----------------------------------------------------------------------------------

void IsosurfaceVRScene::RenderContent() {
    float background[3] = {0.0f, 0.0f, 0.0f};
    GetBackGroundColor(background[0], background[1], background[2]);
    glClearColor(background[0], background[1], background[2], 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (CastImage()) kernelModule.image->Render();
}

bool IsosurfaceVRScene::CastImage(bool useGridPartition) {
    if (!core.SetUpFrame(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix()))
        return false;
    // Endoscopy: a headlight travelling along the viewing direction, whatever was set before.
    if (endoscopy && kernelModule.lightParam != nullptr)
        kernelModule.lightParam->GlobalLightDir(Vector4(0.0f, 0.0f, -1.0f, 0.0f), viewMatrix);
    VolumeSceneCore::RenderKernel(kernelModule, useGridPartition);
    return true;
}

void IsosurfaceVRScene::GetSize3D(float* const size) {
    if (!VolumeSceneCore::Extent(kernelModule.volume, volumeData, size)) Scene::GetSize3D(size);
}
