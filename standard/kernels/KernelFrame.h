// The frame every CPU kernel renders in: the fan-out over all processors, the per-frame kernel
// state (volume, min/max grid, ray set-up), the per-pixel loops (with and without rays) and the
// entry helper that turns a kernel's render call into checks, bindings and one dispatch.
//
// A kernel file holds only its technique: the values it binds, a tracer template over the voxel
// access, and two short entry points:
//
//   template <class Voxels> struct MyTracer {              // one instance per worker thread
//       MyTracer(const KernelState& state, const Voxels& voxels, const MyParams& params);
//       Vector4 operator()(const PixelRay& ray);            // RGBA of a ray that meets the box
//   };
//   void MyKernel::RenderWithoutGridPartition() {
//       if (!myParam) return;                               // the technique's own inputs
//       RenderKernel<MyTracer>(volume, nullptr, vrSceneParam, image, MyParams(*myParam));
//   }
//
// RenderKernel checks the shared inputs, binds the volume (and the grid for the grid variant),
// picks the voxel access for the volume's sample type once (VoxelAccess.h), binds the ray set-up
// and fans out: the threads take 16 x 16 pixel tiles of the image one at a time from a shared
// counter (ImageTiles), build the ray through each pixel centre of a tile, store (0, 0, 0, 0) for
// a ray that misses the cropping box and otherwise the tracer's colour with every channel clamped
// to [0, 1] (NaN to 1). Kernels without rays use the same pixel loop through RenderImagePixels.
//
// The pieces a tracer walks and shades with: CellWalk, MacroCellWalk, WalkVoxelCells and
// WalkMacroCells (CellWalk.h); the cell cubic, its maximum and its first root (CellCubic.h); the
// bound light and the shading formulas (Shading.h).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "Vector.h"
#include "kernels/CellCubic.h"
#include "kernels/CellWalk.h"
#include "kernels/VoxelAccess.h"

// ---------------------------------------------------------------------------------------------
// Fan-out

// A unit of parallel work: called once per thread with threadIndex in [0, threadCount); index 0
// is always the calling thread.
typedef void (*WorkerFunction)(int threadCount, int threadIndex, void* userData);

// Starts one thread; pthread_create's signature, replaceable in tests to simulate failures.
typedef int (*ThreadStartFunction)(pthread_t* thread, const pthread_attr_t* attributes,
                                   void* (*entry)(void*), void* argument);

// Number of processors the operating system reports online; at least 1.
KESTREL_STANDARD_API int GetProcessorCount();

// Runs worker(N, i, userData) for i = 0 .. N - 1 at the same time, N = GetProcessorCount(), on
// the calling thread (index 0) and N - 1 new POSIX threads; returns when all have returned.
KESTREL_STANDARD_API void RunOnAllProcessors(WorkerFunction worker, void* userData);

// As RunOnAllProcessors with N = threadCount (values below 1 count as 1). startThread replaces
// pthread_create when not null. An index whose thread cannot be started runs on the calling
// thread after index 0, so the work is always complete.
KESTREL_STANDARD_API void RunOnProcessors(int threadCount, WorkerFunction worker, void* userData,
                                          ThreadStartFunction startThread = nullptr);

// ---------------------------------------------------------------------------------------------
// Kernel state

// Everything a frame's rays read: the volume, the ray set-up and, for grid variants, the min/max
// grid. Written before the fan-out, read-only during it. Owns nothing.
struct KernelState : VolumeSampler {
    Matrix4x4 windowToPhysical;  // copy of VRSceneParam::windowToPhysical
    Matrix4x4 physicalToVoxel;   // copy of VRSceneParam::physicalToVoxel
    float croppingBounds[6] = {0.f, 0.f, 0.f, 0.f, 0.f, 0.f};  // voxel space: x lo, x hi, y lo, ...
    bool flatBox = false;               // the cropping box has zero thickness along some axis
    Vector4 eye;                        // centre of projection, physical coordinates, w = 1
    Vector4 eyeVoxel;                   // physicalToVoxel * eye: every ray's origin
    int gridCellSize[3] = {0, 0, 0};    // GridPartition::cellSize
    int gridCellCount[3] = {0, 0, 0};   // GridPartition::cellCount
    int gridStride[3] = {0, 0, 0};      // floats per cell step in gridMinMax along x, y, z
    const float* gridMinMax = nullptr;  // GridPartition::minMax, not owned
    const float* rayLimit = nullptr;    // VRSceneParam::rayLimit, not owned; null: no limit
    int rayLimitX = 0, rayLimitY = 0;   // window position of rayLimit's first entry
    int rayLimitWidth = 0;              // entries per row of rayLimit

