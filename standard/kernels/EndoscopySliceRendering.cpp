// Endoscopy slice: the affine pixel-to-voxel map of a fly-through camera's cut plane, and the
// grey image of one trilinear sample per pixel.
#include "EndoscopySliceRendering.h"

#include <climits>

#include "CoherentVolume.h"
#include "VRImage.h"
#include "kernels/KernelFrame.h"

namespace {

// What the slice's pixels read, written before the fan-out: the volume, the affine map and its
// box, and the grey window as grey = value * greyScale + greyOffset.
struct SliceState : VolumeSampler {
    float columnStep[3];
    float rowStep[3];
    float sliceOrigin[3];
    float sliceBounds[6];
    float greyScale;   // 1 / windowWidth
    float greyOffset;  // 0.5 - windowCenter / windowWidth
    int windowX;       // the image's window position, taken off the frame's pixel coordinates
    int windowY;
};

// A voxel access that remembers the corners of the last cell it fetched. A worker's successive
// pixels of a magnified cut often fall into one cell (at a quarter voxel per pixel and two
// workers, every other one), and those samples skip the block look-up. One per worker (each
// worker copies its pixel function). Measured on the phantom's 1024^2 horizontal cut at 0.24 mm
// per pixel (bench/SliceBench.cpp): processor time per frame 23 -> 18 ms.
template <class Voxels>
struct LastCellVoxels {
    Voxels voxels;
    int dims[3];
    mutable int cell[3];       // the cell whose corners are kept; x = INT_MIN before the first
    mutable float corners[8];  // its corners, as Voxels::FetchCellCorners delivers them

    explicit LastCellVoxels(const Voxels& source)
        : voxels(source),
          dims{source.dims[0], source.dims[1], source.dims[2]},
          cell{INT_MIN, 0, 0},
          corners{} {}

    void FetchCellCorners(int cx, int cy, int cz, float out[8]) const {
        if (cx != cell[0] || cy != cell[1] || cz != cell[2]) {
            voxels.FetchCellCorners(cx, cy, cz, corners);
            cell[0] = cx;
            cell[1] = cy;
            cell[2] = cz;
        }
        for (int c = 0; c < 8; ++c)
            out[c] = corners[c];
    }
};

// The grey of one pixel, over one voxel access (the sample type is fixed per frame).
template <class Voxels>
struct SlicePixel {
    const SliceState* state;
    LastCellVoxels<Voxels> voxels;

    Vector4 operator()(int x, int y) const {
        const SliceState& s = *state;
        // P = sliceOrigin + (j + 0.5) columnStep + (i + 0.5) rowStep
        const float u = float(x - s.windowX) + 0.5f;
        const float v = float(y - s.windowY) + 0.5f;
        Vector4 p(s.sliceOrigin[0] + u * s.columnStep[0] + v * s.rowStep[0],
                  s.sliceOrigin[1] + u * s.columnStep[1] + v * s.rowStep[1],
                  s.sliceOrigin[2] + u * s.columnStep[2] + v * s.rowStep[2], 1.0f);
        const float* const b = s.sliceBounds;
        // Inclusive box test, written so that a NaN coordinate fails it: outside is black.
        if (!(p.x >= b[0] && p.x <= b[1] && p.y >= b[2] && p.y <= b[3] && p.z >= b[4] &&
              p.z <= b[5]))
            return Vector4(0.0f, 0.0f, 0.0f, 1.0f);
        // grey = (value - windowCenter) / windowWidth + 0.5, clamped by the frame when stored
        const float g = SampleTrilinearFrom(voxels, p) * s.greyScale + s.greyOffset;
        return Vector4(g, g, g, 1.0f);
    }
};

}  // namespace

EndoscopySliceRendering::EndoscopySliceRendering()
    : volume(nullptr),
      image(nullptr),
      columnStep{0.0f, 0.0f, 0.0f},
      rowStep{0.0f, 0.0f, 0.0f},
      sliceOrigin{0.0f, 0.0f, 0.0f},
      windowWidth(256.0f),
      windowCenter(128.0f),
      sliceBounds{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f} {}

void EndoscopySliceRendering::CalculatePixelToVoxelMatrix(bool horizontal, float pixelSize,
                                                          Matrix4x4 view) {
    if (!volume || !image) return;
    const int* const d = volume->dimensions;
    const float* const sp = volume->spacings;
    // T: corner-based physical coordinates to the model space centred on the volume.
    const Matrix4x4 centre = Matrix4x4::TranslateMatrix(
        -0.5f * float(d[0]) * sp[0], -0.5f * float(d[1]) * sp[1], -0.5f * float(d[2]) * sp[2]);
    // B = (view T)^-1: eye space to physical; C = S B: eye space to voxel index coordinates.
    Matrix4x4 eyeToPhysical = view * centre;
    eyeToPhysical.Inverse();
    Matrix4x4 eyeToVoxel =
        Matrix4x4::ScaleMatrix(1.0f / sp[0], 1.0f / sp[1], 1.0f / sp[2]) * eyeToPhysical;
    const float homogeneous = eyeToVoxel.m[15];
    for (float& element : eyeToVoxel.m)
        element /= homogeneous;
    // Columns of C: the eye's right (c0), up (c1) and backward (c2) axes per eye unit, and the
    // eye position (c3), all in voxel index units.
    const float* const right = eyeToVoxel.m;
    const float* const up = eyeToVoxel.m + 4;
    const float* const backward = eyeToVoxel.m + 8;
    const float* const eye = eyeToVoxel.m + 12;
    const float s = pixelSize;
    if (horizontal) {
        // columns along right, rows forward; the eye centred below the bottom row
        const float half = float(image->width + 1) * 0.5f;
        for (int a = 0; a < 3; ++a) {
            columnStep[a] = s * right[a];
            rowStep[a] = -s * backward[a];
            sliceOrigin[a] = eye[a] - s * right[a] * half;
        }
    } else {
        // columns forward, rows along up; the eye centred left of the first column
        const float half = float(image->height + 1) * 0.5f;
        for (int a = 0; a < 3; ++a) {
            columnStep[a] = -s * backward[a];
            rowStep[a] = s * up[a];
            sliceOrigin[a] = eye[a] - s * up[a] * half;
        }
    }
}

void EndoscopySliceRendering::Render() {
    if (!volume || !image) return;
    SliceState state;
    if (!state.BindVolume(volume)) return;
    if (state.dims[0] < 1 || state.dims[1] < 1 || state.dims[2] < 1) return;
    for (int a = 0; a < 3; ++a) {
        state.columnStep[a] = columnStep[a];
        state.rowStep[a] = rowStep[a];
        state.sliceOrigin[a] = sliceOrigin[a];
    }
    for (int i = 0; i < 6; ++i)
        state.sliceBounds[i] = sliceBounds[i];
    state.greyScale = 1.0f / windowWidth;
    state.greyOffset = 0.5f - windowCenter / windowWidth;
    state.windowX = image->windowX;
    state.windowY = image->windowY;
    VisitVoxelAccess(state, [&](const auto& voxels) {
        using Voxels = std::decay_t<decltype(voxels)>;
        RenderImagePixels(image, SlicePixel<Voxels>{&state, LastCellVoxels<Voxels>(voxels)});
    });
}
