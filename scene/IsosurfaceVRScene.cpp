// IsosurfaceVRScene: volume hand-over, surface settings and the per-frame cast (light settings
// and dragging in LitVolumeScene).
#include "IsosurfaceVRScene.h"

#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "VRImage.h"

IsosurfaceVRScene::IsosurfaceVRScene()
    : LitVolumeScene(),
      volumeData(nullptr),
      kernelModule(),
      ownedLight(nullptr),
      ownedIso(nullptr) {
    ownedLight = new BasicLightParam();
    ownedIso = new IsosurfaceRayCasterParam();
    core.Attach(kernelModule);
    kernelModule.lightParam = ownedLight;
    kernelModule.isoParam = ownedIso;
    BindLight(&kernelModule.lightParam);
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

// ---- surface ----------------------------------------------------------------------------------

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

void IsosurfaceVRScene::SetCroppingBounds(float const* const bounds) {
    VolumeSceneCore::SetCropping(kernelModule.vrSceneParam, bounds);
}

void IsosurfaceVRScene::GetCroppingBounds(float* const bounds) {
    VolumeSceneCore::GetCropping(kernelModule.vrSceneParam, bounds);
}

// ---- frame ----------------------------------------------------------------------------------

void IsosurfaceVRScene::RenderContent() {
    ClearToBackground();
    if (CastImage()) kernelModule.image->Render();
}

bool IsosurfaceVRScene::CastImage(bool useGridPartition) {
    if (!core.SetUpFrame(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix()))
        return false;
    FollowHeadlight();
    VolumeSceneCore::RenderKernel(kernelModule, useGridPartition);
    return true;
}

void IsosurfaceVRScene::GetSize3D(float* const size) {
    if (!VolumeSceneCore::Extent(kernelModule.volume, volumeData, size)) Scene::GetSize3D(size);
}
