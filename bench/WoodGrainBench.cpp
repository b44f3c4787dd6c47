// Wood grain, measured: the RMS error of the tools' default full render against a reference cast
// at a sixteenth of the default sample distance, for the post-classified kernel, the kernel with
// its per-pixel start offset (jitter), the pre-integrated kernel and both, at the default sample
// distance and at four times it; and the frame time of the pre-integrated grid entry point
// against the post-classified one.
//
// Volumes: the built-in head phantom (256^3 uint16, 1 mm) and ch2.nii.gz, the 1 mm T1 template of
// Debian's mricron-data (181 x 217 x 181 uint8), fetched on first use with `apt-get download
// mricron-data` and `dpkg -x` into <build>/data/mricron (or taken from $KESTREL_CH2). Each is
// rendered as kestrel-render renders it by default: the transfer function and the start camera
// derived from the data (DataDefaults), shading on with the scene's light, 512 x 512 pixels, the
// grid entry point. The reference is the post-classified kernel without jitter at d / 16 (d the
// default distance, a ninth of the voxel diagonal). The error is taken over the red, green and
// blue of every window pixel composited over black, in units of 0..1.
//
// Counters: rms (error benchmarks); post_ms / pre_ms (median wall time per frame), post_cpu_ms /
// pre_cpu_ms (processor time of all threads per frame) and their ratios pre / post (timing
// benchmarks, the two kernels alternated frame by frame over kRounds rounds).
//
// Environment: KESTREL_CH2=<path> (ch2.nii.gz elsewhere), KESTREL_GRAIN_SIZE=<n> (phantom edge),
// KESTREL_GRAIN_UNSHADED=1 (shading off), KESTREL_GRAIN_DUMP=<dir> (each error benchmark's frame
// and its error x 8 as binary PPM files, rows top-down, in <dir>).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DataDefaults.h"
#include "FullVRScene.h"
#include "HeadPhantom.h"
#include "RGBATransferFunction1D.h"
#include "ScanLoader.h"
#include "VRImage.h"
#include "VolumeData.h"

namespace {

constexpr int kImageSize = 512;
constexpr float kReferenceDivisor = 16.f;
constexpr int kRounds = 5;

enum class Volume { kPhantom, kCh2 };

// The folder the benchmark runs from: <build>/bin.
std::string ExecutableFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    std::string text(path);
    return text.substr(0, text.rfind('/'));
}

// ch2.nii.gz: $KESTREL_CH2, or the package unpacked into <build>/data/mricron (fetched if absent).
std::string Ch2Path() {
    if (const char* path = std::getenv("KESTREL_CH2")) return path;
    const std::string folder = ExecutableFolder() + "/../data/mricron";
    const std::string file = folder + "/usr/share/mricron/templates/ch2.nii.gz";
    if (access(file.c_str(), R_OK) != 0) {
        const std::string fetch = "mkdir -p '" + folder + "' && cd '" + folder +
                                  "' && apt-get download mricron-data >/dev/null 2>&1 && "
                                  "dpkg -x mricron-data_*.deb . && rm -f mricron-data_*.deb";
        if (std::system(fetch.c_str()) != 0) std::fprintf(stderr, "could not fetch ch2.nii.gz\n");
    }
    return file;
}

std::unique_ptr<VolumeData> LoadVolume(Volume volume) {
    if (volume == Volume::kPhantom) {
        const char* size = std::getenv("KESTREL_GRAIN_SIZE");
        return std::unique_ptr<VolumeData>(CreateHeadPhantom(size ? std::atoi(size) : 256));
    }
    ScanInfo info;
    return LoadScan(Ch2Path(), ScanLoadOptions(), &info);
}

// The tools' default full frame of one volume, without a window.
class GrainScene : public FullVRScene {
public:
    explicit GrainScene(Volume volume) : data(LoadVolume(volume)) {
        const DataDefaults defaults = ComputeDataDefaults(*data);
        MakeDefaultTransferFunction(defaults, function);
        SetData(data.get());
        SetTransferFunction(&function);
        SetShade(std::getenv("KESTREL_GRAIN_UNSHADED") == nullptr);
        viewport[0] = viewport[1] = kImageSize;
        sceneParam.aspect = 1.f;
        SetRotation(defaults.startRotation);
        UpdateCamera();
        defaultDistance = GetKernelModule().sampleDistance;
    }

    // Casts with the grid at `factor` times the default distance; returns the window's RGB.
    std::vector<float> Cast(float factor, bool preintegration, bool jitter) {
        GetKernelModule().sampleDistance = defaultDistance * factor;
        SetPreintegration(preintegration);
        SetJitter(jitter);
        CastImage(true);
        return WindowRGB();
    }

private:
    std::vector<float> WindowRGB() const {
        const VRImage& image = *kernelModule.image;
        std::vector<float> rgb(std::size_t(kImageSize) * kImageSize * 3, 0.f);
        for (int j = 0; j < image.height; ++j)
            for (int i = 0; i < image.width; ++i) {
                const int x = image.windowX + i, y = image.windowY + j;
                if (x < 0 || y < 0 || x >= kImageSize || y >= kImageSize) continue;
                for (int c = 0; c < 3; ++c)
                    rgb[(std::size_t(y) * kImageSize + x) * 3 + c] =
                        image.pixels[(std::size_t(j) * image.width + i) * 4 + c];
            }
        return rgb;
    }

