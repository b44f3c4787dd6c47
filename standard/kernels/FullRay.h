// One ray of full volume rendering, written once for the CPU kernel (FullVR.cpp) and for
// KestrelCUDA's back ends: classification through the transfer-function table, opacity
// correction, shading and front-to-back compositing of the samples at tNear, tNear + d, ...; the
// macro-cell walk of the empty-space skipping variant; and the pre-integrated variant, which
// composites the segments between consecutive samples through a table of (front, back) values.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "BasicLightParam.h"
#include "KestrelExport.h"
#include "Lut1D.h"
#include "TFEmptySpace.h"
#include "Vector.h"
#include "kernels/CellWalk.h"
#include "kernels/OpacityCorrection.h"
#include "kernels/Shading.h"
#include "kernels/VoxelAccess.h"

// Early ray termination: no sample is taken once the accumulated opacity reaches this.
constexpr float kFullOpaque = 0.98f;
// Samples a host ray classifies before it composites them (see StepAlongInGroups).
constexpr int kSampleGroup = 8;
// A sampled macro cell must be longer than this along the ray (physical units) to get samples.
constexpr float kMinCellSegment = 0.001f;

// How samples are shaded; decided once per frame.
enum class ShadeMode { kNone, kBlinnPhong, kIllustrative };

// Front-to-back accumulation of premultiplied colour.
struct FullAccumulator {
    Vector4 colour{0.f, 0.f, 0.f, 0.f};

    KESTREL_HOST_DEVICE bool Opaque() const { return !(colour.w < kFullOpaque); }

    // The share of the pixel that a next contribution of opacity alpha takes: (1 - A.a) alpha.
    KESTREL_HOST_DEVICE float Weight(float alpha) const { return (1.f - colour.w) * alpha; }

    // c.rgb premultiplied by c.a; A.rgb += (1 - A.a) c.rgb; A.a += (1 - A.a) c.a (old A.a).
    KESTREL_HOST_DEVICE void Add(const float rgb[3], float alpha) {
        const float remaining = 1.f - colour.w;
        colour.x += remaining * (rgb[0] * alpha);
        colour.y += remaining * (rgb[1] * alpha);
        colour.z += remaining * (rgb[2] * alpha);
        colour.w += remaining * alpha;
    }
};

// The transfer-function table of a frame: entries floor(x) and floor(x) + 1 interpolated at table
// position x, entry 0 below the table (and for NaN), the last entry above it.
struct FullClassifier {
    const Vector4* table = nullptr;  // the entries, not owned (device memory on the device)
    float last = 0.f;                // N - 1, the largest table position
    TableMapping mapping;            // scalar value -> table position

    KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE Vector4 Classify(float v) const {
        const float x = mapping.Position(v);
        if (!(x > 0.f)) return table[0];
        if (!(x < last)) return table[int(last)];
        const int i = int(x);
        const float f = x - float(i);
        const Vector4& a = table[i];
        const Vector4& b = table[i + 1];
        // c = (1 - f) entry i + f entry i + 1
        return Vector4((1.f - f) * a.x + f * b.x, (1.f - f) * a.y + f * b.y,
                       (1.f - f) * a.z + f * b.z, (1.f - f) * a.w + f * b.w);
    }
};

// The pre-integrated table of a frame: entry (f, b), f and b in 0 .. resolution - 1, is the
// premultiplied RGBA of a segment whose value runs linearly from table position f to table
// position b, stored at entries[f * resolution + b]. Between entries the lookup interpolates
// bilinearly; positions are clamped into the table, as classification clamps.
struct PreintegratedLookup {
    const Vector4* entries = nullptr;  // resolution^2 entries, not owned (device memory there)
    int resolution = 0;
    TableMapping mapping;  // scalar value -> table position, 0 .. resolution - 1

    KESTREL_HOST_DEVICE float Position(float v) const {
        const float x = mapping.Position(v);
        const float last = float(resolution - 1);
        if (!(x > 0.f)) return 0.f;
        return x < last ? x : last;
    }

    KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE Vector4 Lookup(float front, float back) const {
        const float x = Position(front), y = Position(back);
        const int i = x < float(resolution - 1) ? int(x) : resolution - 2;
        const int j = y < float(resolution - 1) ? int(y) : resolution - 2;
        const float fx = x - float(i), fy = y - float(j);
        const Vector4* const row = entries + i * resolution + j;
        const Vector4 &a = row[0], &b = row[1], &c = row[resolution], &d = row[resolution + 1];
        const float wa = (1.f - fx) * (1.f - fy), wb = (1.f - fx) * fy, wc = fx * (1.f - fy),
                    wd = fx * fy;
        return Vector4(
            wa * a.x + wb * b.x + wc * c.x + wd * d.x, wa * a.y + wb * b.y + wc * c.y + wd * d.y,
            wa * a.z + wb * b.z + wc * c.z + wd * d.z, wa * a.w + wb * b.w + wc * c.w + wd * d.w);
    }
};

// The technique's values of one frame.
struct FullSettings {
    FullClassifier lut;
    float exponent = 1.f;        // sampleDistance / stdSampleDistance (opacity correction)
    OpacityCorrection opacity;   // the correction's table for exponent (built when it is not 1)
    float sampleDistance = 1.f;  // physical units along the ray
    ShadeMode mode = ShadeMode::kNone;
    BoundLight light;              // light, material, background
    TFRangeTest emptySpace;        // grid variant: the visibility test of a cell's range
    PreintegratedLookup segments;  // pre-integrated variant: the segment table
    bool jitter = false;           // rays start PixelStartFraction(their pixel) d in (GPU kernel)
};

// The settings of a frame from the kernel's light and members, and its table when `lut` is not
// null (table pointers on the host; a device back end replaces them by its copies).
inline FullSettings BindFullSettings(const Lut1D* lut, const BasicLightParam& light, bool shade,
                                     float sampleDistance, float stdSampleDistance) {
    FullSettings settings;
    if (lut != nullptr) {
        settings.lut.table = lut->data;
        settings.lut.last = float(lut->sampleCount - 1);
        settings.lut.mapping = TableMapping(lut->sampleCount, lut->minPos, lut->maxPos);
    }
    settings.exponent = sampleDistance / stdSampleDistance;
    if (settings.exponent != 1.f) settings.opacity.Build(settings.exponent);
    settings.sampleDistance = sampleDistance;
    settings.light.Bind(light);
    settings.mode = !shade                      ? ShadeMode::kNone
                    : light.illustrativeShading ? ShadeMode::kIllustrative
                                                : ShadeMode::kBlinnPhong;
    return settings;
}

// act(std::integral_constant<ShadeMode, mode>) for the frame's mode, so that each mode gets its
// own tracer.
template <class Act>
void WithShadeMode(ShadeMode mode, Act&& act) {
    switch (mode) {
        case ShadeMode::kNone:
            act(std::integral_constant<ShadeMode, ShadeMode::kNone>());
            break;
        case ShadeMode::kBlinnPhong:
            act(std::integral_constant<ShadeMode, ShadeMode::kBlinnPhong>());
            break;
        case ShadeMode::kIllustrative:
            act(std::integral_constant<ShadeMode, ShadeMode::kIllustrative>());
            break;
    }
}

// What shading needs of a ray: its direction and the halfway vector of the frame's light for it.
struct RayView {
    Vector4 dir;  // physical, unit, away from the viewer
    Halfway halfway;
    KESTREL_HOST_DEVICE RayView(const BoundLight& light, const Vector4& d)
        : dir(d), halfway(light, d) {}
};

// Shades the colour rgb of the sample at p (voxel coordinates) seen along view.dir: two-sided
// Blinn-Phong, lit when the light and the viewer are on the same side (L.N and N.D of one sign,
// whichever way the gradient points), or the illustrative style.
template <ShadeMode kMode, class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE void ShadeFullSample(const Voxels& voxels,
                                                               const BoundLight& light,
                                                               const Vector4& p,
                                                               const RayView& view, CellMemo& memo,
                                                               float rgb[3]) {
    if (kMode == ShadeMode::kNone) return;
    const Vector4 normal = ComputeNormalFrom(voxels, p, memo);
    const Vector4& dir = view.dir;
    if (kMode == ShadeMode::kIllustrative) {
        ShadeIllustrative(rgb, normal, dir, light);
    } else {
        const float b = normal.x * dir.x + normal.y * dir.y + normal.z * dir.z;
        ShadeBlinnPhong(rgb, normal, view.halfway, b, light);
    }
}

