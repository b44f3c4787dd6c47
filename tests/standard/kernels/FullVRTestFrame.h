// A full volume-rendering frame (KernelTestFrame with table, opacity sums and light), a
// one-ray set-up for worked numbers, and the double-precision reference the kernel is compared
// with: rays, samples, classification, shading and compositing written from their definitions.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "BasicLightParam.h"
#include "FullVR.h"
#include "KernelTestFrame.h"
#include "Lut1D.h"
#include "TFEmptySpace.h"
#include "support/DenseMipReference.h"

struct FullTestFrame : KernelTestFrame<FullVR> {
    Lut1D lut;
    TFEmptySpace sums;
    BasicLightParam light;

    FullTestFrame() {
        kernel.tfEmptySpace = &sums;
        kernel.lut = &lut;
        kernel.lightParam = &light;
    }

    // A table of rgba entries over [minPos, maxPos], and its opacity sums.
    void SetTable(const std::vector<Vector4>& entries, float minPos, float maxPos) {
        lut.sampleCount = int32_t(entries.size());
        lut.minPos = minPos;
        lut.maxPos = maxPos;
        lut.Allocate();
        std::copy(entries.begin(), entries.end(), lut.data);
        sums.CalculateTFEmptySpace(&lut);
    }

    void Render(bool withGrid) {
        if (withGrid)
            kernel.RenderWithGridPartition();
        else
            kernel.RenderWithoutGridPartition();
    }

    // One pixel, (0, 0), whose ray starts at physical (-10, y, z) and runs along +x (physical and
    // voxel coordinates coincide: unit spacing). It enters the volume at t = 10 on voxel x = 0.
    void AimOneRay(float y, float z) {
        Matrix4x4
            w;  // window (px, py, 0, 1) -> (-9, y - 0.5 + px, z - 0.5 + py, 1); eye in column 2
        const float m[16] = {0, 1, 0, 0, 0, 0, 1, 0, -10, y, z, 1, -9, y - 0.5f, z - 0.5f, 1};
        std::copy(m, m + 16, w.m);
        sceneParam.windowToPhysical = w;
        sceneParam.physicalToVoxel = Matrix4x4();
        for (int a = 0; a < 3; ++a) {
            sceneParam.croppingBounds[2 * a] = 0.f;
            sceneParam.croppingBounds[2 * a + 1] = float(volume.dimensions[a] - 1);
        }
        image.width = image.height = 1;
        image.windowX = image.windowY = 0;
        image.Allocate();
    }
};

namespace fullref {

// What the reference needs of the kernel's inputs, in double.
struct Setup {
    std::vector<double> table;  // N entries x RGBA
    double minPos = 0.0, maxPos = 1.0;
    double sampleDistance = 1.0, stdSampleDistance = 1.0;
    bool shade = false, illustrative = false;
    double lightDir[3] = {1, 0, 0}, ambient[3] = {}, diffuse[3] = {}, specular[3] = {};
    double power = 1.0, background[3] = {};
    int cellSize[3] = {0, 0, 0};  // > 0: sampling restarts where the ray crosses a macro plane

