// Frame time of full volume rendering of the built-in head phantom (256^3 uint16) through the
// ct-soft-tissue-bone preset, 512 x 512 pixels, twelve views around the vertical axis, shading
// off and on, with and without the min/max grid.
//
// The frame is FullVRScene's without a window: each benchmark iteration sets the camera of the
// view, then runs the scene's CastImage (the transfer function's table lent to the kernel, the
// opacity sums rebuilt, the ray set-up and image region, the kernel). Sample distance one ninth
// of the voxel diagonal (sqrt(3) / 9 mm), default light (direction (1, 0, 0), ambient 0.1,
// diffuse 1, specular 0.5, power 10). Views cycle through azimuth 0, 30, ..., 330 degrees about
// the model's vertical (y) axis, the camera fitted as the scene fits it (fovy 45, bounding sphere
// filling the view, scale 1). Reported counters: cpu_ms (processor time of all threads per frame,
// the steadier figure on a shared machine), median_ms and min_ms (wall time per frame),
// mean_alpha (the views' opacity over the whole window).
//
// Measurements, first version (2-core VM shared with five other builds, load average about 8, so
// the threads got about half the machine; processor time per frame is the figure to compare;
// 512 x 512, one pass over the twelve views each):
//                        cpu_ms   median_ms   min_ms   mean_alpha
//   grid, shaded            903        1878     1409       0.1476
//   grid, unshaded          324         679      563       0.1476
//   no grid, shaded        1857        3812     3630       0.1475
//   no grid, unshaded      1329        2731     2529       0.1475
// The grid skips the air around and inside the head (the preset is transparent below 900) and
// the transparent gap between soft tissue and bone. The two entry points' mean opacities differ
// by 1e-4: the grid variant restarts its sample spacing at each sampled cell's entry.
//
// Then (same machine, quiet, load average about 2): the normal from the cell corners' central
// differences, read as twelve four-voxel rows around one pointer and interpolated as one
// four-lane pass (32 voxel reads instead of 48); a per-ray memo of the last cell's corners and
// differences (about five samples per cell at the default distance read no voxels after the
// first); no powf at the standard distance, where the power is 1:
//                        cpu_ms   median_ms   min_ms
//   grid, shaded            515         262      216
//   grid, unshaded          272         138      128
//   no grid, shaded        1221         614      542
//   no grid, unshaded       926         470      429
// Shaded, the time goes to the normal of each visible sample (about a third: the rows when the
// ray enters a cell, three trilinear interpolations and the normalisation), powf (about a sixth:
// the opacity correction of every visible sample and the specular highlight), and sampling,
// classification and compositing.
//
// Against VTK's vtkFixedPointVolumeRayCastMapper (composite, two threads, same preset, sample
// distance and opacity unit distance; bench/compare_full.sh, three rounds with Kestrel and VTK
// measured in turn, each figure the median over the rounds; ratio Kestrel grid / VTK):
//   sample distance           shaded: median  min   cpu     unshaded: median  min   cpu
//   0.1925 mm (the default)           0.96   0.84  0.99               0.85   0.86  0.91
//   1 mm                              0.99   1.02  1.12               0.67   0.78  0.78
// (Kestrel grid shaded 251 / 93 ms median, VTK 262 / 94 ms; unshaded 139 / 43 ms, VTK 163 /
// 64 ms.) VTK's processor time is measured around Render only. The images agree to a mean
// absolute difference of 0.002 per channel unshaded and 0.010 .. 0.015 shaded (VTK quantises its
// gradients and lights differently).
//
// Then the pixel loop in 16 x 16 tiles taken from a shared counter, and the opacity correction
// through a per-frame table (the float's exponent and top mantissa bits) instead of powf per
// sample; images within 2.5e-7 per sample of before (over the twelve views, mean absolute
// difference 2e-8 shaded, 4e-8 unshaded; 38 and 70 of 9.4 M channels differ at 8 bits, where
// early termination moves by a sample). bench/compare_full.sh at the default distance, the build
// after, then before (2 rounds each, load average about 2.3), ratio Kestrel grid / VTK:
//                       shaded: median  min   cpu     unshaded: median  min   cpu
//   before                      0.96   0.93  1.05               0.90   1.11  1.00
//   after                       0.87   0.90  0.89               1.20   0.80  0.89
// (after: Kestrel grid shaded 440 / 288 / 609 ms median / min / cpu, VTK 508 / 320 / 687;
// unshaded 247 / 144 / 332, VTK 206 / 179 / 371.) The processor-time ratio is the steady figure
// on this shared machine; the 0.5 target is not reached. Before the change perf put powf at 22 %
// of the unshaded and 18 % of the shaded frame's processor time (the shaded share includes the
// specular highlight's power, which stays); the normal of each visible sample 23 % of the shaded
// frame, sampling, classification and compositing inlined in the ray the rest.
// One core (taskset -c 0) against two, bench/compare_cores.sh, one round, load about 2.3:
//   view              1 core median / min ms   2 cores median / min ms   speed-up median  min
//   MIP                       152.3 / 104.0             76.9 /  60.6             1.98   1.72
//   isosurface                 52.6 /  42.3             24.8 /  20.4             2.12   2.07
//   full, shaded              638.8 / 551.7            333.5 / 291.7             1.92   1.89
//   full, unshaded            332.4 / 297.0            175.3 / 161.5             1.90   1.84
//
// Environment:
//   KESTREL_FULL_SIZE=<n>      phantom edge instead of 256 (quick profiling runs)
//   KESTREL_FULL_RAW=<path>    write the phantom's samples there (raw uint16, x fastest)
//   KESTREL_FULL_DISTANCE=<d>  sample distance in mm instead of the scene's default
//   KESTREL_FULL_DUMP=<dir>    write each view's red, green and blue over black (grid entry point,
//                              shaded and unshaded) as <dir>/kestrel_<shaded|unshaded>_<c>_view<N>
//                              .f32, 512 x 512 floats, rows bottom-up
// bench/vtk_full_peer.py runs this benchmark beside VTK (bench/compare_full.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <memory>
#include <vector>

