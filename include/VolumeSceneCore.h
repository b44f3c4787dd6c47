// The plumbing every CPU volume scene shares: the objects its kernel reads, the volume
// hand-over and the GL-free part of a frame. Held by value by MIPVRScene and IsosurfaceVRScene;
// the GPU scenes use its static parts.
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "ProgressiveCast.h"

class CoherentVolume;
class GridPartition;
class VRImage;
class VRSceneParam;
class VolumeData;

// Owns the four objects that every volume kernel points at: the bricked volume, the min/max
// grid, the ray set-up (with the cropping box) and the output image. The scene points its kernel
// at them once (Attach) and then works through the kernel's pointers, so that a host that
// re-points the kernel (GetKernelModule) is obeyed; the core still deletes only what it
// allocated. The technique parameters stay with the scene.
//
// The kernel type is any class with the public pointers `volume`, `gridPartition`,
// `vrSceneParam`, `image` and the two render entry points, as MIPVR and IsosurfaceVR have. Null
// pointers and an empty volume are tolerated: the operations then do nothing and report false.
//
// Not copyable (it owns raw pointers). GL thread only; not thread-safe.
class KESTREL_SCENE_API VolumeSceneCore {
public:
    /// Allocates the four objects; the cropping box is empty (all 0) until the first hand-over.
    VolumeSceneCore();
    ~VolumeSceneCore();
    VolumeSceneCore(VolumeSceneCore const&) = delete;
    VolumeSceneCore& operator=(VolumeSceneCore const&) = delete;

    /// Points the kernel's volume, grid, ray set-up and image at the owned objects.
    template <class Kernel>
    void Attach(Kernel& kernel) const {
        kernel.volume = volume;
        kernel.gridPartition = grid;
        kernel.vrSceneParam = rays;
        kernel.image = image;
    }

    /// A new or modified host volume: reads its value range (double precision) into
    /// minValue / maxValue, rebricks it into the kernel's volume, rebuilds the kernel's grid with
    /// cells of dimension^0.4 voxels and resets the cropping box to the whole volume
    /// (0 .. dim - 1 per axis, voxel coordinates). Returns false, changing nothing, for a null
    /// volume. The caller refits its camera (SetSize3DModified).
    template <class Kernel>
    bool HandOver(Kernel& kernel, VolumeData* data, double& minValue, double& maxValue) const {
        return HandOverTo(data, kernel.volume, kernel.gridPartition, kernel.vrSceneParam, minValue,
                          maxValue);
    }

    /// The GL-free set-up of a frame: the rays and the window rectangle the volume covers for
    /// the given viewport (width, height) and camera matrices, written into the kernel's ray
    /// set-up and image, and the image allocated. False (image untouched) without a bricked
    /// volume.
    template <class Kernel>
    bool SetUpFrame(Kernel& kernel, int const viewport[2], Matrix4x4 const& view,
                    Matrix4x4 const& projection) const {
        return SetUpFrameOf(kernel.volume, kernel.vrSceneParam, kernel.image, viewport, view,
                            projection);
    }

    /// Runs one of the kernel's two entry points into its image.
    template <class Kernel>
    static void RenderKernel(Kernel& kernel, bool useGridPartition) {
        if (useGridPartition) {
            kernel.RenderWithGridPartition();
        } else {
            kernel.RenderWithoutGridPartition();
        }
    }

    /// SetUpFrame, then the kernel; false (nothing cast) without a bricked volume.
    template <class Kernel>
    bool CastImage(Kernel& kernel, int const viewport[2], Matrix4x4 const& view,
                   Matrix4x4 const& projection, bool useGridPartition) const {
        if (!SetUpFrame(kernel, viewport, view, projection)) return false;
        RenderKernel(kernel, useGridPartition);
        return true;
    }

    /// After SetUpFrame: one interactive-quality frame (ProgressiveCast::Frame) whose casts
    /// allocate the kernel's image and run render(distanceFactor) into it.
    template <class Kernel, class Render>
    void CastProgressive(Kernel& kernel, FrameQuality& quality, float coarseDistanceFactor,
                         Render&& render) {
        progressive.Frame(quality, *kernel.vrSceneParam, *kernel.image, coarseDistanceFactor,
                          [&](float distanceFactor) -> float const* {
                              kernel.image->Allocate();
                              render(distanceFactor);
                              return kernel.image->pixels;
                          });
    }

    /// Draws the frame CastProgressive cast (ProgressiveCast::Draw).
    template <class Kernel>
    void DrawProgressive(Kernel& kernel, FrameQuality& quality) {
        progressive.Draw(quality, *kernel.image);
    }

    /// The interpolated and refined picture of the interactive-quality frames.
    ProgressiveCast const& Progressive() const { return progressive; }

    /// The physical extent dimensions x spacings of the bricked volume, or of the host's volume
    /// when the bricked one is null. False (size untouched) when both are null.
    static bool Extent(CoherentVolume const* volume, VolumeData const* data, float* const size);

    /// Copies the six cropping floats (x lo, x hi, y lo, y hi, z lo, z hi; voxel coordinates)
    /// into / out of a ray set-up; nothing happens when either pointer is null.
    static void SetCropping(VRSceneParam* rays, float const* const bounds);
    static void GetCropping(VRSceneParam const* rays, float* const bounds);

    /// The hand-over of a scene that keeps no CPU copy (the GPU scenes): the value range into
    /// minValue / maxValue and the cropping box reset to the whole volume. False, changing
    /// nothing, for a null volume.
    static bool ReadVolume(VolumeData* data, VRSceneParam* rays, double& minValue,
                           double& maxValue) {
        return HandOverTo(data, nullptr, nullptr, rays, minValue, maxValue);
    }

    /// Clears the frame's colour buffer to (r, g, b, 1) and its depth buffer to 1.
    static void ClearFrame(float r, float g, float b);

private:
    static bool HandOverTo(VolumeData* data, CoherentVolume* volume, GridPartition* grid,
                           VRSceneParam* rays, double& minValue, double& maxValue);
    static bool SetUpFrameOf(CoherentVolume* volume, VRSceneParam* rays, VRImage* image,
                             int const viewport[2], Matrix4x4 const& view,
                             Matrix4x4 const& projection);

    CoherentVolume* volume;       ///< bricked copy of the host's volume; owned
    GridPartition* grid;          ///< min/max grid of `volume`; owned
    VRSceneParam* rays;           ///< ray set-up and cropping box; owned
    VRImage* image;               ///< the frame's float image; owned
    ProgressiveCast progressive;  ///< coarse frames and their refinement
};
