// Interactive full volume rendering of a host volume through a host transfer function: the
// camera interaction of Scene, light and shading settings, cropping, an optional light drag, and
// a CPU ray caster per frame.
#pragma once

#include "FullVR.h"
#include "KestrelExport.h"
#include "LitVolumeScene.h"
#include "VolumeSceneCore.h"
#include "VolumeViewControls.h"

class BasicLightParam;
class Lut1D;
class PreintegratedLut;
class RGBATransferFunction1D;
class TFEmptySpace;
class VolumeData;

// Each frame clears the window to the background colour, takes the transfer function's table
// (rebuilt first if it changed) and its opacity sums, casts the volume's screen rectangle on all
// processors with FullVR::RenderWithGridPartition and draws the float image over the background
// with premultiplied blending. Without a transfer function or a volume only the background shows.
//
// SetData / SetDataModified rebuild everything derived from the volume: the sample distance
// becomes one ninth of a voxel's diagonal (sqrt(sx^2 + sy^2 + sz^2) / 9, physical units), the
// volume is rebricked, the min/max grid is rebuilt with cells of dimension^0.4 voxels, the
// cropping box is reset to the whole volume (0 .. dim - 1 per axis, voxel coordinates) and the
// camera is refitted at the next Render. The transfer function, light and shading settings stay.
//
// Shading switch, standard sample distance and cropping box: FullViewControls. Input and light:
// as LitVolumeScene (a left drag turns the light while light rotation is on;
// in endoscopy mode every frame points the light along the viewing direction).
//
// Ownership: the scene allocates and deletes the eight objects its kernel points to (bricked
// volume, grid, ray set-up and image in its VolumeSceneCore; table, opacity sums, light
// parameters and segment table). The table object borrows the transfer function's entries for the
// frame and never frees them. The VolumeData and the RGBATransferFunction1D stay the host's; they
// must outlive their use by the scene (SetTransferFunction(nullptr) drops the borrowed entries).
// Copying is forbidden: a member-wise copy would delete the kernel's objects twice.
//
// GL thread only; not thread-safe.
class KESTREL_SCENE_API FullVRScene : public LitVolumeScene, public FullViewControls<FullVRScene> {
public:
    FullVRScene();
    ~FullVRScene() override;
    FullVRScene(FullVRScene const&) = delete;
    FullVRScene& operator=(FullVRScene const&) = delete;

    /// The kernel; the host may read or replace its pointers and settings (the scene still
    /// deletes only the objects it allocated itself).
    FullVR& GetKernelModule() { return kernelModule; }
    const FullVR& GetKernelModule() const { return kernelModule; }

    /// Stores the host's volume (not owned), then SetDataModified().
    void SetData(VolumeData* volume);
    /// Rebuilds the bricked volume, grid, sample distance and cropping box from the stored
    /// volume; call it after changing the voxels in place. No-op while no volume is stored.
    void SetDataModified();

    /// The host's transfer function (not owned); read at every frame. Null shows nothing.
    void SetTransferFunction(RGBATransferFunction1D* transferFunction);
    RGBATransferFunction1D* GetTransferFunction() const { return transferFunction; }

    /// The step length the table's opacities are given for (physical units; default 1).
    void SetStdSampleDistance(float distance) { kernelModule.stdSampleDistance = distance; }

    /// Pre-integrated classification (FullVR::preintegration); default off. While on, every
    /// frame brings the kernel's segment table up to date with the transfer function's table and
    /// the sample distances (a comparison when nothing changed). A frame cast at another sample
    /// distance than the table's (a coarse interactive frame) is post-classified.
    void SetPreintegration(bool on) { kernelModule.preintegration = on; }
    bool GetPreintegration() const { return kernelModule.preintegration; }
    /// Per-pixel start offset of the rays (FullVR::jitter); default off.
    void SetJitter(bool on) { kernelModule.jitter = on; }
    bool GetJitter() const { return kernelModule.jitter; }

protected:
    /// Clears to the background colour, casts the image (CastImage) and draws it.
    void RenderContent() override;
    /// The kernel part of RenderContent without GL: the transfer function's table and opacity
    /// sums, the ray set-up and image rectangle for the current matrices and viewport, the
    /// headlight in endoscopy mode, and the cast (with or without the grid). Returns false
    /// (image untouched) without a transfer function or a bricked volume.
    bool CastImage(bool useGridPartition = true);
    /// CastImage before the kernel: the table and sums, the rays and rectangle, the headlight.
    /// False without a transfer function or a bricked volume.
    bool SetUpCast();
    /// Sample distance of a coarse frame over the full frame's.
    static constexpr float kCoarseDistanceFactor = 2.0f;
    /// The physical extent dimensions x spacings of the bricked volume (0, 0, 0 before the
    /// first SetData).
    void GetSize3D(float* const size) override;

    VolumeData* volumeData;                    ///< the host's volume; not owned; null initially
    RGBATransferFunction1D* transferFunction;  ///< the host's; not owned; null initially
    FullVR kernelModule;  ///< the kernel; its pointers filled by the constructor

private:
    VolumeSceneCore core;  // bricked volume, grid, ray set-up, image
    // The objects the constructor allocated, deleted by the destructor even if the host re-points
    // the kernel. ownedLut's entries are the transfer function's, never freed here.
    TFEmptySpace* ownedSums;
    Lut1D* ownedLut;
    BasicLightParam* ownedLight;
    PreintegratedLut* ownedSegments;
};
