// Shared pieces of the view benchmarks (MipBench, IsoBench, FullBench): the phantom, a scene's
// frame without a window, per-frame timing with its counters, one channel of a frame's image over
// the whole window, and the dump the peer scripts read.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <cstdlib>
#include <memory>

#include "HeadPhantom.h"
#include "Quaternion.h"
#include "VRImage.h"
#include "VolumeData.h"

// The head phantom with edge $sizeVariable (256 when unset); when $rawVariable names a file, its
// samples are written there as raw uint16, x fastest, for a peer to read.
inline std::unique_ptr<VolumeData> LoadPhantom(const char* sizeVariable, const char* rawVariable) {
    const char* sizeText = std::getenv(sizeVariable);
    std::unique_ptr<VolumeData> data(CreateHeadPhantom(sizeText ? std::atoi(sizeText) : 256));
    if (const char* raw = std::getenv(rawVariable)) {
        if (FILE* file = std::fopen(raw, "wb")) {
            data->WriteRawFile(file);
            std::fclose(file);
        }
    }
    return data;
}

// A volume scene's frame without a window: the phantom (edge $sizeVariable, raw copy to
// $rawVariable, see LoadPhantom) handed over, a square viewport of `size` pixels, and CastView,
// which sets the camera of view `view` (the scene's fitted camera turned by 30 degrees per view
// about the model's vertical axis) and runs the scene's CastImage.
template <class VolumeScene>
class WindowlessScene : public VolumeScene {
public:
    WindowlessScene(int size, const char* sizeVariable, const char* rawVariable)
        : data(LoadPhantom(sizeVariable, rawVariable)) {
        this->SetData(data.get());
        this->viewport[0] = this->viewport[1] = size;
        this->sceneParam.aspect = 1.0f;
    }

    void CastView(int view, bool withGrid) {
        const float azimuth = float(view) * 30.0f * 3.14159265f / 180.0f;
        this->SetRotation(Quaternion(0.0f, 1.0f, 0.0f, azimuth));
        this->UpdateCamera();
        this->CastImage(withGrid);
    }

private:
    std::unique_ptr<VolumeData> data;
};

// Times the frames of one benchmark run: each Time call is one iteration, reported as its
// manual time; Report sets median_ms, min_ms (wall time per frame) and cpu_ms (processor time
// of all threads per frame since construction, steadier on a shared machine).
class FrameTimes {
public:
    FrameTimes() : cpuStart(std::clock()) {}

    template <class Frame>
    void Time(benchmark::State& state, Frame&& frame) {
        const auto start = std::chrono::steady_clock::now();
        frame();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        ms.push_back(elapsed.count() * 1e3);
    }

    std::size_t Count() const { return ms.size(); }

    void Report(benchmark::State& state) {
        const double cpuMs = double(std::clock() - cpuStart) * 1e3 / CLOCKS_PER_SEC;
        std::sort(ms.begin(), ms.end());
        state.counters["cpu_ms"] = cpuMs / double(ms.size());
        state.counters["median_ms"] = ms[ms.size() / 2];
        state.counters["min_ms"] = ms.front();
    }

private:
    std::clock_t cpuStart;
    std::vector<double> ms;
};

// Channel `channel` of the image over a size x size window (rows bottom-up), 0 outside the
// image's rectangle: what the frame shows over a black background for a grey image (channel 0)
// or where its rays met something (channel 3).
inline std::vector<float> WindowChannel(const VRImage& image, int size, int channel) {
    std::vector<float> values(std::size_t(size) * size, 0.0f);
    for (int j = 0; j < image.height; ++j)
        for (int i = 0; i < image.width; ++i) {
            const int x = image.windowX + i, y = image.windowY + j;
            if (x < 0 || y < 0 || x >= size || y >= size) continue;
            values[std::size_t(y) * size + x] =
                image.pixels[(std::size_t(j) * image.width + i) * 4 + channel];
        }
    return values;
}

// Writes values as raw floats to <dir>/kestrel_view<view>.f32; nothing when dir is null.
inline void DumpView(const char* dir, int view, const std::vector<float>& values) {
    if (dir == nullptr) return;
    const std::string path = std::string(dir) + "/kestrel_view" + std::to_string(view) + ".f32";
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(values.data(), sizeof(float), values.size(), file);
        std::fclose(file);
    }
}
