// Interactive isosurface view of a host volume: the camera interaction of Scene, an isovalue
// halfway through the volume's value range, one directional light that a left drag can turn, and
// a CPU ray caster per frame.
#pragma once

#include "IsosurfaceVR.h"
#include "KestrelExport.h"
#include "LitVolumeScene.h"
#include "VolumeSceneCore.h"
#include "VolumeViewControls.h"

class VolumeData;

// Each frame clears the window to the background colour, casts the volume's screen rectangle on
// all processors with IsosurfaceVR::RenderWithGridPartition and draws the float image over the
// background with premultiplied blending: pixels whose rays miss the surface show the background.
//
// SetData / SetDataModified rebuild everything derived from the volume: the isovalue is set to
// the middle of the value range, the volume is rebricked, the min/max grid rebuilt (cells of
// dimension^0.4 voxels), the cropping box reset to the whole volume (0 .. dim - 1 per axis, voxel
// coordinates) and the camera refitted at the next Render. Surface colour, light, material and
// background settings survive a new volume.
//
// Input and light: as LitVolumeScene (a left drag turns the light while light rotation is on;
// in endoscopy mode every frame replaces the light by a headlight along the viewing direction).
//
// Ownership: the scene allocates and deletes the six objects its kernel points to (bricked
// volume, grid, ray set-up and image in its VolumeSceneCore; light and isosurface parameters).
// The VolumeData stays the host's; it must outlive the scene or be replaced. Copying is
// forbidden: a member-wise copy would delete the kernel's objects twice.
//
// Before the first SetData a frame shows only the background. A null volume passed to SetData is
// stored and changes nothing else. GL thread only; not thread-safe.
class KESTREL_SCENE_API IsosurfaceVRScene : public LitVolumeScene,
                                            public IsosurfaceViewControls<IsosurfaceVRScene> {
public:
    IsosurfaceVRScene();
    ~IsosurfaceVRScene() override;
    IsosurfaceVRScene(IsosurfaceVRScene const&) = delete;
    IsosurfaceVRScene& operator=(IsosurfaceVRScene const&) = delete;

    /// The kernel; the host may read or replace its pointers (the scene still deletes the
    /// objects it allocated itself, not the replacements).
    IsosurfaceVR& GetKernelModule() { return kernelModule; }
    const IsosurfaceVR& GetKernelModule() const { return kernelModule; }

    /// Stores the host's volume (not owned), then SetDataModified().
    void SetData(VolumeData* volume);
    /// Rebuilds the bricked volume, grid, isovalue and cropping box from the stored volume; call
    /// it after changing the voxels in place. No-op while no volume is stored.
    void SetDataModified();

    // Isovalue, surface colour and cropping box: IsosurfaceViewControls (shared with
    // CUDAIsosurfaceVRScene).

protected:
    /// Clears to the background colour, casts the image (CastImage) and draws it.
    void RenderContent() override;
    /// The kernel part of RenderContent without GL: sets up the rays and the image rectangle for
    /// the current matrices and viewport, points the headlight along the view in endoscopy
    /// mode, allocates the image and casts it, with the grid partition or with the plain cell
    /// walk. Returns false (image and light untouched) when there is no bricked volume yet.
    bool CastImage(bool useGridPartition = true);
    /// The physical extent dimensions x spacings of the bricked volume (of the host's volume if
    /// the kernel's volume was set to null; Scene's 2, 2, 2 cube when neither exists).
    void GetSize3D(float* const size) override;

    VolumeData* volumeData;     ///< the host's volume; not owned; null until SetData
    IsosurfaceVR kernelModule;  ///< the kernel; its six pointers are filled by the constructor

private:
    VolumeSceneCore core;  // bricked volume, grid, ray set-up, image
    // The technique parameters the constructor allocated, deleted by the destructor even if the
    // host re-points the kernel.
    BasicLightParam* ownedLight;
    IsosurfaceRayCasterParam* ownedIso;
};
