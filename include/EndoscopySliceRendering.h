// Endoscopy slice kernel: a grey planar cut through the volume at the eye of a fly-through
// camera, one trilinear sample per pixel.
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"

class CoherentVolume;
class VRImage;

// The cut is the camera's horizontal plane (right axis and viewing direction; the camera sits at
// the middle of the image's bottom edge, looking up the image) or its vertical plane (viewing
// direction and up axis; the camera at the middle of the left edge, looking right). No rays: a
// pixel's voxel position is affine in its column j and row i (row 0 at the bottom),
//   P(j, i) = sliceOrigin + (j + 0.5) columnStep + (i + 0.5) rowStep   (voxel index coordinates),
// with the three vectors computed once per camera by CalculatePixelToVoxelMatrix. A pixel whose P
// lies inside sliceBounds shows g = (value - windowCenter) / windowWidth + 0.5 clamped to [0, 1]
// (NaN to 1) as (g, g, g, 1); outside it is (0, 0, 0, 1). Every pixel is opaque.
//
// Ownership: `volume` and `image` are borrowed, never deleted; a copy shares them. The owner sets
// `sliceBounds`, sizes and allocates the image, calls CalculatePixelToVoxelMatrix, then Render.
//
// Threads: Render runs on all processors and returns when the image is complete; the volume and
// the image must not change during the call. Render with a null volume or image, or a volume
// without voxels, leaves the image untouched; CalculatePixelToVoxelMatrix with a null volume or
// image changes nothing.
class KESTREL_STANDARD_API EndoscopySliceRendering {
public:
    CoherentVolume* volume;  ///< null; the volume to cut; borrowed
    VRImage* image;          ///< null; output, sized and allocated by the owner; borrowed
    float columnStep[3];     ///< (0, 0, 0); voxel-index displacement from one column to the next
    float rowStep[3];        ///< (0, 0, 0); voxel-index displacement from one row to the next
    float sliceOrigin[3];    ///< (0, 0, 0); voxel-index position of the corner before pixel (0, 0)
    float windowWidth;       ///< 256; grey window width, sample units
    float windowCenter;      ///< 128; grey window centre, sample units (maps to grey 0.5)
    float sliceBounds[6];    ///< all 0; inclusive box, voxel index coordinates (x lo, x hi, y lo,
                             ///< y hi, z lo, z hi); pixels outside it are black

    EndoscopySliceRendering();
    EndoscopySliceRendering(const EndoscopySliceRendering& other) = default;
    EndoscopySliceRendering& operator=(const EndoscopySliceRendering& other) = default;
    ~EndoscopySliceRendering() = default;

    /// Sets columnStep, rowStep and sliceOrigin for the image's current width and height.
    /// `view` is the camera's model-view matrix (model space centred on the volume); pixelSize is
    /// the side of one pixel in eye-space units. With s = pixelSize and the eye's right, up and
    /// forward axes in voxel units per eye unit, pixel (j, i) lies at
    ///   horizontal: eye + s (j - width / 2) right + s (i + 0.5) forward,
    ///   vertical:   eye + s (j + 0.5) forward + s (i - height / 2) up.
    void CalculatePixelToVoxelMatrix(bool horizontal, float pixelSize, Matrix4x4 view);

    /// Fills every pixel of `image` (from its first pixel; the window position only matters when
    /// the image is drawn).
    void Render();
};
