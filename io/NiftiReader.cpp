// NIfTI-1 and NIfTI-2 (.nii, .nii.gz, .hdr/.img) through the NIfTI C library.
#include <nifti2_io.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "InputFile.h"
#include "ScanSamples.h"

namespace kestrel_io {

namespace {

// The library writes its complaints about a bad file to stderr whatever its debug level; the
// caller reports one line of its own instead. Silences stderr (the descriptor) while alive.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_;
};

struct NiftiFree {
    void operator()(nifti_image* image) const { nifti_image_free(image); }
};

bool StoredTypeOf(int datatype, StoredType* type) {
    switch (datatype) {
        case DT_INT8:
            *type = StoredType::Int8;
            return true;
        case DT_UINT8:
            *type = StoredType::Uint8;
            return true;
        case DT_INT16:
            *type = StoredType::Int16;
            return true;
        case DT_UINT16:
            *type = StoredType::Uint16;
            return true;
        case DT_INT32:
            *type = StoredType::Int32;
            return true;
        case DT_UINT32:
            *type = StoredType::Uint32;
            return true;
        case DT_INT64:
            *type = StoredType::Int64;
            return true;
        case DT_UINT64:
            *type = StoredType::Uint64;
            return true;
        case DT_FLOAT32:
            *type = StoredType::Float32;
            return true;
        case DT_FLOAT64:
            *type = StoredType::Float64;
            return true;
        default:
            return false;
    }
}

bool EndsWithGz(const std::string& name) {
    return name.size() >= 3 && name.compare(name.size() - 3, 3, ".gz") == 0;
}

// The fields the library passes over or repairs without a word, as the file holds them.
//   NIfTI-1 (348 bytes): datatype int16 at 70, bitpix int16 at 72, pixdim float32[8] at 76,
//                        vox_offset float32 at 108, scl_slope and scl_inter float32 at 112
//   NIfTI-2 (540 bytes): datatype int16 at 12, bitpix int16 at 14, pixdim float64[8] at 104,
//                        vox_offset int64 at 168, scl_slope and scl_inter float64 at 176
// sizeof_hdr (int32 at 0) gives the byte order.
struct RawHeader {
    int version = 0;  // 1 or 2; 0 when the header could not be read
    int datatype = 0;
    int bitpix = 0;
    double voxOffset = 0.0;
    double pixdim[3] = {0.0, 0.0, 0.0};  // voxel sizes along i, j, k as stored
    double slope = 0.0, inter = 0.0;     // scl_slope, scl_inter as stored
};

template <typename T>
T FieldAt(const unsigned char* bytes, std::size_t at, bool swap) {
    unsigned char copy[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
        copy[i] = bytes[at + (swap ? sizeof(T) - 1 - i : i)];
    T value;
    std::memcpy(&value, copy, sizeof(T));
    return value;
}

RawHeader ReadRawHeader(const std::string& path) {
    RawHeader header;
    unsigned char bytes[540] = {};
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) return header;
    const int read = gzread(file, bytes, sizeof bytes);
    gzclose(file);
    if (read < 348) return header;
    const std::int32_t size = FieldAt<std::int32_t>(bytes, 0, false);
    const bool swap = size != 348 && size != 540;
    const std::int32_t native = swap ? FieldAt<std::int32_t>(bytes, 0, true) : size;
    if (native == 348) {
        header.version = 1;
        header.datatype = FieldAt<std::int16_t>(bytes, 70, swap);
        header.bitpix = FieldAt<std::int16_t>(bytes, 72, swap);
        header.voxOffset = FieldAt<float>(bytes, 108, swap);
        for (int a = 0; a < 3; ++a)
            header.pixdim[a] = FieldAt<float>(bytes, 80 + 4 * std::size_t(a), swap);
        header.slope = FieldAt<float>(bytes, 112, swap);
        header.inter = FieldAt<float>(bytes, 116, swap);
    } else if (native == 540 && read >= 540) {
        header.version = 2;
        header.datatype = FieldAt<std::int16_t>(bytes, 12, swap);
        header.bitpix = FieldAt<std::int16_t>(bytes, 14, swap);
        header.voxOffset = double(FieldAt<std::int64_t>(bytes, 168, swap));
        for (int a = 0; a < 3; ++a)
            header.pixdim[a] = FieldAt<double>(bytes, 112 + 8 * std::size_t(a), swap);
        header.slope = FieldAt<double>(bytes, 176, swap);
        header.inter = FieldAt<double>(bytes, 184, swap);
    }
    return header;
}

// Refuses what the library would read wrongly: samples starting inside the header of a single
// file (it reads them from the header's end instead), and a bit depth other than the type's.
RawHeader CheckRawHeader(const std::string& path, const std::string& dataFile, int nbyper) {
    const RawHeader header = ReadRawHeader(path);
    if (header.version == 0) return header;  // the library's own checks report it
    const double headerBytes = header.version == 1 ? 348.0 : 540.0;
    if (dataFile == path && !(header.voxOffset >= headerBytes)) {
        throw ScanError(path + ": vox_offset " + FormatNumber(header.voxOffset) +
                        " puts the samples inside the header (they start at byte " +
                        FormatNumber(headerBytes) + " or later)");
    }
    if (header.bitpix != 8 * nbyper) {
        throw ScanError(path + ": bitpix " + std::to_string(header.bitpix) +
                        " contradicts datatype " + nifti_datatype_string(header.datatype) + " (" +
                        std::to_string(8 * nbyper) + " bits)");
    }
    return header;
}

// Why a gzip-compressed file cannot be inflated; empty when it can be, whole.
std::string GzipProblem(const std::string& file) {
    gzFile stream = gzopen(file.c_str(), "rb");
    if (stream == nullptr) return "";
    char buffer[1 << 16];
    while (gzread(stream, buffer, sizeof buffer) > 0) {
    }
    int code = Z_OK;
    const char* message = gzerror(stream, &code);
    const std::string problem = code != Z_OK && message != nullptr ? message : "";
    gzclose(stream);
    return problem;
}

// Reads `bytes` bytes from `start` of the data file (gzip-compressed or not) as they are: the
// library's own reader sets non-finite float samples to 0 without a word, and calls a corrupt
// compressed stream a short file.
void ReadSamples(const std::string& path, const std::string& dataFile, std::int64_t start,
                 char* out, std::size_t bytes) {
    gzFile file = gzopen(dataFile.c_str(), "rb");
    if (file == nullptr) throw ScanError(path + ": cannot open " + dataFile);
    gzbuffer(file, 1 << 17);
    bool whole = gzseek(file, z_off_t(start), SEEK_SET) == z_off_t(start);
    for (std::size_t done = 0; whole && done < bytes;) {
        const unsigned chunk = unsigned(std::min<std::size_t>(bytes - done, 1u << 30));
        const int read = gzread(file, out + done, chunk);
        whole = read > 0;
        done += read > 0 ? std::size_t(read) : 0;
    }
    int code = Z_OK;
    const char* message = gzerror(file, &code);
    const std::string problem = code != Z_OK && message != nullptr ? message : "";
    gzclose(file);
    if (!problem.empty() && code != Z_BUF_ERROR) {
        throw ScanError(path + ": corrupt gzip data (" + problem + ")");
    }
    if (!whole) {
        throw ScanError(path + ": holds fewer samples than its header promises (" +
                        std::to_string(bytes) + " bytes from byte " + std::to_string(start) +
                        " of " + dataFile + ")");
    }
}

// Spacings, rescale and voxel axes from the header. A pixdim that is 0 or not a number gives
// the sform's (or qform's) column length, else 1; a slope that is not a number is left out; each
// with a note.
void SetGrid(const nifti_image& image, const RawHeader& raw, const std::int64_t dims[3],
             StoredVolume& stored, ScanInfo& info) {
    // Voxel axes from the sform (preferred) or the qform, turned from right-anterior-superior
    // to DICOM's left-posterior-superior frame by negating x and y.
    const nifti_dmat44* matrix = image.sform_code > 0   ? &image.sto_xyz
                                 : image.qform_code > 0 ? &image.qto_xyz
                                                        : nullptr;
    double lengths[3] = {0.0, 0.0, 0.0};
    if (matrix != nullptr) {
        info.patientFrame = true;
        for (int a = 0; a < 3; ++a) {
            double column[3] = {-matrix->m[0][a], -matrix->m[1][a], matrix->m[2][a]};
            const double norm =
                std::sqrt(column[0] * column[0] + column[1] * column[1] + column[2] * column[2]);
            if (!(norm > 0.0) || !std::isfinite(norm)) continue;
            lengths[a] = norm;
            for (int w = 0; w < 3; ++w)
                stored.direction[a][w] = column[w] / norm;
        }
    } else {
        info.notes.push_back("no orientation in the header: file axes drawn as they are");
    }
    for (int a = 0; a < 3; ++a) {
        stored.dims[a] = int(dims[a]);
        // As stored: the library replaces a pixdim of 0 by 1 without a word.
        const double pixdim = raw.version != 0 ? raw.pixdim[a] : double(image.pixdim[a + 1]);
        const double size = std::fabs(pixdim);
        if (std::isfinite(size) && size > 0.0) {
            stored.spacings[a] = size;
            continue;
        }
        const bool fromMatrix = lengths[a] > 0.0;
        stored.spacings[a] = fromMatrix ? lengths[a] : 1.0;
        info.notes.push_back(
            "pixdim[" + std::to_string(a + 1) + "] " + FormatNumber(pixdim) +
            " is no voxel size: " +
            (fromMatrix ? "spacing " + FormatNumber(lengths[a]) + " from the orientation matrix"
                        : std::string("spacing 1 assumed")));
    }
    // A slope of 0 means no scaling; one that is not a number is left out, with a note.
    // As stored: the library turns a slope that is not a number into 0 without a word.
    const double slope = raw.version != 0 ? raw.slope : image.scl_slope;
    const double inter = raw.version != 0 ? raw.inter : image.scl_inter;
    const bool finite = std::isfinite(slope) && std::isfinite(inter);
    if (finite && slope != 0.0) {
        stored.rescale[0] = Rescale{slope, inter};
    } else if (!finite) {
        info.notes.push_back("scl_slope " + FormatNumber(slope) + " and scl_inter " +
                             FormatNumber(inter) + " are not both numbers: values not rescaled");
    }
}

}  // namespace

