// VRSceneParam: the worked region examples (eye inside, truncation, clamping, regions outside the
// window), physicalToVoxel, and the matrices against an independent double-precision projection.
#include "VRSceneParam.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "../kernels/FrameTestSupport.h"

using namespace frametest;

namespace {

// An affine "projection" for a unit box seen from view = translate(0.5, 0.5, -10): eye-space x and
// y then run over [0, 1] across the box, and the window x (y) range of the box is exactly
// [xMin, xMax] ([yMin, yMax]) up to float rounding. w stays 1, so no corner lies behind the eye.
struct AffineCamera {
    Matrix4x4 view, projection;
    int dims[3] = {1, 1, 1};
    float spacing[3] = {1.f, 1.f, 1.f};
};

AffineCamera MakeAffineCamera(const int viewport[2], double xMin, double xMax, double yMin,
                              double yMax) {
    AffineCamera c;
    c.view = Matrix4x4::TranslateMatrix(0.5f, 0.5f, -10.f);
    const double hw = 0.5 * viewport[0], hh = 0.5 * viewport[1];
    // x_ndc = (x_window - hw) / hw, linear in eye x over [0, 1].
    Mat p{};
    p[0] = (xMax - xMin) / hw;
    p[12] = xMin / hw - 1.0;
    p[5] = (yMax - yMin) / hh;
    p[13] = yMin / hh - 1.0;
    p[10] = 0.01;  // depth: any invertible choice
    p[15] = 1.0;
    c.projection = ToFloat(p);
    return c;
}

struct Region {
    int origin[2] = {-7, -7};
    int size[2] = {-9, -9};
};

Region Calculate(VRSceneParam& param, const int viewport[2], const AffineCamera& c) {
    Region r;
    param.CalculateVRSceneParamAndImageRegion(viewport, c.dims, c.spacing, c.view, c.projection,
                                              r.origin, r.size);
    return r;
}

}  // namespace

TEST(VRSceneParamRegion, EyeInsideTheBoxCoversTheWindowPlusOneColumnAndRow) {
    const int viewport[2] = {800, 600};
    const int dims[3] = {64, 32, 16};
    const float spacing[3] = {1.f, 2.f, 0.5f};
    // View = identity puts the eye at the model origin, the centre of the box.
    const Matrix4x4 view;
    const Matrix4x4 projection = ToFloat(Perspective(45.0, 800.0 / 600.0, 1.0, 100.0));
    VRSceneParam param;
    int origin[2] = {-1, -1}, size[2] = {-1, -1};
    param.CalculateVRSceneParamAndImageRegion(viewport, dims, spacing, view, projection, origin,
                                              size);
    EXPECT_EQ(origin[0], 0);
    EXPECT_EQ(origin[1], 0);
    EXPECT_EQ(size[0], 801);
    EXPECT_EQ(size[1], 601);
}

TEST(VRSceneParamRegion, TruncatesTheProjectedExtent) {
    // y = 50 is exact in float with a 512-pixel-high window (256 * y_ndc + 256).
    const int viewport[2] = {800, 512};
    const AffineCamera c = MakeAffineCamera(viewport, 100.7, 300.2, 50.0, 80.9);
    VRSceneParam param;
    const Region r = Calculate(param, viewport, c);
    EXPECT_EQ(r.origin[0], 100);
    EXPECT_EQ(r.origin[1], 50);
    EXPECT_EQ(r.size[0], 200);  // int(300.2 - 100.7 + 1) = int(200.5)
    EXPECT_EQ(r.size[1], 31);   // int(80.9 - 50 + 1) = int(31.9)
}

