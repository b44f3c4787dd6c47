// Where an NRRD file's samples come from, found by reading its header once, line by line, before
// teem sees the file: teem opens detached data files even to read a header (a pipe would block
// it), stores key/value lines and comments at a cost that grows with the square of their number,
// and its text reader overruns its buffers on long or binary tokens. So data files are checked
// here, the header's length is bounded, and text samples are read here.
#ifndef KESTREL_NRRD_SOURCES_H
#define KESTREL_NRRD_SOURCES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ScanSamples.h"

namespace kestrel_io {

enum class NrrdEncoding { Raw, Ascii, Hex, Gzip, Bzip2, Other };

// One file holding samples (or a part of them) and where they start in it.
struct NrrdSource {
    std::string file;        // the header file itself for attached data
    std::int64_t start = 0;  // byte where the samples (or their line skip) begin
    std::int64_t size = 0;   // the file's length in bytes
};

struct NrrdSources {
    NrrdEncoding encoding = NrrdEncoding::Raw;
    std::vector<NrrdSource> sources;  // in order; one for attached data
    long lineSkip = 0;                // lines skipped at the start of each source
    long byteSkip = 0;             // then bytes (-1: the last bytes of the file hold the samples)
    std::int64_t headerLines = 0;  // lines of the header up to its blank line
};

// Comments and key/value lines a header may hold: teem stores each with a search or a copy over
// those before it, so that many more take minutes.
constexpr std::int64_t kMaxNrrdHeaderExtras = 4096;

// Reads the header of `path` (a regular file) and checks every data file it names: each must be
// a regular file; compressed data must start with its format's magic bytes. Throws ScanError
// naming `path` (and the data file).
NrrdSources FindNrrdSources(const std::string& path);

// Text samples: throws ScanError naming `path` when the sources hold fewer than the 2 * count - 1
// bytes that `count` numbers need (or a byte skip, which text does not use).
void CheckNrrdTextBytes(const std::string& path, const NrrdSources& sources, std::size_t count);

// Text samples: checks that the sources hold at least the 2 * count - 1 bytes that `count`
// numbers need before anything is allocated, then reads them as `type`, each a decimal number
// that fits the type, separated by white space (or commas). Throws ScanError naming the file.
MallocBuffer ReadNrrdText(const std::string& path, const NrrdSources& sources, StoredType type,
                          std::size_t count);

}  // namespace kestrel_io

#endif  // KESTREL_NRRD_SOURCES_H
