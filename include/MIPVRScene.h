// Interactive maximum-intensity projection of a host volume: the camera interaction of Scene,
// a grey window spanning the volume's value range, cropping, and a CPU ray caster per frame.
#pragma once

#include "KestrelExport.h"
#include "MIPVR.h"
#include "Scene.h"
#include "VolumeSceneCore.h"
#include "VolumeViewControls.h"

class VolumeData;

// Each frame clears the window to black, casts the volume's screen rectangle on all processors
// with MIPVR::RenderWithGridPartition and draws the float image over the background with
// premultiplied blending. Every input handler is Scene's: left drag rotates, middle drag pans,
// right drag zooms.
//
// SetData / SetDataModified rebuild everything derived from the volume: the grey window is set
// to the value range (width = max - min, centre = (min + max) / 2, so the minimum maps to black
// and the maximum to white), the volume is rebricked into the scene's CoherentVolume, the
// min/max grid is rebuilt with cells of dimension^0.4 voxels, the cropping box is reset to the
// whole volume (0 .. dim - 1 per axis, voxel coordinates) and the camera is refitted to the new
// extent at the next Render. Window and cropping set afterwards hold until the next
// SetData / SetDataModified.
//
// Ownership: the scene allocates and deletes the five objects its kernel points to (bricked
// volume, grid, ray set-up and image in its VolumeSceneCore, and the MIP parameters). The
// VolumeData stays the host's; it must outlive the scene or be replaced. Copying is forbidden: a
// member-wise copy would delete the kernel's objects twice.
//
// Before the first SetData a frame shows only the black background. A null volume passed to
// SetData is stored and changes nothing else. GL thread only; not thread-safe.
class KESTREL_SCENE_API MIPVRScene : public Scene, public MIPViewControls<MIPVRScene> {
public:
    MIPVRScene();
    ~MIPVRScene() override;
    MIPVRScene(MIPVRScene const&) = delete;
    MIPVRScene& operator=(MIPVRScene const&) = delete;

    /// The kernel; the host may read or replace its pointers (the scene still deletes the
    /// objects it allocated itself, not the replacements).
    MIPVR& GetKernelModule() { return kernelModule; }
    const MIPVR& GetKernelModule() const { return kernelModule; }

    /// Stores the host's volume (not owned), then SetDataModified().
    void SetData(VolumeData* volume);
    /// Rebuilds the bricked volume, grid, window and cropping box from the stored volume; call
    /// it after changing the voxels in place. No-op while no volume is stored.
    void SetDataModified();

    // The grey window (SetWidthCenter, Set/GetWindowWidth, Set/GetWindowCenter) and the cropping
    // box (Set/GetCroppingBounds) come from MIPViewControls.

protected:
    /// Clears to black, casts the image (CastImage) and draws it.
    void RenderContent() override;
    /// The kernel part of RenderContent without GL: sets up the rays and the image rectangle for
    /// the current matrices and viewport, allocates the image and casts it, with the grid
    /// partition or with the plain cell walk. Returns false (image untouched) when there is no
    /// bricked volume yet.
    bool CastImage(bool useGridPartition = true);
    /// The physical extent dimensions x spacings of the bricked volume (of the host's volume if
    /// the kernel's volume was set to null; Scene's 2, 2, 2 cube when neither exists).
    void GetSize3D(float* const size) override;

    VolumeData* volumeData;  ///< the host's volume; not owned; null until SetData
    MIPVR kernelModule;      ///< the kernel; its five pointers are filled by the constructor

private:
    VolumeSceneCore core;  // bricked volume, grid, ray set-up, image
    // The MIP parameters the constructor allocated, deleted by the destructor even if the host
    // re-points the kernel.
    MIPRayCasterParam* ownedMipParam;
};
