// Command line of kestrel-render.
#pragma once

#include <memory>
#include <string>

#include "FlyThrough.h"
#include "View.h"
#include "VolumeOptions.h"

namespace CLI {
class App;
}
class ViewChoice;

struct RenderOptions {
    RenderOptions();
    ~RenderOptions();

    VolumeOptions volume;  // VOLUME, --raw ..., --phantom-size, --crop
    int width = 512;       // --size WxH
    int height = 512;
    ViewAngles view;                             // --azimuth, --elevation, --zoom
    int frames = 0;                              // --frames N (0: one frame, no timing)
    bool useGrid = true;                         // --no-grid switches to the plain cell walk
    bool useGL = false;                          // --gl
    std::string outputPath = "kestrel-mip.png";  // --output
    bool info = false;                           // --info: describe VOLUME, render nothing
    std::string convertPath;  // --convert OUT: write VOLUME as a structured file, render nothing

    // Fly-through camera (voxel coordinates): --eye, --look, --eye-to, --slice.
    bool flyThrough = false;  // --eye given: the camera sits at pose.eye looking along pose
    FlyThroughPose pose;      // --eye X Y Z, --look DX DY DZ
    bool path = false;        // --eye-to given: --frames N frames from --eye to pathEnd
    float pathEnd[3] = {0.0f, 0.0f, 0.0f};
    std::string slice;  // --slice horizontal|vertical: the endoscopy slice instead of the view

    std::unique_ptr<CLI::App> app;      // the parser, with the views' options
    std::unique_ptr<ViewChoice> views;  // --view and the chosen view
};

// Parses argv into `options`. Returns false when --help was given (RenderUsage then tells what
// to print). Throws InputError (VolumeLoader.h) with a message naming the option.
bool ParseRenderOptions(int argc, char** argv, RenderOptions* options);

// The --help text.
std::string RenderUsage(const RenderOptions& options);
