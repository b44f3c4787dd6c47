// The CPU full kernel's rays that leave the fixed sample lattice behind: the per-pixel start
// offset (jitter) and the pre-integrated ray over a lattice shared by both entry points, with the
// macro-cell walk of empty-space skipping.
#pragma once

#include <cmath>
#include <cstdint>

#include "Matrix4x4.h"
#include "PreintegratedLut.h"
#include "kernels/FullRay.h"

// The kernels' view of a built segment table (entries null before the first table).
inline PreintegratedLookup BindSegments(const PreintegratedLut& segments) {
    PreintegratedLookup lookup;
    lookup.entries = segments.table;
    lookup.resolution = segments.resolution;
    lookup.mapping = TableMapping(segments.resolution, segments.minPos, segments.maxPos);
    return lookup;
}

// The segments of one pre-integrated ray. Segment k spans [t_k, t_k + d], t_k = start + k d, and
// is composited once, in order, by the first Cover call whose interval it overlaps; its front
// value is the value at t_k, its back value the value at t_k + d (kept as the next front), its
// colour the table's entry, shaded as ShadeSegment says (the colour C / a is shaded as a
// sample's colour, then composited with opacity a). Covering [tNear, tFar] once composites what
// covering only the visible macro cells does, up to the segments that lie wholly in cells the
// transfer function leaves transparent: those add nothing.
template <ShadeMode kMode, class Voxels>
struct SegmentMarch {
    const Voxels& voxels;
    const FullSettings& settings;
    const PixelRay& ray;
    float start;  // t_0, physical units along the ray
    FullAccumulator accumulator;
    CellMemo memo;
    RayView view;          // the ray's direction and halfway vector
    Vector4 step;          // one segment along the ray, voxel coordinates
    int64_t next = 0;      // first segment not yet composited
    int64_t frontAt = -1;  // segment whose front value `front` holds; -1: none
    float front = 0.f;

    SegmentMarch(const Voxels& v, const FullSettings& s, const PixelRay& r, float t0)
        : voxels(v),
          settings(s),
          ray(r),
          start(t0),
          view(s.light, r.dirPhysical),
          step(r.dirVoxel.x * s.sampleDistance, r.dirVoxel.y * s.sampleDistance,
               r.dirVoxel.z * s.sampleDistance, 0.f) {}

    // The point at t_k, voxel coordinates.
    Vector4 PositionAt(int64_t k) const {
        const float t = start + float(k) * settings.sampleDistance;
        const Vector4& o = ray.originVoxel;
        const Vector4& v = ray.dirVoxel;
        return Vector4(o.x + v.x * t, o.y + v.y * t, o.z + v.z * t, 1.f);
    }

    // The value at t_k.
    KESTREL_ALWAYS_INLINE float ValueAt(int64_t k) {
        Vector4 p = PositionAt(k);
        return SampleTrilinearFrom(voxels, p, memo);
    }

    // Composites segment k of table colour `segment`.
    void Composite(int64_t k, const Vector4& segment) {
        if (!(segment.w > 0.f)) return;
        const float inverse = 1.f / segment.w;
        float rgb[3] = {segment.x * inverse, segment.y * inverse, segment.z * inverse};
        ShadeSegment<kMode>(voxels, settings.light, PositionAt(k), step, view, memo,
                            accumulator.Weight(segment.w), rgb);
        accumulator.Add(rgb, segment.w);
    }

    // Composite of segments k .. k + n - 1 (table colours `segments`) in order while the ray is
    // not opaque, with the same arithmetic, for Blinn-Phong: the opacity the segments accumulate
    // comes first, which gives each visible segment its share of the pixel and tells where the
    // ray turns opaque; then the shading points of all those segments (ShadeSegment's one or two)
    // are lit at once; the colours are added last. Returns the number of segments taken.
    int CompositeShadedGroup(int64_t k, const Vector4* segments, int n) {
        constexpr int kPoints = 2 * kSampleGroup;
        int taken = 0, visible = 0, points = 0;
        int index[kSampleGroup];      // visible segment -> its segment in the group
        bool twoPoint[kSampleGroup];  // shaded at a quarter and three quarters
        Vector4 at[kPoints];
        alignas(16) float rgb[3][kPoints] = {};
        float opacity = accumulator.colour.w;
        for (; taken < n && opacity < kFullOpaque; ++taken) {
            const Vector4& segment = segments[taken];
            if (!(segment.w > 0.f)) continue;
            const float share = (1.f - opacity) * segment.w;  // FullAccumulator::Weight
            opacity += share;
            const float inverse = 1.f / segment.w;
            const float colour[3] = {segment.x * inverse, segment.y * inverse, segment.z * inverse};
            const Vector4 p = PositionAt(k + taken);
            const auto point = [&](float f) {
                for (int c = 0; c < 3; ++c)
                    rgb[c][points] = colour[c];
                at[points++] = Vector4(p.x + f * step.x, p.y + f * step.y, p.z + f * step.z, 1.f);
            };
            twoPoint[visible] = share > kTwoPointShare;
            if (twoPoint[visible]) {
                point(0.25f);
                point(0.75f);
            } else {
                point(0.5f);
            }
            index[visible++] = taken;
        }
        if (points == 0) return taken;
        float* const channels[3] = {rgb[0], rgb[1], rgb[2]};
        if (points <= kSampleGroup)
            ShadeGroupBlinnPhong<kSampleGroup>(voxels, settings.light, at, points, view, memo,
                                               channels);
        else
            ShadeGroupBlinnPhong<kPoints>(voxels, settings.light, at, points, view, memo, channels);
        for (int v = 0, q = 0; v < visible; ++v) {
            float colour[3] = {rgb[0][q], rgb[1][q], rgb[2][q]};
            if (twoPoint[v]) {
                for (int c = 0; c < 3; ++c)
                    colour[c] = 0.5f * (colour[c] + rgb[c][q + 1]);
            }
            q += twoPoint[v] ? 2 : 1;
            accumulator.Add(colour, segments[index[v]].w);
        }
        return taken;
    }

