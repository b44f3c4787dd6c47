// Wood grain, measured: a ball whose value falls off linearly with the radius, seen through a
// steep opacity ramp, rendered at a coarse step post-classified and pre-integrated (with and
// without the per-pixel start offset) and compared with the post-classified image at a sixteenth
// of that step. The pre-integrated segments must at least halve the error, and the grid entry
// point must composite the same segments as the one without the grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "FullVRTestFrame.h"
#include "PreintegratedLut.h"

namespace {

// Grid and no-grid pre-integrated images: the same lattice, the same segments; what differs is
// float rounding of the lattice positions and the zero segments the grid never visits.
constexpr double kEntryPointsAgree = 2e-3;

struct Ball : FullTestFrame {
    PreintegratedLut segments;
    VolumeData data;

    Ball() {
        const int dims[3] = {32, 32, 32};
        const float spacing[3] = {1.f, 1.f, 1.f};
        // 200 at the centre, 10 less per voxel outwards
        FillVolume<float>(data, VolumeData::dtFloat32, dims, spacing, [](int i, int j, int k) {
            const float x = float(i) - 15.5f, y = float(j) - 15.f, z = float(k) - 16.2f;
            return 200.f - 10.f * std::sqrt(x * x + y * y + z * z);
        });
        Load(data, 8, 0);
        // A thin shell: opacity 0 at 103.1, 0.6 at 106.25, 0 at 109.4 (0.6 voxels thick), grey
        // to red.
        std::vector<Vector4> entries(65, Vector4(0.f, 0.f, 0.f, 0.f));
        entries[34] = Vector4(1.f, 0.3f, 0.2f, 0.6f);
        SetTable(entries, 0.f, 200.f);  // entry i at value 3.125 i
        kernel.preintegratedLut = &segments;
        kernel.shade = false;
        SetCamera(Orbit(0.4f, 0.3f), 1.f, 48, 48);
    }

    std::vector<float> Render(float distance, bool preintegration, bool jitter, bool withGrid) {
        kernel.sampleDistance = distance;
        kernel.preintegration = preintegration;
        kernel.jitter = jitter;
        segments.Generate(&lut, distance, kernel.stdSampleDistance);
        FullTestFrame::Render(withGrid);
        return std::vector<float>(image.pixels, image.pixels + 4 * image.width * image.height);
    }
};

double RootMeanSquare(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return std::sqrt(sum / double(a.size()));
}

double MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
    double worst = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(double(a[i]) - b[i]));
    return worst;
}

}  // namespace

TEST(FullVRPreintegration, HalvesTheErrorOfTheFixedLatticeOnBothEntryPoints) {
    struct Case {
        float distance;
        bool shade;
    };
    const Case cases[] = {{0.2f, false}, {0.8f, false}, {0.2f, true}, {0.8f, true}};
    Ball ball;
    for (const Case& c : cases) {
        ball.kernel.shade = c.shade;
        const std::vector<float> fine = ball.Render(c.distance / 16.f, false, false, false);
        const double post = RootMeanSquare(ball.Render(c.distance, false, false, true), fine);
        const double jittered = RootMeanSquare(ball.Render(c.distance, false, true, true), fine);
        for (const bool jitter : {false, true}) {
            const std::vector<float> grid = ball.Render(c.distance, true, jitter, true);
            const std::vector<float> noGrid = ball.Render(c.distance, true, jitter, false);
            const double pre = RootMeanSquare(grid, fine);
            EXPECT_LE(pre, 0.5 * post) << "d " << c.distance << " shade " << c.shade << " jitter "
                                       << jitter << ": post " << post << " jittered " << jittered;
            EXPECT_LE(MaxDifference(grid, noGrid), kEntryPointsAgree)
                << "d " << c.distance << " shade " << c.shade << " jitter " << jitter;
        }
    }
}
