// kestrel-render: batch and headless maximum-intensity projection of a volume to a PNG file.
#include <GL/glew.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "HeadPhantom.h"
#include "MIPFrame.h"
#include "OffscreenGL.h"
#include "PngOutput.h"
#include "RenderOptions.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

constexpr int kExitBadInput = 2;
constexpr int kExitFailure = 1;

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "kestrel-render: %s\n", message.c_str());
    return code;
}

std::unique_ptr<VolumeData> LoadVolume(const RenderOptions& options, std::string* description) {
    if (!options.rawPath.empty()) {
        *description = options.rawPath;
        return LoadRawVolume(options.rawPath, options.rawDims, options.rawType, options.spacing);
    }
    if (!options.volumePath.empty()) {
        *description = options.volumePath;
        return LoadStructuredVolume(options.volumePath);
    }
    *description = "the built-in head phantom";
    return std::unique_ptr<VolumeData>(CreateHeadPhantom(options.phantomSize));
}

// The cropping box must lie inside the volume: voxel coordinates 0 .. dim - 1.
void CheckCrop(const RenderOptions& options, const int dims[3]) {
    if (!options.haveCrop) return;
    for (int a = 0; a < 3; ++a) {
        const float lo = options.crop[2 * a];
        const float hi = options.crop[2 * a + 1];
        if (lo < 0.0f || hi > float(dims[a] - 1)) {
            char message[200];
            std::snprintf(message, sizeof(message),
                          "--crop: axis %c bounds %g .. %g lie outside the volume (0 .. %d)",
                          "xyz"[a], double(lo), double(hi), dims[a] - 1);
            throw InputError(message);
        }
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

int Run(int argc, char** argv) {
    RenderOptions options;
    try {
        options = ParseRenderOptions(argc, argv);
    } catch (const InputError& error) {
        return Fail(kExitBadInput, error.what());
    }
    if (options.help) {
        std::fputs(RenderUsage().c_str(), stdout);
        return 0;
    }

    // Claim the output first: an unwritable destination fails before any work.
    struct stat existing;
    if (stat(options.outputPath.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
        return Fail(kExitBadInput, "--output " + options.outputPath + ": is a folder, not a file");
    }
    AtomicOutputFile output(options.outputPath);
    std::string reason;
    if (!output.Open(&reason))
        return Fail(kExitBadInput, "--output " + options.outputPath + ": " + reason);

    std::unique_ptr<VolumeData> volume;
    std::string source;
    int dims[3] = {0, 0, 0};
    try {
        volume = LoadVolume(options, &source);
        if (volume == nullptr) return Fail(kExitFailure, "cannot build the phantom");
        volume->GetDimensions(dims);
        CheckCrop(options, dims);
    } catch (const InputError& error) {
        return Fail(kExitBadInput, error.what());
    }

    OffscreenMIPScene scene;
    OffscreenGL gl;
    if (options.useGL) {
        if (!gl.Create(options.width, options.height, &reason)) {
            return Fail(kExitBadInput, "--gl: " + reason);
        }
        scene.Init();
        scene.Resize(options.width, options.height);
    } else {
        scene.SetViewportSize(options.width, options.height);
    }
    scene.SetData(volume.get());
    if (options.haveWindow) scene.SetWidthCenter(options.windowWidth, options.windowCenter);
    if (options.haveCrop) scene.SetCroppingBounds(options.crop);

    // Frame 0 is the requested view; further frames turn around the vertical axis.
    const int frameCount = std::max(1, options.frames);
    std::vector<double> milliseconds;
    std::vector<uint8_t> picture;
    for (int frame = 0; frame < frameCount; ++frame) {
        ViewAngles view = options.view;
        view.azimuthDeg += 360.0f * float(frame) / float(frameCount);
        scene.SetView(view);
        const auto start = std::chrono::steady_clock::now();
        if (options.useGL) {
            scene.Render();
            glFinish();
        } else {
            scene.CastFrame(options.useGrid);
        }
        const auto stop = std::chrono::steady_clock::now();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        if (frame == 0) {
            picture = options.useGL ? gl.ReadFrame() : scene.CompositeOverBackground();
        }
    }

    if (!output.CommitPng(picture, options.width, options.height, &reason)) {
        return Fail(kExitFailure, "--output " + options.outputPath + ": " + reason);
    }

    const std::string typeName = DataTypeName(volume->GetDataType());
    std::printf("wrote %s: %d x %d MIP of %s (%d x %d x %d %s), window %g / %g\n",
                options.outputPath.c_str(), options.width, options.height, source.c_str(), dims[0],
                dims[1], dims[2], typeName.c_str(), double(scene.GetWindowWidth()),
                double(scene.GetWindowCenter()));
    if (options.frames > 0) {
        std::printf(
            "%d frames around the volume, %s, %s, %u threads: median %.2f ms, minimum %.2f "
            "ms per frame\n",
            frameCount, options.useGL ? "GL" : "CPU composite",
            options.useGrid || options.useGL ? "grid partition" : "no grid",
            std::max(1u, std::thread::hardware_concurrency()), Median(milliseconds),
            *std::min_element(milliseconds.begin(), milliseconds.end()));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        return Fail(kExitFailure, "out of memory");
    } catch (const std::exception& error) {
        return Fail(kExitFailure, error.what());
    }
}
