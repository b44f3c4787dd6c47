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
#include "CoherentVolume.h"
#include "EndoscopySliceScene.h"
#include "FlyThrough.h"
#include "CUDAInit.h"
#include "OffscreenGL.h"
#include "OutputFile.h"
#include "RenderOptions.h"
#include "Scene.h"
#include "SceneParam.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

constexpr int kExitBadInput = 2;
constexpr int kExitFailure = 1;

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "kestrel-render: %s\n", message.c_str());
    return code;
}

// The volume the options name, or null after its one line.
std::unique_ptr<VolumeData> LoadVolume(RenderOptions& options) {
    try {
        return options.volume.Load("kestrel-render");
    } catch (const InputError& error) {
        Fail(kExitBadInput, error.what());
        return nullptr;
    }
}

// --info reads the samples (for the value range and the percentiles the views start from) only
// when the header declares at most this much: a header that claims gigabytes in a small or
// compressed file is described without inflating it.
constexpr double kInfoSampleBytes = 512.0 * 1024 * 1024;

double SampleBytes(VolumeData& volume) {
    int dims[3];
    volume.GetDimensions(dims);
    return double(volume.GetDataType().bitCount / 8) * dims[0] * double(dims[1]) * dims[2];
}

// What --info alone needs: of a NIfTI or NRRD file the header first, and its samples too when
// they are of a reasonable size; of any other volume the whole of it.
std::unique_ptr<VolumeData> LoadForInfo(RenderOptions& options) {
    VolumeOptions& volume = options.volume;
    if (volume.file.empty()) return LoadVolume(options);
    std::unique_ptr<VolumeData> header;
    try {
        volume.description = volume.file;
        header = LoadVolumeFile(volume.file, {volume.series, volume.volumeNumber, true},
                                &volume.scanInfo);
    } catch (const InputError& error) {
        Fail(kExitBadInput, error.what());
        return nullptr;
    }
    if (header->GetData() != nullptr || SampleBytes(*header) > kInfoSampleBytes) return header;
    return LoadVolume(options);
}

// --info and --convert: load, describe or write, render nothing.
int InspectOrConvert(RenderOptions& options) {
    // The converted file follows the rules of every output: only a regular file or a new name
    // is replaced, never the input.
    if (!options.convertPath.empty()) {
        OutputFile destination("--convert", options.convertPath);
        std::string reason;
        if (!destination.Check({options.volume.file, options.volume.raw}, &reason))
            return Fail(kExitBadInput, reason);
    }
    const std::unique_ptr<VolumeData> volume =
        options.convertPath.empty() ? LoadForInfo(options) : LoadVolume(options);
    if (volume == nullptr) return kExitBadInput;
    if (options.info) {
        std::fputs(
            DescribeVolume(options.volume.description, *volume, options.volume.scanInfo).c_str(),
            stdout);
        // The histogram's threshold and percentiles, which the views start from (a header-only
        // load has no samples to count).
        std::fputs(volume->GetData() != nullptr
                       ? DescribeDataDefaults(ComputeDataDefaults(*volume)).c_str()
                       : "percentiles: computed when rendering (the samples were not read)\n",
                   stdout);
    }
    if (options.convertPath.empty()) return 0;

    // Written beside the destination and renamed: the file is complete or absent.
    const std::string& out = options.convertPath;
    const std::string partial = out + ".part";
    volume->WriteStructuredFile(partial.c_str());
    int dims[3];
    volume->GetDimensions(dims);
    const long long bytes = 32 + (long long)(volume->GetDataType().bitCount >> 3) * dims[0] *
                                     (long long)dims[1] * dims[2];
    struct stat written;
    if (stat(partial.c_str(), &written) != 0 || written.st_size != bytes ||
        std::rename(partial.c_str(), out.c_str()) != 0) {
        std::remove(partial.c_str());
        return Fail(kExitBadInput, "--convert " + out + ": cannot write the file");
    }
    std::printf("wrote %s: %d x %d x %d %s\n", out.c_str(), dims[0], dims[1], dims[2],
                DataTypeName(volume->GetDataType()).c_str());
    return 0;
}

