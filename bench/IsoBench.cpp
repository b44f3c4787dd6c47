// Frame time of the isosurface of the built-in head phantom (256^3 uint16) at the skull,
// 512 x 512 pixels, twelve views around the vertical axis.
//
// The frames are those of an IsosurfaceVRScene: SetData hands the phantom over (bricks, min/max
// grid, cropping), the isovalue is set to 1300, halfway between the phantom's soft tissue (at most
// 1100) and bone (at least 1500), so the surface is the skull's outer and inner tables. Each
// benchmark iteration is one frame: the camera of the view, the ray set-up and image region, and
// the kernel (the scene's CastImage without GL). Views cycle through azimuth 0, 30, ..., 330
// degrees about the model's vertical (y) axis, the camera fitted as the scene fits it (fovy 45,
// bounding sphere filling the view, scale 1), default light and material. Reported counters:
// median_ms and min_ms per frame, cpu_ms (processor time of all threads per frame, steadier on a
// shared machine), coverage (share of the window's pixels on the surface, for comparing with the
// peer's images). bench/vtk_iso_peer.py runs this benchmark beside VTK
// (bench/compare_iso.sh starts it under Xvfb).
//
// Measurements (2-core VM reporting "Intel Xeon Processor", shared with three other builds, load
// average 9 to 15, so wall times are stretched; processor time per frame is the steadier figure).
// bench/compare_iso.sh, 2 rounds, first version of the kernel:
//                                          median ms   min ms   cpu ms per frame
//   Kestrel RenderWithGridPartition            150.7    105.2     47.3
//   Kestrel RenderWithoutGridPartition         587.6    452.3    187.0
//   VTK flying-edges mesh, Render()           1042.7    882.8    453.0   (588520 triangles)
//   VTK GPU ray cast, isosurface mode         7418.2   6322.3   2424.8   (0.5 mm steps)
// VTK's mesh extraction took 129 ms once (not in its frames), its first frame 1514 ms. Ratios of
// the grid entry point to VTK's mesh frame: 0.14 (median), 0.12 (min), 0.10 (processor time); to
// VTK's ray cast: 0.02. Both VTK paths draw through Mesa's llvmpipe, on the same two cores. The
// coverage masks of Kestrel and of VTK's mesh differ in 0.05 % to 0.10 % of the pixels per view
// (silhouette pixels), so the views and the surface agree.
// Where the grid entry point's time goes (perf, 36 frames): the inlined macro-cell and voxel-cell
// walk with its corner tests about 50 %, trilinear samples (the entry sample and the six of each
// hit's normal) about 25 %, root finding 6 %, ray set-up 6 %, walk set-up 6 %.
// Pixel loop in 16 x 16 tiles taken from a shared counter: bench/compare_iso.sh with the build
// after, then before (2 rounds each, load average 3 to 4): grid median 38.2 -> 37.4 ms, min
// 19.9 -> 19.4 ms, processor time 49.3 -> 48.1 ms per frame; ratio to VTK's mesh frame 0.12 ->
// 0.12 (median), 0.12 -> 0.11 (min), 0.11 -> 0.10 (processor time). A later run after the change
// at load 2.7: median 27.9 ms, min 21.2 ms, processor time 55.0 ms, ratios 0.12 / 0.11 / 0.10.
//
// Environment (used by the peer script):
//   KESTREL_ISO_RAW=<path>   write the phantom's samples there (raw uint16, x fastest)
//   KESTREL_ISO_DUMP=<dir>   write each view's coverage mask (1 on the surface, 0 elsewhere) as
//                            <dir>/kestrel_view<N>.f32 (512 x 512 floats, rows bottom-up)
//   KESTREL_ISO_SIZE=<n>     phantom edge instead of 256 (quick profiling runs)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "HeadPhantom.h"
#include "IsosurfaceVRScene.h"
#include "Quaternion.h"
#include "ViewFrames.h"
#include "VolumeData.h"

namespace {

constexpr int kImageSize = 512;
constexpr int kViews = 12;
// Halfway between soft tissue and bone.
constexpr float kSkullIsovalue =
    0.5f * (HeadPhantomValues::kSoftTissueMax + HeadPhantomValues::kBoneMin);

// The scene's frame without a window, at the skull.
class PhantomIsoScene : public WindowlessScene<IsosurfaceVRScene> {
public:
    PhantomIsoScene() : WindowlessScene(kImageSize, "KESTREL_ISO_SIZE", "KESTREL_ISO_RAW") {
        SetIsovalue(kSkullIsovalue);
    }
};

PhantomIsoScene& Scene() {
    static PhantomIsoScene scene;
    return scene;
}

void IsoFrames(benchmark::State& state, bool withGrid) {
    PhantomIsoScene& scene = Scene();
    const char* dumpDir = std::getenv("KESTREL_ISO_DUMP");
    FrameTimes times;
    double coverage = 0.0;
    int view = 0;
    for (auto _ : state) {
        times.Time(state, [&] { scene.CastView(view, withGrid); });
        if (times.Count() <= std::size_t(kViews)) {
            // 1 where the view's ray met the surface, over the whole window.
            const std::vector<float> mask =
                WindowChannel(*scene.GetKernelModule().image, kImageSize, 3);
            for (float m : mask)
                coverage += m;
            if (withGrid) DumpView(dumpDir, view, mask);
        }
        view = (view + 1) % kViews;
    }
    times.Report(state);
    state.counters["coverage"] =
        coverage / (double(std::min<std::size_t>(times.Count(), kViews)) * kImageSize * kImageSize);
}

}  // namespace

// Three passes over the twelve views with the grid, one without.
BENCHMARK_CAPTURE(IsoFrames, RenderWithGridPartition, true)
    ->UseManualTime()
    ->Iterations(3 * kViews)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(IsoFrames, RenderWithoutGridPartition, false)
    ->UseManualTime()
    ->Iterations(kViews)
    ->Unit(benchmark::kMillisecond);
