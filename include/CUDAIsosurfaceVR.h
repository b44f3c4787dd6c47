// Isosurface rendering on the GPU kernel library's active back end.
#pragma once

#include "KestrelExport.h"

class BasicLightParam;
class CUDAGridPartition;
class CUDAVRImage;
class CUDAVolumeTexture;
class IsosurfaceRayCasterParam;
class VRSceneParam;

// The image of IsosurfaceVR::RenderWithGridPartition for the same volume, light, isovalue,
// cropping box and ray set-up: the exact first crossing of the isovalue along each ray (cell walk,
// cell cubic, false position), shaded with two-sided Blinn-Phong or the illustrative style, alpha
// 1 at a hit and (0, 0, 0, 0) elsewhere. The host back end runs IsosurfaceVR itself; the CUDA back
// end casts one GPU thread per pixel with the same walk, root finder and shading formulas.
//
// Ownership: the six pointers are borrowed, never deleted; a copy shares them. The constructor
// nulls them. The image's rectangle must be set and Allocate / PrepareForCUDAOP called. A null
// member, or a texture and grid not filled on the active back end, makes the call a no-op.
class KESTREL_CUDA_API CUDAIsosurfaceVR {
public:
    CUDAVolumeTexture* volumeTexture;    ///< the volume; borrowed
    CUDAGridPartition* gridPartition;    ///< its min/max grid; borrowed
    BasicLightParam* lightParam;         ///< light, material and background; borrowed
    IsosurfaceRayCasterParam* isoParam;  ///< isovalue and surface colour; borrowed
    VRSceneParam* vrSceneParam;          ///< ray set-up and cropping box of the frame; borrowed
    CUDAVRImage* image;                  ///< output rectangle; borrowed

    CUDAIsosurfaceVR();

    /// Casts every pixel of `image`, skipping grid cells whose range excludes the isovalue.
    void RenderWithGridPartition();
};
