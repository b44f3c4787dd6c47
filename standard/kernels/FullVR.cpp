// Full volume rendering: classification through the transfer-function table, opacity correction,
// optional shading and front-to-back compositing along every ray, with empty-space skipping over
// the min/max grid.
#include "FullVR.h"

#include <cmath>

#include "BasicLightParam.h"
#include "Lut1D.h"
#include "TFEmptySpace.h"
#include "kernels/KernelFrame.h"
#include "kernels/Shading.h"

namespace {

// Early ray termination: no sample is taken once the accumulated opacity reaches this.
constexpr float kOpaque = 0.98f;
// A sampled macro cell must be longer than this along the ray (physical units) to get samples.
constexpr float kMinCellSegment = 0.001f;

// How samples are shaded; decided once per frame.
enum class ShadeMode { kNone, kBlinnPhong, kIllustrative };

// The technique's values of one frame.
struct FullParams {
    const Vector4* table;    // the transfer-function entries, not owned
    float last;              // N - 1, the largest table position
    TableMapping mapping;    // scalar value -> table position
    float exponent;          // sampleDistance / stdSampleDistance (opacity correction)
    float sampleDistance;    // physical units along the ray
    ShadeMode mode;          // kNone when shading is off
    BoundLight light;        // light, material, background
    TFRangeTest emptySpace;  // grid variant: the visibility test of a cell's range

    FullParams(const FullVR& kernel, const Lut1D& lut, const BasicLightParam& lightParam)
        : table(lut.data),
          last(float(lut.sampleCount - 1)),
          mapping(lut.sampleCount, lut.minPos, lut.maxPos),
          exponent(kernel.sampleDistance / kernel.stdSampleDistance),
          sampleDistance(kernel.sampleDistance) {
        light.Bind(lightParam);
        mode = !kernel.shade                    ? ShadeMode::kNone
               : lightParam.illustrativeShading ? ShadeMode::kIllustrative
                                                : ShadeMode::kBlinnPhong;
    }
};

// Front-to-back accumulation of premultiplied colour.
struct Accumulator {
    Vector4 colour{0.f, 0.f, 0.f, 0.f};

    bool Opaque() const { return !(colour.w < kOpaque); }

    // c.rgb premultiplied by c.a; A.rgb += (1 - A.a) c.rgb; A.a += (1 - A.a) c.a (old A.a).
    void Add(const float rgb[3], float alpha) {
        const float remaining = 1.f - colour.w;
        colour.x += remaining * (rgb[0] * alpha);
        colour.y += remaining * (rgb[1] * alpha);
        colour.z += remaining * (rgb[2] * alpha);
        colour.w += remaining * alpha;
    }
};

template <class Voxels, bool kSkipping, ShadeMode kMode>
struct FullTracer {
    const KernelState* state;
    Voxels voxels;
    FullParams params;

    FullTracer(const KernelState& s, const Voxels& v, const FullParams& p)
        : state(&s), voxels(v), params(p) {}

    // The table colour of value v: entries floor(x) and floor(x) + 1 interpolated at table
    // position x, entry 0 below the table (and for NaN), the last entry above it.
    Vector4 Classify(float v) const {
        const float x = params.mapping.Position(v);
        const Vector4* const table = params.table;
        if (!(x > 0.f)) return table[0];
        if (!(x < params.last)) return table[int(params.last)];
        const int i = int(x);
        const float f = x - float(i);
        const Vector4& a = table[i];
        const Vector4& b = table[i + 1];
        // c = (1 - f) entry i + f entry i + 1
        return Vector4((1.f - f) * a.x + f * b.x, (1.f - f) * a.y + f * b.y,
                       (1.f - f) * a.z + f * b.z, (1.f - f) * a.w + f * b.w);
    }

    // Classifies, corrects, shades and composites the sample at p (voxel coordinates).
    void Sample(const Vector4& p, const Vector4& dir, Accumulator& accumulator) const {
        Vector4 clamped = p;
        const Vector4 c = Classify(voxels.SampleTrilinear(clamped));
        // A transparent sample adds nothing: skip its correction and shading.
        if (c.w == 0.f) return;
        // Opacity correction for the step: a' = 1 - (1 - a)^(sampleDistance / std distance).
        const float alpha = c.w < 1.f ? 1.f - std::pow(1.f - c.w, params.exponent) : 1.f;
        float rgb[3] = {c.x, c.y, c.z};
        if (kMode != ShadeMode::kNone) {
            const Vector4 normal = voxels.ComputeNormal(p);
            if (kMode == ShadeMode::kIllustrative) {
                ShadeIllustrative(rgb, normal, dir, params.light);
            } else {
                // Lit when the light and the viewer are on the same side: L.N and N.D of one
                // sign, whichever way the gradient points.
                const float b = normal.x * dir.x + normal.y * dir.y + normal.z * dir.z;
                ShadeBlinnPhong(rgb, normal, dir, b, params.light);
            }
        }
        accumulator.Add(rgb, alpha);
    }

