// The min/max grid of a CUDAVolumeTexture, for empty-space skipping in the GPU kernels.
#pragma once

#include "KestrelExport.h"

class CUDAVolumeTexture;
class GridPartition;
struct CUDADeviceGrid;

// The grid of GridPartition (cells of (int)(dimension ^ exponent) voxels per axis that share
// their boundary voxel planes; the table of (min, max) float pairs, x fastest), built where the
// texture's volume lives: on the device by one GPU thread per cell, or on the host by
// GridPartition::Init. Both give the same table.
//
// Ownership: owns its table; borrows nothing after Init. Copying is forbidden. GL thread only.
class KESTREL_CUDA_API CUDAGridPartition {
public:
    CUDAGridPartition();
    ~CUDAGridPartition();
    CUDAGridPartition(CUDAGridPartition const&) = delete;
    CUDAGridPartition& operator=(CUDAGridPartition const&) = delete;

    /// Builds the grid of the texture's volume with cells of (int)(dimension ^ exponent) voxels
    /// per axis. A null texture or one without a volume is ignored.
    void Init(CUDAVolumeTexture* texture, float exponent);

    int cellSize[3];             ///< 0, 0, 0; voxels per cell along x, y, z
    int cellCount[3];            ///< 0, 0, 0; cells per axis
    GridPartition* hostGrid;     ///< null; host back end's grid, owned
    CUDADeviceGrid* deviceGrid;  ///< null; CUDA back end's table in device memory, owned
};
