// NRRD (.nrrd, and .nhdr with detached data; raw and gzip encodings) through teem.
#include <teem/biff.h>
#include <teem/nrrd.h>

#include <cmath>
#include <cstdlib>

#include "NrrdSources.h"
#include "ScanSamples.h"

namespace kestrel_io {

namespace {

struct NrrdNuke {
    void operator()(Nrrd* nrrd) const { nrrdNuke(nrrd); }
};
struct IoStateNix {
    void operator()(NrrdIoState* state) const { nrrdIoStateNix(state); }
};
using NrrdPtr = std::unique_ptr<Nrrd, NrrdNuke>;

// teem stacks its messages outermost first, one line each, as "[nrrd] function: text". The
// innermost line names the actual trouble.
std::string TeemError() {
    char* text = biffGetDone(NRRD);
    std::string message = text != nullptr ? text : "";
    std::free(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    const std::size_t lastLine = message.rfind('\n');
    if (lastLine != std::string::npos) message = message.substr(lastLine + 1);
    const std::size_t colon = message.find(": ");
    if (message.rfind("[nrrd]", 0) == 0 && colon != std::string::npos) {
        message = message.substr(colon + 2);
    }
    return message.empty() ? "unknown error" : message;
}

NrrdPtr Load(const std::string& path, bool headerOnly) {
    NrrdPtr nrrd(nrrdNew());
    std::unique_ptr<NrrdIoState, IoStateNix> state(nrrdIoStateNew());
    state->skipData = headerOnly ? AIR_TRUE : AIR_FALSE;
    if (nrrdLoad(nrrd.get(), path.c_str(), state.get()) != 0) {
        throw ScanError(path + ": not a readable NRRD file (" + TeemError() + ")");
    }
    return nrrd;
}

bool StoredTypeOf(int type, StoredType* out) {
    switch (type) {
        case nrrdTypeChar:
            *out = StoredType::Int8;
            return true;
        case nrrdTypeUChar:
            *out = StoredType::Uint8;
            return true;
        case nrrdTypeShort:
            *out = StoredType::Int16;
            return true;
        case nrrdTypeUShort:
            *out = StoredType::Uint16;
            return true;
        case nrrdTypeInt:
            *out = StoredType::Int32;
            return true;
        case nrrdTypeUInt:
            *out = StoredType::Uint32;
            return true;
        case nrrdTypeLLong:
            *out = StoredType::Int64;
            return true;
        case nrrdTypeULLong:
            *out = StoredType::Uint64;
            return true;
        case nrrdTypeFloat:
            *out = StoredType::Float32;
            return true;
        case nrrdTypeDouble:
            *out = StoredType::Float64;
            return true;
        default:
            return false;
    }
}

bool HasSpaceDirection(const Nrrd& nrrd, unsigned axis) {
    return nrrd.spaceDim > 0 && std::isfinite(nrrd.axis[axis].spaceDirection[0]);
}

// The axis of a 4-D file that is not a spatial one: the one without a space direction, else
// the one whose kind is not a domain, else the slowest.
unsigned ListAxis(const Nrrd& nrrd) {
    for (unsigned a = 0; a < 4; ++a) {
        if (nrrd.spaceDim > 0 && !HasSpaceDirection(nrrd, a)) return a;
    }
    for (unsigned a = 0; a < 4; ++a) {
        if (nrrd.axis[a].kind != nrrdKindUnknown && !nrrdKindIsDomain(nrrd.axis[a].kind)) return a;
    }
    return 3;
}

// x and y of the space turned into DICOM's left-posterior-superior frame.
void SpaceSigns(int space, double signs[3]) {
    signs[0] = signs[1] = signs[2] = 1.0;
    switch (space) {
        case nrrdSpaceRightAnteriorSuperior:
        case nrrdSpaceRightAnteriorSuperiorTime:
            signs[0] = signs[1] = -1.0;
            break;
        case nrrdSpaceLeftAnteriorSuperior:
        case nrrdSpaceLeftAnteriorSuperiorTime:
            signs[1] = -1.0;
            break;
        default:
            break;
    }
}

// Spaces named after the patient's axes (as opposed to scanner or plain right-handed ones).
bool AnatomicalSpace(int space) {
    switch (space) {
        case nrrdSpaceRightAnteriorSuperior:
        case nrrdSpaceLeftAnteriorSuperior:
        case nrrdSpaceLeftPosteriorSuperior:
        case nrrdSpaceRightAnteriorSuperiorTime:
        case nrrdSpaceLeftAnteriorSuperiorTime:
        case nrrdSpaceLeftPosteriorSuperiorTime:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<VolumeData> ReadNrrd(const std::string& path, const ScanLoadOptions& options,
                                     ScanInfo& info) {
    info.format = ScanFormat::Nrrd;
    // Data files and header length first (teem would open the one and crawl over the other),
    // then the header: sizes and type are checked before any sample is allocated.
    const NrrdSources sources = FindNrrdSources(path);
    NrrdPtr header = Load(path, true);
    StoredVolume stored;
    if (!StoredTypeOf(header->type, &stored.type)) {
        throw ScanError(path + ": unsupported sample type " + airEnumStr(nrrdType, header->type));
    }
    if (header->dim < 3 || header->dim > 4) {
        if (header->dim == 2) {
            throw ScanError(path + ": a single 2-D image (" + std::to_string(header->axis[0].size) +
                            " x " + std::to_string(header->axis[1].size) + "), not a volume");
        }
        throw ScanError(path + ": has " + std::to_string(header->dim) +
                        " axes; only 3-D volumes and 4-D series of them are supported");
    }
    const unsigned list = header->dim == 4 ? ListAxis(*header) : 4;
    unsigned spatial[3];
    for (unsigned a = 0, n = 0; a < header->dim; ++a) {
        if (a != list) spatial[n++] = a;
    }
    std::int64_t dims[3];
    for (int i = 0; i < 3; ++i) {
        const size_t size = header->axis[spatial[i]].size;
        dims[i] = size > 0x7fffffff ? std::int64_t(0x7fffffff) : std::int64_t(size);
    }
    const std::size_t count = CheckedSampleCount(path, dims, StoredBytes(stored.type));
    const size_t volumes = list < 4 ? header->axis[list].size : 1;
    if (volumes > 0x7fffffff / (count * size_t(StoredBytes(stored.type)))) {
        throw ScanError(path + ": " + std::to_string(volumes) + " volumes of " +
                        std::to_string(count) + " samples are larger than 2 GiB");
    }
    if (options.volume < 0 || size_t(options.volume) >= volumes) {
        throw ScanError(path + ": has " + std::to_string(volumes) + " volume(s); volume " +
                        std::to_string(options.volume) + " does not exist");
    }

    if (sources.encoding == NrrdEncoding::Ascii) CheckNrrdTextBytes(path, sources, count * volumes);
    NrrdPtr nrrd;
    if (options.headerOnly) {
        nrrd = std::move(header);
    } else if (sources.encoding == NrrdEncoding::Ascii) {
        nrrd = std::move(header);
        nrrd->data = ReadNrrdText(path, sources, stored.type, count * volumes).release();
    } else {
        if (options.progress) options.progress(0.0);
        nrrd = Load(path, false);
        if (nrrd->data == nullptr) throw ScanError(path + ": holds no samples");
    }
    // The spatial axes of `nrrd`: those of the header without samples, else 0, 1, 2 of the slice.
    unsigned axes[3] = {spatial[0], spatial[1], spatial[2]};
    if (!options.headerOnly && (volumes > 1 || list < 4)) {
        axes[0] = 0;
        axes[1] = 1;
        axes[2] = 2;
        NrrdPtr slice(nrrdNew());
        if (nrrdSlice(slice.get(), nrrd.get(), list, size_t(options.volume)) != 0) {
            throw ScanError(path + ": cannot take volume " + std::to_string(options.volume) + " (" +
                            TeemError() + ")");
        }
        nrrd = std::move(slice);
    }
    if (volumes > 1) {
        info.chosen = "volume " + std::to_string(options.volume) + " of " +
                      std::to_string(volumes) + " (0-based)";
        info.notes.push_back("4-D file of " + std::to_string(volumes) + " volumes: opened volume " +
                             std::to_string(options.volume));
    }
    if (options.progress) options.progress(1.0);

    double signs[3];
    SpaceSigns(nrrd->space, signs);
    bool oriented = false;
    for (unsigned i = 0; i < 3; ++i) {
        const NrrdAxisInfo& axis = nrrd->axis[axes[i]];
        stored.dims[i] = int(axis.size);
        if (HasSpaceDirection(*nrrd, axes[i]) && nrrd->spaceDim == 3) {
            const double* d = axis.spaceDirection;
            const double norm = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            if (norm > 0.0 && std::isfinite(norm)) {
                stored.spacings[i] = norm;
                for (int w = 0; w < 3; ++w)
                    stored.direction[i][w] = signs[w] * d[w] / norm;
                oriented = true;
                continue;
            }
        }
        const double spacing = std::fabs(axis.spacing);
        stored.spacings[i] = std::isfinite(spacing) && spacing > 0.0 ? spacing : 1.0;
    }
    if (!oriented) info.notes.push_back("no space directions: file axes drawn as they are");
    info.patientFrame = oriented && AnatomicalSpace(nrrd->space);
    MallocBuffer samples(nrrd->data);
    nrrd->data = nullptr;
    stored.samples = samples.get();
    stored.owner = &samples;
    return MakeVolume(path, stored, info);
}

}  // namespace kestrel_io
