// Command-line options of kestrel-viewer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "View.h"
#include "VolumeOptions.h"

namespace CLI {
class App;
}

struct ViewerOptions {
    ViewerOptions();
    ~ViewerOptions();

    VolumeOptions volume;       ///< VOLUME, --raw ..., --phantom-size, --crop
    int width = 800;            ///< window client width, pixels
    int height = 600;           ///< window client height, pixels
    int frames = 0;             ///< scripted run: frames to render, then exit (0: interactive)
    std::string screenshot;     ///< scripted run: PNG written after the last frame
    std::string shotDir = ".";  ///< folder of the screenshot key's numbered PNGs
    std::string events;         ///< synthetic events played after the first frame
    bool endoscopy = false;     ///< start in endoscopy mode
    bool verticalCut = false;   ///< --cut vertical: the slice companion starts with that cut
    std::string lookAlong;      ///< --look-along: the axis letter (x y z, X Y Z for -x -y -z)
    bool fullFrames = false;    ///< --full-frames: no coarse frames while interacting
    float frameBudget = 60.0f;  ///< --frame-budget: milliseconds a coarse frame aims at
    std::string timings;        ///< --timings: CSV file of frame,ms,level per frame

    std::unique_ptr<CLI::App> app;      ///< the parser, with the views' options
    std::unique_ptr<ViewChoice> views;  ///< --view and the chosen view
};

/// Parses argv into `options`. Returns false when --help was given (ViewerUsage
/// then tells what to print). Throws InputError (VolumeLoader.h) with one line
/// naming the option.
bool ParseViewerOptions(int argc, char** argv, ViewerOptions* options);

/// The --help text.
std::string ViewerUsage(ViewerOptions const& options);

/// One synthetic input event of the --events script.
struct ScriptEvent {
    std::string kind;  ///< ldown lup mdown mup rdown rup move wheel key keyup special specialup
    int a = 0;         ///< x, wheel direction, key code
    int b = 0;         ///< y
};

/// Parses "ldown 10 20; move 30 40; lup 30 40; key e" (';' or ',' between
/// events). Returns false with one line in `error` on a bad event.
bool ParseEventScript(std::string const& text, std::vector<ScriptEvent>* events,
                      std::string* error);
