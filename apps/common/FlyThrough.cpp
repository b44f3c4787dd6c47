// Fly-through camera placement and the off-screen endoscopy slice.
#include "FlyThrough.h"

#include <cmath>

#include "CoherentVolume.h"
#include "EndoscopySliceRendering.h"
#include "OffscreenFrame.h"
#include "SceneParam.h"
#include "VRImage.h"

void PlaceCamera(SceneParam& camera, const int dims[3], const float spacings[3],
                 const FlyThroughPose& pose) {
    float size[3];
    float eye[3];
    float d[3];
    for (int a = 0; a < 3; ++a) {
        size[a] = float(dims[a]) * spacings[a];
        eye[a] = pose.eye[a] * spacings[a];  // box coordinates: the volume's corner at 0
        d[a] = pose.direction[a] * spacings[a];
    }
    camera.InitSceneParam(size);
    const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    // From the identity (looking down -z, up +y), Turn(h, 0) looks along (sin h, 0, -cos h) and a
    // following Turn(0, v) along (cos v sin h, sin v, -cos v cos h).
    const float horizontal = (d[0] == 0.0f && d[2] == 0.0f) ? 0.0f : std::atan2(d[0], -d[2]);
    const float vertical = std::asin(std::fmax(-1.0f, std::fmin(1.0f, d[1] / length)));
    camera.rotation = Quaternion();
    camera.Turn(horizontal, 0.0f);
    camera.Turn(0.0f, vertical);
    camera.MoveTo(eye[0], eye[1], eye[2], size);
}

FlyThroughPose AxisPose(const int dims[3], int axis, int sign) {
    FlyThroughPose pose;
    for (int a = 0; a < 3; ++a) {
        pose.eye[a] = 0.5f * float(dims[a] - 1);
        pose.direction[a] = a == axis ? float(sign) : 0.0f;
    }
    return pose;
}

bool AxisPoseOfLetter(char letter, const int dims[3], FlyThroughPose* pose) {
    const std::string letters = "xyzXYZ";
    const std::string::size_type at = letters.find(letter);
    if (at == std::string::npos) return false;
    *pose = AxisPose(dims, int(at % 3), at < 3 ? 1 : -1);
    return true;
}

float MeanSpacing(const CoherentVolume& volume) {
    const float* const s = volume.spacings;
    return float((double(s[0]) + s[1] + s[2]) / 3.0);
}

std::vector<uint8_t> RenderSliceRgba8(CoherentVolume* volume, const SceneParam& camera,
                                      bool horizontal, float gridSpacing, float windowWidth,
                                      float windowCenter, int width, int height) {
    VRImage image;
    image.width = width;
    image.height = height;
    image.Allocate();
    EndoscopySliceRendering kernel;
    kernel.volume = volume;
    kernel.image = &image;
    for (int a = 0; a < 3; ++a) {
        kernel.sliceBounds[2 * a] = 0.0f;
        kernel.sliceBounds[2 * a + 1] = float(volume->dimensions[a] - 1);
    }
    kernel.windowWidth = windowWidth;
    kernel.windowCenter = windowCenter;
    Matrix4x4 view;
    camera.CalculateViewMatrix(&view);
    kernel.CalculatePixelToVoxelMatrix(horizontal, gridSpacing * camera.scale, view);
    kernel.Render();
    // opaque: the drawn pixel is the kernel's, quantised as GL does
    std::vector<uint8_t> rgba(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = QuantiseUnorm8(image.pixels[i]);
    return rgba;
}