TEST(VRSceneParamRegion, ClampsToTheWindowWithTheUpperBoundOneBeyond) {
    const int viewport[2] = {800, 600};
    VRSceneParam param;
    {
        // Partly left of the window.
        const Region r =
            Calculate(param, viewport, MakeAffineCamera(viewport, -40.5, 120.3, 10.25, 20.5));
        EXPECT_EQ(r.origin[0], 0);
        EXPECT_EQ(r.size[0], 121);  // int(120.3 - 0 + 1)
        EXPECT_EQ(r.origin[1], 10);
        EXPECT_EQ(r.size[1], 11);  // int(20.5 - 10.25 + 1)
    }
    {
        // Beyond the right and top edges: max clamps to W (H), so the region reaches one column
        // (row) past the last one.
        const Region r =
            Calculate(param, viewport, MakeAffineCamera(viewport, 700.0, 950.0, 500.0, 640.0));
        EXPECT_EQ(r.origin[0], 700);
        EXPECT_EQ(r.size[0], 101);
        EXPECT_EQ(r.origin[0] + r.size[0], 801);
        EXPECT_EQ(r.origin[1], 500);
        EXPECT_EQ(r.size[1], 101);
    }
}

TEST(VRSceneParamRegion, ProjectionWhollyOutsideLeavesTheRegionButUpdatesTheMatrices) {
    const int viewport[2] = {800, 600};
    const AffineCamera cases[] = {
        MakeAffineCamera(viewport, -300.0, -10.0, 100.0, 200.0),  // left
        MakeAffineCamera(viewport, 100.0, 200.0, -90.0, -0.5),    // below
        MakeAffineCamera(viewport, 799.5, 900.0, 100.0, 200.0),   // right: both beyond W - 1
        MakeAffineCamera(viewport, 100.0, 200.0, 599.25, 650.0),  // above: both beyond H - 1
    };
    for (const AffineCamera& c : cases) {
        VRSceneParam param;
        param.windowToPhysical = Matrix4x4::ScaleMatrix(3.f, 3.f, 3.f);
        param.physicalToVoxel = Matrix4x4::ScaleMatrix(3.f, 3.f, 3.f);
        const Region r = Calculate(param, viewport, c);
        EXPECT_EQ(r.origin[0], -7);
        EXPECT_EQ(r.origin[1], -7);
        EXPECT_EQ(r.size[0], -9);
        EXPECT_EQ(r.size[1], -9);
        // windowToPhysical inverts the physical-to-window map: a box corner goes to the window
        // and back.
        const Mat toWindow = Mul(Mul(Mat{0.5 * viewport[0], 0, 0, 0, 0, 0.5 * viewport[1], 0, 0, 0,
                                         0, 0.5, 0, 0.5 * viewport[0], 0.5 * viewport[1], 0.5, 1},
                                     ToDouble(c.projection)),
                                 Mul(ToDouble(c.view), Translation(-0.5, -0.5, -0.5)));
        const Vec corner{1.0, 0.0, 1.0, 1.0};
        const Vec window = Apply(toWindow, corner);
        const Vec back = Apply(ToDouble(param.windowToPhysical), window);
        for (int a = 0; a < 3; ++a)
            EXPECT_NEAR(back[a] / back[3], corner[a], 1e-4);
        EXPECT_FLOAT_EQ(param.physicalToVoxel.m[0], 1.f);
        EXPECT_FLOAT_EQ(param.physicalToVoxel.m[5], 1.f);
    }
}

TEST(VRSceneParamMatrices, PhysicalToVoxelIsTheInverseSpacing) {
    const int viewport[2] = {800, 600};
    const int dims[3] = {10, 10, 10};
    const float spacing[3] = {0.5f, 0.5f, 2.f};
    const Matrix4x4 view = Matrix4x4::TranslateMatrix(0.f, 0.f, -40.f);
    const Matrix4x4 projection = ToFloat(Perspective(45.0, 4.0 / 3.0, 1.0, 100.0));
    VRSceneParam param;
    int origin[2], size[2];
    param.CalculateVRSceneParamAndImageRegion(viewport, dims, spacing, view, projection, origin,
                                              size);
    const float expected[16] = {2.f, 0, 0, 0, 0, 2.f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1.f};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(param.physicalToVoxel.m[i], expected[i]) << i;
}

