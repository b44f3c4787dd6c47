// Length and normalisation of the float vectors.
#include "Vector.h"

#include <cmath>

float Vector2::Length() const {
    return std::sqrt(x * x + y * y);
}

void Vector2::Normalize() {
    // v <- v / sqrt(x^2 + y^2)
    float const inv = 1.0f / std::sqrt(x * x + y * y);
    x *= inv;
    y *= inv;
}

float Vector3::Length() const {
    return std::sqrt(x * x + y * y + z * z);
}

void Vector3::Normalize() {
    float const inv = 1.0f / std::sqrt(x * x + y * y + z * z);
    x *= inv;
    y *= inv;
    z *= inv;
}

float Vector4::Length() const {
    return std::sqrt(x * x + y * y + z * z);
}

void Vector4::Normalize() {
    // the homogeneous w is left alone
    float const inv = 1.0f / std::sqrt(x * x + y * y + z * z);
    x *= inv;
    y *= inv;
    z *= inv;
}
