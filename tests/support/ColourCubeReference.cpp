// Ray-cast reference of the colour cube.
#include "support/ColourCubeReference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace cuberef {
namespace {

using Q = std::array<double, 4>;  // x, y, z, w

// Hamilton product, vector form
Q Mul(Q const& a, Q const& b) {
    return {a[3] * b[0] + b[3] * a[0] + a[1] * b[2] - a[2] * b[1],
            a[3] * b[1] + b[3] * a[1] + a[2] * b[0] - a[0] * b[2],
            a[3] * b[2] + b[3] * a[2] + a[0] * b[1] - a[1] * b[0],
            a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

// v' = q* v q: the inverse rotation of a unit quaternion
std::array<double, 3> RotateInverse(double const q[4], std::array<double, 3> const& v) {
    Q const qc{-q[0], -q[1], -q[2], q[3]};
    Q const r = Mul(Mul(qc, {v[0], v[1], v[2], 0.0}), {q[0], q[1], q[2], q[3]});
    return {r[0], r[1], r[2]};
}

}  // namespace

Camera DefaultCamera(int w, int h) {
    Camera c;
    c.aspect = double(w) / double(h);
    c.zBase = -std::sqrt(3.0) / std::sin(M_PI / 8.0);
    return c;
}

void AxisAngle(double ax, double ay, double az, double angle, double q[4]) {
    double const len = std::sqrt(ax * ax + ay * ay + az * az);
    double const s = std::sin(angle / 2.0) / len;
    q[0] = ax * s;
    q[1] = ay * s;
    q[2] = az * s;
    q[3] = std::cos(angle / 2.0);
}

Rgb ReferencePixel(Camera const& c, int w, int h, int px, int py) {
    double const th = std::tan(c.fovy * M_PI / 360.0);
    std::array<double, 3> const dirEye{(2.0 * (px + 0.5) / w - 1.0) * th * c.aspect,
                                       (2.0 * (py + 0.5) / h - 1.0) * th, -1.0};
    // eye origin and ray direction in model space: undo translate, scale, rotation
    std::array<double, 3> const shifted{-c.t[0] / c.scale, -c.t[1] / c.scale,
                                        -(c.t[2] + c.zBase) / c.scale};
    std::array<double, 3> const o = RotateInverse(c.q, shifted);
    std::array<double, 3> const d = RotateInverse(c.q, dirEye);
    // slab test against [-1, 1]^3; the entry face is the axis entered last
    double tNear = -1e30, tFar = 1e30;
    int face = -1;
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0.0) {
            if (o[a] < -1.0 || o[a] > 1.0) return kGrey;
            continue;
        }
        double t0 = (-1.0 - o[a]) / d[a], t1 = (1.0 - o[a]) / d[a];
        if (t0 > t1) std::swap(t0, t1);
        if (t0 > tNear) {
            tNear = t0;
            face = a;
        }
        tFar = std::min(tFar, t1);
    }
    if (tNear > tFar || tFar < 0.0 || face < 0) return kGrey;
    bool const plusSide = d[face] < 0.0;
    switch (face) {
        case 0:
            return plusSide ? kMagenta : kGreen;
        case 1:
            return plusSide ? kYellow : kBlue;
        default:
            return plusSide ? kCyan : kRed;
    }
}

bool Close(Rgb const& a, Rgb const& b) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > kChannelTol) return false;
    return true;
}

Rgb At(std::vector<uint8_t> const& px, int w, int x, int y) {
    size_t const i = (size_t(y) * w + x) * 4;
    return {px[i], px[i + 1], px[i + 2]};
}

Comparison Compare(std::vector<uint8_t> const& px, Camera const& cam, int w, int h) {
    Rgb const palette[7] = {kGrey, kRed, kGreen, kBlue, kCyan, kMagenta, kYellow};
    std::vector<Rgb> ref(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ref[size_t(y) * w + x] = ReferencePixel(cam, w, h, x, y);
    Comparison r;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Rgb const& e = ref[size_t(y) * w + x];
            for (int k = 0; k < 7; ++k)
                r.counts[k] += e == palette[k];
            Rgb const got = At(px, w, x, y);
            if (Close(got, e)) continue;
            ++r.mismatches;
            bool edge = false;
            for (int dy = -1; dy <= 1 && !edge; ++dy)
                for (int dx = -1; dx <= 1 && !edge; ++dx) {
                    int const nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < w && ny < h)
                        edge = Close(got, ref[size_t(ny) * w + nx]);
                }
            if (!edge) ++r.offEdge;
        }
    }
    return r;
}

}  // namespace cuberef
