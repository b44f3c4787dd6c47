// One fly-through frame of the built-in head phantom (256^3 uint16, 1 mm voxels): the endoscopy
// slice at 1024 x 1024 pixels and the companion MIP view at 512 x 512 pixels, both from one
// camera inside the head, and a memory-bound floor for the slice.
//
//   Slice/Horizontal    horizontal cut, camera at the face looking back, 0.24 mm pixels: the
//                       cut spans the head (every pixel one trilinear sample)
//   Slice/Turned        vertical cut of the camera turned and rolled (a gather across blocks)
//   FloorGather/...     the plain loop each cut is held against: for each of the same 1024^2
//                       pixels, the nearest voxel of the cut's position gathered from the dense
//                       sample buffer and stored as an opaque grey pixel, on all processors (rows
//                       split in bands, so no two threads share a cache line)
//   MipCompanion        MIPVR::RenderWithGridPartition of the turned camera (fovy 45, eye inside
//                       the head, rays from the eye) with its ray set-up, as MIPVRScene draws the
//                       view beside the slice in endoscopy mode
// Counters: median_ms and min_ms per frame, cpu_ms (processor time of all threads per frame),
// ns_per_pixel (median frame time / pixels).
//
// Measurements (2-core VM shared with five other builds, load average about 11, so wall times
// vary by a third between runs; the processor time of all threads per frame, cpu_ms, is the
// steadier figure; volume: the 256^3 uint16 phantom, 1 mm voxels; two runs):
//                              image         median wall ms   cpu ms   cpu ns / pixel
//   Slice/Horizontal           1024 x 1024   44 .. 50         19       18
//   Slice/Turned               1024 x 1024   64 .. 80         30       28
//   FloorGather/Horizontal     1024 x 1024    8 .. 10          4.0      3.8
//   FloorGather/Turned         1024 x 1024   27 .. 32         11.6     11
//   MipCompanion                512 x 512    1270 .. 1310     505      1930
// The slice against its floor (cpu time): the turned cut 2.6x its gather; the horizontal cut
// 4.7x its own floor, which at a quarter voxel per pixel along x reads each voxel four times
// from L1 and is little more than the 16 MB stream of stores, and 1.6x the turned cut's gather.
// Keeping the last cell's corners per worker took the horizontal cut from 23 to 18 ms
// processor time (the turned cut's cells rarely repeat). Rendering on one worker instead of two
// (no two threads writing alternate pixels of one cache line) took only a tenth off the
// processor time, so the frame's column interleaving stays. A
// fly-through frame is thus the slice plus the MIP view beside it: the MIP, whose rays start
// inside the head and cross it whole, costs about 25 times the slice.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "CoherentVolume.h"
#include "EndoscopySliceRendering.h"
#include "GridPartition.h"
#include "HeadPhantom.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "SceneParam.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "VolumeData.h"
#include "kernels/KernelFrame.h"

namespace {

constexpr int kSliceSize = 1024;
constexpr int kMipSize = 512;
constexpr int kFrames = 20;

struct FlyThrough {
    std::unique_ptr<VolumeData> data;
    CoherentVolume volume;
    GridPartition grid;
    float size[3];
    SceneParam straight;  // at the face, looking back along -z
    SceneParam turned;    // the same eye, turned and rolled

    FlyThrough() {
        data.reset(CreateHeadPhantom(256));
        volume.SetData(data.get());
        grid.Init(&volume, 0.4f);
        for (int a = 0; a < 3; ++a)
            size[a] = float(volume.dimensions[a]) * volume.spacings[a];
        straight.InitSceneParam(45.0f, 1.0f, size);
        straight.MoveTo(128.0f, 128.0f, 251.0f, size);
        turned = straight;
        turned.Turn(0.35f, -0.2f);
        turned.Roll(0.3f);
    }
};

FlyThrough& Scene() {
    static FlyThrough scene;
    return scene;
}

// Runs frame() kFrames times with manual timing and reports the frame counters.
template <class Frame>
void TimeFrames(benchmark::State& state, double pixels, Frame&& frame) {
    std::vector<double> ms;
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        frame();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        ms.push_back(elapsed.count() * 1e3);
    }
    const double cpuMs = double(std::clock() - cpuStart) * 1e3 / CLOCKS_PER_SEC;
    std::sort(ms.begin(), ms.end());
    state.counters["cpu_ms"] = cpuMs / double(ms.size());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["min_ms"] = ms.front();
    state.counters["ns_per_pixel"] = ms[ms.size() / 2] * 1e6 / pixels;
}

struct SliceFrame {
    VRImage image;
    EndoscopySliceRendering kernel;

    SliceFrame(FlyThrough& scene, const SceneParam& camera, bool horizontal, float pixelSize) {
        image.width = kSliceSize;
        image.height = kSliceSize;
        image.Allocate();
        kernel.volume = &scene.volume;
        kernel.image = &image;
        for (int a = 0; a < 3; ++a)
            kernel.sliceBounds[2 * a + 1] = float(scene.volume.dimensions[a] - 1);
        kernel.windowWidth = 3500.0f;
        kernel.windowCenter = 1750.0f;
        Matrix4x4 view;
        camera.CalculateViewMatrix(&view);
        kernel.CalculatePixelToVoxelMatrix(horizontal, pixelSize * camera.scale, view);
    }
};

