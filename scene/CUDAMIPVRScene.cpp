// CUDAMIPVRScene: the MIP view on the GPU kernel library, with the upload deferred to the frame.
#include "CUDAMIPVRScene.h"

#include "CUDAVRImage.h"
#include "MIPRayCasterParam.h"
#include "VolumeSceneCore.h"

CUDAMIPVRScene::CUDAMIPVRScene()
    : Scene(),
      volumeData(nullptr),
      kernelModule(),
      gpuInitialised(false),
      volumeModified(true),
      ownedMipParam(nullptr) {
    ownedMipParam = new MIPRayCasterParam();
    core.Attach(kernelModule);
    kernelModule.mipParam = ownedMipParam;
}

CUDAMIPVRScene::~CUDAMIPVRScene() {
    delete ownedMipParam;
}

void CUDAMIPVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void CUDAMIPVRScene::SetDataModified() {
    double minValue = 0.0;
    double maxValue = 0.0;
    if (!CUDASceneCore::HandOver(kernelModule, volumeData, volumeModified, minValue, maxValue))
        return;
    SetSize3DModified();
    SetWindowToRange(minValue, maxValue);
}

void CUDAMIPVRScene::RenderContent() {
    VolumeSceneCore::ClearFrame(0.0f, 0.0f, 0.0f);
    CUDASceneCore::StartGpu(gpuInitialised);
    if (!quality.enabled) {
        if (CastImage()) kernelModule.image->Render();
        return;
    }
    if (core.CastProgressive(
            kernelModule, volumeData, volumeModified, viewport, GetViewMatrix(),
            GetProjectionMatrix(), quality, 1.0f, [] {},
            [this](float) { kernelModule.RenderWithGridPartition(); }))
        core.DrawProgressive(kernelModule, quality);
}

bool CUDAMIPVRScene::CastImage() {
    return CUDASceneCore::CastImage(kernelModule, volumeData, volumeModified, viewport,
                                    GetViewMatrix(), GetProjectionMatrix(), [] {});
}

void CUDAMIPVRScene::GetSize3D(float* const size) {
    CUDASceneCore::Extent(volumeData, size);
}
