// Histogram counting on all processors, percentiles and Otsu's threshold.
#include "VolumeHistogram.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

#include "VolumeData.h"
#include "kernels/KernelFrame.h"
#include "volume/SampleTypes.h"

namespace {

using kestrel_volume::SampleVolumeBytes;

// The samples [begin, end) of one worker: an equal share of the buffer, in one piece.
struct SampleRange {
    std::size_t begin, end;
    SampleRange(std::size_t count, int threadCount, int threadIndex)
        : begin(count * std::size_t(threadIndex) / std::size_t(threadCount)),
          end(count * std::size_t(threadIndex + 1) / std::size_t(threadCount)) {}
};

// 8- and 16-bit samples: one counter per possible sample value, so that a single pass gives the
// range and the exact counts. Each worker counts into two tables, even and odd samples apart, so
// that a run of equal samples does not wait on its own increments. A volume stays below 2^31
// samples: 32-bit counters do not overflow.
template <typename T>
struct NarrowCount {
    static constexpr std::size_t kValues = std::size_t(1) << (8 * sizeof(T));
    const T* samples;
    std::size_t count;
    std::vector<std::uint32_t> tables;  // per worker: two tables of kValues counters

    static std::size_t Slot(T value) {
        // value - lowest(T): 0 .. kValues - 1
        return std::size_t(std::make_unsigned_t<T>(value));
    }
    static T ValueOf(std::size_t slot) { return T(std::make_unsigned_t<T>(slot)); }

    static void Worker(int threadCount, int threadIndex, void* userData) {
        NarrowCount& job = *static_cast<NarrowCount*>(userData);
        std::uint32_t* const even = job.tables.data() + 2 * kValues * std::size_t(threadIndex);
        std::uint32_t* const odd = even + kValues;
        const SampleRange range(job.count, threadCount, threadIndex);
        std::size_t i = range.begin;
        for (; i + 1 < range.end; i += 2) {
            ++even[Slot(job.samples[i])];
            ++odd[Slot(job.samples[i + 1])];
        }
        if (i < range.end) ++even[Slot(job.samples[i])];
    }
};

// Fills `histogram` from 8- or 16-bit samples; every value range fits kMaxBins one-integer bins.
template <typename T>
void CountNarrow(const T* samples, std::size_t count, VolumeHistogram& histogram) {
    using Count = NarrowCount<T>;
    const int threads = GetProcessorCount();
    Count job{samples, count,
              std::vector<std::uint32_t>(2 * Count::kValues * std::size_t(threads))};
    RunOnProcessors(threads, &Count::Worker, &job);
    // In value order, T's lowest value first: a signed type's slots with the sign bit flipped.
    const std::size_t sign = std::is_signed_v<T> ? Count::kValues / 2 : 0;
    std::vector<std::uint64_t> perValue(Count::kValues, 0);
    for (std::size_t table = 0; table < 2 * std::size_t(threads); ++table)
        for (std::size_t slot = 0; slot < Count::kValues; ++slot)
            perValue[slot ^ sign] += job.tables[table * Count::kValues + slot];
    std::size_t first = 0, last = Count::kValues - 1;
    while (first < last && perValue[first] == 0)
        ++first;
    while (last > first && perValue[last] == 0)
        --last;
    histogram.minValue = double(Count::ValueOf(first ^ sign));
    histogram.maxValue = double(Count::ValueOf(last ^ sign));
    histogram.binWidth = 1.0;
    histogram.counts.assign(perValue.begin() + std::ptrdiff_t(first),
                            perValue.begin() + std::ptrdiff_t(last) + 1);
}

// 32-bit samples, first pass: the range of the finite samples, per worker.
template <typename T>
struct RangeJob {
    const T* samples;
    std::size_t count;
    std::vector<double> low, high;  // per worker; NaN when it saw no finite sample

