// The isosurface kernel against an independent dense reference (rays in double from the frame's
// ray set-up, the interpolant walked every fiftieth of a voxel to its first crossing, bisected,
// shaded in double), on several volumes with random cameras and cropping boxes; and the kernel's
// edge cases with known answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "BasicLightParam.h"
#include "HeadPhantom.h"
#include "IsosurfaceRayCasterParam.h"
#include "IsosurfaceVR.h"
#include "KernelTestFrame.h"
#include "support/DenseIsoReference.h"

namespace {

struct IsoTestFrame : KernelTestFrame<IsosurfaceVR> {
    BasicLightParam light;
    IsosurfaceRayCasterParam iso;

    IsoTestFrame() {
        kernel.lightParam = &light;
        kernel.isoParam = &iso;
    }

    void Render(bool withGrid) {
        if (withGrid)
            kernel.RenderWithGridPartition();
        else
            kernel.RenderWithoutGridPartition();
    }

    // Rays of a pinhole camera, set directly: pixel (i, j) of a width x height image at window
    // (0, 0) looks from `eye` through corner + (i + 0.5) du + (j + 0.5) dv (physical space).
    // windowToPhysical's columns are du, dv, (eye, 1) and (corner, 1): a window point maps to
    // the plane, the window direction (0, 0, 1, 0) to the eye.
    void AimPinhole(const double eye[3], const double corner[3], const double du[3],
                    const double dv[3], int width, int height) {
        float* m = sceneParam.windowToPhysical.m;
        for (int a = 0; a < 3; ++a) {
            m[a] = float(du[a]);
            m[4 + a] = float(dv[a]);
            m[8 + a] = float(eye[a]);
            m[12 + a] = float(corner[a]);
        }
        m[3] = m[7] = 0.0f;
        m[11] = m[15] = 1.0f;
        sceneParam.physicalToVoxel = Matrix4x4();
        for (int a = 0; a < 3; ++a)
            sceneParam.physicalToVoxel.m[5 * a] = 1.0f / volume.spacings[a];
        image.windowX = image.windowY = 0;
        image.width = width;
        image.height = height;
        image.Allocate();
    }
};

// ---- comparison with the dense reference ----------------------------------------------------

// Where the reference and the kernel both hit, the colours differ only through the float ray,
// hit point and normal of the kernel (and the highlight cut-off of 0.001): within this per
// channel for almost every pixel.
constexpr double kColourTolerance = 0.01;
// Allowed share of both-hit pixels beyond kColourTolerance: hits on either side of a sharp
// feature of the surface, where a float ray and a double ray meet different sheets.
constexpr double kAllowedColourRate = 0.005;
// Allowed share of compared pixels where one hits and the other misses: rays grazing the
// surface at a silhouette, where the crossing is shorter than the float ray's error or the
// dense step.
constexpr double kAllowedCoverageRate = 0.005;
// Rays clipped to less than this (voxels) graze the cropping box; not compared.
constexpr double kMinSegment = 0.01;
// The two entry points walk the same cells, the grid one restarting its voxel walk at each
// processed macro cell from a recomputed entry point: float rounding of the hit only.
constexpr float kEntryPointTolerance = 2e-4f;

struct Stats {
    long compared = 0, hits = 0, coverageMismatch = 0, colourFar = 0, entryPointMismatch = 0;
    double worstColour = 0.0;
    std::string worstReport, coverageReport, entryPointReport;  // first or worst case of each
};

std::string Describe(const IsoTestFrame& f, int i, int j, const float* kernel,
                     const DenseIsoPixel& ref) {
    std::ostringstream out;
    out << "pixel (" << i << ", " << j << ") of " << f.image.width << "x" << f.image.height
        << " at window (" << f.image.windowX << ", " << f.image.windowY << "), camera rotation ("
        << f.camera.rotation.x << ", " << f.camera.rotation.y << ", " << f.camera.rotation.z << ", "
        << f.camera.rotation.w << ") scale " << f.camera.scale << ", isovalue " << f.iso.isovalue
        << ": kernel (" << kernel[0] << ", " << kernel[1] << ", " << kernel[2] << ", " << kernel[3]
        << "), reference (" << ref.rgba[0] << ", " << ref.rgba[1] << ", " << ref.rgba[2] << ", "
        << ref.rgba[3] << ") hit at voxel (" << ref.hitVoxel[0] << ", " << ref.hitVoxel[1] << ", "
        << ref.hitVoxel[2] << ") |N.D| " << ref.facing << (ref.entryBelow ? ", entry below" : "");
    return out.str();
}

// Renders the current view with both entry points, compares each with the reference and the two
// with each other.
void CompareView(IsoTestFrame& f, const DenseVolume& dense, Stats& stats) {
    const int origin[2] = {f.image.windowX, f.image.windowY};
    const int size[2] = {f.image.width, f.image.height};
    const DenseIsoImage ref = RenderDenseIso(dense, f.sceneParam, origin, size, f.light, f.iso);
    const std::size_t count = std::size_t(size[0]) * size[1] * 4;
    f.Render(false);
    const std::vector<float> plain(f.image.pixels, f.image.pixels + count);
    f.Render(true);
    for (int j = 0; j < size[1]; ++j)
        for (int i = 0; i < size[0]; ++i) {
            const DenseIsoPixel& r = ref.At(i, j);
            const std::size_t at = (std::size_t(j) * size[0] + i) * 4;
            for (const float* p : {&plain[at], f.Pixel(i, j)}) {
                const bool kernelHit = p[3] != 0.0f;
                if (!kernelHit) {
                    // A miss is transparent black, never a dark colour.
                    ASSERT_EQ(p[0] + p[1] + p[2] + p[3], 0.0f) << Describe(f, i, j, p, r);
                }
                if (r.segment < kMinSegment) continue;
                ++stats.compared;
                if (r.hit != kernelHit) {
                    if (stats.coverageMismatch++ == 0)
                        stats.coverageReport = Describe(f, i, j, p, r);
                    continue;
                }
                if (!r.hit) continue;
                ++stats.hits;
                ASSERT_EQ(p[3], 1.0f) << Describe(f, i, j, p, r);
                double worst = 0.0;
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(double(p[c]) - r.rgba[c]));
                if (worst > kColourTolerance) ++stats.colourFar;
                if (worst > stats.worstColour) {
                    stats.worstColour = worst;
                    stats.worstReport = Describe(f, i, j, p, r);
                }
            }
            const float* grid = f.Pixel(i, j);
            for (int c = 0; c < 4; ++c) {
                if (std::abs(grid[c] - plain[at + c]) > kEntryPointTolerance) {
                    if (stats.entryPointMismatch++ == 0)
                        stats.entryPointReport = "grid entry point " + Describe(f, i, j, grid, r) +
                                                 "; plain walk's red " + std::to_string(plain[at]);
                    break;
                }
            }
        }
}

