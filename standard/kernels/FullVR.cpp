// Full volume rendering: classification through the transfer-function table, opacity correction,
// optional shading and front-to-back compositing along every ray, with empty-space skipping over
// the min/max grid.
#include "FullVR.h"

#include "BasicLightParam.h"
#include "Lut1D.h"
#include "TFEmptySpace.h"
#include "kernels/FullRay.h"
#include "kernels/KernelFrame.h"

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
      stdSampleDistance(1.0f) {}

void FullVR::RenderWithoutGridPartition() {
    RenderFull<false>(*this, nullptr);
}

void FullVR::RenderWithGridPartition() {
    RenderFull<true>(*this, gridPartition);
}
