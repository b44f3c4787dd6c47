// The endoscopy slice kernel: every pixel's voxel position against the inverse view matrix in
// double precision (read back through the grey of linear ramps, which trilinear interpolation
// reproduces exactly), the axis-aligned steps and the camera's place on the image, and the grey
// window, the black outside and the opaque alpha on exact voxel positions.
#include "EndoscopySliceRendering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "FrameTestSupport.h"
#include "SceneParam.h"
#include "VRImage.h"
#include "VolumeData.h"

using namespace frametest;

namespace {

// Voxel positions from the double-precision path agree with the kernel's float map to this many
// voxels (coordinates up to ~40 voxels, single-precision inverse and products).
constexpr double kPositionTolerance = 2e-3;
// Pixels whose reference position lies this close to the slice bounds are not judged: float and
// double may put them on different sides.
constexpr double kBoundaryMargin = 1e-2;

// Voxel position of pixel (j, i) of a w x h cut, computed from its eye-space point and the inverse
// of view x T (T centring the volume) in double precision, then divided by the spacings.
std::array<double, 3> ReferencePosition(const Matrix4x4& view, const TestVolume& v, bool horizontal,
                                        double s, int w, int h, int j, int i) {
    const Mat centre = Translation(-0.5 * v.dims[0] * v.spacing[0], -0.5 * v.dims[1] * v.spacing[1],
                                   -0.5 * v.dims[2] * v.spacing[2]);
    const Mat eyeToPhysical = Invert(Mul(ToDouble(view), centre));
    // horizontal: x = s (j - w/2) right, -z = s (i + 0.5) forward; vertical: forward and up
    const Vec eyePoint = horizontal ? Vec{s * (j - 0.5 * w), 0.0, -s * (i + 0.5), 1.0}
                                    : Vec{0.0, s * (i - 0.5 * h), -s * (j + 0.5), 1.0};
    const Vec p = Apply(eyeToPhysical, eyePoint);
    return {p[0] / p[3] / v.spacing[0], p[1] / p[3] / v.spacing[1], p[2] / p[3] / v.spacing[2]};
}

// Values (index along `axis`) + 10: trilinear interpolation returns the coordinate + 10.
std::unique_ptr<TestVolume> RampVolume(const int dims[3], const float spacing[3], int axis) {
    std::vector<float> values;
    for (int z = 0; z < dims[2]; ++z)
        for (int y = 0; y < dims[1]; ++y)
            for (int x = 0; x < dims[0]; ++x)
                values.push_back(float((axis == 0 ? x : axis == 1 ? y : z) + 10));
    return MakeVolume(dims, spacing, values);
}

TEST(EndoscopySliceRendering, PixelPositionsMatchTheInverseViewThroughRampImages) {
    const int dims[3] = {23, 17, 29};
    const float spacing[3] = {0.9f, 1.3f, 0.7f};
    const float size[3] = {dims[0] * spacing[0], dims[1] * spacing[1], dims[2] * spacing[2]};
    const int w = 41, h = 33;
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int judgedInside = 0, judgedOutside = 0, skipped = 0;
    for (int trial = 0; trial < 8; ++trial) {
        // A fly-through camera: eye somewhere in the box, turned and rolled, zoomed.
        SceneParam camera;
        camera.InitSceneParam(45.0f, 1.0f, size);
        camera.scale = 0.6f + unit(rng);
        camera.MoveTo(unit(rng) * size[0], unit(rng) * size[1], unit(rng) * size[2], size);
        camera.Turn(3.0f * unit(rng) - 1.5f, 3.0f * unit(rng) - 1.5f);
        camera.Roll(6.0f * unit(rng) - 3.0f);
        Matrix4x4 view;
        camera.CalculateViewMatrix(&view);
        const bool horizontal = trial % 2 == 0;
        const float pixelSize = (0.15f + 0.35f * unit(rng)) * camera.scale;
        for (int axis = 0; axis < 3; ++axis) {
            const std::unique_ptr<TestVolume> v = RampVolume(dims, spacing, axis);
            VRImage image;
            image.width = w;
            image.height = h;
            image.windowX = 7;  // the window position does not move the cut
            image.windowY = -3;
            image.Allocate();
            EndoscopySliceRendering kernel;
            kernel.volume = &v->volume;
            kernel.image = &image;
            // a box smaller than the volume on some axes, so that the bounds are the box's
            const float bounds[6] = {2.0f, 20.0f, 0.0f, 16.0f, 3.5f, 28.0f};
            std::memcpy(kernel.sliceBounds, bounds, sizeof bounds);
            // grey = (value - 25) / 200 + 0.5 stays inside (0, 1) for every value of the ramps
            kernel.windowWidth = 200.0f;
            kernel.windowCenter = 25.0f;
            kernel.CalculatePixelToVoxelMatrix(horizontal, pixelSize, view);
            kernel.Render();
            for (int i = 0; i < h; ++i) {
                for (int j = 0; j < w; ++j) {
                    const float* px = image.pixels + (std::size_t(i) * w + j) * 4;
                    ASSERT_EQ(px[3], 1.0f) << "alpha at " << j << ", " << i;
                    const std::array<double, 3> p =
                        ReferencePosition(view, *v, horizontal, pixelSize, w, h, j, i);
                    double inside = INFINITY;  // signed distance to the box, negative outside
                    for (int a = 0; a < 3; ++a)
                        inside = std::min({inside, p[a] - bounds[2 * a], bounds[2 * a + 1] - p[a]});
                    if (std::fabs(inside) < kBoundaryMargin) {
                        ++skipped;
                        continue;
                    }
                    if (inside < 0) {
                        ++judgedOutside;
                        EXPECT_TRUE(px[0] == 0.0f && px[1] == 0.0f && px[2] == 0.0f)
                            << "outside pixel " << j << ", " << i << " trial " << trial;
                        continue;
                    }
                    ++judgedInside;
                    EXPECT_EQ(px[0], px[1]);
                    EXPECT_EQ(px[0], px[2]);
                    // the coordinate the grey encodes: (g - 0.5) * 200 + 25 - 10
                    const double coordinate = (double(px[0]) - 0.5) * 200.0 + 15.0;
                    EXPECT_NEAR(coordinate, p[axis], kPositionTolerance)
                        << "pixel " << j << ", " << i << " axis " << axis << " trial " << trial;
                }
            }
        }
    }
    // The cameras cut through the box and past it.
    EXPECT_GT(judgedInside, 3 * 8 * w * h / 5);
    EXPECT_GT(judgedOutside, 3 * w * h / 2);
    EXPECT_LT(skipped, 3 * 8 * w * h / 100);
}

// A camera looking down -z without rotation or zoom, its eye at box point `eye`.
Matrix4x4 AxisAlignedView(const float size[3], const float eye[3]) {
    SceneParam camera;
    camera.InitSceneParam(45.0f, 1.0f, size);
    camera.MoveTo(eye[0], eye[1], eye[2], size);
    Matrix4x4 view;
    camera.CalculateViewMatrix(&view);
    return view;
}

// P(j, i) = sliceOrigin + (j + 0.5) columnStep + (i + 0.5) rowStep, at fractional j, i.
std::array<double, 3> SlicePoint(const EndoscopySliceRendering& k, double j, double i) {
    std::array<double, 3> p;
    for (int a = 0; a < 3; ++a)
        p[a] = k.sliceOrigin[a] + (j + 0.5) * k.columnStep[a] + (i + 0.5) * k.rowStep[a];
    return p;
}

TEST(EndoscopySliceRendering, AxisAlignedStepsAndTheCameraOnTheImageEdge) {
    const int dims[3] = {30, 20, 40};
    const float spacing[3] = {0.8f, 0.8f, 0.8f};
    const float size[3] = {24.0f, 16.0f, 32.0f};
    const float eyeBox[3] = {10.0f, 6.4f, 20.0f};  // voxel (12.5, 8, 25)
    const std::unique_ptr<TestVolume> v = RampVolume(dims, spacing, 0);
    const Matrix4x4 view = AxisAlignedView(size, eyeBox);
    const double eye[3] = {12.5, 8.0, 25.0};
    constexpr double kTolerance = 1e-4;
    for (const int w : {16, 17}) {
        const int h = w + 4;
        VRImage image;
        image.width = w;
        image.height = h;
        EndoscopySliceRendering kernel;
        kernel.volume = &v->volume;
        kernel.image = &image;

        // Horizontal: columns one voxel apart along x, rows one voxel apart along -z; the eye half
        // a pixel below the bottom row's centres, at the horizontal middle (j = w / 2).
        kernel.CalculatePixelToVoxelMatrix(true, 0.8f, view);
        const double right[3] = {1, 0, 0}, forward[3] = {0, 0, -1}, up[3] = {0, 1, 0};
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(kernel.columnStep[a], right[a], kTolerance) << a;
            EXPECT_NEAR(kernel.rowStep[a], forward[a], kTolerance) << a;
        }
        std::array<double, 3> camera = SlicePoint(kernel, 0.5 * w, -0.5);
        for (int a = 0; a < 3; ++a)
            EXPECT_NEAR(camera[a], eye[a], kTolerance) << "horizontal, w " << w << " axis " << a;

        // Vertical: columns forward, rows up; the eye half a pixel left of the first column's
        // centres, at the vertical middle.
        kernel.CalculatePixelToVoxelMatrix(false, 0.8f, view);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(kernel.columnStep[a], forward[a], kTolerance) << a;
            EXPECT_NEAR(kernel.rowStep[a], up[a], kTolerance) << a;
        }
        camera = SlicePoint(kernel, -0.5, 0.5 * h);
        for (int a = 0; a < 3; ++a)
            EXPECT_NEAR(camera[a], eye[a], kTolerance) << "vertical, h " << h << " axis " << a;
    }
}

