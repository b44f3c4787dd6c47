// Maximum-intensity projection on the GPU kernel library's active back end.
#pragma once

#include "KestrelExport.h"

class CUDAGridPartition;
class CUDAVRImage;
class CUDAVolumeTexture;
class MIPRayCasterParam;
class VRSceneParam;

// The image of MIPVR::RenderWithGridPartition for the same volume, window, cropping box and ray
// set-up: per pixel the exact maximum of the trilinear interpolant along the ray through the
// pixel centre (cell walk and cell cubic), mapped to grey (maximum - windowCenter) / windowWidth
// + 0.5 and clamped, alpha 1; (0, 0, 0, 0) where the ray misses the cropping box. The host back
// end runs MIPVR itself; the CUDA back end casts one GPU thread per pixel with the same walk and
// cubic, skipping grid cells in ray order rather than highest first (the maximum is the same).
//
// Ownership: the five pointers are borrowed, never deleted; a copy shares them. The constructor
// nulls them. The image's rectangle must be set and Allocate / PrepareForCUDAOP called. A null
// member, or a texture and grid not filled on the active back end, makes the call a no-op.
class KESTREL_CUDA_API CUDAMIPVR {
public:
    CUDAVolumeTexture* volumeTexture;  ///< the volume; borrowed
    CUDAGridPartition* gridPartition;  ///< its min/max grid; borrowed
    MIPRayCasterParam* mipParam;       ///< grey window; borrowed
    VRSceneParam* vrSceneParam;        ///< ray set-up and cropping box of the frame; borrowed
    CUDAVRImage* image;                ///< output rectangle; borrowed

    CUDAMIPVR();

    /// Casts every pixel of `image`, skipping grid cells that cannot raise a ray's maximum.
    void RenderWithGridPartition();
};
