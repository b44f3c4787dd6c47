// IsosurfaceVRScene: volume hand-over and the per-frame cast (surface settings in
// IsosurfaceViewControls, light settings and dragging in LitVolumeScene).
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
    SetIsovalueToRange(minValue, maxValue);
}

// ---- frame ----------------------------------------------------------------------------------

void IsosurfaceVRScene::RenderContent() {
    ClearToBackground();
    if (!quality.enabled) {
        if (CastImage()) kernelModule.image->Render();
        return;
    }
    if (!core.SetUpFrame(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix())) return;
    FollowHeadlight();
    // The surface is found cell by cell: no sample distance to lengthen.
    core.CastProgressive(kernelModule, quality, 1.0f,
                         [this](float) { VolumeSceneCore::RenderKernel(kernelModule, true); });
    core.DrawProgressive(kernelModule, quality);
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
