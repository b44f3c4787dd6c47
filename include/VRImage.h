// Output image of the CPU ray casters: premultiplied RGBA float pixels covering a window
// rectangle, drawn into the current GL context at that rectangle.
#pragma once

#include "KestrelExport.h"

// RGBA 32-bit float image of one window rectangle.
//
// Layout: width x height pixels, rows from the bottom row of the rectangle upward, each pixel
// four floats R, G, B, A with the colour premultiplied by alpha; the pixel at window position
// (windowX + i, windowY + j) starts at float (j * width + i) * 4. width is followed by height
// and windowX by windowY in memory, so (&width) and (&windowX) serve as two-int outputs of
// VRSceneParam::CalculateVRSceneParamAndImageRegion.
//
// Owns pixels (new[]/delete[]). Copying is forbidden: a member-wise copy would release one buffer
// twice. Workers may write disjoint pixels concurrently; Allocate and Render belong to the GL
// thread.
class KESTREL_STANDARD_API VRImage {
public:
    VRImage();
    ~VRImage();
    VRImage(const VRImage&) = delete;
    VRImage& operator=(const VRImage&) = delete;

    // Releases the buffer and allocates width * height * 4 uninitialised floats for the current
    // rectangle. Negative sizes or a count beyond 32 bits raise std::bad_alloc after the release.
    void Allocate();

    // Draws the image at (windowX, windowY) over the current frame with premultiplied blending
    // (GL_ONE, GL_ONE_MINUS_SRC_ALPHA) and leaves blending enabled. Needs a current GL context
    // with GLEW initialised; does nothing without pixels or without glWindowPos2i.
    void Render() const;

    int width;      // 0; rectangle width in pixels
    int height;     // 0; rectangle height in pixels
    int windowX;    // 0; window x of the lower-left pixel (GL window coordinates)
    int windowY;    // 0; window y of the lower-left pixel (y up from the bottom edge)
    float* pixels;  // null; width * height * 4 floats, owned, contents written by the kernels
};
