// Stored samples to Kestrel sample types, and voxel axes turned to the scanner axes.
#include "ScanSamples.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

namespace kestrel_io {

namespace {

constexpr double kPi = 3.14159265358979323846;
// A voxel axis tilted less than this against its scanner axis counts as aligned.
constexpr double kObliqueDegrees = 0.01;

template <typename F>
void VisitStored(StoredType type, F&& visit) {
    switch (type) {
        case StoredType::Int8:
            visit(std::int8_t());
            break;
        case StoredType::Uint8:
            visit(std::uint8_t());
            break;
        case StoredType::Int16:
            visit(std::int16_t());
            break;
        case StoredType::Uint16:
            visit(std::uint16_t());
            break;
        case StoredType::Int32:
            visit(std::int32_t());
            break;
        case StoredType::Uint32:
            visit(std::uint32_t());
            break;
        case StoredType::Int64:
            visit(std::int64_t());
            break;
        case StoredType::Uint64:
            visit(std::uint64_t());
            break;
        case StoredType::Float32:
            visit(float());
            break;
        case StoredType::Float64:
            visit(double());
            break;
    }
}

bool IsIntegerType(StoredType type) {
    return type != StoredType::Float32 && type != StoredType::Float64;
}

// The Kestrel type that holds the stored type unchanged, if there is one.
bool SameKestrelType(StoredType type, DataType* out) {
    switch (type) {
        case StoredType::Int8:
            *out = VolumeData::dtInt8;
            return true;
        case StoredType::Uint8:
            *out = VolumeData::dtUint8;
            return true;
        case StoredType::Int16:
            *out = VolumeData::dtInt16;
            return true;
        case StoredType::Uint16:
            *out = VolumeData::dtUint16;
            return true;
        case StoredType::Int32:
            *out = VolumeData::dtInt32;
            return true;
        case StoredType::Uint32:
            *out = VolumeData::dtUint32;
            return true;
        case StoredType::Float32:
            *out = VolumeData::dtFloat32;
            return true;
        default:
            return false;
    }
}

const Rescale& SliceRescale(const StoredVolume& stored, int z) {
    return stored.rescale.size() == 1 ? stored.rescale[0] : stored.rescale[std::size_t(z)];
}

bool IsWhole(double value) {
    return std::isfinite(value) && std::floor(value) == value;
}

// Smallest and largest rescaled value over all slices (NaN samples are skipped).
template <typename T>
void RescaledRange(const StoredVolume& stored, double* lo, double* hi) {
    const std::size_t slice = std::size_t(stored.dims[0]) * std::size_t(stored.dims[1]);
    const T* samples = static_cast<const T*>(stored.samples);
    *lo = std::numeric_limits<double>::infinity();
    *hi = -*lo;
    for (int z = 0; z < stored.dims[2]; ++z) {
        const T* begin = samples + slice * std::size_t(z);
        T low = begin[0], high = begin[0];
        for (std::size_t i = 1; i < slice; ++i) {
            low = begin[i] < low ? begin[i] : low;
            high = begin[i] > high ? begin[i] : high;
        }
        const Rescale& r = SliceRescale(stored, z);
        const double a = r.slope * double(low) + r.intercept;
        const double b = r.slope * double(high) + r.intercept;
        *lo = std::min({*lo, a, b});
        *hi = std::max({*hi, a, b});
    }
}

// Smallest and largest rescaled value that samples of type T can give.
template <typename T>
void TypeRange(const StoredVolume& stored, double* lo, double* hi) {
    *lo = std::numeric_limits<double>::infinity();
    *hi = -*lo;
    for (const Rescale& r : stored.rescale) {
        const double a = r.slope * double(std::numeric_limits<T>::lowest()) + r.intercept;
        const double b = r.slope * double(std::numeric_limits<T>::max()) + r.intercept;
        *lo = std::min({*lo, a, b});
        *hi = std::max({*hi, a, b});
    }
}

// Narrowest integer type that holds [lo, hi], preferring int16 (CT in Hounsfield units).
bool IntegerTypeFor(double lo, double hi, DataType* out) {
    struct Candidate {
        const DataType* type;
        double lo, hi;
    };
    const Candidate candidates[] = {
        {&VolumeData::dtInt16, -32768.0, 32767.0},
        {&VolumeData::dtUint16, 0.0, 65535.0},
        {&VolumeData::dtInt32, -2147483648.0, 2147483647.0},
        {&VolumeData::dtUint32, 0.0, 4294967295.0},
    };
    for (const Candidate& c : candidates) {
        if (lo >= c.lo && hi <= c.hi) {
            *out = *c.type;
            return true;
        }
    }
    return false;
}

// out[i] = slope * in[i] + intercept per slice, rounded for integer targets (whose values are
// whole already).
template <typename In, typename Out>
void ConvertSlices(const StoredVolume& stored, Out* out) {
    const std::size_t slice = std::size_t(stored.dims[0]) * std::size_t(stored.dims[1]);
    const In* in = static_cast<const In*>(stored.samples);
    for (int z = 0; z < stored.dims[2]; ++z) {
        const Rescale r = SliceRescale(stored, z);
        const In* src = in + slice * std::size_t(z);
        Out* dst = out + slice * std::size_t(z);
        for (std::size_t i = 0; i < slice; ++i) {
            const double value = r.slope * double(src[i]) + r.intercept;
            if constexpr (std::is_floating_point<Out>::value) {
                dst[i] = Out(value);
            } else {
                dst[i] = Out(std::llround(value));
            }
        }
    }
}

template <typename F>
void VisitKestrel(const DataType& type, F&& visit) {
    if (type.isFloat) return visit(float());
    switch (type.bitCount) {
        case 8:
            return type.isSigned ? visit(std::int8_t()) : visit(std::uint8_t());
        case 16:
            return type.isSigned ? visit(std::int16_t()) : visit(std::uint16_t());
        default:
            return type.isSigned ? visit(std::int32_t()) : visit(std::uint32_t());
    }
}

// out(x, y, z) = in at file position p with p[order[i]] = flipped[i] ? n - 1 - c[i] : c[i].
template <typename T>
void Reorder(const T* in, T* out, const int inDims[3], const int order[3], const bool flipped[3]) {
    const std::ptrdiff_t inStride[3] = {1, inDims[0], std::ptrdiff_t(inDims[0]) * inDims[1]};
    int outDims[3];
    std::ptrdiff_t step[3];
    std::ptrdiff_t start = 0;
    for (int i = 0; i < 3; ++i) {
        outDims[i] = inDims[order[i]];
        step[i] = flipped[i] ? -inStride[order[i]] : inStride[order[i]];
        if (flipped[i]) start += std::ptrdiff_t(outDims[i] - 1) * inStride[order[i]];
    }
    for (int z = 0; z < outDims[2]; ++z) {
        for (int y = 0; y < outDims[1]; ++y) {
            const T* row = in + start + z * step[2] + y * step[1];
            for (int x = 0; x < outDims[0]; ++x)
                *out++ = row[x * step[0]];
        }
    }
}

// value -> lo + hi - value over the volume's range [lo, hi]: the order of values is reversed
// and the range kept. Non-finite float samples stay as they are.
template <typename T>
void MirrorValues(T* samples, std::size_t count) {
    bool any = false;
    T lo = T(), hi = T();
    for (std::size_t i = 0; i < count; ++i) {
        if constexpr (std::is_floating_point<T>::value) {
            if (!std::isfinite(samples[i])) continue;
        }
        lo = any ? std::min(lo, samples[i]) : samples[i];
        hi = any ? std::max(hi, samples[i]) : samples[i];
        any = true;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if constexpr (std::is_floating_point<T>::value) {
            samples[i] = T(double(lo) + double(hi) - double(samples[i]));
        } else {
            samples[i] = T(std::int64_t(lo) + std::int64_t(hi) - std::int64_t(samples[i]));
        }
    }
}

// samples(x, y, z) <-> samples(x', y', z') with c' = n - 1 - c on each flipped axis: every
// sample has one partner (itself on a middle plane), so each pair is swapped once.
template <typename T>
void ReverseInPlace(T* samples, const int dims[3], const bool flipped[3]) {
    const std::size_t row = std::size_t(dims[0]);
    const std::size_t slice = row * std::size_t(dims[1]);
    for (int z = 0; z < dims[2]; ++z) {
        const int z2 = flipped[2] ? dims[2] - 1 - z : z;
        for (int y = 0; y < dims[1]; ++y) {
            const int y2 = flipped[1] ? dims[1] - 1 - y : y;
            T* a = samples + std::size_t(z) * slice + std::size_t(y) * row;
            T* b = samples + std::size_t(z2) * slice + std::size_t(y2) * row;
            for (int x = 0; x < dims[0]; ++x) {
                const int x2 = flipped[0] ? dims[0] - 1 - x : x;
                if (b + x2 > a + x) std::swap(a[x], b[x2]);
            }
        }
    }
}

std::string AxisList(const int order[3]) {
    std::string text;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) text += ", ";
        text += "ijk"[order[i]];
    }
    return text;
}

