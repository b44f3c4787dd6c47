// Coarse min/max grid over a bricked volume, read by the kernels to skip cells whose value range
// cannot contribute to a ray.
#pragma once

#include "KestrelExport.h"

class CoherentVolume;

// Min/max grid of a CoherentVolume.
//
// Cell (cx, cy, cz) covers the voxels cx * cellSize[0] .. min((cx + 1) * cellSize[0],
// dimensions[0] - 1) along x, and likewise along y and z: neighbouring cells share one voxel
// plane, so a cell's range bounds every trilinear sample inside it.
//
// Cell table layout (minMax): 2 * cellCount[0] * cellCount[1] * cellCount[2] floats; cell
// c = cx + cellCount[0] * (cy + cellCount[1] * cz) keeps its minimum at minMax[2c] and its
// maximum at minMax[2c + 1]. Float strides: 2 per x step, 2 * cellCount[0] per y step,
// 2 * cellCount[0] * cellCount[1] per z step.
//
// Owns minMax (new[]/delete[]); copies are deep. Init runs on all processors and must not overlap
// readers; afterwards the grid is read-only and may be read from any number of threads. A null
// volume makes Init a no-op; cell sizes below 1 are taken as 1.
class KESTREL_STANDARD_API GridPartition {
public:
    GridPartition();
    ~GridPartition();
    GridPartition(const GridPartition& other);
    GridPartition& operator=(const GridPartition& other);

    // Builds the grid with the given cell sizes (voxels per cell along x, y, z).
    void Init(CoherentVolume* volume, int cellSizeX, int cellSizeY, int cellSizeZ);
    // Builds the grid with cell size (int)(dimension ^ exponent) per axis, in single precision.
    void Init(CoherentVolume* volume, float exponent);

    // Record handed to ComputeCellMinMax through RunOnAllProcessors.
    struct CellMinMaxJob {
        CoherentVolume* volume;
        GridPartition* grid;
    };
    // Worker (a WorkerFunction): fills the cells of every threadCount-th cell column, starting at
    // column threadIndex, from the volume of the CellMinMaxJob that userData points to.
    static void ComputeCellMinMax(int threadCount, int threadIndex, void* userData);

    int cellSize[3];   // 0, 0, 0; voxels per cell along x, y, z
    int cellCount[3];  // 0, 0, 0; cells per axis: (dimensions - 1) / cellSize + 1
    float* minMax;     // null; cell table (see above), owned
};
