// CUDAFullVRScene: the full view on the GPU kernel library, with the upload deferred to the frame,
// the tables brought to the library every frame and optional pre-integration.
#include "CUDAFullVRScene.h"

#include "BasicLightParam.h"
#include "CUDALut1D.h"
#include "CUDAPreintegratedLut.h"
#include "CUDATFEmptySpace.h"
#include "CUDAVRImage.h"
#include "RGBATransferFunction1D.h"

CUDAFullVRScene::CUDAFullVRScene()
    : LitVolumeScene(),
      volumeData(nullptr),
      transferFunction(nullptr),
      kernelModule(),
      gpuInitialised(false),
      volumeModified(true),
      preintegration(false),
      ownedSums(nullptr),
      ownedLut(nullptr),
      ownedLight(nullptr),
      ownedSegments(nullptr) {
    ownedSums = new CUDATFEmptySpace();
    ownedLut = new CUDALut1D();
    ownedLight = new BasicLightParam();
    ownedSegments = new CUDAPreintegratedLut();
    core.Attach(kernelModule);
    kernelModule.tfEmptySpace = ownedSums;
    kernelModule.lut = ownedLut;
    kernelModule.lightParam = ownedLight;
    kernelModule.preintegratedLut = ownedSegments;
    BindLight(&kernelModule.lightParam);
}

CUDAFullVRScene::~CUDAFullVRScene() {
    delete ownedSegments;
    delete ownedLight;
    delete ownedLut;
    delete ownedSums;
}

void CUDAFullVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void CUDAFullVRScene::SetDataModified() {
    double minValue = 0.0;
    double maxValue = 0.0;
    if (!CUDASceneCore::HandOver(kernelModule, volumeData, volumeModified, minValue, maxValue))
        return;
    SetSize3DModified();
    SetSampleDistanceFor(*volumeData);
}

void CUDAFullVRScene::SetStdSampleDistance(float distance) {
    kernelModule.stdSampleDistance = distance;
    if (preintegration) UpdateTables();
}

void CUDAFullVRScene::SetPreintegration(bool on) {
    preintegration = on;
    UpdateTables();
}

bool CUDAFullVRScene::UpdateTables() {
    if (transferFunction == nullptr) return false;
    const Lut1D& table = transferFunction->GetLut1D();
    if (preintegration) {
        if (kernelModule.preintegratedLut != nullptr)
            kernelModule.preintegratedLut->GenerateTextures(&table, kernelModule.sampleDistance,
                                                            kernelModule.stdSampleDistance);
    } else if (kernelModule.lut != nullptr) {
        kernelModule.lut->CopyToTexture(&table);
    }
    if (kernelModule.tfEmptySpace != nullptr)
        kernelModule.tfEmptySpace->CalculateTFEmptySpace(&transferFunction->GetLut1D());
    return true;
}

void CUDAFullVRScene::RenderContent() {
    ClearToBackground();
    CUDASceneCore::StartGpu(gpuInitialised);
    if (!quality.enabled) {
        if (CastImage()) kernelModule.image->Render();
        return;
    }
    if (!CUDASceneCore::Upload(kernelModule, volumeData, volumeModified) || !UpdateTables()) return;
    // Coarse frames sample at twice the distance, with the kernel's opacity correction; the
    // pre-integrated table holds one segment length, so with it only the rays are fewer.
    const float coarseDistanceFactor = preintegration ? 1.0f : 2.0f;
    if (core.CastProgressive(
            kernelModule, volumeData, volumeModified, viewport, GetViewMatrix(),
            GetProjectionMatrix(), quality, coarseDistanceFactor, [this] { FollowHeadlight(); },
            [this](float factor) {
                const float distance = kernelModule.sampleDistance;
                kernelModule.sampleDistance = distance * factor;
                CastKernel();
                kernelModule.sampleDistance = distance;
            }))
        core.DrawProgressive(kernelModule, quality);
}

void CUDAFullVRScene::CastKernel() {
    if (preintegration)
        kernelModule.Preintegrated_RenderWithoutGridPartition();
    else
        kernelModule.RenderWithGridPartition();
}

bool CUDAFullVRScene::CastImage() {
    if (!CUDASceneCore::Upload(kernelModule, volumeData, volumeModified) || !UpdateTables())
        return false;
    return CUDASceneCore::CastImage(
        kernelModule, volumeData, volumeModified, viewport, GetViewMatrix(), GetProjectionMatrix(),
        [this] { FollowHeadlight(); }, [this] { CastKernel(); });
}

void CUDAFullVRScene::GetSize3D(float* const size) {
    CUDASceneCore::Extent(volumeData, size);
}
