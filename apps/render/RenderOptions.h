// Command line of kestrel-render.
#pragma once

#include <string>

#include "DataType.h"
#include "MIPFrame.h"

struct RenderOptions {
    std::string volumePath;      // structured volume file; empty: raw or phantom
    std::string rawPath;         // --raw FILE
    int rawDims[3] = {0, 0, 0};  // --dims
    bool haveDims = false;
    DataType rawType{};  // --type
    bool haveType = false;
    float spacing[3] = {1.0f, 1.0f, 1.0f};  // --spacing
    bool haveSpacing = false;
    int phantomSize = 256;  // --phantom-size
    bool havePhantomSize = false;

    int width = 512;  // --size WxH
    int height = 512;
    ViewAngles view;  // --azimuth, --elevation, --zoom

    bool haveWindow = false;  // --window WIDTH CENTRE
    float windowWidth = 0.0f;
    float windowCenter = 0.0f;
    bool haveCrop = false;  // --crop x0 x1 y0 y1 z0 z1
    float crop[6] = {0, 0, 0, 0, 0, 0};

    int frames = 0;                              // --frames N (0: one frame, no timing)
    bool useGrid = true;                         // --no-grid switches to the plain cell walk
    bool useGL = false;                          // --gl
    std::string outputPath = "kestrel-mip.png";  // --output
    bool help = false;
};

// Parses argv. Throws InputError (VolumeLoader.h) with a message naming the option.
RenderOptions ParseRenderOptions(int argc, char** argv);

// The --help text.
std::string RenderUsage();