    bool HasVoxels() const { return dims[0] > 0 && dims[1] > 0 && dims[2] > 0; }

    // Copies the grid members; false (state untouched) for null or a grid that was never built.
    bool BindGridPartition(const GridPartition* grid) {
        if (!grid || !grid->minMax) return false;
        for (int a = 0; a < 3; ++a)
            if (grid->cellSize[a] < 1 || grid->cellCount[a] < 1) return false;
        for (int a = 0; a < 3; ++a) {
            gridCellSize[a] = grid->cellSize[a];
            gridCellCount[a] = grid->cellCount[a];
        }
        gridStride[0] = 2;
        gridStride[1] = 2 * grid->cellCount[0];
        gridStride[2] = 2 * grid->cellCount[0] * grid->cellCount[1];
        gridMinMax = grid->minMax;
        return true;
    }

    // Copies the ray set-up and derives the eye: the point windowToPhysical maps the window
    // direction (0, 0, 1, 0) to, eye = (m8, m9, m10) / m11.
    void BindSceneParam(const VRSceneParam& param) {
        windowToPhysical = param.windowToPhysical;
        physicalToVoxel = param.physicalToVoxel;
        flatBox = false;
        for (int i = 0; i < 6; ++i)
            croppingBounds[i] = param.croppingBounds[i];
        for (int a = 0; a < 3; ++a)
            if (croppingBounds[2 * a] == croppingBounds[2 * a + 1]) flatBox = true;
        const float* const m = windowToPhysical;
        eye = Vector4(m[8] / m[11], m[9] / m[11], m[10] / m[11], 1.f);
        eyeVoxel = physicalToVoxel * eye;
    }

    // The (min, max) pair of macro cell (mx, my, mz), each index clamped to the grid.
    const float* GridCell(int mx, int my, int mz) const {
        return gridMinMax + gridStride[0] * ClampIndex(mx, gridCellCount[0]) +
               gridStride[1] * ClampIndex(my, gridCellCount[1]) +
               gridStride[2] * ClampIndex(mz, gridCellCount[2]);
    }

    // Whether a ray with this clipped interval is traced. A ray meets the box when tFar > tNear. A
    // box of zero thickness along an axis (a volume one voxel thick, or a flat cropping box) has no
    // inside: there a ray that crosses the plane inside the other bounds, tNear == tFar, is traced
    // as a zero-length segment, so that the plane is sampled once and a single slice shows.
    bool Hits(const PixelRay& ray) const {
        return ray.tFar > ray.tNear || (flatBox && ray.tFar == ray.tNear);
    }

    // Takes the per-pixel ray limit of param over the region of image (the limit's layout).
    void BindRayLimit(const VRSceneParam& param, const VRImage& image) {
        rayLimit = param.rayLimit;
        rayLimitX = image.windowX;
        rayLimitY = image.windowY;
        rayLimitWidth = image.width;
    }

    // Ends the ray of window pixel (x, y) at its limit (opaque geometry in front of the box's far
    // side); a limit at or before tNear makes the ray miss.
    void ClipToRayLimit(int x, int y, PixelRay& ray) const {
        const float limit = rayLimit[std::size_t(y - rayLimitY) * std::size_t(rayLimitWidth) +
                                     std::size_t(x - rayLimitX)];
        if (limit < ray.tFar) ray.tFar = limit;
    }