void ExpectAgreement(const Stats& s, const char* name) {
    std::cout << name << ": compared " << s.compared << " (both entry points), hits " << s.hits
              << ", coverage mismatches " << s.coverageMismatch << ", colours beyond "
              << kColourTolerance << ": " << s.colourFar << ", entry points apart "
              << s.entryPointMismatch << ", worst colour difference " << s.worstColour << "\n";
    EXPECT_GT(s.hits, 1500) << name;
    EXPECT_GT(s.compared - s.hits, 200) << name << ": too few misses to test coverage";
    EXPECT_LE(double(s.coverageMismatch), kAllowedCoverageRate * double(s.compared))
        << name << ": hit/miss disagreements, first " << s.coverageReport;
    EXPECT_LE(double(s.colourFar), kAllowedColourRate * double(s.hits))
        << name << ": worst " << s.worstReport;
    EXPECT_EQ(s.entryPointMismatch, 0) << name << ": first " << s.entryPointReport;
}

// Three random views (fixed seed): orbit, zoom 0.8 .. 1.8 (eye inside the volume for the last
// when `inside`), pan, and a random cropping box of at least half of each axis. The second view
// is in the illustrative style, the others with Blinn-Phong lighting.
void RunRandomViews(IsoTestFrame& f, const DenseVolume& dense, unsigned seed, bool inside,
                    const char* name) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> angle(-3.1f, 3.1f), zoom(0.8f, 1.8f), pan(-8.f, 8.f),
        unit(0.f, 1.f);
    Stats stats;
    for (int view = 0; view < 3; ++view) {
        for (int a = 0; a < 3; ++a) {
            const float last = float(f.volume.dimensions[a] - 1);
            f.sceneParam.croppingBounds[2 * a] = 0.25f * last * unit(rng);
            f.sceneParam.croppingBounds[2 * a + 1] = last * (1.0f - 0.25f * unit(rng));
        }
        const float z = inside && view == 2 ? 6.0f : zoom(rng);
        f.light.illustrativeShading = view == 1;
        f.SetCamera(IsoTestFrame::Orbit(angle(rng), 0.5f * angle(rng)), z, 64, 56, pan(rng),
                    pan(rng));
        CompareView(f, dense, stats);
    }
    ExpectAgreement(stats, name);
}