// Opacity correction for the step: a' = 1 - (1 - a)^(sampleDistance / std distance), through
// the frame's table. At the standard distance the power is 1: the same value, no lookup.
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE float CorrectedOpacity(const FullSettings& settings,
                                                                 float a) {
    return !(a < 1.f)                 ? 1.f
           : settings.exponent == 1.f ? 1.f - (1.f - a)
                                      : settings.opacity.Apply(a);
}

// Corrects, shades and composites the sample at p (voxel coordinates) of classified colour c;
// memo: the ray's last cells.
template <ShadeMode kMode, class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE void CompositeColour(const Voxels& voxels,
                                                               const FullSettings& settings,
                                                               const Vector4& p, const Vector4& c,
                                                               const RayView& view, CellMemo& memo,
                                                               FullAccumulator& accumulator) {
    // A transparent sample adds nothing: skip its correction and shading.
    if (c.w == 0.f) return;
    const float alpha = CorrectedOpacity(settings, c.w);
    float rgb[3] = {c.x, c.y, c.z};
    ShadeFullSample<kMode>(voxels, settings.light, p, view, memo, rgb);
    accumulator.Add(rgb, alpha);
}

// Blinn-Phong of the m <= kLanes samples at points[0 .. m - 1] of colours rgb, the arithmetic of
// ShadeFullSample lane by lane: the differences are read sample by sample (they go through the
// ray's memo), then the normals and the lighting of all lanes at once, which the compiler turns
// into vector instructions. rgb[c] holds channel c of the kLanes lanes; lanes m and above take a
// harmless normal.
template <int kLanes = kSampleGroup, class Voxels>
KESTREL_ALWAYS_INLINE void ShadeGroupBlinnPhong(const Voxels& voxels, const BoundLight& light,
                                                const Vector4* points, int m, const RayView& view,
                                                CellMemo& memo, float* const rgb[3]) {
    alignas(16) float g[3][kLanes];
    for (int j = 0; j < kLanes; ++j) {
        float d[3] = {1.f, 0.f, 0.f};
        if (j < m) ComputeDifferencesFrom(voxels, points[j], memo, d);
        for (int a = 0; a < 3; ++a)
            g[a][j] = d[a];
    }
    const float* const L = light.direction;
    const Halfway& H = view.halfway;
    const Vector4& D = view.dir;
    alignas(16) float h[kLanes], weight[kLanes];
    alignas(16) int lit[kLanes];
    for (int j = 0; j < kLanes; ++j) {
        float nx = g[0][j] / voxels.spacing[0], ny = g[1][j] / voxels.spacing[1],
              nz = g[2][j] / voxels.spacing[2];
        const float inverseLength = 1.f / std::sqrt(nx * nx + ny * ny + nz * nz);
        nx *= inverseLength;
        ny *= inverseLength;
        nz *= inverseLength;
        const float b = nx * D.x + ny * D.y + nz * D.z;
        const float l = L[0] * nx + L[1] * ny + L[2] * nz;
        lit[j] = l * b > 0.f;
        weight[j] = std::abs(l);
        h[j] = std::abs(H.x * nx + H.y * ny + H.z * nz);
    }
    alignas(16) float highlight[kLanes];
    if (light.wholePower != 0) {
        alignas(16) float square[kLanes];
        for (int j = 0; j < kLanes; ++j) {
            highlight[j] = 1.f;
            square[j] = h[j];
        }
        for (int n = light.wholePower;;) {
            if (n & 1)
                for (int j = 0; j < kLanes; ++j)
                    highlight[j] *= square[j];
            n >>= 1;
            if (n == 0) break;
            for (int j = 0; j < kLanes; ++j)
                square[j] *= square[j];
        }
    } else {
        for (int j = 0; j < kLanes; ++j)
            highlight[j] = h[j] > light.specularCutoff ? std::pow(h[j], light.power) : 0.f;
    }
    for (int c = 0; c < 3; ++c)
        for (int j = 0; j < kLanes; ++j) {
            const float k =
                lit[j] ? light.ambient[c] + light.diffuse[c] * weight[j] : light.ambient[c];
            const float s =
                lit[j] && h[j] > light.specularCutoff ? light.specular[c] * highlight[j] : 0.f;
            rgb[c][j] = rgb[c][j] * k + s;
        }
}