    // Ray through window position (px, py), clipped to the cropping box (SetUpClippedRay).
    void SetUpPixelRay(float px, float py, PixelRay& ray) const {
        SetUpClippedRay(windowToPhysical, physicalToVoxel, eye, eyeVoxel, croppingBounds, px, py,
                        ray);
    }
};

// ---------------------------------------------------------------------------------------------
// Pixel loops

// Channel clamp of the stored colour: not below 1 (NaN included) gives 1, not above 0 gives 0.
inline float ClampChannel(float value) {
    if (!(value < 1.f)) return 1.f;
    if (!(value > 0.f)) return 0.f;
    return value;
}

// Image tiles: the pixel loop hands out kTileWidth x kTileHeight rectangles of the image, in
// rows of tiles from the first image row up, the last tile of a row or column cut at the image's
// edge. Neighbouring rays of a tile cross the same cells and blocks while they are in cache, and
// tiles taken one at a time from a shared counter keep the threads busy when one side of the image
// is empty.
constexpr int kTileWidth = 16;
constexpr int kTileHeight = 16;

// The tiles of a width x height image; no tiles for an image without pixels.
struct ImageTiles {
    int width = 0, height = 0;  // the image's pixels
    int columns = 0, rows = 0;  // tiles per row and per column

    ImageTiles(int imageWidth, int imageHeight) {
        if (imageWidth < 1 || imageHeight < 1) return;
        width = imageWidth;
        height = imageHeight;
        columns = (width - 1) / kTileWidth + 1;
        rows = (height - 1) / kTileHeight + 1;
    }

    int Count() const { return columns * rows; }

    // Pixels [x0, x1) x [y0, y1) of tile `tile` in [0, Count()).
    void Bounds(int tile, int& x0, int& y0, int& x1, int& y1) const {
        x0 = (tile % columns) * kTileWidth;
        y0 = (tile / columns) * kTileHeight;
        x1 = x0 + kTileWidth < width ? x0 + kTileWidth : width;
        y1 = y0 + kTileHeight < height ? y0 + kTileHeight : height;
    }
};

// Renders tile `tile` of image: pixel(x, y) gives the RGBA of window pixel (x, y), stored clamped.
template <class PixelFunction>
void RenderTile(const VRImage& image, const ImageTiles& tiles, int tile, PixelFunction& pixel) {
    int x0, y0, x1, y1;
    tiles.Bounds(tile, x0, y0, x1, y1);
    const std::size_t width = std::size_t(image.width);
    const int windowX = image.windowX, windowY = image.windowY;
    for (int row = y0; row < y1; ++row) {
        float* out = image.pixels + (std::size_t(row) * width + std::size_t(x0)) * 4;
        for (int column = x0; column < x1; ++column, out += 4) {
            const Vector4 colour = pixel(windowX + column, windowY + row);
            out[0] = ClampChannel(colour.x);
            out[1] = ClampChannel(colour.y);
            out[2] = ClampChannel(colour.z);
            out[3] = ClampChannel(colour.w);
        }
    }
}

// One worker's fixed share of the image: tiles threadIndex, threadIndex + threadCount, ... Does
// nothing for an image without pixels.
template <class PixelFunction>
void ForEachPixel(const VRImage& image, int threadCount, int threadIndex, PixelFunction& pixel) {
    if (!image.pixels) return;
    const ImageTiles tiles(image.width, image.height);
    const int step = threadCount > 0 ? threadCount : 1;
    for (int tile = threadIndex; tile < tiles.Count(); tile += step)
        RenderTile(image, tiles, tile, pixel);
}

// One worker's dynamic share: tiles taken from nextTile until none is left. Each tile index is
// handed to exactly one worker (a relaxed fetch-and-add orders nothing else: the workers write
// disjoint pixels, and the fan-out's join publishes them). Does nothing for an image without
// pixels.
template <class PixelFunction>
void ForEachTakenTile(const VRImage& image, std::atomic<int>& nextTile, PixelFunction& pixel) {
    if (!image.pixels) return;
    const ImageTiles tiles(image.width, image.height);
    for (;;) {
        const int tile = nextTile.fetch_add(1, std::memory_order_relaxed);
        if (tile >= tiles.Count()) return;
        RenderTile(image, tiles, tile, pixel);
    }
}

