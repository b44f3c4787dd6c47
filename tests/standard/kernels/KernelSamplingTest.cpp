// Sampling routines of the kernel frame against independent double-precision evaluations: the
// clamped fetch, the trilinear interpolant, the central-difference normal, the cell walk against a
// brute-force enumeration of plane crossings, and the cell cubic against the interpolant along the
// ray.
#include "kernels/KernelFrame.h"
#include "kernels/FullRay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "FrameTestSupport.h"

using namespace frametest;

namespace {

const int kDims[3] = {13, 9, 11};
const float kSpacing[3] = {0.5f, 1.25f, 2.f};

// Values 2x - 3y + 0.5z + 7: trilinear interpolation reproduces a linear function exactly.
std::unique_ptr<TestVolume> LinearVolume() {
    std::vector<float> values;
    for (int z = 0; z < kDims[2]; ++z)
        for (int y = 0; y < kDims[1]; ++y)
            for (int x = 0; x < kDims[0]; ++x)
                values.push_back(2.f * x - 3.f * y + 0.5f * z + 7.f);
    return MakeVolume(kDims, kSpacing, values);
}

// One visited cell of a walk: its indices and its segment.
struct Visit {
    int cell[3];
    double t0, t1;
};

// The walk's cells between tNear and tFar.
std::vector<Visit> Walk(const Vector4& origin, const Vector4& dir, float tNear, float tFar) {
    std::vector<Visit> visits;
    CellWalk walk;
    walk.Init(origin, dir, tNear, tFar);
    for (float t = tNear; t < tFar;) {
        const float tExit = walk.Exit(tFar);
        visits.push_back({{walk.cell[0], walk.cell[1], walk.cell[2]}, t, tExit});
        walk.Advance();
        t = tExit;
        if (visits.size() > 10000) break;  // a walk that does not advance
    }
    return visits;
}

// The cells along o + t d for t in [tNear, tFar], by sorting every integer-plane crossing and
// taking the cell of each piece's midpoint (double precision).
std::vector<Visit> BruteForceCells(const double o[3], const double d[3], double tNear,
                                   double tFar) {
    std::vector<double> ts{tNear, tFar};
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0.0) continue;
        const double q0 = o[a] + tNear * d[a], q1 = o[a] + tFar * d[a];
        for (int k = int(std::floor(std::min(q0, q1))); k <= int(std::ceil(std::max(q0, q1)));
             ++k) {
            const double t = (k - o[a]) / d[a];
            if (t > tNear && t < tFar) ts.push_back(t);
        }
    }
    std::sort(ts.begin(), ts.end());
    std::vector<Visit> cells;
    for (std::size_t i = 0; i + 1 < ts.size(); ++i) {
        const double mid = 0.5 * (ts[i] + ts[i + 1]);
        Visit v;
        for (int a = 0; a < 3; ++a)
            v.cell[a] = int(std::floor(o[a] + mid * d[a]));
        v.t0 = ts[i], v.t1 = ts[i + 1];
        cells.push_back(v);
    }
    return cells;
}

std::vector<Visit> WithoutShortPieces(const std::vector<Visit>& visits, double minLength) {
    std::vector<Visit> kept;
    for (const Visit& v : visits)
        if (v.t1 - v.t0 >= minLength) kept.push_back(v);
    return kept;
}

Vector4 RandomDirection(std::mt19937& rng) {
    std::normal_distribution<float> n(0.f, 1.f);
    float x = n(rng), y = n(rng), z = n(rng);
    const float len = std::sqrt(x * x + y * y + z * z);
    return Vector4(x / len, y / len, z / len, 0.f);
}

}  // namespace

