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
// Measurements: see the end of this comment.
//
// Environment:
//   KESTREL_FULL_SIZE=<n>  phantom edge instead of 256 (quick profiling runs)
#include <benchmark/benchmark.h>

#include <algorithm>
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

// The scene's frame without a window.
class PhantomFullScene : public FullVRScene {
public:
    PhantomFullScene() {
        data = LoadPhantom("KESTREL_FULL_SIZE", "KESTREL_FULL_RAW");
        LoadTransferFunctionPreset("ct-soft-tissue-bone", transferFunction);
        SetData(data.get());
        SetTransferFunction(&transferFunction);
        viewport[0] = viewport[1] = kImageSize;
        sceneParam.aspect = 1.0f;
    }

    // Camera of view `view`, then the frame.
    void CastView(int view, bool withGrid) {
        const float azimuth = float(view) * 30.0f * 3.14159265f / 180.0f;
        SetRotation(Quaternion(0.0f, 1.0f, 0.0f, azimuth));
        UpdateCamera();
        CastImage(withGrid);
    }

private:
    std::unique_ptr<VolumeData> data;
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
            for (float a : WindowChannel(*scene.GetKernelModule().image, kImageSize, 3))
                alpha += a;
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
