// The bricked copy of a VTK image's scalars that Kestrel's kernels sample, rebuilt only when the
// image or its scalars change.
#pragma once

#include <vtkType.h>

class CoherentVolume;
class GridPartition;
class VolumeData;
class vtkDataArray;
class vtkImageData;

// Converts one scalar component of a vtkImageData's points into a Kestrel volume (the seven
// sample types kept as they are, every other type converted to float32), bricks it and builds its
// min/max grid.
//
// Voxel (i, j, k) of the bricks is the image's point at structured index (extent[0] + i, ...).
// Owns the volume, the bricks and the grid; copying is forbidden. Not thread safe.
class KestrelBricks {
public:
    KestrelBricks();
    ~KestrelBricks();
    KestrelBricks(const KestrelBricks&) = delete;
    KestrelBricks& operator=(const KestrelBricks&) = delete;

    // Rebuilds when image, scalars or either's modification time differ from the last call;
    // false when there is nothing to render (no image, no scalars, an empty extent).
    bool Update(vtkImageData* image, vtkDataArray* scalars);

    CoherentVolume* Volume() const { return bricks; }
    GridPartition* Grid() const { return grid; }
    const int* Dimensions() const { return dimensions; }
    double RangeMin() const { return range[0]; }  // smallest sample
    double RangeMax() const { return range[1]; }  // largest sample

private:
    void Convert(vtkDataArray* scalars);

    VolumeData* dense;       // the samples in Kestrel's layout, owned
    CoherentVolume* bricks;  // owned
    GridPartition* grid;     // owned
    int dimensions[3] = {0, 0, 0};
    double range[2] = {0.0, 0.0};
    vtkImageData* lastImage = nullptr;  // identity only, never dereferenced
    vtkDataArray* lastScalars = nullptr;
    vtkMTimeType lastTime = 0;
};
