// Shared frame of the CPU ray-casting kernels: the fan-out over all processors, the per-call
// kernel state, the per-pixel ray set-up, the clamped voxel fetch, trilinear sampling, the
// gradient normal, the voxel cell walk and the cubic of the trilinear interpolant along a ray.
//
// How a kernel uses it (everything below is inline or a template; no virtual call per pixel):
//
//   struct MyTracer {                       // the technique's per-ray routine and bound values
//     const KernelState* state;             // sampling goes through the state
//     float someBoundValue;
//     Vector4 operator()(const PixelRay& ray) { ... }   // RGBA, any range; called only when
//   };                                                   // ray.tFar > ray.tNear
//
//   void MyKernel::RenderWithoutGridPartition() {
//     if (!volume || !vrSceneParam || !image) return;    // input checks
//     KernelState state;                                 // per call: frames may run concurrently
//     if (!state.BindVolume(volume)) return;
//     // grid variants: state.BindGridPartition(gridPartition);
//     MyTracer tracer{&state, ...};                      // the technique's own binding
//     RenderImage(state, image, vrSceneParam, tracer);   // binds the ray set-up, fans out, joins
//   }
//
// RenderImage copies the VRSceneParam into the state and runs RenderPixels on every processor:
// thread i of N takes the columns windowX + i, + N, ... of every row, builds the ray through each
// pixel centre with SetUpPixelRay, stores (0, 0, 0, 0) for a ray that misses the cropping box and
// otherwise the tracer's colour with every channel clamped to [0, 1] (NaN to 1). Each worker works
// on its own copy of the tracer, so a tracer may keep per-thread scratch values in itself.
//
// Sampling, all in voxel index coordinates and all clamping to the volume:
//   state.FetchVoxel(i, j, k), state.SampleTrilinear(p) (clamps p in place: pass a copy),
//   state.ComputeNormal(p), state.FetchCellCorners(cx, cy, cz, corners).
// These read through CoherentVolume::GetValue. For the hot loop, BlockVoxels<T> offers the same
// four routines (identical values) reading the blocks of one sample type directly, about three
// times faster; VisitVoxelAccess(state, visitor) calls the visitor with the fastest access the
// volume allows, so a tracer templated on it decides the sample type once per frame.
// Cell walk over the voxel cells a ray crosses (cell c = the cube between voxels c and c + 1):
//   CellWalk walk;
//   walk.Init(ray.originVoxel, ray.dirVoxel, ray.tNear, ray.tFar);
//   for (float t = ray.tNear; t < ray.tFar;) {
//     const float tExit = walk.Exit(ray.tFar);
//     ... visit walk.cell over [t, tExit] ...
//     walk.Advance();
//     t = tExit;
//   }
// Cell cubic: CellCubic f = BuildCellCubic(corners, walk.cell, ray.originVoxel, ray.dirVoxel, t)
//   gives f(s) = ((a s + b) s + c) s + d, the trilinear interpolant at ray parameter t + s.
// Grid variants: MacroCellWalk walks the grid's macro cells like CellWalk (Init also takes
//   state.gridCellSize); state.GridCell(mx, my, mz) points at a macro cell's (min, max) pair,
//   indices clamped to the grid.
// Fan-out: RunOnAllProcessors(worker, userData); RunOnProcessors(n, worker, userData) forces the
//   thread count (tests, benchmarks).
#pragma once

#include <pthread.h>

#include <cmath>
#include <cstddef>
#include <limits>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "Vector.h"

// ---------------------------------------------------------------------------------------------
// Fan-out

// A unit of parallel work: called once per thread with threadIndex in [0, threadCount); index 0
// is always the calling thread.
typedef void (*WorkerFunction)(int threadCount, int threadIndex, void* userData);

// Starts one thread; pthread_create's signature, replaceable in tests to simulate failures.
typedef int (*ThreadStartFunction)(pthread_t* thread, const pthread_attr_t* attributes,
                                   void* (*entry)(void*), void* argument);

// Number of processors the operating system reports online; at least 1.
KESTREL_STANDARD_API int GetProcessorCount();

// Runs worker(N, i, userData) for i = 0 .. N - 1 at the same time, N = GetProcessorCount(), on
// the calling thread (index 0) and N - 1 new POSIX threads; returns when all have returned.
KESTREL_STANDARD_API void RunOnAllProcessors(WorkerFunction worker, void* userData);

