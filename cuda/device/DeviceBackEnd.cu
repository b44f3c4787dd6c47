// The CUDA back end: the volume as a dense float array in device memory, the min/max grid built
// by one thread per cell, the tables as float arrays, and the MIP, isosurface and full casts by
// one thread per pixel. The rays, the cell walk, the cell cubic, the sampling, the shading and the
// full-rendering ray are the CPU kernels' own inline code (CellWalk.h, CellCubic.h, VoxelAccess.h,
// Shading.h, FullRay.h), compiled for the device as well; what this file adds is the device's
// voxel and grid access, the MIP and isosurface tracers and the per-pixel loop.
#include <cuda_runtime.h>

#include <cstddef>

#include "DeviceBackEnd.h"
#include "kernels/CellCubic.h"
#include "kernels/CellWalk.h"
#include "kernels/FullRay.h"
#include "kernels/Shading.h"
#include "kernels/VoxelAccess.h"

struct CUDADeviceVolume {
    float* samples = nullptr;  // dims[0] x dims[1] x dims[2] floats, x fastest, device memory
    int dims[3] = {0, 0, 0};
    float spacing[3] = {1.f, 1.f, 1.f};
};

struct CUDADeviceGrid {
    float* minMax = nullptr;  // 2 floats per cell, x fastest, device memory (GridPartition layout)
    int cellSize[3] = {0, 0, 0};
    int cellCount[3] = {0, 0, 0};
};

struct CUDADeviceBuffer {
    float* values = nullptr;  // capacity floats of device memory
    std::size_t capacity = 0;
};

struct CUDADeviceImage {
    float* pixels = nullptr;  // capacity floats of device memory
    std::size_t capacity = 0;
};

namespace kestrel_cuda {

namespace {

constexpr int kTileSide = 16;  // threads per block side, for pixels and grid cells

// The voxel access of the device (the interface of VolumeSampler in VoxelAccess.h): clamped reads
// of the float array.
struct DeviceVoxels {
    const float* samples;
    int dims[3];
    float spacing[3];

    using Value = float;
    struct Cursor {};

    __device__ float Voxel(int x, int y, int z) const {
        return samples[(std::size_t(z) * std::size_t(dims[1]) + std::size_t(y)) *
                           std::size_t(dims[0]) +
                       std::size_t(x)];
    }
    __device__ void FetchCellCorners(int cx, int cy, int cz, float corners[8]) const {
        const int x[2] = {ClampIndex(cx, dims[0]), ClampIndex(cx + 1, dims[0])};
        const int y[2] = {ClampIndex(cy, dims[1]), ClampIndex(cy + 1, dims[1])};
        const int z[2] = {ClampIndex(cz, dims[2]), ClampIndex(cz + 1, dims[2])};
        for (int c = 0; c < 8; ++c)
            corners[c] = Voxel(x[c & 1], y[(c >> 1) & 1], z[c >> 2]);
    }
    __device__ void Place(const int[3], Cursor&) const {}
    __device__ void Step(const int[3], int, int, Cursor&) const {}
    __device__ void Read(const int cell[3], const Cursor&, float corners[8]) const {
        FetchCellCorners(cell[0], cell[1], cell[2], corners);
    }
};

// The min/max grid as WalkMacroCells reads it (the grid members of KernelState).
struct DeviceGridView {
    int gridCellSize[3];
    int gridCellCount[3];
    int gridStride[3];
    const float* gridMinMax;