TEST(IsosurfaceVRReference, HeadPhantomSkull) {
    std::unique_ptr<VolumeData> data(CreateHeadPhantom(40));
    ASSERT_TRUE(data);
    IsoTestFrame f;
    f.Load(*data, 16);
    // Halfway between soft tissue and bone: the skull's outer and inner tables.
    f.iso.isovalue = 0.5f * (HeadPhantomValues::kSoftTissueMax + HeadPhantomValues::kBoneMin);
    f.iso.surfaceColor[0] = 0.9f;
    f.iso.surfaceColor[1] = 0.85f;
    f.iso.surfaceColor[2] = 0.7f;
    f.light.lightDirection = Vector4(0.4f, -0.5f, -0.77f, 0.0f);
    RunRandomViews(f, DenseVolumeFrom(*data), 11u, false, "head phantom");
}

// Two blobs of a float volume with anisotropic spacing, a coloured light of intensity 1.3 and a
// sharp highlight.
TEST(IsosurfaceVRReference, AnisotropicFloatBlobs) {
    VolumeData data;
    FillAnisotropicBlobs(data, 30.0, 12.0, 0.0);
    IsoTestFrame f;
    f.Load(data);
    f.iso.isovalue = 17.5f;
    f.light.lightDirection = Vector4(-0.3f, 0.8f, 0.5f, 0.0f);
    f.light.lightColor[1] = 0.7f;
    f.light.lightIntensity = 1.3f;
    f.light.specularPower = 40.0f;
    f.light.specular = 0.8f;
    RunRandomViews(f, DenseVolumeFrom(data), 23u, false, "anisotropic float");
}

// A signed volume with a negative isovalue, one view from inside.
TEST(IsosurfaceVRReference, SignedInt16FromInside) {
    const int dims[3] = {30, 26, 22};
    const float spacing[3] = {1.0f, 1.0f, 1.5f};
    VolumeData data;
    FillVolume<int16_t>(data, VolumeData::dtInt16, dims, spacing, [](int i, int j, int k) {
        return std::lround(900.0 * std::sin(0.21 * i) * std::cos(0.17 * j + 0.25 * k) - 250.0);
    });
    IsoTestFrame f;
    f.Load(data, 8);
    f.iso.isovalue = -420.0f;
    f.light.backgroundColor[2] = 0.6f;
    f.light.specularPower = 6.0f;
    f.iso.surfaceColor[1] = 0.4f;
    RunRandomViews(f, DenseVolumeFrom(data), 37u, true, "signed int16");
}

// ---- edge cases -----------------------------------------------------------------------------

constexpr float kExact = 1e-5f;  // float rounding of a few operations on values near 1
constexpr float kShadeTolerance = 0.01f;

const float* RenderOne(IsoTestFrame& f, bool withGrid) {
    f.Render(withGrid);
    return f.Pixel(0, 0);
}

// A 2 x 2 x 2 volume of unit spacing, corners given as v[a + 2b + 4c].
void LoadCell(IsoTestFrame& f, VolumeData& data, const float v[8]) {
    const int dims[3] = {2, 2, 2};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing,
                      [&](int i, int j, int k) { return v[i + 2 * j + 4 * k]; });
    f.Load(data, 0, 1);
}

// One ray along the cell's main diagonal from (-2, -2, -2) through (0.5, 0.5, 0.5).
void AimDiagonal(IsoTestFrame& f) {
    const double eye[3] = {-2.0, -2.0, -2.0}, centre[3] = {0.5, 0.5, 0.5}, none[3] = {0, 0, 0};
    f.AimPinhole(eye, centre, none, none, 1, 1);
}