// Finds which scanner axis each voxel axis runs along and reorders the samples so that voxel
// x, y, z run along increasing scanner x, y, z. An oblique grid is kept as it is (no
// resampling), turned by its nearest scanner axes.
void TurnToScannerAxes(const StoredVolume& stored, VolumeData& volume, ScanInfo& info) {
    int nearest[3];
    double tilt = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double* d = stored.direction[a];
        nearest[a] = 0;
        for (int w = 1; w < 3; ++w) {
            if (std::fabs(d[w]) > std::fabs(d[nearest[a]])) nearest[a] = w;
        }
        const double norm = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double cosine = norm > 0.0 ? std::min(1.0, std::fabs(d[nearest[a]]) / norm) : 1.0;
        tilt = std::max(tilt, std::acos(cosine) * 180.0 / kPi);
    }
    // Two voxel axes nearest to one scanner axis (a grid tilted by about 45 degrees): keep
    // the file's order.
    if (nearest[0] == nearest[1] || nearest[0] == nearest[2] || nearest[1] == nearest[2]) {
        for (int a = 0; a < 3; ++a)
            nearest[a] = a;
    }
    for (int a = 0; a < 3; ++a) {
        info.axisOrder[nearest[a]] = a;
        info.axisFlipped[nearest[a]] = stored.direction[a][nearest[a]] < 0.0;
    }
    info.oblique = tilt > kObliqueDegrees;
    info.obliqueDegrees = tilt;
    if (info.oblique) {
        info.notes.push_back("axes are oblique (up to " + FormatNumber(tilt) +
                             " degrees from the scanner axes): kept as the voxel grid, not "
                             "resampled");
    }

    const bool permuted = info.axisOrder[0] != 0 || info.axisOrder[1] != 1;
    const bool flipped = info.axisFlipped[0] || info.axisFlipped[1] || info.axisFlipped[2];
    if (permuted) {
        info.notes.push_back("file axes reordered: x, y, z are the file's " +
                             AxisList(info.axisOrder));
    }
    if (flipped) {
        std::string axes;
        for (int i = 0; i < 3; ++i) {
            if (!info.axisFlipped[i]) continue;
            if (!axes.empty()) axes += ", ";
            axes += "xyz"[i];
        }
        info.notes.push_back("reversed " + axes + " to run along increasing scanner coordinates");
    }
    if (!permuted && !flipped) return;
    if (volume.GetData() == nullptr) {
        // A header without samples: only the grid turns.
        int dims[3];
        float spacings[3];
        for (int i = 0; i < 3; ++i) {
            dims[i] = stored.dims[info.axisOrder[i]];
            spacings[i] = float(stored.spacings[info.axisOrder[i]]);
        }
        volume.SetDimensions(dims);
        volume.SetSpacings(spacings);
        return;
    }
    if (!permuted) {
        // Reversals only: swapped in place, so memory stays at the volume's size.
        VisitKestrel(volume.GetDataType(), [&](auto tag) {
            using T = decltype(tag);
            ReverseInPlace(static_cast<T*>(volume.GetData()), stored.dims, info.axisFlipped);
        });
        return;
    }

    int dims[3];
    float spacings[3];
    for (int i = 0; i < 3; ++i) {
        dims[i] = stored.dims[info.axisOrder[i]];
        spacings[i] = float(stored.spacings[info.axisOrder[i]]);
    }
    VolumeData turned;
    turned.SetDataType(volume.GetDataType());
    turned.SetDimensions(dims);
    turned.SetSpacings(spacings);
    turned.Allocate();
    if (turned.GetData() == nullptr) throw std::bad_alloc();
    VisitKestrel(volume.GetDataType(), [&](auto tag) {
        using T = decltype(tag);
        Reorder(static_cast<const T*>(volume.GetData()), static_cast<T*>(turned.GetData()),
                stored.dims, info.axisOrder, info.axisFlipped);
    });
    // Same byte count: copy back and keep the volume's own buffer.
    std::memcpy(volume.GetData(), turned.GetData(),
                std::size_t(dims[0]) * std::size_t(dims[1]) * std::size_t(dims[2]) *
                    std::size_t(volume.GetDataType().bitCount >> 3));
    volume.SetDimensions(dims);
    volume.SetSpacings(spacings);
}

}  // namespace

