// Byte-exact encoding of the structured volume header, and the guarded
// sample transfers of both file formats.
#include "volume/VolumeFileIO.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <cstring>

#include "volume/SampleTypes.h"

using kestrel_volume::SampleVolumeBytes;

namespace {

void PutLE32(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

std::uint32_t GetLE32(const unsigned char* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// The header fields of a structured file.
struct Header {
    int dimensions[3];
    float spacings[3];
    DataType dataType;
};

// Bytes 0..31 of a structured file:
//   0 int32[3] dimensions | 12 float[3] spacings | 24 isFloat | 25 isSigned |
//   26 two zero bytes | 28 int32 bitCount; all little-endian.
void EncodeHeader(const VolumeData& volume, unsigned char* out) {
    std::memset(out, 0, VolumeFileIO::kHeaderBytes);
    for (int i = 0; i < 3; ++i) {
        PutLE32(out + 4 * i, static_cast<std::uint32_t>(volume.dimensions[i]));
        std::uint32_t bits;
        std::memcpy(&bits, &volume.spacings[i], 4);
        PutLE32(out + 12 + 4 * i, bits);
    }
    out[24] = volume.dataType.isFloat ? 1 : 0;
    out[25] = volume.dataType.isSigned ? 1 : 0;
    PutLE32(out + 28, static_cast<std::uint32_t>(volume.dataType.bitCount));
}

// Decodes and validates a header: each dimension >= 1, flag bytes 0 or 1, a
// supported sample type and fewer than 2^31 sample bytes. The two unused bytes
// are ignored.
bool DecodeHeader(const unsigned char* in, Header& header, std::size_t& sampleBytes) {
    if (in[24] > 1 || in[25] > 1) return false;
    for (int i = 0; i < 3; ++i) {
        header.dimensions[i] = static_cast<std::int32_t>(GetLE32(in + 4 * i));
        const std::uint32_t bits = GetLE32(in + 12 + 4 * i);
        std::memcpy(&header.spacings[i], &bits, 4);
    }
    header.dataType.isFloat = in[24] != 0;
    header.dataType.isSigned = in[25] != 0;
    header.dataType.bitCount = static_cast<std::int32_t>(GetLE32(in + 28));
    return SampleVolumeBytes(header.dataType, header.dimensions, sampleBytes);
}

// True if the stream, from its current position, holds at least `bytes`
// more bytes, or if its length cannot be determined (the read then decides).
bool StreamHolds(FILE* file, std::size_t bytes) {
    const long start = std::ftell(file);
    if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return true;
    const long end = std::ftell(file);
    if (std::fseek(file, start, SEEK_SET) != 0) return false;
    return end >= start && static_cast<std::uint64_t>(end - start) >= bytes;
}

}  // namespace

bool VolumeFileIO::WritableBytes(const VolumeData& volume, std::size_t& bytes) {
    return volume.data != nullptr && SampleVolumeBytes(volume.dataType, volume.dimensions, bytes) &&
           bytes <= volume.HeldBytes();
}

bool VolumeFileIO::WriteStructured(const VolumeData& volume, FILE* file) {
    std::size_t bytes = 0;
    if (file == nullptr || !WritableBytes(volume, bytes)) return false;
    unsigned char header[kHeaderBytes];
    EncodeHeader(volume, header);
    const std::size_t samples = bytes / static_cast<std::size_t>(volume.dataType.bitCount >> 3);
    // dimensions, spacings, sample type, samples
    return std::fwrite(header, 4, 3, file) == 3 && std::fwrite(header + 12, 4, 3, file) == 3 &&
           std::fwrite(header + 24, 8, 1, file) == 1 &&
           std::fwrite(volume.data, volume.dataType.bitCount >> 3, samples, file) == samples;
}

bool VolumeFileIO::ReadStructured(VolumeData& volume, FILE* file) {
    if (file == nullptr) return false;
    unsigned char raw[kHeaderBytes];
    if (std::fread(raw, 1, kHeaderBytes, file) != kHeaderBytes) return false;
    Header header;
    std::size_t bytes = 0;
    if (!DecodeHeader(raw, header, bytes)) return false;
    // A crafted header must not make us allocate what the file cannot fill.
    if (!StreamHolds(file, bytes)) return false;
    void* fresh = std::malloc(bytes);
    if (fresh == nullptr) throw std::bad_alloc();  // the volume is left as it was
    if (std::fread(fresh, 1, bytes, file) != bytes) {
        std::free(fresh);
        return false;
    }
    volume.dataType = header.dataType;
    for (int i = 0; i < 3; ++i) {
        volume.dimensions[i] = header.dimensions[i];
        volume.spacings[i] = header.spacings[i];
    }
    volume.AdoptBuffer(fresh, bytes);
    return true;
}

bool VolumeFileIO::WriteRaw(const VolumeData& volume, FILE* file) {
    std::size_t bytes = 0;
    if (file == nullptr || !WritableBytes(volume, bytes)) return false;
    const std::size_t size = static_cast<std::size_t>(volume.dataType.bitCount >> 3);
    return std::fwrite(volume.data, size, bytes / size, file) == bytes / size;
}

bool VolumeFileIO::ReadRaw(VolumeData& volume, FILE* file) {
    std::size_t bytes = 0;
    if (file == nullptr || !SampleVolumeBytes(volume.dataType, volume.dimensions, bytes)) {
        return false;
    }
    const std::size_t size = static_cast<std::size_t>(volume.dataType.bitCount >> 3);
    void* fresh = std::malloc(bytes);
    if (fresh == nullptr) throw std::bad_alloc();  // the volume is left as it was
    if (std::fread(fresh, size, bytes / size, file) != bytes / size) {
        std::free(fresh);
        return false;
    }
    volume.AdoptBuffer(fresh, bytes);
    return true;
}
