// Running sums of a transfer-function table's opacities, for the constant-time test whether the
// table is transparent over a whole range of scalar values (empty-space skipping).
#pragma once

#include <cmath>
#include <cstdint>

#include "KestrelExport.h"
#include "Lut1D.h"

// alphaSum layout: sampleCount + 1 floats (4 bytes each); alphaSum[0] = 0 and
// alphaSum[i + 1] = alphaSum[i] + (opacity of entry i), summed in single precision in increasing
// i. The opacity sum of entries a .. b - 1 is alphaSum[b] - alphaSum[a]; with opacities not
// negative it is zero exactly when all those entries are transparent.
//
// A snapshot: it does not follow later changes of the table and is rebuilt by
// CalculateTFEmptySpace after every change (the full volume-rendering scenes do so every frame).
//
// Ownership: `alphaSum` is owned (new[] / delete[]). A copy is deep (its own sums with the same
// values). Built on one thread, then read by any number of threads. A null table makes
// CalculateTFEmptySpace a no-op; a table whose entries were never allocated counts as
// transparent.
class KESTREL_STANDARD_API TFEmptySpace {
public:
    int32_t sampleCount;  ///< copied from the table; default 0
    float minPos;         ///< copied from the table; default 0
    float maxPos;         ///< copied from the table; default 0 (not 1)
    float* alphaSum;      ///< sampleCount + 1 running sums; owned; null until calculated

    TFEmptySpace();
    ~TFEmptySpace();
    /// Deep copy: the three values and sums of its own.
    TFEmptySpace(const TFEmptySpace& other);
    TFEmptySpace& operator=(const TFEmptySpace& other);

    /// Rebuilds the sums from `lut`: copies its sampleCount, minPos and maxPos and sums its
    /// opacities. A sampleCount of 0 or less gives the single sum 0.
    void CalculateTFEmptySpace(const Lut1D* lut);

    /// Whether a scalar range [lo, hi] can contribute any opacity (see TFRangeTest). False
    /// before the sums exist.
    bool RangeIsVisible(float lo, float hi) const;
};

// The visibility test of a value range, with the table mapping computed once (a kernel builds one
// per frame and asks it once per grid cell).
//
// The kernels interpolate linearly between entries floor(x) and floor(x) + 1 at table position
// x, with a zero weight on the upper one at whole x. Every value of [lo, hi] therefore reads only
// entries floor(x(lo)) .. ceil(x(hi)), and the range is transparent exactly when those entries
// sum to zero: alphaSum[ceil(x(hi)) + 1] == alphaSum[floor(x(lo))]. Positions are clamped into
// the table first (0 .. count - 1), as classification takes entry 0 below the range and the last
// entry above it; a NaN bound widens the test to the whole table.
// Example: count 256 over 0 .. 255 gives x(v) = v; the values 10 .. 20 test
// alphaSum[21] > alphaSum[10], entries 10 to 20.
struct TFRangeTest {
    const float* alphaSum = nullptr;  // the sums, not owned
    float last = 0.f;                 // count - 1, the largest table position
    TableMapping mapping;

    TFRangeTest() = default;
    explicit TFRangeTest(const TFEmptySpace& table)
        : alphaSum(table.alphaSum),
          last(float(table.sampleCount - 1)),
          mapping(table.sampleCount, table.minPos, table.maxPos) {}

    // Position clamped to [0, last]; NaN gives `nan`.
    KESTREL_HOST_DEVICE float Clamp(float x, float nan) const {
        if (x != x) return nan;
        if (!(x > 0.f)) return 0.f;
        return x < last ? x : last;
    }

    KESTREL_HOST_DEVICE bool RangeIsVisible(float lo, float hi) const {
        const int first = int(std::floor(Clamp(mapping.Position(lo), 0.f)));
        const int end = int(std::ceil(Clamp(mapping.Position(hi), last))) + 1;
        return alphaSum[end] > alphaSum[first];
    }
};
