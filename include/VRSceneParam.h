// Per-frame ray set-up of the CPU ray casters: the window-to-physical and physical-to-voxel
// matrices, the cropping box, and the window rectangle that the volume's projection covers.
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"

// Ray set-up of one frame.
//
// Coordinate systems: window (x right and y up from the window's lower-left corner, in pixels;
// depth 0 at the near plane, 1 at the far plane), physical (volume corner at the origin, grid
// point (i, j, k) at (i, j, k) times the spacing), voxel (physical divided by the spacing).
//
// A plain value class: it owns nothing, a copy is independent, and it is not thread safe while
// being written. CalculateVRSceneParamAndImageRegion tolerates a region wholly outside the
// window by leaving the region outputs as they were.
class KESTREL_STANDARD_API VRSceneParam {
public:
    VRSceneParam();

    // Fills windowToPhysical and physicalToVoxel for the frame and writes the smallest window
    // rectangle that can show the volume box [0, dims * spacing] into regionOrigin (x, y of the
    // lower-left pixel) and regionSize (width, height). viewport holds the window width and height,
    // view and projection are the camera matrices of the frame (model space = physical space
    // shifted by minus half the volume's extent). The region is the whole window plus one column
    // and one row when the eye is inside the box or the box reaches behind the eye; it is left
    // unwritten when the box projects wholly outside the window. The matrices are always updated.
    void CalculateVRSceneParamAndImageRegion(int const* const viewport, int const* const dims,
                                             float const* const spacing, Matrix4x4 const& view,
                                             Matrix4x4 const& projection, int* const regionOrigin,
                                             int* const regionSize);

    Matrix4x4
        windowToPhysical;  // identity; homogeneous window (x, y, depth, 1) -> homogeneous physical
    Matrix4x4 physicalToVoxel;  // identity; diagonal (1 / spacing, 1): physical -> voxel
    float croppingBounds[6];  // all 0; voxel space, inclusive: x lo, x hi, y lo, y hi, z lo, z hi;
                              // set by the owner
    const float* rayLimit;    // null; borrowed; one float per pixel of the image region, in the
                              // image's layout: the largest ray parameter (physical distance from
                              // the eye) the pixel's ray may reach, e.g. the depth of opaque
                              // geometry; null: rays end at the cropping box only (CPU kernels)
};
