// Frame time of the GPU views against their CPU twins: CUDAMIPVRScene and CUDAIsosurfaceVRScene
// beside MIPVRScene and IsosurfaceVRScene on the built-in head phantom (256^3 uint16), 512 x 512
// pixels, twelve views around the vertical axis (azimuth 0, 30, ..., 330 degrees), camera fitted
// by the scene. One iteration is the GL-free part of a scene's frame (CastImage: ray set-up,
// image allocation, kernel; for a GPU scene also the image hand-over calls of KestrelCUDA); the
// GPU scene's deferred upload happens in an untimed first frame. The isosurface is the skull
// (isovalue 1300), lit by the default light. Counters as in MipBench (median_ms, min_ms, cpu_ms
// per frame); KESTREL_GPU_BENCH_SIZE sets another phantom edge.
//
// On a machine without a CUDA device the GPU scenes run on KestrelCUDA's host back end, which
// calls the same CPU kernels, so the figures measure what the GPU path adds around them (the
// library's dispatch, the image it draws through, the scene's per-frame checks): the ratio GPU
// / CPU twin is expected at 1.0 and must stay at or below 1.05.
//
// Measurements (2-core VM shared with other builds, load about 13; 256^3 phantom, 512 x 512, host
// back end, 48 frames per case, one run), processor time per frame (cpu_ms), wall median:
//   MIP        CPU scene 135.0 ms   GPU scene 133.4 ms   ratio 0.99   (wall 395 / 421 ms)
//   isosurface CPU scene  48.9 ms   GPU scene  48.8 ms   ratio 1.00   (wall 128 / 102 ms)
// The wall times swing with the machine's other load; the processor times agree within 1.2%.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <type_traits>

#include "CUDAInit.h"
#include "CUDAIsosurfaceVRScene.h"
#include "CUDAMIPVRScene.h"
#include "IsosurfaceVRScene.h"
#include "MIPVRScene.h"
#include "Quaternion.h"
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

template <class ViewScene>
void SetTechnique(ViewScene& scene) {
    if constexpr (std::is_base_of_v<IsosurfaceViewControls<ViewScene>, ViewScene>)
        scene.SetIsovalue(kIsovalue);
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

}  // namespace
