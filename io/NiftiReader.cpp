// NIfTI-1 and NIfTI-2 (.nii, .nii.gz, .hdr/.img) through the NIfTI C library.
#include <nifti2_io.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    struct stat status;
    const std::int64_t needed = image->iname_offset + std::int64_t(count) * image->nbyper * volumes;
    if (dataFile.size() < 3 || dataFile.compare(dataFile.size() - 3, 3, ".gz") != 0) {
        if (stat(dataFile.c_str(), &status) != 0 || status.st_size < needed) {
            throw ScanError(path + ": holds fewer samples than its header promises (" +
                            std::to_string(needed) + " bytes needed)");
        }
    }

    if (options.progress) options.progress(0.0);
    // All of x, y, z (-1) of the chosen volume; dims[0] is unused by the library.
    const std::int64_t select[8] = {0, -1, -1, -1, volumes > 1 ? options.volume : -1, -1, -1, -1};
    void* raw = nullptr;
    std::int64_t read = 0;
    {
        QuietStderr quiet;
        read = nifti_read_collapsed_image(image.get(), select, &raw);
    }
    MallocBuffer samples(raw);
    const std::int64_t expected = std::int64_t(count) * image->nbyper;
    if (read != expected || raw == nullptr) {
        throw ScanError(path + ": holds fewer samples than its header promises (" +
                        std::to_string(expected) + " bytes of " +
                        nifti_datatype_string(image->datatype) + " samples)");
    }
    if (options.progress) options.progress(1.0);

    const double pixdim[3] = {image->pixdim[1], image->pixdim[2], image->pixdim[3]};
    for (int a = 0; a < 3; ++a) {
        stored.dims[a] = int(dims[a]);
        const double size = std::fabs(pixdim[a]);
        stored.spacings[a] = std::isfinite(size) && size > 0.0 ? size : 1.0;
    }
    if (stored.spacings[0] != std::fabs(pixdim[0]) || stored.spacings[1] != std::fabs(pixdim[1]) ||
        stored.spacings[2] != std::fabs(pixdim[2])) {
        info.notes.push_back("voxel size missing from the header: spacing 1 used");
    }
    // The scale is ignored when the slope is 0 (no scaling) or not a number.
    if (std::isfinite(image->scl_slope) && image->scl_slope != 0.0 &&
        std::isfinite(image->scl_inter)) {
        stored.rescale[0] = Rescale{image->scl_slope, image->scl_inter};
    }

    // Voxel axes from the sform (preferred) or the qform, turned from right-anterior-superior
    // to DICOM's left-posterior-superior frame by negating x and y.
    const nifti_dmat44* matrix = image->sform_code > 0   ? &image->sto_xyz
                                 : image->qform_code > 0 ? &image->qto_xyz
                                                         : nullptr;
    if (matrix != nullptr) {
        for (int a = 0; a < 3; ++a) {
            double column[3] = {-matrix->m[0][a], -matrix->m[1][a], matrix->m[2][a]};
            const double norm =
                std::sqrt(column[0] * column[0] + column[1] * column[1] + column[2] * column[2]);
            if (!(norm > 0.0) || !std::isfinite(norm)) continue;
            for (int w = 0; w < 3; ++w)
                stored.direction[a][w] = column[w] / norm;
        }
    } else {
        info.notes.push_back("no orientation in the header: file axes drawn as they are");
    }
    stored.samples = samples.get();
    stored.owner = &samples;
    return MakeVolume(path, stored, info);
}

}  // namespace kestrel_io
