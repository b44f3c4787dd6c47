// The head phantom: tissue values at anatomical landmarks, the structure of its shells, the
// voxel fill against the point function, determinism and the volume's grid.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "HeadPhantom.h"
#include "VolumeData.h"

namespace {

using V = HeadPhantomValues;

enum class Tissue { kAir, kSoft, kBone, kDense, kInvalid };

// Cortical bone varies smoothly around its nominal value.
void ExpectCortical(uint16_t value) {
    EXPECT_NEAR(value, V::kCorticalBone, V::kCorticalVariation);
}

Tissue Classify(int value) {
    if (value == V::kAir) return Tissue::kAir;
    if (value >= V::kSoftTissueMin && value <= V::kSoftTissueMax) return Tissue::kSoft;
    if (value >= V::kBoneMin && value <= V::kBoneMax) return Tissue::kBone;
    if (value >= V::kDenseMin && value <= V::kDenseMax) return Tissue::kDense;
    return Tissue::kInvalid;
}

std::vector<uint16_t> Fill(int nx, int ny, int nz) {
    std::vector<uint16_t> voxels(size_t(nx) * ny * nz, 0xBEEF);
    const int dims[3] = {nx, ny, nz};
    FillHeadPhantom(voxels.data(), dims);
    return voxels;
}

// Landmarks on the vertical axis through the crown (u = v = 0). The head ellipsoid has centre
// z 0.10 and radius 0.80 there, so its radial parameter is rho = (w - 0.10) / 0.80 and the
// shells scalp (0.95, 1), fat (0.93, 0.95], cortical (0.91, 0.93], diploe [0.87, 0.91],
// cortical (0.85, 0.87) lie at w in (0.86, 0.90), (0.844, 0.86], (0.828, 0.844],
// [0.796, 0.828], (0.78, 0.796).
TEST(HeadPhantomLandmarks, ShellsAlongTheVerticalAxis) {
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.0f, 0.95f), V::kAir);
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.0f, 0.88f), V::kScalp);
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.0f, 0.852f), V::kFat);
    ExpectCortical(HeadPhantomValueAt(0.0f, 0.0f, 0.836f));
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.0f, 0.812f), V::kDiploe);
    ExpectCortical(HeadPhantomValueAt(0.0f, 0.0f, 0.788f));
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.0f, 0.70f), V::kGreyMatter);
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.0f, 0.40f), V::kWhiteMatter);
}

