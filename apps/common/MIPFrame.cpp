// Off-screen frames of a MIPVRScene.
#include "MIPFrame.h"

#include <cmath>
#include <cstdio>

#include "VRImage.h"

namespace {

constexpr float kPi = 3.14159265358979f;

inline float Clamp01(float value) {
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

}  // namespace

void OffscreenMIPScene::SetViewportSize(int width, int height) {
    viewport[0] = width;
    viewport[1] = height;
    sceneParam.aspect = float(width) / float(height);
}

void OffscreenMIPScene::SetView(const ViewAngles& view) {
    sceneParam.rotation = Quaternion();
    sceneParam.scale = 1.0f;
    // Azimuth: a horizontal drag of one "pixel" worth `azimuth` radians turns about eye y.
    sceneParam.MakeReference();
    sceneParam.Rotate(1, 0, view.azimuthDeg * kPi / 180.0f);
    // Elevation: a downward drag turns about eye +x, bringing the top towards the eye.
    sceneParam.MakeReference();
    sceneParam.Rotate(0, -1, view.elevationDeg * kPi / 180.0f);
    // Zoom: scale = exp(1 * ln zoom) * 1.
    sceneParam.MakeReference();
    sceneParam.Scale(1, std::log(view.zoom));
}

void OffscreenMIPScene::CastFrame(bool useGrid) {
    UpdateCamera();
    CastImage(useGrid);
}

std::vector<uint8_t> OffscreenMIPScene::Composite() {
    const int width = viewport[0];
    const int height = viewport[1];
    // The cleared frame: black, alpha 1, as RenderContent's glClearColor(0, 0, 0, 1).
    const float background[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    std::vector<uint8_t> frame(size_t(width) * height * 4);
    for (size_t p = 0; p < size_t(width) * height; ++p) {
        for (int c = 0; c < 4; ++c)
            frame[p * 4 + c] = QuantiseUnorm8(background[c]);
    }
    const VRImage* image = GetKernelModule().image;
    if (image == nullptr || image->pixels == nullptr) return frame;
    for (int j = 0; j < image->height; ++j) {
        const int y = image->windowY + j;
        if (y < 0 || y >= height) continue;  // GL clips the rectangle to the window
        for (int i = 0; i < image->width; ++i) {
            const int x = image->windowX + i;
            if (x < 0 || x >= width) continue;
            const float* src = image->pixels + (size_t(j) * image->width + i) * 4;
            uint8_t* dst = &frame[(size_t(y) * width + x) * 4];
            // glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA): dst = src + (1 - src.a) * dst, the
            // source clamped to [0, 1] by the fixed-point colour buffer.
            const float alpha = Clamp01(src[3]);
            for (int c = 0; c < 4; ++c) {
                const float s = Clamp01(src[c]);
                dst[c] = QuantiseUnorm8(s + (1.0f - alpha) * (float(dst[c]) / 255.0f));
            }
        }
    }
    return frame;
}

std::string OffscreenMIPScene::Settings() const {
    char text[80];
    std::snprintf(text, sizeof(text), ", window %g / %g", double(GetWindowWidth()),
                  double(GetWindowCenter()));
    return text;
}