// A perspective camera at a random orientation and distance: the eight box corners, projected in
// double precision, map back to themselves through windowToPhysical; the eye derived from the
// matrix's third column is the camera position; and the region holds every corner.
TEST(VRSceneParamMatrices, BoxCornersRoundTripThroughTheWindow) {
    std::mt19937 rng(4242);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int viewport[2] = {640, 480};
    for (int trial = 0; trial < 50; ++trial) {
        const int dims[3] = {8 + int(rng() % 120), 8 + int(rng() % 120), 8 + int(rng() % 120)};
        const float spacing[3] = {0.5f + float(rng() % 4) * 0.25f, 0.5f + float(rng() % 4) * 0.25f,
                                  0.5f + float(rng() % 4) * 0.5f};
        const double size[3] = {double(float(dims[0]) * spacing[0]),
                                double(float(dims[1]) * spacing[1]),
                                double(float(dims[2]) * spacing[2])};
        const double radius =
            0.5 * std::sqrt(size[0] * size[0] + size[1] * size[1] + size[2] * size[2]);
        double ax = unit(rng), ay = unit(rng), az = unit(rng);
        const double len = std::sqrt(ax * ax + ay * ay + az * az);
        ax /= len, ay /= len, az /= len;
        const double distance = radius * (2.5 + unit(rng));
        const Mat view =
            Mul(Translation(0.3 * radius * unit(rng), 0.3 * radius * unit(rng), -distance),
                Rotation(3.0 * unit(rng), ax, ay, az));
        const Mat projection =
            Perspective(40.0, 640.0 / 480.0, distance - radius * 1.1, distance + radius * 1.1);
        VRSceneParam param;
        int origin[2] = {-1, -1}, regionSize[2] = {-1, -1};
        param.CalculateVRSceneParamAndImageRegion(viewport, dims, spacing, ToFloat(view),
                                                  ToFloat(projection), origin, regionSize);
        const Mat toPhysical = ToDouble(param.windowToPhysical);
        double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
        for (int corner = 0; corner < 8; ++corner) {
            const double p[3] = {(corner & 1) ? size[0] : 0.0, (corner & 2) ? size[1] : 0.0,
                                 (corner & 4) ? size[2] : 0.0};
            const auto w = ProjectToWindow(view, projection, size, viewport, p);
            minX = std::min(minX, w[0]), maxX = std::max(maxX, w[0]);
            minY = std::min(minY, w[1]), maxY = std::max(maxY, w[1]);
            const Vec back = Apply(toPhysical, Vec{w[0], w[1], w[2], 1.0});
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(back[a] / back[3], p[a], 2e-4 * radius) << "trial " << trial;
        }
        // The centre of projection: the camera position in physical coordinates.
        const Vec eyeModel = Apply(Invert(view), Vec{0, 0, 0, 1});
        const float* m = param.windowToPhysical;
        for (int a = 0; a < 3; ++a)
            EXPECT_NEAR(m[8 + a] / m[11], eyeModel[a] + 0.5 * size[a], 2e-4 * radius);
        // Region: the clamped extremes, truncated (allowing one pixel for float rounding).
        const double loX = std::max(minX, 0.0), hiX = std::min(maxX, double(viewport[0]));
        const double loY = std::max(minY, 0.0), hiY = std::min(maxY, double(viewport[1]));
        EXPECT_NEAR(origin[0], std::floor(loX), 1.0);
        EXPECT_NEAR(origin[1], std::floor(loY), 1.0);
        EXPECT_NEAR(regionSize[0], std::floor(hiX - loX + 1.0), 1.0);
        EXPECT_NEAR(regionSize[1], std::floor(hiY - loY + 1.0), 1.0);
    }
}

