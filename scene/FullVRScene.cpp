// FullVRScene: volume and transfer-function hand-over, light settings and drag, and the
// per-frame cast.
#include "FullVRScene.h"

#include <GL/glew.h>

#include <cmath>

#include "BasicLightParam.h"
#include "LightDrag.h"
#include "Lut1D.h"
#include "RGBATransferFunction1D.h"
#include "TFEmptySpace.h"
#include "VRImage.h"
#include "VolumeData.h"

namespace {

// Samples per voxel diagonal.
constexpr double kSamplesPerDiagonal = 9.0;

}  // namespace

FullVRScene::FullVRScene()
    : Scene(),
      volumeData(nullptr),
      transferFunction(nullptr),
      rotateLight(false),
      lightDragging(false),
      ownedSums(nullptr),
      ownedLut(nullptr),
      ownedLight(nullptr) {
    ownedSums = new TFEmptySpace();
    ownedLut = new Lut1D();
    ownedLight = new BasicLightParam();
    core.Attach(kernelModule);
    kernelModule.tfEmptySpace = ownedSums;
    kernelModule.lut = ownedLut;
    kernelModule.lightParam = ownedLight;
}

FullVRScene::~FullVRScene() {
    ownedLut->data = nullptr;  // the transfer function's entries
    delete ownedLut;
    delete ownedSums;
    delete ownedLight;
}

void FullVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void FullVRScene::SetDataModified() {
    if (volumeData == nullptr) return;
    SetSize3DModified();
    double minValue = 0.0;
    double maxValue = 0.0;
    core.HandOver(kernelModule, volumeData, minValue, maxValue);
    // One ninth of a voxel's diagonal, physical units.
    float s[3];
    volumeData->GetSpacings(s);
    kernelModule.sampleDistance =
        float(std::sqrt(double(s[0]) * s[0] + double(s[1]) * s[1] + double(s[2]) * s[2]) /
              kSamplesPerDiagonal);
}

void FullVRScene::SetTransferFunction(RGBATransferFunction1D* function) {
    transferFunction = function;
    // Drop the previous function's entries until the next frame takes the new ones.
    ownedLut->data = nullptr;
    ownedLut->sampleCount = 0;
}

void FullVRScene::SetLightDirection(float x, float y, float z) {
    if (BasicLightParam* light = kernelModule.lightParam) {
        light->lightDirection.x = x;
        light->lightDirection.y = y;
        light->lightDirection.z = z;
    }
}

void FullVRScene::GetLightDirection(float& x, float& y, float& z) const {
    if (BasicLightParam const* light = kernelModule.lightParam) {
        x = light->lightDirection.x;
        y = light->lightDirection.y;
        z = light->lightDirection.z;
    }
}

void FullVRScene::SetLightColor(float r, float g, float b) {
    if (BasicLightParam* light = kernelModule.lightParam) {
        light->lightColor[0] = r;
        light->lightColor[1] = g;
        light->lightColor[2] = b;
    }
}

void FullVRScene::SetLightIntensity(float intensity) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->lightIntensity = intensity;
}

void FullVRScene::SetAmbient(float ambient) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->ambient = ambient;
}

float FullVRScene::GetAmbient() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->ambient : 0.0f;
}

void FullVRScene::SetDiffuse(float diffuse) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->diffuse = diffuse;
}

float FullVRScene::GetDiffuse() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->diffuse : 0.0f;
}

void FullVRScene::SetSpecular(float specular) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->specular = specular;
}

float FullVRScene::GetSpecular() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->specular : 0.0f;
}

void FullVRScene::SetSpecularPower(float power) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->specularPower = power;
}

float FullVRScene::GetSpecularPower() const {
    return kernelModule.lightParam != nullptr ? kernelModule.lightParam->specularPower : 0.0f;
}

void FullVRScene::SetBackGroundColor(float r, float g, float b) {
    if (BasicLightParam* light = kernelModule.lightParam) {
        light->backgroundColor[0] = r;
        light->backgroundColor[1] = g;
        light->backgroundColor[2] = b;
    }
}

void FullVRScene::GetBackGroundColor(float& r, float& g, float& b) const {
    if (BasicLightParam const* light = kernelModule.lightParam) {
        r = light->backgroundColor[0];
        g = light->backgroundColor[1];
        b = light->backgroundColor[2];
    }
}

void FullVRScene::SetIllustrativeShading(bool on) {
    if (kernelModule.lightParam != nullptr) kernelModule.lightParam->illustrativeShading = on;
}

bool FullVRScene::GetIllustrativeShading() const {
    return kernelModule.lightParam != nullptr && kernelModule.lightParam->illustrativeShading;
}

void FullVRScene::SetCroppingBounds(float const* const bounds) {
    VolumeSceneCore::SetCropping(kernelModule.vrSceneParam, bounds);
}

void FullVRScene::GetCroppingBounds(float* const bounds) {
    VolumeSceneCore::GetCropping(kernelModule.vrSceneParam, bounds);
}

void FullVRScene::LButtonDown(int x, int y, retStatus& status) {
    if (!rotateLight) {
        Scene::LButtonDown(x, y, status);
        return;
    }
    pressX = x;
    pressY = y;
    if (kernelModule.lightParam != nullptr)
        lightAtDragStart = kernelModule.lightParam->lightDirection;
    lightDragging = true;
}

void FullVRScene::LButtonUp(int x, int y, retStatus& status) {
    if (!rotateLight) Scene::LButtonUp(x, y, status);
    lightDragging = false;
}

void FullVRScene::MouseMove(int x, int y, retStatus& status) {
    if (!rotateLight) {
        Scene::MouseMove(x, y, status);
        return;
    }
    if (!lightDragging || kernelModule.lightParam == nullptr) return;
    // The whole drag so far turns the direction the drag started with.
    kernelModule.lightParam->lightDirection = DraggedLightDirection(
        lightAtDragStart, pressX, pressY, x, y, rotateRadPerPixel, GetViewMatrix());
    status.redraw = true;
}

void FullVRScene::RenderContent() {
    float background[3] = {0.0f, 0.0f, 0.0f};
    GetBackGroundColor(background[0], background[1], background[2]);
    glClearColor(background[0], background[1], background[2], 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (CastImage()) kernelModule.image->Render();
}

bool FullVRScene::CastImage(bool useGridPartition) {
    if (transferFunction == nullptr) return false;
    // The table rebuilt if it changed, lent to the kernel's table object, and its sums.
    const Lut1D& table = transferFunction->GetLut1D();
    ownedLut->sampleCount = table.sampleCount;
    ownedLut->minPos = table.minPos;
    ownedLut->maxPos = table.maxPos;
    ownedLut->data = table.data;
    if (kernelModule.tfEmptySpace != nullptr)
        kernelModule.tfEmptySpace->CalculateTFEmptySpace(&table);
    if (!core.SetUpFrame(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix()))
        return false;
    // Endoscopy: a headlight along the viewing direction.
    if (endoscopy && kernelModule.lightParam != nullptr)
        kernelModule.lightParam->GlobalLightDir(Vector4(0.0f, 0.0f, -1.0f, 0.0f), GetViewMatrix());
    VolumeSceneCore::RenderKernel(kernelModule, useGridPartition);
    return true;
}

void FullVRScene::GetSize3D(float* const size) {
    if (!VolumeSceneCore::Extent(kernelModule.volume, volumeData, size)) Scene::GetSize3D(size);
}
