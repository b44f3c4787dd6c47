// FullVRScene: volume and transfer-function hand-over and the per-frame cast.
#include "FullVRScene.h"

#include "BasicLightParam.h"
#include "Lut1D.h"
#include "PreintegratedLut.h"
#include "RGBATransferFunction1D.h"
#include "TFEmptySpace.h"
#include "VRImage.h"
#include "VolumeData.h"

FullVRScene::FullVRScene()
    : LitVolumeScene(),
      volumeData(nullptr),
      transferFunction(nullptr),
      ownedSums(nullptr),
      ownedLut(nullptr),
      ownedLight(nullptr),
      ownedSegments(nullptr) {
    ownedSums = new TFEmptySpace();
    ownedLut = new Lut1D();
    ownedLight = new BasicLightParam();
    ownedSegments = new PreintegratedLut();
    core.Attach(kernelModule);
    kernelModule.tfEmptySpace = ownedSums;
    kernelModule.lut = ownedLut;
    kernelModule.lightParam = ownedLight;
    kernelModule.preintegratedLut = ownedSegments;
    BindLight(&kernelModule.lightParam);
}

FullVRScene::~FullVRScene() {
    ownedLut->data = nullptr;  // the transfer function's entries
    delete ownedLut;
    delete ownedSums;
    delete ownedLight;
    delete ownedSegments;
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
    SetSampleDistanceFor(*volumeData);
}

void FullVRScene::SetTransferFunction(RGBATransferFunction1D* function) {
    transferFunction = function;
    // Drop the previous function's entries until the next frame takes the new ones.
    ownedLut->data = nullptr;
    ownedLut->sampleCount = 0;
}

void FullVRScene::RenderContent() {
    ClearToBackground();
    if (!quality.enabled) {
        if (CastImage()) kernelModule.image->Render();
        return;
    }
    if (!SetUpCast()) return;
    // Coarse frames sample at twice the distance; the kernel corrects the opacities for it. The
    // pre-integrated table holds one segment length, so with it only the rays are fewer.
    const float coarseDistanceFactor = kernelModule.preintegration ? 1.0f : kCoarseDistanceFactor;
    core.CastProgressive(kernelModule, quality, coarseDistanceFactor, [this](float factor) {
        const float distance = kernelModule.sampleDistance;
        kernelModule.sampleDistance = distance * factor;
        VolumeSceneCore::RenderKernel(kernelModule, true);
        kernelModule.sampleDistance = distance;
    });
    core.DrawProgressive(kernelModule, quality);
}

bool FullVRScene::CastImage(bool useGridPartition) {
    if (!SetUpCast()) return false;
    VolumeSceneCore::RenderKernel(kernelModule, useGridPartition);
    return true;
}

bool FullVRScene::SetUpCast() {
    if (transferFunction == nullptr) return false;
    // The table rebuilt if it changed, lent to the kernel's table object, and its sums.
    const Lut1D& table = transferFunction->GetLut1D();
    ownedLut->sampleCount = table.sampleCount;
    ownedLut->minPos = table.minPos;
    ownedLut->maxPos = table.maxPos;
    ownedLut->data = table.data;
    if (kernelModule.tfEmptySpace != nullptr)
        kernelModule.tfEmptySpace->CalculateTFEmptySpace(&table);
    if (kernelModule.preintegration && kernelModule.preintegratedLut != nullptr)
        kernelModule.preintegratedLut->Generate(&table, kernelModule.sampleDistance,
                                                kernelModule.stdSampleDistance);
    if (!core.SetUpFrame(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix()))
        return false;
    FollowHeadlight();
    return true;
}

void FullVRScene::GetSize3D(float* const size) {
    if (!VolumeSceneCore::Extent(kernelModule.volume, volumeData, size)) Scene::GetSize3D(size);
}
