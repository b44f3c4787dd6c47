// Dense double-precision MIP reference; shares no code with the kernel.
#include "support/DenseMipReference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "VolumeData.h"

namespace {

using Mat = double[16];  // column-major, element (r, c) at 4c + r

void ToDouble(const Matrix4x4& in, Mat out) {
    const float* m = in;
    for (int i = 0; i < 16; ++i)
        out[i] = m[i];
}

void Multiply(const Mat a, const Mat b, Mat out) {
    Mat r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k)
                s += a[4 * k + row] * b[4 * c + k];
            r[4 * c + row] = s;
        }
    std::memcpy(out, r, sizeof(Mat));
}

// Gauss-Jordan elimination with partial pivoting on the row-major copy.
bool Invert(const Mat in, Mat out) {
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            a[r][c] = in[4 * c + r];
            a[r][c + 4] = r == c ? 1.0 : 0.0;
        }
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::abs(a[r][col]) > std::abs(a[pivot][col])) pivot = r;
        if (a[pivot][col] == 0.0) return false;
        for (int c = 0; c < 8; ++c)
            std::swap(a[col][c], a[pivot][c]);
        const double inv = 1.0 / a[col][col];
        for (int c = 0; c < 8; ++c)
            a[col][c] *= inv;
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            const double f = a[r][col];
            for (int c = 0; c < 8; ++c)
                a[r][c] -= f * a[col][c];
        }
    }
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[4 * c + r] = a[r][c + 4];
    return true;
}

void Apply(const Mat m, const double v[4], double out[4]) {
    for (int r = 0; r < 4; ++r)
        out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
}

// Slab clip of origin + t dir against [lo - pad, hi + pad] per axis, t >= 0.
bool Clip(const double o[3], const double d[3], const float box[6], double pad, double& t0,
          double& t1) {
    t0 = 0.0;
    t1 = std::numeric_limits<double>::infinity();
    for (int a = 0; a < 3; ++a) {
        const double lo = box[2 * a] - pad, hi = box[2 * a + 1] + pad;
        if (d[a] == 0.0) {
            if (o[a] < lo || o[a] > hi) return false;
            continue;
        }
        double ta = (lo - o[a]) / d[a], tb = (hi - o[a]) / d[a];
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
    }
    return t1 > t0;
}

template <typename T>
void CopySamples(const void* data, std::vector<double>& out) {
    const T* p = static_cast<const T*>(data);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = double(p[i]);
}

}  // namespace

double DenseVolume::At(int i, int j, int k) const {
    i = std::clamp(i, 0, dims[0] - 1);
    j = std::clamp(j, 0, dims[1] - 1);
    k = std::clamp(k, 0, dims[2] - 1);
    return values[std::size_t(i) + std::size_t(dims[0]) * (j + std::size_t(dims[1]) * k)];
}

double DenseVolume::Interpolate(double x, double y, double z) const {
    x = std::clamp(x, 0.0, double(dims[0] - 1));
    y = std::clamp(y, 0.0, double(dims[1] - 1));
    z = std::clamp(z, 0.0, double(dims[2] - 1));
    const int i = int(std::floor(x)), j = int(std::floor(y)), k = int(std::floor(z));
    const double fx = x - i, fy = y - j, fz = z - k;
    double sum = 0.0;
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < 2; ++b)
            for (int a = 0; a < 2; ++a) {
                const double w = (a ? fx : 1 - fx) * (b ? fy : 1 - fy) * (c ? fz : 1 - fz);
                if (w != 0.0) sum += w * At(i + a, j + b, k + c);
            }
    return sum;
}