TEST(FetchVoxel, ClampsEachIndexToItsAxis) {
    std::mt19937 rng(1);
    auto v = MakeRandomVolume(kDims, kSpacing, rng);
    VolumeSampler s;
    ASSERT_TRUE(s.BindVolume(&v->volume));
    EXPECT_EQ(s.FetchVoxel(-5, 0, 0), v->At(0, 0, 0));
    EXPECT_EQ(s.FetchVoxel(100, 4, -1), v->At(12, 4, 0));
    for (int n = 0; n < 500; ++n) {
        const int i = int(rng() % 25) - 6, j = int(rng() % 21) - 6, k = int(rng() % 23) - 6;
        ASSERT_EQ(s.FetchVoxel(i, j, k), float(v->Clamped(i, j, k))) << i << " " << j << " " << k;
    }
    // Binding copies the geometry; null leaves the state alone.
    EXPECT_EQ(s.dims[2], 11);
    EXPECT_EQ(s.spacing[1], 1.25f);
    EXPECT_FALSE(s.BindVolume(nullptr));
    EXPECT_EQ(s.volume, &v->volume);
}

TEST(SampleTrilinear, MatchesTheInterpolantAndClampsThePosition) {
    std::mt19937 rng(2);
    auto v = MakeRandomVolume(kDims, kSpacing, rng, 0.f, 100.f);
    VolumeSampler s;
    s.BindVolume(&v->volume);
    std::uniform_real_distribution<float> x(-2.f, 14.f), y(-2.f, 10.f), z(-2.f, 12.f);
    for (int n = 0; n < 2000; ++n) {
        const Vector4 p(x(rng), y(rng), z(rng), 1.f);
        Vector4 q = p;
        const float value = s.SampleTrilinear(q);
        ASSERT_NEAR(value, v->Trilinear(p.x, p.y, p.z), 1e-3) << p.x << " " << p.y << " " << p.z;
        // The position is clamped in place.
        EXPECT_EQ(q.x, std::min(std::max(p.x, 0.f), 12.f));
        EXPECT_EQ(q.y, std::min(std::max(p.y, 0.f), 8.f));
        EXPECT_EQ(q.z, std::min(std::max(p.z, 0.f), 10.f));
        EXPECT_EQ(q.w, 1.f);
    }
    // Exactly on the last voxel plane, and beyond it: the last voxel.
    Vector4 last(12.f, 8.f, 10.f, 1.f);
    EXPECT_EQ(s.SampleTrilinear(last), v->At(12, 8, 10));
    Vector4 beyond(40.f, -3.f, 10.5f, 1.f);
    EXPECT_EQ(s.SampleTrilinear(beyond), v->At(12, 0, 10));
}

TEST(SampleTrilinear, ReproducesALinearFunction) {
    auto v = LinearVolume();
    VolumeSampler s;
    s.BindVolume(&v->volume);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> x(0.f, 12.f), y(0.f, 8.f), z(0.f, 10.f);
    for (int n = 0; n < 500; ++n) {
        Vector4 p(x(rng), y(rng), z(rng), 1.f);
        const double expected = 2.0 * p.x - 3.0 * p.y + 0.5 * p.z + 7.0;
        ASSERT_NEAR(s.SampleTrilinear(p), expected, 1e-4);
    }
}

TEST(ComputeNormal, IsTheNormalisedCentralDifferenceInPhysicalUnits) {
    std::mt19937 rng(4);
    auto v = MakeRandomVolume(kDims, kSpacing, rng, 0.f, 100.f);
    VolumeSampler s;
    s.BindVolume(&v->volume);
    std::uniform_real_distribution<float> x(-1.f, 13.f), y(-1.f, 9.f), z(-1.f, 11.f);
    int checked = 0;
    for (int n = 0; n < 2000; ++n) {
        const Vector4 p(x(rng), y(rng), z(rng), 1.f);
        double g[3], len = 0;
        for (int a = 0; a < 3; ++a) {
            double plus[3] = {p.x, p.y, p.z}, minus[3] = {p.x, p.y, p.z};
            plus[a] += 1.0, minus[a] -= 1.0;
            g[a] = (v->Trilinear(plus[0], plus[1], plus[2]) -
                    v->Trilinear(minus[0], minus[1], minus[2])) /
                   kSpacing[a];
            len += g[a] * g[a];
        }
        len = std::sqrt(len);
        if (len < 1.0) continue;  // nearly flat: the direction is ill-conditioned
        ++checked;
        const Vector4 normal = s.ComputeNormal(p);
        ASSERT_NEAR(normal.x, g[0] / len, 1e-3);
        ASSERT_NEAR(normal.y, g[1] / len, 1e-3);
        ASSERT_NEAR(normal.z, g[2] / len, 1e-3);
        ASSERT_EQ(normal.w, 0.f);
    }
    EXPECT_GT(checked, 1900);

    // Linear volume, away from the border: the gradient (2, -3, 0.5) divided by the spacing.
    auto linear = LinearVolume();
    s.BindVolume(&linear->volume);
    const double g[3] = {2.0 / 0.5, -3.0 / 1.25, 0.5 / 2.0};
    const double len = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    const Vector4 normal = s.ComputeNormal(Vector4(5.3f, 4.1f, 6.7f, 1.f));
    EXPECT_NEAR(normal.x, g[0] / len, 1e-5);
    EXPECT_NEAR(normal.y, g[1] / len, 1e-5);
    EXPECT_NEAR(normal.z, g[2] / len, 1e-5);
}

