// Real OpenGL context for tests: an off-screen GLX pbuffer of a given size on
// the X display named by $DISPLAY (Xvfb with Mesa in the test command).
//
// Usage:
//   GLTestContext gl(64, 48);
//   KESTREL_REQUIRE_GL(gl);           // GTEST_SKIP()s when there is no display
//   ... draw (the context is current, glewInit has run, viewport is 0,0,w,h) ...
//   std::vector<uint8_t> rgba = gl.ReadPixels8();   // w*h*4 bytes, rows bottom-up
//   std::vector<float>   rgbaF = gl.ReadPixelsFloat(); // same layout, 0..1
//
// The context is an OffscreenGL (apps/common): RGBA 8 bits per channel with a
// 24-bit depth buffer, drawn and read in its back buffer, so no swap is needed.
// The constructor never throws and never aborts: on failure Ok() is false
// and Error() says why (no DISPLAY, no GLX 1.3, no matching config, pbuffer
// refused). Not copyable; one context per object, used from the thread that
// created it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OffscreenGL.h"

class GLTestContext {
public:
    GLTestContext(int width, int height);
    GLTestContext(GLTestContext const&) = delete;
    GLTestContext& operator=(GLTestContext const&) = delete;

    /// True when the context exists and is current.
    bool Ok() const { return ok_; }
    /// Why the context could not be created (empty when Ok()).
    std::string const& Error() const { return error_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    /// Makes this context current again (after another context was used).
    void MakeCurrent();

    /// glFinish, then the whole framebuffer as RGBA bytes, rows bottom-up
    /// (GL window coordinates): pixel (x, y) at index (y * Width() + x) * 4.
    std::vector<uint8_t> ReadPixels8() const;
    /// The same as floats in [0, 1].
    std::vector<float> ReadPixelsFloat() const;

    /// True when an X display can be opened ($DISPLAY set and reachable).
    static bool DisplayAvailable();

private:
    OffscreenGL context_;
    int width_ = 0;
    int height_ = 0;
    bool ok_ = false;
    std::string error_;
};

/// Skips the current test with the context's error when no GL context exists.
#define KESTREL_REQUIRE_GL(ctx)                                                  \
    do {                                                                         \
        if (!(ctx).Ok()) GTEST_SKIP() << "no OpenGL context: " << (ctx).Error(); \
    } while (0)
