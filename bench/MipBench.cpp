// Frame time of the maximum-intensity projection of the built-in head phantom
// (256^3 uint16), 512 x 512 pixels, twelve views around the vertical axis.
//
// Each benchmark iteration is one frame: the ray set-up of the view
// (CalculateVRSceneParamAndImageRegion, VRImage::Allocate) and the kernel.
// Views cycle through azimuth 0, 30, ..., 330 degrees about the model's
// vertical (y) axis, the camera fitted as a scene fits it (fovy 45, bounding
// sphere filling the view, scale 1). Reported counters: median_ms and min_ms
// per frame, cpu_ms (processor time of all threads per frame, less sensitive
// to other load on the machine), mean_grey of the views over the whole window
// (for comparing with the peer's images). bench/vtk_mip_peer.py runs this
// benchmark beside VTK (bench/compare_mip.sh starts it under Xvfb).
//
// Measurements (2-core VM, shared with other work, so wall times vary; the
// processor time per frame of the grid entry point is the steadier figure):
//   first version, frame's corner fetch through CoherentVolume::GetValue ~233 ms
//   direct block reads, flattened per-ray routines, select-based cubic   ~205 ms
//   walk cursor in the block, chord bound before the cubic solve          ~181 ms
//   block reads for straddling cells and the entry sample, macro pointer  ~174 ms
//   corner test on unconverted samples                                     ~167 ms
//   macro cells visited from the highest grid maximum down                 ~146 ms
//   kernels built at -O3 in the -O2 default build (CMake)                 ~124 ms
//     (same run, alternating builds, 8 rounds: 133 ms before; earlier rows
//     were measured under other load)
//   kernel on the shared frame (typed voxel access, in-order walks, RenderKernel entry)
//     135 ms against 137 .. 147 ms before (same run, alternating builds, 3 rounds, machine
//     under other load); images bit-identical
//   phantom with partial-volume boundaries (about one voxel; same kernel, same run, two
//     alternating rounds, machine under other load): grid 130 / 124 ms before, 128 / 124 ms
//     after; without grid 330 / 308 ms before, 302 / 294 ms after; mean grey 0.0954 before,
//     0.0946 after (a different volume: boundary voxels hold mixed values)
// Every step except the macro-cell ordering left the twelve images
// bit-identical (compared with cmp on the KESTREL_MIP_DUMP output); the
// ordering changed 11 of the 3.1 M float pixels by at most 1.1e-4 grey
// (rounding where the voxel walk restarts at a macro cell), none at 8 bits.
// Tried without gain (images identical, processor time within noise): ending
// a macro cell's voxel walk once the maximum reaches the cell's grid maximum. Against VTK's
// vtkFixedPointVolumeRayCastMapper (MIP, 2 threads, 1-voxel sampling) in the
// same run at low machine load (bench/compare_mip.sh, 3 rounds): Kestrel grid
// median 78 ms, min 56 ms; VTK Render() median 95 ms, min 70 ms (the mapper's
// own time 78 / 54 ms): ratio 0.82 against Render(), 0.99 against the
// mapper's time. With VTK sampling every half voxel its Render() takes 163 ms.
// Then the pixel loop in 16 x 16 tiles taken from a shared counter instead of interleaved
// columns: twelve images bit-identical (cmp on KESTREL_MIP_DUMP). bench/compare_mip.sh with the
// build after, then before (2 rounds each, load average about 3): Kestrel grid processor time
// 142.9 -> 122.5 ms per frame, ratio to VTK's processor time 0.61 -> 0.51; the wall-time ratios
// (0.80 -> 0.73 median, 0.78 -> 0.87 min) moved with the machine's other load (VTK's own median
// 98 -> 161 ms between the two runs). The MIP target of 0.4 is not reached.
//
// Environment (used by the peer script):
//   KESTREL_MIP_RAW=<path>   write the phantom's samples there (raw uint16, x fastest)
//   KESTREL_MIP_DUMP=<dir>   write each view's grey image, composited over black,
//                            as <dir>/kestrel_view<N>.f32 (512 x 512 floats, rows bottom-up)
//   KESTREL_MIP_SIZE=<n>     phantom edge instead of 256 (quick profiling runs)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "HeadPhantom.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"
#include "Quaternion.h"
#include "SceneParam.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "ViewFrames.h"
#include "VolumeData.h"