int StoredBytes(StoredType type) {
    int bytes = 0;
    VisitStored(type, [&](auto tag) { bytes = int(sizeof(tag)); });
    return bytes;
}

const char* StoredTypeName(StoredType type) {
    static const char* const kNames[] = {"int8",   "uint8", "int16",  "uint16",  "int32",
                                         "uint32", "int64", "uint64", "float32", "float64"};
    return kNames[int(type)];
}

std::string FormatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

std::size_t CheckedSampleCount(const std::string& path, const std::int64_t dims[3],
                               int bytesPerSample) {
    const std::string text =
        std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + " x " + std::to_string(dims[2]);
    for (int a = 0; a < 3; ++a) {
        if (dims[a] < 1) throw ScanError(path + ": bad dimensions " + text);
    }
    if (dims[2] == 1) {
        throw ScanError(path + ": a single 2-D image (" + std::to_string(dims[0]) + " x " +
                        std::to_string(dims[1]) + "), not a volume");
    }
    // Divide instead of multiplying so that no product can overflow.
    const std::int64_t limit = 0x7fffffff / bytesPerSample;
    if (dims[0] > limit || dims[1] > limit / dims[0] || dims[2] > limit / (dims[0] * dims[1])) {
        throw ScanError(path + ": volume of " + text + " samples is larger than 2 GiB");
    }
    return std::size_t(dims[0] * dims[1] * dims[2]);
}

