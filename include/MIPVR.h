// Maximum-intensity projection kernel: the exact maximum of the trilinear
// interpolant along every viewing ray, mapped to grey through a window.
#pragma once

#include "KestrelExport.h"

class CoherentVolume;
class GridPartition;
class MIPRayCasterParam;
class VRSceneParam;
class VRImage;

// For each pixel of `image` the kernel builds the ray through the pixel centre
// (from vrSceneParam's matrices), clips it to vrSceneParam->croppingBounds,
// walks it voxel cell by voxel cell, and takes the analytic maximum of the
// cubic that the trilinear interpolant forms along the ray inside each cell.
// The pixel becomes (g, g, g, 1) with g = (maximum - windowCenter) /
// windowWidth + 0.5 clamped to [0, 1], or (0, 0, 0, 0) where the ray misses
// the cropping box. Cells whose eight corners do not exceed the running
// maximum are skipped; RenderWithGridPartition also skips whole cells of the
// min/max grid whose maximum does not exceed it, visiting a ray's remaining
// grid cells from the highest grid maximum down (the maximum does not depend
// on the order). Both entry points give the same image up to float rounding.
//
// Ownership: the five pointers are borrowed, never deleted; a copy shares
// them. The constructor nulls them. The image must already be sized and
// allocated (VRSceneParam::CalculateVRSceneParamAndImageRegion, then
// VRImage::Allocate).
//
// Threads: a render call runs on all processors and returns when the image is
// complete. The pointed-to objects must not change during a call. A null
// member or a volume without dimensions makes a render call a no-op that
// leaves the image untouched.
class KESTREL_STANDARD_API MIPVR {
public:
    CoherentVolume* volume;        ///< bricked volume to project; borrowed
    GridPartition* gridPartition;  ///< min/max grid of `volume`; borrowed; grid variant only
    MIPRayCasterParam* mipParam;   ///< grey window; borrowed
    VRSceneParam* vrSceneParam;    ///< ray set-up and cropping box of the frame; borrowed
    VRImage* image;                ///< output region, allocated by the caller; borrowed

    MIPVR();
    MIPVR(const MIPVR& other) = default;
    MIPVR& operator=(const MIPVR& other) = default;
    ~MIPVR() = default;

    /// Renders every pixel of `image` with the plain cell walk.
    void RenderWithoutGridPartition();
    /// Renders every pixel of `image`, skipping grid cells that cannot raise a
    /// ray's maximum. Needs `gridPartition` built from `volume`.
    void RenderWithGridPartition();
};