// Random rays through the box [0, 19]^3: the walk's cells, in order, are the cells the brute-force
// enumeration finds, and the walk's segments tile [tNear, tFar] without gaps.
TEST(CellWalk, VisitsExactlyTheCellsOfABruteForceEnumerationInOrder) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> position(-6.f, 25.f);
    const double lo[3] = {0, 0, 0}, hi[3] = {19, 19, 19};
    int walked = 0;
    for (int n = 0; n < 3000; ++n) {
        Vector4 origin(position(rng), position(rng), position(rng), 1.f);
        Vector4 dir = RandomDirection(rng);
        // Some rays along an axis or in an axis plane: zero direction components.
        if (n % 10 == 1) dir = Vector4(dir.x < 0 ? -1.f : 1.f, 0.f, 0.f, 0.f);
        if (n % 10 == 2) {
            const float len = std::sqrt(dir.x * dir.x + dir.z * dir.z);
            dir = Vector4(dir.x / len, 0.f, dir.z / len, 0.f);
        }
        // Anisotropic voxel-space steps, as non-unit spacings give.
        dir.x *= 1.7f, dir.z *= 0.6f;
        const double o[3] = {origin.x, origin.y, origin.z}, d[3] = {dir.x, dir.y, dir.z};
        double tNear, tFar;
        SlabIntersect(o, d, lo, hi, tNear, tFar);
        tNear = std::max(tNear, 0.0);
        if (!(tFar > tNear + 1e-3)) continue;
        ++walked;
        const std::vector<Visit> visits = Walk(origin, dir, float(tNear), float(tFar));
        ASSERT_FALSE(visits.empty());
        ASSERT_LT(visits.size(), 10000u);
        EXPECT_EQ(visits.front().t0, float(tNear));
        EXPECT_EQ(visits.back().t1, float(tFar));
        for (std::size_t i = 0; i + 1 < visits.size(); ++i) {
            EXPECT_EQ(visits[i].t1, visits[i + 1].t0);
            EXPECT_LE(visits[i].t0, visits[i].t1);
            // Consecutive cells are face neighbours.
            int change = 0;
            for (int a = 0; a < 3; ++a)
                change += std::abs(visits[i + 1].cell[a] - visits[i].cell[a]);
            EXPECT_EQ(change, 1);
        }
        // Pieces shorter than the float rounding of the plane positions may come out either way.
        const std::vector<Visit> got = WithoutShortPieces(visits, 1e-4);
        const std::vector<Visit> expected =
            WithoutShortPieces(BruteForceCells(o, d, float(tNear), float(tFar)), 1e-4);
        ASSERT_EQ(got.size(), expected.size()) << "ray " << n;
        for (std::size_t i = 0; i < got.size(); ++i)
            for (int a = 0; a < 3; ++a)
                ASSERT_EQ(got[i].cell[a], expected[i].cell[a]) << "ray " << n << " piece " << i;
    }
    EXPECT_GT(walked, 800);
}

