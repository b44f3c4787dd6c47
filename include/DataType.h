// The sample type of a volume: float or integer, signedness and bit count.
// The 8-byte value is what a structured volume file stores after its spacings.
#ifndef KESTREL_DATA_TYPE_H
#define KESTREL_DATA_TYPE_H

// Plain value describing one sample of a volume; copied by value.
//
// Layout (8 bytes, as stored at offset 24 of a structured volume file):
//   byte 0      isFloat   0 or 1
//   byte 1      isSigned  0 or 1
//   bytes 2..3  unused, zero in files
//   bytes 4..7  bitCount  int32, little-endian
//
// Dispatch rule used wherever a sample type selects code: isFloat is tested
// first and wins (32-bit IEEE float), then isSigned picks the signed or
// unsigned 8-, 16- or 32-bit integer; any other bitCount matches no type.
// Bytes per sample are always bitCount >> 3. The seven supported constants
// are the static members VolumeData::dtInt8 ... VolumeData::dtFloat32.
struct DataType {
    bool isFloat;   ///< samples are IEEE-754 single-precision floats
    bool isSigned;  ///< samples are signed (set for dtFloat32 too)
    int bitCount;   ///< bits per sample: 8, 16 or 32
};

/// Field-wise equality (the unused bytes between the fields do not count).
inline bool operator==(const DataType& a, const DataType& b) {
    return a.isFloat == b.isFloat && a.isSigned == b.isSigned && a.bitCount == b.bitCount;
}
inline bool operator!=(const DataType& a, const DataType& b) {
    return !(a == b);
}

#endif  // KESTREL_DATA_TYPE_H
