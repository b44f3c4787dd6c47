// Stream-level readers and writers of the volume file formats, shared by
// VolumeData's file methods and the file fuzzer.
#ifndef KESTREL_VOLUME_FILE_IO_H
#define KESTREL_VOLUME_FILE_IO_H

#include <cstddef>
#include <cstdio>

#include "VolumeData.h"

// Each function works on an open stream at its current position and returns
// whether it succeeded. A read that fails leaves the volume exactly as it was.
class VolumeFileIO {
public:
    // Size of the structured header in bytes.
    static constexpr int kHeaderBytes = 32;

    // Header then samples; false (nothing written) unless the volume's fields
    // describe a valid volume that its buffer holds.
    static bool WriteStructured(const VolumeData& volume, FILE* file);
    // Validates the header, checks the stream holds the samples, reads them
    // into a fresh buffer and only then replaces the volume's fields and buffer.
    static bool ReadStructured(VolumeData& volume, FILE* file);
    // Samples only, of the volume's current type and dimensions.
    static bool WriteRaw(const VolumeData& volume, FILE* file);
    static bool ReadRaw(VolumeData& volume, FILE* file);

private:
    // Byte count of the volume's samples, if its fields describe a valid
    // volume whose buffer holds them.
    static bool WritableBytes(const VolumeData& volume, std::size_t& bytes);
};

#endif  // KESTREL_VOLUME_FILE_IO_H
