// Command-line parsing of kestrel-viewer.
#include "ViewerOptions.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "ViewFactory.h"

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

bool ParseSize(std::string const& s, int* w, int* h) {
    size_t const x = s.find_first_of("xX");
    if (x == std::string::npos) return false;
    return ParseInt(s.substr(0, x), 1, 16384, w) && ParseInt(s.substr(x + 1), 1, 16384, h);
}

std::string Join(std::vector<std::string> const& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i)
        out += (i ? ", " : "") + v[i];
    return out;
}

}  // namespace

std::string ViewerUsage() {
    std::string u =
        "Usage: kestrel-viewer [options]\n"
        "Shows a Kestrel scene in a window and hands it the mouse and keys.\n"
        "\n"
        "Options:\n"
        "  -h, --help           show this help and exit\n"
        "  --view NAME          view to show: " +
        Join(ViewNames()) + " (default " + ViewNames().front() +
        ")\n"
        "  --size WxH           window client size in pixels (default 800x600)\n"
        "  --endoscopy          start in endoscopy mode\n"
        "  --frames N           render N frames (after --events), then exit\n"
        "  --screenshot FILE    with --frames: save the last frame as PNG\n"
        "  --shot-dir DIR       folder for the screenshot key's PNGs (default .)\n"
        "  --events SCRIPT      play input events after the first frame, e.g.\n"
        "                       \"ldown 400 300; move 450 300; lup 450 300\"\n"
        "                       (ldown/lup/mdown/mup/rdown/rup X Y, move X Y,\n"
        "                       wheel +1|-1, key C, keyup C, special N, specialup N)\n";
    u += ViewOptionsHelp();
    u += "\n"
         "Mouse (examine mode): left drag rotates, middle drag pans, right drag\n"
         "  zooms (up enlarges).\n"
         "Mouse (endoscopy mode): left drag turns the view, right drag up/down\n"
         "  rolls it, middle drag pans; the pointer is held at the window centre.\n"
         "Keys:\n"
         "  w s a d     endoscopy mode: walk forward, back, left, right (holding\n"
         "              a key accelerates)\n"
         "  e           switch between examine and endoscopy mode\n"
         "  p           save a screenshot (kestrel-viewer-NNN.png in --shot-dir)\n"
         "  q, Esc      quit\n";
    u += ViewKeysHelp();
    return u;
}

ParseResult ParseViewerOptions(int argc, char** argv, ViewerOptions* options, std::string* error) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto value = [&](size_t i, std::string* out) {
        if (i + 1 >= args.size()) {
            *error = "option " + args[i] + " needs a value (see --help)";
            return false;
        }
        *out = args[i + 1];
        return true;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string const& a = args[i];
        std::string v;
        if (a == "-h" || a == "--help") {
            options->help = true;
            return ParseResult::Help;
        } else if (a == "--endoscopy") {
            options->endoscopy = true;
        } else if (a == "--view" || a == "--size" || a == "--frames" || a == "--screenshot" ||
                   a == "--shot-dir" || a == "--events") {
            if (!value(i, &v)) return ParseResult::Error;
            ++i;
            if (a == "--view") {
                std::vector<std::string> const names = ViewNames();
                bool known = false;
                for (std::string const& n : names)
                    known = known || n == v;
                if (!known) {
                    *error = "unknown view '" + v + "' for --view (known: " + Join(names) + ")";
                    return ParseResult::Error;
                }
                options->view = v;
            } else if (a == "--size") {
                if (!ParseSize(v, &options->width, &options->height)) {
                    *error = "bad --size '" + v + "': expected WxH, e.g. 800x600";
                    return ParseResult::Error;
                }
            } else if (a == "--frames") {
                if (!ParseInt(v, 1, 1000000, &options->frames)) {
                    *error = "bad --frames '" + v + "': expected a positive number";
                    return ParseResult::Error;
                }
            } else if (a == "--screenshot") {
                options->screenshot = v;
            } else if (a == "--shot-dir") {
                options->shotDir = v;
            } else {
                std::vector<ScriptEvent> events;
                if (!ParseEventScript(v, &events, error)) return ParseResult::Error;
                options->events = v;
            }
        } else {
            int const used = ParseViewOption(args, i, options, error);
            if (used < 0) return ParseResult::Error;
            if (used == 0) {
                *error = "unknown option '" + a + "' (see --help)";
                return ParseResult::Error;
            }
            i += static_cast<size_t>(used) - 1;
        }
    }
    if (!options->screenshot.empty() && options->frames == 0) {
        *error = "--screenshot needs --frames N (the screenshot key saves interactively)";
        return ParseResult::Error;
    }
    return ParseResult::Run;
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
