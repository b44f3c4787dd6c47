// What the tools derive from a loaded volume before they show it: the histogram of its values,
// the grey window, isovalue and transfer function that follow from it, and the camera's start
// from the volume's orientation. The library scenes keep their own defaults; the tools apply
// these on top unless the user chose (--window, --isovalue, --tf).
#pragma once

#include <string>

#include "Quaternion.h"
#include "VolumeHistogram.h"

class RGBATransferFunction1D;
class VolumeData;

struct DataDefaults {
    static constexpr double kLowPercent = 0.5;       // window bottom, percentile of the tissue
    static constexpr double kHighPercent = 99.5;     // window top
    static constexpr double kFaintPercent = 10.0;    // where the MR function's tissue begins
    static constexpr double kOutlierPercent = 99.9;  // samples above it do not steer the threshold

    VolumeHistogram histogram;  // all finite samples
    bool usable = false;     // low to high spans more than a bin; false: the scenes' own defaults
    double threshold = 0.0;  // Otsu's background/tissue cut: the default isovalue
    double low = 0.0;        // kLowPercent-th percentile of the voxels above the threshold
    double faint = 0.0;      // kFaintPercent-th percentile of them
    double median = 0.0;     // 50th percentile of them
    double high = 0.0;       // kHighPercent-th percentile of them
    bool patientFrame = false;  // the voxel axes are the patient's (left, posterior, superior)
    Quaternion startRotation;   // camera rotation of the first frame (identity: the scenes')
};

// The histogram (counted on all processors) and the values derived from it.
DataDefaults ComputeDataDefaults(VolumeData& volume);

// The camera's start: the named view ("anterior", ..., or empty for anterior) for a volume in
// the patient frame or when a view is named; the identity otherwise.
Quaternion StartRotation(bool patientFrame, const std::string& viewFrom);

// The grey window from `low` to `high`: width = high - low, centre = (low + high) / 2.
void DefaultWindow(const DataDefaults& defaults, float* width, float* centre);

// The full view's function when none is named: transparent up to the threshold, the outer
// surface (a thin band just above it) faint and skin-coloured, the tissue behind it rising to
// opaque white at `high` and held there up to the maximum. Over the whole value range.
void MakeDefaultTransferFunction(const DataDefaults& defaults, RGBATransferFunction1D& function);

// The MR preset placed on the data: transparent up to the threshold, faint tissue at the 10th
// percentile, mid-grey at the median, bright and fairly opaque from `high` up.
void MakeRelativeMRFunction(const DataDefaults& defaults, RGBATransferFunction1D& function);

// Lines for --info: the threshold and the percentiles used.
std::string DescribeDataDefaults(const DataDefaults& defaults);
