// Full volume rendering: classification through the transfer-function table, opacity correction,
// optional shading and front-to-back compositing along every ray, with empty-space skipping over
// the min/max grid; optionally with a per-pixel start offset and pre-integrated segments.
#include "FullVR.h"

#include "BasicLightParam.h"
#include "Lut1D.h"
#include "PreintegratedLut.h"
#include "TFEmptySpace.h"
#include "kernels/FullRay.h"
#include "kernels/KernelFrame.h"
#include "kernels/PreintegratedRay.h"

namespace {

// A worker's tracer: the shared full-rendering ray (FullRay.h) over the frame's voxel access.
template <class Voxels, bool kSkipping, ShadeMode kMode>
struct FullTracer {
    const KernelState* state;
    Voxels voxels;
    FullSettings settings;

    FullTracer(const KernelState& s, const Voxels& v, const FullSettings& p)
        : state(&s), voxels(v), settings(p) {}

    Vector4 operator()(const PixelRay& ray) const {
        return TraceFullRay<kSkipping, kMode>(*state, voxels, settings, ray);
    }
};

// The tracer of one shading mode, as the frame's entry helper takes it.
template <bool kSkipping, ShadeMode kMode>
struct TracerOf {
    template <class Voxels>
    using Type = FullTracer<Voxels, kSkipping, kMode>;
};

// The values of a frame off the fixed lattice: the technique's, and how a ray finds its start.
struct OffLatticeSettings {
    FullSettings full;
    RayStartFractions fractions;  // the ray's pixel hash, used when `jitter`
    bool jitter;
};

// A worker's tracer for rays with a start offset or pre-integration (PreintegratedRay.h).
template <class Voxels, bool kSkipping, ShadeMode kMode, bool kPreintegrated>
struct OffLatticeTracer {
    const KernelState* state;
    Voxels voxels;
    OffLatticeSettings settings;

    OffLatticeTracer(const KernelState& s, const Voxels& v, const OffLatticeSettings& p)
        : state(&s), voxels(v), settings(p) {}

    Vector4 operator()(const PixelRay& ray) const {
        const float fraction = settings.jitter ? settings.fractions(ray) : 0.f;
        if (kPreintegrated)
            return TracePreintegratedSegments<kSkipping, kMode>(*state, voxels, settings.full, ray,
                                                                fraction);
        return TraceFullRay<kSkipping, kMode>(*state, voxels, settings.full, ray,
                                              fraction * settings.full.sampleDistance);
    }
};

template <bool kSkipping, ShadeMode kMode, bool kPreintegrated>
struct OffLatticeTracerOf {
    template <class Voxels>
    using Type = OffLatticeTracer<Voxels, kSkipping, kMode, kPreintegrated>;
};

// Whether the kernel's segment table is built for its table's frame: segments sampleDistance
// long, opacities per stdSampleDistance.
bool SegmentsFitFrame(const FullVR& kernel) {
    const PreintegratedLut* const segments = kernel.preintegratedLut;
    return segments && segments->table && segments->resolution >= 2 &&
           segments->baseSampleDistance == kernel.sampleDistance &&
           segments->sampleDistance == kernel.stdSampleDistance;
}

// Renders with the off-lattice tracer of the frame's mode: pre-integrated when asked for and the
// segment table fits the frame, post-classified otherwise.
template <bool kSkipping>
void RenderOffLattice(FullVR& kernel, const GridPartition* grid, const FullSettings& settings) {
    if (!kernel.vrSceneParam) return;
    OffLatticeSettings frame{settings, RayStartFractions(kernel.vrSceneParam->windowToPhysical),
                             kernel.jitter};
    const bool preintegrate = kernel.preintegration && SegmentsFitFrame(kernel);
    if (preintegrate) frame.full.segments = BindSegments(*kernel.preintegratedLut);
    WithShadeMode(settings.mode, [&](auto mode) {
        constexpr ShadeMode kMode = decltype(mode)::value;
        if (preintegrate)
            RenderKernel<OffLatticeTracerOf<kSkipping, kMode, true>::template Type>(
                kernel.volume, kSkipping, grid, kernel.vrSceneParam, kernel.image, frame);
        else
            RenderKernel<OffLatticeTracerOf<kSkipping, kMode, false>::template Type>(
                kernel.volume, kSkipping, grid, kernel.vrSceneParam, kernel.image, frame);
    });
}

// Checks the technique's inputs, binds them and renders with the tracer of the frame's mode.
template <bool kSkipping>
void RenderFull(FullVR& kernel, const GridPartition* grid) {
    if (!kernel.lightParam || !kernel.lut) return;
    const Lut1D& lut = *kernel.lut;
    if (!lut.data || lut.sampleCount < 1 || !(kernel.sampleDistance > 0.f)) return;
    FullSettings settings = BindFullSettings(&lut, *kernel.lightParam, kernel.shade,
                                             kernel.sampleDistance, kernel.stdSampleDistance);
    if (kSkipping) {
        const TFEmptySpace* const sums = kernel.tfEmptySpace;
        if (!sums || !sums->alphaSum || sums->sampleCount < 1) return;
        settings.emptySpace = TFRangeTest(*sums);
    }
    if (kernel.jitter || kernel.preintegration) {
        RenderOffLattice<kSkipping>(kernel, grid, settings);
        return;
    }
    WithShadeMode(settings.mode, [&](auto mode) {
        RenderKernel<TracerOf<kSkipping, decltype(mode)::value>::template Type>(
            kernel.volume, kSkipping, grid, kernel.vrSceneParam, kernel.image, settings);
    });
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
      stdSampleDistance(1.0f),
      preintegratedLut(nullptr),
      preintegration(false),
      jitter(false) {}

void FullVR::RenderWithoutGridPartition() {
    RenderFull<false>(*this, nullptr);
}

void FullVR::RenderWithGridPartition() {
    RenderFull<true>(*this, gridPartition);
}