namespace {

constexpr int kImageSize = 512;
constexpr int kViews = 12;

struct PhantomFrame {
    std::unique_ptr<VolumeData> data;
    CoherentVolume volume;
    GridPartition grid;
    MIPRayCasterParam param;
    VRSceneParam sceneParam;
    VRImage image;
    MIPVR kernel;

    PhantomFrame() {
        data = LoadPhantom("KESTREL_MIP_SIZE", "KESTREL_MIP_RAW");
        // What a MIP scene does with a new volume.
        double lo, hi;
        data->GetMinMaxValue(lo, hi);
        param.windowCenter = float((lo + hi) * 0.5);
        param.windowWidth = float(hi - lo);
        volume.SetData(data.get());
        grid.Init(&volume, 0.4f);
        for (int a = 0; a < 3; ++a) {
            sceneParam.croppingBounds[2 * a] = 0.0f;
            sceneParam.croppingBounds[2 * a + 1] = float(volume.dimensions[a] - 1);
        }
        kernel.volume = &volume;
        kernel.gridPartition = &grid;
        kernel.mipParam = &param;
        kernel.vrSceneParam = &sceneParam;
        kernel.image = &image;
    }

    // Camera of view `view`, then the frame's ray set-up and image region.
    void SetView(int view) {
        float size[3];
        for (int a = 0; a < 3; ++a)
            size[a] = float(volume.dimensions[a]) * volume.spacings[a];
        SceneParam camera;
        camera.InitSceneParam(45.0f, 1.0f, size);
        const float azimuth = float(view) * 30.0f * 3.14159265f / 180.0f;
        camera.rotation = Quaternion(0.0f, 1.0f, 0.0f, azimuth);
        Matrix4x4 viewMatrix, projection;
        camera.CalculateMatrix(&viewMatrix, &projection);
        const int viewport[2] = {kImageSize, kImageSize};
        sceneParam.CalculateVRSceneParamAndImageRegion(viewport, volume.dimensions, volume.spacings,
                                                       viewMatrix, projection, &image.windowX,
                                                       &image.width);
        image.Allocate();
    }
};

PhantomFrame& Frame() {
    static PhantomFrame frame;
    return frame;
}

void MipFrames(benchmark::State& state, bool withGrid) {
    PhantomFrame& frame = Frame();
    const char* dumpDir = std::getenv("KESTREL_MIP_DUMP");
    FrameTimes times;
    double greySum = 0.0;
    int view = 0;
    for (auto _ : state) {
        times.Time(state, [&] {
            frame.SetView(view);
            if (withGrid)
                frame.kernel.RenderWithGridPartition();
            else
                frame.kernel.RenderWithoutGridPartition();
        });
        if (times.Count() <= std::size_t(kViews)) {
            // Grey of the view over the whole window: the region over black, as drawn.
            const std::vector<float> grey = WindowChannel(frame.image, kImageSize, 0);
            for (float g : grey)
                greySum += g;
            if (withGrid) DumpView(dumpDir, view, grey);
        }
        view = (view + 1) % kViews;
    }
    times.Report(state);
    state.counters["mean_grey"] =
        greySum / (double(std::min<std::size_t>(times.Count(), kViews)) * kImageSize * kImageSize);
}

}  // namespace

// Three passes over the twelve views with the grid, one without (it is slower).
BENCHMARK_CAPTURE(MipFrames, RenderWithGridPartition, true)
    ->UseManualTime()
    ->Iterations(3 * kViews)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MipFrames, RenderWithoutGridPartition, false)
    ->UseManualTime()
    ->Iterations(kViews)
    ->Unit(benchmark::kMillisecond);
