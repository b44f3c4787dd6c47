// An off-screen OpenGL context (GLX pbuffer) for rendering a scene without a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A current GL context of width x height pixels on the X display named by $DISPLAY: RGBA 8 bits
// per channel with a 24-bit depth buffer, drawn and read in its back buffer. Not copyable; used
// from the thread that created it. Meant for one context per process: the destructor releases
// the context and pbuffer but leaves the display connection to the end of the process.
class OffscreenGL {
public:
    OffscreenGL() = default;
    ~OffscreenGL();
    OffscreenGL(OffscreenGL const&) = delete;
    OffscreenGL& operator=(OffscreenGL const&) = delete;

    // Creates the context and makes it current; on failure returns false with a one-line
    // reason in `error`.
    bool Create(int width, int height, std::string* error);

    // glFinish, then the frame as RGBA bytes with rows bottom-up (GL window order).
    std::vector<uint8_t> ReadFrame() const;

private:
    void* display_ = nullptr;
    unsigned long pbuffer_ = 0;
    void* context_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};
