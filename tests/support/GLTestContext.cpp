// GL test context over the applications' off-screen context.
#include "support/GLTestContext.h"

GLTestContext::GLTestContext(int width, int height) : width_(width), height_(height) {
    ok_ = context_.Create(width, height, &error_);
}

bool GLTestContext::DisplayAvailable() {
    return OffscreenGL::DisplayAvailable();
}

void GLTestContext::MakeCurrent() {
    if (ok_) context_.MakeCurrent();
}

std::vector<uint8_t> GLTestContext::ReadPixels8() const {
    return ok_ ? context_.ReadFrame() : std::vector<uint8_t>();
}

std::vector<float> GLTestContext::ReadPixelsFloat() const {
    return ok_ ? context_.ReadFrameFloat() : std::vector<float>();
}
