// Independent maximum-intensity reference for the MIP kernel tests: rays built
// in double precision from the camera matrices, the trilinear interpolant
// sampled densely along each ray.
#pragma once

#include <vector>

#include "Matrix4x4.h"

class VolumeData;

// A dense volume held as doubles, x fastest, with the voxel spacing.
struct DenseVolume {
    int dims[3] = {0, 0, 0};
    float spacing[3] = {1.0f, 1.0f, 1.0f};
    std::vector<double> values;

    double At(int i, int j, int k) const;  // indices clamped to the grid
    // Trilinear interpolant at a voxel-coordinate point, the point first
    // clamped to [0, dims - 1] per axis.
    double Interpolate(double x, double y, double z) const;
};

// Copies any of the seven sample types of a VolumeData into doubles.
DenseVolume DenseVolumeFrom(const VolumeData& volume);

// Result per pixel of the region (rows from the bottom, as VRImage).
struct DenseMipImage {
    int width = 0;
    int height = 0;
    std::vector<double> maximum;  // dense maximum along the clipped ray; NaN on a miss
    std::vector<double> segment;  // clipped segment length in voxel units; 0 on a miss
    std::vector<char> nearMiss;   // ray misses the box but meets it enlarged by 1e-3 voxel
};

// For each pixel (regionOrigin + (i, j) + 0.5, in window coordinates of a
// viewport of `viewport` pixels), the ray from the eye through the pixel centre
// on the near plane, computed in double from `view` and `projection` (the
// camera of a scene whose model space is physical space shifted by half the
// volume extent). The ray is clipped to `cropping` (voxel coordinates, x lo,
// x hi, y lo, y hi, z lo, z hi) and to t >= 0, then the interpolant is sampled
// at equal steps of at most `maxStepVoxels` voxel, both ends included.
DenseMipImage RenderDenseMip(const DenseVolume& volume, const Matrix4x4& view,
                             const Matrix4x4& projection, const int viewport[2],
                             const int regionOrigin[2], const int regionSize[2],
                             const float cropping[6], double maxStepVoxels = 1.0 / 50.0);

// (maximum - center) / width + 0.5 clamped to [0, 1], in double.
double DenseMipGrey(double maximum, double width, double center);
