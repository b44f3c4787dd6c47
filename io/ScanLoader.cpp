// Format detection and the entry point that hands a path to its reader.
#include "ScanLoader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "ScanSamples.h"

namespace {

std::string LowerName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return name;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// From the first bytes of the file:
//   NRRD     "NRRD" at 0
//   DICOM    "DICM" at 128, after the preamble
//   NIfTI-1  header size 348 at 0 (either byte order), "n+1" or "ni1" at 344
//   NIfTI-2  header size 540 at 0 (either byte order), "n+2" or "ni2" at 4
ScanFormat FormatFromContent(const unsigned char* head, std::size_t size) {
    if (size >= 4 && std::memcmp(head, "NRRD", 4) == 0) return ScanFormat::Nrrd;
    if (size >= 132 && std::memcmp(head + 128, "DICM", 4) == 0) return ScanFormat::Dicom;
    const auto sizeField = [&](unsigned value) {
        const unsigned little = head[0] | head[1] << 8 | head[2] << 16 | unsigned(head[3]) << 24;
        const unsigned big = head[3] | head[2] << 8 | head[1] << 16 | unsigned(head[0]) << 24;
        return little == value || big == value;
    };
    if (size >= 348 && sizeField(348) &&
        (std::memcmp(head + 344, "n+1", 4) == 0 || std::memcmp(head + 344, "ni1", 4) == 0)) {
        return ScanFormat::Nifti;
    }
    if (size >= 8 && sizeField(540) &&
        (std::memcmp(head + 4, "n+2", 3) == 0 || std::memcmp(head + 4, "ni2", 3) == 0)) {
        return ScanFormat::Nifti;
    }
    return ScanFormat::Unknown;
}

ScanFormat FormatFromName(const std::string& name) {
    for (const char* suffix : {".nii", ".nii.gz", ".hdr", ".img", ".hdr.gz", ".img.gz"}) {
        if (EndsWith(name, suffix)) return ScanFormat::Nifti;
    }
    if (EndsWith(name, ".nrrd") || EndsWith(name, ".nhdr")) return ScanFormat::Nrrd;
    if (EndsWith(name, ".dcm") || EndsWith(name, ".dicom") || name == "dicomdir") {
        return ScanFormat::Dicom;
    }
    if (EndsWith(name, ".vol")) return ScanFormat::Structured;
    return ScanFormat::Unknown;
}

std::unique_ptr<VolumeData> ReadStructured(const std::string& path, ScanInfo& info) {
    info.format = ScanFormat::Structured;
    auto volume = std::make_unique<VolumeData>();
    volume->ReadStructuredFile(path.c_str());
    if (volume->GetData() == nullptr) {
        throw ScanError(path +
                        ": not a structured volume file (bad header, or shorter than "
                        "its header promises)");
    }
    info.storedType = volume->GetDataType().isFloat
                          ? "float32"
                          : (volume->GetDataType().isSigned ? "int" : "uint") +
                                std::to_string(volume->GetDataType().bitCount);
    return volume;
}

}  // namespace

const char* ScanFormatName(ScanFormat format) {
    switch (format) {
        case ScanFormat::Structured:
            return "structured";
        case ScanFormat::Dicom:
            return "DICOM";
        case ScanFormat::Nifti:
            return "NIfTI";
        case ScanFormat::Nrrd:
            return "NRRD";
        default:
            return "unknown";
    }
}

ScanFormat DetectScanFormat(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return ScanFormat::Unknown;
    if (S_ISDIR(status.st_mode)) return ScanFormat::Dicom;
    // A pipe or a device is not read: opening a pipe would wait for a writer.
    if (!S_ISREG(status.st_mode)) return ScanFormat::Unknown;
    unsigned char head[352] = {};
    std::size_t size = 0;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        size = std::fread(head, 1, sizeof head, file);
        std::fclose(file);
    }
    const ScanFormat byContent = FormatFromContent(head, size);
    return byContent != ScanFormat::Unknown ? byContent : FormatFromName(LowerName(path));
}

std::unique_ptr<VolumeData> LoadScan(const std::string& path, const ScanLoadOptions& options,
                                     ScanInfo* info) {
    ScanInfo local;
    ScanInfo& out = info != nullptr ? *info : local;
    out = ScanInfo();
    switch (DetectScanFormat(path)) {
        case ScanFormat::Dicom:
            return kestrel_io::ReadDicom(path, options, out);
        case ScanFormat::Nifti:
            return kestrel_io::ReadNifti(path, options, out);
        case ScanFormat::Nrrd:
            return kestrel_io::ReadNrrd(path, options, out);
        case ScanFormat::Structured:
            return ReadStructured(path, out);
        default:
            break;
    }
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        throw ScanError(path + ": cannot open (" + std::strerror(errno) + ")");
    }
    throw ScanError(path +
                    ": unknown file format (not DICOM, NIfTI, NRRD or a structured "
                    "volume file)");
}
