// Histogram counting on all processors, percentiles and Otsu's threshold.
#include "VolumeHistogram.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "VolumeData.h"
#include "kernels/KernelFrame.h"
#include "volume/SampleTypes.h"

namespace {

// One fan-out: each thread counts the z slabs index, index + N, ... into its own bins.
struct CountJob {
    const VolumeData* volume;
    double minValue;
    double inverseWidth;  // bins per value unit
    int binCount;
    bool exact;  // integer samples, one bin per integer from minValue
    std::vector<std::vector<std::uint64_t>>* perThread;
};

template <typename T>
void CountSlices(const CountJob& job, int threadCount, int threadIndex) {
    const std::size_t slice =
        std::size_t(job.volume->dimensions[0]) * std::size_t(job.volume->dimensions[1]);
    const T* const samples = static_cast<const T*>(job.volume->GetData());
    std::uint64_t* const bins = (*job.perThread)[std::size_t(threadIndex)].data();
    const double low = job.minValue, scale = job.inverseWidth;
    const int last = job.binCount - 1;
    for (int z = threadIndex; z < job.volume->dimensions[2]; z += threadCount) {
        const T* const row = samples + std::size_t(z) * slice;
        if constexpr (std::is_integral_v<T>) {
            if (job.exact) {
                // one bin per integer: b = value - min, within range by construction
                const long long first = (long long)low;
                for (std::size_t i = 0; i < slice; ++i)
                    ++bins[(long long)row[i] - first];
                continue;
            }
        }
        for (std::size_t i = 0; i < slice; ++i) {
            const double value = double(row[i]);
            if constexpr (!std::is_integral_v<T>) {
                if (!std::isfinite(value)) continue;
            }
            // nearest centre: b = round((value - min) / width)
            const int bin = int((value - low) * scale + 0.5);
            ++bins[std::min(std::max(bin, 0), last)];
        }
    }
}

void CountWorker(int threadCount, int threadIndex, void* userData) {
    const CountJob& job = *static_cast<const CountJob*>(userData);
    kestrel_volume::VisitSampleType(job.volume->dataType, [&](auto tag) {
        CountSlices<typename decltype(tag)::type>(job, threadCount, threadIndex);
    });
}

}  // namespace

void VolumeHistogram::Compute(VolumeData* volume) {
    *this = VolumeHistogram();
    if (volume == nullptr || volume->GetData() == nullptr) return;
    // Stays NaN when the volume's grid and samples do not match (GetMinMaxValue returns early).
    double low = std::nan(""), high = std::nan("");
    volume->GetMinMaxValue(low, high);
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) return;
    const bool integral = !volume->dataType.isFloat;
    const double span = high - low;
    int binCount = kMaxBins;
    const bool exact = integral && span + 1.0 <= double(kMaxBins);
    if (exact) {
        binCount = int(span) + 1;
        binWidth = 1.0;
    } else {
        binWidth = span > 0.0 ? span / double(kMaxBins - 1) : 1.0;
    }
    if (span == 0.0) binCount = 1;
    minValue = low;
    maxValue = high;

    std::vector<std::vector<std::uint64_t>> perThread(
        std::size_t(GetProcessorCount()), std::vector<std::uint64_t>(std::size_t(binCount), 0));
    CountJob job{volume, low, 1.0 / binWidth, binCount, exact, &perThread};
    RunOnProcessors(int(perThread.size()), &CountWorker, &job);
    counts.assign(std::size_t(binCount), 0);
    for (const std::vector<std::uint64_t>& bins : perThread)
        for (std::size_t b = 0; b < bins.size(); ++b)
            counts[b] += bins[b];
    for (std::uint64_t c : counts)
        total += c;
    if (total == 0) *this = VolumeHistogram();
}

double VolumeHistogram::CalculatePercentile(double percent, double above) const {
    if (counts.empty()) return 0.0;
    const int binCount = int(counts.size());
    int first = 0;
    while (first < binCount && !(BinCentre(first) > above))
        ++first;
    std::uint64_t kept = 0;
    for (int b = first; b < binCount; ++b)
        kept += counts[std::size_t(b)];
    if (kept == 0) return maxValue;
    const double target = std::min(std::max(percent, 0.0), 100.0) / 100.0 * double(kept);
    double before = 0.0;
    for (int b = first; b < binCount; ++b) {
        const double count = double(counts[std::size_t(b)]);
        if (count > 0.0 && before + count >= target) {
            // the bin's samples spread evenly over [centre - w/2, centre + w/2)
            const double value =
                BinCentre(b) - 0.5 * binWidth + (target - before) / count * binWidth;
            return std::min(std::max(value, minValue), maxValue);
        }
        before += count;
    }
    return maxValue;
}

double VolumeHistogram::CalculateOtsuThreshold(double highest) const {
    int binCount = int(counts.size());
    while (binCount > 0 && BinCentre(binCount - 1) > highest)
        --binCount;
    if (binCount < 2) return minValue;
    // Bin indices stand in for values: the variance ratio between cuts is the same.
    double weightAll = 0.0, sumAll = 0.0;
    for (int b = 0; b < binCount; ++b) {
        weightAll += double(counts[std::size_t(b)]);
        sumAll += double(b) * double(counts[std::size_t(b)]);
    }
    // Between-class variance of the cut after bin k: w0 w1 (m0 - m1)^2, with
    // w0 = n(<= k), m0 = s(<= k) / w0, w1 = N - w0, m1 = (S - s) / w1.
    std::vector<double> between(std::size_t(binCount - 1), 0.0);
    double weightBelow = 0.0, sumBelow = 0.0, best = 0.0;
    for (int k = 0; k + 1 < binCount; ++k) {
        weightBelow += double(counts[std::size_t(k)]);
        sumBelow += double(k) * double(counts[std::size_t(k)]);
        const double weightAbove = weightAll - weightBelow;
        if (weightBelow == 0.0 || weightAbove == 0.0) continue;
        const double difference = sumBelow / weightBelow - (sumAll - sumBelow) / weightAbove;
        between[std::size_t(k)] = weightBelow * weightAbove * difference * difference;
        best = std::max(best, between[std::size_t(k)]);
    }
    if (!(best > 0.0)) return minValue;
    // The first maximum and the neighbouring cuts that share it (equal up to rounding).
    const double tolerance = best * 1e-9;
    int first = 0;
    while (between[std::size_t(first)] < best - tolerance)
        ++first;
    int last = first;
    while (last + 1 < binCount - 1 && between[std::size_t(last + 1)] >= best - tolerance)
        ++last;
    // A cut after bin k lies at the bins' common edge, centre(k) + w/2.
    return BinCentre(first) + 0.5 * binWidth + 0.5 * double(last - first) * binWidth;
}
