// MIPVRScene: volume hand-over (rebricking, grid, window, cropping) and the per-frame cast.
#include "MIPVRScene.h"

#include <GL/glew.h>

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
    // The window maps the minimum to grey 0 and the maximum to grey 1.
    if (kernelModule.mipParam != nullptr) {
        kernelModule.mipParam->windowCenter = float((minValue + maxValue) * 0.5);
        kernelModule.mipParam->windowWidth = float(maxValue - minValue);
    }
}

void MIPVRScene::SetWidthCenter(float width, float center) {
    SetWindowWidth(width);
    SetWindowCenter(center);
}

void MIPVRScene::SetWindowWidth(float width) {
    if (kernelModule.mipParam != nullptr) kernelModule.mipParam->windowWidth = width;
}

float MIPVRScene::GetWindowWidth() const {
    return kernelModule.mipParam != nullptr ? kernelModule.mipParam->windowWidth : 0.0f;
}

void MIPVRScene::SetWindowCenter(float center) {
    if (kernelModule.mipParam != nullptr) kernelModule.mipParam->windowCenter = center;
}

float MIPVRScene::GetWindowCenter() const {
    return kernelModule.mipParam != nullptr ? kernelModule.mipParam->windowCenter : 0.0f;
}

void MIPVRScene::SetCroppingBounds(float const* const bounds) {
    VolumeSceneCore::SetCropping(kernelModule.vrSceneParam, bounds);
}

void MIPVRScene::GetCroppingBounds(float* const bounds) {
    VolumeSceneCore::GetCropping(kernelModule.vrSceneParam, bounds);
}

void MIPVRScene::RenderContent() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (CastImage()) kernelModule.image->Render();
}

bool MIPVRScene::CastImage(bool useGridPartition) {
    return core.CastImage(kernelModule, viewport, GetViewMatrix(), GetProjectionMatrix(),
                          useGridPartition);
}

void MIPVRScene::GetSize3D(float* const size) {
    if (!VolumeSceneCore::Extent(kernelModule.volume, volumeData, size)) Scene::GetSize3D(size);
}
