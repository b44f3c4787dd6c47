// CUDAIsosurfaceVRScene: the isosurface view on the GPU kernel library, with the upload deferred
// to the frame (the surface settings are IsosurfaceViewControls', the light LitVolumeScene's).
#include "CUDAIsosurfaceVRScene.h"

#include "BasicLightParam.h"
#include "CUDAVRImage.h"
#include "IsosurfaceRayCasterParam.h"
#include "VolumeSceneCore.h"

CUDAIsosurfaceVRScene::CUDAIsosurfaceVRScene()
    : LitVolumeScene(),
      volumeData(nullptr),
      kernelModule(),
      gpuInitialised(false),
      volumeModified(true),
      ownedLight(nullptr),
      ownedIso(nullptr) {
    ownedLight = new BasicLightParam();
    ownedIso = new IsosurfaceRayCasterParam();
    core.Attach(kernelModule);
    kernelModule.lightParam = ownedLight;
    kernelModule.isoParam = ownedIso;
    BindLight(&kernelModule.lightParam);
}

CUDAIsosurfaceVRScene::~CUDAIsosurfaceVRScene() {
    delete ownedIso;
    delete ownedLight;
}

void CUDAIsosurfaceVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void CUDAIsosurfaceVRScene::SetDataModified() {
    double minValue = 0.0;
    double maxValue = 0.0;
    if (!CUDASceneCore::HandOver(kernelModule, volumeData, volumeModified, minValue, maxValue))
        return;
    SetSize3DModified();
    SetIsovalueToRange(minValue, maxValue);
}

void CUDAIsosurfaceVRScene::RenderContent() {
    ClearToBackground();
    CUDASceneCore::StartGpu(gpuInitialised);
    if (!quality.enabled) {
        if (CastImage()) kernelModule.image->Render();
        return;
    }
    if (core.CastProgressive(
            kernelModule, volumeData, volumeModified, viewport, GetViewMatrix(),
            GetProjectionMatrix(), quality, 1.0f, [this] { FollowHeadlight(); },
            [this](float) { kernelModule.RenderWithGridPartition(); }))
        core.DrawProgressive(kernelModule, quality);
}

bool CUDAIsosurfaceVRScene::CastImage() {
    return CUDASceneCore::CastImage(kernelModule, volumeData, volumeModified, viewport,
                                    GetViewMatrix(), GetProjectionMatrix(),
                                    [this] { FollowHeadlight(); });
}

void CUDAIsosurfaceVRScene::GetSize3D(float* const size) {
    CUDASceneCore::Extent(volumeData, size);
}
