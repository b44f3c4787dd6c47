// GridPartition: the worked sizes and cell extents, shared voxel planes, the clamp of cell sizes
// below 1, copies, and every cell's range against a brute-force scan on random volumes, also with
// the cell worker forced onto other thread counts.
#include "GridPartition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "../kernels/FrameTestSupport.h"
#include "kernels/KernelFrame.h"

using namespace frametest;

namespace {

const float kUnitSpacing[3] = {1.f, 1.f, 1.f};

const float* Cell(const GridPartition& g, int cx, int cy, int cz) {
    return g.minMax + 2 * (cx + g.cellCount[0] * (cy + g.cellCount[1] * cz));
}

// Range of the voxels x in [cx s0, min((cx + 1) s0, dim - 1)] (likewise y, z), by a plain scan.
void BruteForceRange(const TestVolume& v, const int size[3], int cx, int cy, int cz, float& lo,
                     float& hi) {
    lo = INFINITY, hi = -INFINITY;
    for (int z = cz * size[2]; z <= std::min((cz + 1) * size[2], v.dims[2] - 1); ++z)
        for (int y = cy * size[1]; y <= std::min((cy + 1) * size[1], v.dims[1] - 1); ++y)
            for (int x = cx * size[0]; x <= std::min((cx + 1) * size[0], v.dims[0] - 1); ++x) {
                lo = std::min(lo, v.At(x, y, z));
                hi = std::max(hi, v.At(x, y, z));
            }
}

void ExpectMatchesBruteForce(const GridPartition& g, const TestVolume& v) {
    for (int a = 0; a < 3; ++a)
        ASSERT_EQ(g.cellCount[a], (v.dims[a] - 1) / g.cellSize[a] + 1);
    for (int cz = 0; cz < g.cellCount[2]; ++cz)
        for (int cy = 0; cy < g.cellCount[1]; ++cy)
            for (int cx = 0; cx < g.cellCount[0]; ++cx) {
                float lo, hi;
                BruteForceRange(v, g.cellSize, cx, cy, cz, lo, hi);
                const float* cell = Cell(g, cx, cy, cz);
                ASSERT_EQ(cell[0], lo) << cx << " " << cy << " " << cz;
                ASSERT_EQ(cell[1], hi) << cx << " " << cy << " " << cz;
            }
}

// A volume whose value is its x index.
std::unique_ptr<TestVolume> RampX(const int dims[3]) {
    std::vector<float> values(std::size_t(dims[0]) * dims[1] * dims[2]);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = float(i % dims[0]);
    return MakeVolume(dims, kUnitSpacing, std::move(values), 64);
}

}  // namespace

TEST(GridPartitionSizes, ExponentGivesTruncatedPowersOfTheDimensions) {
    {
        const int dims[3] = {256, 256, 128};
        auto v = RampX(dims);
        GridPartition g;
        g.Init(&v->volume, 0.4f);
        EXPECT_EQ(g.cellSize[0], 9);  // 256^0.4 = 9.19
        EXPECT_EQ(g.cellSize[1], 9);
        EXPECT_EQ(g.cellSize[2], 6);  // 128^0.4 = 6.96
        EXPECT_EQ(g.cellCount[0], 29);
        EXPECT_EQ(g.cellCount[1], 29);
        EXPECT_EQ(g.cellCount[2], 22);
        // Cell 0 covers x = 0 .. 9, the last cell x = 252 .. 255.
        EXPECT_EQ(Cell(g, 0, 0, 0)[0], 0.f);
        EXPECT_EQ(Cell(g, 0, 0, 0)[1], 9.f);
        EXPECT_EQ(Cell(g, 28, 0, 0)[0], 252.f);
        EXPECT_EQ(Cell(g, 28, 0, 0)[1], 255.f);
        EXPECT_EQ(Cell(g, 28, 28, 21)[0], 252.f);
    }
    {
        const int dims[3] = {64, 1, 1};
        auto v = RampX(dims);
        GridPartition g;
        g.Init(&v->volume, 0.4f);
        EXPECT_EQ(g.cellSize[0], 5);
        EXPECT_EQ(g.cellCount[0], 13);
        EXPECT_EQ(g.cellCount[1], 1);
    }
}

