// Output image of the CPU ray casters and its drawing into the current GL context.
#include "VRImage.h"

#include <GL/glew.h>

#include <climits>
#include <cstdint>
#include <new>

VRImage::VRImage() : width(0), height(0), windowX(0), windowY(0), pixels(nullptr) {}

VRImage::~VRImage() {
    delete[] pixels;
}

void VRImage::Allocate() {
    delete[] pixels;
    pixels = nullptr;
    // Count in 64 bits: a negative size or one whose float count leaves 32 bits cannot be drawn.
    const std::int64_t count = std::int64_t(width) * std::int64_t(height) * 4;
    if (width < 0 || height < 0 || count > INT_MAX) throw std::bad_array_new_length();
    pixels = new float[std::size_t(count)];
}

void VRImage::Render() const {
    if (!pixels || !glWindowPos2i) return;
    // destination = source + (1 - source alpha) destination: the colours are premultiplied.
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glWindowPos2i(windowX, windowY);
    glDrawPixels(width, height, GL_RGBA, GL_FLOAT, pixels);
}