// As RunOnAllProcessors with N = threadCount (values below 1 count as 1). startThread replaces
// pthread_create when not null. An index whose thread cannot be started runs on the calling
// thread after index 0, so the work is always complete.
KESTREL_STANDARD_API void RunOnProcessors(int threadCount, WorkerFunction worker, void* userData,
                                          ThreadStartFunction startThread = nullptr);

// ---------------------------------------------------------------------------------------------
// Sampling

// Sampling is written once over a voxel access: a type with members dims[3], spacing[3] and
//   float FetchVoxel(int i, int j, int k) const;                         // indices clamped
//   void FetchCellCorners(int cx, int cy, int cz, float corners[8]) const; // indices clamped
// VolumeSampler reads through CoherentVolume::GetValue and works for every volume; BlockVoxels<T>
// reads the blocks of one sample type directly. VisitVoxelAccess picks the fastest one per frame.

// Index clamped to [0, dim - 1]: the edge voxel stands for everything beyond it.
inline int ClampIndex(int index, int dim) {
    const int upper = index < dim - 1 ? index : dim - 1;
    return upper > 0 ? upper : 0;
}

// Coordinate clamped to [0, upper]: not above 0 (NaN included) gives 0, not below upper gives
// upper.
inline float ClampCoordinate(float value, float upper) {
    if (!(value > 0.f)) return 0.f;
    if (!(value < upper)) return upper;
    return value;
}

// Trilinear interpolant at p (voxel coordinates). p.x, p.y, p.z are first clamped in place to the
// volume, so a position beyond it takes the value of the nearest point inside; on the last voxel
// plane the upper corners are that plane again (their weight is 0).
template <class Voxels>
inline float SampleTrilinearFrom(const Voxels& voxels, Vector4& p) {
    p.x = ClampCoordinate(p.x, float(voxels.dims[0] - 1));
    p.y = ClampCoordinate(p.y, float(voxels.dims[1] - 1));
    p.z = ClampCoordinate(p.z, float(voxels.dims[2] - 1));
    const int i = int(p.x), j = int(p.y), k = int(p.z);
    const float fx = p.x - float(i), fy = p.y - float(j), fz = p.z - float(k);
    float v[8];
    voxels.FetchCellCorners(i, j, k, v);
    // c(b, c) = v(0, b, c) (1 - fx) + v(1, b, c) fx; then along y; then along z.
    const float c00 = v[0] * (1.f - fx) + v[1] * fx;
    const float c10 = v[2] * (1.f - fx) + v[3] * fx;
    const float c01 = v[4] * (1.f - fx) + v[5] * fx;
    const float c11 = v[6] * (1.f - fx) + v[7] * fx;
    const float c0 = c00 * (1.f - fy) + c10 * fy;
    const float c1 = c01 * (1.f - fy) + c11 * fy;
    return c0 * (1.f - fz) + c1 * fz;
}

// f(p + e_axis) - f(p - e_axis), the samples clamped as SampleTrilinear clamps them.
template <class Voxels>
inline float CentralDifference(const Voxels& voxels, const Vector4& p, int axis) {
    Vector4 plus = p;
    Vector4 minus = p;
    static_cast<float*>(plus)[axis] += 1.f;
    static_cast<float*>(minus)[axis] -= 1.f;
    const float forward = SampleTrilinearFrom(voxels, plus);
    return forward - SampleTrilinearFrom(voxels, minus);
}

// Unit gradient direction at p in physical units, pointing to increasing values, w = 0:
// g_a = f(p + e_a) - f(p - e_a) (clamped samples, not halved), n = g / spacing, normalised. A zero
// gradient gives non-finite components.
template <class Voxels>
inline Vector4 ComputeNormalFrom(const Voxels& voxels, const Vector4& p) {
    const float gx = CentralDifference(voxels, p, 0);
    const float gy = CentralDifference(voxels, p, 1);
    const float gz = CentralDifference(voxels, p, 2);
    const float nx = gx / voxels.spacing[0], ny = gy / voxels.spacing[1],
                nz = gz / voxels.spacing[2];
    const float inverseLength = 1.f / std::sqrt(nx * nx + ny * ny + nz * nz);
    return Vector4(nx * inverseLength, ny * inverseLength, nz * inverseLength, 0.f);
}

