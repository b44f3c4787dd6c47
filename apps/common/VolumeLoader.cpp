// Volume files for the applications, checked before the library readers take over.
#include "VolumeLoader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "InputFile.h"
#include "VolumeData.h"

namespace {

struct NamedType {
    const char* name;
    const DataType* type;
};

const NamedType kTypes[] = {
    {"int8", &VolumeData::dtInt8},       {"uint8", &VolumeData::dtUint8},
    {"int16", &VolumeData::dtInt16},     {"uint16", &VolumeData::dtUint16},
    {"int32", &VolumeData::dtInt32},     {"uint32", &VolumeData::dtUint32},
    {"float32", &VolumeData::dtFloat32},
};

bool SameType(const DataType& a, const DataType& b) {
    return bool(a.isFloat) == bool(b.isFloat) && bool(a.isSigned) == bool(b.isSigned) &&
           a.bitCount == b.bitCount;
}

std::string SystemError() {
    return std::strerror(errno);
}

// Length of a regular file in bytes; throws for anything that cannot be read as one.
long long FileLength(const std::string& path, FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        throw InputError(path + ": cannot seek in the file (" + SystemError() + ")");
    }
    const long long length = std::ftell(file);
    if (length < 0) throw InputError(path + ": cannot determine the file length");
    std::rewind(file);
    return length;
}

// Opens a regular file. A folder or a special file (a pipe, a device) is refused by name without
// blocking: opening a pipe would wait for a writer, and neither has a length to check.
FILE* OpenForReading(const std::string& path) {
    std::string why;
    FILE* file = OpenRegularFile(path, &why);
    if (file == nullptr) {
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            throw InputError(path + ": is a folder, not a volume file");
        }
        throw InputError(path + ": " + why);
    }
    return file;
}

struct FileCloser {
    FILE* file;
    ~FileCloser() {
        if (file != nullptr) std::fclose(file);
    }
};

std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", double(value));
    return text;
}

std::string DimsText(const int dims[3]) {
    return std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + " x " +
           std::to_string(dims[2]);
}

// Sample bytes of a grid, or -1 when they exceed what a VolumeData can hold (2^31 - 1).
long long SampleBytes(const int dims[3], const DataType& type) {
    const long long bytes =
        (long long)(type.bitCount >> 3) * dims[0] * (long long)dims[1] * dims[2];
    return bytes > 0x7fffffffLL ? -1 : bytes;
}

// The reads below leave the volume empty only when the file changed under them (its length was
// checked): memory running out reaches the caller as std::bad_alloc.
void CheckRead(const VolumeData& volume, const std::string& path, long long bytes) {
    if (bytes > 0 && volume.GetData() == nullptr) {
        throw InputError(path + ": cannot read the samples (the file changed while reading?)");
    }
}

}  // namespace

bool ParseDataTypeName(const std::string& name, DataType* type) {
    for (const NamedType& entry : kTypes) {
        if (name == entry.name) {
            *type = *entry.type;
            return true;
        }
    }
    if (name == "float") {
        *type = VolumeData::dtFloat32;
        return true;
    }
    return false;
}

std::string DataTypeName(const DataType& type) {
    for (const NamedType& entry : kTypes) {
        if (SameType(type, *entry.type)) return entry.name;
    }
    // A float flag wins over the signed flag, as everywhere in the library.
    if (type.isFloat && type.bitCount == 32) return "float32";
    return "?";
}

