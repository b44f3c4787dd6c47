// Command-line options of kestrel-viewer.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ViewerOptions {
    std::string view = "mip";   ///< which scene to show (see ViewFactory)
    int width = 800;            ///< window client width, pixels
    int height = 600;           ///< window client height, pixels
    int frames = 0;             ///< scripted run: frames to render, then exit (0: interactive)
    std::string screenshot;     ///< scripted run: PNG written after the last frame
    std::string shotDir = ".";  ///< folder of the screenshot key's numbered PNGs
    std::string events;         ///< synthetic events played after the first frame
    bool endoscopy = false;     ///< start in endoscopy mode
    bool help = false;          ///< --help was given
    /// Settings of view-specific options, filled by ParseViewOption.
    std::map<std::string, std::string> viewSettings;
};

enum class ParseResult { Run, Help, Error };

/// Parses argv[1..]. Options the viewer does not know are offered to the
/// view factory (ParseViewOption). On Error, `error` holds one line.
ParseResult ParseViewerOptions(int argc, char** argv, ViewerOptions* options, std::string* error);

/// The --help text.
std::string ViewerUsage();

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
