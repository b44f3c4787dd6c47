// Interactive maximum-intensity projection cast by the GPU kernel library KestrelCUDA: the view of
// MIPVRScene, with the volume uploaded on the frame after it changes.
#pragma once

#include "CUDAMIPVR.h"
#include "CUDASceneCore.h"
#include "KestrelExport.h"
#include "Scene.h"
#include "VolumeViewControls.h"

class VolumeData;

// Shows what MIPVRScene shows for the same volume, window, cropping and camera (the kernel library
// renders the same image on either back end, see CUDAMIPVR), and keeps Scene's mouse handling.
//
// Differences from the CPU twin: the scene keeps the host's dense VolumeData and makes no CPU copy
// of it. SetData / SetDataModified only set the grey window to the value range, reset the
// cropping box to the whole volume and refit the camera; the volume is copied to the library's
// texture, and its min/max grid built, at the next frame. The first frame also starts GLEW and the
// library (CUDAInit(true)), once per scene, so that frame needs the host's GL context current. Each
// frame clears to black, sets up the rays, casts the image on the library's active back end and
// draws it over the background.
//
// Ownership: the scene allocates and deletes the texture, grid, ray set-up and image (in its
// CUDASceneCore) and the MIP parameters. The VolumeData stays the host's; it must outlive the
// scene or be replaced. Copying is forbidden: a member-wise copy would delete the kernel's objects
// twice.
//
// Before the first SetData a frame shows only the black background. A null volume passed to
// SetData is stored and changes nothing else. GL thread only; not thread-safe.
class KESTREL_SCENE_API CUDAMIPVRScene : public Scene, public MIPViewControls<CUDAMIPVRScene> {
public:
    CUDAMIPVRScene();
    ~CUDAMIPVRScene() override;
    CUDAMIPVRScene(CUDAMIPVRScene const&) = delete;
    CUDAMIPVRScene& operator=(CUDAMIPVRScene const&) = delete;

    /// The kernel; the host may read or replace its pointers (the scene still deletes the
    /// objects it allocated itself, not the replacements).
    CUDAMIPVR& GetKernelModule() { return kernelModule; }
    const CUDAMIPVR& GetKernelModule() const { return kernelModule; }

    /// Stores the host's volume (not owned), then SetDataModified().
    void SetData(VolumeData* volume);
    /// Sets the window to the stored volume's value range, resets the cropping box and marks the
    /// volume for upload at the next frame; call it after changing the voxels in place. No-op
    /// while no volume is stored.
    void SetDataModified();

    // The grey window (SetWidthCenter, Set/GetWindowWidth, Set/GetWindowCenter) and the cropping
    // box (Set/GetCroppingBounds) come from MIPViewControls.

protected:
    /// Clears to black, starts the GPU library on the first frame, casts the image (CastImage)
    /// and draws it.
    void RenderContent() override;
    /// The GL-free part of a frame: the deferred upload, the rays and image rectangle for the
    /// current matrices and viewport, and the cast on the library's active back end. Returns false
    /// (image untouched) without a volume.
    bool CastImage();
    /// The physical extent dimensions x spacings of the host's volume; 0, 0, 0 without one.
    void GetSize3D(float* const size) override;

    VolumeData* volumeData;  ///< the host's volume; not owned; null until SetData
    CUDAMIPVR kernelModule;  ///< the kernel; its five pointers are filled by the constructor
    bool gpuInitialised;     ///< GLEW and the library started (first frame); false
    bool volumeModified;     ///< upload the volume at the next frame; true

private:
    CUDASceneCore core;  // volume texture, grid, ray set-up, image
    // The MIP parameters the constructor allocated, deleted by the destructor even if the host
    // re-points the kernel.
    MIPRayCasterParam* ownedMipParam;
};
