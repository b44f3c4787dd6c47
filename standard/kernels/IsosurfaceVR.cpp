// Isosurface rendering: the exact first crossing of the trilinear interpolant with the isovalue
// along each ray, shaded with two-sided Blinn-Phong or the illustrative style.
#include "IsosurfaceVR.h"

#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "kernels/KernelFrame.h"
#include "kernels/Shading.h"

namespace {

// The technique's values of one frame.
struct IsoParams {
    float isovalue;
    float surface[3];  // surface colour; alpha is 1
    BoundLight light;

    IsoParams(const IsosurfaceRayCasterParam& iso, const BasicLightParam& lightParam) {
        isovalue = iso.isovalue;
        for (int c = 0; c < 3; ++c)
            surface[c] = iso.surfaceColor[c];
        light.Bind(lightParam);
    }
};

template <class Voxels, bool kSkipping>
struct IsoTracer {
    const KernelState* state;
    Voxels voxels;
    IsoParams params;

    IsoTracer(const KernelState& s, const Voxels& v, const IsoParams& p)
        : state(&s), voxels(v), params(p) {}

    // One voxel cell over [t, tExit]: true with the shaded colour when the surface crosses the
    // ray there. Only cells with corners strictly below and strictly above the isovalue can hold
    // a crossing; the smallest and largest corners are found on the unconverted samples (the
    // conversion to float keeps their order).
    template <typename V>
    bool VisitCell(const V raw[8], const int cell[3], const PixelRay& ray, float t, float tExit,
                   bool entryBelow, Vector4& colour) const {
        V low = raw[0], high = raw[0];
        for (int c = 1; c < 8; ++c) {
            low = raw[c] < low ? raw[c] : low;
            high = raw[c] > high ? raw[c] : high;
        }
        const float iso = params.isovalue;
        if (!(static_cast<float>(low) < iso && static_cast<float>(high) > iso))
            return false;  // skip: no corner on one of the two sides
        float v[8];
        for (int c = 0; c < 8; ++c)
            v[c] = static_cast<float>(raw[c]);
        Vector4 hit;
        if (!FirstCrossing(v, cell, ray.originVoxel, ray.dirVoxel, t, tExit, iso, hit))
            return false;
        colour = ShadeSurface(params.surface, voxels.ComputeNormal(hit), ray.dirPhysical,
                              entryBelow, params.light);
        return true;
    }

    // Walks the voxel cells from t to end; true with the colour at the first crossing.
    bool WalkCells(const PixelRay& ray, float t, float end, bool entryBelow,
                   Vector4& colour) const {
        return WalkVoxelCells(
            voxels, ray, t, end,
            [&](const typename Voxels::Value corners[8], const int cell[3], float t0, float t1) {
                return VisitCell(corners, cell, ray, t0, t1, entryBelow, colour);
            });
    }

    Vector4 operator()(const PixelRay& ray) const {
        Vector4 entry(ray.originVoxel.x + ray.tNear * ray.dirVoxel.x,
                      ray.originVoxel.y + ray.tNear * ray.dirVoxel.y,
                      ray.originVoxel.z + ray.tNear * ray.dirVoxel.z, 1.f);
        const bool entryBelow = voxels.SampleTrilinear(entry) < params.isovalue;
        Vector4 colour(0.f, 0.f, 0.f, 0.f);  // no crossing: transparent
        if (!kSkipping) {
            WalkCells(ray, ray.tNear, ray.tFar, entryBelow, colour);
            return colour;
        }
        // Macro cells whose range holds the isovalue (inclusive), voxel cells inside them; the
        // first crossing ends both walks.
        const float iso = params.isovalue;
        WalkMacroCells(
            *state, ray, [iso](const float* pair) { return pair[0] <= iso && iso <= pair[1]; },
            [&](const float*, float t, float exit) {
                return WalkCells(ray, t, exit, entryBelow, colour);
            });
        return colour;
    }
};

template <class Voxels>
using IsoRayTracer = IsoTracer<Voxels, false>;
template <class Voxels>
using IsoGridTracer = IsoTracer<Voxels, true>;

}  // namespace

IsosurfaceVR::IsosurfaceVR()
    : volume(nullptr),
      gridPartition(nullptr),
      lightParam(nullptr),
      isoParam(nullptr),
      vrSceneParam(nullptr),
      image(nullptr) {}

void IsosurfaceVR::RenderWithoutGridPartition() {
    if (!lightParam || !isoParam) return;
    RenderKernel<IsoRayTracer>(volume, false, nullptr, vrSceneParam, image,
                               IsoParams(*isoParam, *lightParam));
}

void IsosurfaceVR::RenderWithGridPartition() {
    if (!lightParam || !isoParam) return;
    RenderKernel<IsoGridTracer>(volume, true, gridPartition, vrSceneParam, image,
                                IsoParams(*isoParam, *lightParam));
}
