// DICOM series (a folder, a DICOMDIR's folder, or one multi-frame file) through GDCM.
//
// Debian's GDCM is built with assertions, and malformed bytes can make it abort, crash or
// allocate gigabytes for one corrupt length. So every load runs GDCM in a child process
// (ContainedCall.h) that sends the volume back; the parent names the file the child was
// reading when it failed.
#include <gdcmImageReader.h>
#include <gdcmScanner.h>
#include <gdcmTag.h>
#include <gdcmTrace.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "ContainedCall.h"
#include "DicomFolder.h"
#include "ScanSamples.h"

namespace kestrel_io {

namespace {

// The header fields read from every file, and their tags.
enum Field {
    kSeriesUid,
    kSeriesNumber,
    kModality,
    kSeriesDescription,
    kRows,
    kColumns,
    kPosition,
    kOrientation,
    kFrames,
    kPixelSpacing,
    kRescaleIntercept,
    kRescaleSlope,
    kBitsAllocated,
    kBitsStored,
    kFieldCount
};
const gdcm::Tag kTags[kFieldCount] = {
    {0x0020, 0x000e}, {0x0020, 0x0011}, {0x0008, 0x0060}, {0x0008, 0x103e}, {0x0028, 0x0010},
    {0x0028, 0x0011}, {0x0020, 0x0032}, {0x0020, 0x0037}, {0x0028, 0x0008}, {0x0028, 0x0030},
    {0x0028, 0x1052}, {0x0028, 0x1053}, {0x0028, 0x0100}, {0x0028, 0x0101}};
// One file's fields, trimmed; empty where absent.
using Header = std::array<std::string, kFieldCount>;

// Told the name of each file before GDCM opens it.
using FileNotice = std::function<void(const std::string& file)>;

// A DICOM load may use this much memory, plus kMemoryPerFileByte for every byte of its files
// (decoding, a rescaled copy and the turned axes), before it counts as failed: more is a
// corrupt length field asking for gigabytes.
constexpr std::size_t kMemoryBase = std::size_t(512) << 20;
constexpr std::size_t kMemoryPerFileByte = 32;
// A DICOM load may take this long, plus one second per kBytesPerSecond of its files, before it
// counts as hung: decoding runs at tens of megabytes a second even for compressed files.
constexpr double kSecondsBase = 20.0;
constexpr double kBytesPerSecond = 2.0 * 1024 * 1024;

// Positions closer than this along the slice normal (mm) are the same position.
constexpr double kSamePosition = 1e-3;
// Gaps that differ from the typical one by more than this fraction make uneven spacing.
constexpr double kUnevenFraction = 0.01;
// A gap this many times the typical one means slices are missing.
constexpr double kMissingFactor = 1.5;

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Trimmed(const char* value) {
    std::string text = value != nullptr ? value : "";
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(text.begin());
    return text;
}

// Backslash-separated decimal strings; false unless exactly `count` numbers.
bool ParseNumbers(const std::string& text, int count, double* out) {
    std::stringstream stream(text);
    std::string item;
    int n = 0;
    while (std::getline(stream, item, '\\')) {
        if (n == count) return false;
        char* end = nullptr;
        out[n] = std::strtod(item.c_str(), &end);
        if (end == item.c_str() || !std::isfinite(out[n])) return false;
        ++n;
    }
    return n == count;
}

bool HasDicomdirName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return name == "DICOMDIR";
}

struct Slice {
    std::string file;
    double position = 0.0;  // along the slice normal, mm
    std::size_t index = 0;  // of its file and header in the series
};

struct Series {
    DicomSeriesSummary summary;
    std::vector<std::string> files;
    std::vector<Header> headers;  // one per file
};

// The folder whose files `path` stands for: itself, or a DICOMDIR's; empty for one file.
std::string FolderOf(const std::string& path) {
    if (IsFolder(path)) return path;
    if (!HasDicomdirName(path)) return "";
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Reads the fields of one file's header; false when GDCM cannot.
bool ReadHeader(const std::string& file, Header& header) {
    gdcm::Scanner scanner;
    for (const gdcm::Tag& tag : kTags)
        scanner.AddTag(tag);
    if (!scanner.Scan({file}) || !scanner.IsKey(file.c_str())) return false;
    for (int f = 0; f < kFieldCount; ++f)
        header[std::size_t(f)] = Trimmed(scanner.GetValue(file.c_str(), kTags[f]));
    return true;
}

// True when the file has DICOM's "DICM" after its 128-byte preamble.
bool HasDicomMagic(const std::string& file) {
    char head[132] = {};
    FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr) return false;
    const std::size_t read = std::fread(head, 1, sizeof head, stream);
    std::fclose(stream);
    return read == sizeof head && std::memcmp(head + 128, "DICM", 4) == 0;
}

// The image files under `path`, grouped into series, largest first. A DICOMDIR stands for
// the folder it indexes. What was left out goes to `notes` (may be null): special files, and
// files that are not DICOM; a file marked as DICOM whose header cannot be read is an error.
std::vector<Series> FindSeries(const std::string& path, const FileNotice& reading,
                               std::vector<std::string>* notes) {
    FolderFiles listed;
    const std::string folder = FolderOf(path);
    if (!folder.empty()) {
        listed = ListFolderFiles(folder);
    } else {
        listed.files.push_back(path);
    }
    std::map<std::string, Series> byUid;
    std::vector<std::string> foreign;
    for (const std::string& file : listed.files) {
        reading(file);
        Header header;
        if (!ReadHeader(file, header)) {
            if (HasDicomMagic(file))
                throw ScanError(file + ": a DICOM file whose header cannot be read");
            foreign.push_back(file);
            continue;
        }
        // no image: a DICOMDIR, a report
        if (header[kRows].empty() || header[kColumns].empty()) continue;
        Series& series = byUid[header[kSeriesUid]];
        if (series.files.empty()) {
            DicomSeriesSummary& s = series.summary;
            s.uid = header[kSeriesUid];
            s.number = header[kSeriesNumber];
            s.modality = header[kModality];
            s.description = header[kSeriesDescription];
            s.rows = std::atoi(header[kRows].c_str());
            s.columns = std::atoi(header[kColumns].c_str());
        }
        series.summary.images += std::max(1, std::atoi(header[kFrames].c_str()));
        series.files.push_back(file);
        series.headers.push_back(header);
    }
    if (byUid.empty()) {
        throw ScanError(path +
                        (folder.empty() ? ": not a DICOM image file"
                                        : ": no DICOM images found in the folder") +
                        (listed.notes.empty() ? "" : " (" + listed.notes[0] + ")"));
    }
    if (notes != nullptr) {
        notes->insert(notes->end(), listed.notes.begin(), listed.notes.end());
        if (!foreign.empty()) {
            notes->push_back("skipped " + std::to_string(foreign.size()) +
                             " file(s) that are not DICOM, e.g. " + foreign[0]);
        }
    }
    std::vector<Series> found;
    for (auto& entry : byUid)
        found.push_back(std::move(entry.second));
    std::stable_sort(found.begin(), found.end(), [](const Series& a, const Series& b) {
        return a.summary.images > b.summary.images;
    });
    return found;
}

std::string Describe(const DicomSeriesSummary& s) {
    std::string text = "series";
    if (!s.number.empty()) text += " " + s.number;
    if (!s.description.empty()) text += " \"" + s.description + "\"";
    text += " (" + (s.modality.empty() ? std::string("?") : s.modality) + ", " +
            std::to_string(s.images) + " images, UID " + s.uid + ")";
    return text;
}

const Series& ChooseSeries(const std::string& path, const std::vector<Series>& found,
                           const std::string& wanted, ScanInfo& info) {
    const Series* chosen = &found[0];
    if (!wanted.empty()) {
        chosen = nullptr;
        const int index = std::atoi(wanted.c_str());
        for (const Series& s : found) {
            if (s.summary.uid == wanted || s.summary.number == wanted) chosen = &s;
        }
        if (chosen == nullptr && index >= 1 && index <= int(found.size()) &&
            std::to_string(index) == wanted) {
            chosen = &found[std::size_t(index - 1)];
        }
        if (chosen == nullptr) {
            throw ScanError(path + ": no series \"" + wanted + "\" among the " +
                            std::to_string(found.size()) + " found");
        }
    }
    if (found.size() > 1 || !wanted.empty()) {
        info.chosen = Describe(chosen->summary);
        if (found.size() > 1) {
            info.notes.push_back(std::to_string(found.size()) + " series found; opened " +
                                 (wanted.empty() ? "the largest" : "the one asked for"));
        }
    }
    return *chosen;
}

bool StoredTypeOf(const gdcm::PixelFormat& format, StoredType* type) {
    switch (format.GetScalarType()) {
        case gdcm::PixelFormat::INT8:
            *type = StoredType::Int8;
            return true;
        case gdcm::PixelFormat::UINT8:
            *type = StoredType::Uint8;
            return true;
        case gdcm::PixelFormat::INT16:
            *type = StoredType::Int16;
            return true;
        case gdcm::PixelFormat::UINT16:
            *type = StoredType::Uint16;
            return true;
        case gdcm::PixelFormat::INT32:
            *type = StoredType::Int32;
            return true;
        case gdcm::PixelFormat::UINT32:
            *type = StoredType::Uint32;
            return true;
        case gdcm::PixelFormat::FLOAT32:
            *type = StoredType::Float32;
            return true;
        case gdcm::PixelFormat::FLOAT64:
            *type = StoredType::Float64;
            return true;
        default:
            return false;
    }
}

// The header's rescale where GDCM would take it over without a word: a RescaleSlope of 0 or one
// that is not a number becomes 1, an intercept that is not a number 0, each with one note (for
// the first file that has it).
Rescale CheckedRescale(const std::string& file, const Header& header, const gdcm::Image& image,
                       ScanInfo& info, bool* noted) {
    Rescale rescale{image.GetSlope(), image.GetIntercept()};
    double value = 0.0;
    const std::string& slope = header[kRescaleSlope];
    const std::string& intercept = header[kRescaleIntercept];
    const bool badSlope = !slope.empty() && (!ParseNumbers(slope, 1, &value) || value == 0.0);
    const bool badIntercept = !intercept.empty() && !ParseNumbers(intercept, 1, &value);
    if (badSlope || !std::isfinite(rescale.slope) || rescale.slope == 0.0) rescale.slope = 1.0;
    if (badIntercept || !std::isfinite(rescale.intercept)) rescale.intercept = 0.0;
    if ((badSlope || badIntercept) && !*noted) {
        *noted = true;
        info.notes.push_back(file + ": RescaleSlope '" + slope + "', RescaleIntercept '" +
                             intercept + "' unusable: slope 1, intercept 0 assumed");
    }
    return rescale;
}

// In-plane spacing (x between columns, y between rows) from PixelSpacing ("row\\column"); GDCM
// turns text or 0 into 1 without a word, so that is noted here.
void CheckedPixelSpacing(const std::string& file, const Header& header, const gdcm::Image& image,
                         double spacings[2], ScanInfo& info) {
    for (int a = 0; a < 2; ++a)
        spacings[a] = image.GetSpacing(unsigned(a)) > 0.0 ? image.GetSpacing(unsigned(a)) : 1.0;
    const std::string& text = header[kPixelSpacing];
    double rowColumn[2];
    if (text.empty() ||
        (ParseNumbers(text, 2, rowColumn) && rowColumn[0] > 0.0 && rowColumn[1] > 0.0)) {
        return;
    }
    spacings[0] = spacings[1] = 1.0;
    info.notes.push_back(file + ": PixelSpacing '" + text + "' unusable: 1 mm assumed");
}

// Bit depths that contradict each other: the samples cannot be read as the header says.
void CheckBitDepth(const std::string& file, const Header& header) {
    const int allocated = std::atoi(header[kBitsAllocated].c_str());
    const int stored = std::atoi(header[kBitsStored].c_str());
    if (allocated > 0 && stored > allocated) {
        throw ScanError(file + ": BitsStored " + std::to_string(stored) +
                        " exceeds BitsAllocated " + std::to_string(allocated));
    }
}

// Reads one file's image, checked against the first image of the series.
class ImageFile {
public:
    ImageFile(const std::string& file, const FileNotice& reading) : file_(file) {
        reading(file);
        reader_.SetFileName(file.c_str());
        Warnings().str("");
        if (!reader_.Read()) throw ScanError(file + ": cannot be read as a DICOM image");
        // GDCM pads pixel data cut short by the end of the file and only warns.
        if (Warnings().str().find("Incomplete Pixel Data") != std::string::npos) {
            throw ScanError(file + ": pixel data is truncated (the file ends inside it)");
        }
    }

