// Dispatch from a DataType to the C++ scalar type of its samples, and the
// validated byte count of a volume.
#ifndef KESTREL_VOLUME_SAMPLE_TYPES_H
#define KESTREL_VOLUME_SAMPLE_TYPES_H

#include <cstddef>
#include <cstdint>

#include "DataType.h"

namespace kestrel_volume {

template <typename T>
struct SampleTag {
    using type = T;
};

// Calls visit(SampleTag<T>{}) for the scalar type T that `type` describes and
// returns true; returns false for a type that matches none of the seven.
// isFloat wins (it needs bitCount 32: a float of another width has no type),
// then isSigned picks between the signed and unsigned 8-, 16- and 32-bit integers.
template <typename Visit>
bool VisitSampleType(const DataType& type, Visit&& visit) {
    if (type.isFloat) {
        if (type.bitCount != 32) return false;
        visit(SampleTag<float>{});
        return true;
    }
    switch (type.bitCount) {
        case 8:
            if (type.isSigned)
                visit(SampleTag<signed char>{});
            else
                visit(SampleTag<unsigned char>{});
            return true;
        case 16:
            if (type.isSigned)
                visit(SampleTag<short>{});
            else
                visit(SampleTag<unsigned short>{});
            return true;
        case 32:
            if (type.isSigned)
                visit(SampleTag<int>{});
            else
                visit(SampleTag<unsigned int>{});
            return true;
        default:
            return false;
    }
}

inline bool IsSupportedSampleType(const DataType& type) {
    return VisitSampleType(type, [](auto) {});
}

// Volumes stay below 2^31 bytes.
constexpr std::uint64_t kMaxVolumeBytes = (std::uint64_t(1) << 31) - 1;

// (bytesPerSample) * x * y * z, computed without overflow. Returns false (and
// leaves `bytes` alone) unless every factor is at least 1 and the product is
// at most kMaxVolumeBytes.
inline bool CheckedVolumeBytes(int bytesPerSample, const int* dims, std::size_t& bytes) {
    if (bytesPerSample < 1) return false;
    std::uint64_t total = static_cast<std::uint64_t>(bytesPerSample);
    for (int axis = 2; axis >= 0; --axis) {
        if (dims[axis] < 1) return false;
        total *= static_cast<std::uint64_t>(dims[axis]);  // < 2^31 * 2^31: no wrap
        if (total > kMaxVolumeBytes) return false;
    }
    bytes = static_cast<std::size_t>(total);
    return true;
}

// Byte count of a volume of a supported sample type (see CheckedVolumeBytes).
inline bool SampleVolumeBytes(const DataType& type, const int* dims, std::size_t& bytes) {
    return IsSupportedSampleType(type) && CheckedVolumeBytes(type.bitCount >> 3, dims, bytes);
}

}  // namespace kestrel_volume

#endif  // KESTREL_VOLUME_SAMPLE_TYPES_H