// The volume as the kernels sample it, read through CoherentVolume::GetValue (any block size,
// any block array). Borrows the volume; reads only, from any number of threads.
struct VolumeSampler {
    CoherentVolume* volume = nullptr;    // not owned
    int dims[3] = {0, 0, 0};             // voxel counts, copied from the volume
    float spacing[3] = {1.f, 1.f, 1.f};  // voxel spacing in physical units, copied from the volume

    // Stores the volume with its dimensions and spacings; false (state untouched) for null.
    bool BindVolume(CoherentVolume* source) {
        if (!source) return false;
        volume = source;
        for (int a = 0; a < 3; ++a) {
            dims[a] = source->dimensions[a];
            spacing[a] = source->spacings[a];
        }
        return true;
    }

    // Voxel at in-range indices.
    float Voxel(int x, int y, int z) const { return volume->GetValue(x, y, z); }

    // Folds the in-range voxels x0 .. x1 of row (y, z) into a running range: low = v unless
    // v > low, high = v unless high > v (so a NaN voxel is taken into both).
    void AccumulateRow(int x0, int x1, int y, int z, float& low, float& high) const {
        for (int x = x0; x <= x1; ++x) {
            const float v = volume->GetValue(x, y, z);
            if (!(v > low)) low = v;
            if (!(high > v)) high = v;
        }
    }

    // Voxel value with each index clamped to its axis.
    float FetchVoxel(int i, int j, int k) const {
        return volume->GetValue(ClampIndex(i, dims[0]), ClampIndex(j, dims[1]),
                                ClampIndex(k, dims[2]));
    }

    // The eight corners of voxel cell (cx, cy, cz), indices clamped; corner (a, b, c) with a, b, c
    // in {0, 1} is corners[a + 2b + 4c] = voxel (cx + a, cy + b, cz + c).
    void FetchCellCorners(int cx, int cy, int cz, float corners[8]) const {
        const int x[2] = {ClampIndex(cx, dims[0]), ClampIndex(cx + 1, dims[0])};
        const int y[2] = {ClampIndex(cy, dims[1]), ClampIndex(cy + 1, dims[1])};
        const int z[2] = {ClampIndex(cz, dims[2]), ClampIndex(cz + 1, dims[2])};
        for (int c = 0; c < 8; ++c)
            corners[c] = volume->GetValue(x[c & 1], y[(c >> 1) & 1], z[c >> 2]);
    }

    float SampleTrilinear(Vector4& p) const { return SampleTrilinearFrom(*this, p); }
    Vector4 ComputeNormal(const Vector4& p) const { return ComputeNormalFrom(*this, p); }
};

// Direct reads from the blocks of a volume of sample type T whose block sizes are powers of two:
// block and in-block position by shifts and masks, a cell inside one block as eight loads from
// one base pointer, a uniform block without any load. Values equal GetValue's. Borrows the blocks;
// valid while the volume is not rebuilt.
template <typename T>
struct BlockVoxels {
    int dims[3] = {0, 0, 0};             // voxel counts
    float spacing[3] = {1.f, 1.f, 1.f};  // voxel spacing, physical units
    const TBlock<T>* blocks = nullptr;   // the volume's block array
    int shift[3] = {0, 0, 0};            // log2 of the block size per axis
    int mask[3] = {0, 0, 0};             // block size - 1 per axis
    int blockNum[2] = {0, 0};            // blocks along x and y

    // False when the volume's blocks are not TBlock<T> or a block size is not a power of two.
    bool Bind(const VolumeSampler& sampler) {
        const CoherentVolume* const v = sampler.volume;
        if (!v) return false;
        const auto* array = dynamic_cast<const TBlockArray<T>*>(v->blockArray);
        if (!array) return false;
        for (int a = 0; a < 3; ++a) {
            const int size = v->blockSize[a];
            if (size < 1 || (size & (size - 1)) != 0) return false;
            int log = 0;
            while ((1 << log) < size)
                ++log;
            shift[a] = log;
            mask[a] = size - 1;
            dims[a] = sampler.dims[a];
            spacing[a] = sampler.spacing[a];
        }
        blocks = array->blocks;
        blockNum[0] = v->blockNum[0];
        blockNum[1] = v->blockNum[1];
        return true;
    }

