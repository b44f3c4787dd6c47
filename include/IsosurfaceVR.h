// Isosurface kernel: the exact first crossing of the trilinear interpolant with an isovalue along
// every viewing ray, shaded with two-sided Blinn-Phong lighting or an illustrative contour style.
#pragma once

#include "KestrelExport.h"

class BasicLightParam;
class CoherentVolume;
class GridPartition;
class IsosurfaceRayCasterParam;
class VRImage;
class VRSceneParam;

// For each pixel of `image` the kernel builds the ray through the pixel centre (from
// vrSceneParam's matrices), clips it to vrSceneParam->croppingBounds and walks it voxel cell by
// voxel cell. In the first cell whose corners lie strictly on both sides of the isovalue and where
// the cell cubic (the trilinear interpolant along the ray) crosses it, the first root is found by
// splitting the segment at the cubic's extrema and refining by false position. The hit is shaded:
//   - Blinn-Phong, lit on the side the ray entered from (a ray entering below the isovalue sees
//     the side facing lower values): colour = surface x (ambient + diffuse |L.N|) + specular
//     |H.N|^p, with ambient, diffuse and specular = coefficient x intensity x light colour;
//   - illustrative: w = (1 - (N.D)^2)^(p/2) capped at 1, colour = w surface + (1 - w) background,
//     so silhouettes keep the surface colour and faces towards the viewer fade to the background.
// Alpha is 1 at a hit; a ray without a hit, or one that misses the cropping box, gives
// (0, 0, 0, 0). RenderWithGridPartition also skips the min/max grid's cells whose range does not
// contain the isovalue (min <= isovalue <= max); both entry points find the same first hit.
//
// The light direction is the direction of travel (light into the scene), physical space, used as
// stored: its length scales the diffuse term.
//
// Ownership: the six pointers are borrowed, never deleted; a copy shares them. The constructor
// nulls them. The image must already be sized and allocated.
//
// Threads: a render call runs on all processors and returns when the image is complete. The
// pointed-to objects must not change during a call. A null member or a volume without dimensions
// makes a render call a no-op that leaves the image untouched.
class KESTREL_STANDARD_API IsosurfaceVR {
public:
    CoherentVolume* volume;              ///< bricked volume; borrowed
    GridPartition* gridPartition;        ///< min/max grid of `volume`; borrowed; grid variant only
    BasicLightParam* lightParam;         ///< light, material and background; borrowed
    IsosurfaceRayCasterParam* isoParam;  ///< isovalue and surface colour; borrowed
    VRSceneParam* vrSceneParam;          ///< ray set-up and cropping box of the frame; borrowed
    VRImage* image;                      ///< output region, allocated by the caller; borrowed

    IsosurfaceVR();
    IsosurfaceVR(const IsosurfaceVR& other) = default;
    IsosurfaceVR& operator=(const IsosurfaceVR& other) = default;
    ~IsosurfaceVR() = default;

    /// Renders every pixel of `image` with the plain cell walk.
    void RenderWithoutGridPartition();
    /// Renders every pixel of `image`, skipping grid cells whose range excludes the isovalue.
    /// Needs `gridPartition` built from `volume`.
    void RenderWithGridPartition();
};