    __device__ const float* GridCell(int mx, int my, int mz) const {
        return gridMinMax + gridStride[0] * ClampIndex(mx, gridCellCount[0]) +
               gridStride[1] * ClampIndex(my, gridCellCount[1]) +
               gridStride[2] * ClampIndex(mz, gridCellCount[2]);
    }
};

// Everything one frame's threads read.
struct DeviceFrame {
    DeviceRays rays;
    DeviceRegion region;
    DeviceVoxels voxels;
    DeviceGridView grid;
};

// The frame's volume, rays and rectangle, and the grid when there is one (an empty grid view
// otherwise, for the casts that walk no macro cells).
DeviceFrame MakeFrame(const CUDADeviceVolume& volume, const CUDADeviceGrid* grid,
                      const DeviceRays& rays, const DeviceRegion& region) {
    static const CUDADeviceGrid kNoGrid;
    const CUDADeviceGrid& cells = grid != nullptr ? *grid : kNoGrid;
    DeviceFrame frame;
    frame.rays = rays;
    frame.region = region;
    frame.voxels.samples = volume.samples;
    frame.grid.gridMinMax = cells.minMax;
    for (int a = 0; a < 3; ++a) {
        frame.voxels.dims[a] = volume.dims[a];
        frame.voxels.spacing[a] = volume.spacing[a];
        frame.grid.gridCellSize[a] = cells.cellSize[a];
        frame.grid.gridCellCount[a] = cells.cellCount[a];
    }
    frame.grid.gridStride[0] = 2;
    frame.grid.gridStride[1] = 2 * cells.cellCount[0];
    frame.grid.gridStride[2] = 2 * cells.cellCount[0] * cells.cellCount[1];
    return frame;
}

// The ray through window position (px, py), clipped to the cropping box, as KernelState sets it
// up.
__device__ void SetUpPixelRay(const DeviceRays& rays, float px, float py, PixelRay& ray) {
    const Vector4 eye(rays.eye[0], rays.eye[1], rays.eye[2], rays.eye[3]);
    const Vector4 eyeVoxel(rays.eyeVoxel[0], rays.eyeVoxel[1], rays.eyeVoxel[2], rays.eyeVoxel[3]);
    SetUpClippedRay(rays.windowToPhysical, rays.physicalToVoxel, eye, eyeVoxel, rays.croppingBounds,
                    px, py, ray);
}

// KernelState::Hits: a flat box is sampled by zero-length segments.
__device__ bool Hits(const DeviceRays& rays, const PixelRay& ray) {
    return ray.tFar > ray.tNear || (rays.flatBox && ray.tFar == ray.tNear);
}

__device__ float EntrySample(const DeviceVoxels& voxels, const PixelRay& ray) {
    Vector4 entry(ray.originVoxel.x + ray.tNear * ray.dirVoxel.x,
                  ray.originVoxel.y + ray.tNear * ray.dirVoxel.y,
                  ray.originVoxel.z + ray.tNear * ray.dirVoxel.z, 1.f);
    return SampleTrilinearFrom(voxels, entry);
}

// The maximum along the ray: the entry sample, then the voxel cells of every macro cell whose
// maximum exceeds the running maximum, in ray order; a cell counts only when a corner exceeds
// the maximum and the cubic may rise above it.
__device__ float TraceMIPRay(const DeviceFrame& frame, const PixelRay& ray) {
    float maximum = EntrySample(frame.voxels, ray);
    WalkMacroCells(
        frame.grid, ray, [&](const float* pair) { return pair[1] > maximum; },
        [&](const float*, float t, float exit) {
            WalkVoxelCells(frame.voxels, ray, t, exit,
                           [&](const float corners[8], const int cell[3], float t0, float t1) {
                               float highest = corners[0];
                               for (int c = 1; c < 8; ++c)
                                   highest = corners[c] > highest ? corners[c] : highest;
                               if (!(highest > maximum)) return false;  // skip: no corner above
                               RaiseToCellMaximum(corners, cell, ray.originVoxel, ray.dirVoxel, t0,
                                                  t1, maximum);
                               return false;
                           });
            return false;
        });
    return maximum;
}

// The shaded first crossing of the isovalue, or (0, 0, 0, 0).
__device__ Vector4 TraceIsosurfaceRay(const DeviceFrame& frame, const PixelRay& ray, float iso,
                                      const float surface[3], const BoundLight& light) {
    const bool entryBelow = EntrySample(frame.voxels, ray) < iso;
    Vector4 colour(0.f, 0.f, 0.f, 0.f);
    WalkMacroCells(
        frame.grid, ray, [&](const float* pair) { return pair[0] <= iso && iso <= pair[1]; },
        [&](const float*, float t, float exit) {
            return WalkVoxelCells(
                frame.voxels, ray, t, exit,
                [&](const float corners[8], const int cell[3], float t0, float t1) {
                    float low = corners[0], high = corners[0];
                    for (int c = 1; c < 8; ++c) {
                        low = corners[c] < low ? corners[c] : low;
                        high = corners[c] > high ? corners[c] : high;
                    }
                    if (!(low < iso && high > iso)) return false;  // skip: one side only
                    Vector4 hit;
                    if (!FirstCrossing(corners, cell, ray.originVoxel, ray.dirVoxel, t0, t1, iso,
                                       hit))
                        return false;
                    colour = ShadeSurface(surface, ComputeNormalFrom(frame.voxels, hit),
                                          ray.dirPhysical, entryBelow, light);
                    return true;
                });
        });
    return colour;
}

// The stored channel: not below 1 (NaN included) gives 1, not above 0 gives 0 (ClampChannel).
__device__ float ClampChannel(float value) {
    if (!(value < 1.f)) return 1.f;
    if (!(value > 0.f)) return 0.f;
    return value;
}

// One thread per pixel of the region: the ray through the pixel centre, traced by
// trace(frame, ray, x, y) ((x, y) the window pixel) when it meets the box, stored clamped.
template <class Trace>
__global__ void CastPixels(DeviceFrame frame, Trace trace, float* pixels) {
    const int column = int(blockIdx.x) * kTileSide + int(threadIdx.x);
    const int row = int(blockIdx.y) * kTileSide + int(threadIdx.y);
    if (column >= frame.region.width || row >= frame.region.height) return;
    PixelRay ray;
    SetUpPixelRay(frame.rays, float(frame.region.windowX + column) + 0.5f,
                  float(frame.region.windowY + row) + 0.5f, ray);
    Vector4 colour(0.f, 0.f, 0.f, 0.f);
    if (Hits(frame.rays, ray))
        colour = trace(frame, ray, frame.region.windowX + column, frame.region.windowY + row);
    float* const out =
        pixels + (std::size_t(row) * std::size_t(frame.region.width) + std::size_t(column)) * 4;
    out[0] = ClampChannel(colour.x);
    out[1] = ClampChannel(colour.y);
    out[2] = ClampChannel(colour.z);
    out[3] = ClampChannel(colour.w);
}

struct MIPTrace {
    float greyScale, greyOffset;
    __device__ Vector4 operator()(const DeviceFrame& frame, const PixelRay& ray, int, int) const {
        const float g = TraceMIPRay(frame, ray) * greyScale + greyOffset;
        return Vector4(g, g, g, 1.f);
    }
};

struct IsosurfaceTrace {
    float isovalue;
    float surface[3];
    BoundLight light;
    __device__ Vector4 operator()(const DeviceFrame& frame, const PixelRay& ray, int, int) const {
        return TraceIsosurfaceRay(frame, ray, isovalue, surface, light);
    }
};

// The full-rendering ray, sampled throughout or skipping empty macro cells, from its pixel's
// start offset when the settings ask for jitter (the offset the host kernel gives the same pixel).
template <bool kSkipping, ShadeMode kMode>
struct FullTrace {
    FullSettings settings;  // table pointers in device memory
    __device__ Vector4 operator()(const DeviceFrame& frame, const PixelRay& ray, int x,
                                  int y) const {
        return TraceFullRay<kSkipping, kMode>(frame.grid, frame.voxels, settings, ray,
                                              PixelStartOffset(settings, x, y));
    }
};

// The pre-integrated full-rendering ray, jittered as FullTrace.
template <ShadeMode kMode>
struct PreintegratedTrace {
    FullSettings settings;  // table pointers in device memory
    __device__ Vector4 operator()(const DeviceFrame& frame, const PixelRay& ray, int x,
                                  int y) const {
        return TracePreintegratedRay<kMode>(frame.voxels, settings, ray,
                                            PixelStartOffset(settings, x, y));
    }
};

// Casts every pixel of the region with `trace`; `grid` may be null for a trace that walks no
// macro cells.
template <class Trace>
void Cast(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid, const DeviceRays& rays,
          const Trace& trace, const DeviceRegion& region, CUDADeviceImage* image) {
    if (!volume || !image || region.width <= 0 || region.height <= 0) return;
    if (image->capacity < std::size_t(region.width) * std::size_t(region.height) * 4) return;
    const dim3 block(kTileSide, kTileSide);
    const dim3 blocks((region.width + kTileSide - 1) / kTileSide,
                      (region.height + kTileSide - 1) / kTileSide);
    CastPixels<<<blocks, block>>>(MakeFrame(*volume, grid, rays, region), trace, image->pixels);
    cudaDeviceSynchronize();
}

// The table entries of a device buffer as RGBA.
const Vector4* Entries(const CUDADeviceBuffer& buffer) {
    return reinterpret_cast<const Vector4*>(buffer.values);
}

// One thread per grid cell: the range of its voxels, its successors' first planes included
// (GridPartition's ScanCells).
__global__ void ScanCells(DeviceVoxels voxels, CUDADeviceGrid grid) {
    const int cx = int(blockIdx.x) * kTileSide + int(threadIdx.x);
    const int cy = int(blockIdx.y) * kTileSide + int(threadIdx.y);
    const int cz = int(blockIdx.z);
    if (cx >= grid.cellCount[0] || cy >= grid.cellCount[1]) return;
    int lo[3], hi[3];
    const int cell[3] = {cx, cy, cz};
    for (int a = 0; a < 3; ++a) {
        lo[a] = cell[a] * grid.cellSize[a];
        hi[a] = lo[a] + grid.cellSize[a] < voxels.dims[a] - 1 ? lo[a] + grid.cellSize[a]
                                                              : voxels.dims[a] - 1;
    }
    float low = voxels.Voxel(lo[0], lo[1], lo[2]), high = low;
    for (int z = lo[2]; z <= hi[2]; ++z)
        for (int y = lo[1]; y <= hi[1]; ++y)
            for (int x = lo[0]; x <= hi[0]; ++x) {
                const float v = voxels.Voxel(x, y, z);
                if (!(v > low)) low = v;  // a NaN voxel is taken, as on the host
                if (!(high > v)) high = v;
            }
    float* const out =
        grid.minMax + 2 * (std::size_t(cx) + std::size_t(grid.cellCount[0]) *
                                                 (std::size_t(cy) + std::size_t(grid.cellCount[1]) *
                                                                        std::size_t(cz)));
    out[0] = low;
    out[1] = high;
}

}  // namespace

bool DeviceBackEndBuilt() {
    return true;
}

bool FindDevice() {
    int count = 0;
    if (cudaGetDeviceCount(&count) != cudaSuccess || count < 1) return false;
    return cudaSetDevice(0) == cudaSuccess;
}

CUDADeviceVolume* UploadVolume(const float* samples, const int dims[3], const float spacings[3],
                               CUDADeviceVolume* previous) {
    ReleaseVolume(previous);
    const std::size_t bytes =
        std::size_t(dims[0]) * std::size_t(dims[1]) * std::size_t(dims[2]) * sizeof(float);
    CUDADeviceVolume* volume = new CUDADeviceVolume;
    if (cudaMalloc(&volume->samples, bytes) != cudaSuccess ||
        cudaMemcpy(volume->samples, samples, bytes, cudaMemcpyHostToDevice) != cudaSuccess) {
        ReleaseVolume(volume);
        return nullptr;
    }
    for (int a = 0; a < 3; ++a) {
        volume->dims[a] = dims[a];
        volume->spacing[a] = spacings[a];
    }
    return volume;
}

void ReleaseVolume(CUDADeviceVolume* volume) {
    if (volume == nullptr) return;
    cudaFree(volume->samples);
    delete volume;
}

CUDADeviceGrid* BuildGrid(const CUDADeviceVolume* volume, const int cellSize[3],
                          const int cellCount[3], CUDADeviceGrid* previous) {
    ReleaseGrid(previous);
    if (volume == nullptr) return nullptr;
    CUDADeviceGrid* grid = new CUDADeviceGrid;
    for (int a = 0; a < 3; ++a) {
        grid->cellSize[a] = cellSize[a];
        grid->cellCount[a] = cellCount[a];
    }
    const std::size_t cells =
        std::size_t(cellCount[0]) * std::size_t(cellCount[1]) * std::size_t(cellCount[2]);
    if (cudaMalloc(&grid->minMax, 2 * cells * sizeof(float)) != cudaSuccess) {
        ReleaseGrid(grid);
        return nullptr;
    }
    DeviceVoxels voxels;
    voxels.samples = volume->samples;
    for (int a = 0; a < 3; ++a) {
        voxels.dims[a] = volume->dims[a];
        voxels.spacing[a] = volume->spacing[a];
    }
    const dim3 block(kTileSide, kTileSide);
    const dim3 blocks((cellCount[0] + kTileSide - 1) / kTileSide,
                      (cellCount[1] + kTileSide - 1) / kTileSide, cellCount[2]);
    ScanCells<<<blocks, block>>>(voxels, *grid);
    cudaDeviceSynchronize();
    return grid;
}

void ReleaseGrid(CUDADeviceGrid* grid) {
    if (grid == nullptr) return;
    cudaFree(grid->minMax);
    delete grid;
}

CUDADeviceImage* PrepareImage(CUDADeviceImage* previous, int width, int height) {
    const std::size_t needed =
        std::size_t(width > 0 ? width : 0) * std::size_t(height > 0 ? height : 0) * 4;
    if (previous != nullptr && previous->capacity >= needed) return previous;
    ReleaseImage(previous);
    CUDADeviceImage* image = new CUDADeviceImage;
    if (needed > 0 && cudaMalloc(&image->pixels, needed * sizeof(float)) != cudaSuccess) {
        delete image;
        return nullptr;
    }
    image->capacity = needed;
    return image;
}

void CopyImageBack(const CUDADeviceImage* image, float* pixels, int width, int height) {
    const std::size_t count = std::size_t(width) * std::size_t(height) * 4;
    if (image == nullptr || pixels == nullptr || count == 0 || image->capacity < count) return;
    cudaMemcpy(pixels, image->pixels, count * sizeof(float), cudaMemcpyDeviceToHost);
}

void ReleaseImage(CUDADeviceImage* image) {
    if (image == nullptr) return;
    cudaFree(image->pixels);
    delete image;
}

void CastMIP(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid, const DeviceRays& rays,
             float greyScale, float greyOffset, const DeviceRegion& region,
             CUDADeviceImage* image) {
    if (grid == nullptr) return;
    Cast(volume, grid, rays, MIPTrace{greyScale, greyOffset}, region, image);
}

void CastIsosurface(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid,
                    const DeviceRays& rays, float isovalue, const float surface[3],
                    const BoundLight& light, const DeviceRegion& region, CUDADeviceImage* image) {
    if (grid == nullptr) return;
    IsosurfaceTrace trace;
    trace.isovalue = isovalue;
    for (int c = 0; c < 3; ++c)
        trace.surface[c] = surface[c];
    trace.light = light;
    Cast(volume, grid, rays, trace, region, image);
}

CUDADeviceBuffer* UploadBuffer(const float* values, std::size_t count, CUDADeviceBuffer* previous) {
    CUDADeviceBuffer* buffer = previous;
    if (buffer == nullptr || buffer->capacity < count) {
        ReleaseBuffer(previous);
        buffer = new CUDADeviceBuffer;
        if (count > 0 && cudaMalloc(&buffer->values, count * sizeof(float)) != cudaSuccess) {
            delete buffer;
            return nullptr;
        }
        buffer->capacity = count;
    }
    if (count > 0 && cudaMemcpy(buffer->values, values, count * sizeof(float),
                                cudaMemcpyHostToDevice) != cudaSuccess) {
        ReleaseBuffer(buffer);
        return nullptr;
    }
    return buffer;
}

void ReleaseBuffer(CUDADeviceBuffer* buffer) {
    if (buffer == nullptr) return;
    cudaFree(buffer->values);
    delete buffer;
}

void CastFull(const CUDADeviceVolume* volume, const CUDADeviceGrid* grid, const DeviceRays& rays,
              const FullSettings& settings, const CUDADeviceBuffer* table,
              const CUDADeviceBuffer* alphaSums, const DeviceRegion& region,
              CUDADeviceImage* image) {
    if (table == nullptr || (grid != nullptr && alphaSums == nullptr)) return;
    FullSettings device = settings;
    device.lut.table = Entries(*table);
    if (grid != nullptr) device.emptySpace.alphaSum = alphaSums->values;
    WithShadeMode(settings.mode, [&](auto mode) {
        constexpr ShadeMode kMode = decltype(mode)::value;
        if (grid != nullptr)
            Cast(volume, grid, rays, FullTrace<true, kMode>{device}, region, image);
        else
            Cast(volume, nullptr, rays, FullTrace<false, kMode>{device}, region, image);
    });
}

void CastPreintegrated(const CUDADeviceVolume* volume, const DeviceRays& rays,
                       const FullSettings& settings, const CUDADeviceBuffer* segments,
                       const DeviceRegion& region, CUDADeviceImage* image) {
    if (segments == nullptr) return;
    FullSettings device = settings;
    device.segments.entries = Entries(*segments);
    WithShadeMode(settings.mode, [&](auto mode) {
        constexpr ShadeMode kMode = decltype(mode)::value;
        Cast(volume, nullptr, rays, PreintegratedTrace<kMode>{device}, region, image);
    });
}

}  // namespace kestrel_cuda
