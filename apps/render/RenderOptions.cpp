// Option parsing of kestrel-render: every value is checked, every mistake named.
#include "RenderOptions.h"

#include <cfloat>

#include "CommandLine.h"
#include "VolumeLoader.h"

namespace {

constexpr int kMaxImageSide = 16384;
constexpr int kMaxFrames = 100000;

}  // namespace

RenderOptions::RenderOptions() = default;
RenderOptions::~RenderOptions() = default;

bool ParseRenderOptions(int argc, char** argv, RenderOptions* options) {
    options->app.reset(new CLI::App("Renders a view of a volume to a PNG file, without a display.",
                                    "kestrel-render"));
    CLI::App& app = *options->app;
    options->volume.AddTo(app);
    options->views.reset(new ViewChoice(app, true));
    std::string size;
    app.add_option("--size", size, "image size in pixels (default 512x512)")
        ->type_name("WxH")
        ->check(cmdline::ImageSize(kMaxImageSide));
    app.add_option("--azimuth", options->view.azimuthDeg,
                   "turn about the vertical screen axis (default 0: front view)")
        ->type_name("DEG")
        ->check(cmdline::Float(-FLT_MAX, FLT_MAX));
    app.add_option("--elevation", options->view.elevationDeg,
                   "then tilt; positive looks down onto the top (default 0)")
        ->type_name("DEG")
        ->check(cmdline::Float(-FLT_MAX, FLT_MAX));
    app.add_option("--zoom", options->view.zoom,
                   "magnification (default 1: the volume's bounding sphere fills the image "
                   "height), " +
                       cmdline::Number(kMinZoom) + " to " + cmdline::Number(kMaxZoom))
        ->type_name("F")
        ->check(cmdline::Float(kMinZoom, kMaxZoom, "the factor"));
    app.add_option("-o,--output", options->outputPath,
                   "PNG to write (default kestrel-mip.png); written completely or not at all")
        ->type_name("FILE")
        ->check(cmdline::Value("PNG file name"));
    app.add_option("--frames", options->frames,
                   "render N frames around the vertical axis, starting at the view above, and "
                   "print the median and minimum time per frame")
        ->type_name("N")
        ->check(cmdline::Integer(1, kMaxFrames));
    app.add_flag(
        "--no-grid", [options](int64_t) { options->useGrid = false; },
        "use the kernel without empty-space skipping");
    app.add_flag("--gl", options->useGL,
                 "draw through an off-screen OpenGL context (needs $DISPLAY) instead of "
                 "compositing the frame on the CPU");
    app.footer(
        "Exit status: 0 on success, 2 for a bad file or option (one line on stderr), 1 "
        "otherwise.");

    if (!cmdline::Parse(app, argc, argv, options->volume.file)) return false;
    if (!size.empty()) cmdline::ToImageSize(size, &options->width, &options->height);
    options->volume.Check(app);
    options->views->Check();
    return true;
}

std::string RenderUsage(const RenderOptions& options) {
    return options.app->help();
}
