// Reading a bricked volume in the kernels: clamped voxel fetch, cell corners, a walk cursor,
// trilinear sampling and the gradient normal, over one of two voxel accesses with the same
// interface, chosen once per frame by VisitVoxelAccess.
//
// A voxel access has members dims[3], spacing[3], a sample type Value and
//   float Voxel(int x, int y, int z) const;               // in-range indices
//   float FetchVoxel(int i, int j, int k) const;          // indices clamped
//   void FetchCellCorners(int cx, int cy, int cz, V corners[8]) const;   // indices clamped
//   void AccumulateRow(int x0, int x1, int y, int z, float& low, float& high) const;
//   Cursor; void Place(const int cell[3], Cursor&) const;                // walk cursor
//   void Step(const int cell[3], int axis, int step, Cursor&) const;
//   void Read(const int cell[3], const Cursor&, V corners[8]) const;
//   float SampleTrilinear(Vector4& p) const;  Vector4 ComputeNormal(const Vector4& p) const;
// Corner (a, b, c), a, b, c in {0, 1}, of cell (cx, cy, cz) is corners[a + 2b + 4c] = voxel
// (cx + a, cy + b, cz + c). VolumeSampler reads through CoherentVolume::GetValue and works for
// every volume; BlockVoxels<T> reads the blocks of sample type T directly (power-of-two block
// sizes), with identical values, about three times faster.
#pragma once

#include <cmath>
#include <cstddef>

#include "CoherentVolume.h"
#include "KestrelExport.h"
#include "Vector.h"
#include "volume/SampleTypes.h"

// Index clamped to [0, dim - 1]: the edge voxel stands for everything beyond it.
KESTREL_HOST_DEVICE inline int ClampIndex(int index, int dim) {
    const int upper = index < dim - 1 ? index : dim - 1;
    return upper > 0 ? upper : 0;
}

// Coordinate clamped to [0, upper]: not above 0 (NaN included) gives 0, not below upper gives
// upper.
KESTREL_HOST_DEVICE inline float ClampCoordinate(float value, float upper) {
    if (!(value > 0.f)) return 0.f;
    if (!(value < upper)) return upper;
    return value;
}

// The interpolant of a cell's corners (corner (a, b, c) at a + 2b + 4c) at fractions fx, fy, fz:
// c(b, c) = v(0, b, c) (1 - fx) + v(1, b, c) fx; then along y; then along z.
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE float Trilinear(const float v[8], float fx, float fy,
                                                          float fz) {
    const float c00 = v[0] * (1.f - fx) + v[1] * fx;
    const float c10 = v[2] * (1.f - fx) + v[3] * fx;
    const float c01 = v[4] * (1.f - fx) + v[5] * fx;
    const float c11 = v[6] * (1.f - fx) + v[7] * fx;
    const float c0 = c00 * (1.f - fy) + c10 * fy;
    const float c1 = c01 * (1.f - fy) + c11 * fy;
    return c0 * (1.f - fz) + c1 * fz;
}

// Trilinear of four interleaved channels, corner c's channel l at v[c][l]: out[l] is Trilinear of
// channel l, with the same arithmetic lane by lane (the four lanes go through the vector unit).
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE void TrilinearLanes(const float v[8][4], float fx,
                                                              float fy, float fz, float out[4]) {
    for (int l = 0; l < 4; ++l) {
        const float c00 = v[0][l] * (1.f - fx) + v[1][l] * fx;
        const float c10 = v[2][l] * (1.f - fx) + v[3][l] * fx;
        const float c01 = v[4][l] * (1.f - fx) + v[5][l] * fx;
        const float c11 = v[6][l] * (1.f - fx) + v[7][l] * fx;
        const float c0 = c00 * (1.f - fy) + c10 * fy;
        const float c1 = c01 * (1.f - fy) + c11 * fy;
        out[l] = c0 * (1.f - fz) + c1 * fz;
    }
}