#include "FullVRScene.h"
#include "HeadPhantom.h"
#include "Quaternion.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionFile.h"
#include "ViewFrames.h"
#include "VolumeData.h"

namespace {

constexpr int kImageSize = 512;
constexpr int kViews = 12;

// The scene's frame without a window, through the CT preset.
class PhantomFullScene : public WindowlessScene<FullVRScene> {
public:
    PhantomFullScene() : WindowlessScene(kImageSize, "KESTREL_FULL_SIZE", "KESTREL_FULL_RAW") {
        LoadTransferFunctionPreset("ct-soft-tissue-bone", transferFunction);
        SetTransferFunction(&transferFunction);
        if (const char* distance = std::getenv("KESTREL_FULL_DISTANCE"))
            GetKernelModule().sampleDistance = float(std::atof(distance));
    }

private:
    RGBATransferFunction1D transferFunction;
};

PhantomFullScene& Scene() {
    static PhantomFullScene scene;
    return scene;
}

void FullFrames(benchmark::State& state, bool withGrid, bool shade) {
    PhantomFullScene& scene = Scene();
    scene.SetShade(shade);
    FrameTimes times;
    double alpha = 0.0;
    int view = 0;
    for (auto _ : state) {
        times.Time(state, [&] { scene.CastView(view, withGrid); });
        if (times.Count() <= std::size_t(kViews)) {
            const VRImage& image = *scene.GetKernelModule().image;
            for (float a : WindowChannel(image, kImageSize, 3))
                alpha += a;
            if (const char* dump = std::getenv("KESTREL_FULL_DUMP")) {
                for (int c = 0; c < 3 && withGrid; ++c) {
                    const std::vector<float> values = WindowChannel(image, kImageSize, c);
                    const std::string path = std::string(dump) + "/kestrel_" +
                                             (shade ? "shaded_" : "unshaded_") + "rgb"[c] +
                                             "_view" + std::to_string(view) + ".f32";
                    if (FILE* file = std::fopen(path.c_str(), "wb")) {
                        std::fwrite(values.data(), sizeof(float), values.size(), file);
                        std::fclose(file);
                    }
                }
            }
        }
        view = (view + 1) % kViews;
    }
    times.Report(state);
    state.counters["mean_alpha"] =
        alpha / (double(std::min<std::size_t>(times.Count(), kViews)) * kImageSize * kImageSize);
}

}  // namespace

// One pass over the twelve views per configuration.
BENCHMARK_CAPTURE(FullFrames, GridShaded, true, true)
    ->UseManualTime()
    ->Iterations(kViews)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FullFrames, GridUnshaded, true, false)
    ->UseManualTime()
    ->Iterations(kViews)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FullFrames, NoGridShaded, false, true)
    ->UseManualTime()
    ->Iterations(kViews)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FullFrames, NoGridUnshaded, false, false)
    ->UseManualTime()
    ->Iterations(kViews)
    ->Unit(benchmark::kMillisecond);
