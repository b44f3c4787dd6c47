// An off-screen OpenGL context (GLX pbuffer) for rendering without a window: used by
// kestrel-render's --gl path and by the GL tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A GL context of width x height pixels on the X display named by $DISPLAY: RGBA 8 bits per
// channel with a 24-bit depth buffer, double-buffered, drawn and read in its back buffer (a
// single-buffered pbuffer trips Mesa's software path on Xvfb). Not copyable; used from the
// thread that created it.
//
// All contexts of a process share one display connection, opened on first use (retried for
// up to two seconds: an X server resets when its last client leaves and drops connections made
// meanwhile) and never closed: closing it unloads the GL driver, whose remaining allocations a
// leak checker would then report without a module name that a suppression could match.
class OffscreenGL {
public:
    OffscreenGL() = default;
    ~OffscreenGL();
    OffscreenGL(OffscreenGL const&) = delete;
    OffscreenGL& operator=(OffscreenGL const&) = delete;

    // Creates the context, makes it current, runs glewInit and sets the viewport to the whole
    // pbuffer; on failure returns false with a one-line reason in `error`.
    bool Create(int width, int height, std::string* error);

    // Makes this context current again (after another one was used).
    void MakeCurrent();

    // glFinish, then the frame as RGBA bytes, rows bottom-up (GL window order): pixel (x, y) at
    // index (y * width + x) * 4. Empty before a successful Create.
    std::vector<uint8_t> ReadFrame() const;
    // The same as floats in [0, 1].
    std::vector<float> ReadFrameFloat() const;

    // True when $DISPLAY is set and the display can be opened.
    static bool DisplayAvailable();

private:
    unsigned long pbuffer_ = 0;
    void* context_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};