// The region must hold every pixel whose ray meets the box, also when the eye is just outside the
// box and part of the box lies behind the eye: corners behind the eye project to the wrong side,
// so the region then has to be the whole window.
TEST(VRSceneParamRegion, HoldsEveryPixelWhoseRayMeetsTheBox) {
    const int viewport[2] = {64, 48};
    const int dims[3] = {20, 20, 20};
    const float spacing[3] = {1.f, 1.f, 1.f};
    const double size[3] = {20.0, 20.0, 20.0};
    struct Case {
        Mat view;
        bool cornerBehindEye;
    };
    const Case cases[] = {
        // Well in front of the camera, turned.
        {Mul(Translation(3.0, -2.0, -45.0), Rotation(0.7, 0.6, 0.8, 0.0)), false},
        // Eye just outside the +z face (model (-5.82, -7.04, 10.44)), turned a little: the far
        // corners of that face lie behind the eye plane, and their projections land on the wrong
        // side, so the corners' extremes alone would leave out the left part of the window.
        {Mul(Rotation(0.169, 0.0, 1.0, 0.0), Translation(5.82, 7.04, -10.44)), true},
    };
    for (const Case& c : cases) {
        const Mat projection = Perspective(60.0, 64.0 / 48.0, 0.5, 200.0);
        // Sanity of the case: eye outside the box; the corner condition as intended.
        const Vec eyeModel = Apply(Invert(c.view), Vec{0, 0, 0, 1});
        const double eye[3] = {eyeModel[0] + 10.0, eyeModel[1] + 10.0, eyeModel[2] + 10.0};
        ASSERT_FALSE(eye[0] >= 0 && eye[0] <= 20 && eye[1] >= 0 && eye[1] <= 20 && eye[2] >= 0 &&
                     eye[2] <= 20);
        bool behind = false;
        for (int corner = 0; corner < 8; ++corner) {
            const Vec e =
                Apply(c.view, Vec{(corner & 1) ? 10.0 : -10.0, (corner & 2) ? 10.0 : -10.0,
                                  (corner & 4) ? 10.0 : -10.0, 1.0});
            behind = behind || e[2] >= 0.0;
        }
        ASSERT_EQ(behind, c.cornerBehindEye);

        VRSceneParam param;
        int origin[2] = {-1, -1}, regionSize[2] = {-1, -1};
        param.CalculateVRSceneParamAndImageRegion(viewport, dims, spacing, ToFloat(c.view),
                                                  ToFloat(projection), origin, regionSize);
        const Mat windowToPhysical =
            Invert(Mul(Mul(Mat{32, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0.5, 0, 32, 24, 0.5, 1}, projection),
                       Mul(c.view, Translation(-10, -10, -10))));
        const double lo[3] = {0, 0, 0};
        int hits = 0;
        for (int y = 0; y < viewport[1]; ++y)
            for (int x = 0; x < viewport[0]; ++x) {
                const Vec p = Apply(windowToPhysical, Vec{x + 0.5, y + 0.5, 0.0, 1.0});
                const double d[3] = {p[0] / p[3] - eye[0], p[1] / p[3] - eye[1],
                                     p[2] / p[3] - eye[2]};
                double tNear, tFar;
                SlabIntersect(eye, d, lo, size, tNear, tFar);
                if (!(tFar > std::max(tNear, 0.0) + 1e-6)) continue;
                ++hits;
                EXPECT_TRUE(x >= origin[0] && x < origin[0] + regionSize[0] && y >= origin[1] &&
                            y < origin[1] + regionSize[1])
                    << "pixel " << x << ", " << y << " outside region " << origin[0] << ", "
                    << origin[1] << " + " << regionSize[0] << " x " << regionSize[1];
            }
        EXPECT_GT(hits, 50);
        if (c.cornerBehindEye) {
            EXPECT_EQ(origin[0], 0);
            EXPECT_EQ(origin[1], 0);
            EXPECT_EQ(regionSize[0], 65);
            EXPECT_EQ(regionSize[1], 49);
        }
    }
}
