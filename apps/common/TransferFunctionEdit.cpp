// The transfer-function editor's edits.
#include "TransferFunctionEdit.h"

#include <cmath>

#include "RGBATransferFunction1D.h"
#include "VolumeData.h"

namespace {

template <typename T>
void CountSamples(const T* samples, size_t count, double low, double high, int bins,
                  std::vector<double>& histogram) {
    const double scale = bins / (high - low);
    for (size_t i = 0; i < count; ++i) {
        const double v = double(samples[i]);
        if (!(v >= low && v <= high)) continue;  // outside, or NaN
        int bin = int((v - low) * scale);
        if (bin >= bins) bin = bins - 1;
        histogram[size_t(bin)] += 1.0;
    }
}

float Clamp(float value, float low, float high) {
    return value < low ? low : (value > high ? high : value);
}

}  // namespace

std::vector<double> ValueHistogram(VolumeData& volume, double low, double high, int bins) {
    std::vector<double> histogram(size_t(bins > 0 ? bins : 0), 0.0);
    const void* data = volume.GetData();
    if (bins <= 0 || data == nullptr || !(high > low)) return histogram;
    int dims[3];
    volume.GetDimensions(dims);
    const size_t count = size_t(dims[0]) * size_t(dims[1]) * size_t(dims[2]);
    const DataType type = volume.GetDataType();
    if (type.isFloat)
        CountSamples(static_cast<const float*>(data), count, low, high, bins, histogram);
    else if (type.bitCount == 8 && type.isSigned)
        CountSamples(static_cast<const signed char*>(data), count, low, high, bins, histogram);
    else if (type.bitCount == 8)
        CountSamples(static_cast<const unsigned char*>(data), count, low, high, bins, histogram);
    else if (type.bitCount == 16 && type.isSigned)
        CountSamples(static_cast<const short*>(data), count, low, high, bins, histogram);
    else if (type.bitCount == 16)
        CountSamples(static_cast<const unsigned short*>(data), count, low, high, bins, histogram);
    else if (type.bitCount == 32 && type.isSigned)
        CountSamples(static_cast<const int*>(data), count, low, high, bins, histogram);
    else if (type.bitCount == 32)
        CountSamples(static_cast<const unsigned int*>(data), count, low, high, bins, histogram);
    return histogram;
}

int PointNear(const RGBATransferFunction1D& function, float value, float alpha, float valueRadius,
              float alphaRadius) {
    int best = -1;
    float bestDistance = 0.0f;
    for (int i = 0; i < function.GetPointCount(); ++i) {
        const float dv = std::abs(function.GetPos(i) - value) / valueRadius;
        const float da = std::abs(function.GetValue(i).w - alpha) / alphaRadius;
        if (dv > 1.0f || da > 1.0f) continue;
        const float distance = dv * dv + da * da;
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

int MovePoint(RGBATransferFunction1D& function, int index, float value, float alpha) {
    if (index < 0 || index >= function.GetPointCount()) return index;
    Vector4 rgba = function.GetValue(index);
    rgba.w = Clamp(alpha, 0.0f, 1.0f);
    function.RemovePoint(index);
    return function.AddPoint(Clamp(value, function.GetMinPos(), function.GetMaxPos()), rgba);
}

Vector4 ColourAt(RGBATransferFunction1D& function, float value) {
    const int count = function.GetSampleNumber();
    const Vector4* table = function.GetData();
    const float low = function.GetMinPos(), high = function.GetMaxPos();
    if (table == nullptr || count < 2 || !(high > low)) return Vector4(0.f, 0.f, 0.f, 0.f);
    const float x = (value - low) / (high - low) * float(count - 1);
    if (!(x >= 0.0f) || x > float(count - 1)) return Vector4(0.f, 0.f, 0.f, 0.f);
    const int i = x >= float(count - 1) ? count - 2 : int(x);
    const float f = x - float(i);
    const Vector4& a = table[i];
    const Vector4& b = table[i + 1];
    return Vector4(a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f,
                   a.w + (b.w - a.w) * f);
}