    // GDCM's warnings go here, not to the terminal: the caller reports one line.
    static std::ostringstream& Warnings() {
        static std::ostringstream sink;
        gdcm::Trace::SetWarningStream(sink);
        gdcm::Trace::WarningOn();
        return sink;
    }
    const gdcm::Image& Image() const { return reader_.GetImage(); }

    // Pixel type and photometric interpretation that Kestrel can draw.
    StoredType CheckedType() const {
        const gdcm::PixelFormat& format = Image().GetPixelFormat();
        if (format.GetSamplesPerPixel() != 1) {
            throw ScanError(file_ + ": colour image (" +
                            std::to_string(format.GetSamplesPerPixel()) +
                            " samples per pixel); only grey images are supported");
        }
        StoredType type;
        if (!StoredTypeOf(format, &type)) {
            throw ScanError(file_ + ": unsupported pixel format " + format.GetScalarTypeAsString());
        }
        return type;
    }

    // MONOCHROME1: higher values are drawn darker.
    bool Inverted() const {
        return Image().GetPhotometricInterpretation() ==
               gdcm::PhotometricInterpretation::MONOCHROME1;
    }

    // Decodes `bytes` bytes of samples (any transfer syntax GDCM decodes) into `out`.
    void Decode(char* out, std::size_t bytes) const {
        if (Image().GetBufferLength() != bytes || !Image().GetBuffer(out)) {
            throw ScanError(file_ + ": pixel data is truncated or cannot be decoded (" +
                            std::to_string(bytes) + " bytes expected)");
        }
    }

private:
    std::string file_;
    gdcm::ImageReader reader_;
};

void CrossProduct(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Orders the series' files by position along the slice normal and derives the slice
// spacing from the positions. Fills direction and spacings[2].
std::vector<Slice> OrderSlices(const Series& series, StoredVolume& stored, ScanInfo& info) {
    const std::string& first = series.files[0];
    double orientation[6];
    if (!ParseNumbers(series.headers[0][kOrientation], 6, orientation)) {
        throw ScanError(first + ": no image orientation; the slices cannot be ordered");
    }
    for (int w = 0; w < 3; ++w) {
        stored.direction[0][w] = orientation[w];
        stored.direction[1][w] = orientation[3 + w];
    }
    CrossProduct(stored.direction[0], stored.direction[1], stored.direction[2]);
    std::vector<Slice> slices;
    for (std::size_t f = 0; f < series.files.size(); ++f) {
        const std::string& file = series.files[f];
        const Header& header = series.headers[f];
        double other[6], position[3];
        if (!ParseNumbers(header[kOrientation], 6, other) ||
            !ParseNumbers(header[kPosition], 3, position)) {
            throw ScanError(file +
                            ": no image position or orientation; the slices cannot be "
                            "ordered");
        }
        for (int i = 0; i < 6; ++i) {
            if (std::fabs(other[i] - orientation[i]) > 1e-4) {
                throw ScanError(file + ": image orientation differs from " + first +
                                "'s in the same series");
            }
        }
        const int rows = std::atoi(header[kRows].c_str());
        const int columns = std::atoi(header[kColumns].c_str());
        if (rows != series.summary.rows || columns != series.summary.columns) {
            throw ScanError(file + ": image of " + std::to_string(columns) + " x " +
                            std::to_string(rows) + " in a series of " +
                            std::to_string(series.summary.columns) + " x " +
                            std::to_string(series.summary.rows) + " images");
        }
        slices.push_back({file, 0.0, f});
        slices.back().position = position[0] * stored.direction[2][0] +
                                 position[1] * stored.direction[2][1] +
                                 position[2] * stored.direction[2][2];
    }
    std::sort(slices.begin(), slices.end(),
              [](const Slice& a, const Slice& b) { return a.position < b.position; });

    std::vector<double> gaps;
    for (std::size_t i = 1; i < slices.size(); ++i) {
        const double gap = slices[i].position - slices[i - 1].position;
        if (gap < kSamePosition) {
            throw ScanError(slices[i].file + ": at the same position as " + slices[i - 1].file +
                            " (" + FormatNumber(slices[i].position) + " mm along the normal)");
        }
        gaps.push_back(gap);
    }
    std::vector<double> sorted = gaps;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double typical = sorted[sorted.size() / 2];
    const auto [smallest, largest] = std::minmax_element(gaps.begin(), gaps.end());
    if (*largest > kMissingFactor * typical) {
        const std::size_t at = std::size_t(largest - gaps.begin());
        throw ScanError(slices[at + 1].file + ": slices missing before it (gap of " +
                        FormatNumber(*largest) + " mm where the series steps by " +
                        FormatNumber(typical) + " mm)");
    }
    stored.spacings[2] =
        (slices.back().position - slices.front().position) / double(slices.size() - 1);
    if (*largest - *smallest > kUnevenFraction * typical) {
        info.notes.push_back("uneven slice spacing: " + FormatNumber(*smallest) + " to " +
                             FormatNumber(*largest) + " mm, drawn at the mean " +
                             FormatNumber(stored.spacings[2]) + " mm");
    }
    return slices;
}

std::unique_ptr<VolumeData> ReadMultiFrame(const std::string& file, const Header& header,
                                           const ScanLoadOptions& options, ScanInfo& info,
                                           const FileNotice& reading) {
    CheckBitDepth(file, header);
    ImageFile image(file, reading);
    const gdcm::Image& picture = image.Image();
    const std::int64_t dims[3] = {
        picture.GetDimension(0), picture.GetDimension(1),
        picture.GetNumberOfDimensions() > 2 ? picture.GetDimension(2) : 1};
    StoredVolume stored;
    stored.type = image.CheckedType();
    const std::size_t count = CheckedSampleCount(file, dims, StoredBytes(stored.type));
    std::vector<char> samples(count * std::size_t(StoredBytes(stored.type)));
    if (options.progress) options.progress(0.0);
    image.Decode(samples.data(), samples.size());
    if (options.progress) options.progress(1.0);
    const double* cosines = picture.GetDirectionCosines();
    for (int a = 0; a < 3; ++a) {
        stored.dims[a] = int(dims[a]);
        stored.spacings[a] = picture.GetSpacing(a) > 0.0 ? picture.GetSpacing(a) : 1.0;
        if (a < 2) {
            for (int w = 0; w < 3; ++w)
                stored.direction[a][w] = cosines[3 * a + w];
        }
    }
    CrossProduct(stored.direction[0], stored.direction[1], stored.direction[2]);
    info.notes.push_back("multi-frame file: slice spacing from its header");
    CheckedPixelSpacing(file, header, picture, stored.spacings, info);
    bool noted = false;
    stored.rescale[0] = CheckedRescale(file, header, picture, info, &noted);
    stored.inverted = image.Inverted();
    stored.samples = samples.data();
    return MakeVolume(file, stored, info);
}

// The load itself, in the calling process.
std::unique_ptr<VolumeData> ReadHere(const std::string& path, const ScanLoadOptions& options,
                                     ScanInfo& info, const FileNotice& reading) {
    info.format = ScanFormat::Dicom;
    info.patientFrame = true;  // image orientation and position are in the patient frame
    // GDCM's own messages would interleave with the one line a caller reports.
    ImageFile::Warnings();
    gdcm::Trace::ErrorOff();
    const std::vector<Series> found = FindSeries(path, reading, &info.notes);
    const Series& series = ChooseSeries(path, found, options.series, info);
    if (series.files.size() == 1) {
        return ReadMultiFrame(series.files[0], series.headers[0], options, info, reading);
    }

    StoredVolume stored;
    const std::vector<Slice> slices = OrderSlices(series, stored, info);
    const std::int64_t dims[3] = {series.summary.columns, series.summary.rows,
                                  std::int64_t(slices.size())};

    // The first image fixes the sample type, the photometric interpretation and the in-plane
    // spacing.
    std::vector<char> samples;
    std::size_t sliceBytes = 0;
    stored.rescale.clear();
    bool rescaleNoted = false;
    for (std::size_t z = 0; z < slices.size(); ++z) {
        const Header& header = series.headers[slices[z].index];
        CheckBitDepth(slices[z].file, header);
        ImageFile image(slices[z].file, reading);
        const StoredType type = image.CheckedType();
        if (z == 0) {
            stored.type = type;
            stored.inverted = image.Inverted();
            const std::size_t count = CheckedSampleCount(path, dims, StoredBytes(type));
            samples.resize(count * std::size_t(StoredBytes(type)));
            sliceBytes = samples.size() / slices.size();
            CheckedPixelSpacing(slices[z].file, header, image.Image(), stored.spacings, info);
        } else if (type != stored.type) {
            throw ScanError(slices[z].file + ": pixel format " + StoredTypeName(type) +
                            " differs from the series' " + StoredTypeName(stored.type));
        } else if (image.Inverted() != stored.inverted) {
            throw ScanError(slices[z].file + ": " +
                            (stored.inverted ? "MONOCHROME2" : "MONOCHROME1") + " in a series of " +
                            (stored.inverted ? "MONOCHROME1" : "MONOCHROME2") + " images");
        }
        if (image.Image().GetNumberOfDimensions() > 2 && image.Image().GetDimension(2) > 1) {
            throw ScanError(slices[z].file + ": a multi-frame file inside a series of slices");
        }
        image.Decode(samples.data() + z * sliceBytes, sliceBytes);
        stored.rescale.push_back(
            CheckedRescale(slices[z].file, header, image.Image(), info, &rescaleNoted));
        if (options.progress) options.progress(double(z + 1) / double(slices.size()));
    }
    if (std::all_of(stored.rescale.begin(), stored.rescale.end(), [&](const Rescale& r) {
            return r.slope == stored.rescale[0].slope && r.intercept == stored.rescale[0].intercept;
        })) {
        stored.rescale.resize(1);
    } else {
        info.notes.push_back("rescale slope or intercept varies from slice to slice");
    }
    for (int a = 0; a < 3; ++a)
        stored.dims[a] = int(dims[a]);
    stored.samples = samples.data();
    return MakeVolume(path, stored, info);
}

// Bytes in the files `path` stands for, which bound what reading them may need.
std::size_t FileBytes(const std::string& path) {
    const std::string folder = FolderOf(path);
    struct stat status;
    if (folder.empty()) return stat(path.c_str(), &status) == 0 ? std::size_t(status.st_size) : 0;
    try {
        return std::size_t(ListFolderFiles(folder).bytes);
    } catch (const ScanError&) {
        return 0;  // the child reports it
    }
}

// What the parent keeps of the child's records: the file being read, the first error, and the
// results of `receive` for the rest.
struct ChildReport {
    std::string file;
    std::string error;
    bool outOfMemory = false;
};

// Runs `work` in a child for `path`: records 'F' (file now read), 'P' (progress), 'E' (one-line
// error) and 'M' (out of memory) are handled here, the rest go to `receive`. Any way the child
// fails becomes a ScanError that names the file it was reading.
void RunForPath(const std::string& path, const ScanLoadOptions& options,
                const std::function<void(const ContainedOutput&)>& work,
                const std::function<void(char kind, const std::string& bytes)>& receive) {
    ChildReport report;
    report.file = path;
    const auto handle = [&](char kind, const std::string& bytes) {
        switch (kind) {
            case 'F':
                report.file = bytes;
                break;
            case 'P':
                if (options.progress) options.progress(RecordReader(bytes).Real());
                break;
            case 'E':
                report.error = bytes;
                break;
            case 'M':
                report.outOfMemory = true;
                break;
            default:
                receive(kind, bytes);
        }
    };
    const auto guarded = [&](const ContainedOutput& out) {
        try {
            work(out);
        } catch (const ScanError& error) {
            out.Send('E', error.what());
        } catch (const std::bad_alloc&) {
            out.Send('M', "");
        }
    };
    try {
        const std::size_t bytes = FileBytes(path);
        RunContained(guarded, handle, kMemoryBase + kMemoryPerFileByte * bytes,
                     kSecondsBase + double(bytes) / kBytesPerSecond);
    } catch (const ContainedFailure& failure) {
        throw ScanError(report.file + ": the DICOM library failed on this file (" + failure.what() +
                        ")");
    }
    if (!report.error.empty()) throw ScanError(report.error);
    if (report.outOfMemory) {
        throw ScanError(report.file +
                        ": the DICOM library ran out of memory on this file (a corrupt length "
                        "in it?)");
    }
}

FileNotice Notice(const ContainedOutput& out) {
    return [&out](const std::string& file) { out.Send('F', file); };
}

}  // namespace

std::unique_ptr<VolumeData> ReadDicomInProcess(const std::string& path,
                                               const ScanLoadOptions& options, ScanInfo& info) {
    return ReadHere(path, options, info, [](const std::string&) {});
}

namespace {

// A memory file the child writes the samples into and the parent reads them from: one copy each
// way, in calls as large as the volume.
class SampleHandover {
public:
    SampleHandover() : fd_(memfd_create("kestrel-dicom-samples", MFD_CLOEXEC)) {}
    ~SampleHandover() {
        if (fd_ >= 0) close(fd_);
    }
    SampleHandover(const SampleHandover&) = delete;
    SampleHandover& operator=(const SampleHandover&) = delete;

