// The volume a view shows, as both tools take it from the command line: a volume file (a scan
// or a structured file), a raw file with its grid, or the built-in phantom; and the cropping
// box applied to it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DataDefaults.h"
#include "DataType.h"
#include "ScanLoader.h"

namespace CLI {
class App;
}

struct VolumeOptions {
    std::string file;            // volume file (positional VOLUME): scan or structured
    std::string series;          // --series S (DICOM VOLUME only)
    int volumeNumber = 0;        // --volume N (4-D NIfTI or NRRD VOLUME only)
    std::string raw;             // --raw FILE
    std::vector<int> dims;       // --dims X Y Z (raw only)
    std::string typeName;        // --type T (raw only)
    std::vector<float> spacing;  // --spacing SX SY SZ (raw only; default 1 1 1)
    int phantomSize = 256;       // --phantom-size N (no file only)
    std::vector<float> crop;     // --crop X0 X1 Y0 Y1 Z0 Z1, voxel coordinates
    std::string description = "the built-in head phantom";  // set by Load: the file or phantom
    ScanInfo scanInfo;      // set by Load of a VOLUME: what the file held and what was done
    std::string viewFrom;   // --view-from anterior|posterior|left|right|superior|inferior
    DataDefaults defaults;  // set by Load: histogram, derived defaults and the camera's start

    // Adds VOLUME, --series, --volume, --raw, --dims, --type, --spacing, --phantom-size,
    // --crop and --view-from to `app`.
    void AddTo(CLI::App& app);
    // True when any of them was given (a view without a volume refuses them).
    bool AnyGiven(const CLI::App& app) const;
    // Checks the combination after parsing; throws InputError naming the option.
    void Check(const CLI::App& app);
    // Loads the volume (throws InputError naming the file), checks its spacings and the crop box
    // against it, prints on stderr how many samples are not finite, if any, and derives
    // `defaults` from its samples and orientation.
    std::unique_ptr<VolumeData> Load(const char* program);
};

// Spacings whose physical extents, bounding sphere and camera distance stay well inside single
// precision for every grid a volume can have (up to 2^31 voxels along an axis).
constexpr float kMinSpacing = 1e-6f;
constexpr float kMaxSpacing = 1e6f;
// Throws InputError "<where>: spacing S is outside the usable range ..." for a spacing outside
// [kMinSpacing, kMaxSpacing]: it would overflow or underflow the camera maths.
void CheckSpacings(const float spacings[3], const std::string& where);
// Magnifications whose camera maths stays finite and meaningful.
constexpr float kMinZoom = 1e-4f;
constexpr float kMaxZoom = 1e4f;
