// Histogram of a volume's values, counted once on all processors, with the statistics that
// data-driven defaults are derived from: percentiles and Otsu's two-class threshold.
#pragma once

#include <cstdint>
#include <vector>

#include "KestrelExport.h"

class VolumeData;

// Bins are centred on values: bin b holds the samples nearest to minValue + b * binWidth, that
// is those in [centre - binWidth / 2, centre + binWidth / 2). An integer volume whose values
// span at most kMaxBins integers gets one bin per integer (binWidth 1, counts exact); any other
// volume gets kMaxBins bins with minValue and maxValue on the first and last centre. Samples
// that are not finite are left out. A copy is deep; holds no pointer. Not thread safe.
class KESTREL_STANDARD_API VolumeHistogram {
public:
    static constexpr int kMaxBins = 65536;

    double minValue = 0.0;              ///< lowest finite sample; 0 when empty
    double maxValue = 0.0;              ///< highest finite sample; 0 when empty
    double binWidth = 1.0;              ///< value span of one bin; 1 when empty
    std::uint64_t total = 0;            ///< samples counted
    std::vector<std::uint64_t> counts;  ///< samples per bin; empty before Compute

    /// Counts the samples of `volume` on all processors. A null volume, one without samples
    /// or without a finite sample leaves the histogram empty (total 0, no bins).
    void Compute(VolumeData* volume);

    /// Centre value of bin `bin`.
    double BinCentre(int bin) const { return minValue + double(bin) * binWidth; }

    /// The value below which `percent` (0 .. 100) of the counted samples above `above` lie,
    /// linearly interpolated within a bin and clamped to [minValue, maxValue]. Bins whose
    /// centre is not above `above` are left out; with none left, returns maxValue. 0 when
    /// empty.
    double CalculatePercentile(double percent, double above) const;

    /// Otsu's threshold: the value between two bins that maximises the between-class variance
    /// w0 w1 (m0 - m1)^2 of the samples below and above it. Bins whose centre lies above
    /// `highest` are left out: a few outliers far above the rest (a hot voxel, metal) would
    /// otherwise win the split; pass maxValue to keep all. Where several neighbouring cuts share
    /// the maximum (classes with a gap between them), the middle of them is taken. Fewer than
    /// two bins kept returns minValue.
    double CalculateOtsuThreshold(double highest) const;
};