    // Samples at t, t + d, ... while t < end and the ray is not opaque; P advances by steps.
    void SampleSegment(const PixelRay& ray, float t, float end, Accumulator& accumulator) const {
        const Vector4& o = ray.originVoxel;
        const Vector4& v = ray.dirVoxel;
        const float d = params.sampleDistance;
        Vector4 p(o.x + v.x * t, o.y + v.y * t, o.z + v.z * t, 1.f);
        const Vector4 step(v.x * d, v.y * d, v.z * d, 0.f);
        while (t < end && !accumulator.Opaque()) {
            Sample(p, ray.dirPhysical, accumulator);
            const float next = t + d;
            if (!(next > t)) break;  // a step too small to advance t would never end
            t = next;
            p += step;
        }
    }

    Vector4 operator()(const PixelRay& ray) const {
        Accumulator accumulator;
        if (!kSkipping) {
            SampleSegment(ray, ray.tNear, ray.tFar, accumulator);
            return accumulator.colour;
        }
        // Macro cells whose range is visible, each sampled from its own entry.
        const TFRangeTest& emptySpace = params.emptySpace;
        WalkMacroCells(
            *state, ray,
            [&emptySpace](const float* pair) {
                return emptySpace.RangeIsVisible(pair[0], pair[1]);
            },
            [&](const float*, float t, float exit) {
                if (exit > t + kMinCellSegment) SampleSegment(ray, t, exit, accumulator);
                return accumulator.Opaque();
            });
        return accumulator.colour;
    }
};

// The tracer of one shading mode, as the frame's entry helper takes it.
template <bool kSkipping, ShadeMode kMode>
struct TracerOf {
    template <class Voxels>
    using Type = FullTracer<Voxels, kSkipping, kMode>;
};

// Checks the technique's inputs, binds them and renders with the tracer of the frame's mode.
template <bool kSkipping>
void RenderFull(FullVR& kernel, const GridPartition* grid) {
    if (!kernel.lightParam || !kernel.lut) return;
    const Lut1D& lut = *kernel.lut;
    if (!lut.data || lut.sampleCount < 1 || !(kernel.sampleDistance > 0.f)) return;
    FullParams params(kernel, lut, *kernel.lightParam);
    if (kSkipping) {
        const TFEmptySpace* const sums = kernel.tfEmptySpace;
        if (!sums || !sums->alphaSum || sums->sampleCount < 1) return;
        params.emptySpace = TFRangeTest(*sums);
    }
    switch (params.mode) {
        case ShadeMode::kNone:
            RenderKernel<TracerOf<kSkipping, ShadeMode::kNone>::template Type>(
                kernel.volume, kSkipping, grid, kernel.vrSceneParam, kernel.image, params);
            break;
        case ShadeMode::kBlinnPhong:
            RenderKernel<TracerOf<kSkipping, ShadeMode::kBlinnPhong>::template Type>(
                kernel.volume, kSkipping, grid, kernel.vrSceneParam, kernel.image, params);
            break;
        case ShadeMode::kIllustrative:
            RenderKernel<TracerOf<kSkipping, ShadeMode::kIllustrative>::template Type>(
                kernel.volume, kSkipping, grid, kernel.vrSceneParam, kernel.image, params);
            break;
    }
}

}  // namespace

FullVR::FullVR()
    : volume(nullptr),
      tfEmptySpace(nullptr),
      gridPartition(nullptr),
      lut(nullptr),
      lightParam(nullptr),
      vrSceneParam(nullptr),
      image(nullptr),
      shade(true),
      sampleDistance(1.0f),
      stdSampleDistance(1.0f) {}

void FullVR::RenderWithoutGridPartition() {
    RenderFull<false>(*this, nullptr);
}

void FullVR::RenderWithGridPartition() {
    RenderFull<true>(*this, gridPartition);
}
