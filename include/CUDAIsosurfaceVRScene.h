// Interactive isosurface view cast by the GPU kernel library KestrelCUDA: the view of
// IsosurfaceVRScene, with the volume uploaded on the frame after it changes.
#pragma once

#include "CUDAIsosurfaceVR.h"
#include "CUDASceneCore.h"
#include "KestrelExport.h"
#include "LitVolumeScene.h"
#include "VolumeViewControls.h"

class VolumeData;

// Shows what IsosurfaceVRScene shows for the same volume, surface, light, cropping and camera (the
// kernel library renders the same image on either back end, see CUDAIsosurfaceVR). Input and light
// are LitVolumeScene's, as for the CPU twin: while RotateLightDirection(true) a left drag turns the
// light instead of the camera; in endoscopy mode every frame replaces the light by a headlight
// along the viewing direction.
//
// Differences from the CPU twin: the scene keeps the host's dense VolumeData and makes no CPU copy
// of it. SetData / SetDataModified only set the isovalue to the middle of the value range, reset
// the cropping box to the whole volume and refit the camera; the volume is copied to the
// library's texture, and its min/max grid built, at the next frame. The first frame also starts
// GLEW and the library (CUDAInit(true)), once per scene, so that frame needs the host's GL context
// current. Each frame clears to the background colour, casts the image on the library's active
// back end and draws it over the background.
//
// Ownership: the scene allocates and deletes the texture, grid, ray set-up and image (in its
// CUDASceneCore) and the light and isosurface parameters. The VolumeData stays the host's.
// Copying is forbidden: a member-wise copy would delete the kernel's objects twice.
//
// Before the first SetData a frame shows only the background. A null volume passed to SetData is
// stored and changes nothing else. GL thread only; not thread-safe.
class KESTREL_SCENE_API CUDAIsosurfaceVRScene
    : public LitVolumeScene,
      public IsosurfaceViewControls<CUDAIsosurfaceVRScene> {
public:
    CUDAIsosurfaceVRScene();
    ~CUDAIsosurfaceVRScene() override;
    CUDAIsosurfaceVRScene(CUDAIsosurfaceVRScene const&) = delete;
    CUDAIsosurfaceVRScene& operator=(CUDAIsosurfaceVRScene const&) = delete;

    /// The kernel; the host may read or replace its pointers (the scene still deletes the
    /// objects it allocated itself, not the replacements).
    CUDAIsosurfaceVR& GetKernelModule() { return kernelModule; }
    const CUDAIsosurfaceVR& GetKernelModule() const { return kernelModule; }

    /// Stores the host's volume (not owned), then SetDataModified().
    void SetData(VolumeData* volume);
    /// Sets the isovalue to the middle of the stored volume's value range, resets the cropping box
    /// and marks the volume for upload at the next frame. No-op while no volume is stored.
    void SetDataModified();

    // Isovalue, surface colour and cropping box: IsosurfaceViewControls. Light, material,
    // background, illustrative style, the light drag and its switch: LitVolumeScene (defaults
    // those of IsosurfaceVRScene).

protected:
    /// Clears to the background colour, starts the GPU library on the first frame, casts the
    /// image (CastImage) and draws it.
    void RenderContent() override;
    /// The GL-free part of a frame: the deferred upload, the rays and image rectangle for the
    /// current matrices and viewport, the headlight in endoscopy mode, and the cast on the
    /// library's active back end. Returns false (image and light untouched) without a volume.
    bool CastImage();
    /// The physical extent dimensions x spacings of the host's volume; 0, 0, 0 without one.
    void GetSize3D(float* const size) override;

    VolumeData* volumeData;         ///< the host's volume; not owned; null until SetData
    CUDAIsosurfaceVR kernelModule;  ///< the kernel; its six pointers are filled by the constructor
    bool gpuInitialised;            ///< GLEW and the library started (first frame); false
    bool volumeModified;            ///< upload the volume at the next frame; true
    // rotateLight, lightDragging and lightAtDragStart: LitVolumeScene.

private:
    CUDASceneCore core;  // volume texture, grid, ray set-up, image
    // The technique parameters the constructor allocated, deleted by the destructor even if the
    // host re-points the kernel.
    BasicLightParam* ownedLight;
    IsosurfaceRayCasterParam* ownedIso;
};
