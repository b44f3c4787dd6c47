// Maximum-intensity projection: exact per-cell maxima of the trilinear
// interpolant, with corner and macro-cell skipping.
#include "MIPVR.h"

#include <cmath>

#include "CoherentVolume.h"
#include "GridPartition.h"
#include "MIPRayCasterParam.h"
#include "VRImage.h"
#include "VRSceneParam.h"
#include "kernels/CubicMaximum.h"
#include "kernels/KernelFrame.h"

// The per-ray routines are flattened: every helper they call (corner fetch,
// cell walk, cell cubic, cubic maximum) is inlined into one loop body. Measured
// on the phantom benchmark: about 10% less processor time per frame than
// leaving the inlining to the compiler, with bit-identical images.
#define KESTREL_FLATTEN __attribute__((flatten))

namespace {

// ---------------------------------------------------------------------------------------------
// Cell corner fetch

// Corners of a voxel cell through the volume's own read path (any block size,
// any block array). Corner (a, b, c) is corners[a + 2b + 4c].
struct GenericCorners {
    const KernelState* state;

    bool Bind(const KernelState* s) {
        state = s;
        return true;
    }
    void Fetch(int cx, int cy, int cz, float corners[8]) const {
        state->FetchCellCorners(cx, cy, cz, corners);
    }

    using Value = float;  // what Read delivers

    // The walk's position; this fetcher keeps none.
    struct Cursor {};
    void Place(const int[3], Cursor&) const {}
    void Step(const int[3], int, int, Cursor&) const {}
    void Read(const int cell[3], const Cursor&, float corners[8]) const {
        Fetch(cell[0], cell[1], cell[2], corners);
    }
};

// Corners read straight from the blocks of sample type T, for power-of-two
// block sizes: block and local index by shift and mask; a cell inside one
// block (the common case) costs one block look-up and eight loads from one
// base pointer, a uniform block none.
template <typename T>
struct BlockCorners {
    const TBlock<T>* blocks;
    int dimMax[3];    // dims - 1
    int shift[3];     // log2 of the block size
    int mask[3];      // block size - 1
    int blockNum[2];  // blocks along x and y

    static int Log2(int size) {
        int s = 0;
        while ((1 << s) < size)
            ++s;
        return (1 << s) == size ? s : -1;
    }

    // False when the volume's blocks are not TBlock<T> or not power-of-two.
    bool Bind(const KernelState* s) {
        const CoherentVolume* v = s->volume;
        auto* array = dynamic_cast<const TBlockArray<T>*>(v->blockArray);
        if (!array) return false;
        blocks = array->blocks;
        for (int a = 0; a < 3; ++a) {
            dimMax[a] = s->dims[a] - 1;
            shift[a] = Log2(v->blockSize[a]);
            if (shift[a] < 0) return false;
            mask[a] = v->blockSize[a] - 1;
        }
        blockNum[0] = v->blockNum[0];
        blockNum[1] = v->blockNum[1];
        return true;
    }

    static int Clamp(int i, int hi) { return i < 0 ? 0 : (i > hi ? hi : i); }

    using Value = T;  // Read delivers the samples unconverted

    // One voxel at indices inside the volume, as V.
    template <typename V>
    V Voxel(int x, int y, int z) const {
        const TBlock<T>& block =
            blocks[(x >> shift[0]) +
                   blockNum[0] * ((y >> shift[1]) + blockNum[1] * (z >> shift[2]))];
        if (block.data == nullptr) return static_cast<V>(block.minValue);
        return static_cast<V>(
            block.data[(x & mask[0]) + std::ptrdiff_t(y & mask[1]) * block.rowPitch +
                       std::ptrdiff_t(z & mask[2]) * block.slicePitch]);
    }

