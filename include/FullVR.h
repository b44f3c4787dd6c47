// Full volume-rendering kernel: emission-absorption ray casting through an RGBA transfer-function
// table, with opacity correction, optional shading, early ray termination and empty-space
// skipping.
#pragma once

#include "KestrelExport.h"

class BasicLightParam;
class CoherentVolume;
class GridPartition;
class Lut1D;
class PreintegratedLut;
class TFEmptySpace;
class VRImage;
class VRSceneParam;

// For each pixel of `image` the kernel builds the ray through the pixel centre (from
// vrSceneParam's matrices), clips it to vrSceneParam->croppingBounds and samples it every
// `sampleDistance` (physical units along the ray) from its entry on. Each sample is
//   - classified: the trilinear value v at table position x = (v - minPos) (N - 1) /
//     (maxPos - minPos) interpolates entries floor(x) and floor(x) + 1 (entry 0 below the table's
//     range, the last entry above it);
//   - opacity corrected for the step: a = 1 - (1 - a)^(sampleDistance / stdSampleDistance)
//     (an opacity of 1 or more stays 1; colours are unchanged);
//   - shaded when `shade` is on, with the unit gradient N and the viewing direction D:
//     two-sided Blinn-Phong, lit when the light and the viewer are on the same side of the
//     surface (L.N and N.D of one sign): rgb = rgb (ambient + diffuse |L.N|) + specular |H.N|^p;
//     or, with the illustrative flag, w = (1 - (N.D)^2)^(p/2) capped at 1 and
//     rgb = w rgb + (1 - w) background;
//   - composited front to back with premultiplied colour: A.rgb += (1 - A.a) a rgb,
//     A.a += (1 - A.a) a.
// A ray stops sampling once A.a reaches 0.98. The pixel is A; a ray that misses the box gives
// (0, 0, 0, 0).
//
// RenderWithGridPartition walks the macro cells of the min/max grid along the ray and samples
// only cells whose value range the transfer function makes visible (tfEmptySpace's range test).
// The sample spacing restarts at the entry of every sampled cell; a sampled cell shorter than
// 0.001 along the ray is passed without samples. Macro cell m of an axis spans voxel coordinates
// [g m, g (m + 1)], exactly the voxels whose range the grid keeps for it, so every sample the
// walk assigns to a cell interpolates only voxels of that cell and no visible sample is skipped.
//
// Two options leave the fixed sample lattice, both off by default:
//   - `jitter` moves the first sample of every ray (and, with the grid, of every sampled cell)
//     in by f sampleDistance, f in [0, 1) a fixed hash of the window pixel, so that the banding
//     of a lattice against steep opacity ramps turns into fine noise;
//   - `preintegration` composites segments instead of samples: segment k runs from
//     t_k = tNear + f sampleDistance + k sampleDistance (f = 0 without jitter) to t_k +
//     sampleDistance, one lattice for both entry points, and takes its premultiplied colour and
//     opacity from `preintegratedLut` for the values at its two ends; shaded, the colour C / a is
//     shaded at a quarter and three quarters of the segment (averaged) when the segment's share
//     of the pixel exceeds 1 %, else at its middle. `lut` and `tfEmptySpace` still decide which
//     macro cells the grid variant visits; every segment that overlaps a visited cell is
//     composited once. `preintegratedLut` must be built from `lut` (the scene does so); a frame
//     whose table is missing or built for another sampleDistance or stdSampleDistance than the
//     kernel's is rendered post-classified instead.
//
// The light direction is the direction of travel (light into the scene), physical space, used as
// stored: its length scales the diffuse term.
//
// Ownership: the eight pointers are borrowed, never deleted; a copy shares them. The constructor
// nulls them. The image must already be sized and allocated.
//
// Threads: a render call runs on all processors and returns when the image is complete. The
// pointed-to objects must not change during a call. A render call is a no-op that leaves the
// image untouched when a pointer it needs is null, the volume has no voxels, the table has no
// entries, the grid or the empty-space sums were never built, or sampleDistance is not positive.
class KESTREL_STANDARD_API FullVR {
public:
    CoherentVolume* volume;        ///< bricked volume; borrowed
    TFEmptySpace* tfEmptySpace;    ///< opacity sums of the table; borrowed; grid variant only
    GridPartition* gridPartition;  ///< min/max grid of `volume`; borrowed; grid variant only
    Lut1D* lut;                    ///< transfer-function table; borrowed
    BasicLightParam* lightParam;   ///< light, material, background, illustrative flag; borrowed
    VRSceneParam* vrSceneParam;    ///< ray set-up and cropping box of the frame; borrowed
    VRImage* image;                ///< output region, allocated by the caller; borrowed
    bool shade;                    ///< shade the samples; default true
    float sampleDistance;          ///< step along the ray, physical units; default 1
    float stdSampleDistance;       ///< step the table's opacities are given for; default 1
    PreintegratedLut* preintegratedLut;  ///< segment table of `lut`; borrowed; null by default
    bool preintegration;                 ///< composite pre-integrated segments; default false
    bool jitter;  ///< per-pixel start offset in [0, sampleDistance); default false

    FullVR();
    FullVR(const FullVR& other) = default;
    FullVR& operator=(const FullVR& other) = default;
    ~FullVR() = default;

    /// Renders every pixel of `image`, sampling each ray over its whole length.
    void RenderWithoutGridPartition();
    /// Renders every pixel of `image`, skipping grid cells the transfer function leaves
    /// transparent. Needs `gridPartition` built from `volume` and `tfEmptySpace` from `lut`.
    void RenderWithGridPartition();
};
