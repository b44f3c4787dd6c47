// Off-screen frames for Python: the options are the render tool's own command line (parsed by
// its parser, so every option and every message is the tool's), the frame is the tool's frame,
// and the result is the kernel's float image instead of the composited PNG.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "CUDAFullVRScene.h"
#include "CUDAInit.h"
#include "CoherentVolume.h"
#include "DataDefaults.h"
#include "FlyThrough.h"
#include "FullVRScene.h"
#include "Module.h"
#include "OffscreenFrame.h"
#include "PngReader.h"
#include "PngWriter.h"
#include "RGBATransferFunction1D.h"
#include "RenderOptions.h"
#include "Scene.h"
#include "SceneParam.h"
#include "VRImage.h"
#include "VolumeLoader.h"

namespace {

// KestrelCUDA is started once and its frames run one at a time. The CPU kernels keep their
// frame state on the stack of the render call, so CPU frames of different renderers run side by
// side.
std::mutex gpuMutex;

// The tool's options from `args` (its command line without the program name).
std::unique_ptr<RenderOptions> ParseArgs(const std::vector<std::string>& args) {
    std::vector<std::string> words{"kestrel-render"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    std::unique_ptr<RenderOptions> options(new RenderOptions);
    if (!ParseRenderOptions(int(argv.size()), argv.data(), options.get()))
        throw InputError("--help: the options are listed by kestrel-render --help");
    return options;
}

// The cropping box against the volume's grid, with the tool's message.
void CheckCrop(const std::vector<float>& crop, const VolumeData& volume) {
    for (size_t a = 0; a < crop.size() / 2; ++a) {
        const float lo = crop[2 * a];
        const float hi = crop[2 * a + 1];
        if (lo < 0.0f || hi > float(volume.dimensions[a] - 1)) {
            char message[200];
            std::snprintf(message, sizeof(message),
                          "--crop: axis %c bounds %g .. %g lie outside the volume (0 .. %d)",
                          "xyz"[a], double(lo), double(hi), volume.dimensions[a] - 1);
            throw InputError(message);
        }
    }
}

// The image rectangle into a cleared width x height frame, rows top-down.
void CopyFrame(const VRImage* image, int width, int height, float* out) {
    std::memset(out, 0, sizeof(float) * 4 * size_t(width) * height);
    if (image == nullptr || image->pixels == nullptr) return;
    const int x0 = std::max(0, image->windowX);
    const int x1 = std::min(width, image->windowX + image->width);
    if (x1 <= x0) return;
    for (int j = 0; j < image->height; ++j) {
        const int y = image->windowY + j;
        if (y < 0 || y >= height) continue;
        const float* src = image->pixels + (size_t(j) * image->width + (x0 - image->windowX)) * 4;
        std::memcpy(out + (size_t(height - 1 - y) * width + x0) * 4, src,
                    sizeof(float) * 4 * size_t(x1 - x0));
    }
}

// One view of one volume with fixed settings, rendered for any camera and size: the scene is
// made (and the volume bricked) once. Frames of one renderer run one at a time. The volume is
// borrowed: the kestrel package keeps a volume's renderers in the volume itself.
class Renderer {
public:
    Renderer(PyVolume& volume, const std::vector<std::string>& args, py::object function)
        : volume_(volume.volume.get()), options_(ParseArgs(args)) {
        CheckCrop(options_->volume.crop, *volume_);
        if (!function.is_none())
            function_.reset(
                new RGBATransferFunction1D(py::cast<RGBATransferFunction1D&>(function)));
        if (!options_->slice.empty()) return;  // the slice bricks on its first frame
        const bool fromFile = !volume.path.empty();
        const bool patientFrame = fromFile && volume.info.patientFrame;
        py::gil_scoped_release release;
        // The defaults the tool derives from the loaded samples (window, isovalue, function) and
        // the camera's start from the volume's orientation.
        defaults_ = ComputeDataDefaults(*volume_);
        defaults_.patientFrame = patientFrame;
        defaults_.startRotation = StartRotation(patientFrame, options_->volume.viewFrom);
        options_->views->Chosen().SetDataDefaults(&defaults_);
        std::unique_lock<std::mutex> gpu(gpuMutex, std::defer_lock);
        if (options_->views->Gpu()) {
            gpu.lock();
            CUDAInit(true);
        }
        const std::vector<float>& crop = options_->volume.crop;
        view_ = options_->views->Chosen().CreateOffscreen(volume_,
                                                          crop.empty() ? nullptr : crop.data());
        if (function_ != nullptr) UseFunction();
    }

    // The frame of the camera and size in `args` (the same settings otherwise) as (h, w, 4)
    // premultiplied RGBA floats, rows top-down.
    py::array_t<float> Render(const std::vector<std::string>& args) {
        const std::unique_ptr<RenderOptions> frame = ParseArgs(args);
        py::array_t<float> result({frame->height, frame->width, 4});
        float* out = result.mutable_data();
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(mutex_);
        std::unique_lock<std::mutex> gpu(gpuMutex, std::defer_lock);
        if (options_->views->Gpu()) gpu.lock();
        if (!options_->slice.empty())
            CastSlice(*frame, out);
        else
            CastView(*frame, out);
        return result;
    }

    py::tuple Background() {
        float rgb[3] = {0.0f, 0.0f, 0.0f};
        if (view_ != nullptr) view_->ClearColour(rgb);
        return py::make_tuple(rgb[0], rgb[1], rgb[2]);
    }

    std::string Description() const {
        if (view_ == nullptr) return "endoscopy slice (" + options_->slice + " cut)";
        return view_->Title() + view_->Settings();
    }

private:
    void UseFunction() {
        AbstractScene& scene = view_->GetScene();
        if (auto* full = dynamic_cast<FullVRScene*>(&scene))
            full->SetTransferFunction(function_.get());
        else if (auto* gpuFull = dynamic_cast<CUDAFullVRScene*>(&scene))
            gpuFull->SetTransferFunction(function_.get());
        else
            throw InputError("--tf: only applies to --view full");
    }

    void CastView(RenderOptions& frame, float* out) {
        frame.view.start = defaults_.startRotation;
        view_->SetViewportSize(frame.width, frame.height);
        if (frame.flyThrough) {
            Scene* scene = dynamic_cast<Scene*>(&view_->GetScene());
            if (scene == nullptr) throw InputError("--eye: this view has no camera to place");
            PlaceCamera(scene->GetSceneParameters(), volume_->dimensions, volume_->spacings,
                        frame.pose);
        } else {
            view_->SetView(frame.view);
        }
        view_->CastFrame(frame.useGrid);
        CopyFrame(view_->FrameImage(), frame.width, frame.height, out);
    }

    // The endoscopy slice as kestrel-render --slice draws it: opaque grey, bytes to floats.
    void CastSlice(const RenderOptions& frame, float* out) {
        if (bricked_ == nullptr) {
            bricked_.reset(new CoherentVolume);
            bricked_->SetData(volume_);
            volume_->GetMinMaxValue(low_, high_);
        }
        SceneParam camera;
        camera.fovy = 45.0f;
        camera.aspect = float(frame.width) / float(frame.height);
        PlaceCamera(camera, volume_->dimensions, volume_->spacings, frame.pose);
        const std::vector<uint8_t> bytes = RenderSliceRgba8(
            bricked_.get(), camera, frame.slice != "vertical", MeanSpacing(*bricked_),
            float(high_ - low_), float(0.5 * (low_ + high_)), frame.width, frame.height);
        const size_t row = size_t(frame.width) * 4;
        for (int y = 0; y < frame.height; ++y) {
            const uint8_t* src = &bytes[size_t(y) * row];
            float* dst = out + size_t(frame.height - 1 - y) * row;
            for (size_t i = 0; i < row; ++i)
                dst[i] = float(src[i]) / 255.0f;
        }
    }

    VolumeData* volume_;                      // borrowed
    std::unique_ptr<RenderOptions> options_;  // the settings the view was made with
    DataDefaults defaults_;                   // derived from the volume; the view borrows it
    std::unique_ptr<RGBATransferFunction1D> function_;  // borrowed by the full view's scene
    std::unique_ptr<OffscreenView> view_;               // null for the slice
    std::unique_ptr<CoherentVolume> bricked_;           // the slice's volume
    double low_ = 0.0, high_ = 0.0;                     // the slice's grey window
    std::mutex mutex_;
};

// The tool's composite of a (h, w, 4) float frame over `background`: 8-bit RGBA, same row order.
py::array_t<uint8_t> Composite(py::array_t<float, py::array::c_style | py::array::forcecast> rgba,
                               const std::vector<float>& background) {
    if (rgba.ndim() != 3 || rgba.shape(2) != 4) throw InputError("composite: needs (h, w, 4)");
    if (background.size() != 3) throw InputError("background: needs three values (r, g, b)");
    const int height = int(rgba.shape(0)), width = int(rgba.shape(1));
    VRImage image;
    image.width = width;
    image.height = height;
    image.pixels = const_cast<float*>(rgba.data());
    std::vector<uint8_t> frame = CompositeOverBackground(&image, width, height, background.data());
    image.pixels = nullptr;  // borrowed from the array
    py::array_t<uint8_t> result({height, width, 4});
    std::memcpy(result.mutable_data(), frame.data(), frame.size());
    return result;
}

// A PNG file as (h, w, 4) RGBA bytes, rows top-down (libpng, for tests and tools).
py::array_t<uint8_t> ReadPngFile(const std::string& path) {
    int width = 0, height = 0;
    std::vector<uint8_t> bottomUp;
    std::string error;
    if (!ReadPng(path, &width, &height, &bottomUp, &error)) ThrowLoadError(path, error);
    py::array_t<uint8_t> result({height, width, 4});
    const size_t row = size_t(width) * 4;
    for (int y = 0; y < height; ++y)
        std::memcpy(result.mutable_data() + size_t(height - 1 - y) * row, &bottomUp[y * row], row);
    return result;
}

}  // namespace

void BindRender(py::module_& m) {
    py::class_<Renderer>(m, "Renderer")
        .def(py::init<PyVolume&, const std::vector<std::string>&, py::object>(), py::arg("volume"),
             py::arg("args"), py::arg("function") = py::none())
        .def("render", &Renderer::Render, py::arg("args"))
        .def_property_readonly("background", &Renderer::Background)
        .def_property_readonly("description", &Renderer::Description);
    m.def("composite", &Composite, py::arg("rgba"), py::arg("background"));
    m.def("read_png", &ReadPngFile, py::arg("path"));
}