    const TBlock<T>& BlockOf(int x, int y, int z) const {
        return blocks[(x >> shift[0]) +
                      blockNum[0] * ((y >> shift[1]) + blockNum[1] * (z >> shift[2]))];
    }

    // Voxel at in-range indices.
    float Voxel(int x, int y, int z) const {
        return BlockOf(x, y, z).Fetch(x & mask[0], y & mask[1], z & mask[2]);
    }

    // As VolumeSampler::AccumulateRow: the row piece inside each block by one pointer, a uniform
    // block's piece by its one value.
    void AccumulateRow(int x0, int x1, int y, int z, float& low, float& high) const {
        for (int x = x0; x <= x1;) {
            const int blockLast = x | mask[0];
            const int last = blockLast < x1 ? blockLast : x1;
            const TBlock<T>& block = BlockOf(x, y, z);
            if (!block.data) {
                const float v = float(block.minValue);
                if (!(v > low)) low = v;
                if (!(high > v)) high = v;
            } else {
                const T* p = block.data + (x & mask[0]) +
                             std::ptrdiff_t(y & mask[1]) * block.rowPitch +
                             std::ptrdiff_t(z & mask[2]) * block.slicePitch;
                for (int n = last - x; n >= 0; --n, ++p) {
                    const float v = float(*p);
                    if (!(v > low)) low = v;
                    if (!(high > v)) high = v;
                }
            }
            x = last + 1;
        }
    }

    float FetchVoxel(int i, int j, int k) const {
        return Voxel(ClampIndex(i, dims[0]), ClampIndex(j, dims[1]), ClampIndex(k, dims[2]));
    }

    void FetchCellCorners(int cx, int cy, int cz, float corners[8]) const {
        const int x0 = ClampIndex(cx, dims[0]), x1 = ClampIndex(cx + 1, dims[0]);
        const int y0 = ClampIndex(cy, dims[1]), y1 = ClampIndex(cy + 1, dims[1]);
        const int z0 = ClampIndex(cz, dims[2]), z1 = ClampIndex(cz + 1, dims[2]);
        if (((x0 ^ x1) >> shift[0]) | ((y0 ^ y1) >> shift[1]) | ((z0 ^ z1) >> shift[2])) {
            // The cell straddles blocks: one look-up per corner.
            const int x[2] = {x0, x1}, y[2] = {y0, y1}, z[2] = {z0, z1};
            for (int c = 0; c < 8; ++c)
                corners[c] = Voxel(x[c & 1], y[(c >> 1) & 1], z[c >> 2]);
            return;
        }
        const TBlock<T>& block = BlockOf(x0, y0, z0);
        if (!block.data) {
            // Uniform block: every corner is its one value.
            const float value = float(block.minValue);
            for (int c = 0; c < 8; ++c)
                corners[c] = value;
            return;
        }
        const std::ptrdiff_t rowPitch = block.rowPitch, slicePitch = block.slicePitch;
        const T* const p =
            block.data + (x0 & mask[0]) + (y0 & mask[1]) * rowPitch + (z0 & mask[2]) * slicePitch;
        // Offsets of the upper corners; 0 where the index was clamped back.
        const std::ptrdiff_t dx = x1 - x0, dy = (y1 - y0) * rowPitch, dz = (z1 - z0) * slicePitch;
        corners[0] = float(p[0]);
        corners[1] = float(p[dx]);
        corners[2] = float(p[dy]);
        corners[3] = float(p[dx + dy]);
        corners[4] = float(p[dz]);
        corners[5] = float(p[dx + dz]);
        corners[6] = float(p[dy + dz]);
        corners[7] = float(p[dx + dy + dz]);
    }

    float SampleTrilinear(Vector4& p) const { return SampleTrilinearFrom(*this, p); }
    Vector4 ComputeNormal(const Vector4& p) const { return ComputeNormalFrom(*this, p); }
};

template <typename T, class Visitor>
bool TryVisitBlockVoxels(const VolumeSampler& sampler, Visitor& visit) {
    BlockVoxels<T> voxels;
    if (!voxels.Bind(sampler)) return false;
    visit(static_cast<const BlockVoxels<T>&>(voxels));
    return true;
}

