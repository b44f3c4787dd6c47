// CUDAMIPVR and CUDAIsosurfaceVR: each frame runs on the back end its volume was copied to, the
// CPU kernels on the host, the device kernels on the CUDA back end.
#include <cstring>

#include "BasicLightParam.h"
#include "CUDAGridPartition.h"
#include "CUDAIsosurfaceVR.h"
#include "CUDAMIPVR.h"
#include "CUDAVRImage.h"
#include "CUDAVolumeTexture.h"
#include "DeviceBackEnd.h"
#include "IsosurfaceRayCasterParam.h"
#include "IsosurfaceVR.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "kernels/KernelFrame.h"

namespace {

// The frame's rays for the device, bound by the CPU kernels' own KernelState so that both back
// ends start every ray from the same floats.
kestrel_cuda::DeviceRays BindRays(const VRSceneParam& param) {
    KernelState state;
    state.BindSceneParam(param);
    kestrel_cuda::DeviceRays rays;
    std::memcpy(rays.windowToPhysical, static_cast<const float*>(state.windowToPhysical),
                sizeof rays.windowToPhysical);
    std::memcpy(rays.physicalToVoxel, static_cast<const float*>(state.physicalToVoxel),
                sizeof rays.physicalToVoxel);
    std::memcpy(rays.croppingBounds, state.croppingBounds, sizeof rays.croppingBounds);
    rays.flatBox = state.flatBox ? 1 : 0;
    std::memcpy(rays.eye, static_cast<const float*>(state.eye), sizeof rays.eye);
    std::memcpy(rays.eyeVoxel, static_cast<const float*>(state.eyeVoxel), sizeof rays.eyeVoxel);
    return rays;
}

kestrel_cuda::DeviceRegion RegionOf(const CUDAVRImage& image) {
    return kestrel_cuda::DeviceRegion{image.windowX, image.windowY, image.width, image.height};
}

// Whether the texture, grid and image are ready for a device frame.
bool DeviceFrameReady(const CUDAVolumeTexture& texture, const CUDAGridPartition& grid,
                      const CUDAVRImage& image) {
    return kestrel_cuda::DeviceActive() && texture.deviceVolume != nullptr &&
           grid.deviceGrid != nullptr && image.deviceImage != nullptr;
}

// The kernel members that both techniques share, pointed at the host back end's objects. False
// when the texture or grid holds nothing on the host.
template <class CpuKernel, class GpuKernel>
bool AttachHost(const GpuKernel& gpu, CpuKernel& cpu) {
    if (gpu.volumeTexture->hostVolume == nullptr || gpu.gridPartition->hostGrid == nullptr)
        return false;
    cpu.volume = gpu.volumeTexture->hostVolume;
    cpu.gridPartition = gpu.gridPartition->hostGrid;
    cpu.vrSceneParam = gpu.vrSceneParam;
    cpu.image = gpu.image->hostImage;
    return true;
}

}  // namespace

CUDAMIPVR::CUDAMIPVR()
    : volumeTexture(nullptr),
      gridPartition(nullptr),
      mipParam(nullptr),
      vrSceneParam(nullptr),
      image(nullptr) {}

void CUDAMIPVR::RenderWithGridPartition() {
    if (!volumeTexture || !gridPartition || !mipParam || !vrSceneParam || !image) return;
    if (!volumeTexture->onDevice) {
        MIPVR cpu;
        cpu.mipParam = mipParam;
        if (AttachHost(*this, cpu)) cpu.RenderWithGridPartition();
        return;
    }
    if (!DeviceFrameReady(*volumeTexture, *gridPartition, *image)) return;
    // The grey mapping as MIPVR binds it: grey = maximum / width + (0.5 - center / width).
    const float scale = 1.0f / mipParam->windowWidth;
    const float offset = float(0.5 - double(mipParam->windowCenter / mipParam->windowWidth));
    kestrel_cuda::CastMIP(volumeTexture->deviceVolume, gridPartition->deviceGrid,
                          BindRays(*vrSceneParam), scale, offset, RegionOf(*image),
                          image->deviceImage);
}

CUDAIsosurfaceVR::CUDAIsosurfaceVR()
    : volumeTexture(nullptr),
      gridPartition(nullptr),
      lightParam(nullptr),
      isoParam(nullptr),
      vrSceneParam(nullptr),
      image(nullptr) {}

void CUDAIsosurfaceVR::RenderWithGridPartition() {
    if (!volumeTexture || !gridPartition || !lightParam || !isoParam || !vrSceneParam || !image)
        return;
    if (!volumeTexture->onDevice) {
        IsosurfaceVR cpu;
        cpu.lightParam = lightParam;
        cpu.isoParam = isoParam;
        if (AttachHost(*this, cpu)) cpu.RenderWithGridPartition();
        return;
    }
    if (!DeviceFrameReady(*volumeTexture, *gridPartition, *image)) return;
    BoundLight light;
    light.Bind(*lightParam);
    kestrel_cuda::CastIsosurface(
        volumeTexture->deviceVolume, gridPartition->deviceGrid, BindRays(*vrSceneParam),
        isoParam->isovalue, isoParam->surfaceColor, light, RegionOf(*image), image->deviceImage);
}