    template <typename V>
    void Fetch(int cx, int cy, int cz, V corners[8]) const {
        const int x0 = Clamp(cx, dimMax[0]), x1 = Clamp(cx + 1, dimMax[0]);
        const int y0 = Clamp(cy, dimMax[1]), y1 = Clamp(cy + 1, dimMax[1]);
        const int z0 = Clamp(cz, dimMax[2]), z1 = Clamp(cz + 1, dimMax[2]);
        const int bx = x0 >> shift[0], by = y0 >> shift[1], bz = z0 >> shift[2];
        if ((x1 >> shift[0]) != bx || (y1 >> shift[1]) != by || (z1 >> shift[2]) != bz) {
            // The cell straddles blocks: voxel by voxel.
            const int x[2] = {x0, x1}, y[2] = {y0, y1}, z[2] = {z0, z1};
            for (int c = 0; c < 8; ++c)
                corners[c] = Voxel<V>(x[c & 1], y[(c >> 1) & 1], z[c >> 2]);
            return;
        }
        const TBlock<T>& block = blocks[bx + blockNum[0] * (by + blockNum[1] * bz)];
        if (block.data == nullptr) {
            // uniform block: every corner is its single value
            const V value = static_cast<V>(block.minValue);
            for (int c = 0; c < 8; ++c)
                corners[c] = value;
            return;
        }
        const std::ptrdiff_t rowPitch = block.rowPitch, slicePitch = block.slicePitch;
        const T* p =
            block.data + (x0 & mask[0]) + (y0 & mask[1]) * rowPitch + (z0 & mask[2]) * slicePitch;
        // Offsets of the upper corners; zero where the index was clamped back.
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

    // The walk's position inside one block, so that entering the next cell is
    // one add to a pointer. A cell is direct when it needs no clamping
    // (0 <= c <= dims - 2 per axis) and lies inside one block (local index
    // <= block extent - 2); other cells go through Fetch.
    struct Cursor {
        const T* base = nullptr;              // voxel (c_x, c_y, c_z) in the block's buffer
        std::ptrdiff_t pitch[3] = {1, 0, 0};  // elements per step along x, y, z in the block
        int local[3] = {0, 0, 0};             // cell index inside the block
        int limit[3] = {0, 0, 0};             // largest local index of a direct cell
        T uniformValue = T();                 // the block's value when it keeps no buffer
        bool direct = false;                  // the cell is read through base
        bool uniform = false;                 // the block is uniform
    };

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

    template <typename V>
    void Read(const int cell[3], const Cursor& c, V corners[8]) const {
        if (!c.direct) {
            Fetch(cell[0], cell[1], cell[2], corners);
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
};

// ---------------------------------------------------------------------------------------------
// Per-ray routines

// Integer division rounding towards minus infinity (g > 0).
inline int FloorDiv(int i, int g) {
    return i >= 0 ? i / g : -((-i + g - 1) / g);
}

// The frame's trilinear sampler reading through a corner fetcher.
template <class Corners>
struct CornerVoxels {
    int dims[3];
    const Corners* corners;
    void FetchCellCorners(int i, int j, int k, float v[8]) const { corners->Fetch(i, j, k, v); }
};

// A macro cell a ray may gain from: its grid maximum and the ray segment
// [t, exit] the macro walk assigns to it.
struct MacroSegment {
    float maximum;
    float t;
    float exit;
};
// Macro cells listed per ray before visiting (a ray crosses at most the sum
// of the grid's three cell counts plus two; 29 + 29 + 29 for 256^3).
constexpr int kMacroListSize = 192;

template <class Corners, bool kSkipping>
struct MipTracer {
    const KernelState* state;
    Corners corners;
    float greyScale;   // 1 / windowWidth
    float greyOffset;  // 0.5 - windowCenter / windowWidth

    CornerVoxels<Corners> VoxelsOf(const Corners& c) const {
        return {{state->dims[0], state->dims[1], state->dims[2]}, &c};
    }

    // One visited cell over [t, tExit]: raise `maximum` by the cell cubic's
    // maximum, unless no corner exceeds it (a trilinear interpolant never
    // exceeds its largest corner).
    // The corners arrive as samples (V = T): their largest is found before
    // conversion, which is exact for 8- and 16-bit samples and monotonic for
    // 32-bit ones, so the test gives what the test on floats gives.
    template <typename V>
    static void ProcessCell(const V raw[8], const int cell[3], const PixelRay& ray, float t,
                            float tExit, float& maximum) {
        const V m01 = raw[0] > raw[1] ? raw[0] : raw[1], m23 = raw[2] > raw[3] ? raw[2] : raw[3];
        const V m45 = raw[4] > raw[5] ? raw[4] : raw[5], m67 = raw[6] > raw[7] ? raw[6] : raw[7];
        const V m03 = m01 > m23 ? m01 : m23, m47 = m45 > m67 ? m45 : m67;
        if (!(static_cast<float>(m03 > m47 ? m03 : m47) > maximum))
            return;  // skip: no corner above the maximum
        float v[8];
        for (int c = 0; c < 8; ++c)
            v[c] = static_cast<float>(raw[c]);
        const CellCubic f = BuildCellCubic(v, cell, ray.originVoxel, ray.dirVoxel, t);
        const float s1 = tExit - t;
        if (CubicStaysBelow(f.a, f.b, f.c, f.d, s1, maximum))
            return;  // skip: the cubic cannot raise the maximum
        const float cellMaximum = CubicMaximum(f.a, f.b, f.c, f.d, 0.0f, s1);
        if (cellMaximum > maximum) maximum = cellMaximum;
    }

    // The voxel cells from t (< end) to `end`: the whole ray, or its part in
    // one macro cell (the walk then restarts at the macro cell's entry).
    void WalkCells(const PixelRay& ray, float t, float end, float& maximum) const {
        CellWalk walk;
        walk.Init(ray.originVoxel, ray.dirVoxel, t, ray.tFar);
        typename Corners::Cursor cursor;
        corners.Place(walk.cell, cursor);
        for (;;) {
            const float tExit = walk.Exit(end);
            typename Corners::Value raw[8];
            corners.Read(walk.cell, cursor, raw);
            ProcessCell(raw, walk.cell, ray, t, tExit, maximum);
            if (!(tExit < end)) return;
            // enter next cell
            const int axis = walk.NextAxis();
            walk.Advance();
            corners.Step(walk.cell, axis, walk.step[axis], cursor);
            t = tExit;
        }
    }

    // Maximum along the ray from its entry sample and every cell it crosses.
    KESTREL_FLATTEN float TraceMIPRay(const PixelRay& ray) const {
        Vector4 entry(ray.originVoxel.x + ray.tNear * ray.dirVoxel.x,
                      ray.originVoxel.y + ray.tNear * ray.dirVoxel.y,
                      ray.originVoxel.z + ray.tNear * ray.dirVoxel.z, 1.0f);
        float maximum = SampleTrilinearFrom(VoxelsOf(corners), entry);
        WalkCells(ray, ray.tNear, ray.tFar, maximum);
        return maximum;
    }

    // Two-level walk: macro cells of the min/max grid outside, voxel cells
    // inside the macro cells whose maximum exceeds the running maximum.
    KESTREL_FLATTEN float TraceMIPRaySkipping(const PixelRay& ray) const {
        const float o[3] = {ray.originVoxel.x, ray.originVoxel.y, ray.originVoxel.z};
        const float d[3] = {ray.dirVoxel.x, ray.dirVoxel.y, ray.dirVoxel.z};
        const float tNear = ray.tNear, tFar = ray.tFar;
        Vector4 entry(o[0] + tNear * d[0], o[1] + tNear * d[1], o[2] + tNear * d[2], 1.0f);
        float maximum = SampleTrilinearFrom(VoxelsOf(corners), entry);

        // Macro walk set-up. Floor division, so that a ray entering a cropping
        // box that reaches below voxel 0 starts in macro cell -1 (read clamped
        // to cell 0), whose far face really lies ahead of the entry point;
        // truncation towards zero would put it in cell 0 and restart the walk
        // behind tNear, outside the box.
        int macro[3], macroStep[3];
        float macroNext[3], macroDelta[3];
        for (int a = 0; a < 3; ++a) {
            const int g = state->gridCellSize[a];
            const float q = o[a] + tNear * d[a];
            if (d[a] == 0.0f) {
                macro[a] = FloorDiv(int(std::ceil(q)) - 1, g);
                macroStep[a] = 0;
                macroDelta[a] = 0.0f;
                macroNext[a] = tFar;
            } else if (d[a] < 0.0f) {
                macro[a] = FloorDiv(int(std::ceil(q)) - 1, g);
                macroStep[a] = -1;
                macroDelta[a] = -float(g) / d[a];
                macroNext[a] = (float(g * macro[a]) - o[a]) / d[a];
            } else {
                macro[a] = FloorDiv(int(std::floor(q)), g);
                macroStep[a] = 1;
                macroDelta[a] = float(g) / d[a];
                macroNext[a] = (float(g * (macro[a] + 1)) - o[a]) / d[a];
            }
        }

        float t = tNear;
        if (!(tNear < tFar)) return maximum;
        // The macro cell's (min, max) pair; moved by one stride per step while
        // the indices stay on the grid, looked up with clamping otherwise.
        const float* pair = state->GridCell(macro[0], macro[1], macro[2]);
        // The ray's maximum does not depend on the order in which its macro
        // cells are visited, and each visited macro cell restarts the voxel
        // walk at its own entry. So the macro cells that may contribute are
        // first listed (in walk order, with the segment the walk gives them)
        // and then visited from the highest grid maximum down: the running
        // maximum climbs early and the rest of the list is skipped as soon
        // as no listed maximum exceeds it. A ray with more candidates than
        // the list holds is visited in walk order.
        MacroSegment list[kMacroListSize];
        int count = 0;
        const float entryMaximum = maximum;
        for (;;) {
            const float macroMaximum = pair[1];
            // Exit of the macro cell, then advance the macro walk (x only if
            // strictly first, else y if before z, else z).
            const int axis = macroNext[0] < macroNext[1] && macroNext[0] < macroNext[2]
                                 ? 0
                                 : (macroNext[1] < macroNext[2] ? 1 : 2);
            float exit = macroNext[axis];
            const int from = macro[axis];
            macro[axis] += macroStep[axis];
            macroNext[axis] += macroDelta[axis];
            const unsigned last = unsigned(state->gridCellCount[axis] - 1);
            if (unsigned(from) <= last && unsigned(macro[axis]) <= last)
                pair += macroStep[axis] * state->gridStride[axis];
            else
                pair = state->GridCell(macro[0], macro[1], macro[2]);

            if (macroMaximum > entryMaximum) {
                if (tFar < exit) exit = tFar;
                if (t < exit) {
                    if (count < kMacroListSize) {
                        list[count++] = {macroMaximum, t, exit};
                    } else if (macroMaximum > maximum) {
                        WalkCells(ray, t, exit, maximum);  // list full: visit now
                    }
                }
            }  // else skip: nothing in the macro cell exceeds the maximum
            if (!(tFar > exit)) break;
            t = exit;
        }
        // Highest listed macro maximum first, while it exceeds the maximum.
        for (;;) {
            int best = -1;
            float bestMaximum = maximum;
            for (int i = 0; i < count; ++i) {
                if (list[i].maximum > bestMaximum) {
                    bestMaximum = list[i].maximum;
                    best = i;
                }
            }
            if (best < 0) break;  // no listed macro cell exceeds the maximum
            const MacroSegment segment = list[best];
            list[best] = list[--count];
            WalkCells(ray, segment.t, segment.exit, maximum);
        }
        return maximum;
    }

    Vector4 operator()(const PixelRay& ray) const {
        const float maximum = kSkipping ? TraceMIPRaySkipping(ray) : TraceMIPRay(ray);
        // grey = (maximum - windowCenter) / windowWidth + 0.5
        const float grey = maximum * greyScale + greyOffset;
        return Vector4(grey, grey, grey, 1.0f);
    }
};

template <class Corners, bool kSkipping>
bool RenderWith(KernelState& state, const MIPRayCasterParam& param, VRImage* image,
                const VRSceneParam* sceneParam) {
    MipTracer<Corners, kSkipping> tracer;
    tracer.state = &state;
    if (!tracer.corners.Bind(&state)) return false;
    tracer.greyScale = 1.0f / param.windowWidth;
    const float quotient = param.windowCenter / param.windowWidth;
    tracer.greyOffset = float(0.5 - double(quotient));
    RenderImage(state, image, sceneParam, tracer);
    return true;
}

// Chooses the corner fetch for the volume's sample type once per frame.
template <bool kSkipping>
void Render(KernelState& state, const MIPRayCasterParam& param, VRImage* image,
            const VRSceneParam* sceneParam) {
    const DataType type = state.volume->dataType;
    bool done = false;
    if (type.isFloat) {
        done = RenderWith<BlockCorners<float>, kSkipping>(state, param, image, sceneParam);
    } else if (type.isSigned) {
        if (type.bitCount == 8)
            done =
                RenderWith<BlockCorners<signed char>, kSkipping>(state, param, image, sceneParam);
        else if (type.bitCount == 16)
            done = RenderWith<BlockCorners<short>, kSkipping>(state, param, image, sceneParam);
        else if (type.bitCount == 32)
            done = RenderWith<BlockCorners<int>, kSkipping>(state, param, image, sceneParam);
    } else {
        if (type.bitCount == 8)
            done =
                RenderWith<BlockCorners<unsigned char>, kSkipping>(state, param, image, sceneParam);
        else if (type.bitCount == 16)
            done = RenderWith<BlockCorners<unsigned short>, kSkipping>(state, param, image,
                                                                       sceneParam);
        else if (type.bitCount == 32)
            done =
                RenderWith<BlockCorners<unsigned int>, kSkipping>(state, param, image, sceneParam);
    }
    if (!done) RenderWith<GenericCorners, kSkipping>(state, param, image, sceneParam);
}

bool HasVoxels(const KernelState& state) {
    return state.dims[0] > 0 && state.dims[1] > 0 && state.dims[2] > 0;
}

}  // namespace

MIPVR::MIPVR()
    : volume(nullptr),
      gridPartition(nullptr),
      mipParam(nullptr),
      vrSceneParam(nullptr),
      image(nullptr) {}

void MIPVR::RenderWithoutGridPartition() {
    if (!volume || !mipParam || !vrSceneParam || !image) return;
    KernelState state;
    if (!state.BindVolume(volume) || !HasVoxels(state)) return;
    Render<false>(state, *mipParam, image, vrSceneParam);
}

void MIPVR::RenderWithGridPartition() {
    if (!volume || !gridPartition || !mipParam || !vrSceneParam || !image) return;
    KernelState state;
    if (!state.BindVolume(volume) || !HasVoxels(state)) return;
    if (!state.BindGridPartition(gridPartition) || !gridPartition->minMax) return;
    for (int a = 0; a < 3; ++a)
        if (state.gridCellSize[a] < 1) return;  // a grid that was never built
    Render<true>(state, *mipParam, image, vrSceneParam);
}