DenseVolume DenseVolumeFrom(const VolumeData& volume) {
    DenseVolume out;
    volume.GetDimensions(out.dims);
    volume.GetSpacings(out.spacing);
    out.values.resize(std::size_t(out.dims[0]) * out.dims[1] * out.dims[2]);
    const DataType t = volume.GetDataType();
    const void* p = volume.GetData();
    if (t.isFloat)
        CopySamples<float>(p, out.values);
    else if (t.bitCount == 8)
        t.isSigned ? CopySamples<int8_t>(p, out.values) : CopySamples<uint8_t>(p, out.values);
    else if (t.bitCount == 16)
        t.isSigned ? CopySamples<int16_t>(p, out.values) : CopySamples<uint16_t>(p, out.values);
    else if (t.bitCount == 32)
        t.isSigned ? CopySamples<int32_t>(p, out.values) : CopySamples<uint32_t>(p, out.values);
    return out;
}

DenseMipImage RenderDenseMip(const DenseVolume& volume, const Matrix4x4& view,
                             const Matrix4x4& projection, const int viewport[2],
                             const int regionOrigin[2], const int regionSize[2],
                             const float cropping[6], double maxStepVoxels) {
    DenseMipImage image;
    image.width = regionSize[0];
    image.height = regionSize[1];
    const std::size_t count = std::size_t(image.width) * image.height;
    image.maximum.assign(count, std::numeric_limits<double>::quiet_NaN());
    image.segment.assign(count, 0.0);
    image.nearMiss.assign(count, 0);

    // Physical -> eye: the camera's model space is physical space shifted by
    // half the extent.
    Mat v, p, centre = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ToDouble(view, v);
    ToDouble(projection, p);
    for (int a = 0; a < 3; ++a)
        centre[12 + a] = -0.5 * double(volume.dims[a]) * volume.spacing[a];
    Mat modelView, clip, invModelView, invClip;
    Multiply(v, centre, modelView);
    Multiply(p, modelView, clip);
    Invert(modelView, invModelView);
    Invert(clip, invClip);
    const double origin[4] = {0, 0, 0, 1};
    double eye[4];
    Apply(invModelView, origin, eye);
    for (int a = 0; a < 3; ++a)
        eye[a] /= eye[3];

    for (int j = 0; j < image.height; ++j)
        for (int i = 0; i < image.width; ++i) {
            // Pixel centre -> normalised device coordinates on the near plane.
            const double px = regionOrigin[0] + i + 0.5, py = regionOrigin[1] + j + 0.5;
            const double ndc[4] = {2.0 * px / viewport[0] - 1.0, 2.0 * py / viewport[1] - 1.0, -1.0,
                                   1.0};
            double nearPoint[4];
            Apply(invClip, ndc, nearPoint);
            double dir[3], o[3], d[3], len = 0.0;
            for (int a = 0; a < 3; ++a) {
                dir[a] = nearPoint[a] / nearPoint[3] - eye[a];
                len += dir[a] * dir[a];
            }
            len = std::sqrt(len);
            for (int a = 0; a < 3; ++a) {
                o[a] = eye[a] / volume.spacing[a];
                d[a] = dir[a] / len / volume.spacing[a];
            }
            const std::size_t idx = std::size_t(j) * image.width + i;
            double t0, t1;
            if (!Clip(o, d, cropping, 0.0, t0, t1)) {
                double u0, u1;
                image.nearMiss[idx] = Clip(o, d, cropping, 1e-3, u0, u1) ? 1 : 0;
                continue;
            }
            const double dLen = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            const double segment = (t1 - t0) * dLen;
            const int steps = std::max(1, int(std::ceil(segment / maxStepVoxels)));
            double best = -std::numeric_limits<double>::infinity();
            for (int s = 0; s <= steps; ++s) {
                const double t = t0 + (t1 - t0) * s / steps;
                best = std::max(
                    best, volume.Interpolate(o[0] + t * d[0], o[1] + t * d[1], o[2] + t * d[2]));
            }
            image.maximum[idx] = best;
            image.segment[idx] = segment;
        }
    return image;
}

double DenseMipGrey(double maximum, double width, double center) {
    return std::clamp((maximum - center) / width + 0.5, 0.0, 1.0);
}
