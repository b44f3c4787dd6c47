// Axis-angle construction, normalisation and matrix conversion of Quaternion.
#include "Quaternion.h"

#include <cmath>

Quaternion::Quaternion(float ax, float ay, float az, float angle) {
    float const len = std::sqrt(ax * ax + ay * ay + az * az);
    if (len == 0.0f) {
        x = y = z = 0.0f;
        w = 1.0f;
        return;
    }
    // q = (axis / |axis| * sin(angle / 2), cos(angle / 2))
    float const s = std::sin(angle * 0.5f);
    float const inv = 1.0f / len;
    w = std::cos(angle * 0.5f);
    x = inv * ax * s;
    y = inv * ay * s;
    z = inv * az * s;
}

void Quaternion::Identity() {
    x = y = z = 0.0f;
    w = 1.0f;
}

void Quaternion::Normalize() {
    float const inv = 1.0f / std::sqrt(x * x + y * y + z * z + w * w);
    x *= inv;
    y *= inv;
    z *= inv;
    w *= inv;
}

Quaternion& Quaternion::operator*=(Quaternion const& o) {
    *this = *this * o;
    return *this;
}

Matrix4x4 Quaternion::ToMatrix() const {
    // Rotation matrix of a unit quaternion, column-major:
    //   | 1-2(y2+z2)  2(xy-zw)    2(xz+yw)   |
    //   | 2(xy+zw)    1-2(x2+z2)  2(yz-xw)   |
    //   | 2(xz-yw)    2(yz+xw)    1-2(x2+y2) |
    Matrix4x4 r;
    r.m[0] = 1.0f - 2.0f * (y * y + z * z);
    r.m[1] = 2.0f * (x * y + z * w);
    r.m[2] = 2.0f * (x * z - y * w);
    r.m[3] = 0.0f;
    r.m[4] = 2.0f * (x * y - z * w);
    r.m[5] = 1.0f - 2.0f * (x * x + z * z);
    r.m[6] = 2.0f * (y * z + x * w);
    r.m[7] = 0.0f;
    r.m[8] = 2.0f * (x * z + y * w);
    r.m[9] = 2.0f * (y * z - x * w);
    r.m[10] = 1.0f - 2.0f * (x * x + y * y);
    r.m[11] = 0.0f;
    r.m[12] = 0.0f;
    r.m[13] = 0.0f;
    r.m[14] = 0.0f;
    r.m[15] = 1.0f;
    return r;
}