// Trilinear interpolant at p (voxel coordinates). p.x, p.y, p.z are first clamped in place to the
// volume, so a position beyond it takes the value of the nearest point inside; on the last voxel
// plane the upper corners are that plane again (their weight is 0).
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE float SampleTrilinearFrom(const Voxels& voxels,
                                                                    Vector4& p) {
    p.x = ClampCoordinate(p.x, float(voxels.dims[0] - 1));
    p.y = ClampCoordinate(p.y, float(voxels.dims[1] - 1));
    p.z = ClampCoordinate(p.z, float(voxels.dims[2] - 1));
    const int i = int(p.x), j = int(p.y), k = int(p.z);
    float v[8];
    voxels.FetchCellCorners(i, j, k, v);
    return Trilinear(v, p.x - float(i), p.y - float(j), p.z - float(k));
}

// What a ray keeps of the cells it last read, so that its next samples in the same cell (several
// per cell at fine sample distances) skip the voxel reads: the corners of the sampled cell, and
// the central differences of the corners for the normal. Values and arithmetic stay the same.
struct CellMemo {
    int sampleCell[3] = {-1, -1, -1};    // cell whose corners `corners` holds; -1: none yet
    int gradientCell[3] = {-1, -1, -1};  // cell whose differences `differences` holds
    float corners[8] = {};
    float differences[8][4] = {};  // corner c: (d_x, d_y, d_z, 0)

    // Whether held = (i, j, k); if not, held becomes (i, j, k) and the caller refills.
    KESTREL_HOST_DEVICE static bool Keeps(int held[3], int i, int j, int k) {
        if (held[0] == i && held[1] == j && held[2] == k) return true;
        held[0] = i;
        held[1] = j;
        held[2] = k;
        return false;
    }
};

// SampleTrilinearFrom, the cell's corners read only when the cell differs from the memo's.
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE float SampleTrilinearFrom(const Voxels& voxels,
                                                                    Vector4& p, CellMemo& memo) {
    p.x = ClampCoordinate(p.x, float(voxels.dims[0] - 1));
    p.y = ClampCoordinate(p.y, float(voxels.dims[1] - 1));
    p.z = ClampCoordinate(p.z, float(voxels.dims[2] - 1));
    const int i = int(p.x), j = int(p.y), k = int(p.z);
    if (!CellMemo::Keeps(memo.sampleCell, i, j, k)) voxels.FetchCellCorners(i, j, k, memo.corners);
    return Trilinear(memo.corners, p.x - float(i), p.y - float(j), p.z - float(k));
}

// f(p + e_axis) - f(p - e_axis), the samples clamped as SampleTrilinear clamps them.
template <class Voxels>
KESTREL_HOST_DEVICE inline float CentralDifference(const Voxels& voxels, const Vector4& p,
                                                   int axis) {
    Vector4 plus = p;
    Vector4 minus = p;
    static_cast<float*>(plus)[axis] += 1.f;
    static_cast<float*>(minus)[axis] -= 1.f;
    const float forward = SampleTrilinearFrom(voxels, plus);
    return forward - SampleTrilinearFrom(voxels, minus);
}

// g / spacing, normalised, w = 0; a zero g gives non-finite components.
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE Vector4 NormalFromDifferences(const float g[3],
                                                                        const float spacing[3]) {
    const float nx = g[0] / spacing[0], ny = g[1] / spacing[1], nz = g[2] / spacing[2];
    const float inverseLength = 1.f / std::sqrt(nx * nx + ny * ny + nz * nz);
    return Vector4(nx * inverseLength, ny * inverseLength, nz * inverseLength, 0.f);
}

// Whether every axis keeps p at least one voxel from its faces, 1 <= p_a < dims_a - 2 (false for
// NaN): there none of the samples p +- e_a is clamped, and the cells around p, one further each
// way, exist.
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE bool InsideGradientMargin(const int dims[3],
                                                                    const Vector4& p) {
    return p.x >= 1.f && p.x < float(dims[0] - 2) && p.y >= 1.f && p.y < float(dims[1] - 2) &&
           p.z >= 1.f && p.z < float(dims[2] - 2);
}