std::unique_ptr<VolumeData> LoadStructuredVolume(const std::string& path) {
    FILE* file = OpenForReading(path);
    FileCloser closer{file};
    const long long length = FileLength(path, file);

    // Header layout (32 bytes, little endian): int32 dims[3] at 0, float32 spacings[3] at 12,
    // uint8 isFloat at 24, uint8 isSigned at 25, 2 unused bytes, int32 bitCount at 28.
    unsigned char header[32];
    if (length < 32 || std::fread(header, 1, 32, file) != 32) {
        throw InputError(path + ": too short for a volume file (" + std::to_string(length) +
                         " bytes, the header alone is 32)");
    }
    int32_t dims[3];
    float spacings[3];
    int32_t bitCount = 0;
    std::memcpy(dims, header, 12);
    std::memcpy(spacings, header + 12, 12);
    std::memcpy(&bitCount, header + 28, 4);
    const unsigned isFloat = header[24];
    const unsigned isSigned = header[25];

    if (dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) {
        throw InputError(path + ": not a volume file (dimensions " + DimsText(dims) +
                         " in the header)");
    }
    for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(spacings[a]) || spacings[a] <= 0.0f) {
            throw InputError(path + ": not a volume file (spacing " + Number(spacings[a]) +
                             " in the header; spacings must be positive)");
        }
    }
    DataType type{};
    type.isFloat = isFloat != 0;
    type.isSigned = isSigned != 0;
    type.bitCount = bitCount;
    if (isFloat > 1 || isSigned > 1 || DataTypeName(type) == "?") {
        throw InputError(path + ": not a volume file (unknown sample type: float flag " +
                         std::to_string(isFloat) + ", signed flag " + std::to_string(isSigned) +
                         ", " + std::to_string(bitCount) + " bits)");
    }
    const long long bytes = SampleBytes(dims, type);
    if (bytes < 0) {
        throw InputError(path + ": volume of " + DimsText(dims) + " " + DataTypeName(type) +
                         " samples is larger than 2 GiB");
    }
    if (length != 32 + bytes) {
        throw InputError(path + ": file has " + std::to_string(length) + " bytes, expected " +
                         std::to_string(32 + bytes) + " for a " + DimsText(dims) + " " +
                         DataTypeName(type) + " volume (header 32 + samples)");
    }

    std::unique_ptr<VolumeData> volume(new VolumeData());
    volume->ReadStructuredFile(path.c_str());
    CheckRead(*volume, path, bytes);
    return volume;
}

std::unique_ptr<VolumeData> LoadRawVolume(const std::string& path, const int dims[3],
                                          const DataType& type, const float spacings[3]) {
    const long long bytes = SampleBytes(dims, type);
    if (bytes < 0) {
        throw InputError(path + ": volume of " + DimsText(dims) + " " + DataTypeName(type) +
                         " samples is larger than 2 GiB");
    }
    FILE* file = OpenForReading(path);
    FileCloser closer{file};
    const long long length = FileLength(path, file);
    if (length != bytes) {
        throw InputError(path + ": raw file has " + std::to_string(length) + " bytes, expected " +
                         std::to_string(bytes) + " for " + DimsText(dims) + " " +
                         DataTypeName(type) + " samples");
    }
    std::unique_ptr<VolumeData> volume(new VolumeData());
    volume->SetDataType(type);
    volume->SetDimensions(dims);
    volume->SetSpacings(spacings);
    volume->ReadRawFile(file);
    CheckRead(*volume, path, bytes);
    return volume;
}

namespace {

// One progress line on stderr, rewritten in place with \r, shown only on a terminal and only
// once a load has taken a second; cleared when the load ends.
class ProgressLine {
public:
    explicit ProgressLine(const std::string& path)
        : path_(path), start_(std::chrono::steady_clock::now()), terminal_(isatty(2) != 0) {}
    ~ProgressLine() {
        if (shown_) std::fprintf(stderr, "\r%*s\r", int(path_.size()) + 24, "");
    }
    void operator()(double fraction) {
        if (!terminal_) return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (seconds < 1.0) return;
        const int percent = int(fraction * 100.0 + 0.5);
        if (shown_ && percent == lastPercent_) return;
        std::fprintf(stderr, "\rloading %s: %3d%%", path_.c_str(), percent);
        std::fflush(stderr);
        shown_ = true;
        lastPercent_ = percent;
    }

private:
    std::string path_;
    std::chrono::steady_clock::time_point start_;
    bool terminal_;
    bool shown_ = false;
    int lastPercent_ = -1;
};

}  // namespace