TEST(GridPartitionSizes, CellsShareTheirBoundaryVoxelPlanes) {
    {
        // Cell size 4 on a 9-voxel axis: cells 0..4, 4..8, 8..8.
        const int dims[3] = {9, 2, 2};
        auto v = RampX(dims);
        GridPartition g;
        g.Init(&v->volume, 4, 4, 4);
        ASSERT_EQ(g.cellCount[0], 3);
        const float expected[3][2] = {{0, 4}, {4, 8}, {8, 8}};
        for (int cx = 0; cx < 3; ++cx) {
            EXPECT_EQ(Cell(g, cx, 0, 0)[0], expected[cx][0]);
            EXPECT_EQ(Cell(g, cx, 0, 0)[1], expected[cx][1]);
        }
    }
    {
        // One high voxel on the plane x = 9 raises both cells that share it.
        const int dims[3] = {20, 3, 3};
        std::vector<float> values(20 * 9, 1.f);
        values[9 + 20 * (1 + 3 * 1)] = 50.f;
        auto v = MakeVolume(dims, kUnitSpacing, values);
        GridPartition g;
        g.Init(&v->volume, 9, 9, 9);
        ASSERT_EQ(g.cellCount[0], 3);
        EXPECT_EQ(Cell(g, 0, 0, 0)[1], 50.f);
        EXPECT_EQ(Cell(g, 1, 0, 0)[1], 50.f);
        EXPECT_EQ(Cell(g, 2, 0, 0)[1], 1.f);
    }
    {
        // Cell size equal to the dimension: one cell over the whole axis; a single voxel: one cell.
        const int dims[3] = {7, 5, 3};
        std::mt19937 rng(3);
        auto v = MakeRandomVolume(dims, kUnitSpacing, rng);
        GridPartition g;
        g.Init(&v->volume, 7, 5, 3);
        EXPECT_EQ(g.cellCount[0] * g.cellCount[1] * g.cellCount[2], 1);
        ExpectMatchesBruteForce(g, *v);
        const int one[3] = {1, 1, 1};
        auto single = MakeVolume(one, kUnitSpacing, {42.f});
        g.Init(&single->volume, 0.4f);
        EXPECT_EQ(g.cellCount[0] * g.cellCount[1] * g.cellCount[2], 1);
        EXPECT_EQ(g.minMax[0], 42.f);
        EXPECT_EQ(g.minMax[1], 42.f);
    }
}

TEST(GridPartitionSizes, CellSizesBelowOneAreTakenAsOne) {
    const int dims[3] = {6, 4, 3};
    std::mt19937 rng(11);
    auto v = MakeRandomVolume(dims, kUnitSpacing, rng);
    GridPartition g;
    g.Init(&v->volume, 0, -3, 1);
    EXPECT_EQ(g.cellSize[0], 1);
    EXPECT_EQ(g.cellSize[1], 1);
    EXPECT_EQ(g.cellCount[0], 6);
    EXPECT_EQ(g.cellCount[1], 4);
    ExpectMatchesBruteForce(g, *v);
    // A negative exponent makes every power fall below 1.
    g.Init(&v->volume, -0.5f);
    for (int a = 0; a < 3; ++a)
        EXPECT_EQ(g.cellSize[a], 1);
    ExpectMatchesBruteForce(g, *v);
}

TEST(GridPartitionBuild, EveryCellMatchesABruteForceScanOnRandomVolumes) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 12; ++trial) {
        const int dims[3] = {1 + int(rng() % 30), 1 + int(rng() % 30), 1 + int(rng() % 30)};
        // Block edges 3 and 5 read through GetValue, 4 through the typed block reads.
        auto v = MakeRandomVolume(dims, kUnitSpacing, rng, -50.f, 50.f, 3 + trial % 3);
        GridPartition g;
        g.Init(&v->volume, 1 + int(rng() % 7), 1 + int(rng() % 7), 1 + int(rng() % 7));
        ExpectMatchesBruteForce(g, *v);
        g.Init(&v->volume, 0.4f);
        ExpectMatchesBruteForce(g, *v);
    }
}

// The cell worker on other thread counts (more threads than cell columns included): every cell
// is filled, and filled right, whatever the split.
TEST(GridPartitionBuild, CellWorkerCoversEveryCellForAnyThreadCount) {
    std::mt19937 rng(77);
    const int dims[3] = {23, 17, 9};
    auto v = MakeRandomVolume(dims, kUnitSpacing, rng);
    for (int threads : {1, 2, 3, 5, 8, 13}) {
        GridPartition g;
        g.Init(&v->volume, 4, 3, 5);
        const std::size_t floats = 2u * g.cellCount[0] * g.cellCount[1] * g.cellCount[2];
        for (std::size_t i = 0; i < floats; ++i)
            g.minMax[i] = std::numeric_limits<float>::quiet_NaN();
        GridPartition::CellMinMaxJob job{&v->volume, &g};
        RunOnProcessors(threads, &GridPartition::ComputeCellMinMax, &job);
        ExpectMatchesBruteForce(g, *v);
    }
}

TEST(GridPartitionLifecycle, NullVolumeKeepsTheGridAndCopiesAreDeep) {
    const int dims[3] = {10, 6, 4};
    std::mt19937 rng(5);
    auto v = MakeRandomVolume(dims, kUnitSpacing, rng);
    GridPartition g;
    g.Init(nullptr, 3, 3, 3);
    EXPECT_EQ(g.minMax, nullptr);
    EXPECT_EQ(g.cellCount[0], 0);
    g.Init(&v->volume, 3, 2, 2);
    const float* table = g.minMax;
    g.Init(nullptr, 0.4f);
    EXPECT_EQ(g.minMax, table);
    EXPECT_EQ(g.cellSize[0], 3);

    GridPartition copy(g);
    EXPECT_NE(copy.minMax, g.minMax);
    ExpectMatchesBruteForce(copy, *v);
    GridPartition assigned;
    assigned = g;
    EXPECT_NE(assigned.minMax, g.minMax);
    ExpectMatchesBruteForce(assigned, *v);
    g.minMax[1] = -1000.f;  // the copies keep their own tables
    EXPECT_NE(copy.minMax[1], -1000.f);
    EXPECT_NE(assigned.minMax[1], -1000.f);
    GridPartition& alias = assigned;
    assigned = alias;  // self-assignment keeps the table
    ExpectMatchesBruteForce(assigned, *v);
}
