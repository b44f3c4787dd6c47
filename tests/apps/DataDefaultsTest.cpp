// Defaults from the data: the histogram's threshold and percentiles against the same statistics
// worked out on the sorted samples, and the window, isovalue and functions derived from them,
// on two-class mixtures with and without a hot voxel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "DataDefaults.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionEdit.h"
#include "VolumeData.h"

namespace {

// A 32 x 32 x 24 volume: `background` of the samples from the first class, the rest from the
// second, each spread evenly over its [low, high] by a fixed-seed generator; optionally one hot
// voxel. Samples are stored as T.
struct Mixture {
    const char* name;
    DataType type;
    double background, low0, high0, low1, high1;
    double hot;  // 0: none
};

template <typename T>
std::vector<double> Fill(VolumeData& volume, const Mixture& m) {
    const int dims[3] = {32, 32, 24};
    volume.SetDataType(m.type);
    volume.SetDimensions(dims);
    volume.Allocate();
    T* samples = static_cast<T*>(volume.GetData());
    const int count = dims[0] * dims[1] * dims[2];
    std::vector<double> values;
    unsigned state = 12345u;
    for (int i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const double u = double(state >> 8) / double(1u << 24);
        const bool first = double(i) < m.background * count;
        double v = first ? m.low0 + u * (m.high0 - m.low0) : m.low1 + u * (m.high1 - m.low1);
        if (m.hot != 0.0 && i == count / 2) v = m.hot;
        samples[i] = T(v);
        values.push_back(double(samples[i]));
    }
    std::sort(values.begin(), values.end());
    return values;
}

// Otsu on the sorted samples up to their kOutlierPercent-th percentile: the cut between
// neighbouring distinct values that maximises w0 w1 (m0 - m1)^2, the middle of the tied cuts
// when several share the maximum.
double ReferenceThreshold(std::vector<double> v) {
    v.resize(std::size_t(std::ceil(DataDefaults::kOutlierPercent / 100.0 * double(v.size()))));
    double total = 0.0;
    for (double x : v)
        total += x;
    double below = 0.0, best = -1.0, first = 0.0, last = 0.0;
    for (std::size_t n = 1; n < v.size(); ++n) {
        below += v[n - 1];
        if (v[n] == v[n - 1]) continue;
        const double w0 = double(n), w1 = double(v.size() - n);
        const double d = below / w0 - (total - below) / w1;
        const double between = w0 * w1 * d * d;
        const double cut = 0.5 * (v[n - 1] + v[n]);
        if (between > best * (1.0 + 1e-9))
            best = between, first = last = cut;
        else if (between >= best * (1.0 - 1e-9))
            last = cut;
    }
    return 0.5 * (first + last);
}

// Nearest-rank percentile of the samples above `cut`.
double ReferencePercentile(const std::vector<double>& v, double percent, double cut) {
    const auto start = std::upper_bound(v.begin(), v.end(), cut);
    const std::size_t n = std::size_t(v.end() - start);
    const std::size_t rank = std::size_t(std::ceil(percent / 100.0 * double(n)));
    return *(start + std::max<std::size_t>(rank, 1) - 1);
}

// The defaults of `m` against the sorted samples, and against `m` without its hot voxel.
template <typename T>
void CheckMixture(const Mixture& m) {
    SCOPED_TRACE(m.name);
    Mixture cool = m;
    cool.hot = 0.0;
    VolumeData volume, coolVolume;
    const std::vector<double> values = Fill<T>(volume, m);
    Fill<T>(coolVolume, cool);
    const DataDefaults d = ComputeDataDefaults(volume);
    const DataDefaults c = ComputeDataDefaults(coolVolume);
    ASSERT_EQ(d.histogram.total, values.size());  // every sample counted once, on all threads
    const double tolerance = std::max(1.0, d.histogram.binWidth);
    // The threshold between bins falls where the sorted samples put it, within a bin.
    const double threshold = ReferenceThreshold(values);
    EXPECT_NEAR(d.threshold, threshold, tolerance);
    EXPECT_GT(d.threshold, m.high0);
    EXPECT_LT(d.threshold, m.low1);
    EXPECT_NEAR(d.low, ReferencePercentile(values, DataDefaults::kLowPercent, threshold),
                tolerance);
    EXPECT_NEAR(d.high, ReferencePercentile(values, DataDefaults::kHighPercent, threshold),
                tolerance);
    // The window (low to high) moves by a bin at most for a hot voxel.
    EXPECT_NEAR(d.low, c.low, tolerance);
    EXPECT_NEAR(d.high, c.high, tolerance);
    // Both functions: background transparent, the top of the tissue bright and fairly opaque.
    RGBATransferFunction1D full, mr;
    MakeDefaultTransferFunction(d, full);
    MakeRelativeMRFunction(d, mr);
    for (RGBATransferFunction1D* f : {&full, &mr}) {
        EXPECT_EQ(ColourAt(*f, float(m.low0)).w, 0.0f);
        EXPECT_EQ(ColourAt(*f, float(m.high0)).w, 0.0f);
        EXPECT_GT(ColourAt(*f, float(d.high)).w, 0.5f);
        EXPECT_GT(ColourAt(*f, float(d.histogram.maxValue)).w, 0.5f);  // held to the top
    }
}

TEST(DataDefaultsTest, ThresholdPercentilesWindowAndFunctionsFollowTheHistogram) {
    // Background and tissue with a gap between; hot voxels at 300 and 100 times the top.
    CheckMixture<unsigned char>({"uint8", VolumeData::dtUint8, 0.6, 0, 20, 100, 200, 0});
    CheckMixture<unsigned short>({"uint16 hot", VolumeData::dtUint16, 0.6, 0, 20, 100, 200, 6e4});
    // Signed samples (counted by value with the sign bit flipped) and 32-bit integers.
    CheckMixture<signed char>({"int8", VolumeData::dtInt8, 0.6, -128, -100, 0, 100, 0});
    CheckMixture<short>({"int16 CT hot", VolumeData::dtInt16, 0.6, -1024, -990, 0, 1500, 3e4});
    CheckMixture<int>({"int32 hot", VolumeData::dtInt32, 0.6, -50, 20, 100, 200, 2e5});
    CheckMixture<float>({"float T1", VolumeData::dtFloat32, 0.7, 0, 40, 150, 383, 0});
    CheckMixture<float>({"float T1 hot", VolumeData::dtFloat32, 0.7, 0, 40, 150, 383, 38300});
}

}  // namespace
