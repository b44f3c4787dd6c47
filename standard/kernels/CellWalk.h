// Walking a ray through the voxel cells and through the macro cells of a min/max grid, in ray
// order. Cell c of an axis is the interval [c, c + 1] of voxel coordinates; macro cell m with cell
// size g spans [g m, g (m + 1)] (shifted by the walk's offset, see MacroCellWalk).
#pragma once

#include <cmath>
#include <limits>

#include "KestrelExport.h"
#include "Vector.h"

// One pixel's ray: x(t) = originVoxel + t dirVoxel in voxel coordinates, t the distance from the
// eye in physical units; [tNear, tFar] is the part inside the cropping box (a miss when
// tFar < tNear, see KernelState::Hits).
struct PixelRay {
    Vector4 originVoxel;  // the eye in voxel coordinates, w = 1
    Vector4 dirVoxel;     // voxel-space step per unit of physical distance, w = 0
    Vector4 dirPhysical;  // unit direction in physical coordinates, away from the viewer, w = 0
    float tNear;          // entry into the cropping box, 0 when the eye is inside
    float tFar;           // exit from the cropping box
};

// r = M v for a column-major 4 x 4 matrix, summed in the order of Matrix4x4's operator*.
KESTREL_HOST_DEVICE inline Vector4 TransformColumn(const float m[16], const Vector4& v) {
    return Vector4(m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12] * v.w,
                   m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13] * v.w,
                   m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14] * v.w,
                   m[3] * v.x + m[7] * v.y + m[11] * v.z + m[15] * v.w);
}

// The ray through window position (px, py) for a frame's matrices (column-major), its eye (in
// physical and in voxel coordinates) and its cropping box (voxel space, x lo, x hi, y lo, ...):
// from the eye through the pixel's near-plane point, clipped to the box.
KESTREL_HOST_DEVICE inline void SetUpClippedRay(const float windowToPhysical[16],
                                                const float physicalToVoxel[16], const Vector4& eye,
                                                const Vector4& eyeVoxel,
                                                const float croppingBounds[6], float px, float py,
                                                PixelRay& ray) {
    // Near-plane point of the pixel in physical coordinates.
    Vector4 p = TransformColumn(windowToPhysical, Vector4(px, py, 0.f, 1.f));
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
    ray.dirVoxel = TransformColumn(physicalToVoxel, ray.dirPhysical);
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

// Walk over the voxel cells a ray crosses, in order. Ties between axes advance z before y before
// x, so a ray through an edge or corner visits the cells of the tie with zero-length segments. A
// zero direction component never advances its axis.
struct CellWalk {
    int cell[3];      // current cell per axis
    int step[3];      // +1, -1 or 0 per axis
    float tNext[3];   // absolute ray parameter at which the ray leaves the cell across each axis
    float tDelta[3];  // parameter distance between two planes of each axis (infinite for step 0)

    // Starts at q = origin + tStart dir; tEnd is the parameter at which the walk will stop.
    KESTREL_HOST_DEVICE void Init(const Vector4& origin, const Vector4& dir, float tStart,
                                  float tEnd) {
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
    KESTREL_HOST_DEVICE int NextAxis() const {
        if (tNext[0] < tNext[1] && tNext[0] < tNext[2]) return 0;
        return tNext[1] < tNext[2] ? 1 : 2;
    }

    // Parameter at which the ray leaves the current cell, capped at tEnd.
    KESTREL_HOST_DEVICE float Exit(float tEnd) const {
        const float e = tNext[NextAxis()];
        return tEnd < e ? tEnd : e;
    }

    // Enters the next cell; returns the axis that was stepped.
    KESTREL_HOST_DEVICE int Advance() {
        const int a = NextAxis();
        cell[a] += step[a];
        tNext[a] += tDelta[a];
        return a;
    }
};

// Integer division rounding towards minus infinity (divisor positive).
KESTREL_HOST_DEVICE inline int FloorDivide(int value, int divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

// Walk over the macro cells of a min/max grid along a ray, in order, with the stepping and tie
// rules of CellWalk. The entry cell is floor(q) / g moving up and (ceil(q) - 1) / g moving down or
// not at all (on a boundary plane: the cell below it, whose range includes the plane), with the
// division rounding down, so that an entry below voxel 0 (a cropping box reaching outside the
// volume) lies in cell -1, whose far face is ahead of it; read cells through a grid that clamps
// the indices (KernelState::GridCell).
struct MacroCellWalk : CellWalk {
    KESTREL_HOST_DEVICE void Init(const Vector4& origin, const Vector4& dir, float tStart,
                                  float tEnd, const int cellSize[3]) {
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

// Walks the voxel cells of `ray` from t to end (t <= end; the walk's planes are those of the whole
// ray), reading each cell's corners through the voxel access's cursor, and calls
//   visit(corners, cell, t, tExit)  -> bool: true ends the walk,
// with corners of the access's Value type. Returns true when visit ended the walk.
template <class Voxels, class Visit>
KESTREL_HOST_DEVICE inline bool WalkVoxelCells(const Voxels& voxels, const PixelRay& ray, float t,
                                               float end, Visit&& visit) {
    CellWalk walk;
    walk.Init(ray.originVoxel, ray.dirVoxel, t, ray.tFar);
    typename Voxels::Cursor cursor;
    voxels.Place(walk.cell, cursor);
    for (;;) {
        const float tExit = walk.Exit(end);
        typename Voxels::Value corners[8];
        voxels.Read(walk.cell, cursor, corners);
        if (visit(corners, walk.cell, t, tExit)) return true;
        if (!(tExit < end)) return false;
        // enter next cell
        const int axis = walk.Advance();
        voxels.Step(walk.cell, axis, walk.step[axis], cursor);
        t = tExit;
    }
}

// Walks the macro cells of a min/max grid along [ray.tNear, ray.tFar] in ray order. For each macro
// cell, process(pair) decides from its (min, max) pair whether it is visited; a visited cell with a
// non-empty segment gets visit(pair, t, exit), exit capped at tFar, which returns true to end the
// walk.
// Returns true when visit ended the walk. Grid provides gridCellSize[3], gridCellCount[3],
// gridStride[3] and GridCell(mx, my, mz) (clamped indices).
template <class Grid, class Process, class Visit>
KESTREL_HOST_DEVICE inline bool WalkMacroCells(const Grid& grid, const PixelRay& ray,
                                               Process&& process, Visit&& visit) {
    const float tFar = ray.tFar;
    float t = ray.tNear;
    if (!(t < tFar)) return false;
    MacroCellWalk walk;
    walk.Init(ray.originVoxel, ray.dirVoxel, t, tFar, grid.gridCellSize);
    // The cell's pair moves by one stride per step while the indices stay on the grid and is
    // looked up with clamping otherwise.
    const float* pair = grid.GridCell(walk.cell[0], walk.cell[1], walk.cell[2]);
    for (;;) {
        const float* const current = pair;
        const int axis = walk.NextAxis();
        float exit = walk.tNext[axis];
        const int from = walk.cell[axis];
        walk.Advance();
        const unsigned last = unsigned(grid.gridCellCount[axis] - 1);
        if (unsigned(from) <= last && unsigned(walk.cell[axis]) <= last)
            pair += walk.step[axis] * grid.gridStride[axis];
        else
            pair = grid.GridCell(walk.cell[0], walk.cell[1], walk.cell[2]);

        if (process(current)) {
            if (tFar < exit) exit = tFar;
            if (t < exit && visit(current, t, exit)) return true;
        }  // else skip the whole macro cell
        if (!(tFar > exit)) return false;
        t = exit;
    }
}
