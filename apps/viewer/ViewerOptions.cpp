// Command-line parsing of kestrel-viewer.
#include "ViewerOptions.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "CommandLine.h"
#include "OutputFile.h"
#include "VolumeLoader.h"

namespace {

// Strict decimal integer in [lo, hi].
bool ParseInt(std::string const& s, int lo, int hi, int* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long const v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

ViewerOptions::ViewerOptions() = default;
ViewerOptions::~ViewerOptions() = default;

std::string ViewerUsage(ViewerOptions const& options) {
    return options.app->help();
}

bool ParseViewerOptions(int argc, char** argv, ViewerOptions* options) {
    options->app = cmdline::NewApp(
        "Shows a Kestrel scene in a window and hands it the mouse and keys.", "kestrel-viewer");
    CLI::App& app = *options->app;
    options->volume.AddTo(app);
    options->views.reset(new ViewChoice(app, false));
    std::string size;
    app.add_option("--size", size, "window client size in pixels (default 800x600)")
        ->type_name("WxH")
        ->check(cmdline::ImageSize(16384));
    app.add_flag("--endoscopy", options->endoscopy,
                 "start in endoscopy mode; a view of a volume then shows the endoscopy slice "
                 "(a cut through the volume at the camera) in the left half of the window");
    std::string cut;
    app.add_option("--cut", cut,
                   "the slice's cut: horizontal (the camera's right axis and viewing direction; "
                   "default) or vertical (viewing direction and up axis)")
        ->type_name("horizontal|vertical")
        ->check(CLI::IsMember({"horizontal", "vertical"}));
    std::string axis;
    app.add_option("--look-along", axis,
                   "put the camera at the volume's centre looking along this axis of voxel "
                   "coordinates (views of a volume)")
        ->type_name("+x|-x|+y|-y|+z|-z")
        ->check(CLI::IsMember({"+x", "-x", "+y", "-y", "+z", "-z"}));
    app.add_option("--frames", options->frames, "render N frames (after --events), then exit")
        ->type_name("N")
        ->check(cmdline::Integer(1, 1000000));
    app.add_option("--screenshot", options->screenshot, "with --frames: save the last frame as PNG")
        ->type_name("FILE")
        ->check(cmdline::Value("PNG file name"));
    app.add_option("--shot-dir", options->shotDir,
                   "folder for the screenshot key's PNGs (default .)")
        ->type_name("DIR")
        ->check(cmdline::Value("folder name"));
    app.add_option("--events", options->events,
                   "play input events after the first frame, e.g. \"ldown 400 300; move 450 300; "
                   "lup 450 300\" (ldown/lup/mdown/mup/rdown/rup X Y, move X Y, wheel +1|-1, "
                   "key C, keyup C, special N, specialup N)")
        ->type_name("SCRIPT")
        ->check(CLI::Validator(
            [](std::string& script) {
                std::vector<ScriptEvent> events;
                std::string error;
                return ParseEventScript(script, &events, &error) ? std::string() : error;
            },
            ""));
    app.add_flag("--full-frames", options->fullFrames,
                 "render every frame at full quality (by default frames during a drag, wheel or "
                 "walk are coarse to fit --frame-budget and refine once input stops; key f "
                 "switches)");
    app.add_option("--frame-budget", options->frameBudget,
                   "milliseconds a coarse frame or refinement step aims at (default 60)")
        ->type_name("MS")
        ->check(CLI::Range(1.0f, 10000.0f));
    app.add_option("--timings", options->timings,
                   "write one CSV line per frame: frame,ms,level (level full for a full-quality "
                   "frame, coarseN for every N-th ray, refine for a refinement step)")
        ->type_name("FILE")
        ->check(cmdline::Value("CSV file name"));
    app.footer(
        "Mouse (examine mode): left drag rotates, middle drag pans, right drag\n"
        "  zooms (up enlarges).\n"
        "Mouse (endoscopy mode): left drag turns the view, right drag up/down\n"
        "  rolls it, middle drag pans; the pointer is held at the window centre.\n"
        "Mouse (endoscopy slice, left half): left drag moves the camera within the\n"
        "  cut, right drag turns it, middle drag sets the grey window (right: wider,\n"
        "  up: higher centre), wheel zooms the cut; the yellow lines are the\n"
        "  camera's field of view.\n"
        "Keys:\n"
        "  w s a d     endoscopy mode: walk forward, back, left, right (holding\n"
        "              a key accelerates)\n"
        "  e           switch between examine and endoscopy mode (with the slice)\n"
        "  c           endoscopy slice: switch horizontal / vertical cut\n"
        "  x y z       endoscopy slice: camera at the volume's centre looking along\n"
        "              +x +y +z (X Y Z: -x -y -z; voxel coordinates)\n"
        "  f           switch coarse frames while interacting on / off (the title\n"
        "              shows the last frame's time and level)\n"
        "  p           save a screenshot (the next kestrel-viewer-NNN.png in --shot-dir)\n"
        "  q, Esc      quit\n" +
        options->views->KeysHelp());

    if (!cmdline::Parse(app, argc, argv, options->volume.file)) return false;
    if (!size.empty()) cmdline::ToImageSize(size, &options->width, &options->height);
    options->verticalCut = cut == "vertical";
    if (!axis.empty())
        options->lookAlong =
            axis[0] == '+' ? axis.substr(1) : std::string(1, char(axis[1] - 'a' + 'A'));
    if (!options->screenshot.empty() && options->frames == 0) {
        throw InputError("--screenshot needs --frames N (the screenshot key saves interactively)");
    }
    std::string why;
    if (app.count("--shot-dir") > 0 && !CheckWritableFolder(options->shotDir, &why)) {
        throw InputError("--shot-dir " + options->shotDir + ": " + why);
    }
    options->volume.Check(app);
    View& view = options->views->Check();
    if (!view.ShowsVolume() && options->volume.AnyGiven(app)) {
        throw InputError(std::string("--view ") + view.Name() +
                         " shows no volume: drop the volume options or pick a volume view");
    }
    return true;
}

bool ParseEventScript(std::string const& text, std::vector<ScriptEvent>* events,
                      std::string* error) {
    std::string normalized = text;
    for (char& c : normalized)
        if (c == ',') c = ';';
    std::stringstream all(normalized);
    std::string item;
    while (std::getline(all, item, ';')) {
        std::stringstream words(item);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (w.empty()) continue;
        ScriptEvent e;
        e.kind = w[0];
        auto bad = [&](std::string const& why) {
            *error = "bad event '" + item + "' in --events: " + why;
            return false;
        };
        bool const point = e.kind == "ldown" || e.kind == "lup" || e.kind == "mdown" ||
                           e.kind == "mup" || e.kind == "rdown" || e.kind == "rup" ||
                           e.kind == "move";
        if (point) {
            if (w.size() != 3 || !ParseInt(w[1], -100000, 100000, &e.a) ||
                !ParseInt(w[2], -100000, 100000, &e.b))
                return bad("expected " + e.kind + " X Y");
        } else if (e.kind == "wheel") {
            if (w.size() != 2 || !ParseInt(w[1], -1000, 1000, &e.a) || e.a == 0)
                return bad("expected wheel +1 or -1");
        } else if (e.kind == "key" || e.kind == "keyup") {
            if (w.size() != 2 || w[1].size() != 1) return bad("expected a single character");
            e.a = static_cast<unsigned char>(w[1][0]);
        } else if (e.kind == "special" || e.kind == "specialup") {
            if (w.size() != 2 || !ParseInt(w[1], 0, 100000, &e.a))
                return bad("expected a GLUT special key code");
        } else {
            return bad("unknown event");
        }
        events->push_back(e);
    }
    return true;
}
