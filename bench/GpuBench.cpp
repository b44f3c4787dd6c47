// Frame time of the GPU views against their CPU twins: CUDAMIPVRScene, CUDAIsosurfaceVRScene and
// CUDAFullVRScene beside MIPVRScene, IsosurfaceVRScene and FullVRScene on the built-in head
// phantom (256^3 uint16), 512 x 512
// pixels, twelve views around the vertical axis (azimuth 0, 30, ..., 330 degrees), camera fitted
// by the scene. One iteration is the GL-free part of a scene's frame (CastImage: ray set-up,
// image allocation, kernel; for a GPU scene also the image hand-over calls of KestrelCUDA); the
// GPU scene's deferred upload happens in an untimed first frame. The isosurface is the skull
// (isovalue 1300), lit by the default light. The full view shades (default light) through a
// transfer function that leaves air transparent, shows soft tissue faintly and bone brightly
// (256 entries over 0 .. 4096); its GPU scene also runs with pre-integration (Full/gpu-preint),
// whose segment table is built in the untimed first frame and kept while the function stays.
// Counters as in MipBench (median_ms, min_ms, cpu_ms per frame); KESTREL_GPU_BENCH_SIZE sets
// another phantom edge.
//
// On a machine without a CUDA device the GPU scenes run on KestrelCUDA's host back end, which
// calls the same CPU kernels, so the figures measure what the GPU path adds around them (the
// library's dispatch, the image it draws through, the scene's per-frame checks): the ratio GPU
// / CPU twin is expected at 1.0 and must stay at or below 1.05.
//
// Measurements (2-core VM, "Intel(R) Xeon(R) Processor", shared with other builds; 256^3 phantom,
// 512 x 512, host back end, 48 frames per case, one run each), processor time per frame (cpu_ms),
// wall median:
//   MIP        CPU scene 135.0 ms   GPU scene 133.4 ms   ratio 0.99   (wall 395 / 421 ms, load 13)
//   isosurface CPU scene  48.9 ms   GPU scene  48.8 ms   ratio 1.00   (wall 128 / 102 ms, load 13)
//   full       CPU scene 703.6 ms   GPU scene 694.9 ms   ratio 0.99   (wall 1038 / 1030 ms,
//   load 2.3) full, pre-integrated GPU scene 1986 ms (wall 2811 ms): its entry point samples every
//   step of every ray, air included (no empty-space skipping), and reads the segment table
//   bilinearly.
// Again after the full kernel's normal and per-ray memo work (quiet machine, load about 0.5;
// MIP the second of two runs, the first run's CPU case having been 122 ms):
//   MIP        CPU scene 136.3 ms   GPU scene 136.6 ms   ratio 1.00   (wall 65 / 73 ms)
//   isosurface CPU scene  50.2 ms   GPU scene  50.1 ms   ratio 1.00   (wall 26 / 26 ms)
//   full       CPU scene 351.7 ms   GPU scene 355.5 ms   ratio 1.01   (wall 177 / 177 ms)
//   full, pre-integrated GPU scene 1446 ms (wall 735 ms).
// The wall times swing with the machine's other load; the processor times agree within 1.3%.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <type_traits>

#include "CUDAFullVRScene.h"
#include "CUDAInit.h"
#include "CUDAIsosurfaceVRScene.h"
#include "CUDAMIPVRScene.h"
#include "FullVRScene.h"
#include "IsosurfaceVRScene.h"
#include "MIPVRScene.h"
#include "Quaternion.h"
#include "RGBATransferFunction1D.h"
#include "ViewFrames.h"

namespace {

constexpr int kImageSize = 512;
constexpr int kViews = 12;
constexpr int kFrames = 48;  // four rounds of the twelve views per case
constexpr float kIsovalue = 1300.0f;
constexpr float kPi = 3.14159265358979f;

VolumeData* Phantom() {
    static std::unique_ptr<VolumeData> data =
        LoadPhantom("KESTREL_GPU_BENCH_SIZE", "KESTREL_GPU_BENCH_RAW");
    return data.get();
}

// A scene whose GL-free frame the benchmark drives: a 512 x 512 viewport without a window and the
// camera turned to one of the twelve views.
template <class ViewScene>
class BenchScene : public ViewScene {
public:
    BenchScene() {
        this->viewport[0] = this->viewport[1] = kImageSize;
        this->sceneParam.aspect = 1.0f;
        this->SetData(Phantom());
    }
    void Cast(int view) {
        this->SetRotation(Quaternion(0.0f, 1.0f, 0.0f, float(view) * kPi / 6.0f));
        this->UpdateCamera();
        this->CastImage();
    }
};

// The full view's transfer function: air transparent, soft tissue faint, bone bright.
RGBATransferFunction1D* FullFunction() {
    static std::unique_ptr<RGBATransferFunction1D> function;
    if (!function) {
        function.reset(new RGBATransferFunction1D);
        function->SetMinPos(0.0f);
        function->SetMaxPos(4096.0f);
        function->SetSampleNumber(256);
        function->AddPoint(400.0f, Vector4(0.0f, 0.0f, 0.0f, 0.0f));
        function->AddPoint(1000.0f, Vector4(0.9f, 0.6f, 0.4f, 0.05f));
        function->AddPoint(1300.0f, Vector4(1.0f, 0.9f, 0.8f, 0.4f));
        function->AddPoint(3000.0f, Vector4(1.0f, 1.0f, 1.0f, 0.8f));
    }
    return function.get();
}

// The GPU full view with pre-integration.
class PreintegratedFullScene : public CUDAFullVRScene {
public:
    PreintegratedFullScene() { SetPreintegration(true); }
};

template <class ViewScene>
void SetTechnique(ViewScene& scene) {
    if constexpr (std::is_base_of_v<IsosurfaceViewControls<ViewScene>, ViewScene>)
        scene.SetIsovalue(kIsovalue);
    if constexpr (std::is_base_of_v<FullVRScene, ViewScene> ||
                  std::is_base_of_v<CUDAFullVRScene, ViewScene>)
        scene.SetTransferFunction(FullFunction());
}

template <class ViewScene>
void BM_Frame(benchmark::State& state) {
    CUDAInit(true);
    BenchScene<ViewScene> scene;
    SetTechnique<ViewScene>(scene);
    scene.Cast(0);  // a GPU scene uploads the volume here
    FrameTimes times;
    int view = 0;
    for (auto _ : state) {
        times.Time(state, [&] { scene.Cast(view); });
        view = (view + 1) % kViews;
    }
    times.Report(state);
    state.SetLabel(CUDAActiveBackEnd());
}

BENCHMARK(BM_Frame<MIPVRScene>)->Name("MIP/cpu")->UseManualTime()->Iterations(kFrames);
BENCHMARK(BM_Frame<CUDAMIPVRScene>)->Name("MIP/gpu")->UseManualTime()->Iterations(kFrames);
BENCHMARK(BM_Frame<IsosurfaceVRScene>)->Name("Iso/cpu")->UseManualTime()->Iterations(kFrames);
BENCHMARK(BM_Frame<CUDAIsosurfaceVRScene>)->Name("Iso/gpu")->UseManualTime()->Iterations(kFrames);
BENCHMARK(BM_Frame<FullVRScene>)->Name("Full/cpu")->UseManualTime()->Iterations(kFrames);
BENCHMARK(BM_Frame<CUDAFullVRScene>)->Name("Full/gpu")->UseManualTime()->Iterations(kFrames);
BENCHMARK(BM_Frame<PreintegratedFullScene>)
    ->Name("Full/gpu-preint")
    ->UseManualTime()
    ->Iterations(kFrames);

}  // namespace
