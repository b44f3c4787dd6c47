// Per-frame ray set-up: window-to-physical and physical-to-voxel matrices and the window
// rectangle covered by the volume's projection.
#include "VRSceneParam.h"

#include <limits>

VRSceneParam::VRSceneParam() : croppingBounds{0.f, 0.f, 0.f, 0.f, 0.f, 0.f}, rayLimit(nullptr) {}

void VRSceneParam::CalculateVRSceneParamAndImageRegion(
    int const* const viewport, int const* const dims, float const* const spacing,
    Matrix4x4 const& view, Matrix4x4 const& projection, int* const regionOrigin,
    int* const regionSize) {
    if (!viewport || !dims || !spacing) return;
    const int width = viewport[0], height = viewport[1];
    const float size[3] = {float(dims[0]) * spacing[0], float(dims[1]) * spacing[1],
                           float(dims[2]) * spacing[2]};

    // Physical -> model (box centred on the origin) -> eye.
    const Matrix4x4 physicalToModel =
        Matrix4x4::TranslateMatrix(size[0] * -0.5f, size[1] * -0.5f, size[2] * -0.5f);
    const Matrix4x4 physicalToEye = view * physicalToModel;
    // The eye in physical coordinates: translation column of the inverse, divided by its w.
    Matrix4x4 eyeToPhysical = physicalToEye;
    eyeToPhysical.Inverse();
    const float* const e = eyeToPhysical;
    const float eye[3] = {e[12] / e[15], e[13] / e[15], e[14] / e[15]};

    // physicalToVoxel = diag(1 / spacing, 1).
    physicalToVoxel = Matrix4x4(1.f / spacing[0], 0.f, 0.f, 0.f, 0.f, 1.f / spacing[1], 0.f, 0.f,
                                0.f, 0.f, 1.f / spacing[2], 0.f, 0.f, 0.f, 0.f, 1.f);

    // Viewport transform: NDC [-1, 1] -> window x in [0, W], y in [0, H], depth in [0, 1].
    const Matrix4x4 viewportMatrix(float(width) * 0.5f, 0.f, 0.f, 0.f, 0.f, float(height) * 0.5f,
                                   0.f, 0.f, 0.f, 0.f, 0.5f, 0.f, float(width) * 0.5f,
                                   float(height) * 0.5f, 0.5f, 1.f);
    const Matrix4x4 physicalToWindow = (viewportMatrix * projection) * physicalToEye;
    windowToPhysical = physicalToWindow;
    windowToPhysical.Inverse();

    // Window bounds of the box.
    float minX, maxX, minY, maxY;
    bool wholeWindow = eye[0] >= 0.f && eye[0] <= size[0] && eye[1] >= 0.f && eye[1] <= size[1] &&
                       eye[2] >= 0.f && eye[2] <= size[2];
    if (!wholeWindow) {
        minX = minY = std::numeric_limits<float>::infinity();
        maxX = maxY = -std::numeric_limits<float>::infinity();
        for (int corner = 0; corner < 8; ++corner) {
            const Vector4 q = physicalToWindow * Vector4((corner & 1) ? size[0] : 0.f,
                                                         (corner & 2) ? size[1] : 0.f,
                                                         (corner & 4) ? size[2] : 0.f, 1.f);
            if (!(q.w > 0.f)) {
                // A corner on or behind the eye plane: the box's projection is unbounded there, so
                // only the whole window is sure to hold it.
                wholeWindow = true;
                break;
            }
            const float inverseW = 1.f / q.w;
            const float x = q.x * inverseW, y = q.y * inverseW;
            if (x < minX) minX = x;
            if (x > maxX) maxX = x;
            if (y < minY) minY = y;
            if (y > maxY) maxY = y;
        }
        if (!wholeWindow) {
            // Wholly left of or below the window.
            if ((minX < 0.f && maxX < 0.f) || (minY < 0.f && maxY < 0.f)) return;
        }
    }
    if (wholeWindow) {
        minX = 0.f;
        maxX = float(width);
        minY = 0.f;
        maxY = float(height);
    }

    // Wholly right of or above the window.
    const float lastColumn = float(width - 1), lastRow = float(height - 1);
    if ((minX > lastColumn && maxX > lastColumn) || (minY > lastRow && maxY > lastRow)) return;

    // Clamp to the window; the upper clamp is W and H, one beyond the last column and row.
    if (minX < 0.f) minX = 0.f;
    if (maxX > float(width)) maxX = float(width);
    if (minY < 0.f) minY = 0.f;
    if (maxY > float(height)) maxY = float(height);

    if (!regionOrigin || !regionSize) return;
    regionSize[0] = int(maxX - minX + 1.f);
    regionSize[1] = int(maxY - minY + 1.f);
    regionOrigin[0] = int(minX);
    regionOrigin[1] = int(minY);
}
