// MIPVRScene: volume hand-over (rebricking, grid, window, cropping) and the per-frame cast.
#include "MIPVRScene.h"

#include <GL/glew.h>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "MIPRayCasterParam.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "VolumeData.h"

namespace {

// Grid cells are dimension^kGridExponent voxels along each axis.
constexpr float kGridExponent = 0.4f;

}  // namespace

MIPVRScene::MIPVRScene()
    : Scene(),
      volumeData(nullptr),
      ownedVolume(nullptr),
      ownedMipParam(nullptr),
      ownedGrid(nullptr),
      ownedImage(nullptr),
      ownedSceneParam(nullptr) {
    ownedVolume = new CoherentVolume();
    ownedMipParam = new MIPRayCasterParam();
    ownedGrid = new GridPartition();
    ownedImage = new VRImage();
    ownedSceneParam = new VRSceneParam();
    // No volume yet: an empty cropping box until SetData sets the whole volume.
    for (float& bound : ownedSceneParam->croppingBounds)
        bound = 0.0f;

    kernelModule.volume = ownedVolume;
    kernelModule.mipParam = ownedMipParam;
    kernelModule.gridPartition = ownedGrid;
    kernelModule.image = ownedImage;
    kernelModule.vrSceneParam = ownedSceneParam;
}

MIPVRScene::~MIPVRScene() {
    delete ownedVolume;
    delete ownedGrid;
    delete ownedImage;
    delete ownedSceneParam;
    delete ownedMipParam;
}

void MIPVRScene::SetData(VolumeData* volume) {
    volumeData = volume;
    SetDataModified();
}

void MIPVRScene::SetDataModified() {
    if (volumeData == nullptr) return;
    SetSize3DModified();

    int dims[3];
    volumeData->GetDimensions(dims);
    double minValue = 0.0;
    double maxValue = 0.0;
    volumeData->GetMinMaxValue(minValue, maxValue);

    // The window maps the minimum to grey 0 and the maximum to grey 1.
    if (kernelModule.mipParam != nullptr) {
        kernelModule.mipParam->windowCenter = float((minValue + maxValue) * 0.5);
        kernelModule.mipParam->windowWidth = float(maxValue - minValue);
    }
    if (kernelModule.volume != nullptr) {
        kernelModule.volume->SetData(volumeData);
        if (kernelModule.gridPartition != nullptr) {
            kernelModule.gridPartition->Init(kernelModule.volume, kGridExponent);
        }
    }
    // The whole volume, in voxel coordinates; earlier cropping is discarded.
    if (kernelModule.vrSceneParam != nullptr) {
        float* bounds = kernelModule.vrSceneParam->croppingBounds;
        for (int axis = 0; axis < 3; ++axis) {
            bounds[2 * axis] = 0.0f;
            bounds[2 * axis + 1] = float(dims[axis] - 1);
        }
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
    if (bounds == nullptr || kernelModule.vrSceneParam == nullptr) return;
    for (int i = 0; i < 6; ++i)
        kernelModule.vrSceneParam->croppingBounds[i] = bounds[i];
}

void MIPVRScene::GetCroppingBounds(float* const bounds) {
    if (bounds == nullptr || kernelModule.vrSceneParam == nullptr) return;
    for (int i = 0; i < 6; ++i)
        bounds[i] = kernelModule.vrSceneParam->croppingBounds[i];
}

void MIPVRScene::RenderContent() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (CastImage()) kernelModule.image->Render();
}

bool MIPVRScene::CastImage(bool useGridPartition) {
    CoherentVolume* volume = kernelModule.volume;
    VRSceneParam* rays = kernelModule.vrSceneParam;
    VRImage* image = kernelModule.image;
    if (volume == nullptr || rays == nullptr || image == nullptr) return false;
    int dims[3];
    float spacings[3];
    volume->GetDimensions(dims);
    volume->GetSpacings(spacings);
    // Nothing bricked yet: the background only.
    if (dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) return false;

    // Ray set-up and the window rectangle the volume covers, written into the image.
    rays->CalculateVRSceneParamAndImageRegion(viewport, dims, spacings, GetViewMatrix(),
                                              GetProjectionMatrix(), &image->windowX,
                                              &image->width);
    image->Allocate();
    if (useGridPartition) {
        kernelModule.RenderWithGridPartition();
    } else {
        kernelModule.RenderWithoutGridPartition();
    }
    return true;
}

void MIPVRScene::GetSize3D(float* const size) {
    int dims[3] = {0, 0, 0};
    float spacings[3] = {1.0f, 1.0f, 1.0f};
    if (kernelModule.volume != nullptr) {
        kernelModule.volume->GetDimensions(dims);
        kernelModule.volume->GetSpacings(spacings);
    } else if (volumeData != nullptr) {
        volumeData->GetDimensions(dims);
        volumeData->GetSpacings(spacings);
    } else {
        Scene::GetSize3D(size);
        return;
    }
    for (int axis = 0; axis < 3; ++axis)
        size[axis] = float(dims[axis]) * spacings[axis];
}