// The three central differences of corner c (c = a + 2b + 4c as everywhere) of the cell whose first
// voxel is (i, j, k): d[c][axis] = v(corner + e_axis) - v(corner - e_axis), d[c][3] = 0.
// voxel(x, y, z) reads in-range indices.
template <class VoxelAt>
KESTREL_HOST_DEVICE inline void CornerDifferences(const VoxelAt& voxel, int i, int j, int k,
                                                  float d[8][4]) {
    for (int c = 0; c < 8; ++c) {
        const int x = i + (c & 1), y = j + ((c >> 1) & 1), z = k + (c >> 2);
        d[c][0] = voxel(x + 1, y, z) - voxel(x - 1, y, z);
        d[c][1] = voxel(x, y + 1, z) - voxel(x, y - 1, z);
        d[c][2] = voxel(x, y, z + 1) - voxel(x, y, z - 1);
        d[c][3] = 0.f;
    }
}

// CornerDifferences of the cell (i, j, k) through voxels.Voxel; accesses with a faster way of
// reading the neighbourhood overload this.
template <class Voxels>
KESTREL_HOST_DEVICE inline void ReadCornerDifferences(const Voxels& voxels, int i, int j, int k,
                                                      float d[8][4]) {
    CornerDifferences([&voxels](int x, int y, int z) { return voxels.Voxel(x, y, z); }, i, j, k, d);
}

// The central differences at p of two clamped samples per axis (near a face).
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_OUT_OF_LINE void ClampedDifferences(const Voxels& voxels,
                                                                const Vector4& p, float g[3]) {
    for (int a = 0; a < 3; ++a)
        g[a] = CentralDifference(voxels, p, a);
}

// Fills the memo's corner differences with those of cell (i, j, k).
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_OUT_OF_LINE void RefillDifferences(const Voxels& voxels, int i, int j,
                                                               int k, CellMemo& memo) {
    ReadCornerDifferences(voxels, i, j, k, memo.differences);
}

// The unnormalised gradient at p, g_a = f(p + e_a) - f(p - e_a) (voxel units, not halved). Near a
// face the two samples are clamped as SampleTrilinear clamps them; inside the margin, where
// nothing is clamped, g_a is computed in the equal form of the trilinear interpolant (at p's
// fractions) of the cell corners' differences v(c + e_a) - v(c - e_a): 32 voxel reads instead of
// 48, kept in the memo for the next sample in the cell, and a uniform neighbourhood gives exactly
// zero. The common case (inside the margin, the cell in the memo) is inlined into the sample
// loops; the reads are not.
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE void ComputeDifferencesFrom(const Voxels& voxels,
                                                                      const Vector4& p,
                                                                      CellMemo& memo, float g[3]) {
    if (!InsideGradientMargin(voxels.dims, p)) {
        ClampedDifferences(voxels, p, g);
        return;
    }
    const int i = int(p.x), j = int(p.y), k = int(p.z);
    if (!CellMemo::Keeps(memo.gradientCell, i, j, k)) RefillDifferences(voxels, i, j, k, memo);
    float interpolated[4];
    TrilinearLanes(memo.differences, p.x - float(i), p.y - float(j), p.z - float(k), interpolated);
    for (int a = 0; a < 3; ++a)
        g[a] = interpolated[a];
}

// Unit gradient direction at p in physical units, pointing to increasing values, w = 0: the
// differences of ComputeDifferencesFrom divided by the spacing, normalised. A zero gradient gives
// non-finite components.
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE Vector4 ComputeNormalFrom(const Voxels& voxels,
                                                                    const Vector4& p,
                                                                    CellMemo& memo) {
    float g[3];
    ComputeDifferencesFrom(voxels, p, memo, g);
    return NormalFromDifferences(g, voxels.spacing);
}

// The same for a single sample.
template <class Voxels>
KESTREL_HOST_DEVICE inline Vector4 ComputeNormalFrom(const Voxels& voxels, const Vector4& p) {
    CellMemo memo;
    return ComputeNormalFrom(voxels, p, memo);
}

