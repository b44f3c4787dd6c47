// MIPVRScene: volume hand-over (rebricking, grid, window, cropping) and the per-frame cast.
#include "MIPVRScene.h"

#include "MIPRayCasterParam.h"
#include "VRImage.h"

MIPVRScene::MIPVRScene() : Scene(), volumeData(nullptr), ownedMipParam(nullptr) {
    ownedMipParam = new MIPRayCasterParam();
    core.Attach(kernelModule);
    kernelModule.mipParam = ownedMipParam;
}

MIPVRScene::~MIPVRScene() {
    delete ownedMipParam;
}

void MIPVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void MIPVRScene::SetDataModified() {
    if (volumeData == nullptr) return;
    SetSize3DModified();
    double minValue = 0.0;
    double maxValue = 0.0;
    core.HandOver(kernelModule, volumeData, minValue, maxValue);
    SetWindowToRange(minValue, maxValue);
}

void MIPVRScene::RenderContent() {
    VolumeSceneCore::ClearFrame(0.0f, 0.0f, 0.0f);
    if (!quality.enabled) {
        if (CastImage()) kernelModule.image->Render();
        return;
    }
    if (!core.SetUpFrame(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix())) return;
    // The cell walk finds the exact maximum: no sample distance to lengthen.
    core.CastProgressive(kernelModule, quality, 1.0f,
                         [this](float) { VolumeSceneCore::RenderKernel(kernelModule, true); });
    core.DrawProgressive(kernelModule, quality);
}

bool MIPVRScene::CastImage(bool useGridPartition) {
    return core.CastImage(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix(),
                          useGridPartition);
}

void MIPVRScene::GetSize3D(float* const size) {
    if (!VolumeSceneCore::Extent(kernelModule.volume, volumeData, size)) Scene::GetSize3D(size);
}
