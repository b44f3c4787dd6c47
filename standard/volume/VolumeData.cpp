// VolumeData: the dense sample buffer, its deep copies and its value range.
#include "VolumeData.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "volume/SampleTypes.h"
#include "volume/TripleCopy.h"
#include "volume/VolumeFileIO.h"

using kestrel_volume::CheckedVolumeBytes;
using kestrel_volume::SampleTag;
using kestrel_volume::SampleVolumeBytes;
using kestrel_volume::VisitSampleType;

const DataType VolumeData::dtInt8 = {false, true, 8};
const DataType VolumeData::dtUint8 = {false, false, 8};
const DataType VolumeData::dtInt16 = {false, true, 16};
const DataType VolumeData::dtUint16 = {false, false, 16};
const DataType VolumeData::dtInt32 = {false, true, 32};
const DataType VolumeData::dtUint32 = {false, false, 32};
const DataType VolumeData::dtFloat32 = {true, true, 32};

VolumeData::VolumeData()
    : dataType(dtInt8),
      dimensions{0, 0, 0},
      spacings{1.0f, 1.0f, 1.0f},
      data(nullptr),
      ownedBuffer_(nullptr),
      ownedBytes_(0) {}

VolumeData::VolumeData(const VolumeData& other)
    : dataType(other.dataType),
      dimensions{other.dimensions[0], other.dimensions[1], other.dimensions[2]},
      spacings{other.spacings[0], other.spacings[1], other.spacings[2]},
      data(nullptr),
      ownedBuffer_(nullptr),
      ownedBytes_(0) {
    const std::size_t bytes = other.data != nullptr ? other.HeldBytes() : 0;
    if (bytes == 0) return;
    void* copy = std::malloc(bytes);
    if (copy == nullptr) throw std::bad_alloc();
    std::memcpy(copy, other.data, bytes);
    AdoptBuffer(copy, bytes);
}

VolumeData& VolumeData::operator=(const VolumeData& other) {
    if (this == &other) return *this;
    // Duplicate first, so that a failed allocation leaves this volume intact.
    const std::size_t bytes = other.data != nullptr ? other.HeldBytes() : 0;
    void* copy = nullptr;
    if (bytes > 0) {
        copy = std::malloc(bytes);
        if (copy == nullptr) throw std::bad_alloc();
        std::memcpy(copy, other.data, bytes);
    }
    dataType = other.dataType;
    for (int i = 0; i < 3; ++i) {
        dimensions[i] = other.dimensions[i];
        spacings[i] = other.spacings[i];
    }
    AdoptBuffer(copy, bytes);
    return *this;
}

VolumeData::~VolumeData() {
    std::free(data);
}

void VolumeData::AdoptBuffer(void* buffer, std::size_t bytes) {
    std::free(data);
    data = buffer;
    ownedBuffer_ = buffer;
    ownedBytes_ = buffer != nullptr ? bytes : 0;
}

std::size_t VolumeData::HeldBytes() const {
    if (data == nullptr) return 0;
    if (data == ownedBuffer_) return ownedBytes_;
    std::size_t bytes = 0;
    return CheckedVolumeBytes(dataType.bitCount >> 3, dimensions, bytes) ? bytes : 0;
}

void VolumeData::Allocate() {
    Clean();
    std::size_t bytes = 0;
    if (!CheckedVolumeBytes(dataType.bitCount >> 3, dimensions, bytes)) return;
    void* buffer = std::malloc(bytes);
    // Out of memory: the volume stays empty, and the caller hears of it as from operator new.
    if (buffer == nullptr) throw std::bad_alloc();
    AdoptBuffer(buffer, bytes);
}

void VolumeData::Clean() {
    AdoptBuffer(nullptr, 0);
}

void VolumeData::GetDimensions(int* out) const {
    CopyTriple(dimensions, out);
}

void VolumeData::SetDimensions(const int* in) {
    CopyTriple(in, dimensions);
}

void VolumeData::GetSpacings(float* out) const {
    CopyTriple(spacings, out);
}

void VolumeData::SetSpacings(const float* in) {
    CopyTriple(in, spacings);
}

void VolumeData::WriteRawFile(FILE* file) const {
    VolumeFileIO::WriteRaw(*this, file);
}

void VolumeData::ReadRawFile(FILE* file) {
    VolumeFileIO::ReadRaw(*this, file);
}

void VolumeData::WriteStructuredFile(const char* path) const {
    std::size_t bytes = 0;
    // No file at all for a volume that has nothing valid to write.
    if (path == nullptr || data == nullptr || !SampleVolumeBytes(dataType, dimensions, bytes) ||
        bytes > HeldBytes()) {
        return;
    }
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return;
    VolumeFileIO::WriteStructured(*this, file);
    std::fclose(file);
}

void VolumeData::ReadStructuredFile(const char* path) {
    if (path == nullptr) return;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return;
    VolumeFileIO::ReadStructured(*this, file);
    std::fclose(file);
}

void VolumeData::GetMinMaxValue(double& min, double& max) {
    std::size_t bytes = 0;
    if (data == nullptr || !SampleVolumeBytes(dataType, dimensions, bytes) || bytes > HeldBytes()) {
        return;
    }
    const std::size_t count = bytes / static_cast<std::size_t>(dataType.bitCount >> 3);
    VisitSampleType(dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        const T* samples = static_cast<const T*>(data);
        std::size_t first = 0;
        if constexpr (std::is_floating_point_v<T>) {
            // NaN and infinities have no place in a value range: they are left out, and a
            // volume holding nothing else has the range 0 .. 0.
            while (first < count && !std::isfinite(samples[first]))
                ++first;
            if (first == count) {
                min = max = 0.0;
                return;
            }
        }
        // Both start at the first (finite) sample; compared in T itself.
        T lo = samples[first];
        T hi = samples[first];
        for (std::size_t i = first + 1; i < count; ++i) {
            const T s = samples[i];
            if constexpr (std::is_floating_point_v<T>) {
                if (!std::isfinite(s)) continue;
            }
            if (lo > s) lo = s;
            if (hi < s) hi = s;
        }
        min = static_cast<double>(lo);
        max = static_cast<double>(hi);
    });
}
