// PreintegratedLut: the segment table of a transfer-function table, by integrating extinction
// and extinction-weighted colour over the value.
#include "PreintegratedLut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Lut1D.h"
#include "kernels/PreintegratedRay.h"

namespace {

constexpr int kMaxResolution = 256;         // entries per side of the segment table, at most
constexpr int kStepsPerInterval = 8;        // trapezoids per table interval of the integrals
constexpr int kSubSegments = 8;             // sub-segments composited per segment
constexpr double kMinTransmission = 1e-30;  // 1 - a is clamped to at least this

// The integrals of a table over its position x (0 .. N - 1) at steps of 1 / kStepsPerInterval:
// T(x) = integral of tau, K(x) = integral of colour x tau, with tau = -ln(1 - a) / base of the
// linearly interpolated entries.
class ExtinctionIntegrals {
public:
    ExtinctionIntegrals(const Lut1D& lut, double base) {
        const int intervals = std::max(lut.sampleCount - 1, 0);
        const int points = intervals * kStepsPerInterval + 1;
        tau_.resize(points);
        colourTau_.resize(std::size_t(points) * 3);
        integral_.resize(std::size_t(points) * 4);
        for (int p = 0; p < points; ++p) {
            const double x = double(p) / kStepsPerInterval;
            const int i = std::min(int(x), std::max(intervals - 1, 0));
            const double f = intervals > 0 ? x - i : 0.0;
            const Vector4& a = lut.data[i];
            const Vector4& b = lut.data[intervals > 0 ? i + 1 : i];
            const double alpha = (1.0 - f) * a.w + f * b.w;
            const double transmission = std::max(1.0 - std::max(alpha, 0.0), kMinTransmission);
            tau_[p] = -std::log(transmission) / base;
            const double rgb[3] = {(1.0 - f) * a.x + f * b.x, (1.0 - f) * a.y + f * b.y,
                                   (1.0 - f) * a.z + f * b.z};
            for (int c = 0; c < 3; ++c)
                colourTau_[std::size_t(p) * 3 + c] = rgb[c] * tau_[p];
        }
        const double h = 1.0 / kStepsPerInterval;
        for (int p = 1; p < points; ++p) {
            double* const now = &integral_[std::size_t(p) * 4];
            const double* const before = now - 4;
            now[3] = before[3] + 0.5 * h * (tau_[p - 1] + tau_[p]);
            for (int c = 0; c < 3; ++c)
                now[c] = before[c] + 0.5 * h *
                                         (colourTau_[std::size_t(p - 1) * 3 + c] +
                                          colourTau_[std::size_t(p) * 3 + c]);
        }
    }

    // out = (K red, K green, K blue, T) at position x, linearly between the steps.
    void At(double x, double out[4]) const { Interpolate(integral_.data(), 4, x, out); }

    // out = (colour x tau (3), tau) at position x: the integrands themselves.
    void IntegrandAt(double x, double out[4]) const {
        Interpolate(colourTau_.data(), 3, x, out);
        Interpolate(tau_.data(), 1, x, out + 3);
    }

private:
    void Interpolate(const double* values, int width, double x, double* out) const {
        const int last = int(tau_.size()) - 1;
        const double q = std::min(std::max(x * kStepsPerInterval, 0.0), double(last));
        const int p = std::min(int(q), std::max(last - 1, 0));
        const double f = last > 0 ? q - p : 0.0;
        const int next = last > 0 ? p + 1 : p;
        for (int c = 0; c < width; ++c)
            out[c] = (1.0 - f) * values[std::size_t(p) * width + c] +
                     f * values[std::size_t(next) * width + c];
    }

