// Costs of the shared kernel frame: building the min/max grid of a 256^3 uint16 volume, an empty
// fan-out over all processors, and the per-pixel frame (ray set-up, clip, clamp, store) with a
// trivial tracer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "VolumeData.h"
#include "kernels/KernelFrame.h"

namespace {

// 256^3 uint16 volume: a smooth radial profile with a hash texture, so that few blocks are uniform.
CoherentVolume& Volume256() {
    static CoherentVolume* volume = [] {
        const int dims[3] = {256, 256, 256};
        const float spacing[3] = {1.f, 1.f, 1.f};
        VolumeData data;
        data.SetDataType(VolumeData::dtUint16);
        data.SetDimensions(dims);
        data.SetSpacings(spacing);
        data.Allocate();
        auto* samples = static_cast<std::uint16_t*>(data.GetData());
        for (int z = 0; z < 256; ++z)
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x) {
                    const int dx = x - 128, dy = y - 128, dz = z - 128;
                    const int r2 = dx * dx + dy * dy + dz * dz;
                    const std::uint32_t hash = std::uint32_t(x) * 73856093u ^
                                               std::uint32_t(y) * 19349663u ^
                                               std::uint32_t(z) * 83492791u;
                    samples[x + 256 * (y + 256 * z)] =
                        std::uint16_t((r2 < 100 * 100 ? 3000 - r2 / 4 : 0) + (hash & 63));
                }
        auto* v = new CoherentVolume;
        v->SetData(&data);
        return v;
    }();
    return *volume;
}

void BM_GridPartitionInit256(benchmark::State& state) {
    CoherentVolume& volume = Volume256();
    GridPartition grid;
    for (auto _ : state) {
        grid.Init(&volume, 0.4f);
        benchmark::DoNotOptimize(grid.minMax);
    }
    state.counters["voxels/s"] =
        benchmark::Counter(256.0 * 256.0 * 256.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_GridPartitionInit256)->Unit(benchmark::kMillisecond)->UseRealTime();

void EmptyWorker(int, int, void*) {}

void BM_RunOnAllProcessorsEmpty(benchmark::State& state) {
    for (auto _ : state)
        RunOnAllProcessors(&EmptyWorker, nullptr);
    state.counters["threads"] = GetProcessorCount();
}
BENCHMARK(BM_RunOnAllProcessorsEmpty)->Unit(benchmark::kMicrosecond)->UseRealTime();

struct ConstantTracer {
    Vector4 operator()(const PixelRay& ray) const {
        return Vector4(ray.tNear * 0.01f, ray.tFar * 0.01f, 0.5f, 1.f);
    }
};

// A 512 x 512 region looking into a 256^3 box: the frame's cost per pixel without sampling.
void BM_RenderImageFrameOnly512(benchmark::State& state) {
    CoherentVolume& volume = Volume256();
    const int viewport[2] = {512, 512};
    const float spacing[3] = {1.f, 1.f, 1.f};
    VRSceneParam param;
    for (int a = 0; a < 3; ++a) {
        param.croppingBounds[2 * a] = 0.f;
        param.croppingBounds[2 * a + 1] = 255.f;
    }
    const Matrix4x4 view = Matrix4x4::TranslateMatrix(0.f, 0.f, -600.f);
    // 45 degree symmetric perspective, near 100, far 1000.
    const float f = 2.4142135f;
    const Matrix4x4 projection(f, 0, 0, 0, 0, f, 0, 0, 0, 0, -1100.f / 900.f, -1.f, 0, 0,
                               -2.f * 1000.f * 100.f / 900.f, 0);
    VRImage image;
    param.CalculateVRSceneParamAndImageRegion(viewport, volume.dimensions, spacing, view,
                                              projection, &image.windowX, &image.width);
    image.Allocate();
    KernelState kernelState;
    kernelState.BindVolume(&volume);
    for (auto _ : state) {
        RenderImage(kernelState, &image, &param, ConstantTracer{});
        benchmark::DoNotOptimize(image.pixels[0]);
    }
    state.counters["pixels/s"] = benchmark::Counter(double(image.width) * image.height,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RenderImageFrameOnly512)->Unit(benchmark::kMillisecond)->UseRealTime();

// Trilinear samples at scattered positions of the 256^3 volume, through GetValue and through the
// typed block reads.
template <class Voxels>
void SampleScattered(benchmark::State& state, const Voxels& voxels) {
    std::vector<Vector4> positions;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 4096; ++i) {
        float c[3];
        for (float& v : c) {
            seed = seed * 1664525u + 1013904223u;
            v = float(seed >> 8) * (254.f / 16777216.f);
        }
        positions.emplace_back(c[0], c[1], c[2], 1.f);
    }
    float sum = 0.f;
    for (auto _ : state)
        for (const Vector4& p : positions) {
            Vector4 q = p;
            sum += voxels.SampleTrilinear(q);
        }
    benchmark::DoNotOptimize(sum);
    state.counters["samples/s"] =
        benchmark::Counter(double(positions.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SampleTrilinearGetValue(benchmark::State& state) {
    VolumeSampler sampler;
    sampler.BindVolume(&Volume256());
    SampleScattered(state, sampler);
}
BENCHMARK(BM_SampleTrilinearGetValue)->Unit(benchmark::kMicrosecond);

void BM_SampleTrilinearBlockVoxels(benchmark::State& state) {
    VolumeSampler sampler;
    sampler.BindVolume(&Volume256());
    BlockVoxels<std::uint16_t> voxels;
    if (!voxels.Bind(sampler)) {
        state.SkipWithError("volume blocks are not uint16 power-of-two blocks");
        return;
    }
    SampleScattered(state, voxels);
}
BENCHMARK(BM_SampleTrilinearBlockVoxels)->Unit(benchmark::kMicrosecond);

}  // namespace