    static void Worker(int threadCount, int threadIndex, void* userData) {
        RangeJob& job = *static_cast<RangeJob*>(userData);
        const SampleRange range(job.count, threadCount, threadIndex);
        bool any = false;
        T lo = T(), hi = T();
        for (std::size_t i = range.begin; i < range.end; ++i) {
            const T s = job.samples[i];
            if constexpr (std::is_floating_point_v<T>) {
                if (!std::isfinite(s)) continue;
            }
            if (!any || lo > s) lo = s;
            if (!any || hi < s) hi = s;
            any = true;
        }
        job.low[std::size_t(threadIndex)] = any ? double(lo) : std::nan("");
        job.high[std::size_t(threadIndex)] = any ? double(hi) : std::nan("");
    }
};

// Second pass: samples to bins, nearest centre (exact: one bin per integer from the minimum).
template <typename T>
struct BinJob {
    const T* samples;
    std::size_t count;
    double low;
    double inverseWidth;  // bins per value unit
    int binCount;
    bool exact;
    std::vector<std::uint32_t> tables;  // per worker: binCount counters

    static void Worker(int threadCount, int threadIndex, void* userData) {
        BinJob& job = *static_cast<BinJob*>(userData);
        std::uint32_t* const bins =
            job.tables.data() + std::size_t(job.binCount) * std::size_t(threadIndex);
        const SampleRange range(job.count, threadCount, threadIndex);
        const int last = job.binCount - 1;
        if constexpr (std::is_integral_v<T>) {
            if (job.exact) {
                const long long first = (long long)job.low;
                for (std::size_t i = range.begin; i < range.end; ++i)
                    ++bins[(long long)job.samples[i] - first];
                return;
            }
        }
        for (std::size_t i = range.begin; i < range.end; ++i) {
            const double value = double(job.samples[i]);
            if constexpr (!std::is_integral_v<T>) {
                if (!std::isfinite(value)) continue;
            }
            // nearest centre: b = round((value - min) / width)
            const int bin = int((value - job.low) * job.inverseWidth + 0.5);
            ++bins[std::min(std::max(bin, 0), last)];
        }
    }
};

// Fills `histogram` from 32-bit samples: their finite range, then kMaxBins bins over it (one per
// integer where an integer range fits). Leaves it empty without a finite sample.
template <typename T>
void CountWide(const T* samples, std::size_t count, VolumeHistogram& histogram) {
    const int threads = GetProcessorCount();
    RangeJob<T> range{samples, count, std::vector<double>(std::size_t(threads)),
                      std::vector<double>(std::size_t(threads))};
    RunOnProcessors(threads, &RangeJob<T>::Worker, &range);
    double low = std::nan(""), high = std::nan("");
    for (int t = 0; t < threads; ++t) {
        low = std::fmin(low, range.low[std::size_t(t)]);  // fmin and fmax pass over NaN
        high = std::fmax(high, range.high[std::size_t(t)]);
    }
    if (!std::isfinite(low) || !std::isfinite(high)) return;
    const double span = high - low;
    const bool exact = std::is_integral_v<T> && span + 1.0 <= double(VolumeHistogram::kMaxBins);
    int binCount = exact ? int(span) + 1 : VolumeHistogram::kMaxBins;
    histogram.binWidth = exact ? 1.0 : (span > 0.0 ? span / double(binCount - 1) : 1.0);
    if (span == 0.0) binCount = 1;
    histogram.minValue = low;
    histogram.maxValue = high;
    BinJob<T> bins{samples,
                   count,
                   low,
                   1.0 / histogram.binWidth,
                   binCount,
                   exact,
                   std::vector<std::uint32_t>(std::size_t(binCount) * std::size_t(threads))};
    RunOnProcessors(threads, &BinJob<T>::Worker, &bins);
    histogram.counts.assign(std::size_t(binCount), 0);
    for (int t = 0; t < threads; ++t)
        for (int b = 0; b < binCount; ++b)
            histogram.counts[std::size_t(b)] +=
                bins.tables[std::size_t(t) * std::size_t(binCount) + std::size_t(b)];
}

}  // namespace

void VolumeHistogram::Compute(VolumeData* volume) {
    *this = VolumeHistogram();
    std::size_t bytes = 0;
    if (volume == nullptr || volume->GetData() == nullptr ||
        !SampleVolumeBytes(volume->dataType, volume->dimensions, bytes) ||
        bytes > volume->HeldBytes())
        return;
    const std::size_t count = bytes / std::size_t(volume->dataType.bitCount >> 3);
    kestrel_volume::VisitSampleType(volume->dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        const T* const samples = static_cast<const T*>(volume->GetData());
        if constexpr (sizeof(T) <= 2)
            CountNarrow(samples, count, *this);
        else
            CountWide(samples, count, *this);
    });
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