// Calls visit(voxels) once, with BlockVoxels<T> for the volume's sample type when that binds, else
// with the VolumeSampler itself. A kernel instantiates its tracer on the argument's type, so the
// sample type is decided once per frame, not per voxel:
//   VisitVoxelAccess(state, [&](const auto& voxels) {
//       MyTracer<std::decay_t<decltype(voxels)>> tracer{&state, voxels, ...};
//       RenderImage(state, image, param, tracer);
//   });
template <class Visitor>
void VisitVoxelAccess(const VolumeSampler& sampler, Visitor&& visit) {
    if (sampler.volume) {
        const DataType type = sampler.volume->dataType;
        if (type.isFloat) {
            if (TryVisitBlockVoxels<float>(sampler, visit)) return;
        } else if (type.isSigned) {
            if (type.bitCount == 8 && TryVisitBlockVoxels<signed char>(sampler, visit)) return;
            if (type.bitCount == 16 && TryVisitBlockVoxels<short>(sampler, visit)) return;
            if (type.bitCount == 32 && TryVisitBlockVoxels<int>(sampler, visit)) return;
        } else {
            if (type.bitCount == 8 && TryVisitBlockVoxels<unsigned char>(sampler, visit)) return;
            if (type.bitCount == 16 && TryVisitBlockVoxels<unsigned short>(sampler, visit)) return;
            if (type.bitCount == 32 && TryVisitBlockVoxels<unsigned int>(sampler, visit)) return;
        }
    }
    visit(sampler);
}

// ---------------------------------------------------------------------------------------------
// Rays

// One pixel's ray: x(t) = originVoxel + t dirVoxel in voxel coordinates, t the distance from the
// eye in physical units; [tNear, tFar] is the part inside the cropping box (a miss when
// tFar <= tNear).
struct PixelRay {
    Vector4 originVoxel;  // the eye in voxel coordinates, w = 1
    Vector4 dirVoxel;     // voxel-space step per unit of physical distance, w = 0
    Vector4 dirPhysical;  // unit direction in physical coordinates, away from the viewer, w = 0
    float tNear;          // entry into the cropping box, 0 when the eye is inside
    float tFar;           // exit from the cropping box
};

// Everything a frame's rays read: the volume, the ray set-up and, for grid variants, the min/max
// grid. Written before the fan-out, read-only during it. Owns nothing.
struct KernelState : VolumeSampler {
    Matrix4x4 windowToPhysical;  // copy of VRSceneParam::windowToPhysical
    Matrix4x4 physicalToVoxel;   // copy of VRSceneParam::physicalToVoxel
    float croppingBounds[6] = {0.f, 0.f, 0.f, 0.f, 0.f, 0.f};  // voxel space: x lo, x hi, y lo, ...
    Vector4 eye;                        // centre of projection, physical coordinates, w = 1
    Vector4 eyeVoxel;                   // physicalToVoxel * eye: every ray's origin
    int gridCellSize[3] = {0, 0, 0};    // GridPartition::cellSize
    int gridCellCount[3] = {0, 0, 0};   // GridPartition::cellCount
    int gridStride[3] = {0, 0, 0};      // floats per cell step in gridMinMax along x, y, z
    const float* gridMinMax = nullptr;  // GridPartition::minMax, not owned

    // Copies the grid members; false (state untouched) for null.
    bool BindGridPartition(const GridPartition* grid) {
        if (!grid) return false;
        for (int a = 0; a < 3; ++a) {
            gridCellSize[a] = grid->cellSize[a];
            gridCellCount[a] = grid->cellCount[a];
        }
        gridStride[0] = 2;
        gridStride[1] = 2 * grid->cellCount[0];
        gridStride[2] = 2 * grid->cellCount[0] * grid->cellCount[1];
        gridMinMax = grid->minMax;
        return true;
    }

    // Copies the ray set-up and derives the eye: the point windowToPhysical maps the window
    // direction (0, 0, 1, 0) to, eye = (m8, m9, m10) / m11.
    void BindSceneParam(const VRSceneParam& param) {
        windowToPhysical = param.windowToPhysical;
        physicalToVoxel = param.physicalToVoxel;
        for (int i = 0; i < 6; ++i)
            croppingBounds[i] = param.croppingBounds[i];
        const float* const m = windowToPhysical;
        eye = Vector4(m[8] / m[11], m[9] / m[11], m[10] / m[11], 1.f);
        eyeVoxel = physicalToVoxel * eye;
    }