// Folds v into a running range: low = v unless v > low, high = v unless high > v (so a NaN voxel
// is taken into both).
inline void AccumulateRange(float v, float& low, float& high) {
    if (!(v > low)) low = v;
    if (!(high > v)) high = v;
}

// The volume read through CoherentVolume::GetValue (any block size, any block array). Borrows the
// volume; reads only, from any number of threads.
struct VolumeSampler {
    CoherentVolume* volume = nullptr;    // not owned
    int dims[3] = {0, 0, 0};             // voxel counts, copied from the volume
    float spacing[3] = {1.f, 1.f, 1.f};  // voxel spacing in physical units, copied from the volume

    using Value = float;  // what FetchCellCorners and Read deliver
    struct Cursor {};     // this access keeps no walk position

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

    float Voxel(int x, int y, int z) const { return volume->GetValue(x, y, z); }

    void AccumulateRow(int x0, int x1, int y, int z, float& low, float& high) const {
        for (int x = x0; x <= x1; ++x)
            AccumulateRange(volume->GetValue(x, y, z), low, high);
    }

    float FetchVoxel(int i, int j, int k) const {
        return volume->GetValue(ClampIndex(i, dims[0]), ClampIndex(j, dims[1]),
                                ClampIndex(k, dims[2]));
    }

    void FetchCellCorners(int cx, int cy, int cz, float corners[8]) const {
        const int x[2] = {ClampIndex(cx, dims[0]), ClampIndex(cx + 1, dims[0])};
        const int y[2] = {ClampIndex(cy, dims[1]), ClampIndex(cy + 1, dims[1])};
        const int z[2] = {ClampIndex(cz, dims[2]), ClampIndex(cz + 1, dims[2])};
        for (int c = 0; c < 8; ++c)
            corners[c] = volume->GetValue(x[c & 1], y[(c >> 1) & 1], z[c >> 2]);
    }

    void Place(const int[3], Cursor&) const {}
    void Step(const int[3], int, int, Cursor&) const {}
    void Read(const int cell[3], const Cursor&, float corners[8]) const {
        FetchCellCorners(cell[0], cell[1], cell[2], corners);
    }

    float SampleTrilinear(Vector4& p) const { return SampleTrilinearFrom(*this, p); }
    Vector4 ComputeNormal(const Vector4& p) const { return ComputeNormalFrom(*this, p); }
};

// Direct reads from the blocks of a volume of sample type T whose block sizes are powers of two:
// block and in-block position by shifts and masks, a cell inside one block as eight loads from
// one base pointer, a uniform block without any load. Values equal GetValue's. Corner reads may
// deliver the samples unconverted (V = T), so that a caller can compare them before converting.
// Borrows the blocks; valid while the volume is not rebuilt.
template <typename T>
struct BlockVoxels {
    int dims[3] = {0, 0, 0};             // voxel counts
    float spacing[3] = {1.f, 1.f, 1.f};  // voxel spacing, physical units
    const TBlock<T>* blocks = nullptr;   // the volume's block array
    int dimMax[3] = {-1, -1, -1};        // dims - 1
    int shift[3] = {0, 0, 0};            // log2 of the block size per axis
    int mask[3] = {0, 0, 0};             // block size - 1 per axis
    int blockNum[2] = {0, 0};            // blocks along x and y

    using Value = T;

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
            dimMax[a] = dims[a] - 1;
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

    // Voxel at in-range indices, as V.
    template <typename V = float>
    V VoxelAs(int x, int y, int z) const {
        const TBlock<T>& block = BlockOf(x, y, z);
        if (!block.data) return static_cast<V>(block.minValue);
        return static_cast<V>(
            block.data[(x & mask[0]) + std::ptrdiff_t(y & mask[1]) * block.rowPitch +
                       std::ptrdiff_t(z & mask[2]) * block.slicePitch]);
    }
    float Voxel(int x, int y, int z) const { return VoxelAs<float>(x, y, z); }

