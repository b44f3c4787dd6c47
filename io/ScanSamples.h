// What the three scan readers share: the samples as a file stores them, their conversion to
// one of Kestrel's seven sample types, and turning the voxel axes to the scanner axes.
#ifndef KESTREL_SCAN_SAMPLES_H
#define KESTREL_SCAN_SAMPLES_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ScanLoader.h"

namespace kestrel_io {

// Sample types that files store and the readers accept.
enum class StoredType {
    Int8,
    Uint8,
    Int16,
    Uint16,
    Int32,
    Uint32,
    Int64,
    Uint64,
    Float32,
    Float64
};

int StoredBytes(StoredType type);
const char* StoredTypeName(StoredType type);

// value = slope * stored + intercept
struct Rescale {
    double slope = 1.0;
    double intercept = 0.0;
    bool IsIdentity() const { return slope == 1.0 && intercept == 0.0; }
};

struct MallocFree {
    void operator()(void* buffer) const { std::free(buffer); }
};
// A buffer from malloc (the NIfTI library and teem allocate so).
using MallocBuffer = std::unique_ptr<void, MallocFree>;

// The samples of a file, x fastest, in the machine's byte order, with one rescale for all
// slices or one per slice (z).
struct StoredVolume {
    StoredType type = StoredType::Uint8;
    int dims[3] = {0, 0, 0};
    double spacings[3] = {1.0, 1.0, 1.0};
    // direction[a]: unit vector of voxel axis a in scanner coordinates (DICOM's frame).
    double direction[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::vector<Rescale> rescale = {Rescale()};  // 1 entry, or dims[2]
    bool inverted = false;                       // higher values are darker (DICOM's MONOCHROME1)
    const void* samples = nullptr;  // dims product * StoredBytes(type) bytes; null: header only
    MallocBuffer* owner = nullptr;  // when set, owns `samples`, which the volume may take over
};

// Checks 3-D dimensions before anything is allocated: each at least 1, a third above 1 (a
// single image is not a volume), and at most 2^31 - 1 bytes of `bytesPerSample` samples.
// Returns the sample count; throws ScanError naming `path`.
std::size_t CheckedSampleCount(const std::string& path, const std::int64_t dims[3],
                               int bytesPerSample);

// Converts to the volume Kestrel draws. Without rescaling a type among the seven is kept;
// integer results are stored in the narrowest of int16, uint16, int32 and uint32 that holds
// their range (so CT in Hounsfield units becomes int16); anything else becomes float32. Then
// inverted values are mirrored within their range (lo + hi - value), so that the volume shows
// like any other with the range kept; then the axes are turned (see ScanInfo). Fills info's
// storedType, rescale and orientation fields. Without samples the volume gets the grid and a
// type that holds every value the stored type can give, and no samples.
std::unique_ptr<VolumeData> MakeVolume(const std::string& path, const StoredVolume& stored,
                                       ScanInfo& info);

std::string FormatNumber(double value);

// The readers behind LoadScan; each throws ScanError naming the file.
std::unique_ptr<VolumeData> ReadDicom(const std::string& path, const ScanLoadOptions& options,
                                      ScanInfo& info);
// ReadDicom without its child process: GDCM runs in the caller's (the reader fuzz target's).
std::unique_ptr<VolumeData> ReadDicomInProcess(const std::string& path,
                                               const ScanLoadOptions& options, ScanInfo& info);
std::unique_ptr<VolumeData> ReadNifti(const std::string& path, const ScanLoadOptions& options,
                                      ScanInfo& info);
std::unique_ptr<VolumeData> ReadNrrd(const std::string& path, const ScanLoadOptions& options,
                                     ScanInfo& info);

}  // namespace kestrel_io

#endif  // KESTREL_SCAN_SAMPLES_H
