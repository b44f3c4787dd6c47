// KestrelIO: opens scanner volumes (DICOM series, NIfTI, NRRD) and structured volume files as
// one axis-aligned VolumeData, and says what was done to get there.
#ifndef KESTREL_SCAN_LOADER_H
#define KESTREL_SCAN_LOADER_H

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "KestrelExport.h"
#include "VolumeData.h"

enum class ScanFormat { Unknown, Structured, Dicom, Nifti, Nrrd };

/// "structured", "DICOM", "NIfTI", "NRRD" or "unknown".
KESTREL_IO_API const char* ScanFormatName(ScanFormat format);

// Bad or unsupported input. what() is one line that starts with the path of the offending file
// (or folder) and says what is wrong with it.
class KESTREL_IO_API ScanError : public std::runtime_error {
public:
    explicit ScanError(const std::string& message) : std::runtime_error(message) {}
};

struct ScanLoadOptions {
    /// DICOM: the series to open, as its Series Instance UID, its Series Number or its
    /// position (1, 2, ...) in ListDicomSeries; empty: the series with the most images.
    std::string series;
    /// NIfTI and NRRD with a fourth axis: the volume to open, from 0; default 0 (the first).
    int volume = 0;
    /// Called now and then during a load with the fraction done (0 to 1); may be empty.
    std::function<void(double fraction)> progress;
    /// NIfTI and NRRD: read the header only; the volume then has its dimensions, spacings and
    /// sample type but no samples (GetData() is null). Default false: the whole volume.
    bool headerOnly = false;
};

// What a load found and what it did. Voxel axes of the result run along increasing scanner
// coordinates: x, y, z of DICOM's patient frame (left, posterior, superior), to which NIfTI's
// right-anterior-superior frame is turned; NRRD files without an anatomical space keep theirs.
struct ScanInfo {
    ScanFormat format = ScanFormat::Unknown;  ///< format read
    std::string storedType;                   ///< sample type in the file, e.g. "int16", "float64"
    bool rescaled = false;                    ///< values are slope * stored + intercept
    double slope = 1.0;                       ///< rescale slope (the first slice's, for DICOM)
    double intercept = 0.0;                   ///< rescale intercept (the first slice's, for DICOM)
    std::string chosen;            ///< the series or volume opened, when there was a choice
    int axisOrder[3] = {0, 1, 2};  ///< file axis drawn as x, y, z
    bool axisFlipped[3] = {false, false, false};  ///< whether that axis was reversed
    bool oblique = false;                         ///< axes are tilted against the scanner axes
    double obliqueDegrees = 0.0;                  ///< largest tilt of a voxel axis, degrees
    /// x, y, z are the patient's left, posterior, superior: DICOM, NIfTI with a qform or
    /// sform, NRRD in an anatomical space; false for file axes drawn as they are
    bool patientFrame = false;
    std::vector<std::string> notes;  ///< one line each: orientation, spacing, volume choice
};

// One DICOM series found in a folder.
struct DicomSeriesSummary {
    std::string uid;          ///< Series Instance UID
    std::string number;       ///< Series Number, may be empty
    std::string modality;     ///< e.g. "CT", may be empty
    std::string description;  ///< Series Description, may be empty
    int images = 0;           ///< image files (or frames of one multi-frame file)
    int columns = 0;          ///< image width of the first image
    int rows = 0;             ///< image height of the first image
};

/// The format of `path`, from its content first and its name second: a folder or a DICOMDIR
/// is DICOM. Unknown when neither tells, and for a path that does not exist or is not a
/// regular file or folder (a pipe is not opened).
KESTREL_IO_API ScanFormat DetectScanFormat(const std::string& path);

/// Reads `path` as one volume. Throws ScanError for bad or unsupported input and nothing is
/// returned then; std::bad_alloc when memory runs out. `info` may be null.
KESTREL_IO_API std::unique_ptr<VolumeData> LoadScan(const std::string& path,
                                                    const ScanLoadOptions& options, ScanInfo* info);

/// The DICOM series under a folder (or a DICOMDIR's folder, or one file), largest first.
/// Throws ScanError when there is none.
KESTREL_IO_API std::vector<DicomSeriesSummary> ListDicomSeries(const std::string& path);

#endif  // KESTREL_SCAN_LOADER_H