// No straddling cell: transparent. Two crossings in one cell: the first is shaded. Corner test
// strict: a corner equal to the isovalue with the others above is no crossing, even for a ray
// that starts on that corner (a test with <= would find a root at the ray's entry). Macro test
// inclusive: on a volume whose macro cells have extrema equal to the
// isovalue the grid entry point gives the plain walk's image.
TEST(IsosurfaceVREdgeCases, RootsAndCellTests) {
    for (bool withGrid : {false, true}) {
        SCOPED_TRACE(withGrid ? "with grid" : "without grid");
        IsoTestFrame f;
        f.light.specular = 0.0f;
        f.light.diffuse = 0.5f;
        f.iso.isovalue = 5.0f;
        VolumeData data;

        // Constant 10 against isovalue 5: nothing to hit.
        const float constant[8] = {10, 10, 10, 10, 10, 10, 10, 10};
        LoadCell(f, data, constant);
        AimDiagonal(f);
        const float* p = RenderOne(f, withGrid);
        EXPECT_EQ(p[0] + p[1] + p[2] + p[3], 0.0f);

        // Corners 0 at (0,0,0) and (1,1,1), 10 elsewhere: along the diagonal f(s) = 30 s (1 - s),
        // crossing 5 at s = (1 -+ sqrt(1/3)) / 2 = 0.2113 and 0.7887. The light travels along
        // the ray: the first crossing (f rising, N along the ray, entry below) is lit head-on,
        // colour 0.1 + 0.5 |L.N| with N = (1, 1, 1) / sqrt(3) by symmetry; the second would be
        // ambient only (0.1).
        const float twoRoots[8] = {0, 10, 10, 10, 10, 10, 10, 0};
        LoadCell(f, data, twoRoots);
        AimDiagonal(f);
        const float third = 1.0f / std::sqrt(3.0f);
        f.light.lightDirection = Vector4(third, third, third, 0.0f);
        p = RenderOne(f, withGrid);
        EXPECT_EQ(p[3], 1.0f);
        EXPECT_NEAR(p[0], 0.6f, kExact);

        // Corner (0,0,0) exactly 5, the rest 8: the interpolant touches the isovalue at the
        // ray's entry but never crosses it: transparent.
        const float touching[8] = {5, 8, 8, 8, 8, 8, 8, 8};
        LoadCell(f, data, touching);
        AimDiagonal(f);
        p = RenderOne(f, withGrid);
        EXPECT_EQ(p[3], 0.0f);
    }

    // Integer steps 0 .. 4 on a 2-voxel grid: many macro cells have a minimum or maximum of
    // exactly 2. A macro cell whose range only touches the isovalue holds no crossing (no voxel
    // cell inside can straddle it strictly), so the inclusive test changes no pixel: both entry
    // points give the same picture.
    const int dims[3] = {17, 15, 13};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    VolumeData steps;
    FillVolume<uint8_t>(steps, VolumeData::dtUint8, dims, spacing,
                        [](int i, int j, int k) { return (i / 3 + j / 4 + k / 5) % 5; });
    IsoTestFrame f;
    f.Load(steps, 0, 2);
    f.iso.isovalue = 2.0f;
    f.SetCamera(IsoTestFrame::Orbit(0.7f, -0.4f), 1.2f, 48, 40);
    f.Render(false);
    const std::vector<float> plain(
        f.image.pixels, f.image.pixels + std::size_t(f.image.width) * f.image.height * 4);
    f.Render(true);
    int hits = 0;
    for (std::size_t n = 0; n < plain.size(); ++n) {
        ASSERT_NEAR(f.image.pixels[n], plain[n], kEntryPointTolerance) << n;
        hits += n % 4 == 3 && plain[n] == 1.0f;
    }
    EXPECT_GT(hits, 300);
}

// 33^3 float voxels of unit spacing, f = 100 - 10 r about voxel (16, 16, 16).
void MakeBall(VolumeData& ball) {
    const int dims[3] = {33, 33, 33};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    FillVolume<float>(ball, VolumeData::dtFloat32, dims, spacing, [](int i, int j, int k) {
        return 100.0 - 10.0 * std::sqrt((i - 16.0) * (i - 16.0) + (j - 16.0) * (j - 16.0) +
                                        (k - 16.0) * (k - 16.0));
    });
}