TEST(HeadPhantomLandmarks, InteriorStructures) {
    // Lateral ventricles, both sides, and the third ventricle on the midline.
    EXPECT_EQ(HeadPhantomValueAt(0.11f, 0.0f, 0.28f), V::kCsf);
    EXPECT_EQ(HeadPhantomValueAt(-0.11f, 0.0f, 0.28f), V::kCsf);
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.02f, 0.10f), V::kCsf);
    // Dense structures.
    EXPECT_EQ(HeadPhantomValueAt(0.0f, -0.12f, 0.12f), V::kPinealCalcification);
    EXPECT_EQ(HeadPhantomValueAt(-0.11f, -0.22f, 0.24f), V::kCalcification);
    EXPECT_EQ(HeadPhantomValueAt(0.32f, 0.28f, 0.48f), V::kClip);
    // Eyes: globe, lens, orbital fat beside the globe (0.14 from the orbit centre).
    EXPECT_EQ(HeadPhantomValueAt(0.26f, 0.63f, 0.0f), V::kEye);
    EXPECT_EQ(HeadPhantomValueAt(-0.26f, 0.72f, 0.0f), V::kLens);
    EXPECT_EQ(HeadPhantomValueAt(0.26f, 0.46f, 0.0f), V::kFat);
    // Frontal sinus: air inside the frontal bone.
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.70f, 0.32f), V::kAir);
    // Neck: vertebral body and spinal cord, muscle around them.
    ExpectCortical(HeadPhantomValueAt(0.0f, -0.185f, -0.6f));
    EXPECT_EQ(HeadPhantomValueAt(0.0f, -0.25f, -0.6f), V::kWhiteMatter);
    EXPECT_EQ(HeadPhantomValueAt(0.25f, -0.10f, -0.6f), V::kScalp);
    EXPECT_EQ(HeadPhantomValueAt(0.0f, -0.10f, -0.95f), V::kAir);
    // Cranial floor and the foramen in it.
    ExpectCortical(HeadPhantomValueAt(0.3f, 0.0f, -0.33f));
    EXPECT_EQ(HeadPhantomValueAt(0.0f, -0.20f, -0.33f), V::kWhiteMatter);
    // Dental arch (u / 0.26)^2 + ((v - 0.05) / 0.34)^2 = 1: at the arch angle 7.5 / 14 pi the
    // middle of a tooth, (u, v) = (0.26 cos, 0.05 + 0.34 sin) = (-0.0292, 0.3879); the jaw bone
    // below it; on the midline (angle pi / 2) a gap between two teeth, muscle.
    EXPECT_EQ(HeadPhantomValueAt(-0.0292f, 0.3879f, -0.41f), V::kTooth);
    ExpectCortical(HeadPhantomValueAt(-0.0292f, 0.3879f, -0.50f));
    EXPECT_EQ(HeadPhantomValueAt(0.0f, 0.39f, -0.41f), V::kScalp);
    EXPECT_EQ(HeadPhantomValueAt(-0.0292f, 0.3879f, -0.30f), V::kGreyMatter);
}

// The cortical bone is not flat: 2400 + 150 sin(6 u + 1) cos(5 w - 0.5) cos(4 v + 0.3),
// evaluated here in double at points on the skull shell (rho = 0.92 of the head ellipsoid).
TEST(HeadPhantomLandmarks, CorticalBoneVariesSmoothly) {
    int lowest = 1 << 20, highest = 0;
    for (int a = 0; a < 36; ++a) {
        const double angle = 2.0 * M_PI * a / 36.0;
        const double u = 0.92 * 0.68 * std::cos(angle);
        const double v = 0.0;
        const double w = 0.10 + 0.92 * 0.80 * std::sin(angle);
        if (w < -0.30) continue;  // the shell is closed by the floor there
        const uint16_t value = HeadPhantomValueAt(float(u), float(v), float(w));
        const double expected = 2400.0 + 150.0 * std::sin(6.0 * u + 1.0) * std::cos(5.0 * w - 0.5) *
                                             std::cos(4.0 * v + 0.3);
        EXPECT_NEAR(value, expected, 1.0) << "angle " << a;
        lowest = std::min<int>(lowest, value);
        highest = std::max<int>(highest, value);
    }
    EXPECT_GT(highest - lowest, 150);
}

// Marching outward from the head centre in directions above the cranial floor and away from
// the face, a ray passes brain, one contiguous bone shell, then soft tissue, then air, and
// never returns into the head.
TEST(HeadPhantomStructure, EveryUpperRayCrossesOneSkullShell) {
    int rays = 0;
    for (int a = 0; a < 24; ++a) {
        for (int b = 1; b < 8; ++b) {
            const double azimuth = 2.0 * M_PI * a / 24.0;
            const double elevation = 0.5 * M_PI * b / 8.0;  // above the horizontal
            const double dx = std::cos(elevation) * std::cos(azimuth);
            const double dy = std::cos(elevation) * std::sin(azimuth);
            const double dz = std::sin(elevation);
            if (dy > 0.3) continue;  // the face: orbits and sinus interrupt the shell
            ++rays;
            int boneRuns = 0;
            bool inBone = false;
            bool leftHead = false;
            Tissue last = Tissue::kSoft;
            for (int s = 0; s <= 2000; ++s) {
                const double t = s * 0.0005;
                const uint16_t value =
                    HeadPhantomValueAt(float(t * dx), float(t * dy), float(0.10 + t * dz));
                const Tissue tissue = Classify(value);
                ASSERT_NE(tissue, Tissue::kInvalid) << value;
                if (tissue == Tissue::kBone && !inBone) ++boneRuns;
                inBone = tissue == Tissue::kBone;
                if (tissue == Tissue::kAir) leftHead = true;
                if (leftHead) {
                    ASSERT_EQ(tissue, Tissue::kAir) << "ray " << a << "," << b << " t " << t;
                } else if (tissue != Tissue::kDense) {
                    last = tissue;
                }
            }
            EXPECT_TRUE(leftHead) << "ray " << a << "," << b;
            EXPECT_EQ(boneRuns, 1) << "ray " << a << "," << b;
            EXPECT_EQ(last, Tissue::kSoft) << "ray " << a << "," << b;  // scalp outermost
        }
    }
    EXPECT_GT(rays, 100);
}

