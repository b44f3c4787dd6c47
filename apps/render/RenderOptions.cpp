// Option parsing of kestrel-render: every value is checked, every mistake named.
#include "RenderOptions.h"

#include <cfloat>
#include <vector>

#include "CommandLine.h"
#include "VolumeLoader.h"

namespace {

constexpr int kMaxImageSide = 16384;
constexpr int kMaxFrames = 100000;

}  // namespace

RenderOptions::RenderOptions() = default;
RenderOptions::~RenderOptions() = default;

bool ParseRenderOptions(int argc, char** argv, RenderOptions* options) {
    options->app = cmdline::NewApp("Renders a view of a volume to a PNG file, without a display.",
                                   "kestrel-render");
    CLI::App& app = *options->app;
    options->volume.AddTo(app);
    options->views.reset(new ViewChoice(app, true));
    std::string size;
    app.add_option("--size", size, "image size in pixels (default 512x512)")
        ->type_name("WxH")
        ->check(cmdline::ImageSize(kMaxImageSide));
    app.add_option("--azimuth", options->view.azimuthDeg,
                   "turn about the vertical screen axis from the start view (default 0: the "
                   "anterior view of a scan that knows the patient's axes, else the volume "
                   "seen along -z; see --view-from)")
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
                   "print the median and minimum time per frame (with --eye: N frames of the "
                   "fly-through camera; with --eye-to: along its path, each one written)")
        ->type_name("N")
        ->check(cmdline::Integer(1, kMaxFrames));
    std::vector<float> eye, look, eyeTo;
    const auto voxelPoint = cmdline::Float(-FLT_MAX, FLT_MAX, "the coordinate");
    CLI::Option* eyeOption =
        app.add_option("--eye", eye,
                       "fly-through camera: put the eye at this point in voxel coordinates "
                       "(voxel i, j, k at X = i, Y = j, Z = k) instead of --azimuth/--elevation/"
                       "--zoom")
            ->type_name("X Y Z")
            ->expected(3)
            ->check(voxelPoint);
    app.add_option("--look", look,
                   "with --eye: the viewing direction in voxel coordinates (default 0 0 -1)")
        ->type_name("DX DY DZ")
        ->expected(3)
        ->check(voxelPoint)
        ->needs(eyeOption);
    app.add_option("--eye-to", eyeTo,
                   "with --eye and --frames N: fly in N frames along the straight line from "
                   "--eye to this point (voxel coordinates), writing NAME-0001.png ... for "
                   "--output NAME.png")
        ->type_name("X Y Z")
        ->expected(3)
        ->check(voxelPoint)
        ->needs(eyeOption);
    app.add_option("--slice", options->slice,
                   "with --eye: draw the endoscopy slice of the camera instead of the view: the "
                   "horizontal cut (camera's right axis and viewing direction, camera at the "
                   "bottom middle) or the vertical cut (viewing direction and up axis, camera at "
                   "the left middle); one pixel per mean voxel spacing, grey window over the "
                   "volume's value range; with --gl the field-of-view lines are drawn too")
        ->type_name("horizontal|vertical")
        ->check(CLI::IsMember({"horizontal", "vertical"}))
        ->needs(eyeOption);
    app.add_flag(
        "--no-grid", [options](int64_t) { options->useGrid = false; },
        "use the kernel without empty-space skipping");
    app.add_flag("--gl", options->useGL,
                 "draw through an off-screen OpenGL context (needs $DISPLAY) instead of "
                 "compositing the frame on the CPU");
    app.add_flag("--info", options->info,
                 "print what VOLUME holds (dimensions, spacings, sample type, value range, "
                 "series or volume chosen, orientation) and stop");
    app.add_option("--convert", options->convertPath,
                   "write VOLUME as a structured volume file OUT and stop: a slow DICOM folder "
                   "is read once and reopened fast")
        ->type_name("OUT")
        ->check(cmdline::Value("structured volume file name"));
    app.footer(
        "Exit status: 0 on success, 2 for a bad file or option (one line on stderr), 1 "
        "otherwise.");

    if (!cmdline::Parse(app, argc, argv, options->volume.file)) return false;
    if (!size.empty()) cmdline::ToImageSize(size, &options->width, &options->height);
    options->volume.Check(app);
    for (const char* name : {"--info", "--convert"}) {
        if (app.count(name) > 0 && options->volume.file.empty()) {
            throw InputError(std::string(name) + ": needs a VOLUME file");
        }
    }
    options->views->Check();
    if (!eye.empty()) {
        for (const char* camera : {"--azimuth", "--elevation", "--zoom"}) {
            if (app.count(camera) > 0) {
                throw InputError(std::string(camera) +
                                 ": not with --eye (the fly-through camera is placed by --eye "
                                 "and --look)");
            }
        }
        options->flyThrough = true;
        for (int a = 0; a < 3; ++a) {
            options->pose.eye[a] = eye[a];
            if (!look.empty()) options->pose.direction[a] = look[a];
        }
        if (!look.empty() && look[0] == 0.0f && look[1] == 0.0f && look[2] == 0.0f) {
            throw InputError("--look: the direction must not be 0 0 0");
        }
    }
    if (!eyeTo.empty()) {
        if (options->frames < 2) {
            throw InputError("--eye-to: needs --frames N with N >= 2 (the frames of the path)");
        }
        options->path = true;
        for (int a = 0; a < 3; ++a)
            options->pathEnd[a] = eyeTo[a];
    }
    return true;
}

std::string RenderUsage(const RenderOptions& options) {
    return options.app->help();
}
