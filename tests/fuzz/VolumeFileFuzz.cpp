// libFuzzer target for the volume file readers. Each input is read from
// memory as a structured file and, with a type and size taken from its first
// bytes, as a raw stream. Checked on every input:
//   - a rejected read leaves the volume exactly as it was;
//   - an accepted structured read holds the header's fields and exactly the
//     input's sample bytes, writes back to the same bytes, and (for small
//     volumes) bricks into a CoherentVolume that reads every voxel back;
//   - a raw read succeeds exactly when the stream holds the samples.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CoherentVolume.h"
#include "VolumeData.h"
#include "volume/SampleTypes.h"
#include "volume/VolumeFileIO.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "VolumeFileFuzz: %s\n", what);
    std::abort();
}

// A populated volume that every read starts from: 3 x 2 x 1 uint16.
void MakeStart(VolumeData& volume) {
    volume.SetDataType(VolumeData::dtUint16);
    const int dims[3] = {3, 2, 1};
    const float spacings[3] = {0.5f, 0.25f, 2.0f};
    volume.SetDimensions(dims);
    volume.SetSpacings(spacings);
    volume.Allocate();
    const unsigned short samples[6] = {1, 2, 3, 65535, 0, 7};
    std::memcpy(volume.GetData(), samples, sizeof samples);
}

// Same fields (spacings bitwise), same buffer pointer and same 12 bytes as
// the start volume.
bool IsStart(const VolumeData& volume, const void* buffer) {
    VolumeData start;
    MakeStart(start);
    return volume.dataType == start.dataType &&
           std::memcmp(volume.dimensions, start.dimensions, sizeof volume.dimensions) == 0 &&
           std::memcmp(volume.spacings, start.spacings, sizeof volume.spacings) == 0 &&
           volume.GetData() == buffer && std::memcmp(buffer, start.GetData(), 12) == 0;
}

std::int32_t LE32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

// Every voxel of a small volume, bricked with block sizes 1..8 from `seed`,
// reads back as its dense value.
void CheckBricking(VolumeData& volume, std::uint8_t seed) {
    const int blockSize[3] = {1 + (seed & 7), 1 + ((seed >> 3) & 7), 1 + ((seed >> 5) & 7)};
    CoherentVolume bricked;
    bricked.SetBlockSize(blockSize);
    bricked.SetData(&volume);
    const int nx = volume.dimensions[0], ny = volume.dimensions[1], nz = volume.dimensions[2];
    kestrel_volume::VisitSampleType(volume.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        const T* dense = static_cast<const T*>(volume.GetData());
        for (int z = 0; z < nz; ++z)
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x) {
                    const float expected = static_cast<float>(dense[x + nx * (y + ny * z)]);
                    const float got = bricked.GetValue(x, y, z);
                    if (!(got == expected || (std::isnan(got) && std::isnan(expected)))) {
                        Fail("bricked read differs from the dense sample");
                    }
                }
    });
}

void FuzzStructured(const std::uint8_t* data, std::size_t size) {
    VolumeData volume;
    MakeStart(volume);
    const void* startBuffer = volume.GetData();
    FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (stream == nullptr) return;
    const bool accepted = VolumeFileIO::ReadStructured(volume, stream);
    std::fclose(stream);
    if (!accepted) {
        if (!IsStart(volume, startBuffer)) Fail("rejected structured file changed the volume");
        return;
    }

    std::size_t bytes = 0;
    if (size < 32 ||
        !kestrel_volume::SampleVolumeBytes(volume.dataType, volume.dimensions, bytes)) {
        Fail("accepted an invalid header");
    }
    for (int i = 0; i < 3; ++i) {
        if (volume.dimensions[i] != LE32(data + 4 * i)) Fail("dimension differs from the header");
        if (std::memcmp(&volume.spacings[i], data + 12 + 4 * i, 4) != 0) Fail("spacing differs");
    }
    if (size - 32 < bytes || std::memcmp(volume.GetData(), data + 32, bytes) != 0) {
        Fail("samples differ from the file");
    }

    // write back: the same bytes, except that the two unused bytes are zero
    char* written = nullptr;
    std::size_t writtenSize = 0;
    FILE* out = open_memstream(&written, &writtenSize);
    if (out == nullptr) return;
    const bool wrote = VolumeFileIO::WriteStructured(volume, out);
    std::fclose(out);
    if (!wrote || writtenSize != 32 + bytes || std::memcmp(written, data, 26) != 0 ||
        written[26] != 0 || written[27] != 0 ||
        std::memcmp(written + 28, data + 28, 4 + bytes) != 0) {
        Fail("written file differs from the file read");
    }
    std::free(written);

    const std::size_t voxels = bytes / static_cast<std::size_t>(volume.dataType.bitCount >> 3);
    if (voxels <= 4096) CheckBricking(volume, data[0]);
}

// Raw read of data[4..] as a volume of up to 16 x 16 x 16 samples of one of
// the seven types, chosen by data[0..3].
void FuzzRaw(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return;
    static const DataType kTypes[7] = {
        VolumeData::dtInt8,  VolumeData::dtUint8,  VolumeData::dtInt16,  VolumeData::dtUint16,
        VolumeData::dtInt32, VolumeData::dtUint32, VolumeData::dtFloat32};
    VolumeData volume;
    MakeStart(volume);
    const void* startBuffer = volume.GetData();
    const DataType type = kTypes[data[3] % 7];
    const int dims[3] = {1 + (data[0] & 15), 1 + (data[1] & 15), 1 + (data[2] & 15)};
    const std::size_t bytes =
        static_cast<std::size_t>(type.bitCount >> 3) * dims[0] * dims[1] * dims[2];
    volume.SetDataType(type);
    volume.SetDimensions(dims);
    FILE* stream = fmemopen(const_cast<std::uint8_t*>(data + 4), size - 4, "rb");
    if (stream == nullptr) return;
    volume.ReadRawFile(stream);
    std::fclose(stream);
    if (size - 4 >= bytes) {
        if (volume.GetData() == startBuffer || volume.GetData() == nullptr ||
            std::memcmp(volume.GetData(), data + 4, bytes) != 0) {
            Fail("raw read of a long enough stream did not deliver its bytes");
        }
    } else {
        volume.SetDataType(VolumeData::dtUint16);
        const int startDims[3] = {3, 2, 1};
        volume.SetDimensions(startDims);
        if (!IsStart(volume, startBuffer)) Fail("short raw read changed the volume");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // fmemopen needs at least one byte
    FuzzStructured(data, size);
    FuzzRaw(data, size);
    return 0;
}
