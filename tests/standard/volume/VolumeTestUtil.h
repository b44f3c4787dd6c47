// Helpers shared by the volume tests: the seven sample types as C++ types,
// filled volumes, snapshots for "unchanged" checks and file helpers.
#ifndef KESTREL_TESTS_VOLUME_TEST_UTIL_H
#define KESTREL_TESTS_VOLUME_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VolumeData.h"

namespace volume_test {

// The DataType constant that describes C++ sample type T.
template <typename T>
DataType TypeOf();
template <>
inline DataType TypeOf<signed char>() {
    return VolumeData::dtInt8;
}
template <>
inline DataType TypeOf<unsigned char>() {
    return VolumeData::dtUint8;
}
template <>
inline DataType TypeOf<short>() {
    return VolumeData::dtInt16;
}
template <>
inline DataType TypeOf<unsigned short>() {
    return VolumeData::dtUint16;
}
template <>
inline DataType TypeOf<int>() {
    return VolumeData::dtInt32;
}
template <>
inline DataType TypeOf<unsigned int>() {
    return VolumeData::dtUint32;
}
template <>
inline DataType TypeOf<float>() {
    return VolumeData::dtFloat32;
}

using AllSampleTypes =
    ::testing::Types<signed char, unsigned char, short, unsigned short, int, unsigned int, float>;

// A reproducible sample of type T. Integers cover the full range of T; floats
// are finite and of either sign.
template <typename T>
T RandomSample(std::mt19937& rng) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::uniform_real_distribution<float>(-1000.0f, 1000.0f)(rng);
    } else {
        using Wide = std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>;
        return static_cast<T>(std::uniform_int_distribution<Wide>(
            std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max())(rng));
    }
}

// A volume of type T, the given dimensions and spacings, filled with random
// samples from `seed`.
template <typename T>
VolumeData MakeRandomVolume(int x, int y, int z, unsigned seed, const float* spacings = nullptr) {
    VolumeData volume;
    volume.SetDataType(TypeOf<T>());
    const int dims[3] = {x, y, z};
    volume.SetDimensions(dims);
    if (spacings != nullptr) volume.SetSpacings(spacings);
    volume.Allocate();
    std::mt19937 rng(seed);
    T* samples = static_cast<T*>(volume.GetData());
    for (long long i = 0; i < static_cast<long long>(x) * y * z; ++i) {
        samples[i] = RandomSample<T>(rng);
    }
    return volume;
}

// Everything observable about a volume: fields and a copy of its bytes.
struct Snapshot {
    DataType type;
    int dimensions[3];
    float spacings[3];
    const void* data;
    std::vector<unsigned char> bytes;
};

// Takes a snapshot; `byteCount` is the size the caller knows the buffer has.
inline Snapshot TakeSnapshot(const VolumeData& volume, std::size_t byteCount) {
    Snapshot s;
    s.type = volume.GetDataType();
    volume.GetDimensions(s.dimensions);
    volume.GetSpacings(s.spacings);
    s.data = volume.GetData();
    if (s.data != nullptr) {
        const auto* p = static_cast<const unsigned char*>(s.data);
        s.bytes.assign(p, p + byteCount);
    }
    return s;
}

// Checks that the volume still matches the snapshot, field by field and byte
// by byte (spacings compared bitwise).
inline void ExpectUnchanged(const VolumeData& volume, const Snapshot& s) {
    EXPECT_EQ(volume.GetDataType(), s.type);
    int dims[3];
    float spacings[3];
    volume.GetDimensions(dims);
    volume.GetSpacings(spacings);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dims[i], s.dimensions[i]) << "axis " << i;
        EXPECT_EQ(std::memcmp(&spacings[i], &s.spacings[i], 4), 0) << "axis " << i;
    }
    ASSERT_EQ(volume.GetData(), s.data);
    if (s.data != nullptr) {
        EXPECT_EQ(std::memcmp(volume.GetData(), s.bytes.data(), s.bytes.size()), 0);
    }
}

// A path in the temporary folder private to this process: the tests of one executable run in
// parallel processes (and other builds' tests may run beside them), so a fixed name would race.
inline std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "kestrel_volume_" + std::to_string(getpid()) + "_" + name;
}

inline void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
}

// The whole file, or an empty vector with `exists` false if it cannot be opened.
inline std::vector<unsigned char> ReadBytes(const std::string& path, bool* exists = nullptr) {
    std::vector<unsigned char> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (exists != nullptr) *exists = f != nullptr;
    if (f == nullptr) return bytes;
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    std::fclose(f);
    return bytes;
}

// Appends a little-endian 32-bit value.
inline void PutLE32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A structured-file header assembled by hand, independently of the writer.
inline std::vector<unsigned char> Header(int x, int y, int z, float sx, float sy, float sz,
                                         unsigned char isFloat, unsigned char isSigned,
                                         int bitCount) {
    std::vector<unsigned char> out;
    PutLE32(out, static_cast<std::uint32_t>(x));
    PutLE32(out, static_cast<std::uint32_t>(y));
    PutLE32(out, static_cast<std::uint32_t>(z));
    for (float s : {sx, sy, sz}) {
        std::uint32_t bits;
        std::memcpy(&bits, &s, 4);
        PutLE32(out, bits);
    }
    out.push_back(isFloat);
    out.push_back(isSigned);
    out.push_back(0);
    out.push_back(0);
    PutLE32(out, static_cast<std::uint32_t>(bitCount));
    return out;
}

}  // namespace volume_test

#endif  // KESTREL_TESTS_VOLUME_TEST_UTIL_H