    // Composites the segments not yet done that overlap [entry, exit); true once the ray is
    // opaque. As the post-classified rays do, it takes the segments in groups of kSampleGroup:
    // first the back values and table colours of a group (independent of each other, so the
    // processor overlaps them), then the shading and compositing in order.
    bool Cover(float entry, float exit) {
        const float d = settings.sampleDistance;
        // first segment with t_k + d > entry: k = floor((entry - start) / d)
        const float firstIndex = std::floor((entry - start) / d);
        int64_t k = firstIndex > float(next) ? int64_t(firstIndex) : next;
        while (start + float(k) * d < exit && !accumulator.Opaque()) {
            if (frontAt != k) front = ValueAt(k);
            float values[kSampleGroup + 1];
            values[0] = front;
            int n = 0;
            while (n < kSampleGroup && start + float(k + n) * d < exit)
                ++n;
            for (int i = 1; i <= n; ++i)
                values[i] = ValueAt(k + i);
            Vector4 segments[kSampleGroup];
            for (int i = 0; i < n; ++i)
                segments[i] = settings.segments.Lookup(values[i], values[i + 1]);
            int done = 0;
            if (kMode == ShadeMode::kBlinnPhong) {
                done = CompositeShadedGroup(k, segments, n);
            } else {
                while (done < n && !accumulator.Opaque()) {
                    Composite(k + done, segments[done]);
                    ++done;
                }
            }
            k += done;
            front = values[done];
            frontAt = k;
        }
        if (k > next) next = k;
        return accumulator.Opaque();
    }
};

// The pre-integrated colour of a ray that meets the box, its segments starting at
// tNear + startFraction d: every segment (kSkipping false) or those that overlap a macro cell
// whose value range the transfer function makes visible. Grid: as for TraceFullRay.
template <bool kSkipping, ShadeMode kMode, class Grid, class Voxels>
inline Vector4 TracePreintegratedSegments(const Grid& grid, const Voxels& voxels,
                                          const FullSettings& settings, const PixelRay& ray,
                                          float startFraction) {
    const float d = settings.sampleDistance;
    // More segments than fit an exact float index would never end; such a ray stays empty.
    if (!((ray.tFar - ray.tNear) / d < 16777216.f)) return Vector4(0.f, 0.f, 0.f, 0.f);
    SegmentMarch<kMode, Voxels> march(voxels, settings, ray, ray.tNear + startFraction * d);
    if (!kSkipping) {
        march.Cover(ray.tNear, ray.tFar);
        return march.accumulator.colour;
    }
    const TFRangeTest& emptySpace = settings.emptySpace;
    WalkMacroCells(
        grid, ray,
        [&emptySpace](const float* pair) { return emptySpace.RangeIsVisible(pair[0], pair[1]); },
        [&](const float*, float t, float exit) { return march.Cover(t, exit); });
    return march.accumulator.colour;
}

// The start fraction of each ray of a frame: the window pixel the ray runs through (a point of
// the ray mapped back through the inverse of windowToPhysical) hashed by PixelStartFraction.
struct RayStartFractions {
    Matrix4x4 physicalToWindow;
    Vector4 eye;  // the frame's centre of projection, physical coordinates

    explicit RayStartFractions(const Matrix4x4& windowToPhysical)
        : physicalToWindow(windowToPhysical) {
        physicalToWindow.Inverse();
        const float* const m = windowToPhysical.m;
        // eye = (m8, m9, m10) / m11: the point the window direction (0, 0, 1, 0) maps to
        eye = Vector4(m[8] / m[11], m[9] / m[11], m[10] / m[11], 1.f);
    }

    float operator()(const PixelRay& ray) const {
        // a point past the middle of the clipped ray, away from the eye (where the projection
        // degenerates)
        const float t = 0.5f * (ray.tNear + ray.tFar) + 1.f;
        const Vector4& d = ray.dirPhysical;
        const Vector4 w =
            physicalToWindow * Vector4(eye.x + d.x * t, eye.y + d.y * t, eye.z + d.z * t, 1.f);
        const float x = std::floor(w.x / w.w), y = std::floor(w.y / w.w);
        if (!(std::fabs(x) < 1e9f && std::fabs(y) < 1e9f)) return 0.f;  // NaN or far off
        return PixelStartFraction(int(x), int(y));
    }
};