// A picture of one colour shows nothing of the volume: say so, so that it is not taken for the
// answer (a transfer function that hides the data, a view that misses the volume).
void WarnIfBlank(const std::vector<uint8_t>& rgba, const std::string& path) {
    for (size_t i = 4; i < rgba.size(); ++i) {
        if (rgba[i] != rgba[i % 4]) return;
    }
    std::fprintf(stderr,
                 "kestrel-render: warning: %s is one colour: nothing of the volume shows with "
                 "these settings\n",
                 path.c_str());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// The name of frame `index` (from 1) of a path: NAME.png -> NAME-0001.png.
std::string NumberedPath(const std::string& path, int index) {
    const std::string::size_type dot = path.rfind('.');
    const bool png = dot != std::string::npos && path.find('/', dot) == std::string::npos;
    char number[16];
    std::snprintf(number, sizeof number, "-%04d", index);
    return (png ? path.substr(0, dot) : path) + number + (png ? path.substr(dot) : ".png");
}

// The fly-through camera: the view (or its endoscopy slice) from --eye looking along --look, one
// frame, or --frames N along the path to --eye-to written as numbered PNGs.
int RunFlyThrough(const RenderOptions& options, VolumeData* volume, OffscreenGL& gl,
                  OutputFile* single) {
    int dims[3];
    float spacings[3];
    volume->GetDimensions(dims);
    volume->GetSpacings(spacings);
    const int frameCount = std::max(1, options.frames);
    const bool sliceOnly = !options.slice.empty();
    const bool horizontal = options.slice != "vertical";

    // The slice: its own bricked volume and camera, the grey window over the value range.
    CoherentVolume bricked;
    SceneParam sliceCamera;
    EndoscopySliceScene sliceScene;
    double low = 0.0, high = 0.0;
    // The view: its off-screen frame and the camera of its scene.
    std::unique_ptr<OffscreenView> view;
    SceneParam* camera = &sliceCamera;
    if (sliceOnly) {
        bricked.SetData(volume);
        volume->GetMinMaxValue(low, high);
        sliceCamera.fovy = 45.0f;
        sliceCamera.aspect = float(options.width) / float(options.height);
        if (options.useGL) {
            glewInit();  // the slice scene's Init is empty: GLEW is the host's
            sliceScene.SetSceneParam(&sliceCamera);
            sliceScene.SetVolume(&bricked);
            sliceScene.SetWidthCenter(float(high - low), float(0.5 * (low + high)));
            horizontal ? sliceScene.SetHorizontial() : sliceScene.SetVertical();
            sliceScene.Resize(options.width, options.height);
        }
    } else {
        const std::vector<float>& crop = options.volume.crop;
        view =
            options.views->Chosen().CreateOffscreen(volume, crop.empty() ? nullptr : crop.data());
        Scene* scene = dynamic_cast<Scene*>(&view->GetScene());
        if (scene == nullptr) return Fail(kExitBadInput, "--eye: this view has no camera to place");
        camera = &scene->GetSceneParameters();
        if (options.useGL) {
            view->GetScene().Init();
            view->GetScene().Resize(options.width, options.height);
        } else {
            view->SetViewportSize(options.width, options.height);
        }
    }

    std::vector<double> milliseconds;
    std::string reason;
    std::string lastPath = options.outputPath;
    for (int frame = 0; frame < frameCount; ++frame) {
        FlyThroughPose pose = options.pose;
        if (options.path) {
            // straight line from --eye (first frame) to --eye-to (last frame)
            const float t = float(frame) / float(frameCount - 1);
            for (int a = 0; a < 3; ++a)
                pose.eye[a] = (1.0f - t) * options.pose.eye[a] + t * options.pathEnd[a];
        }
        PlaceCamera(*camera, dims, spacings, pose);
        const auto start = std::chrono::steady_clock::now();
        std::vector<uint8_t> picture;
        if (sliceOnly && options.useGL) {
            sliceScene.Render();
            picture = gl.ReadFrame();
        } else if (sliceOnly) {
            picture = RenderSliceRgba8(&bricked, sliceCamera, horizontal, MeanSpacing(bricked),
                                       float(high - low), float(0.5 * (low + high)), options.width,
                                       options.height);
        } else if (options.useGL) {
            view->GetScene().Render();
            picture = gl.ReadFrame();
        } else {
            view->CastFrame(options.useGrid);
            picture = view->Composite();
        }
        const auto stop = std::chrono::steady_clock::now();
        milliseconds.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        if (options.path) {
            lastPath = NumberedPath(options.outputPath, frame + 1);
            OutputFile output("--output", lastPath);
            if (!output.Open({options.volume.file, options.volume.raw}, &reason) ||
                !output.CommitPng(picture, options.width, options.height, &reason)) {
                return Fail(kExitFailure, reason);
            }
        } else if (frame == 0 &&
                   !single->CommitPng(picture, options.width, options.height, &reason)) {
            return Fail(kExitFailure, reason);
        }
    }

    const std::string what =
        sliceOnly ? std::string("endoscopy slice (") + options.slice + " cut)" : view->Title();
    std::printf(
        "wrote %s%s: %d x %d %s of %s (%d x %d x %d %s), camera at %g %g %g looking along "
        "%g %g %g (voxel coordinates)\n",
        options.path ? (NumberedPath(options.outputPath, 1) + " ... ").c_str() : "",
        lastPath.c_str(), options.width, options.height, what.c_str(),
        options.volume.description.c_str(), dims[0], dims[1], dims[2],
        DataTypeName(volume->GetDataType()).c_str(), double(options.pose.eye[0]),
        double(options.pose.eye[1]), double(options.pose.eye[2]), double(options.pose.direction[0]),
        double(options.pose.direction[1]), double(options.pose.direction[2]));
    if (options.frames > 0) {
        std::printf("%d fly-through frames: median %.2f ms, minimum %.2f ms per frame\n",
                    frameCount, Median(milliseconds),
                    *std::min_element(milliseconds.begin(), milliseconds.end()));
    }
    return 0;
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

    if (options.info || !options.convertPath.empty()) return InspectOrConvert(options);

    // Check the output first: a destination that must not or cannot be written fails before
    // any work. A path writes numbered files next to it: check the first of them instead. Its
    // temporary file is made once the volume has loaded, so that a reader's failure leaves none.
    OutputFile output("--output",
                      options.path ? NumberedPath(options.outputPath, 1) : options.outputPath);
    std::string reason;
    const std::vector<std::string> inputs = {options.volume.file, options.volume.raw};
    if (!output.Check(inputs, &reason)) return Fail(kExitBadInput, reason);

    const std::unique_ptr<VolumeData> volume = LoadVolume(options);
    if (volume == nullptr) return kExitBadInput;
    if (!output.Open(inputs, &reason)) return Fail(kExitBadInput, reason);
    options.views->Chosen().SetDataDefaults(&options.volume.defaults);
    options.view.start = options.volume.defaults.startRotation;
    int dims[3] = {0, 0, 0};
    volume->GetDimensions(dims);

    OffscreenGL gl;
    if (options.useGL && !gl.Create(options.width, options.height, &reason)) {
        return Fail(kExitBadInput, "--gl: " + reason);
    }
    // The GPU library's back end is chosen before the first frame (the scene's first Render
    // would choose it too, but the CPU composite never renders).
    if (options.views->Gpu()) CUDAInit(true);
    if (options.flyThrough) return RunFlyThrough(options, volume.get(), gl, &output);

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
        return Fail(kExitFailure, reason);
    }
    WarnIfBlank(picture, options.outputPath);

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
