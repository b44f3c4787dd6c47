// Defaults derived from a volume's histogram and orientation.
#include "DataDefaults.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "PatientView.h"
#include "RGBATransferFunction1D.h"
#include "VolumeData.h"

namespace {

constexpr int kMinTableSamples = 256;
constexpr int kMaxTableSamples = 4096;

// Enough table entries for `tableSamples` of them to fall between the threshold and `high`, so
// that a hot voxel stretching the range does not squeeze the tissue into a few entries.
int TableSamples(const DataDefaults& d) {
    const double span = d.histogram.maxValue - d.histogram.minValue;
    const double tissue = std::max(d.high - d.threshold, 1e-30);
    const double wanted = std::ceil(kMinTableSamples * span / tissue);
    return int(std::min(std::max(wanted, double(kMinTableSamples)), double(kMaxTableSamples)));
}

// The table ends in a transparent entry at its maximum: the range reaches one entry beyond the
// data's, so that the brightest samples keep the colour of the last point.
void SetRange(const DataDefaults& d, RGBATransferFunction1D& function) {
    const int samples = TableSamples(d);
    const double span = std::max(d.histogram.maxValue - d.histogram.minValue, 1e-30);
    function.RemoveAllPoints();
    function.SetMinPos(float(d.histogram.minValue));
    function.SetMaxPos(float(d.histogram.maxValue + span / double(samples - 2)));
    function.SetSampleNumber(samples);
}

// The last point's colour from `high` up to the data's maximum.
void HoldToMaximum(const DataDefaults& d, const Vector4& top, RGBATransferFunction1D& function) {
    function.AddPoint(float(d.high), top);
    if (d.histogram.maxValue > d.high) function.AddPoint(float(d.histogram.maxValue), top);
}

}  // namespace

DataDefaults ComputeDataDefaults(VolumeData& volume) {
    DataDefaults d;
    d.histogram.Compute(&volume);
    if (d.histogram.total == 0) return d;
    const double noOutliers = d.histogram.CalculatePercentile(
        DataDefaults::kOutlierPercent, -std::numeric_limits<double>::infinity());
    d.threshold = d.histogram.CalculateOtsuThreshold(noOutliers);
    d.low = d.histogram.CalculatePercentile(DataDefaults::kLowPercent, d.threshold);
    d.faint = d.histogram.CalculatePercentile(DataDefaults::kFaintPercent, d.threshold);
    d.median = d.histogram.CalculatePercentile(50.0, d.threshold);
    d.high = d.histogram.CalculatePercentile(DataDefaults::kHighPercent, d.threshold);
    // Percentiles within one bin (a plateau, a binary mask) say nothing about a window.
    d.usable = d.high - d.low > d.histogram.binWidth && d.high > d.threshold;
    return d;
}

Quaternion StartRotation(bool patientFrame, const std::string& viewFrom) {
    PatientView view = pvAnterior;
    const bool named = ParsePatientView(viewFrom.c_str(), &view);
    return patientFrame || named ? CalculatePatientViewRotation(view) : Quaternion();
}

void DefaultWindow(const DataDefaults& defaults, float* width, float* centre) {
    *width = float(defaults.high - defaults.low);
    *centre = float(0.5 * (defaults.low + defaults.high));
}

void MakeDefaultTransferFunction(const DataDefaults& d, RGBATransferFunction1D& function) {
    SetRange(d, function);
    // band: a few percent of the tissue's span above the cut, which stays transparent
    const double band = 0.04 * (d.high - d.threshold);
    const double surface = d.threshold + band;
    const double behind = std::min(d.threshold + 3.0 * band, 0.5 * (surface + d.median));
    function.AddPoint(float(d.threshold), Vector4(0.8f, 0.55f, 0.45f, 0.0f));
    function.AddPoint(float(surface), Vector4(0.9f, 0.65f, 0.55f, 0.3f));
    function.AddPoint(float(behind), Vector4(0.9f, 0.7f, 0.6f, 0.03f));
    function.AddPoint(float(std::max(d.median, behind)), Vector4(0.95f, 0.85f, 0.75f, 0.12f));
    HoldToMaximum(d, Vector4(1.0f, 1.0f, 1.0f, 0.7f), function);
}

void MakeRelativeMRFunction(const DataDefaults& d, RGBATransferFunction1D& function) {
    SetRange(d, function);
    function.AddPoint(float(d.threshold), Vector4(0.0f, 0.0f, 0.0f, 0.0f));
    function.AddPoint(float(d.faint), Vector4(0.6f, 0.5f, 0.45f, 0.05f));
    function.AddPoint(float(d.median), Vector4(0.9f, 0.8f, 0.7f, 0.25f));
    HoldToMaximum(d, Vector4(1.0f, 1.0f, 1.0f, 0.6f), function);
}

std::string DescribeDataDefaults(const DataDefaults& d) {
    if (d.histogram.total == 0) return "histogram:   no finite samples\n";
    char text[400];
    std::snprintf(text, sizeof(text),
                  "histogram:   %zu bins of width %g\n"
                  "threshold:   %g (background/tissue, Otsu; default isovalue)\n"
                  "percentiles: %g / %g / %g / %g at %g / %g / 50 / %g%% of the voxels above "
                  "the threshold (MIP window from the first to the last)\n",
                  d.histogram.counts.size(), d.histogram.binWidth, d.threshold, d.low, d.faint,
                  d.median, d.high, DataDefaults::kLowPercent, DataDefaults::kFaintPercent,
                  DataDefaults::kHighPercent);
    return text;
}