    // In the child: the samples into the file; false when they do not fit (no memory left).
    bool Write(const char* samples, std::size_t bytes) const {
        if (fd_ < 0 || ftruncate(fd_, off_t(bytes)) != 0) return false;
        for (std::size_t done = 0; done < bytes;) {
            const ssize_t n = pwrite(fd_, samples + done, bytes - done, off_t(done));
            if (n <= 0) return false;
            done += std::size_t(n);
        }
        return true;
    }

    // In the parent, after the child: the first `bytes` of the file; false if it holds fewer.
    bool Read(char* samples, std::size_t bytes) const {
        for (std::size_t done = 0; done < bytes;) {
            const ssize_t n = pread(fd_, samples + done, bytes - done, off_t(done));
            if (n <= 0) return false;
            done += std::size_t(n);
        }
        return true;
    }

private:
    int fd_;
};

}  // namespace

// The child sends 'H' (the volume's shape and the ScanInfo), writes the samples into the hand-over
// file and sends 'S' (their byte count) once they are all there.
std::unique_ptr<VolumeData> ReadDicom(const std::string& path, const ScanLoadOptions& options,
                                      ScanInfo& info) {
    const SampleHandover handover;
    const auto work = [&](const ContainedOutput& out) {
        ScanLoadOptions child = options;
        child.progress = [&out](double fraction) {
            out.Send('P', RecordWriter().Add(fraction).Bytes());
        };
        ScanInfo found;
        const std::unique_ptr<VolumeData> volume = ReadHere(path, child, found, Notice(out));
        RecordWriter head;
        head.Add(std::int64_t(volume->dataType.isFloat))
            .Add(std::int64_t(volume->dataType.isSigned))
            .Add(std::int64_t(volume->dataType.bitCount));
        for (int a = 0; a < 3; ++a)
            head.Add(std::int64_t(volume->dimensions[a])).Add(double(volume->spacings[a]));
        head.Add(found.storedType).Add(std::int64_t(found.rescaled)).Add(found.slope);
        head.Add(found.intercept).Add(found.chosen);
        for (int a = 0; a < 3; ++a)
            head.Add(std::int64_t(found.axisOrder[a])).Add(std::int64_t(found.axisFlipped[a]));
        head.Add(std::int64_t(found.oblique)).Add(found.obliqueDegrees);
        head.Add(std::int64_t(found.notes.size()));
        for (const std::string& note : found.notes)
            head.Add(note);
        out.Send('H', head.Bytes());
        const std::size_t bytes =
            std::size_t(volume->dimensions[0]) * std::size_t(volume->dimensions[1]) *
            std::size_t(volume->dimensions[2]) * std::size_t(volume->dataType.bitCount / 8);
        if (!handover.Write(static_cast<const char*>(volume->GetData()), bytes))
            throw std::bad_alloc();
        out.Send('S', RecordWriter().Add(std::int64_t(bytes)).Bytes());
    };

    std::unique_ptr<VolumeData> volume;
    std::size_t filled = 0, bytes = 0;
    ScanInfo found;
    const auto receive = [&](char kind, const std::string& record) {
        if (kind == 'H') {
            RecordReader head(record);
            volume = std::make_unique<VolumeData>();
            volume->dataType.isFloat = head.Int() != 0;
            volume->dataType.isSigned = head.Int() != 0;
            volume->dataType.bitCount = int(head.Int());
            for (int a = 0; a < 3; ++a) {
                volume->dimensions[a] = int(head.Int());
                volume->spacings[a] = float(head.Real());
            }
            found.format = ScanFormat::Dicom;
            found.patientFrame = true;  // image orientation and position are in the patient frame
            found.storedType = head.Text();
            found.rescaled = head.Int() != 0;
            found.slope = head.Real();
            found.intercept = head.Real();
            found.chosen = head.Text();
            for (int a = 0; a < 3; ++a) {
                found.axisOrder[a] = int(head.Int());
                found.axisFlipped[a] = head.Int() != 0;
            }
            found.oblique = head.Int() != 0;
            found.obliqueDegrees = head.Real();
            for (std::int64_t n = head.Int(); n > 0; --n)
                found.notes.push_back(head.Text());
            volume->Allocate();
            if (volume->GetData() == nullptr) throw ContainedFailure("a volume without samples");
            bytes = std::size_t(volume->dimensions[0]) * std::size_t(volume->dimensions[1]) *
                    std::size_t(volume->dimensions[2]) * std::size_t(volume->dataType.bitCount / 8);
        } else if (kind == 'S') {
            filled = std::size_t(RecordReader(record).Int());
        }
    };
    RunForPath(path, options, work, receive);
    if (volume == nullptr || filled != bytes ||
        !handover.Read(static_cast<char*>(volume->GetData()), bytes)) {
        throw ScanError(path + ": the DICOM reader ended without a whole volume");
    }
    info = found;
    return volume;
}

}  // namespace kestrel_io

std::vector<DicomSeriesSummary> ListDicomSeries(const std::string& path) {
    using namespace kestrel_io;
    const auto work = [&](const ContainedOutput& out) {
        for (const Series& series : FindSeries(path, Notice(out), nullptr)) {
            const DicomSeriesSummary& s = series.summary;
            out.Send('L', RecordWriter()
                              .Add(s.uid)
                              .Add(s.number)
                              .Add(s.modality)
                              .Add(s.description)
                              .Add(std::int64_t(s.images))
                              .Add(std::int64_t(s.columns))
                              .Add(std::int64_t(s.rows))
                              .Bytes());
        }
    };
    std::vector<DicomSeriesSummary> list;
    const auto receive = [&](char kind, const std::string& record) {
        if (kind != 'L') return;
        RecordReader in(record);
        DicomSeriesSummary s;
        s.uid = in.Text();
        s.number = in.Text();
        s.modality = in.Text();
        s.description = in.Text();
        s.images = int(in.Int());
        s.columns = int(in.Int());
        s.rows = int(in.Int());
        list.push_back(s);
    };
    RunForPath(path, ScanLoadOptions(), work, receive);
    return list;
}