// CompositeColour of samples 0 .. n - 1 in order while the ray is not opaque, with the same
// arithmetic: the corrected opacities and the opacity they accumulate to come first (a short
// serial chain), which tells how many samples the ray takes before it turns opaque; then the
// shading of the visible ones among those, all at once; the colours are added last. Unshaded, the
// samples go one by one.
template <ShadeMode kMode, class Voxels>
KESTREL_ALWAYS_INLINE void CompositeGroup(const Voxels& voxels, const FullSettings& settings,
                                          const Vector4* points, const Vector4* colours, int n,
                                          const RayView& view, CellMemo& memo,
                                          FullAccumulator& accumulator) {
    if (kMode == ShadeMode::kNone) {
        // Nothing to shade: the samples one by one, in order.
        for (int i = 0; i < n && !accumulator.Opaque(); ++i)
            CompositeColour<kMode>(voxels, settings, points[i], colours[i], view, memo,
                                   accumulator);
        return;
    }
    float alpha[kSampleGroup];
    int visible[kSampleGroup];
    int m = 0;
    float opacity = accumulator.colour.w;
    for (int i = 0; i < n && opacity < kFullOpaque; ++i) {
        const float a = colours[i].w;
        if (a == 0.f) continue;  // transparent: adds nothing
        alpha[m] = CorrectedOpacity(settings, a);
        opacity += (1.f - opacity) * alpha[m];
        visible[m++] = i;
    }
    if (m == 0) return;
    alignas(16) float rgb[3][kSampleGroup] = {};
    Vector4 at[kSampleGroup];
    for (int j = 0; j < m; ++j) {
        const Vector4& c = colours[visible[j]];
        rgb[0][j] = c.x;
        rgb[1][j] = c.y;
        rgb[2][j] = c.z;
        at[j] = points[visible[j]];
    }
    if (kMode == ShadeMode::kBlinnPhong) {
        float* const channels[3] = {rgb[0], rgb[1], rgb[2]};
        ShadeGroupBlinnPhong(voxels, settings.light, at, m, view, memo, channels);
    } else {
        for (int j = 0; j < m; ++j) {
            float one[3] = {rgb[0][j], rgb[1][j], rgb[2][j]};
            ShadeFullSample<kMode>(voxels, settings.light, at[j], view, memo, one);
            for (int c = 0; c < 3; ++c)
                rgb[c][j] = one[c];
        }
    }
    for (int j = 0; j < m; ++j) {
        const float one[3] = {rgb[0][j], rgb[1][j], rgb[2][j]};
        accumulator.Add(one, alpha[j]);
    }
}

// The classified colour of the sample at p.
template <class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE Vector4 ClassifySample(const Voxels& voxels,
                                                                 const FullSettings& settings,
                                                                 const Vector4& p, CellMemo& memo) {
    Vector4 clamped = p;
    return settings.lut.Classify(SampleTrilinearFrom(voxels, clamped, memo));
}

// A pre-integrated segment whose share of the pixel, (1 - A) a, exceeds this is shaded at two
// points, the others at one. A lower share buys less error for more time: at 1 % the error of the
// default full render stays just above half the post-classified one on the semi-transparent
// phantom, at 0.75 % it is 0.47 of it for about 2 % more time.
constexpr float kTwoPointShare = 0.0075f;