    // The (min, max) pair of macro cell (mx, my, mz), each index clamped to the grid.
    const float* GridCell(int mx, int my, int mz) const {
        return gridMinMax + gridStride[0] * ClampIndex(mx, gridCellCount[0]) +
               gridStride[1] * ClampIndex(my, gridCellCount[1]) +
               gridStride[2] * ClampIndex(mz, gridCellCount[2]);
    }

    // Ray through window position (px, py), clipped to the cropping box.
    void SetUpPixelRay(float px, float py, PixelRay& ray) const {
        // Near-plane point of the pixel in physical coordinates.
        Vector4 p = windowToPhysical * Vector4(px, py, 0.f, 1.f);
        const float inverseW = 1.f / p.w;
        p.x *= inverseW;
        p.y *= inverseW;
        p.z *= inverseW;
        // Unit direction from the eye through that point.
        float dx = p.x - eye.x, dy = p.y - eye.y, dz = p.z - eye.z;
        const float inverseLength = 1.f / std::sqrt(dx * dx + dy * dy + dz * dz);
        dx *= inverseLength;
        dy *= inverseLength;
        dz *= inverseLength;
        ray.dirPhysical = Vector4(dx, dy, dz, 0.f);
        ray.originVoxel = eyeVoxel;
        ray.dirVoxel = physicalToVoxel * ray.dirPhysical;
        // Slab clip against the cropping box, one axis at a time.
        const float origin[3] = {ray.originVoxel.x, ray.originVoxel.y, ray.originVoxel.z};
        const float dir[3] = {ray.dirVoxel.x, ray.dirVoxel.y, ray.dirVoxel.z};
        const float infinity = std::numeric_limits<float>::infinity();
        float tNear = -infinity, tFar = infinity;
        for (int a = 0; a < 3; ++a) {
            const float lo = croppingBounds[2 * a], hi = croppingBounds[2 * a + 1];
            float tMin, tMax;
            if (dir[a] == 0.f) {
                // Parallel to the slab: unrestricted inside it (bounds included), empty outside.
                const bool inside = origin[a] >= lo && origin[a] <= hi;
                tMin = inside ? -infinity : infinity;
                tMax = inside ? infinity : -infinity;
            } else {
                const float t0 = (lo - origin[a]) / dir[a];
                const float t1 = (hi - origin[a]) / dir[a];
                tMin = t0 < t1 ? t0 : t1;
                tMax = t0 < t1 ? t1 : t0;
            }
            if (tMin > tNear) tNear = tMin;
            if (tMax < tFar) tFar = tMax;
        }
        // A ray that starts inside the box starts at the eye.
        ray.tNear = tNear > 0.f ? tNear : 0.f;
        ray.tFar = tFar;
    }
};

// ---------------------------------------------------------------------------------------------
// Cell walk and cell cubic

// Walk over the voxel cells a ray crosses, in order. Cell c of an axis is the interval
// [c, c + 1] of voxel coordinates. Ties between axes advance z before y before x, so a ray through
// an edge or corner visits the cells of the tie with zero-length segments. A zero direction
// component never advances its axis.
struct CellWalk {
    int cell[3];      // current cell per axis
    int step[3];      // +1, -1 or 0 per axis
    float tNext[3];   // absolute ray parameter at which the ray leaves the cell across each axis
    float tDelta[3];  // parameter distance between two planes of each axis (infinite for step 0)

    // Starts at q = origin + tStart dir; tEnd is the parameter at which the walk will stop.
    void Init(const Vector4& origin, const Vector4& dir, float tStart, float tEnd) {
        const float o[3] = {origin.x, origin.y, origin.z};
        const float d[3] = {dir.x, dir.y, dir.z};
        for (int a = 0; a < 3; ++a) {
            const float q = o[a] + tStart * d[a];
            if (d[a] < 0.f) {
                // Moving down: a point on a plane belongs to the cell below it.
                cell[a] = int(std::ceil(q)) - 1;
                step[a] = -1;
                tDelta[a] = -1.f / d[a];
                tNext[a] = (float(cell[a]) - o[a]) / d[a];
            } else if (d[a] > 0.f) {
                cell[a] = int(std::floor(q));
                step[a] = 1;
                tDelta[a] = 1.f / d[a];
                tNext[a] = (float(cell[a] + 1) - o[a]) / d[a];
            } else {
                cell[a] = int(std::floor(q));
                step[a] = 0;
                tDelta[a] = std::numeric_limits<float>::infinity();
                tNext[a] = tEnd;
            }
        }
    }

