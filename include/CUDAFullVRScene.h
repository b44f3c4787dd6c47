// Interactive full volume rendering cast by the GPU kernel library KestrelCUDA: the view of
// FullVRScene, with the volume uploaded on the frame after it changes and optional
// pre-integration.
#pragma once

#include "CUDAFullVR.h"
#include "CUDASceneCore.h"
#include "KestrelExport.h"
#include "LitVolumeScene.h"
#include "VolumeViewControls.h"

class BasicLightParam;
class CUDALut1D;
class CUDAPreintegratedLut;
class CUDATFEmptySpace;
class RGBATransferFunction1D;
class VolumeData;

// Shows what FullVRScene shows for the same volume, transfer function, light, shading, cropping
// and camera (the kernel library renders FullVR's image on either back end, see CUDAFullVR).
// Shading, sample distances and cropping are FullViewControls', input and light LitVolumeScene's,
// as for the CPU twin.
//
// Differences from the CPU twin: the scene keeps the host's dense VolumeData and makes no CPU copy
// of it. SetData / SetDataModified only set the sample distance (one ninth of a voxel's
// diagonal), reset the cropping box to the whole volume and refit the camera; the volume is
// copied to the library's texture, and its min/max grid built, at the next frame. The first frame
// also starts GLEW and the library (CUDAInit(true)), once per scene, so that frame needs the
// host's GL context current. Each frame clears to the background colour, uploads the volume if
// needed, and, with a transfer function, brings its table to the library (as the lookup-table
// texture, or with pre-integration as the segment table for the kernel's sample distance with the
// standard sample distance as the base distance of its opacities), recomputes the opacity sums,
// casts the image (RenderWithGridPartition, or Preintegrated_RenderWithoutGridPartition with
// pre-integration) and draws it over the background.
//
// Ownership: the scene allocates and deletes the texture, grid, ray set-up and image (in its
// CUDASceneCore), the table, opacity sums, segment table and light parameters. The VolumeData and
// the RGBATransferFunction1D stay the host's and must outlive their use. Copying is forbidden: a
// member-wise copy would delete the kernel's objects twice.
//
// Before the first SetData, or without a transfer function, a frame shows only the background.
// GL thread only; not thread-safe.
class KESTREL_SCENE_API CUDAFullVRScene : public LitVolumeScene,
                                          public FullViewControls<CUDAFullVRScene> {
public:
    CUDAFullVRScene();
    ~CUDAFullVRScene() override;
    CUDAFullVRScene(CUDAFullVRScene const&) = delete;
    CUDAFullVRScene& operator=(CUDAFullVRScene const&) = delete;

    /// The kernel; the host may read or replace its pointers and settings (the scene still
    /// deletes only the objects it allocated itself).
    CUDAFullVR& GetKernelModule() { return kernelModule; }
    const CUDAFullVR& GetKernelModule() const { return kernelModule; }

    /// Stores the host's volume (not owned), then SetDataModified().
    void SetData(VolumeData* volume);
    /// Sets the sample distance, resets the cropping box and marks the volume for upload at the
    /// next frame. No-op while no volume is stored.
    void SetDataModified();

    /// The host's transfer function (not owned); its table is taken at every frame. Null shows
    /// nothing.
    void SetTransferFunction(RGBATransferFunction1D* function) { transferFunction = function; }
    RGBATransferFunction1D* GetTransferFunction() const { return transferFunction; }

    /// Stores the standard sample distance; with pre-integration and a transfer function the
    /// segment table and the opacity sums are rebuilt at once.
    void SetStdSampleDistance(float distance);
    /// Switches pre-integrated rendering; with a transfer function the table the kernel reads
    /// next (segment table or lookup-table texture) and the opacity sums are rebuilt at once.
    /// Without one only the flag is stored.
    void SetPreintegration(bool on);
    bool GetPreintegration() const { return preintegration; }
    /// Per-pixel start offset of the rays (CUDAFullVR::jitter); off by default.
    void SetJitter(bool on) { kernelModule.jitter = on; }
    bool GetJitter() const { return kernelModule.jitter; }

protected:
    /// Clears to the background colour, starts the GPU library on the first frame, casts the
    /// image (CastImage) and draws it.
    void RenderContent() override;
    /// The GL-free part of a frame: the deferred upload, the tables, the rays and image rectangle
    /// for the current matrices and viewport, the headlight in endoscopy mode, and the cast on
    /// the library's active back end. Returns false (image untouched) without a volume or a
    /// transfer function.
    bool CastImage();
    /// The kernel entry of the frame: pre-integrated or with the grid partition.
    void CastKernel();
    /// The physical extent dimensions x spacings of the host's volume; 0, 0, 0 without one.
    void GetSize3D(float* const size) override;

    VolumeData* volumeData;                    ///< the host's volume; not owned; null initially
    RGBATransferFunction1D* transferFunction;  ///< the host's; not owned; null initially
    CUDAFullVR kernelModule;  ///< the kernel; its eight pointers are filled by the constructor
    bool gpuInitialised;      ///< GLEW and the library started (first frame); false
    bool volumeModified;      ///< upload the volume at the next frame; true
    bool preintegration;      ///< cast through the segment table; false
    // rotateLight, lightDragging and lightAtDragStart: LitVolumeScene.

private:
    /// Brings the transfer function's table to the kernel's table objects (segment table or
    /// lookup-table texture, then the opacity sums); false without a transfer function.
    bool UpdateTables();

    CUDASceneCore core;  // volume texture, grid, ray set-up, image
    // The objects the constructor allocated, deleted by the destructor even if the host re-points
    // the kernel.
    CUDATFEmptySpace* ownedSums;
    CUDALut1D* ownedLut;
    BasicLightParam* ownedLight;
    CUDAPreintegratedLut* ownedSegments;
};
