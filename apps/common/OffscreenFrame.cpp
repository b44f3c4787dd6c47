// Off-screen frames of the volume scenes.
#include "OffscreenFrame.h"

#include <cmath>
#include <cstdio>

#include "SceneParam.h"
#include "VRImage.h"

namespace {

constexpr float kPi = 3.14159265358979f;

inline float Clamp01(float value) {
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

}  // namespace

void ApplyViewAngles(SceneParam& camera, const ViewAngles& view) {
    camera.rotation = view.start;
    camera.scale = 1.0f;
    // Azimuth: a horizontal drag of one "pixel" worth `azimuth` radians turns about eye y.
    camera.MakeReference();
    camera.Rotate(1, 0, view.azimuthDeg * kPi / 180.0f);
    // Elevation: a downward drag turns about eye +x, bringing the top towards the eye.
    camera.MakeReference();
    camera.Rotate(0, -1, view.elevationDeg * kPi / 180.0f);
    // Zoom: scale = exp(1 * ln zoom) * 1.
    camera.MakeReference();
    camera.Scale(1, std::log(view.zoom));
}

std::vector<uint8_t> CompositeOverBackground(const VRImage* image, int width, int height,
                                             const float background[3]) {
    // The cleared frame: the background colour with alpha 1, as RenderContent's glClearColor.
    const float clear[4] = {background[0], background[1], background[2], 1.0f};
    std::vector<uint8_t> frame(size_t(width) * height * 4);
    for (size_t p = 0; p < size_t(width) * height; ++p) {
        for (int c = 0; c < 4; ++c)
            frame[p * 4 + c] = QuantiseUnorm8(clear[c]);
    }
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

void ResetCamera(Scene& scene, const Quaternion& start) {
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    scene.SetRotation(start);
    scene.SetScale(1.0f);
    scene.SetTranslate(origin);
}