// Shades the colour rgb of the pre-integrated segment from p (voxel coordinates) to p + step, whose
// share of the pixel is `share`. Shading changes along a ray faster than the segment's colour does
// (the normals of noisy data tilt from voxel to voxel): one normal per segment samples it no finer
// than the post-classified kernel does. So a segment that adds visibly to the pixel takes the mean
// of its shading at a quarter and at three quarters of the way, which halves the shaded error at
// the default distance; a faint one is shaded at its middle.
template <ShadeMode kMode, class Voxels>
KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE void ShadeSegment(const Voxels& voxels,
                                                            const BoundLight& light,
                                                            const Vector4& p, const Vector4& step,
                                                            const RayView& view, CellMemo& memo,
                                                            float share, float rgb[3]) {
    if (kMode == ShadeMode::kNone) return;
    const auto at = [&](float f) {
        return Vector4(p.x + f * step.x, p.y + f * step.y, p.z + f * step.z, 1.f);
    };
    if (!(share > kTwoPointShare)) {
        ShadeFullSample<kMode>(voxels, light, at(0.5f), view, memo, rgb);
        return;
    }
    float farHalf[3] = {rgb[0], rgb[1], rgb[2]};
    ShadeFullSample<kMode>(voxels, light, at(0.25f), view, memo, rgb);
    ShadeFullSample<kMode>(voxels, light, at(0.75f), view, memo, farHalf);
    for (int c = 0; c < 3; ++c)
        rgb[c] = 0.5f * (rgb[c] + farHalf[c]);
}

