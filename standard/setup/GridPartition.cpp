// Min/max grid over a bricked volume, built on all processors.
#include "GridPartition.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "CoherentVolume.h"
#include "../kernels/KernelFrame.h"

namespace {

// Largest cell size kept: larger ones give one cell per axis anyway, and this bound keeps the
// kernels' macro-cell plane positions (cell size times index) far from overflow.
const int kMaxCellSize = 1 << 30;

int ClampCellSize(int size) {
    if (size < 1) return 1;
    return size < kMaxCellSize ? size : kMaxCellSize;
}

// Float count of a table of the given cell counts; bad_array_new_length beyond what new[] takes.
std::size_t TableFloatCount(const int cellCount[3]) {
    std::uint64_t count = 2;
    for (int a = 0; a < 3; ++a) {
        const std::uint64_t n = std::uint64_t(cellCount[a]);
        if (n != 0 && count > (std::numeric_limits<std::size_t>::max() / sizeof(float)) / n)
            throw std::bad_array_new_length();
        count *= n;
    }
    return std::size_t(count);
}

}  // namespace

GridPartition::GridPartition() : cellSize{0, 0, 0}, cellCount{0, 0, 0}, minMax(nullptr) {}

GridPartition::~GridPartition() {
    delete[] minMax;
}

GridPartition::GridPartition(const GridPartition& other)
    : cellSize{other.cellSize[0], other.cellSize[1], other.cellSize[2]},
      cellCount{other.cellCount[0], other.cellCount[1], other.cellCount[2]},
      minMax(nullptr) {
    if (other.minMax) {
        const std::size_t count = TableFloatCount(cellCount);
        minMax = new float[count];
        std::memcpy(minMax, other.minMax, count * sizeof(float));
    }
}

GridPartition& GridPartition::operator=(const GridPartition& other) {
    if (this == &other) return *this;
    float* table = nullptr;
    if (other.minMax) {
        const std::size_t count = TableFloatCount(other.cellCount);
        table = new float[count];
        std::memcpy(table, other.minMax, count * sizeof(float));
    }
    delete[] minMax;
    minMax = table;
    for (int a = 0; a < 3; ++a) {
        cellSize[a] = other.cellSize[a];
        cellCount[a] = other.cellCount[a];
    }
    return *this;
}

void GridPartition::Init(CoherentVolume* volume, float exponent) {
    if (!volume) return;
    int sizes[3];
    for (int a = 0; a < 3; ++a) {
        const float size = powf(float(volume->dimensions[a]), exponent);
        // Below 1 (NaN included) or beyond int: the clamp of the explicit overload decides.
        sizes[a] = !(size >= 1.f) ? 1 : (size < float(kMaxCellSize) ? int(size) : kMaxCellSize);
    }
    Init(volume, sizes[0], sizes[1], sizes[2]);
}

void GridPartition::Init(CoherentVolume* volume, int cellSizeX, int cellSizeY, int cellSizeZ) {
    if (!volume) return;
    delete[] minMax;
    minMax = nullptr;
    const int sizes[3] = {cellSizeX, cellSizeY, cellSizeZ};
    int counts[3];
    for (int a = 0; a < 3; ++a) {
        cellSize[a] = ClampCellSize(sizes[a]);
        cellCount[a] = 0;
        // An empty axis gives an empty grid.
        counts[a] = volume->dimensions[a] > 0 ? (volume->dimensions[a] - 1) / cellSize[a] + 1 : 0;
    }
    minMax = new float[TableFloatCount(counts)];
    for (int a = 0; a < 3; ++a)
        cellCount[a] = counts[a];
    CellMinMaxJob job{volume, this};
    RunOnAllProcessors(&ComputeCellMinMax, &job);
}

namespace {

// One worker's cells: every threadCount-th cell column from threadIndex on. Voxels reads in-range
// voxels (Voxel, AccumulateRow) with the values of CoherentVolume::GetValue.
template <class Voxels>
void ScanCells(const Voxels& voxels, GridPartition& grid, int threadCount, int threadIndex) {
    const int* const dims = voxels.dims;
    const int size[3] = {grid.cellSize[0], grid.cellSize[1], grid.cellSize[2]};
    const int count[3] = {grid.cellCount[0], grid.cellCount[1], grid.cellCount[2]};
    const int step = threadCount > 0 ? threadCount : 1;
    for (int cz = 0; cz < count[2]; ++cz) {
        const int z0 = cz * size[2];
        const int z1 = z0 + size[2] < dims[2] - 1 ? z0 + size[2] : dims[2] - 1;
        for (int cy = 0; cy < count[1]; ++cy) {
            const int y0 = cy * size[1];
            const int y1 = y0 + size[1] < dims[1] - 1 ? y0 + size[1] : dims[1] - 1;
            for (int cx = threadIndex; cx < count[0]; cx += step) {
                const int x0 = cx * size[0];
                const int x1 = x0 + size[0] < dims[0] - 1 ? x0 + size[0] : dims[0] - 1;
                // The cell's voxels, its successors' first planes included; a NaN voxel is taken.
                float low = voxels.Voxel(x0, y0, z0), high = low;
                for (int z = z0; z <= z1; ++z)
                    for (int y = y0; y <= y1; ++y)
                        voxels.AccumulateRow(x0, x1, y, z, low, high);
                float* const cell =
                    grid.minMax +
                    2 * (std::size_t(cx) +
                         std::size_t(count[0]) * (std::size_t(cy) + std::size_t(count[1]) * cz));
                cell[0] = low;
                cell[1] = high;
            }
        }
    }
}

}  // namespace

void GridPartition::ComputeCellMinMax(int threadCount, int threadIndex, void* userData) {
    const CellMinMaxJob& job = *static_cast<const CellMinMaxJob*>(userData);
    VolumeSampler sampler;
    if (!sampler.BindVolume(job.volume)) return;
    // Typed block reads where the volume allows them, GetValue otherwise.
    VisitVoxelAccess(sampler, [&](const auto& voxels) {
        ScanCells(voxels, *job.grid, threadCount, threadIndex);
    });
}
