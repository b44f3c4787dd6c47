// kestrel-render: batch and headless rendering of a view of a volume to a PNG file.
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

#include "AbstractScene.h"
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

int Run(int argc, char** argv) {
    RenderOptions options;
    try {
        if (!ParseRenderOptions(argc, argv, &options)) {
            std::fputs(RenderUsage(options).c_str(), stdout);
            return 0;
        }
    } catch (const InputError& error) {
        return Fail(kExitBadInput, error.what());
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
    try {
        volume = options.volume.Load("kestrel-render");
    } catch (const InputError& error) {
        return Fail(kExitBadInput, error.what());
    }
    int dims[3] = {0, 0, 0};
    volume->GetDimensions(dims);

    OffscreenGL gl;
    if (options.useGL && !gl.Create(options.width, options.height, &reason)) {
        return Fail(kExitBadInput, "--gl: " + reason);
    }
    const std::vector<float>& crop = options.volume.crop;
    std::unique_ptr<OffscreenView> scene =
        options.views->Chosen().CreateOffscreen(volume.get(), crop.empty() ? nullptr : crop.data());
    if (options.useGL) {
        scene->GetScene().Init();
        scene->GetScene().Resize(options.width, options.height);
    } else {
        scene->SetViewportSize(options.width, options.height);
    }

    // Frame 0 is the requested view; further frames turn around the vertical axis.
    const int frameCount = std::max(1, options.frames);
    std::vector<double> milliseconds;
    std::vector<uint8_t> picture;
    for (int frame = 0; frame < frameCount; ++frame) {
        ViewAngles view = options.view;
        view.azimuthDeg += 360.0f * float(frame) / float(frameCount);
        scene->SetView(view);
        const auto start = std::chrono::steady_clock::now();
        if (options.useGL) {
            scene->GetScene().Render();
            glFinish();
        } else {
            scene->CastFrame(options.useGrid);
        }
        const auto stop = std::chrono::steady_clock::now();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        if (frame == 0) {
            picture = options.useGL ? gl.ReadFrame() : scene->Composite();
        }
    }

    if (!output.CommitPng(picture, options.width, options.height, &reason)) {
        return Fail(kExitFailure, "--output " + options.outputPath + ": " + reason);
    }

    const std::string typeName = DataTypeName(volume->GetDataType());
    std::printf("wrote %s: %d x %d %s of %s (%d x %d x %d %s)%s\n", options.outputPath.c_str(),
                options.width, options.height, scene->Title().c_str(),
                options.volume.description.c_str(), dims[0], dims[1], dims[2], typeName.c_str(),
                scene->Settings().c_str());
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