// The fill stores, for every voxel whose six neighbours' centres are of its tissue, its centre
// value plus the voxel's noise, and for every other voxel its partial-volume value plus
// noise; this also covers the axis mapping, the per-row skipping of air and the split into slabs.
TEST(HeadPhantomFill, MatchesPointFunctionOnAnisotropicGrid) {
    const int nx = 48, ny = 40, nz = 56;
    const int dims[3] = {nx, ny, nz};
    const std::vector<uint16_t> voxels = Fill(nx, ny, nz);
    // x -> u (right-left), y -> w (neck-crown), z -> v (back-face).
    auto centre = [&](int i, int j, int k) {
        return HeadPhantomValueAt(float(2 * i + 1) / nx - 1.0f, float(2 * k + 1) / nz - 1.0f,
                                  float(2 * j + 1) / ny - 1.0f);
    };
    size_t head = 0, boundary = 0, mixed = 0;
    for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                const uint16_t base = centre(i, j, k);
                bool edge = false;
                const int step[6][3] = {{-1, 0, 0}, {1, 0, 0},  {0, -1, 0},
                                        {0, 1, 0},  {0, 0, -1}, {0, 0, 1}};
                for (const auto& s : step) {
                    const int a = i + s[0], b = j + s[1], c = k + s[2];
                    if (a >= 0 && b >= 0 && c >= 0 && a < nx && b < ny && c < nz)
                        edge |= !HeadPhantomSameTissue(centre(a, b, c), base);
                }
                const uint16_t value = edge ? HeadPhantomPartialVolume(i, j, k, dims) : base;
                const int expected = value + HeadPhantomNoise(i, j, k, value);
                ASSERT_EQ(voxels[i + size_t(nx) * (j + size_t(ny) * k)], expected)
                    << i << "," << j << "," << k;
                if (base != V::kAir) ++head;
                boundary += edge;
                mixed += Classify(value) == Tissue::kInvalid;
            }
        }
    }
    // The head fills a sizeable part of the box but not all of it.
    EXPECT_GT(head, size_t(nx) * ny * nz / 5);
    EXPECT_LT(head, size_t(nx) * ny * nz * 3 / 4);
    // At this coarse grid (5 mm voxels) the thin shells are mostly boundary; many boundary
    // voxels hold values between the classes.
    EXPECT_LT(boundary, size_t(nx) * ny * nz / 4);
    EXPECT_GT(mixed, boundary / 10);
}

// A partial-volume value is the voxel's share of the tissues it straddles. Below the head, at
// w = -0.7 and v = -0.1, the neck's side (scalp against air) is the plane u = 0.40 (neck radius
// 0.40 at v = -0.10, nothing else nearby). A grid of 105 x 10 x 10 centres voxel (73, 1, 4) at
// (u, w, v) = (0.40, -0.70, -0.10): half its sub-samples are scalp, half air, 1080 / 2 = 540;
// voxel 70 (u = 0.343) lies wholly in the scalp.
TEST(HeadPhantomFill, PartialVolumeIsTheTissueShare) {
    const int dims[3] = {105, 10, 10};
    EXPECT_EQ(HeadPhantomPartialVolume(73, 1, 4, dims), V::kScalp / 2);
    EXPECT_EQ(HeadPhantomPartialVolume(70, 1, 4, dims), V::kScalp);
    EXPECT_EQ(HeadPhantomPartialVolume(76, 1, 4, dims), V::kAir);
}

