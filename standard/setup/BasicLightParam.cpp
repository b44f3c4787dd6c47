// Light and material defaults; the headlight helper.
#include "BasicLightParam.h"

#include <cmath>

BasicLightParam::BasicLightParam()
    : lightDirection(1.0f, 0.0f, 0.0f, 0.0f),
      lightIntensity(1.0f),
      lightColor{1.0f, 1.0f, 1.0f},
      ambient(0.1f),
      diffuse(1.0f),
      specular(0.5f),
      specularPower(10.0f),
      backgroundColor{0.0f, 0.0f, 0.0f},
      illustrativeShading(false) {}

void BasicLightParam::GlobalLightDir(Vector4 direction, Matrix4x4 modelView) {
    // Eye-space direction back into the space the model-view matrix starts from.
    modelView.Inverse();
    lightDirection = modelView * direction;
    // Unit length over x, y, z; w stays as transformed.
    const float invLength =
        1.0f / std::sqrt(lightDirection.x * lightDirection.x + lightDirection.y * lightDirection.y +
                         lightDirection.z * lightDirection.z);
    lightDirection.x *= invLength;
    lightDirection.y *= invLength;
    lightDirection.z *= invLength;
}
