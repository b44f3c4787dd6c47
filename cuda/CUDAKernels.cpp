// CUDAMIPVR, CUDAIsosurfaceVR and CUDAFullVR: each frame runs on the back end its volume was
// copied to, the CPU kernels on the host, the device kernels on the CUDA back end.
#include <cstring>

#include "BasicLightParam.h"
#include "CUDAFullVR.h"
#include "CUDAGridPartition.h"
#include "CUDAIsosurfaceVR.h"
#include "CUDALut1D.h"
#include "CUDAMIPVR.h"
#include "CUDAPreintegratedLut.h"
#include "CUDATFEmptySpace.h"
#include "CUDAVRImage.h"
#include "CUDAVolumeTexture.h"
#include "DeviceBackEnd.h"
#include "FullVR.h"
#include "IsosurfaceRayCasterParam.h"
#include "IsosurfaceVR.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "kernels/FullRay.h"
#include "kernels/KernelFrame.h"
#include "kernels/PreintegratedRay.h"

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

// Whether the texture, the grid (when the frame walks one) and the image are ready for a device
// frame.
bool DeviceFrameReady(const CUDAVolumeTexture& texture, const CUDAGridPartition* grid,
                      const CUDAVRImage& image) {
    return kestrel_cuda::DeviceActive() && texture.deviceVolume != nullptr &&
           (grid == nullptr || grid->deviceGrid != nullptr) && image.deviceImage != nullptr;
}

// The kernel members that every technique shares, pointed at the host back end's objects (the
// grid null when `withGrid` is false). False when the texture, or the grid asked for, holds
// nothing on the host.
template <class CpuKernel, class GpuKernel>
bool AttachHost(const GpuKernel& gpu, CpuKernel& cpu, bool withGrid = true) {
    if (gpu.volumeTexture->hostVolume == nullptr ||
        (withGrid && gpu.gridPartition->hostGrid == nullptr))
        return false;
    cpu.volume = gpu.volumeTexture->hostVolume;
    cpu.gridPartition = withGrid ? gpu.gridPartition->hostGrid : nullptr;
    cpu.vrSceneParam = gpu.vrSceneParam;
    cpu.image = gpu.image->hostImage;
    return true;
}

// The host back end's pre-integrated frame: the settings and, for jitter, the rays' pixels.
struct PreintegratedFrame {
    FullSettings settings;
    RayStartFractions fractions;
};

// The host back end's pre-integrated tracer: the shared ray routine over the frame's voxel
// access, from the start offset the device gives the ray's pixel.
template <ShadeMode kMode>
struct PreintegratedTracerOf {
    template <class Voxels>
    struct Type {
        Voxels voxels;
        PreintegratedFrame frame;
        Type(const KernelState&, const Voxels& v, const PreintegratedFrame& f)
            : voxels(v), frame(f) {}
        Vector4 operator()(const PixelRay& ray) const {
            const FullSettings& settings = frame.settings;
            const float offset =
                settings.jitter ? frame.fractions(ray) * settings.sampleDistance : 0.f;
            return TracePreintegratedRay<kMode>(voxels, settings, ray, offset);
        }
    };
};

// A full-rendering entry point of CUDAFullVR on either back end: post-classified with or without
// the grid, or pre-integrated.
enum class FullVariant { kWithGrid, kWithoutGrid, kPreintegrated };