TEST(CellWalk, PlanesAndZeroComponentsFollowTheCellRules) {
    // On the plane x = 5 moving down: the cell below the plane; moving up: the cell above it.
    CellWalk walk;
    walk.Init(Vector4(5.f, 2.5f, 3.f, 1.f), Vector4(-1.f, 0.f, 0.f, 0.f), 0.f, 4.f);
    EXPECT_EQ(walk.cell[0], 4);
    EXPECT_EQ(walk.cell[1], 2);
    EXPECT_EQ(walk.cell[2], 3);  // zero component: floor
    EXPECT_EQ(walk.Exit(4.f), 1.f);
    walk.Init(Vector4(5.f, 2.5f, 3.f, 1.f), Vector4(1.f, 0.f, 0.f, 0.f), 0.f, 4.f);
    EXPECT_EQ(walk.cell[0], 5);
    // A zero component never advances: the walk steps along x only.
    for (int i = 0; i < 3; ++i)
        walk.Advance();
    EXPECT_EQ(walk.cell[0], 8);
    EXPECT_EQ(walk.cell[1], 2);
    EXPECT_EQ(walk.cell[2], 3);
    // Through a cell edge: the tie goes to y before x, then x follows at the same t.
    walk.Init(Vector4(0.5f, 0.5f, 0.5f, 1.f), Vector4(1.f, 1.f, 0.f, 0.f), 0.f, 3.f);
    walk.Advance();
    EXPECT_EQ(walk.cell[0], 0);
    EXPECT_EQ(walk.cell[1], 1);
    EXPECT_EQ(walk.Exit(3.f), 0.5f);  // a zero-length piece in cell (0, 1)
    walk.Advance();
    EXPECT_EQ(walk.cell[0], 1);
    EXPECT_EQ(walk.cell[1], 1);
}

// The macro cells of the walk are those a brute-force enumeration of the crossings of the planes
// g m finds, in order; the box reaches below voxel 0, as a cropping box may.
TEST(MacroCellWalk, VisitsExactlyTheMacroCellsOfABruteForceEnumerationInOrder) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> position(-6.f, 25.f);
    const double lo[3] = {-0.7, -0.7, -0.7}, hi[3] = {19, 19, 19};
    int walked = 0;
    for (int n = 0; n < 3000; ++n) {
        const int g[3] = {1 + int(rng() % 6), 1 + int(rng() % 6), 1 + int(rng() % 6)};
        const Vector4 origin(position(rng), position(rng), position(rng), 1.f);
        Vector4 dir = RandomDirection(rng);
        if (n % 10 == 1) dir = Vector4(0.f, dir.y < 0 ? -1.f : 1.f, 0.f, 0.f);
        const double o[3] = {origin.x, origin.y, origin.z}, d[3] = {dir.x, dir.y, dir.z};
        double tNear, tFar;
        SlabIntersect(o, d, lo, hi, tNear, tFar);
        tNear = std::max(tNear, 0.0);
        if (!(tFar > tNear + 1e-3)) continue;
        ++walked;
        std::vector<Visit> visits;
        MacroCellWalk walk;
        walk.Init(origin, dir, float(tNear), float(tFar), g);
        for (float t = float(tNear); t < float(tFar) && visits.size() < 1000;) {
            const float tExit = walk.Exit(float(tFar));
            visits.push_back({{walk.cell[0], walk.cell[1], walk.cell[2]}, t, tExit});
            walk.Advance();
            t = tExit;
        }
        // Brute force on the grid scaled by 1 / g: its unit cells are the macro cells.
        const double os[3] = {o[0] / g[0], o[1] / g[1], o[2] / g[2]};
        const double ds[3] = {d[0] / g[0], d[1] / g[1], d[2] / g[2]};
        const std::vector<Visit> got = WithoutShortPieces(visits, 1e-4);
        const std::vector<Visit> expected =
            WithoutShortPieces(BruteForceCells(os, ds, float(tNear), float(tFar)), 1e-4);
        ASSERT_EQ(got.size(), expected.size()) << "ray " << n;
        for (std::size_t i = 0; i < got.size(); ++i)
            for (int a = 0; a < 3; ++a)
                ASSERT_EQ(got[i].cell[a], expected[i].cell[a]) << "ray " << n << " piece " << i;
    }
    EXPECT_GT(walked, 800);

    // A zero component on a boundary plane takes the cell below the plane, whose range holds it.
    MacroCellWalk walk;
    const int nine[3] = {9, 9, 9};
    walk.Init(Vector4(9.f, 18.f, 4.f, 1.f), Vector4(0.f, 0.f, 1.f, 0.f), 0.f, 10.f, nine);
    EXPECT_EQ(walk.cell[0], 0);
    EXPECT_EQ(walk.cell[1], 1);
    EXPECT_EQ(walk.cell[2], 0);
    EXPECT_EQ(walk.Exit(10.f), 5.f);
}

