// Dense double-precision isosurface reference; shares no code with the kernel.
#include "support/DenseIsoReference.h"

#include <algorithm>
#include <cmath>

#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "VRSceneParam.h"
#include "standard/kernels/FrameTestSupport.h"

namespace {

using frametest::Vec;

double Dot3(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void Normalise3(double v[3]) {
    const double inv = 1.0 / std::sqrt(Dot3(v, v));
    for (int a = 0; a < 3; ++a)
        v[a] *= inv;
}

// Shades the crossing at voxel point x, seen along the unit physical direction dir.
void Shade(const DenseVolume& volume, const double x[3], const double dir[3], bool entryBelow,
           const BasicLightParam& light, const IsosurfaceRayCasterParam& iso,
           DenseIsoPixel& pixel) {
    double normal[3];
    for (int a = 0; a < 3; ++a) {
        double plus[3] = {x[0], x[1], x[2]}, minus[3] = {x[0], x[1], x[2]};
        plus[a] += 1.0;
        minus[a] -= 1.0;
        normal[a] = (volume.Interpolate(plus[0], plus[1], plus[2]) -
                     volume.Interpolate(minus[0], minus[1], minus[2])) /
                    volume.spacing[a];
    }
    Normalise3(normal);  // a zero gradient gives NaN, as in the kernel
    pixel.facing = std::abs(Dot3(normal, dir));
    const double p = light.specularPower;
    double colour[3];
    if (light.illustrativeShading) {
        const double b = Dot3(normal, dir);
        double w = std::pow(1.0 - b * b, p * 0.5);
        if (!(w < 1.0)) w = 1.0;
        for (int c = 0; c < 3; ++c)
            colour[c] = w * iso.surfaceColor[c] + (1.0 - w) * light.backgroundColor[c];
    } else {
        const double toward[3] = {light.lightDirection.x, light.lightDirection.y,
                                  light.lightDirection.z};
        const double l = Dot3(toward, normal);
        const bool lit = (l > 0.0 && entryBelow) || (l < 0.0 && !entryBelow);
        double half[3] = {toward[0] + dir[0], toward[1] + dir[1], toward[2] + dir[2]};
        Normalise3(half);
        const double h = std::abs(Dot3(half, normal));
        for (int c = 0; c < 3; ++c) {
            const double scale = double(light.lightIntensity) * light.lightColor[c];
            double k = light.ambient * scale;
            double s = 0.0;
            if (lit) {
                k += light.diffuse * scale * std::abs(l);
                s = light.specular * scale * std::pow(h, p);
            }
            colour[c] = iso.surfaceColor[c] * k + s;
        }
    }
    for (int c = 0; c < 3; ++c)
        pixel.rgba[c] = std::isnan(colour[c]) ? 1.0 : std::clamp(colour[c], 0.0, 1.0);
    pixel.rgba[3] = 1.0;
}

}  // namespace

DenseIsoImage RenderDenseIso(const DenseVolume& volume, const VRSceneParam& rays,
                             const int regionOrigin[2], const int regionSize[2],
                             const BasicLightParam& light, const IsosurfaceRayCasterParam& iso,
                             double maxStepVoxels) {
    DenseIsoImage image;
    image.width = regionSize[0];
    image.height = regionSize[1];
    image.pixels.assign(std::size_t(image.width) * image.height, DenseIsoPixel());
    const frametest::Mat toPhysical = frametest::ToDouble(rays.windowToPhysical);
    const frametest::Mat toVoxel = frametest::ToDouble(rays.physicalToVoxel);
    // The centre of projection: where the window direction (0, 0, 1, 0) goes.
    const Vec eye{toPhysical[8] / toPhysical[11], toPhysical[9] / toPhysical[11],
                  toPhysical[10] / toPhysical[11], 1.0};
    const Vec originVoxel = frametest::Apply(toVoxel, eye);
    const double lo[3] = {rays.croppingBounds[0], rays.croppingBounds[2], rays.croppingBounds[4]};
    const double hi[3] = {rays.croppingBounds[1], rays.croppingBounds[3], rays.croppingBounds[5]};
    const double isovalue = iso.isovalue;

    for (int j = 0; j < image.height; ++j)
        for (int i = 0; i < image.width; ++i) {
            DenseIsoPixel& pixel = image.pixels[std::size_t(j) * image.width + i];
            Vec near = frametest::Apply(
                toPhysical, Vec{regionOrigin[0] + i + 0.5, regionOrigin[1] + j + 0.5, 0.0, 1.0});
            double dir[3];
            for (int a = 0; a < 3; ++a)
                dir[a] = near[a] / near[3] - eye[a];
            Normalise3(dir);
            const Vec dv = frametest::Apply(toVoxel, Vec{dir[0], dir[1], dir[2], 0.0});
            const double o[3] = {originVoxel[0], originVoxel[1], originVoxel[2]};
            const double d[3] = {dv[0], dv[1], dv[2]};
            double t0, t1;
            frametest::SlabIntersect(o, d, lo, hi, t0, t1);
            t0 = std::max(t0, 0.0);
            if (!(t1 > t0)) continue;
            pixel.segment = (t1 - t0) * std::sqrt(Dot3(d, d));

            // f - isovalue along the ray, walked densely from the entry.
            const auto g = [&](double t) {
                return volume.Interpolate(o[0] + t * d[0], o[1] + t * d[1], o[2] + t * d[2]) -
                       isovalue;
            };
            const int steps = std::max(1, int(std::ceil(pixel.segment / maxStepVoxels)));
            double tPrev = t0, gPrev = g(t0);
            pixel.entryBelow = gPrev < 0.0;
            for (int s = 1; s <= steps; ++s) {
                const double t = t0 + (t1 - t0) * s / steps;
                const double gt = g(t);
                const bool crossed = (gPrev < 0.0 && gt >= 0.0) || (gPrev > 0.0 && gt <= 0.0) ||
                                     (gPrev == 0.0 && gt != 0.0);
                if (!crossed) {
                    tPrev = t;
                    gPrev = gt;
                    continue;
                }
                // Bisection of [tPrev, t] to the crossing.
                double a = tPrev, b = t, ga = gPrev;
                for (int iteration = 0; iteration < 60 && b - a > 1e-13; ++iteration) {
                    const double m = 0.5 * (a + b), gm = g(m);
                    if ((gm < 0.0) == (ga < 0.0) && gm != 0.0) {
                        a = m;
                        ga = gm;
                    } else {
                        b = m;
                    }
                }
                const double tHit = 0.5 * (a + b);
                for (int c = 0; c < 3; ++c)
                    pixel.hitVoxel[c] = o[c] + tHit * d[c];
                pixel.hit = true;
                Shade(volume, pixel.hitVoxel, dir, pixel.entryBelow, light, iso, pixel);
                break;
            }
        }
    return image;
}