std::unique_ptr<VolumeData> MakeVolume(const std::string& path, const StoredVolume& stored,
                                       ScanInfo& info) {
    info.storedType = StoredTypeName(stored.type);
    bool identity = true;
    bool whole = IsIntegerType(stored.type);
    for (const Rescale& r : stored.rescale) {
        identity = identity && r.IsIdentity();
        whole = whole && IsWhole(r.slope) && IsWhole(r.intercept);
    }
    info.rescaled = !identity;
    info.slope = stored.rescale[0].slope;
    info.intercept = stored.rescale[0].intercept;

    DataType type;
    const bool keep = identity && SameKestrelType(stored.type, &type);
    if (!keep) {
        double lo = 0.0, hi = 0.0;
        if (stored.samples != nullptr) {
            VisitStored(stored.type,
                        [&](auto tag) { RescaledRange<decltype(tag)>(stored, &lo, &hi); });
        } else {
            // Without samples the type must hold whatever the stored type can.
            VisitStored(stored.type, [&](auto tag) { TypeRange<decltype(tag)>(stored, &lo, &hi); });
        }
        if (!whole || !IntegerTypeFor(lo, hi, &type)) type = VolumeData::dtFloat32;
        if (!identity && !whole) {
            info.notes.push_back("rescaled values stored as float32");
        }
    }

    auto volume = std::make_unique<VolumeData>();
    const int dims[3] = {stored.dims[0], stored.dims[1], stored.dims[2]};
    const float spacings[3] = {float(stored.spacings[0]), float(stored.spacings[1]),
                               float(stored.spacings[2])};
    volume->SetDataType(type);
    volume->SetDimensions(dims);
    volume->SetSpacings(spacings);
    if (stored.samples == nullptr) {
        TurnToScannerAxes(stored, *volume, info);
        return volume;
    }
    if (keep && stored.owner != nullptr) {
        // The reader's buffer holds exactly the samples: the volume takes it over (it frees
        // `data` with free) instead of copying 2 bytes per sample once more.
        volume->data = stored.owner->release();
    } else {
        volume->Allocate();
        if (volume->GetData() == nullptr) {
            throw ScanError(path + ": not enough memory for the volume");
        }
        if (keep) {
            const std::size_t bytes = std::size_t(dims[0]) * std::size_t(dims[1]) *
                                      std::size_t(dims[2]) * std::size_t(StoredBytes(stored.type));
            std::memcpy(volume->GetData(), stored.samples, bytes);
        } else {
            VisitStored(stored.type, [&](auto in) {
                VisitKestrel(type, [&](auto out) {
                    ConvertSlices<decltype(in)>(stored, static_cast<decltype(out)*>(volume->data));
                });
            });
        }
    }
    if (stored.inverted) {
        VisitKestrel(type, [&](auto tag) {
            MirrorValues(static_cast<decltype(tag)*>(volume->data),
                         std::size_t(dims[0]) * std::size_t(dims[1]) * std::size_t(dims[2]));
        });
        info.notes.push_back(
            "MONOCHROME1 (higher values darker): values mirrored within their range to show "
            "like MONOCHROME2");
    }
    TurnToScannerAxes(stored, *volume, info);
    return volume;
}

}  // namespace kestrel_io
