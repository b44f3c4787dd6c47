// Independent isosurface reference for the isosurface kernel tests: rays in double precision
// from a frame's ray set-up, the trilinear interpolant walked densely to its first crossing of
// the isovalue, the crossing refined by bisection and shaded in double.
#pragma once

#include <vector>

#include "support/DenseMipReference.h"

class BasicLightParam;
class IsosurfaceRayCasterParam;
class VRSceneParam;

// One pixel of the reference.
struct DenseIsoPixel {
    double rgba[4] = {0.0, 0.0, 0.0, 0.0};  // clamped to [0, 1]; (0, 0, 0, 0) without a hit
    bool hit = false;
    bool entryBelow = false;  // the interpolant at the clipped ray's entry is below the isovalue
    double segment = 0.0;     // clipped segment length in voxel units; 0 on a miss
    double hitVoxel[3] = {0.0, 0.0, 0.0};  // the crossing, voxel coordinates
    double facing = 0.0;  // |N . D| at the crossing: near 0 where the ray grazes the surface
};

// Rows from the bottom, as VRImage.
struct DenseIsoImage {
    int width = 0;
    int height = 0;
    std::vector<DenseIsoPixel> pixels;
    const DenseIsoPixel& At(int i, int j) const { return pixels[std::size_t(j) * width + i]; }
};

// For each pixel (regionOrigin + (i, j) + 0.5, window coordinates) the ray from the eye (the
// point windowToPhysical maps the window direction (0, 0, 1, 0) to) through the pixel's point
// on the near plane, in double from `rays`' windowToPhysical and physicalToVoxel. The ray is
// clipped to the cropping box and to t >= 0; the interpolant f is sampled at equal steps of at
// most `maxStepVoxels` voxel from the entry on, and the first step over which f - isovalue
// changes sign is bisected to the crossing. The crossing is shaded from the definitions:
//   N = unit (f(x + e_a) - f(x - e_a)) / spacing_a (clamped samples, not halved);
//   Blinn-Phong: lit when (L.N > 0 and the entry is below) or (L.N < 0 and it is above);
//     colour = surface (ambient + diffuse |L.N| if lit) + specular |H.N|^p if lit, with
//     H = unit(L + D), each coefficient times intensity times the light colour;
//   illustrative: w = (1 - (N.D)^2)^(p / 2), 1 where not below 1; w surface + (1 - w) background.
// No cut-off for weak highlights: the reference adds every specular term.
DenseIsoImage RenderDenseIso(const DenseVolume& volume, const VRSceneParam& rays,
                             const int regionOrigin[2], const int regionSize[2],
                             const BasicLightParam& light, const IsosurfaceRayCasterParam& iso,
                             double maxStepVoxels = 1.0 / 50.0);
