// Bricking cost and read cost of CoherentVolume on a 256^3 uint16 volume:
//   SetData against a plain memcpy of the same 32 MiB,
//   GetValue per read in sequential (x fastest) and random order, with the
//   dense buffer read in the same orders as reference,
//   the block memory held when the outer half of the volume is one value,
//   the value histogram the tools derive their defaults from (uint16 and float32).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "CoherentVolume.h"
#include "VolumeData.h"
#include "VolumeHistogram.h"

namespace {

constexpr int kSize = 256;
constexpr std::size_t kVoxels = std::size_t(kSize) * kSize * kSize;
constexpr std::size_t kBytes = kVoxels * sizeof(std::uint16_t);

// 256^3 uint16 samples of a smooth ramp plus noise, so that no block is
// uniform. With `outerHalfConstant`, every voxel with y < 64 or y >= 192 (the
// outer half of the volume along y, 32 of the 64 default blocks) is 1000.
VolumeData& TestVolume(bool outerHalfConstant) {
    static VolumeData volumes[2];
    VolumeData& v = volumes[outerHalfConstant ? 1 : 0];
    if (v.GetData() != nullptr) return v;
    v.SetDataType(VolumeData::dtUint16);
    const int dims[3] = {kSize, kSize, kSize};
    v.SetDimensions(dims);
    v.Allocate();
    auto* s = static_cast<std::uint16_t*>(v.GetData());
    std::uint32_t noise = 12345;
    for (int z = 0; z < kSize; ++z)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                noise = noise * 1664525u + 1013904223u;
                std::uint16_t value = static_cast<std::uint16_t>(x + 2 * y + 3 * z + (noise >> 28));
                if (outerHalfConstant && (y < 64 || y >= 192)) value = 1000;
                s[x + kSize * (y + kSize * z)] = value;
            }
    return v;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void BM_PlainCopy(benchmark::State& state) {
    const VolumeData& v = TestVolume(false);
    std::vector<std::uint8_t> target(kBytes, 1);  // touched: no page faults in the loop
    for (auto _ : state) {
        std::memcpy(target.data(), v.GetData(), kBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

// The same copy into memory allocated for it: the page faults of fresh
// memory included, as a first SetData pays them.
void BM_PlainCopyFresh(benchmark::State& state) {
    const VolumeData& v = TestVolume(false);
    for (auto _ : state) {
        void* target = std::malloc(kBytes);
        std::memcpy(target, v.GetData(), kBytes);
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
        std::free(target);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_PlainCopyFresh)->Unit(benchmark::kMillisecond);

// SetData(VolumeData*) rebuilds all blocks of a volume that already holds a
// volume of this shape (a host handing over the next volume). The counter
// vs_memcpy is its time over a memcpy of the same bytes into touched memory,
// timed in the same iterations (target: below 3).
void BM_CoherentSetData(benchmark::State& state) {
    VolumeData& v = TestVolume(false);
    std::vector<std::uint8_t> target(kBytes, 1);
    CoherentVolume cv;
    cv.SetData(&v);
    double brickSeconds = 0.0, copySeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        cv.SetData(&v);
        const auto t1 = std::chrono::steady_clock::now();
        state.PauseTiming();
        const auto c0 = std::chrono::steady_clock::now();
        std::memcpy(target.data(), v.GetData(), kBytes);
        benchmark::ClobberMemory();
        const auto c1 = std::chrono::steady_clock::now();
        state.ResumeTiming();
        brickSeconds += Seconds(t0, t1);
        copySeconds += Seconds(c0, c1);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
    state.counters["vs_memcpy"] = brickSeconds / copySeconds;
}
BENCHMARK(BM_CoherentSetData)->Unit(benchmark::kMillisecond);

// SetData(VolumeData*) into a new CoherentVolume: every block buffer is fresh
// memory. vs_fresh_copy compares with malloc + memcpy timed alongside.
void BM_CoherentSetDataFresh(benchmark::State& state) {
    VolumeData& v = TestVolume(false);
    double brickSeconds = 0.0, copySeconds = 0.0;
    for (auto _ : state) {
        auto* cv = new CoherentVolume;
        const auto t0 = std::chrono::steady_clock::now();
        cv->SetData(&v);
        const auto t1 = std::chrono::steady_clock::now();
        state.PauseTiming();
        delete cv;
        const auto c0 = std::chrono::steady_clock::now();
        void* target = std::malloc(kBytes);
        std::memcpy(target, v.GetData(), kBytes);
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
        const auto c1 = std::chrono::steady_clock::now();
        std::free(target);
        state.ResumeTiming();
        brickSeconds += Seconds(t0, t1);
        copySeconds += Seconds(c0, c1);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
    state.counters["vs_fresh_copy"] = brickSeconds / copySeconds;
}
BENCHMARK(BM_CoherentSetDataFresh)->Unit(benchmark::kMillisecond);

CoherentVolume& BrickedVolume() {
    static CoherentVolume cv;
    if (cv.blockArray == nullptr) cv.SetData(&TestVolume(false));
    return cv;
}

// 1M random voxel positions, fixed seed.
const std::vector<int>& RandomPositions() {
    static std::vector<int> xyz;
    if (xyz.empty()) {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> d(0, kSize - 1);
        xyz.resize(3 * (1 << 20));
        for (int& c : xyz)
            c = d(rng);
    }
    return xyz;
}

void ReportPerRead(benchmark::State& state, std::size_t readsPerIteration) {
    state.counters["per_read"] = benchmark::Counter(
        static_cast<double>(readsPerIteration),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_GetValueSequential(benchmark::State& state) {
    CoherentVolume& cv = BrickedVolume();
    for (auto _ : state) {
        float sum = 0.0f;
        for (int z = 0; z < kSize; ++z)
            for (int y = 0; y < kSize; ++y)
                for (int x = 0; x < kSize; ++x)
                    sum += cv.GetValue(x, y, z);
        benchmark::DoNotOptimize(sum);
    }
    ReportPerRead(state, kVoxels);
}
BENCHMARK(BM_GetValueSequential)->Unit(benchmark::kMillisecond);

void BM_GetValueRandom(benchmark::State& state) {
    CoherentVolume& cv = BrickedVolume();
    const std::vector<int>& xyz = RandomPositions();
    for (auto _ : state) {
        float sum = 0.0f;
        for (std::size_t i = 0; i < xyz.size(); i += 3)
            sum += cv.GetValue(xyz[i], xyz[i + 1], xyz[i + 2]);
        benchmark::DoNotOptimize(sum);
    }
    ReportPerRead(state, xyz.size() / 3);
}
BENCHMARK(BM_GetValueRandom)->Unit(benchmark::kMillisecond);

// The same reads from the dense buffer: the floor the bricked reads approach.
void BM_DenseReadSequential(benchmark::State& state) {
    const auto* s = static_cast<const std::uint16_t*>(TestVolume(false).GetData());
    for (auto _ : state) {
        float sum = 0.0f;
        for (int z = 0; z < kSize; ++z)
            for (int y = 0; y < kSize; ++y)
                for (int x = 0; x < kSize; ++x)
                    sum += static_cast<float>(s[x + kSize * (y + kSize * z)]);
        benchmark::DoNotOptimize(sum);
    }
    ReportPerRead(state, kVoxels);
}
BENCHMARK(BM_DenseReadSequential)->Unit(benchmark::kMillisecond);

void BM_DenseReadRandom(benchmark::State& state) {
    const auto* s = static_cast<const std::uint16_t*>(TestVolume(false).GetData());
    const std::vector<int>& xyz = RandomPositions();
    for (auto _ : state) {
        float sum = 0.0f;
        for (std::size_t i = 0; i < xyz.size(); i += 3) {
            sum += static_cast<float>(
                s[xyz[i] + kSize * (xyz[i + 1] + kSize * std::size_t(xyz[i + 2]))]);
        }
        benchmark::DoNotOptimize(sum);
    }
    ReportPerRead(state, xyz.size() / 3);
}
BENCHMARK(BM_DenseReadRandom)->Unit(benchmark::kMillisecond);

// Heap bytes in use (small and mmapped chunks), from the allocator itself.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks) + static_cast<double>(info.hblkhd);
}

// Bricks the volume whose outer half is 1000, into a volume that held the
// fully varying volume before (its buffers are candidates for reuse), and
// counts what the blocks hold: from the blocks' own fields and, independently,
// from the allocator's count of heap bytes before and after. Fails if a
// uniform block kept a voxel buffer.
void BM_OuterHalfConstantMemory(benchmark::State& state) {
    VolumeData& v = TestVolume(true);
    TestVolume(false);
    RandomPositions();
    double heapBefore = 0.0, heapAfter = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        heapBefore = HeapBytes();
        auto* cv = new CoherentVolume;
        cv->SetData(&TestVolume(false));
        state.ResumeTiming();
        cv->SetData(&v);
        state.PauseTiming();
        heapAfter = HeapBytes();
        delete cv;
        state.ResumeTiming();
    }

    CoherentVolume cv;
    cv.SetData(&v);
    auto* array = static_cast<TBlockArray<std::uint16_t>*>(cv.blockArray);
    const int blocks = cv.blockNum[0] * cv.blockNum[1] * cv.blockNum[2];
    double heldBytes = 0.0;
    int uniform = 0, uniformWithBuffer = 0;
    for (int b = 0; b < blocks; ++b) {
        const TBlock<std::uint16_t>& block = array->blocks[b];
        const int bz = b / (cv.blockNum[0] * cv.blockNum[1]);
        const int depth = std::min(cv.blockSize[2], cv.dimensions[2] - bz * cv.blockSize[2]);
        if (block.minValue == block.maxValue) {
            ++uniform;
            if (block.data != nullptr) ++uniformWithBuffer;
        }
        if (block.data != nullptr) {
            heldBytes += double(block.slicePitch) * depth * sizeof(std::uint16_t);
        }
    }
    if (uniformWithBuffer != 0) state.SkipWithError("a uniform block holds a voxel buffer");
    state.counters["blocks"] = blocks;
    state.counters["uniform_blocks"] = uniform;
    state.counters["uniform_with_buffer"] = uniformWithBuffer;
    state.counters["voxel_MiB_held"] = heldBytes / (1 << 20);
    state.counters["heap_MiB_held"] = (heapAfter - heapBefore) / (1 << 20);
    state.counters["dense_MiB"] = double(kBytes) / (1 << 20);
}
BENCHMARK(BM_OuterHalfConstantMemory)->Unit(benchmark::kMillisecond);

// VolumeHistogram::Compute on all processors: arg 0 the uint16 test volume, arg 1 the same
// values as float32.
void BM_Histogram(benchmark::State& state) {
    static VolumeData asFloat;
    VolumeData* volume = &TestVolume(false);
    if (state.range(0) == 1) {
        if (asFloat.GetData() == nullptr) {
            asFloat.SetDataType(VolumeData::dtFloat32);
            asFloat.SetDimensions(volume->dimensions);
            asFloat.Allocate();
            const auto* from = static_cast<const std::uint16_t*>(volume->GetData());
            std::copy(from, from + kVoxels, static_cast<float*>(asFloat.GetData()));
        }
        volume = &asFloat;
    }
    VolumeHistogram histogram;
    for (auto _ : state) {
        histogram.Compute(volume);
        benchmark::DoNotOptimize(histogram.total);
    }
    if (histogram.total != kVoxels) state.SkipWithError("histogram lost samples");
    state.counters["bins"] = double(histogram.counts.size());
}
BENCHMARK(BM_Histogram)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
