// Full volume rendering on the GPU kernel library's active back end.
#pragma once

#include "KestrelExport.h"

class BasicLightParam;
class CUDAGridPartition;
class CUDALut1D;
class CUDAPreintegratedLut;
class CUDATFEmptySpace;
class CUDAVRImage;
class CUDAVolumeTexture;
class VRSceneParam;

// RenderWithGridPartition and RenderWithoutGridPartition give the images of FullVR's entry points
// of the same names for the same volume, table, opacity sums, light, members, cropping box and ray
// set-up (see FullVR.h): on the host back end FullVR itself renders; the CUDA back end casts one
// GPU thread per pixel with the same rays, sample positions, classification, opacity correction,
// shading and compositing (FullRay.h).
//
// Preintegrated_RenderWithoutGridPartition samples the same positions as
// RenderWithoutGridPartition, t = tNear, tNear + sampleDistance, ... while t < tFar, plus one
// sample a step after the last: each sample is the front of a step whose back is the next
// sample, and the step adds the segment colour and opacity of preintegratedLut for that front
// and back value (see CUDAPreintegratedLut), instead of the classified and corrected colour of
// its front sample. With `shade` on, the segment's colour (premultiplied colour / opacity) is
// shaded as a sample's colour, at a quarter and three quarters of the step (averaged) when the
// step's share of the pixel exceeds 1 %, else at its middle. Compositing and early ray
// termination are FullVR's. The table must have been generated for this kernel's
// sampleDistance, with stdSampleDistance as its base distance; `lut` and `tfEmptySpace` are not
// read. Both back ends run the same ray routine (the host back end on all processors).
//
// Ownership: the eight pointers are borrowed, never deleted; a copy shares them. The constructor
// nulls them. The image's rectangle must be set and Allocate / PrepareForCUDAOP called. A null
// member the entry point needs, an object not filled on the active back end, or a sampleDistance
// not above 0 makes the call a no-op.
class KESTREL_CUDA_API CUDAFullVR {
public:
    CUDAVolumeTexture* volumeTexture;        ///< the volume; borrowed
    CUDATFEmptySpace* tfEmptySpace;          ///< opacity sums of the table; borrowed; grid only
    CUDAGridPartition* gridPartition;        ///< min/max grid of the volume; borrowed; grid only
    CUDALut1D* lut;                          ///< the transfer-function table; borrowed
    BasicLightParam* lightParam;             ///< light, material, background; borrowed
    VRSceneParam* vrSceneParam;              ///< ray set-up and cropping box; borrowed
    CUDAVRImage* image;                      ///< output rectangle; borrowed
    CUDAPreintegratedLut* preintegratedLut;  ///< segment table; borrowed; pre-integrated only
    bool shade;                              ///< shade the samples; default true
    float sampleDistance;                    ///< step along the ray, physical units; default 1
    float stdSampleDistance;  ///< step the table's opacities are given for; default 1
    /// Start each ray a fraction of sampleDistance in, the fraction a fixed hash of its window
    /// pixel (the offset FullVR's jitter gives the same pixel), on every entry point; default
    /// false.
    bool jitter;

    CUDAFullVR();

    /// Renders every pixel of `image`, sampling each ray over its whole length.
    void RenderWithoutGridPartition();
    /// Renders every pixel of `image`, skipping grid cells the table leaves transparent.
    void RenderWithGridPartition();
    /// Renders every pixel of `image` through the pre-integrated table.
    void Preintegrated_RenderWithoutGridPartition();
};
