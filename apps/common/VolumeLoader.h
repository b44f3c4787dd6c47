// Loading volumes for the applications: structured files, raw files, scans (DICOM, NIfTI, NRRD
// through KestrelIO) and the built-in phantom, with every check a library reader leaves out,
// so that bad input becomes one clear message.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "DataType.h"
#include "ScanLoader.h"

// Bad input of the user (a file, an option value). what() is one line that names the file or
// option and says what is wrong, without a program prefix.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

// Sample type from its name: int8, uint8, int16, uint16, int32, uint32, float32 (or float).
// Returns false for any other name.
bool ParseDataTypeName(const std::string& name, DataType* type);
// The name of a sample type as ParseDataTypeName accepts it ("?" for none of the seven).
std::string DataTypeName(const DataType& type);

// Reads a structured volume file (32-byte header, then the samples). The header is checked
// before anything is allocated: positive dimensions, finite positive spacings, a known sample
// type, at most 2^31 - 1 sample bytes, and a file length of exactly 32 + sample bytes.
// Throws InputError naming `path`, std::bad_alloc when memory runs out.
std::unique_ptr<VolumeData> LoadStructuredVolume(const std::string& path);

// Reads a raw sample file of dims[0] x dims[1] x dims[2] samples of `type`, x fastest, little
// endian, no header; its length must be exactly the sample bytes. Throws InputError naming
// `path`, std::bad_alloc when memory runs out.
std::unique_ptr<VolumeData> LoadRawVolume(const std::string& path, const int dims[3],
                                          const DataType& type, const float spacings[3]);

// Choices for a volume file given on the command line.
struct VolumeFileChoice {
    std::string series;       // DICOM: --series UID, number or position; empty: the largest
    int volume = 0;           // NIfTI, NRRD with a fourth axis: --volume N (from 0)
    bool headerOnly = false;  // NIfTI, NRRD: the header only, no samples (--info)
};

// Reads a volume file of any format the applications open, detected by content and name: a
// DICOM folder, DICOMDIR or file, NIfTI (.nii, .nii.gz, .hdr/.img), NRRD (.nrrd, .nhdr);
// anything else is read as a structured volume file (LoadStructuredVolume). On a terminal, a
// load that takes more than a second shows one progress line on stderr. Throws InputError
// naming the file. `info` (may be null) receives what the load found and did.
std::unique_ptr<VolumeData> LoadVolumeFile(const std::string& path, const VolumeFileChoice& choice,
                                           ScanInfo* info);

// Samples a ray may take across the volume: more run for minutes and add nothing visible.
constexpr double kMaxSamplesPerRay = 100000.0;

// `distance` (physical units), or the distance that gives kMaxSamplesPerRay samples along the
// volume's diagonal when `distance` gives more; then a warning naming `option` goes to stderr.
float LimitSampleDistance(float distance, const VolumeData& volume, const char* option);

// What --info prints: format, dimensions, spacings, sample type, value range (or that the
// samples were not read), rescaling, the series or volume chosen and the notes, one item a line.
std::string DescribeVolume(const std::string& path, VolumeData& volume, const ScanInfo& info);
