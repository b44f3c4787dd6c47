// VolumeSceneCore: the owned kernel objects, the volume hand-over, the frame set-up and clear.
#include "VolumeSceneCore.h"

#include <GL/glew.h>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "VolumeData.h"

namespace {

// Grid cells are dimension^kGridExponent voxels along each axis.
constexpr float kGridExponent = 0.4f;

}  // namespace

VolumeSceneCore::VolumeSceneCore() : volume(nullptr), grid(nullptr), rays(nullptr), image(nullptr) {
    volume = new CoherentVolume();
    grid = new GridPartition();
    image = new VRImage();
    rays = new VRSceneParam();
    // No volume yet: an empty cropping box until the first hand-over sets the whole volume.
    for (float& bound : rays->croppingBounds)
        bound = 0.0f;
}

VolumeSceneCore::~VolumeSceneCore() {
    delete volume;
    delete grid;
    delete image;
    delete rays;
}

bool VolumeSceneCore::HandOverTo(VolumeData* data, CoherentVolume* volume, GridPartition* grid,
                                 VRSceneParam* rays, double& minValue, double& maxValue) {
    if (data == nullptr) return false;
    int dims[3];
    data->GetDimensions(dims);
    data->GetMinMaxValue(minValue, maxValue);
    if (volume != nullptr) {
        volume->SetData(data);
        if (grid != nullptr) grid->Init(volume, kGridExponent);
    }
    // The whole volume, in voxel coordinates; earlier cropping is discarded.
    if (rays != nullptr) {
        for (int axis = 0; axis < 3; ++axis) {
            rays->croppingBounds[2 * axis] = 0.0f;
            rays->croppingBounds[2 * axis + 1] = float(dims[axis] - 1);
        }
    }
    return true;
}

bool VolumeSceneCore::SetUpFrameOf(CoherentVolume* volume, VRSceneParam* rays, VRImage* image,
                                   int const viewport[2], Matrix4x4 const& view,
                                   Matrix4x4 const& projection) {
    if (volume == nullptr || rays == nullptr || image == nullptr) return false;
    int dims[3];
    float spacings[3];
    volume->GetDimensions(dims);
    volume->GetSpacings(spacings);
    // Nothing bricked yet: the background only.
    if (dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) return false;

    // Ray set-up and the window rectangle the volume covers, written into the image.
    rays->CalculateVRSceneParamAndImageRegion(viewport, dims, spacings, view, projection,
                                              &image->windowX, &image->width);
    image->Allocate();
    return true;
}

bool VolumeSceneCore::Extent(CoherentVolume const* volume, VolumeData const* data,
                             float* const size) {
    int dims[3] = {0, 0, 0};
    float spacings[3] = {1.0f, 1.0f, 1.0f};
    if (volume != nullptr) {
        volume->GetDimensions(dims);
        volume->GetSpacings(spacings);
    } else if (data != nullptr) {
        data->GetDimensions(dims);
        data->GetSpacings(spacings);
    } else {
        return false;
    }
    for (int axis = 0; axis < 3; ++axis)
        size[axis] = float(dims[axis]) * spacings[axis];
    return true;
}

void VolumeSceneCore::SetCropping(VRSceneParam* rays, float const* const bounds) {
    if (bounds == nullptr || rays == nullptr) return;
    for (int i = 0; i < 6; ++i)
        rays->croppingBounds[i] = bounds[i];
}

void VolumeSceneCore::GetCropping(VRSceneParam const* rays, float* const bounds) {
    if (bounds == nullptr || rays == nullptr) return;
    for (int i = 0; i < 6; ++i)
        bounds[i] = rays->croppingBounds[i];
}

void VolumeSceneCore::ClearFrame(float r, float g, float b) {
    glClearColor(r, g, b, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}