// A ball of high values (f = 100 - 10 r about voxel (16, 16, 16); the surface f = 0.5 is the
// sphere r = 9.95, between voxels along the axes): from inside and from outside, a light travelling
// along the central ray lights the side the camera sees, head-on: 0.1 + 0.5 = 0.6. A ramp seen
// along x under the default light (1, 0, 0): the side facing -x gets the full diffuse term (0.5 x
// (0.1 + 1)), the side facing +x the ambient term only (0.5 x 0.1), whether values rise or fall
// along x.
TEST(IsosurfaceVREdgeCases, LitSides) {
    VolumeData ball;
    MakeBall(ball);
    const double none[3] = {0, 0, 0};
    for (bool withGrid : {false, true}) {
        SCOPED_TRACE(withGrid ? "with grid" : "without grid");
        IsoTestFrame f;
        f.Load(ball);
        f.iso.isovalue = 0.5f;
        f.light.specular = 0.0f;
        f.light.diffuse = 0.5f;
        f.light.lightDirection = Vector4(0.0f, 0.0f, -1.0f, 0.0f);
        for (double eyeZ : {16.0, 40.0}) {  // inside the ball, then outside
            const double eye[3] = {16.0, 16.0, eyeZ}, target[3] = {16.0, 16.0, eyeZ - 1.0};
            f.AimPinhole(eye, target, none, none, 1, 1);
            const float* p = RenderOne(f, withGrid);
            EXPECT_EQ(p[3], 1.0f) << "eye z " << eyeZ;
            EXPECT_NEAR(p[0], 0.6f, kExact) << "eye z " << eyeZ;
        }
    }

    const int dims[3] = {33, 33, 33};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    for (bool rising : {true, false}) {
        VolumeData ramp;
        FillVolume<float>(ramp, VolumeData::dtFloat32, dims, spacing,
                          [&](int i, int, int) { return rising ? 10.0 * i : 320.0 - 10.0 * i; });
        for (bool withGrid : {false, true}) {
            IsoTestFrame f;
            f.Load(ramp);
            f.iso.isovalue = 155.0f;  // the plane x = 15.5 (rising) or 16.5 (falling)
            f.iso.surfaceColor[0] = f.iso.surfaceColor[1] = f.iso.surfaceColor[2] = 0.5f;
            f.light.specular = 0.0f;
            for (double eyeX : {-20.0, 52.0}) {
                const double eye[3] = {eyeX, 16.2, 15.9};
                const double target[3] = {eyeX < 0 ? eyeX + 1.0 : eyeX - 1.0, 16.2, 15.9};
                f.AimPinhole(eye, target, none, none, 1, 1);
                const float* p = RenderOne(f, withGrid);
                const float expected = eyeX < 0 ? 0.55f : 0.05f;
                EXPECT_EQ(p[3], 1.0f);
                EXPECT_NEAR(p[0], expected, kExact)
                    << (rising ? "rising" : "falling") << " ramp, eye x " << eyeX
                    << (withGrid ? ", with grid" : "");
            }
        }
    }
}

// Illustrative style on the ball, seen from far along -z (nearly parallel rays): the ray through
// the centre meets the surface head-on (N.D = -1, w = 0) and takes the background; a ray at 0.97
// of the radius meets it at |N.D| near sqrt(1 - 0.97^2), where w = (1 - (N.D)^2)^(p / 2) is
// about 0.97^10 = 0.74 (p = 10): mostly the surface colour, as the dense reference has it.
TEST(IsosurfaceVREdgeCases, IllustrativeSphere) {
    VolumeData ball;
    MakeBall(ball);
    const float surface[3] = {1.0f, 0.5f, 0.0f}, background[3] = {0.0f, 0.2f, 1.0f};
    for (bool withGrid : {false, true}) {
        SCOPED_TRACE(withGrid ? "with grid" : "without grid");
        IsoTestFrame f;
        f.Load(ball);
        f.iso.isovalue = 0.5f;
        f.light.illustrativeShading = true;
        for (int c = 0; c < 3; ++c) {
            f.iso.surfaceColor[c] = surface[c];
            f.light.backgroundColor[c] = background[c];
        }
        // Two pixels: the centre, and 0.97 of the radius to the right; eye 1000 voxels away.
        const double eye[3] = {16.0, 16.0, 1016.0},
                     corner[3] = {16.0 - 0.5 * 9.7, 16.0 - 0.5, 16.0};
        const double du[3] = {9.7, 0.0, 0.0}, dv[3] = {0.0, 1.0, 0.0};
        f.AimPinhole(eye, corner, du, dv, 2, 1);
        f.Render(withGrid);
        const float* centre = f.Pixel(0, 0);
        const float* rim = f.Pixel(1, 0);
        ASSERT_EQ(centre[3], 1.0f);
        ASSERT_EQ(rim[3], 1.0f);
        const int origin[2] = {0, 0}, size[2] = {2, 1};
        const DenseIsoImage ref =
            RenderDenseIso(DenseVolumeFrom(ball), f.sceneParam, origin, size, f.light, f.iso);
        ASSERT_TRUE(ref.At(1, 0).hit);
        EXPECT_GT(ref.At(1, 0).rgba[0], 0.65);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(centre[c], background[c], kShadeTolerance) << c;
            EXPECT_NEAR(rim[c], ref.At(1, 0).rgba[c], kColourTolerance) << c;
        }
    }
}

}  // namespace