// The grid's y axis points to the crown and its z axis to the face, so that an unrotated camera
// (looking down -z, y up) sees the face upright.
TEST(HeadPhantomFill, CrownAlongPlusYFaceAlongPlusZ) {
    const int n = 128;
    const std::vector<uint16_t> voxels = Fill(n, n, n);
    auto at = [&](int i, int j, int k) { return int(voxels[i + size_t(n) * (j + size_t(n) * k)]); };
    // Column through the head centre along y: the top of the head (w = 0.9) lies at
    // j = 0.95 n - 0.5 = 121; the neck ends at w = -0.92, j = 4.6.
    int top = -1, bottom = n;
    for (int j = 0; j < n; ++j) {
        if (at(n / 2, j, n / 2) != V::kAir) {
            top = std::max(top, j);
            bottom = std::min(bottom, j);
        }
    }
    EXPECT_NEAR(top, 121, 1);
    EXPECT_NEAR(bottom, 5, 1);
    // The lens centre (u, v, w) = (0.26, 0.72, 0) is voxel (80.1, 63.5, 109.6).
    // The lens is under two voxels thick along z: its voxel may share its value with the eye.
    EXPECT_GE(at(80, 64, 110), V::kEye - V::kSoftNoise);
    EXPECT_LE(at(80, 64, 110), V::kLens + V::kSoftNoise);
    EXPECT_GE(at(n - 1 - 80, 64, 110), V::kEye - V::kSoftNoise);
    EXPECT_LE(at(n - 1 - 80, 64, 110), V::kLens + V::kSoftNoise);
    // Behind the head at the same height: air.
    EXPECT_EQ(at(80, 64, n - 1 - 110 - 10), V::kAir);
}

TEST(HeadPhantomFill, NoiseStaysWithinItsClassAndVaries) {
    int softMin = 1 << 20, softMax = -(1 << 20), boneMin = 1 << 20, boneMax = -(1 << 20);
    long softSum = 0, softCount = 0;
    for (int i = 0; i < 4000; ++i) {
        const int soft = HeadPhantomNoise(i, 3 * i + 1, 7, V::kGreyMatter);
        const int bone = HeadPhantomNoise(i, 5, 2 * i, V::kDiploe);
        softMin = std::min(softMin, soft);
        softMax = std::max(softMax, soft);
        boneMin = std::min(boneMin, bone);
        boneMax = std::max(boneMax, bone);
        softSum += soft;
        ++softCount;
        EXPECT_EQ(HeadPhantomNoise(i, i, i, V::kAir), 0);
        EXPECT_EQ(HeadPhantomNoise(i, 2, i, V::kClip), 0);
    }
    // 4000 draws from 13 and 41 values reach both ends of the range.
    EXPECT_EQ(softMin, -V::kSoftNoise);
    EXPECT_EQ(softMax, V::kSoftNoise);
    EXPECT_EQ(boneMin, -V::kBoneNoise);
    EXPECT_EQ(boneMax, V::kBoneNoise);
    EXPECT_LT(std::fabs(double(softSum) / softCount), 0.5);  // unbiased
}