TEST(EndoscopySliceRendering, GreyWindowBlackOutsideAndOpaque) {
    // 8-bit volume 4 x 4 x 4 whose value depends on x only: 0, 64, 128, 255.
    const std::uint8_t row[4] = {0, 64, 128, 255};
    VolumeData data;
    data.SetDataType(VolumeData::dtUint8);
    const int dims[4] = {4, 4, 4};
    data.SetDimensions(dims);
    data.Allocate();
    auto* samples = static_cast<std::uint8_t*>(data.GetData());
    for (int n = 0; n < 64; ++n)
        samples[n] = row[n % 4];
    CoherentVolume volume;
    volume.SetData(&data);

    // Six columns at x = 0 .. 5 (the last two beyond the volume), two rows at y = 0, 1, z = 2:
    // exact voxel positions, so each grey is a window of one sample value.
    VRImage image;
    image.width = 6;
    image.height = 2;
    image.Allocate();
    EndoscopySliceRendering kernel;
    kernel.volume = &volume;
    kernel.image = &image;
    const float columnStep[3] = {1, 0, 0}, rowStep[3] = {0, 1, 0}, origin[3] = {-0.5f, -0.5f, 2};
    std::memcpy(kernel.columnStep, columnStep, sizeof columnStep);
    std::memcpy(kernel.rowStep, rowStep, sizeof rowStep);
    std::memcpy(kernel.sliceOrigin, origin, sizeof origin);
    const float bounds[6] = {0, 3, 0, 3, 0, 3};
    std::memcpy(kernel.sliceBounds, bounds, sizeof bounds);

    struct Case {
        float width, center;
        float grey[4];  // expected grey of the values 0, 64, 128, 255
    };
    const Case cases[] = {
        // default window: 0 .. 256 linearly, so 255 is just below white, the centre 128 is 0.5
        {256.0f, 128.0f, {0.0f, 0.25f, 0.5f, 255.0f / 256.0f}},
        // 64 and below black, 192 and above white
        {128.0f, 128.0f, {0.0f, 0.0f, 0.5f, 1.0f}},
        // centre at 64: (128 - 64) / 256 + 0.5
        {256.0f, 64.0f, {0.25f, 0.5f, 0.75f, 1.0f}},
    };
    for (const Case& c : cases) {
        kernel.windowWidth = c.width;
        kernel.windowCenter = c.center;
        kernel.Render();
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 6; ++j) {
                const float* px = image.pixels + (i * 6 + j) * 4;
                const float g = j < 4 ? c.grey[j] : 0.0f;  // x = 4, 5: outside, black
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_NEAR(px[ch], g, 1e-6f)
                        << "window " << c.width << "/" << c.center << " pixel " << j << ", " << i;
                EXPECT_EQ(px[3], 1.0f);
            }
        }
    }

    // A box that excludes the top row and the first column blackens them, alpha still 1.
    const float narrow[6] = {0.5f, 3, 0, 0.5f, 0, 3};
    std::memcpy(kernel.sliceBounds, narrow, sizeof narrow);
    kernel.Render();
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 6; ++j) {
            const float* px = image.pixels + (i * 6 + j) * 4;
            if (i == 1 || j == 0 || j >= 4)
                EXPECT_EQ(px[0], 0.0f) << j << ", " << i;
            else
                EXPECT_GT(px[0], 0.0f) << j << ", " << i;
            EXPECT_EQ(px[3], 1.0f);
        }

    // Without a volume the image is left as it was.
    for (int n = 0; n < 6 * 2 * 4; ++n)
        image.pixels[n] = -1.0f;
    kernel.volume = nullptr;
    kernel.Render();
    for (int n = 0; n < 6 * 2 * 4; ++n)
        ASSERT_EQ(image.pixels[n], -1.0f);
}

}  // namespace