void RenderFullVariant(CUDAFullVR& kernel, FullVariant variant) {
    const bool withGrid = variant == FullVariant::kWithGrid;
    const bool preintegrated = variant == FullVariant::kPreintegrated;
    if (!kernel.volumeTexture || !kernel.lightParam || !kernel.vrSceneParam || !kernel.image ||
        !(kernel.sampleDistance > 0.f))
        return;
    if (withGrid && (!kernel.gridPartition || !kernel.tfEmptySpace)) return;
    if (preintegrated ? !kernel.preintegratedLut || kernel.preintegratedLut->table == nullptr
                      : !kernel.lut)
        return;
    if (!kernel.volumeTexture->onDevice) {
        if (!preintegrated) {
            FullVR cpu;
            cpu.tfEmptySpace = withGrid ? kernel.tfEmptySpace->hostSums : nullptr;
            cpu.lut = kernel.lut->hostLut;
            cpu.lightParam = kernel.lightParam;
            cpu.shade = kernel.shade;
            cpu.sampleDistance = kernel.sampleDistance;
            cpu.stdSampleDistance = kernel.stdSampleDistance;
            cpu.jitter = kernel.jitter;
            if (!AttachHost(kernel, cpu, withGrid)) return;
            if (withGrid)
                cpu.RenderWithGridPartition();
            else
                cpu.RenderWithoutGridPartition();
            return;
        }
        FullVR frame;  // the shared members on the host
        if (!AttachHost(kernel, frame, false)) return;
        FullSettings settings = BindFullSettings(nullptr, *kernel.lightParam, kernel.shade,
                                                 kernel.sampleDistance, kernel.stdSampleDistance);
        settings.segments = kestrel_cuda::SegmentLookup(*kernel.preintegratedLut);
        settings.jitter = kernel.jitter;
        const PreintegratedFrame host{settings,
                                      RayStartFractions(kernel.vrSceneParam->windowToPhysical)};
        WithShadeMode(settings.mode, [&](auto mode) {
            RenderKernel<PreintegratedTracerOf<decltype(mode)::value>::template Type>(
                frame.volume, false, nullptr, frame.vrSceneParam, frame.image, host);
        });
        return;
    }
    if (!DeviceFrameReady(*kernel.volumeTexture, withGrid ? kernel.gridPartition : nullptr,
                          *kernel.image))
        return;
    FullSettings settings =
        BindFullSettings(preintegrated ? nullptr : kernel.lut->hostLut, *kernel.lightParam,
                         kernel.shade, kernel.sampleDistance, kernel.stdSampleDistance);
    settings.jitter = kernel.jitter;
    const kestrel_cuda::DeviceRays rays = BindRays(*kernel.vrSceneParam);
    if (preintegrated) {
        FullSettings segments = settings;
        segments.segments = kestrel_cuda::SegmentLookup(*kernel.preintegratedLut);
        kestrel_cuda::CastPreintegrated(kernel.volumeTexture->deviceVolume, rays, segments,
                                        kernel.preintegratedLut->deviceTable,
                                        RegionOf(*kernel.image), kernel.image->deviceImage);
        return;
    }
    FullSettings classified = settings;
    if (withGrid) classified.emptySpace = TFRangeTest(*kernel.tfEmptySpace->hostSums);
    kestrel_cuda::CastFull(kernel.volumeTexture->deviceVolume,
                           withGrid ? kernel.gridPartition->deviceGrid : nullptr, rays, classified,
                           kernel.lut->deviceTable,
                           withGrid ? kernel.tfEmptySpace->deviceSums : nullptr,
                           RegionOf(*kernel.image), kernel.image->deviceImage);
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
    if (!DeviceFrameReady(*volumeTexture, gridPartition, *image)) return;
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
    if (!DeviceFrameReady(*volumeTexture, gridPartition, *image)) return;
    BoundLight light;
    light.Bind(*lightParam);
    kestrel_cuda::CastIsosurface(
        volumeTexture->deviceVolume, gridPartition->deviceGrid, BindRays(*vrSceneParam),
        isoParam->isovalue, isoParam->surfaceColor, light, RegionOf(*image), image->deviceImage);
}

CUDAFullVR::CUDAFullVR()
    : volumeTexture(nullptr),
      tfEmptySpace(nullptr),
      gridPartition(nullptr),
      lut(nullptr),
      lightParam(nullptr),
      vrSceneParam(nullptr),
      image(nullptr),
      preintegratedLut(nullptr),
      shade(true),
      sampleDistance(1.0f),
      stdSampleDistance(1.0f),
      jitter(false) {}

void CUDAFullVR::RenderWithoutGridPartition() {
    RenderFullVariant(*this, FullVariant::kWithoutGrid);
}

void CUDAFullVR::RenderWithGridPartition() {
    RenderFullVariant(*this, FullVariant::kWithGrid);
}

void CUDAFullVR::Preintegrated_RenderWithoutGridPartition() {
    RenderFullVariant(*this, FullVariant::kPreintegrated);
}