TEST(HeadPhantomFill, DefaultVolumeHasAirBorderAndDocumentedRange) {
    std::unique_ptr<VolumeData> volume(CreateHeadPhantom());
    ASSERT_NE(volume, nullptr);
    int dims[3];
    float spacings[3];
    volume->GetDimensions(dims);
    volume->GetSpacings(spacings);
    EXPECT_EQ(dims[0], 256);
    EXPECT_EQ(dims[1], 256);
    EXPECT_EQ(dims[2], 256);
    for (float s : spacings)
        EXPECT_FLOAT_EQ(s, 1.0f);
    const DataType type = volume->GetDataType();
    EXPECT_FALSE(type.isFloat);
    EXPECT_FALSE(type.isSigned);
    EXPECT_EQ(type.bitCount, 16);

    const uint16_t* voxels = static_cast<const uint16_t*>(volume->GetData());
    ASSERT_NE(voxels, nullptr);
    const size_t n = 256;
    size_t counts[5] = {0, 0, 0, 0, 0};
    size_t borderNonAir = 0;
    for (size_t k = 0; k < n; ++k) {
        for (size_t j = 0; j < n; ++j) {
            for (size_t i = 0; i < n; ++i) {
                const uint16_t value = voxels[i + n * (j + n * k)];
                ++counts[int(Classify(value))];
                const bool border =
                    i == 0 || j == 0 || k == 0 || i == n - 1 || j == n - 1 || k == n - 1;
                if (border && value != V::kAir) ++borderNonAir;
            }
        }
    }
    EXPECT_EQ(borderNonAir, 0u);
    // Values between the classes are partial-volume voxels: present, but only a thin layer.
    const size_t head = n * n * n - counts[int(Tissue::kAir)];
    EXPECT_GT(counts[int(Tissue::kInvalid)], 0u);
    EXPECT_LT(counts[int(Tissue::kInvalid)], head / 20);
    for (int c = 0; c < 4; ++c)
        EXPECT_GT(counts[c], 0u) << "class " << c;
    // The skull is a shell: much less bone than soft tissue, but at least 100k voxels.
    EXPECT_GT(counts[int(Tissue::kBone)], 100000u);
    EXPECT_LT(counts[int(Tissue::kBone)], counts[int(Tissue::kSoft)]);

    double lo = -1.0, hi = -1.0;
    volume->GetMinMaxValue(lo, hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, double(V::kClip));
}

TEST(HeadPhantomFill, DeterministicAcrossCalls) {
    std::unique_ptr<VolumeData> a(CreateHeadPhantom(64, 80, 72));
    std::unique_ptr<VolumeData> b(CreateHeadPhantom(64, 80, 72));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const uint16_t* pa = static_cast<const uint16_t*>(a->GetData());
    const uint16_t* pb = static_cast<const uint16_t*>(b->GetData());
    const size_t count = size_t(64) * 80 * 72;
    size_t differing = 0;
    for (size_t i = 0; i < count; ++i)
        differing += pa[i] != pb[i];
    EXPECT_EQ(differing, 0u);
}

TEST(HeadPhantomGrid, SpacingsKeepThePhysicalExtent) {
    std::unique_ptr<VolumeData> volume(CreateHeadPhantom(64, 32, 128));
    ASSERT_NE(volume, nullptr);
    int dims[3];
    float spacings[3];
    volume->GetDimensions(dims);
    volume->GetSpacings(spacings);
    EXPECT_EQ(dims[0], 64);
    EXPECT_EQ(dims[1], 32);
    EXPECT_EQ(dims[2], 128);
    EXPECT_FLOAT_EQ(spacings[0], 4.0f);
    EXPECT_FLOAT_EQ(spacings[1], 8.0f);
    EXPECT_FLOAT_EQ(spacings[2], 2.0f);
    for (int a = 0; a < 3; ++a)
        EXPECT_FLOAT_EQ(dims[a] * spacings[a], kHeadPhantomExtentMm);

    EXPECT_EQ(CreateHeadPhantom(0), nullptr);
    EXPECT_EQ(CreateHeadPhantom(16, -1, 16), nullptr);
    // 1024^3 uint16 samples are 2^31 bytes, beyond what a volume can address.
    EXPECT_EQ(CreateHeadPhantom(1024), nullptr);
    EXPECT_EQ(CreateHeadPhantom(65536, 65536, 1), nullptr);
}

}  // namespace
