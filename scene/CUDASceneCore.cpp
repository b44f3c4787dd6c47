// CUDASceneCore: the GPU scenes' owned objects, start-up, deferred upload and frame set-up.
#include "CUDASceneCore.h"

#include <GL/glew.h>

#include "CUDAGridPartition.h"
#include "CUDAInit.h"
#include "CUDAVRImage.h"
#include "CUDAVolumeTexture.h"
#include "VRSceneParam.h"
#include "VolumeData.h"
#include "VolumeSceneCore.h"

namespace {

// Grid cells are dimension^kGridExponent voxels along each axis, as in the CPU scenes.
constexpr float kGridExponent = 0.4f;

}  // namespace

CUDASceneCore::CUDASceneCore() : texture(nullptr), grid(nullptr), rays(nullptr), image(nullptr) {
    texture = new CUDAVolumeTexture();
    grid = new CUDAGridPartition();
    image = new CUDAVRImage();
    rays = new VRSceneParam();
    // No volume yet: an empty cropping box until the first hand-over sets the whole volume.
    for (float& bound : rays->croppingBounds)
        bound = 0.0f;
}

CUDASceneCore::~CUDASceneCore() {
    delete grid;
    delete image;
    delete rays;
    delete texture;
}

bool CUDASceneCore::HandOverTo(VolumeData* data, VRSceneParam* rays, bool& volumeModified,
                               double& minValue, double& maxValue) {
    if (data == nullptr) return false;
    volumeModified = true;
    return VolumeSceneCore::ReadVolume(data, rays, minValue, maxValue);
}

void CUDASceneCore::StartGpu(bool& gpuInitialised) {
    if (gpuInitialised) return;
    glewInit();
    CUDAInit(true);
    gpuInitialised = true;
}

bool CUDASceneCore::UploadTo(CUDAVolumeTexture* texture, CUDAGridPartition* grid, VolumeData* data,
                             bool& volumeModified) {
    if (data == nullptr) return false;
    if (texture != nullptr && (!texture->HoldsVolume() || volumeModified)) {
        texture->CopyToTexture(data);
        if (grid != nullptr) grid->Init(texture, kGridExponent);
        volumeModified = false;
    }
    return true;
}

bool CUDASceneCore::SetUpFrameOf(VRSceneParam* rays, CUDAVRImage* image, VolumeData* data,
                                 int const viewport[2], Matrix4x4 const& view,
                                 Matrix4x4 const& projection) {
    if (data == nullptr || rays == nullptr || image == nullptr) return false;
    int dims[3];
    float spacings[3];
    data->GetDimensions(dims);
    data->GetSpacings(spacings);
    rays->CalculateVRSceneParamAndImageRegion(viewport, dims, spacings, view, projection,
                                              &image->windowX, &image->width);
    return true;
}

bool CUDASceneCore::BeginCast(CUDAVRImage* image) {
    if (image == nullptr) return false;
    image->Allocate();
    image->PrepareForCUDAOP();
    return true;
}

void CUDASceneCore::EndCast(CUDAVRImage* image) {
    image->ClearAfterCUDAOP();
}

void CUDASceneCore::Extent(VolumeData const* data, float* const size) {
    if (!VolumeSceneCore::Extent(nullptr, data, size)) size[0] = size[1] = size[2] = 0.0f;
}