    std::unique_ptr<VolumeData> data;
    RGBATransferFunction1D function;
    float defaultDistance = 1.f;
};

struct Prepared {
    std::unique_ptr<GrainScene> scene;
    std::vector<float> reference;
};

Prepared& Prepare(Volume volume) {
    static std::map<Volume, Prepared> prepared;
    Prepared& p = prepared[volume];
    if (!p.scene) {
        p.scene.reset(new GrainScene(volume));
        p.reference = p.scene->Cast(1.f / kReferenceDivisor, false, false);
    }
    return p;
}

// Writes rgb (0..1, rows bottom-up) scaled by `gain` as <dir>/<name>.ppm.
void WritePpm(const std::string& dir, const std::string& name, const std::vector<float>& rgb,
              float gain) {
    FILE* file = std::fopen((dir + "/" + name + ".ppm").c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", kImageSize, kImageSize);
    std::vector<unsigned char> row(std::size_t(kImageSize) * 3);
    for (int y = kImageSize - 1; y >= 0; --y) {
        for (int i = 0; i < kImageSize * 3; ++i) {
            const float v = gain * rgb[std::size_t(y) * kImageSize * 3 + i];
            row[i] = (unsigned char)(std::min(std::max(v, 0.f), 1.f) * 255.f + 0.5f);
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    std::fclose(file);
}

void Dump(const std::string& name, const std::vector<float>& frame,
          const std::vector<float>& reference) {
    const char* dir = std::getenv("KESTREL_GRAIN_DUMP");
    if (dir == nullptr) return;
    std::vector<float> error(frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i)
        error[i] = std::fabs(frame[i] - reference[i]);
    WritePpm(dir, name, frame, 1.f);
    WritePpm(dir, name + "_error", error, 8.f);
}

double RootMeanSquare(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return std::sqrt(sum / double(a.size()));
}

void Error(benchmark::State& state, Volume volume, float factor, bool preintegration, bool jitter,
           const std::string& name) {
    Prepared& p = Prepare(volume);
    std::vector<float> frame;
    for (auto _ : state)
        frame = p.scene->Cast(factor, preintegration, jitter);
    state.counters["rms"] = RootMeanSquare(frame, p.reference);
    Dump(name, frame, p.reference);
}

double CpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Frame times of the two kernels at the default distance, alternated frame by frame.
void Timing(benchmark::State& state, Volume volume, bool jitter) {
    Prepared& p = Prepare(volume);
    std::vector<double> wall[2], cpu[2];
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round)
            for (int pre = 0; pre < 2; ++pre) {
                const double cpuStart = CpuSeconds();
                const auto start = std::chrono::steady_clock::now();
                p.scene->Cast(1.f, pre == 1, jitter);
                const std::chrono::duration<double> elapsed =
                    std::chrono::steady_clock::now() - start;
                wall[pre].push_back(elapsed.count() * 1e3);
                cpu[pre].push_back((CpuSeconds() - cpuStart) * 1e3);
            }
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double postMs = median(wall[0]), preMs = median(wall[1]);
    const double postCpu = median(cpu[0]), preCpu = median(cpu[1]);
    state.counters["post_ms"] = postMs;
    state.counters["pre_ms"] = preMs;
    state.counters["post_cpu_ms"] = postCpu;
    state.counters["pre_cpu_ms"] = preCpu;
    state.counters["ratio_ms"] = preMs / postMs;
    state.counters["ratio_cpu"] = preCpu / postCpu;
}

// Registers the error table and the timings for one volume.
void RegisterVolume(const std::string& name, Volume volume) {
    struct Method {
        const char* name;
        bool preintegration, jitter;
    };
    const Method methods[] = {{"post", false, false},
                              {"jittered", false, true},
                              {"preintegrated", true, false},
                              {"both", true, true}};
    for (const float factor : {1.f, 4.f})
        for (const Method& m : methods)
            benchmark::RegisterBenchmark(
                ("Error/" + name + "/d" + std::to_string(int(factor)) + "/" + m.name).c_str(),
                [=](benchmark::State& state) {
                    Error(state, volume, factor, m.preintegration, m.jitter,
                          name + "_d" + std::to_string(int(factor)) + "_" + m.name);
                })
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
    for (const bool jitter : {false, true})
        benchmark::RegisterBenchmark(
            ("Timing/" + name + (jitter ? "/jittered" : "/fixed")).c_str(),
            [=](benchmark::State& state) { Timing(state, volume, jitter); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
}

const bool registered = [] {
    RegisterVolume("phantom", Volume::kPhantom);
    RegisterVolume("ch2", Volume::kCh2);
    return true;
}();

}  // namespace
