// The light drag of the shaded scenes.
#include "LightDrag.h"

#include <cmath>

#include "Quaternion.h"

Vector4 DraggedLightDirection(const Vector4& atStart, int pressX, int pressY, int x, int y,
                              float radPerPixel, const Matrix4x4& view) {
    const float dx = float(x - pressX);
    const float dy = float(pressY - y);  // upward positive
    const float h = std::sqrt(dx * dx + dy * dy);
    // Axis (0, 0, 1) x d = (-dy, dx, 0), unit length; no turn at the press point.
    const Quaternion turn =
        h == 0.0f ? Quaternion() : Quaternion(-dy / h, dx / h, 0.0f, h * radPerPixel);
    Matrix4x4 back = view;
    back.Inverse();
    return (back * turn.ToMatrix()) * (view * atStart);
}