// Along random rays through a random volume, each cell's cubic equals the trilinear interpolant of
// the volume at random points of the segment, and its coefficients equal the expansion of the
// eight weight products computed corner by corner in double precision.
TEST(CellCubic, EqualsTheTrilinearInterpolantAlongTheSegment) {
    std::mt19937 rng(6);
    auto v = MakeRandomVolume(kDims, kSpacing, rng, 0.f, 10.f);
    KernelState state;
    state.BindVolume(&v->volume);
    std::uniform_real_distribution<float> position(-4.f, 16.f);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    const double lo[3] = {0, 0, 0}, hi[3] = {12, 8, 10};
    int cells = 0;
    for (int n = 0; n < 300; ++n) {
        const Vector4 origin(position(rng), position(rng), position(rng), 1.f);
        const Vector4 dir = RandomDirection(rng);
        const double o[3] = {origin.x, origin.y, origin.z}, d[3] = {dir.x, dir.y, dir.z};
        double tNear, tFar;
        SlabIntersect(o, d, lo, hi, tNear, tFar);
        tNear = std::max(tNear, 0.0);
        if (!(tFar > tNear)) continue;
        for (const Visit& visit : Walk(origin, dir, float(tNear), float(tFar))) {
            float corners[8];
            state.FetchCellCorners(visit.cell[0], visit.cell[1], visit.cell[2], corners);
            for (int c = 0; c < 8; ++c)
                ASSERT_EQ(corners[c],
                          float(v->Clamped(visit.cell[0] + (c & 1), visit.cell[1] + ((c >> 1) & 1),
                                           visit.cell[2] + (c >> 2))));
            const CellCubic f = BuildCellCubic(corners, visit.cell, origin, dir, float(visit.t0));
            // Corner by corner: prod over axes of (w0 + w1 s), summed with the corner values.
            double u[3], expected[4] = {0, 0, 0, 0};
            for (int a = 0; a < 3; ++a)
                u[a] = o[a] + float(visit.t0) * d[a] - visit.cell[a];
            for (int c = 0; c < 8; ++c) {
                double poly[4] = {corners[c], 0, 0, 0};  // coefficients of s^0 .. s^3
                for (int a = 0; a < 3; ++a) {
                    const bool upper = (c >> a) & 1;
                    const double w0 = upper ? u[a] : 1.0 - u[a], w1 = upper ? d[a] : -d[a];
                    for (int k = 3; k >= 0; --k)
                        poly[k] = poly[k] * w0 + (k > 0 ? poly[k - 1] * w1 : 0.0);
                }
                for (int k = 0; k < 4; ++k)
                    expected[k] += poly[k];
            }
            EXPECT_NEAR(f.d, expected[0], 1e-4);
            EXPECT_NEAR(f.c, expected[1], 1e-4);
            EXPECT_NEAR(f.b, expected[2], 1e-4);
            EXPECT_NEAR(f.a, expected[3], 1e-4);
            const double length = visit.t1 - visit.t0;
            for (int k = 0; k < 3; ++k) {
                const double s = fraction(rng) * length;
                const double t = float(visit.t0) + s;
                const double reference =
                    v->Trilinear(o[0] + t * d[0], o[1] + t * d[1], o[2] + t * d[2]);
                ASSERT_NEAR(f(float(s)), reference, 1e-3) << "ray " << n;
            }
            ++cells;
        }
    }
    EXPECT_GT(cells, 400);
}