void SliceHorizontal(benchmark::State& state) {
    FlyThrough& scene = Scene();
    SliceFrame slice(scene, scene.straight, true, 0.24f);
    TimeFrames(state, double(kSliceSize) * kSliceSize, [&] { slice.kernel.Render(); });
}

void SliceTurned(benchmark::State& state) {
    FlyThrough& scene = Scene();
    SliceFrame slice(scene, scene.turned, false, 0.24f);
    TimeFrames(state, double(kSliceSize) * kSliceSize, [&] { slice.kernel.Render(); });
}

// The floor's work: a band of rows of a cut, the nearest voxel from the dense buffer.
struct GatherJob {
    const std::uint16_t* samples;
    const int* dims;
    const EndoscopySliceRendering* map;
    float* pixels;
};

void GatherRows(int threadCount, int threadIndex, void* userData) {
    const GatherJob& job = *static_cast<const GatherJob*>(userData);
    const int first = kSliceSize * threadIndex / threadCount;
    const int last = kSliceSize * (threadIndex + 1) / threadCount;
    const float* const col = job.map->columnStep;
    const float* const row = job.map->rowStep;
    const float* const origin = job.map->sliceOrigin;
    const int dx = job.dims[0], dy = job.dims[1], dz = job.dims[2];
    for (int i = first; i < last; ++i) {
        float p[3];
        for (int a = 0; a < 3; ++a)
            p[a] = origin[a] + 0.5f * col[a] + (float(i) + 0.5f) * row[a] + 0.5f;
        float* out = job.pixels + std::size_t(i) * kSliceSize * 4;
        for (int j = 0; j < kSliceSize; ++j, out += 4) {
            const int x = std::min(std::max(int(p[0]), 0), dx - 1);
            const int y = std::min(std::max(int(p[1]), 0), dy - 1);
            const int z = std::min(std::max(int(p[2]), 0), dz - 1);
            const float g =
                float(job.samples[x + std::ptrdiff_t(dx) * (y + std::ptrdiff_t(dy) * z)]) *
                (1.0f / 3500.0f);
            out[0] = g;
            out[1] = g;
            out[2] = g;
            out[3] = 1.0f;
            p[0] += col[0];
            p[1] += col[1];
            p[2] += col[2];
        }
    }
}

void FloorGather(benchmark::State& state, bool turned) {
    FlyThrough& scene = Scene();
    SliceFrame slice(scene, turned ? scene.turned : scene.straight, !turned, 0.24f);
    GatherJob job{static_cast<const std::uint16_t*>(scene.data->GetData()), scene.volume.dimensions,
                  &slice.kernel, slice.image.pixels};
    TimeFrames(state, double(kSliceSize) * kSliceSize, [&] {
        RunOnAllProcessors(&GatherRows, &job);
        benchmark::DoNotOptimize(slice.image.pixels);
    });
}

void MipCompanion(benchmark::State& state) {
    FlyThrough& scene = Scene();
    MIPRayCasterParam window;
    window.windowWidth = 3500.0f;
    window.windowCenter = 1750.0f;
    VRSceneParam rays;
    for (int a = 0; a < 3; ++a) {
        rays.croppingBounds[2 * a] = 0.0f;
        rays.croppingBounds[2 * a + 1] = float(scene.volume.dimensions[a] - 1);
    }
    VRImage image;
    MIPVR kernel;
    kernel.volume = &scene.volume;
    kernel.gridPartition = &scene.grid;
    kernel.mipParam = &window;
    kernel.vrSceneParam = &rays;
    kernel.image = &image;
    Matrix4x4 view, projection;
    scene.turned.CalculateMatrix(&view, &projection);
    const int viewport[2] = {kMipSize, kMipSize};
    TimeFrames(state, double(kMipSize) * kMipSize, [&] {
        rays.CalculateVRSceneParamAndImageRegion(viewport, scene.volume.dimensions,
                                                 scene.volume.spacings, view, projection,
                                                 &image.windowX, &image.width);
        image.Allocate();
        kernel.RenderWithGridPartition();
    });
}

}  // namespace

BENCHMARK(SliceHorizontal)
    ->Name("Slice/Horizontal")
    ->UseManualTime()
    ->Iterations(kFrames)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SliceTurned)
    ->Name("Slice/Turned")
    ->UseManualTime()
    ->Iterations(kFrames)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FloorGather, Horizontal, false)
    ->UseManualTime()
    ->Iterations(kFrames)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FloorGather, Turned, true)
    ->UseManualTime()
    ->Iterations(kFrames)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MipCompanion)->UseManualTime()->Iterations(kFrames / 2)->Unit(benchmark::kMillisecond);
