// Turning a light direction with a mouse drag, as the shaded scenes do while light rotation is
// switched on.
#pragma once

#include "Matrix4x4.h"
#include "Vector.h"

// The light direction after a drag from the press (pressX, pressY) to (x, y), window coordinates
// with y down: with d = (x - pressX, pressY - y, 0), the direction at the press is taken into eye
// space (view), turned by |d| radPerPixel about the eye-space axis (0, 0, 1) x d and taken back:
//   light = (view^-1 R) view atStart   (all four components).
// A horizontal drag turns the light about the screen's vertical axis; a drag back to the press
// point gives atStart again (the identity turn).
Vector4 DraggedLightDirection(const Vector4& atStart, int pressX, int pressY, int x, int y,
                              float radPerPixel, const Matrix4x4& view);