std::unique_ptr<VolumeData> LoadVolumeFile(const std::string& path, const VolumeFileChoice& choice,
                                           ScanInfo* info) {
    const ScanFormat format = DetectScanFormat(path);
    if (format == ScanFormat::Structured || format == ScanFormat::Unknown) {
        std::unique_ptr<VolumeData> volume = LoadStructuredVolume(path);
        if (info != nullptr) {
            *info = ScanInfo();
            info->format = ScanFormat::Structured;
            info->storedType = DataTypeName(volume->GetDataType());
        }
        return volume;
    }
    ProgressLine progress(path);
    ScanLoadOptions options;
    options.series = choice.series;
    options.volume = choice.volume;
    options.headerOnly = choice.headerOnly;
    options.progress = [&progress](double fraction) { progress(fraction); };
    try {
        return LoadScan(path, options, info);
    } catch (const ScanError& error) {
        throw InputError(error.what());
    } catch (const std::bad_alloc&) {
        throw InputError(path + ": not enough memory for the volume");
    }
}

std::string DescribeVolume(const std::string& path, VolumeData& volume, const ScanInfo& info) {
    int dims[3];
    float spacings[3];
    volume.GetDimensions(dims);
    volume.GetSpacings(spacings);
    double lo = 0.0, hi = 0.0;
    const bool read = volume.GetData() != nullptr;
    if (read) volume.GetMinMaxValue(lo, hi);
    char text[512];
    std::string out;
    std::snprintf(text, sizeof(text), "file:        %s (%s)\n", path.c_str(),
                  ScanFormatName(info.format));
    out += text;
    std::snprintf(text, sizeof(text), "dimensions:  %d x %d x %d\n", dims[0], dims[1], dims[2]);
    out += text;
    std::snprintf(text, sizeof(text), "spacings:    %g x %g x %g\n", double(spacings[0]),
                  double(spacings[1]), double(spacings[2]));
    out += text;
    std::snprintf(text, sizeof(text), "sample type: %s (stored as %s)\n",
                  DataTypeName(volume.GetDataType()).c_str(), info.storedType.c_str());
    out += text;
    if (read) {
        std::snprintf(text, sizeof(text), "values:      %g to %g\n", lo, hi);
        out += text;
    } else {
        out += "values:      not read (the header says the rest; rendering reads them)\n";
    }
    if (info.rescaled) {
        std::snprintf(text, sizeof(text), "rescaled:    slope %g, intercept %g\n", info.slope,
                      info.intercept);
        out += text;
    }
    if (!info.chosen.empty()) out += "chosen:      " + info.chosen + "\n";
    const bool turned = info.axisOrder[0] != 0 || info.axisOrder[1] != 1 || info.axisFlipped[0] ||
                        info.axisFlipped[1] || info.axisFlipped[2];
    const std::string orientation = info.oblique ? "oblique, kept as the voxel grid"
                                    : turned     ? "axis-aligned after reordering"
                                                 : "axis-aligned, as stored";
    out += "orientation: " + orientation + "\n";
    for (const std::string& note : info.notes)
        out += "note:        " + note + "\n";
    return out;
}

float LimitSampleDistance(float distance, const VolumeData& volume, const char* option) {
    int dims[3];
    float spacings[3];
    volume.GetDimensions(dims);
    volume.GetSpacings(spacings);
    double diagonal = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double extent = double(dims[a] > 1 ? dims[a] - 1 : 1) * double(spacings[a]);
        diagonal += extent * extent;
    }
    diagonal = std::sqrt(diagonal);
    const double samples = diagonal / double(distance);
    if (!(samples > kMaxSamplesPerRay)) return distance;
    const float limited = float(diagonal / kMaxSamplesPerRay);
    std::fprintf(stderr,
                 "warning: %s %g gives %.3g samples along the volume's diagonal; using %g "
                 "(%.0f samples)\n",
                 option, double(distance), samples, double(limited), kMaxSamplesPerRay);
    return limited;
}
