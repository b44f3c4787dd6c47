// The dense voxel volume that a host hands to Kestrel, with its raw and
// structured file formats.
#ifndef KESTREL_VOLUME_DATA_H
#define KESTREL_VOLUME_DATA_H

#include <cstddef>
#include <cstdio>

#include "DataType.h"
#include "KestrelExport.h"

// A dense grid of scalar samples: one contiguous buffer, x fastest, then y,
// then z; sample (x, y, z) is at index x + dimensions[0] * (y + dimensions[1] * z).
// Samples are bitCount / 8 bytes each, little-endian, without row or slice
// padding. The whole buffer must stay below 2^31 bytes.
//
// Ownership: `data` is owned, allocated with malloc and released with free.
// Copies are DEEP: the copy constructor and copy assignment duplicate the
// buffer (the bytes the source's buffer holds), so each object frees only
// its own; self-assignment is a no-op. GetData() of the source is unchanged.
//
// Files:
//   raw stream   the samples only, at the caller's stream position; the
//                caller sets dataType and dimensions first.
//   structured   a 32-byte little-endian header followed by the samples:
//                  offset  0  int32[3]  dimensions x, y, z
//                  offset 12  float[3]  spacings x, y, z
//                  offset 24  uint8     isFloat (0/1)
//                  offset 25  uint8     isSigned (0/1)
//                  offset 26  2 bytes   unused, zero
//                  offset 28  int32     bitCount
//                  offset 32  samples   x*y*z * (bitCount / 8) bytes
//
// Bad input is ignored silently, and a failed read leaves the object exactly
// as it was (dimensions, spacings, type and buffer): a file that does not
// open, a header with a dimension below 1, a sample type none of the seven
// constants describes, a byte count of 2^31 or more, or a file or stream too
// short for its samples. Reads go to a fresh buffer that replaces the old
// one only on success. Writers write nothing for a volume without a buffer
// or whose fields describe more bytes than its buffer holds.
//
// Not thread-safe: one thread at a time.
class KESTREL_STANDARD_API VolumeData {
public:
    // The seven supported sample types (isFloat, isSigned, bitCount).
    static const DataType dtInt8;     ///< 0, 1, 8
    static const DataType dtUint8;    ///< 0, 0, 8
    static const DataType dtInt16;    ///< 0, 1, 16
    static const DataType dtUint16;   ///< 0, 0, 16
    static const DataType dtInt32;    ///< 0, 1, 32
    static const DataType dtUint32;   ///< 0, 0, 32
    static const DataType dtFloat32;  ///< 1, 1, 32

    DataType dataType;  ///< sample type; default dtInt8
    int dimensions[3];  ///< voxel counts x, y, z; default 0, 0, 0
    float spacings[3];  ///< physical voxel size x, y, z; default 1, 1, 1
    void* data;         ///< owned sample buffer (malloc/free); null when empty

    VolumeData();
    VolumeData(const VolumeData& other);
    VolumeData& operator=(const VolumeData& other);
    virtual ~VolumeData();

    /// Frees the buffer, then allocates (bitCount >> 3) * x * y * z bytes of
    /// undefined content. Leaves the volume empty when that count is not in
    /// [1, 2^31) (zero included: not an error); throws std::bad_alloc, the
    /// volume left empty, when malloc fails.
    void Allocate();
    /// Frees the buffer (if any); data becomes null.
    void Clean();

    DataType GetDataType() const { return dataType; }
    void SetDataType(DataType type) { dataType = type; }
    void GetDimensions(int* out) const;
    void SetDimensions(const int* in);
    void GetSpacings(float* out) const;
    void SetSpacings(const float* in);
    /// The buffer itself (null if none); the caller must not free it.
    void* GetData() const { return data; }

    /// Writes the samples at the stream's position; no-op without a buffer.
    void WriteRawFile(FILE* file) const;
    /// Reads x*y*z samples of the current type from the stream's position.
    void ReadRawFile(FILE* file);
    /// Writes header and samples to `path` ("wb"); no file without a buffer.
    void WriteStructuredFile(const char* path) const;
    /// Replaces the whole volume with the file's content (see class comment).
    void ReadStructuredFile(const char* path);

    /// Smallest and largest sample, compared in the sample type, stored as
    /// double. Float samples that are NaN or infinite are left out; with no
    /// finite sample the range is 0 .. 0. Outputs are left unchanged for an
    /// unsupported type, a volume without samples, or a buffer smaller than
    /// the fields describe.
    void GetMinMaxValue(double& min, double& max);

private:
    friend class VolumeFileIO;
    friend class CoherentVolume;
    friend class VolumeHistogram;

    // Replaces the buffer by `buffer` of `bytes` bytes (frees the old one).
    void AdoptBuffer(void* buffer, std::size_t bytes);
    // Bytes the buffer is known to hold: the allocated size for a buffer this
    // object allocated, else the size the fields describe (a buffer the
    // caller installed through `data` is trusted as the format does).
    std::size_t HeldBytes() const;

    void* ownedBuffer_;       // the buffer this object last allocated
    std::size_t ownedBytes_;  // its size in bytes
};

#endif  // KESTREL_VOLUME_DATA_H