// The ray pixel: the ray through the pixel centre, traced when it meets the box, else
// transparent.
template <class Tracer>
struct RayPixel {
    const KernelState* state;
    Tracer tracer;

    Vector4 operator()(int x, int y) {
        PixelRay ray;
        state->SetUpPixelRay(float(x) + 0.5f, float(y) + 0.5f, ray);
        if (state->rayLimit) state->ClipToRayLimit(x, y, ray);
        if (!state->Hits(ray)) return Vector4(0.f, 0.f, 0.f, 0.f);
        return tracer(ray);
    }
};

// One worker's fixed share of a ray-cast image (ForEachPixel over RayPixel).
template <class Tracer>
void RenderPixels(const KernelState& state, Tracer& tracer, const VRImage& image, int threadCount,
                  int threadIndex) {
    RayPixel<Tracer&> pixel{&state, tracer};
    ForEachPixel(image, threadCount, threadIndex, pixel);
}

// What RenderImagePixels hands its workers: the pixel function, the image and the frame's tile
// counter (starts at 0).
template <class PixelFunction>
struct PixelJob {
    const PixelFunction* pixel;
    const VRImage* image;
    mutable std::atomic<int> nextTile{0};
};

// WorkerFunction wrapper of ForEachTakenTile; userData is a PixelJob. Each worker works on its
// own copy of the pixel function, which may therefore keep per-thread scratch values.
template <class PixelFunction>
void PixelWorker(int, int, void* userData) {
    const PixelJob<PixelFunction>& job = *static_cast<const PixelJob<PixelFunction>*>(userData);
    PixelFunction pixel = *job.pixel;
    ForEachTakenTile(*job.image, job.nextTile, pixel);
}

// Fills every pixel of image with pixel(x, y) on all processors (or on threadCount threads when
// it is positive); returns when the image is complete. Does nothing when image is null.
template <class PixelFunction>
void RenderImagePixels(VRImage* image, const PixelFunction& pixel, int threadCount = 0) {
    if (!image) return;
    PixelJob<PixelFunction> job{&pixel, image};
    if (threadCount > 0)
        RunOnProcessors(threadCount, &PixelWorker<PixelFunction>, &job);
    else
        RunOnAllProcessors(&PixelWorker<PixelFunction>, &job);
}

// Binds the ray set-up of param into state and renders every pixel of image with tracer (one copy
// per worker); returns when the image is complete. Does nothing when image or param is null.
template <class Tracer>
void RenderImage(KernelState& state, VRImage* image, const VRSceneParam* param,
                 const Tracer& tracer, int threadCount = 0) {
    if (!image || !param) return;
    state.BindSceneParam(*param);
    state.BindRayLimit(*param, *image);
    RenderImagePixels(image, RayPixel<Tracer>{&state, tracer}, threadCount);
}

// ---------------------------------------------------------------------------------------------
// Entry helper

// A kernel's render call: returns without touching the image when volume, param or image is null,
// the volume has no voxels, or grid is given but null or unbuilt (pass useGrid = false for the
// variant without grid); otherwise binds the volume (and grid), chooses the voxel access once and
// renders with Tracer<Access>(state, access, params) on all processors.
template <template <class> class Tracer, class Params>
void RenderKernel(CoherentVolume* volume, bool useGrid, const GridPartition* grid,
                  const VRSceneParam* param, VRImage* image, const Params& params) {
    if (!volume || !param || !image) return;
    KernelState state;
    if (!state.BindVolume(volume) || !state.HasVoxels()) return;
    if (useGrid && !state.BindGridPartition(grid)) return;
    VisitVoxelAccess(state, [&](const auto& voxels) {
        const Tracer<std::decay_t<decltype(voxels)>> tracer(state, voxels, params);
        RenderImage(state, image, param, tracer);
    });
}