    // Index of the axis whose plane comes first: x only if strictly first, else y if before z,
    // else z.
    int NextAxis() const {
        if (tNext[0] < tNext[1] && tNext[0] < tNext[2]) return 0;
        return tNext[1] < tNext[2] ? 1 : 2;
    }

    // Parameter at which the ray leaves the current cell, capped at tEnd.
    float Exit(float tEnd) const {
        const float e = tNext[NextAxis()];
        return tEnd < e ? tEnd : e;
    }

    // Enter the next cell.
    void Advance() {
        const int a = NextAxis();
        cell[a] += step[a];
        tNext[a] += tDelta[a];
    }
};

// Integer division rounding towards minus infinity (divisor positive).
inline int FloorDivide(int value, int divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

// Walk over the macro cells of a min/max grid (GridPartition) along a ray, in order, with the
// stepping and tie rules of CellWalk. Macro cell m of an axis with cell size g spans voxel
// coordinates [g m, g (m + 1)]. The entry cell is floor(q) / g moving up and (ceil(q) - 1) / g
// moving down or not at all (on a boundary plane: the cell below it, whose range includes the
// plane), with the division rounding down, so that an entry below voxel 0 (a cropping box reaching
// outside the volume) lies in cell -1, whose far face is ahead of it; read the cell through
// KernelState::GridCell, which clamps the indices.
struct MacroCellWalk : CellWalk {
    void Init(const Vector4& origin, const Vector4& dir, float tStart, float tEnd,
              const int cellSize[3]) {
        const float o[3] = {origin.x, origin.y, origin.z};
        const float d[3] = {dir.x, dir.y, dir.z};
        for (int a = 0; a < 3; ++a) {
            const int g = cellSize[a];
            const float q = o[a] + tStart * d[a];
            if (d[a] < 0.f) {
                cell[a] = FloorDivide(int(std::ceil(q)) - 1, g);
                step[a] = -1;
                tDelta[a] = -float(g) / d[a];
                tNext[a] = (float(g * cell[a]) - o[a]) / d[a];
            } else if (d[a] > 0.f) {
                cell[a] = FloorDivide(int(std::floor(q)), g);
                step[a] = 1;
                tDelta[a] = float(g) / d[a];
                tNext[a] = (float(g * (cell[a] + 1)) - o[a]) / d[a];
            } else {
                cell[a] = FloorDivide(int(std::ceil(q)) - 1, g);
                step[a] = 0;
                tDelta[a] = std::numeric_limits<float>::infinity();
                tNext[a] = tEnd;
            }
        }
    }
};

// f(s) = ((a s + b) s + c) s + d.
struct CellCubic {
    float a, b, c, d;
    float operator()(float s) const { return ((a * s + b) * s + c) * s + d; }
};

// The trilinear interpolant of one cell along a ray segment, as a cubic in s. (u, v, w) is the
// segment's start inside the cell (0..1 per axis), (dx, dy, dz) the voxel-space direction.
// The 1-D weights are linear in s:
//   X0 = (1 - u) - s dx, X1 = u + s dx, likewise Y with (v, dy) and Z with (w, dz),
//   f(s) = sum over a, b, c of corners[a + 2b + 4c] Xa Yb Zc.
// Evaluated as nested linear interpolations: along x (linear in s), then y (quadratic), then z.
inline CellCubic BuildCellCubic(const float corners[8], float u, float v, float w, float dx,
                                float dy, float dz) {
    // Along x: e(b, c)(s) = e0 + e1 s.
    float e0[4], e1[4];
    for (int bc = 0; bc < 4; ++bc) {
        const float v0 = corners[2 * bc], v1 = corners[2 * bc + 1];
        e0[bc] = v0 * (1.f - u) + v1 * u;
        e1[bc] = (v1 - v0) * dx;
    }
    // Along y: g(c)(s) = g0 + g1 s + g2 s^2 from e(0, c) Y0 + e(1, c) Y1.
    float g0[2], g1[2], g2[2];
    for (int c = 0; c < 2; ++c) {
        const float p0 = e0[2 * c], p1 = e1[2 * c], r0 = e0[2 * c + 1], r1 = e1[2 * c + 1];
        g0[c] = p0 * (1.f - v) + r0 * v;
        g1[c] = p1 * (1.f - v) + r1 * v + (r0 - p0) * dy;
        g2[c] = (r1 - p1) * dy;
    }
    // Along z: f(s) = g(0) Z0 + g(1) Z1.
    CellCubic f;
    f.d = g0[0] * (1.f - w) + g0[1] * w;
    f.c = g1[0] * (1.f - w) + g1[1] * w + (g0[1] - g0[0]) * dz;
    f.b = g2[0] * (1.f - w) + g2[1] * w + (g1[1] - g1[0]) * dz;
    f.a = (g2[1] - g2[0]) * dz;
    return f;
}

// The cell cubic of cell[] for the segment that starts at ray parameter t0: s = t - t0.
inline CellCubic BuildCellCubic(const float corners[8], const int cell[3], const Vector4& origin,
                                const Vector4& dir, float t0) {
    const float u = (origin.x + t0 * dir.x) - float(cell[0]);
    const float v = (origin.y + t0 * dir.y) - float(cell[1]);
    const float w = (origin.z + t0 * dir.z) - float(cell[2]);
    return BuildCellCubic(corners, u, v, w, dir.x, dir.y, dir.z);
}

// ---------------------------------------------------------------------------------------------
// Pixel loop

// Channel clamp of the stored colour: not below 1 (NaN included) gives 1, not above 0 gives 0.
inline float ClampChannel(float value) {
    if (!(value < 1.f)) return 1.f;
    if (!(value > 0.f)) return 0.f;
    return value;
}

// One worker's share of the image: columns threadIndex, threadIndex + threadCount, ... of every
// row. Does nothing for an image without pixels.
template <class Tracer>
void RenderPixels(const KernelState& state, Tracer& tracer, const VRImage& image, int threadCount,
                  int threadIndex) {
    float* const pixels = image.pixels;
    if (!pixels) return;
    const int width = image.width, height = image.height;
    const int windowX = image.windowX, windowY = image.windowY;
    for (int row = 0; row < height; ++row) {
        float* const rowPixels = pixels + std::size_t(row) * std::size_t(width) * 4;
        const float py = float(windowY + row) + 0.5f;
        for (int column = threadIndex; column < width; column += threadCount) {
            // Ray through the pixel centre; a miss stays transparent.
            PixelRay ray;
            state.SetUpPixelRay(float(windowX + column) + 0.5f, py, ray);
            Vector4 colour(0.f, 0.f, 0.f, 0.f);
            if (ray.tFar > ray.tNear) colour = tracer(ray);
            float* const out = rowPixels + std::size_t(column) * 4;
            out[0] = ClampChannel(colour.x);
            out[1] = ClampChannel(colour.y);
            out[2] = ClampChannel(colour.z);
            out[3] = ClampChannel(colour.w);
        }
    }
}

// What RenderImage hands its workers.
template <class Tracer>
struct RenderJob {
    const KernelState* state;
    const Tracer* tracer;
    const VRImage* image;
};

// WorkerFunction wrapper of RenderPixels; userData is a RenderJob<Tracer>.
template <class Tracer>
void RenderPixelsWorker(int threadCount, int threadIndex, void* userData) {
    const RenderJob<Tracer>& job = *static_cast<const RenderJob<Tracer>*>(userData);
    Tracer tracer = *job.tracer;  // this worker's own copy
    RenderPixels(*job.state, tracer, *job.image, threadCount, threadIndex);
}

// Binds the ray set-up of param into state and renders every pixel of image with tracer on all
// processors (or on threadCount threads when it is positive); returns when the image is complete.
// Does nothing when image or param is null.
template <class Tracer>
void RenderImage(KernelState& state, VRImage* image, const VRSceneParam* param,
                 const Tracer& tracer, int threadCount = 0) {
    if (!image || !param) return;
    state.BindSceneParam(*param);
    RenderJob<Tracer> job{&state, &tracer, image};
    if (threadCount > 0)
        RunOnProcessors(threadCount, &RenderPixelsWorker<Tracer>, &job);
    else
        RunOnAllProcessors(&RenderPixelsWorker<Tracer>, &job);
}