    Setup(const FullTestFrame& f, bool restartAtCells) {
        for (int i = 0; i < f.lut.sampleCount; ++i) {
            const Vector4& e = f.lut.data[i];
            table.insert(table.end(), {e.x, e.y, e.z, e.w});
        }
        minPos = f.lut.minPos;
        maxPos = f.lut.maxPos;
        sampleDistance = f.kernel.sampleDistance;
        stdSampleDistance = f.kernel.stdSampleDistance;
        shade = f.kernel.shade;
        const BasicLightParam& l = f.light;
        illustrative = l.illustrativeShading;
        lightDir[0] = l.lightDirection.x;
        lightDir[1] = l.lightDirection.y;
        lightDir[2] = l.lightDirection.z;
        for (int c = 0; c < 3; ++c) {
            const double colour = double(l.lightIntensity) * l.lightColor[c];
            ambient[c] = l.ambient * colour;
            diffuse[c] = l.diffuse * colour;
            specular[c] = l.specular * colour;
            background[c] = l.backgroundColor[c];
        }
        power = l.specularPower;
        if (restartAtCells)
            for (int a = 0; a < 3; ++a)
                cellSize[a] = f.grid.cellSize[a];
    }
};

// Table colour of value v: linear between the two entries around its table position, the end
// entries beyond the range.
inline void Classify(const Setup& s, double v, double rgba[4]) {
    const int n = int(s.table.size() / 4);
    const double x = (v - s.minPos) * (n - 1) / (s.maxPos - s.minPos);
    const double clamped = std::min(std::max(x, 0.0), double(n - 1));
    const int i = std::min(int(std::floor(clamped)), std::max(n - 2, 0));
    const double f = n > 1 ? clamped - i : 0.0;
    for (int c = 0; c < 4; ++c)
        rgba[c] = (1.0 - f) * s.table[4 * i + c] + (n > 1 ? f * s.table[4 * (i + 1) + c] : 0.0);
}

// Unit gradient at p (voxel coordinates): central differences of the clamped interpolant over
// +-1 voxel, divided by the spacing. Zero gradient: NaN components.
inline void Normal(const DenseVolume& vol, const double p[3], double n[3]) {
    double length = 0.0;
    for (int a = 0; a < 3; ++a) {
        double plus[3] = {p[0], p[1], p[2]}, minus[3] = {p[0], p[1], p[2]};
        plus[a] += 1.0;
        minus[a] -= 1.0;
        n[a] = (vol.Interpolate(plus[0], plus[1], plus[2]) -
                vol.Interpolate(minus[0], minus[1], minus[2])) /
               vol.spacing[a];
        length += n[a] * n[a];
    }
    for (int a = 0; a < 3; ++a)
        n[a] /= std::sqrt(length);
}

// The shaded, corrected colour of the sample at p seen along the unit direction d.
inline void ShadedSample(const Setup& s, const DenseVolume& vol, const double p[3],
                         const double d[3], double rgba[4]) {
    Classify(s, vol.Interpolate(p[0], p[1], p[2]), rgba);
    if (rgba[3] < 1.0)
        rgba[3] = 1.0 - std::pow(1.0 - rgba[3], s.sampleDistance / s.stdSampleDistance);
    else
        rgba[3] = 1.0;
    if (!s.shade) return;
    double n[3];
    Normal(vol, p, n);
    const double b = n[0] * d[0] + n[1] * d[1] + n[2] * d[2];
    if (s.illustrative) {
        double w = std::pow(1.0 - b * b, s.power * 0.5);
        if (!(w < 1.0)) w = 1.0;
        for (int c = 0; c < 3; ++c)
            rgba[c] = (1.0 - w) * s.background[c] + w * rgba[c];
        return;
    }
    const double* L = s.lightDir;
    const double l = L[0] * n[0] + L[1] * n[1] + L[2] * n[2];
    double k[3] = {s.ambient[0], s.ambient[1], s.ambient[2]}, highlightColour[3] = {0, 0, 0};
    if ((l > 0 && b > 0) || (l < 0 && b < 0)) {
        double h[3] = {L[0] + d[0], L[1] + d[1], L[2] + d[2]};
        const double hl = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
        const double hn = std::fabs((h[0] * n[0] + h[1] * n[1] + h[2] * n[2]) / hl);
        const double strongest = std::max({s.specular[0], s.specular[1], s.specular[2]});
        const bool highlight = hn > std::pow(0.001 / strongest, 1.0 / s.power);
        for (int c = 0; c < 3; ++c) {
            k[c] += s.diffuse[c] * std::fabs(l);
            if (highlight) highlightColour[c] = s.specular[c] * std::pow(hn, s.power);
        }
    }
    for (int c = 0; c < 3; ++c)
        rgba[c] = k[c] * rgba[c] + highlightColour[c];
}

// One pixel's ray in double from the float matrices of the ray set-up.
struct Ray {
    double o[3], v[3], d[3];  // origin and direction in voxels, unit physical direction
    double tNear, tFar;
};

inline Ray PixelRay(const VRSceneParam& param, double px, double py) {
    const float* w = param.windowToPhysical.m;
    const float* m = param.physicalToVoxel.m;
    double p[4];
    for (int r = 0; r < 4; ++r)
        p[r] = w[r] * px + w[4 + r] * py + w[12 + r];
    const double eye[3] = {double(w[8]) / w[11], double(w[9]) / w[11], double(w[10]) / w[11]};
    Ray ray;
    double length = 0.0;
    for (int a = 0; a < 3; ++a) {
        ray.d[a] = p[a] / p[3] - eye[a];
        length += ray.d[a] * ray.d[a];
    }
    for (int a = 0; a < 3; ++a)
        ray.d[a] /= std::sqrt(length);
    for (int r = 0; r < 3; ++r) {
        ray.o[r] = m[r] * eye[0] + m[4 + r] * eye[1] + m[8 + r] * eye[2] + m[12 + r];
        ray.v[r] = m[r] * ray.d[0] + m[4 + r] * ray.d[1] + m[8 + r] * ray.d[2];
    }
    ray.tNear = -std::numeric_limits<double>::infinity();
    ray.tFar = std::numeric_limits<double>::infinity();
    for (int a = 0; a < 3; ++a) {
        const double lo = param.croppingBounds[2 * a], hi = param.croppingBounds[2 * a + 1];
        if (ray.v[a] == 0.0) {
            if (ray.o[a] < lo || ray.o[a] > hi) ray.tFar = -ray.tFar;
            continue;
        }
        const double t0 = (lo - ray.o[a]) / ray.v[a], t1 = (hi - ray.o[a]) / ray.v[a];
        ray.tNear = std::max(ray.tNear, std::min(t0, t1));
        ray.tFar = std::min(ray.tFar, std::max(t0, t1));
    }
    ray.tNear = std::max(ray.tNear, 0.0);
    return ray;
}

// The composited RGBA of one ray: samples at tNear, tNear + d, ... below tFar, or, with cell
// sizes set, restarting at every crossing of a macro-cell plane (segments longer than 0.001).
inline void TraceRay(const Setup& s, const DenseVolume& vol, const Ray& ray, double out[4]) {
    std::fill(out, out + 4, 0.0);
    if (!(ray.tFar > ray.tNear)) return;
    std::vector<double> cuts{ray.tNear, ray.tFar};
    for (int a = 0; a < 3 && s.cellSize[0] > 0; ++a) {
        if (ray.v[a] == 0.0) continue;
        const double g = s.cellSize[a];
        const double x0 = ray.o[a] + ray.tNear * ray.v[a], x1 = ray.o[a] + ray.tFar * ray.v[a];
        for (double m = std::ceil(std::min(x0, x1) / g); m * g <= std::max(x0, x1); ++m) {
            const double t = (m * g - ray.o[a]) / ray.v[a];
            if (t > ray.tNear && t < ray.tFar) cuts.push_back(t);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        const double end = cuts[i + 1];
        if (s.cellSize[0] > 0 && !(end > cuts[i] + 0.001)) continue;
        for (double t = cuts[i]; t < end && out[3] < 0.98; t += s.sampleDistance) {
            const double p[3] = {ray.o[0] + t * ray.v[0], ray.o[1] + t * ray.v[1],
                                 ray.o[2] + t * ray.v[2]};
            double c[4];
            ShadedSample(s, vol, p, ray.d, c);
            for (int k = 0; k < 3; ++k)
                out[k] += (1.0 - out[3]) * c[k] * c[3];
            out[3] += (1.0 - out[3]) * c[3];
        }
    }
    for (int c = 0; c < 4; ++c)
        out[c] = std::min(std::max(out[c], 0.0), 1.0);
}

}  // namespace fullref