// The start offset of window pixel (x, y) as a fraction of the sample distance, in [0, 1): a
// fixed integer hash of the pixel (the two coordinates mixed, then a 32-bit avalanche finaliser),
// so that neighbouring rays start at unrelated depths and the same pixel always starts at the
// same one. The top 24 bits make the fraction exact in float.
KESTREL_HOST_DEVICE inline float PixelStartFraction(int x, int y) {
    uint32_t h = uint32_t(x) * 0x9E3779B1u ^ (uint32_t(y) + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return float(h >> 8) * (1.f / 16777216.f);
}

// The start offset (physical units) of the ray through window pixel (x, y): its pixel's fraction
// of the sample distance when the settings ask for jitter, else 0.
KESTREL_HOST_DEVICE inline float PixelStartOffset(const FullSettings& settings, int x, int y) {
    return settings.jitter ? PixelStartFraction(x, y) * settings.sampleDistance : 0.f;
}

// visit(p) at t_k = start + k d, k = 0, 1, ..., while t_k < end and the ray is not opaque, with
// p = o + v t_k. Each sample's place is computed from its index: adding d and v d step after step
// lets the rounding of every addition pile up, and over the thousands of steps of a long ray at a
// small distance the samples drift by a good part of a voxel.
template <class Visit>
KESTREL_HOST_DEVICE inline void StepAlong(const PixelRay& ray, float start, float end, float d,
                                          const FullAccumulator& accumulator, Visit&& visit) {
    const Vector4& o = ray.originVoxel;
    const Vector4& v = ray.dirVoxel;
    float t = start;
    for (int64_t k = 1; t < end && !accumulator.Opaque(); ++k) {
        visit(Vector4(o.x + v.x * t, o.y + v.y * t, o.z + v.z * t, 1.f));
        const float next = start + float(k) * d;
        if (!(next > t)) break;  // a step too small to advance t would never end
        t = next;
    }
}

// StepAlong on the host, in groups of kSampleGroup samples: first value(p) of a group's samples
// (reads, interpolation, classification: independent of each other, so the processor overlaps
// them), then composite(points, values, n) of the group, which composites in order while the ray
// is not opaque. The same samples and values as StepAlong's; a group may classify a few samples
// past the point where the ray turns opaque.
template <class Value, class Composite>
inline void StepAlongInGroups(const PixelRay& ray, float start, float end, float d,
                              const FullAccumulator& accumulator, Value&& value,
                              Composite&& composite) {
    const Vector4& o = ray.originVoxel;
    const Vector4& v = ray.dirVoxel;
    float t = start;
    int64_t k = 1;
    bool stuck = false;  // a step too small to advance t: the last sample was taken
    while (t < end && !stuck && !accumulator.Opaque()) {
        Vector4 points[kSampleGroup];
        decltype(value(points[0])) values[kSampleGroup];
        int n = 0;
        while (n < kSampleGroup && t < end) {
            points[n++] = Vector4(o.x + v.x * t, o.y + v.y * t, o.z + v.z * t, 1.f);
            const float next = start + float(k++) * d;
            if (!(next > t)) {
                stuck = true;
                break;
            }
            t = next;
        }
        for (int i = 0; i < n; ++i)
            values[i] = value(points[i]);
        composite(points, values, n);
    }
}

// The colour of a ray that meets the box: every sample from tNear on, or (kSkipping) only the
// samples in macro cells whose value range the table makes visible, the spacing restarting at the
// entry of every sampled cell. Grid: gridCellSize, gridCellCount, gridStride, GridCell (see
// WalkMacroCells). A startOffset (physical units, in [0, d)) moves the first sample of the ray, and
// of every sampled cell, that far in: the per-pixel jitter that turns banding into noise.
template <bool kSkipping, ShadeMode kMode, class Grid, class Voxels>
KESTREL_HOST_DEVICE inline Vector4 TraceFullRay(const Grid& grid, const Voxels& voxels,
                                                const FullSettings& settings, const PixelRay& ray,
                                                float startOffset = 0.f) {
    FullAccumulator accumulator;
    CellMemo memo;
    const RayView view(settings.light, ray.dirPhysical);
    auto step = [&](float from, float to) {
#ifdef __CUDA_ARCH__
        // A device thread has no out-of-order core to overlap samples in: one by one.
        StepAlong(ray, from, to, settings.sampleDistance, accumulator, [&](const Vector4& p) {
            CompositeColour<kMode>(voxels, settings, p, ClassifySample(voxels, settings, p, memo),
                                   view, memo, accumulator);
        });
#else
        StepAlongInGroups(
            ray, from, to, settings.sampleDistance, accumulator,
            [&](const Vector4& p) { return ClassifySample(voxels, settings, p, memo); },
            [&](const Vector4* points, const Vector4* colours, int n) {
                CompositeGroup<kMode>(voxels, settings, points, colours, n, view, memo,
                                      accumulator);
            });
#endif
    };
    if (!kSkipping) {
        step(ray.tNear + startOffset, ray.tFar);
        return accumulator.colour;
    }
    const TFRangeTest& emptySpace = settings.emptySpace;
    WalkMacroCells(
        grid, ray,
        [&emptySpace](const float* pair) { return emptySpace.RangeIsVisible(pair[0], pair[1]); },
        [&](const float*, float t, float exit) {
            if (exit > t + kMinCellSegment) step(t + startOffset, exit);
            return accumulator.Opaque();
        });
    return accumulator.colour;
}

// The pre-integrated colour of a ray that meets the box. The samples lie where TraceFullRay
// (without skipping) takes them, at t = tNear, tNear + d, ... while t < tFar, plus one more at
// the end of the last step: each sample at t is the front of the segment [t, t + d], whose back
// is the next sample, so a ray composites the same steps as the post-classified one. A segment's
// premultiplied colour comes from the table; shaded, its colour C / a is lit as ShadeSegment
// says, then composited with a. A startOffset (physical units, in [0, d)) moves the first sample
// that far in.
template <ShadeMode kMode, class Voxels>
KESTREL_HOST_DEVICE inline Vector4 TracePreintegratedRay(const Voxels& voxels,
                                                         const FullSettings& settings,
                                                         const PixelRay& ray,
                                                         float startOffset = 0.f) {
    FullAccumulator accumulator;
    const Vector4& v = ray.dirVoxel;
    const float d = settings.sampleDistance;
    const Vector4 step(v.x * d, v.y * d, v.z * d, 0.f);
    bool first = true;
    float front = 0.f;
    CellMemo memo;
    const RayView view(settings.light, ray.dirPhysical);
    StepAlong(ray, ray.tNear + startOffset, ray.tFar, d, accumulator, [&](const Vector4& p) {
        if (first) {
            Vector4 clamped = p;
            front = SampleTrilinearFrom(voxels, clamped, memo);
            first = false;
        }
        Vector4 next(p.x + step.x, p.y + step.y, p.z + step.z, 1.f);
        const float back = SampleTrilinearFrom(voxels, next, memo);
        const Vector4 segment = settings.segments.Lookup(front, back);
        front = back;
        if (!(segment.w > 0.f)) return;
        const float inverse = 1.f / segment.w;
        float rgb[3] = {segment.x * inverse, segment.y * inverse, segment.z * inverse};
        ShadeSegment<kMode>(voxels, settings.light, p, step, view, memo,
                            accumulator.Weight(segment.w), rgb);
        accumulator.Add(rgb, segment.w);
    });
    return accumulator.colour;
}
