// The plumbing the GPU scenes share: the KestrelCUDA objects their kernel reads, the start-up on
// the first frame, the upload deferred to the next frame after a volume change, and the GL-free
// part of a frame. Held by value by CUDAMIPVRScene, CUDAIsosurfaceVRScene and CUDAFullVRScene.
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "ProgressiveCast.h"

class CUDAGridPartition;
class CUDAVRImage;
class CUDAVolumeTexture;
class VRSceneParam;
class VolumeData;

// Owns the four objects every GPU kernel points at: the volume texture, its min/max grid, the ray
// set-up (with the cropping box) and the output image. As with VolumeSceneCore, the scene points
// its kernel at them once (Attach) and then works through the kernel's pointers; the core deletes
// only what it allocated.
//
// The kernel type is CUDAMIPVR, CUDAIsosurfaceVR or CUDAFullVR: public pointers `volumeTexture`,
// `gridPartition`, `vrSceneParam`, `image` and RenderWithGridPartition(). Null pointers are
// tolerated: the operations then do nothing and report false.
//
// Not copyable (it owns raw pointers). GL thread only; not thread-safe.
class KESTREL_SCENE_API CUDASceneCore {
public:
    /// Allocates the volume texture, the grid, the image and the ray set-up; the cropping box is
    /// empty (all 0) until the first hand-over.
    CUDASceneCore();
    ~CUDASceneCore();
    CUDASceneCore(CUDASceneCore const&) = delete;
    CUDASceneCore& operator=(CUDASceneCore const&) = delete;

    /// Points the kernel's volume texture, grid, ray set-up and image at the owned objects.
    template <class Kernel>
    void Attach(Kernel& kernel) const {
        kernel.volumeTexture = texture;
        kernel.gridPartition = grid;
        kernel.vrSceneParam = rays;
        kernel.image = image;
    }

    /// A new or modified host volume: marks it for upload (volumeModified), reads its value
    /// range (double precision) and resets the kernel's cropping box to the whole volume. False,
    /// changing nothing, for a null volume. The caller refits its camera.
    template <class Kernel>
    static bool HandOver(Kernel& kernel, VolumeData* data, bool& volumeModified, double& minValue,
                         double& maxValue);

    /// Once per scene, on its first frame (needs the host's GL context): glewInit, then
    /// CUDAInit(true), and gpuInitialised becomes true.
    static void StartGpu(bool& gpuInitialised);

    /// The GL-free part of a frame; false (nothing done) without a volume:
    ///  1. when the texture holds no volume yet or volumeModified is set, the volume is copied to
    ///     the texture, the grid rebuilt (cells of dimension^0.4 voxels), volumeModified cleared;
    ///  2. the rays and the window rectangle the volume covers for the viewport (width, height)
    ///     and camera matrices, written into the kernel's ray set-up and image;
    ///  3. beforeCast() (the shaded views' endoscopy headlight);
    ///  4. the image allocated and prepared, the kernel's RenderWithGridPartition (or render(),
    ///     when given), the image brought back.
    template <class Kernel, class BeforeCast>
    static bool CastImage(Kernel& kernel, VolumeData* data, bool& volumeModified,
                          int const viewport[2], Matrix4x4 const& view, Matrix4x4 const& projection,
                          BeforeCast&& beforeCast) {
        return CastImage(kernel, data, volumeModified, viewport, view, projection, beforeCast,
                         [&kernel] { kernel.RenderWithGridPartition(); });
    }
    template <class Kernel, class BeforeCast, class Render>
    static bool CastImage(Kernel& kernel, VolumeData* data, bool& volumeModified,
                          int const viewport[2], Matrix4x4 const& view, Matrix4x4 const& projection,
                          BeforeCast&& beforeCast, Render&& render) {
        if (!Upload(kernel, data, volumeModified) ||
            !SetUpFrameOf(kernel.vrSceneParam, kernel.image, data, viewport, view, projection))
            return false;
        beforeCast();
        if (!BeginCast(kernel.image)) return true;
        render();
        EndCast(kernel.image);
        return true;
    }

    /// CastImage as an interactive-quality frame: steps 1 to 3, then the cast `quality` calls
    /// for (ProgressiveCast::Frame), each one render(distanceFactor) between the image's
    /// allocation and hand-over calls. False (nothing done) without a volume.
    template <class Kernel, class BeforeCast, class Render>
    bool CastProgressive(Kernel& kernel, VolumeData* data, bool& volumeModified,
                         int const viewport[2], Matrix4x4 const& view, Matrix4x4 const& projection,
                         FrameQuality& quality, float coarseDistanceFactor, BeforeCast&& beforeCast,
                         Render&& render) {
        if (!Upload(kernel, data, volumeModified) ||
            !SetUpFrameOf(kernel.vrSceneParam, kernel.image, data, viewport, view, projection))
            return false;
        beforeCast();
        progressive.Frame(quality, *kernel.vrSceneParam, *kernel.image, coarseDistanceFactor,
                          [&](float distanceFactor) -> float const* {
                              if (!BeginCast(kernel.image)) return nullptr;
                              render(distanceFactor);
                              EndCast(kernel.image);
                              return kernel.image->pixels;
                          });
        return true;
    }

    /// Draws the frame CastProgressive cast (ProgressiveCast::Draw).
    template <class Kernel>
    void DrawProgressive(Kernel& kernel, FrameQuality& quality) {
        progressive.Draw(quality, *kernel.image);
    }

    /// Step 1 of CastImage alone (a scene that prepares more before the rays, such as the full
    /// view's tables); false without a volume.
    template <class Kernel>
    static bool Upload(Kernel& kernel, VolumeData* data, bool& volumeModified) {
        return UploadTo(kernel.volumeTexture, kernel.gridPartition, data, volumeModified);
    }

    /// The physical extent dimensions x spacings of the host's volume; (0, 0, 0) without one.
    static void Extent(VolumeData const* data, float* const size);

private:
    static bool HandOverTo(VolumeData* data, VRSceneParam* rays, bool& volumeModified,
                           double& minValue, double& maxValue);
    static bool UploadTo(CUDAVolumeTexture* texture, CUDAGridPartition* grid, VolumeData* data,
                         bool& volumeModified);
    static bool SetUpFrameOf(VRSceneParam* rays, CUDAVRImage* image, VolumeData* data,
                             int const viewport[2], Matrix4x4 const& view,
                             Matrix4x4 const& projection);
    static bool BeginCast(CUDAVRImage* image);
    static void EndCast(CUDAVRImage* image);

    CUDAVolumeTexture* texture;   ///< the volume on the active back end; owned
    CUDAGridPartition* grid;      ///< min/max grid of `texture`; owned
    VRSceneParam* rays;           ///< ray set-up and cropping box; owned
    CUDAVRImage* image;           ///< the frame's image; owned
    ProgressiveCast progressive;  ///< coarse frames and their refinement
};

template <class Kernel>
bool CUDASceneCore::HandOver(Kernel& kernel, VolumeData* data, bool& volumeModified,
                             double& minValue, double& maxValue) {
    return HandOverTo(data, kernel.vrSceneParam, volumeModified, minValue, maxValue);
}