std::unique_ptr<VolumeData> ReadNifti(const std::string& path, const ScanLoadOptions& options,
                                      ScanInfo& info) {
    info.format = ScanFormat::Nifti;
    nifti_set_debug_level(0);
    std::unique_ptr<nifti_image, NiftiFree> image;
    {
        QuietStderr quiet;
        image.reset(nifti_image_read(path.c_str(), 0));
    }
    if (image == nullptr) {
        const std::string corrupt = EndsWithGz(path) ? GzipProblem(path) : "";
        if (!corrupt.empty()) throw ScanError(path + ": corrupt gzip data (" + corrupt + ")");
        throw ScanError(path +
                        ": not a readable NIfTI file (bad header, or its data file is "
                        "missing)");
    }
    for (int d = 5; d <= 7; ++d) {
        if (image->dim[0] >= d && image->dim[d] > 1) {
            throw ScanError(path + ": has " + std::to_string(image->dim[0]) +
                            " dimensions; only 3-D volumes and 4-D series of them are supported");
        }
    }
    StoredVolume stored;
    if (!StoredTypeOf(image->datatype, &stored.type) || image->nbyper != StoredBytes(stored.type)) {
        throw ScanError(path + ": unsupported sample type " +
                        nifti_datatype_string(image->datatype));
    }
    const std::int64_t dims[3] = {image->dim[0] >= 1 ? image->dim[1] : 1,
                                  image->dim[0] >= 2 ? image->dim[2] : 1,
                                  image->dim[0] >= 3 ? image->dim[3] : 1};
    const std::int64_t volumes = image->dim[0] >= 4 ? std::max<std::int64_t>(1, image->dim[4]) : 1;
    const std::size_t count = CheckedSampleCount(path, dims, image->nbyper);
    if (options.volume < 0 || options.volume >= volumes) {
        throw ScanError(path + ": has " + std::to_string(volumes) + " volume(s); volume " +
                        std::to_string(options.volume) + " does not exist");
    }
    if (volumes > 1) {
        info.chosen = "volume " + std::to_string(options.volume) + " of " +
                      std::to_string(volumes) + " (0-based)";
        info.notes.push_back("4-D file of " + std::to_string(volumes) + " volumes: opened volume " +
                             std::to_string(options.volume));
    }

    // The library reports a short read on the terminal itself; an uncompressed file is
    // measured first so that its shortness is ours to report.
    const std::string dataFile = image->iname != nullptr ? image->iname : path;
    std::string why;
    if (!IsRegularFile(dataFile, &why)) {
        throw ScanError(path + ": " + (dataFile == path ? "" : "its data file " + dataFile + " ") +
                        why);
    }
    const RawHeader raw = CheckRawHeader(path, dataFile, image->nbyper);
    struct stat status;
    const std::int64_t needed = image->iname_offset + std::int64_t(count) * image->nbyper * volumes;
    if (!EndsWithGz(dataFile)) {
        if (stat(dataFile.c_str(), &status) != 0 || status.st_size < needed) {
            throw ScanError(path + ": holds fewer samples than its header promises (" +
                            std::to_string(needed) + " bytes needed)");
        }
    }

    SetGrid(*image, raw, dims, stored, info);
    if (options.headerOnly) return MakeVolume(path, stored, info);

    if (options.progress) options.progress(0.0);
    const std::size_t bytes = count * std::size_t(image->nbyper);
    MallocBuffer samples(std::malloc(bytes));
    if (samples == nullptr) throw std::bad_alloc();
    const std::int64_t start = image->iname_offset + std::int64_t(bytes) * options.volume;
    ReadSamples(path, dataFile, start, static_cast<char*>(samples.get()), bytes);
    if (image->byteorder != nifti_short_order()) {
        nifti_swap_Nbytes(std::int64_t(count), image->swapsize, samples.get());
    }
    if (options.progress) options.progress(1.0);
    stored.samples = samples.get();
    stored.owner = &samples;
    return MakeVolume(path, stored, info);
}

}  // namespace kestrel_io