// The full view's samples of a long ray at a small distance lie at o + v (start + k d), to float
// rounding of one position: tens of thousands of steps must not drift off the lattice.
TEST(StepAlong, SamplesOfALongRayStayOnTheirLattice) {
    PixelRay ray;
    ray.originVoxel = Vector4(-40.3f, 7.1f, 300.7f, 1.f);
    ray.dirVoxel = Vector4(0.6f, 0.48f, -0.64f, 0.f);  // 1 voxel per unit, far from any axis
    const double o[3] = {ray.originVoxel.x, ray.originVoxel.y, ray.originVoxel.z};
    const double v[3] = {ray.dirVoxel.x, ray.dirVoxel.y, ray.dirVoxel.z};
    const float start = 20.37f, end = 460.f, d = 0.0121f;
    const FullAccumulator transparent;
    long k = 0;
    double worst = 0.0;
    StepAlong(ray, start, end, d, transparent, [&](const Vector4& p) {
        const double t = double(start) + double(k++) * double(d);
        const double place[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a)
            worst = std::max(worst, std::fabs(place[a] - (o[a] + v[a] * t)));
    });
    EXPECT_EQ(k, long(std::ceil((double(end) - start) / d)));
    EXPECT_LT(worst, 1e-3);  // positions reach 300 voxels: a few units of float rounding there
}

// The specular highlight h^p by squaring (whole p up to 32) or pow (other p) against double
// precision: within p float ulps (squaring doubles the relative error of its operand).
TEST(SpecularHighlight, AgreesWithThePowerInDoublePrecision) {
    for (const float power : {1.f, 2.f, 3.f, 10.f, 31.f, 32.f, 64.f, 0.5f, 2.5f}) {
        BasicLightParam param;
        param.specularPower = power;
        BoundLight light;
        light.Bind(param);
        for (const float h : {1.f, 0.999f, 0.97f, 0.8f, 0.5f, 0.123f}) {
            const double expected = std::pow(double(h), double(power));
            if (expected < 1e-30) continue;  // below the normal floats
            const double ulps = std::max(1.0, double(power)) * std::ldexp(1.0, -23);
            EXPECT_NEAR(SpecularHighlight(h, light), expected, ulps * expected)
                << "h " << h << " p " << power;
        }
    }
}

// The group shading of the host's full rays gives, sample for sample, what shading each sample
// alone gives (whose lighting the full-view references check): random points inside and near
// the faces, random views, a whole and a fractional specular power, 1 to 8 lanes in use.
TEST(ShadeGroupBlinnPhong, EqualsShadingEachSampleAlone) {
    std::mt19937 rng(11);
    auto v = MakeRandomVolume(kDims, kSpacing, rng, 0.f, 100.f);
    VolumeSampler s;
    s.BindVolume(&v->volume);
    std::uniform_real_distribution<float> x(-1.f, 13.f), y(-1.f, 9.f), z(-1.f, 11.f), u(0.f, 1.f);
    for (const float power : {10.f, 2.5f}) {
        BasicLightParam param;
        param.specularPower = power;
        param.specular = 0.5f;
        BoundLight light;
        light.Bind(param);
        for (int m = 1; m <= kSampleGroup; ++m) {
            const RayView view(light, RandomDirection(rng));
            Vector4 points[kSampleGroup];
            float group[3][kSampleGroup] = {}, alone[3][kSampleGroup];
            for (int j = 0; j < m; ++j) {
                points[j] = Vector4(x(rng), y(rng), z(rng), 1.f);
                for (int c = 0; c < 3; ++c)
                    group[c][j] = alone[c][j] = u(rng);
                float rgb[3] = {alone[0][j], alone[1][j], alone[2][j]};
                CellMemo memo;
                ShadeFullSample<ShadeMode::kBlinnPhong>(s, light, points[j], view, memo, rgb);
                for (int c = 0; c < 3; ++c)
                    alone[c][j] = rgb[c];
            }
            CellMemo memo;
            float* const channels[3] = {group[0], group[1], group[2]};
            ShadeGroupBlinnPhong(s, light, points, m, view, memo, channels);
            for (int j = 0; j < m; ++j)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(group[c][j], alone[c][j]) << "power " << power << " lane " << j;
        }
    }
}