    // The row piece inside each block by one pointer, a uniform block's piece by its one value.
    void AccumulateRow(int x0, int x1, int y, int z, float& low, float& high) const {
        for (int x = x0; x <= x1;) {
            const int blockLast = x | mask[0];
            const int last = blockLast < x1 ? blockLast : x1;
            const TBlock<T>& block = BlockOf(x, y, z);
            if (!block.data) {
                AccumulateRange(float(block.minValue), low, high);
            } else {
                const T* p = block.data + (x & mask[0]) +
                             std::ptrdiff_t(y & mask[1]) * block.rowPitch +
                             std::ptrdiff_t(z & mask[2]) * block.slicePitch;
                for (int n = last - x; n >= 0; --n, ++p)
                    AccumulateRange(float(*p), low, high);
            }
            x = last + 1;
        }
    }

    static int Clamp(int i, int hi) { return i < 0 ? 0 : (i > hi ? hi : i); }

    float FetchVoxel(int i, int j, int k) const {
        return Voxel(Clamp(i, dimMax[0]), Clamp(j, dimMax[1]), Clamp(k, dimMax[2]));
    }

    template <typename V>
    KESTREL_ALWAYS_INLINE void FetchCellCorners(int cx, int cy, int cz, V corners[8]) const {
        const int x0 = Clamp(cx, dimMax[0]), x1 = Clamp(cx + 1, dimMax[0]);
        const int y0 = Clamp(cy, dimMax[1]), y1 = Clamp(cy + 1, dimMax[1]);
        const int z0 = Clamp(cz, dimMax[2]), z1 = Clamp(cz + 1, dimMax[2]);
        const int bx = x0 >> shift[0], by = y0 >> shift[1], bz = z0 >> shift[2];
        if ((x1 >> shift[0]) != bx || (y1 >> shift[1]) != by || (z1 >> shift[2]) != bz) {
            // The cell straddles blocks: one look-up per corner.
            const int x[2] = {x0, x1}, y[2] = {y0, y1}, z[2] = {z0, z1};
            for (int c = 0; c < 8; ++c)
                corners[c] = VoxelAs<V>(x[c & 1], y[(c >> 1) & 1], z[c >> 2]);
            return;
        }
        const TBlock<T>& block = blocks[bx + blockNum[0] * (by + blockNum[1] * bz)];
        if (!block.data) {
            // Uniform block: every corner is its one value.
            const V value = static_cast<V>(block.minValue);
            for (int c = 0; c < 8; ++c)
                corners[c] = value;
            return;
        }
        const std::ptrdiff_t rowPitch = block.rowPitch, slicePitch = block.slicePitch;
        const T* const p =
            block.data + (x0 & mask[0]) + (y0 & mask[1]) * rowPitch + (z0 & mask[2]) * slicePitch;
        // Offsets of the upper corners; 0 where the index was clamped back.
        const std::ptrdiff_t dx = x1 - x0, dy = (y1 - y0) * rowPitch, dz = (z1 - z0) * slicePitch;
        corners[0] = static_cast<V>(p[0]);
        corners[1] = static_cast<V>(p[dx]);
        corners[2] = static_cast<V>(p[dy]);
        corners[3] = static_cast<V>(p[dx + dy]);
        corners[4] = static_cast<V>(p[dz]);
        corners[5] = static_cast<V>(p[dx + dz]);
        corners[6] = static_cast<V>(p[dy + dz]);
        corners[7] = static_cast<V>(p[dx + dy + dz]);
    }

    // A cell walk's position inside one block, so that entering the next cell is one add to a
    // pointer. A cell is direct when it needs no clamping (0 <= c <= dims - 2 per axis) and lies
    // inside one block (local index <= block extent - 2); other cells go through
    // FetchCellCorners.
    struct Cursor {
        const T* base = nullptr;              // voxel (c_x, c_y, c_z) in the block's buffer
        std::ptrdiff_t pitch[3] = {1, 0, 0};  // elements per step along x, y, z in the block
        int local[3] = {0, 0, 0};             // cell index inside the block
        int limit[3] = {0, 0, 0};             // largest local index of a direct cell
        T uniformValue = T();                 // the block's value when it keeps no buffer
        bool direct = false;                  // the cell is read through base
        bool uniform = false;                 // the block is uniform
    };