    std::vector<double> tau_;        // tau at each step
    std::vector<double> colourTau_;  // colour x tau at each step, RGB
    std::vector<double> integral_;   // (K rgb, T) at each step
};

// The premultiplied RGBA of a segment `length` long whose table position runs linearly from xf
// to xb: kSubSegments sub-segments, each of opacity 1 - exp(-l mean tau) and of the
// tau-weighted mean colour, composited front to back.
Vector4 IntegrateSegment(const ExtinctionIntegrals& integrals, double xf, double xb,
                         double length) {
    const double piece = length / kSubSegments;
    double colour[3] = {0.0, 0.0, 0.0}, alpha = 0.0;
    double before[4];
    integrals.At(xf, before);
    for (int s = 1; s <= kSubSegments; ++s) {
        const double x0 = xf + (xb - xf) * (s - 1) / kSubSegments;
        const double x1 = xf + (xb - xf) * s / kSubSegments;
        double after[4];
        integrals.At(x1, after);
        double mean[4];  // mean colour x tau (3) and mean tau over the sub-segment
        if (std::abs(x1 - x0) > 1e-6) {
            for (int c = 0; c < 4; ++c)
                mean[c] = (after[c] - before[c]) / (x1 - x0);
        } else {
            integrals.IntegrandAt(0.5 * (x0 + x1), mean);
        }
        std::copy(after, after + 4, before);
        if (!(mean[3] > 0.0)) continue;
        const double a = 1.0 - std::exp(-piece * mean[3]);
        const double remaining = 1.0 - alpha;
        for (int c = 0; c < 3; ++c)
            colour[c] += remaining * a * (mean[c] / mean[3]);
        alpha += remaining * a;
    }
    return Vector4(float(colour[0]), float(colour[1]), float(colour[2]), float(alpha));
}

bool SameTable(const Lut1D& a, const Lut1D& b) {
    return a.sampleCount == b.sampleCount && a.minPos == b.minPos && a.maxPos == b.maxPos &&
           a.data != nullptr && b.data != nullptr &&
           std::memcmp(a.data, b.data, sizeof(Vector4) * std::size_t(a.sampleCount)) == 0;
}

}  // namespace

PreintegratedLut::PreintegratedLut()
    : resolution(0),
      minPos(0.0f),
      maxPos(1.0f),
      baseSampleDistance(0.0f),
      sampleDistance(0.0f),
      table(nullptr),
      generateCount(0),
      source(new Lut1D()) {}

PreintegratedLut::~PreintegratedLut() {
    delete[] table;
    delete source;
}

bool PreintegratedLut::Generate(const Lut1D* lut, float segmentLength, float opacityDistance) {
    if (lut == nullptr || lut->data == nullptr || lut->sampleCount < 1 || !(segmentLength > 0.0f) ||
        !(opacityDistance > 0.0f))
        return false;
    if (table != nullptr && segmentLength == baseSampleDistance &&
        opacityDistance == sampleDistance && SameTable(*lut, *source))
        return false;
    // Every table entry's value is a position of the segment table, with as many positions
    // between two entries as fit: size = (N - 1) k + 1 <= 256 (256 for N > 256, 2 for N = 1).
    const int intervals = lut->sampleCount - 1;
    const int size = intervals < 1
                         ? 2
                         : std::min(intervals * std::max(1, (kMaxResolution - 1) / intervals) + 1,
                                    kMaxResolution);
    const ExtinctionIntegrals integrals(*lut, opacityDistance);
    // Position y of this table is position y (N - 1) / (size - 1) of the Lut1D.
    const double scale = double(lut->sampleCount - 1) / double(size - 1);
    Vector4* const entries = new Vector4[std::size_t(size) * size];
    for (int f = 0; f < size; ++f)
        for (int b = 0; b < size; ++b)
            entries[std::size_t(f) * size + b] =
                IntegrateSegment(integrals, f * scale, b * scale, segmentLength);
    delete[] table;
    table = entries;
    resolution = size;
    minPos = lut->minPos;
    maxPos = lut->maxPos;
    baseSampleDistance = segmentLength;
    sampleDistance = opacityDistance;
    *source = *lut;
    ++generateCount;
    return true;
}

Vector4 PreintegratedLut::Lookup(float front, float back) const {
    if (table == nullptr) return Vector4(0.0f, 0.0f, 0.0f, 0.0f);
    return BindSegments(*this).Lookup(front, back);
}
