// The CUDA back end as the library's classes call it. device/DeviceBackEnd.cu defines these
// functions when the CUDA toolkit is found; NoDevice.cpp defines them otherwise (no device is
// ever found, so nothing else is called).
#pragma once

#include <cstddef>

#include "kernels/FullRay.h"
#include "kernels/Shading.h"

class CUDAPreintegratedLut;
struct CUDADeviceBuffer;
struct CUDADeviceVolume;
struct CUDADeviceGrid;
struct CUDADeviceImage;

namespace kestrel_cuda {

// One frame's rays in the form the device reads them, filled on the host from the frame's
// VRSceneParam exactly as the CPU kernels bind it (KernelState::BindSceneParam).
struct DeviceRays {
    float windowToPhysical[16];  // column-major, homogeneous window -> physical
    float physicalToVoxel[16];   // column-major, physical -> voxel
    float croppingBounds[6];     // voxel space: x lo, x hi, y lo, y hi, z lo, z hi
    int flatBox;                 // 1 when the box has zero thickness along some axis
    float eye[4];                // centre of projection, physical, w = 1
    float eyeVoxel[4];           // physicalToVoxel x eye
};

// The image rectangle of a frame, window coordinates.
struct DeviceRegion {
    int windowX, windowY, width, height;
};

// True when CUDAInit chose the CUDA back end (CUDAInit.cpp).
bool DeviceActive();

// True when this library contains the CUDA back end.
bool DeviceBackEndBuilt();
// True when a CUDA device answers; it becomes the current device.
bool FindDevice();

// Copies dimX x dimY x dimZ float samples (x fastest) to the device, replacing `previous`
// (released). Null when the device refuses the memory.
CUDADeviceVolume* UploadVolume(const float* samples, const int dims[3], const float spacings[3],
                               CUDADeviceVolume* previous);
void ReleaseVolume(CUDADeviceVolume* volume);

// The min/max table of `volume` for the given cell sizes and counts, built on the device,
// replacing `previous`.
CUDADeviceGrid* BuildGrid(const CUDADeviceVolume* volume, const int cellSize[3],
                          const int cellCount[3], CUDADeviceGrid* previous);
void ReleaseGrid(CUDADeviceGrid* grid);

// A device pixel buffer of width x height RGBA floats (reusing `previous` when large enough).
CUDADeviceImage* PrepareImage(CUDADeviceImage* previous, int width, int height);
// Copies width x height x 4 floats of the buffer into `pixels`.
void CopyImageBack(const CUDADeviceImage* image, float* pixels, int width, int height);
void ReleaseImage(CUDADeviceImage* image);

// Maximum-intensity projection: grey = maximum x greyScale + greyOffset.
void CastMIP(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid, const DeviceRays& rays,
             float greyScale, float greyOffset, const DeviceRegion& region, CUDADeviceImage* image);
// Isosurface at `isovalue`, surface colour (r, g, b), shaded with `light`.
void CastIsosurface(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid,
                    const DeviceRays& rays, float isovalue, const float surface[3],
                    const BoundLight& light, const DeviceRegion& region, CUDADeviceImage* image);

// The host lookup of a segment table (entries in host memory; CUDATables.cpp).
PreintegratedLookup SegmentLookup(const CUDAPreintegratedLut& segments);

// A device copy of `count` floats (a table), replacing `previous` (reused when large enough).
// Null when the device refuses the memory.
CUDADeviceBuffer* UploadBuffer(const float* values, std::size_t count, CUDADeviceBuffer* previous);
void ReleaseBuffer(CUDADeviceBuffer* buffer);

// Full volume rendering with `settings` as bound on the host, their table read from `table`
// (RGBA entries) and, with a grid (the empty-space skipping variant), their range test's sums
// from `alphaSums`; without a grid every ray is sampled over its whole length.
void CastFull(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid, const DeviceRays& rays,
              const FullSettings& settings, const CUDADeviceBuffer* table,
              const CUDADeviceBuffer* alphaSums, const DeviceRegion& region,
              CUDADeviceImage* image);
// Pre-integrated full volume rendering, the segment table read from `segments` (RGBA entries).
void CastPreintegrated(const CUDADeviceVolume* volume, const DeviceRays& rays,
                       const FullSettings& settings, const CUDADeviceBuffer* segments,
                       const DeviceRegion& region, CUDADeviceImage* image);

}  // namespace kestrel_cuda