    // Puts the cursor on `cell`.
    void Place(const int cell[3], Cursor& c) const {
        c.direct = false;
        int b[3];
        for (int a = 0; a < 3; ++a) {
            if (unsigned(cell[a]) >= unsigned(dimMax[a])) return;  // clamping needed
            b[a] = cell[a] >> shift[a];
            c.local[a] = cell[a] & mask[a];
            const int start = b[a] << shift[a];
            const int extent =
                dimMax[a] + 1 - start < mask[a] + 1 ? dimMax[a] + 1 - start : mask[a] + 1;
            c.limit[a] = extent - 2;
            if (c.local[a] > c.limit[a]) return;  // the cell straddles two blocks
        }
        const TBlock<T>& block = blocks[b[0] + blockNum[0] * (b[1] + blockNum[1] * b[2])];
        c.direct = true;
        c.uniform = block.data == nullptr;
        c.uniformValue = block.minValue;
        c.pitch[0] = 1;
        c.pitch[1] = block.rowPitch;
        c.pitch[2] = block.slicePitch;
        c.base = c.uniform
                     ? nullptr
                     : block.data + c.local[0] + c.local[1] * c.pitch[1] + c.local[2] * c.pitch[2];
    }

    // The walk entered `cell` by `step` along `axis`.
    void Step(const int cell[3], int axis, int step, Cursor& c) const {
        if (c.direct) {
            const int next = c.local[axis] + step;
            if (unsigned(next) <= unsigned(c.limit[axis])) {
                c.local[axis] = next;
                if (!c.uniform) c.base += step * c.pitch[axis];
                return;
            }
        }
        Place(cell, c);
    }

    // The corners of the cell under the cursor.
    template <typename V>
    void Read(const int cell[3], const Cursor& c, V corners[8]) const {
        if (!c.direct) {
            FetchCellCorners(cell[0], cell[1], cell[2], corners);
            return;
        }
        if (c.uniform) {
            for (int i = 0; i < 8; ++i)
                corners[i] = static_cast<V>(c.uniformValue);
            return;
        }
        const T* p = c.base;
        const std::ptrdiff_t dy = c.pitch[1], dz = c.pitch[2];
        corners[0] = static_cast<V>(p[0]);
        corners[1] = static_cast<V>(p[1]);
        corners[2] = static_cast<V>(p[dy]);
        corners[3] = static_cast<V>(p[dy + 1]);
        corners[4] = static_cast<V>(p[dz]);
        corners[5] = static_cast<V>(p[dz + 1]);
        corners[6] = static_cast<V>(p[dy + dz]);
        corners[7] = static_cast<V>(p[dy + dz + 1]);
    }

    float SampleTrilinear(Vector4& p) const { return SampleTrilinearFrom(*this, p); }

    Vector4 ComputeNormal(const Vector4& p) const { return ComputeNormalFrom(*this, p); }

    // CornerDifferences of the cell (i, j, k) inside the gradient margin, read as twelve rows of
    // four voxels, x = i - 1 .. i + 2, each converted as one vector: around one pointer when the
    // neighbourhood lies in one stored block (most cells), one block look-up per row otherwise.
    void CornerDifferencesAt(int i, int j, int k, float d[8][4]) const {
        if (!NeighbourhoodInOneBlock(i, j, k)) {
            RowDifferences([=](int y, int z) { return RowAt(i, j + y, k + z); }, d);
            return;
        }
        const TBlock<T>& block = BlockOf(i, j, k);
        if (!block.data) {
            // All voxels equal: every difference is zero.
            for (int c = 0; c < 8; ++c)
                for (int a = 0; a < 4; ++a)
                    d[c][a] = 0.f;
            return;
        }
        const std::ptrdiff_t rowPitch = block.rowPitch, slicePitch = block.slicePitch;
        const T* const first = block.data + ((i - 1) & mask[0]) + (j & mask[1]) * rowPitch +
                               (k & mask[2]) * slicePitch;
        RowDifferences([=](int y, int z) { return RowOf(first + y * rowPitch + z * slicePitch); },
                       d);
    }

private:
    typedef float Row __attribute__((vector_size(16)));  // voxels x = i - 1 .. i + 2 of a row

    static Row RowOf(const T* r) { return Row{float(r[0]), float(r[1]), float(r[2]), float(r[3])}; }

    // Row (y, z) from x = i - 1, wherever its blocks lie (in-range indices): from one block, or
    // from the two that meet between x = i - 1 and x = i + 2.
    Row RowAt(int i, int y, int z) const {
        const int upper = (i + 2) >> shift[0];
        const BlockRow low = RowFrom(i - 1, y, z);
        if (((i - 1) >> shift[0]) == upper) return Row{low[0], low[1], low[2], low[3]};
        const int split = (upper << shift[0]) - (i - 1);  // voxels in the lower block: 1 .. 3
        const BlockRow high = RowFrom(i - 1 + split, y, z);
        float v[4];
        for (int n = 0; n < 4; ++n)
            v[n] = n < split ? low[n] : high[n - split];
        return Row{v[0], v[1], v[2], v[3]};
    }

    // Voxels x, x + 1, ... of a row within one block; a uniform block's row repeats its value.
    struct BlockRow {
        const T* start;
        int step;  // 1, or 0 for a uniform block
        float operator[](int n) const { return float(start[n * step]); }
    };
    BlockRow RowFrom(int x, int y, int z) const {
        const TBlock<T>& block = BlockOf(x, y, z);
        if (!block.data) return BlockRow{&block.minValue, 0};
        return BlockRow{block.data + (x & mask[0]) + std::ptrdiff_t(y & mask[1]) * block.rowPitch +
                            std::ptrdiff_t(z & mask[2]) * block.slicePitch,
                        1};
    }

    // Voxels i - 1 .. i + 2 of every axis in one block.
    bool NeighbourhoodInOneBlock(int i, int j, int k) const {
        const int cell[3] = {i, j, k};
        for (int a = 0; a < 3; ++a)
            if (((cell[a] - 1) >> shift[a]) != ((cell[a] + 2) >> shift[a])) return false;
        return true;
    }

    // CornerDifferences of the cell (i, j, k) from the rows row(y, z) at (j + y, k + z), y and z
    // in -1 .. 2.
    template <class RowReader>
    static void RowDifferences(const RowReader& row, float d[8][4]) {
        for (int c = 0; c < 2; ++c)
            for (int b = 0; b < 2; ++b) {
                const Row middle = row(b, c);
                const Row dy = row(b + 1, c) - row(b - 1, c);
                const Row dz = row(b, c + 1) - row(b, c - 1);
                for (int a = 0; a < 2; ++a) {
                    const int corner = a + 2 * b + 4 * c;
                    d[corner][0] = middle[a + 2] - middle[a];
                    d[corner][1] = dy[a + 1];
                    d[corner][2] = dz[a + 1];
                    d[corner][3] = 0.f;
                }
            }
    }
};

template <typename T>
inline void ReadCornerDifferences(const BlockVoxels<T>& voxels, int i, int j, int k,
                                  float d[8][4]) {
    voxels.CornerDifferencesAt(i, j, k, d);
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
    bool visited = false;
    if (sampler.volume) {
        kestrel_volume::VisitSampleType(sampler.volume->dataType, [&](auto tag) {
            BlockVoxels<typename decltype(tag)::type> voxels;
            if (!voxels.Bind(sampler)) return;
            visit(static_cast<const decltype(voxels)&>(voxels));
            visited = true;
        });
    }
    if (!visited) visit(sampler);
}
