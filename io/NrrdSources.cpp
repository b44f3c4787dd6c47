// The NRRD header read once before teem: data files, encoding, skips; and text samples.
#include "NrrdSources.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "InputFile.h"

namespace kestrel_io {

namespace {

// Detached data files a header may name (one per slice of a large series is far below).
constexpr std::int64_t kMaxDataFiles = 65536;
// Longest number in text samples ("-1.2345678901234567e-308" has 24 characters).
constexpr std::size_t kMaxTokenLength = 64;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenChecked(const std::string& path, const std::string& file) {
    std::string why;
    FilePtr opened(OpenRegularFile(file, &why));
    if (opened == nullptr) {
        throw ScanError(path + ": " + (file == path ? "" : "its data file " + file + " ") + why);
    }
    return opened;
}

// One line without its end (\n or \r\n); false at the end of the file.
bool ReadLine(std::FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = std::getc(file)) != EOF && c != '\n')
        line.push_back(char(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "data file" and "datafile" alike: lower case without spaces.
std::string FieldKey(const std::string& name) {
    std::string key;
    for (char c : name)
        if (c != ' ') key.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    return key;
}

NrrdEncoding EncodingOf(const std::string& value) {
    const std::string name = FieldKey(value);
    if (name == "raw") return NrrdEncoding::Raw;
    if (name == "ascii" || name == "text" || name == "txt") return NrrdEncoding::Ascii;
    if (name == "hex") return NrrdEncoding::Hex;
    if (name == "gzip" || name == "gz") return NrrdEncoding::Gzip;
    if (name == "bzip2" || name == "bz2") return NrrdEncoding::Bzip2;
    return NrrdEncoding::Other;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string Resolve(const std::string& header, const std::string& name) {
    return name.empty() || name[0] == '/' ? name : FolderOf(header) + "/" + name;
}

// A numbered name pattern as "data file: <format> <min> <max> <step> [<subdim>]" gives it: one
// %d (with flags and width) and no other conversion.
bool ExpandPattern(const std::string& pattern, long number, std::string* name) {
    const std::size_t percent = pattern.find('%');
    if (percent == std::string::npos) return false;
    std::size_t end = percent + 1;
    while (end < pattern.size() && std::strchr("0123456789-+ ", pattern[end]) != nullptr)
        ++end;
    if (end >= pattern.size() || std::strchr("dui", pattern[end]) == nullptr || end - percent > 8 ||
        pattern.find('%', end) != std::string::npos) {
        return false;
    }
    const std::string conversion = pattern.substr(percent, end - percent) + "ld";
    char digits[64];
    std::snprintf(digits, sizeof digits, conversion.c_str(), number);
    *name = pattern.substr(0, percent) + digits + pattern.substr(end + 1);
    return true;
}

// The names a "data file:" value stands for; LIST names come from the lines after the header.
std::vector<std::string> DataFileNames(const std::string& path, const std::string& value) {
    std::vector<std::string> words;
    for (std::size_t at = 0; at < value.size();) {
        const std::size_t start = value.find_first_not_of(" \t", at);
        if (start == std::string::npos) break;
        const std::size_t stop = std::min(value.find_first_of(" \t", start), value.size());
        words.push_back(value.substr(start, stop - start));
        at = stop;
    }
    if (words.size() < 4 || value.find('%') == std::string::npos) return {value};
    char* end = nullptr;
    const long first = std::strtol(words[1].c_str(), &end, 10);
    const long last = std::strtol(words[2].c_str(), &end, 10);
    const long step = std::strtol(words[3].c_str(), &end, 10);
    const double count = step == 0 ? -1.0 : std::floor(double(last - first) / double(step)) + 1.0;
    if (!(count >= 1.0) || count > double(kMaxDataFiles)) {
        throw ScanError(path + ": data file numbers " + words[1] + " to " + words[2] + " by " +
                        words[3] + " name no files or more than " + std::to_string(kMaxDataFiles));
    }
    std::vector<std::string> names;
    for (long i = 0; i < long(count); ++i) {
        std::string name;
        if (!ExpandPattern(words[0], first + i * step, &name)) {
            throw ScanError(path + ": data file pattern '" + words[0] +
                            "' is not one number conversion (%d)");
        }
        names.push_back(name);
    }
    return names;
}

// Skips `lines` lines of an open source.
bool SkipLines(std::FILE* file, long lines) {
    for (long n = 0; n < lines; ++n) {
        int c;
        while ((c = std::getc(file)) != EOF && c != '\n') {
        }
        if (c == EOF) return false;
    }
    return true;
}

// Compressed data must begin with its format's magic bytes: zlib and teem would otherwise pass
// plain bytes through as if they had been inflated. A gzip header also names deflate (8) and
// leaves its reserved flag bits clear; teem's gzip reader leaks its buffers on other headers.
void CheckMagic(const std::string& path, const NrrdSources& found, const NrrdSource& source) {
    const bool gzip = found.encoding == NrrdEncoding::Gzip;
    if (!gzip && found.encoding != NrrdEncoding::Bzip2) return;
    FilePtr file = OpenChecked(path, source.file);
    unsigned char head[4] = {0, 0, 0, 0};
    const bool read = std::fseek(file.get(), long(source.start), SEEK_SET) == 0 &&
                      SkipLines(file.get(), found.lineSkip) &&
                      std::fread(head, 1, 4, file.get()) == 4;
    const bool good =
        gzip ? head[0] == 0x1f && head[1] == 0x8b && head[2] == 8 && (head[3] & 0xe0) == 0
             : head[0] == 'B' && head[1] == 'Z' && head[2] == 'h';
    if (!read || !good) {
        throw ScanError(
            path + ": " + (source.file == path ? "" : "data file " + source.file + ": ") +
            "encoding " + (gzip ? "gzip" : "bzip2") + " declared, but the data are not " +
            (gzip ? "gzip" : "bzip2") + "-compressed");
    }
}

template <typename T>
bool ParseAs(const char* token, T* out) {
    errno = 0;
    char* end = nullptr;
    if constexpr (std::is_floating_point<T>::value) {
        const double value = std::strtod(token, &end);
        *out = T(value);
    } else if constexpr (std::is_signed<T>::value) {
        const long long value = std::strtoll(token, &end, 10);
        if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
            return false;
        *out = T(value);
    } else {
        if (token[0] == '-') return false;
        const unsigned long long value = std::strtoull(token, &end, 10);
        if (value > std::numeric_limits<T>::max()) return false;
        *out = T(value);
    }
    return end != token && *end == '\0' && errno != ERANGE;
}

// Reads numbers from the sources into `out` until `count` are read.
template <typename T>
void ReadTokens(const std::string& path, const NrrdSources& found, T* out, std::size_t count) {
    std::size_t done = 0;
    char token[kMaxTokenLength + 1];
    for (const NrrdSource& source : found.sources) {
        FilePtr file = OpenChecked(path, source.file);
        if (std::fseek(file.get(), long(source.start), SEEK_SET) != 0 ||
            !SkipLines(file.get(), found.lineSkip)) {
            break;
        }
        std::size_t length = 0;
        std::int64_t at = source.start;
        for (int c = std::getc(file.get()); done < count; c = std::getc(file.get()), ++at) {
            const bool separator = c == EOF || c == ',' || std::isspace(c);
            if (!separator) {
                if (c < 0x20 || c > 0x7e) {
                    throw ScanError(path + ": text samples hold a byte that is not text (" +
                                    std::to_string(c) + " at byte " + std::to_string(at) + " of " +
                                    source.file + ")");
                }
                if (length == kMaxTokenLength) {
                    throw ScanError(path + ": text sample " + std::to_string(done + 1) +
                                    " is longer than " + std::to_string(kMaxTokenLength) +
                                    " characters");
                }
                token[length++] = char(c);
                continue;
            }
            if (length > 0) {
                token[length] = '\0';
                if (!ParseAs(token, &out[done])) {
                    throw ScanError(path + ": text sample " + std::to_string(done + 1) + " ('" +
                                    token + "') is not a number of the file's type");
                }
                ++done;
                length = 0;
            }
            if (c == EOF) break;
        }
    }
    if (done < count) {
        throw ScanError(path + ": holds " + std::to_string(done) + " text samples of the " +
                        std::to_string(count) + " its header promises");
    }
}

template <typename F>
void VisitType(StoredType type, F&& visit) {
    switch (type) {
        case StoredType::Int8:
            return visit(std::int8_t());
        case StoredType::Uint8:
            return visit(std::uint8_t());
        case StoredType::Int16:
            return visit(std::int16_t());
        case StoredType::Uint16:
            return visit(std::uint16_t());
        case StoredType::Int32:
            return visit(std::int32_t());
        case StoredType::Uint32:
            return visit(std::uint32_t());
        case StoredType::Int64:
            return visit(std::int64_t());
        case StoredType::Uint64:
            return visit(std::uint64_t());
        case StoredType::Float32:
            return visit(float());
        case StoredType::Float64:
            return visit(double());
    }
}

bool IsNrrdMagic(const std::string& line) {
    return line.size() == 8 && line.compare(0, 7, "NRRD000") == 0 && line[7] >= '1' &&
           line[7] <= '5';
}

}  // namespace

NrrdSources FindNrrdSources(const std::string& path) {
    FilePtr file = OpenChecked(path, path);
    NrrdSources found;
    std::string line, dataFile;
    std::int64_t extras = 0;
    bool list = false;
    std::vector<std::string> listed;
    // teem takes some malformed magics (NRRD00nan04) for another format and leaks while reading
    // them; only the versions it writes are passed on.
    if (!ReadLine(file.get(), line) || !IsNrrdMagic(line)) {
        throw ScanError(path +
                        ": not a readable NRRD file (the first line is not NRRD0001 .. "
                        "NRRD0005)");
    }
    found.headerLines = 1;
    while (ReadLine(file.get(), line)) {
        ++found.headerLines;
        if (list) {
            // After "data file: LIST" every line to the end names a data file.
            if (!line.empty()) listed.push_back(line);
            if (std::int64_t(listed.size()) > kMaxDataFiles) {
                throw ScanError(path + ": lists more than " + std::to_string(kMaxDataFiles) +
                                " data files");
            }
            continue;
        }
        if (line.empty()) break;  // the header's end; attached samples follow
        const std::size_t colon = line.find(':');
        if (line[0] == '#' || (colon != std::string::npos && line.compare(colon, 2, ":=") == 0)) {
            if (++extras > kMaxNrrdHeaderExtras) {
                throw ScanError(path + ": header holds more than " +
                                std::to_string(kMaxNrrdHeaderExtras) +
                                " comments and key/value lines; not read");
            }
            continue;
        }
        if (colon == std::string::npos) break;  // not a field: teem says what is wrong
        const std::string key = FieldKey(line.substr(0, colon));
        const std::string value = Trim(line.substr(colon + 1));
        if (key == "encoding") {
            found.encoding = EncodingOf(value);
        } else if (key == "lineskip") {
            found.lineSkip = std::max(0L, std::strtol(value.c_str(), nullptr, 10));
        } else if (key == "byteskip") {
            found.byteSkip = std::strtol(value.c_str(), nullptr, 10);
        } else if (key == "datafile") {
            dataFile = value;
            list = value.rfind("LIST", 0) == 0;
        }
    }
    std::vector<std::string> names = list ? listed : std::vector<std::string>();
    if (!list && !dataFile.empty()) names = DataFileNames(path, dataFile);
    if (names.empty()) {
        found.sources.push_back({path, std::int64_t(std::ftell(file.get())), 0});
    }
    for (const std::string& name : names)
        found.sources.push_back({Resolve(path, name), 0, 0});
    for (NrrdSource& source : found.sources) {
        // Kind first, opening nothing: then teem may open them.
        std::string why;
        if (!IsRegularFile(source.file, &why)) {
            throw ScanError(path + ": " +
                            (source.file == path ? "" : "its data file " + source.file + " ") +
                            why);
        }
        FilePtr data = OpenChecked(path, source.file);
        std::fseek(data.get(), 0, SEEK_END);
        source.size = std::int64_t(std::ftell(data.get()));
        CheckMagic(path, found, source);
    }
    return found;
}

void CheckNrrdTextBytes(const std::string& path, const NrrdSources& sources, std::size_t count) {
    if (sources.byteSkip != 0) {
        throw ScanError(path + ": byte skip " + std::to_string(sources.byteSkip) +
                        " with text samples (only lines can be skipped in text)");
    }
    // Each number takes a character and all but the last a separator.
    std::int64_t bytes = 0;
    for (const NrrdSource& source : sources.sources)
        bytes += std::max<std::int64_t>(0, source.size - source.start);
    if (bytes < 2 * std::int64_t(count) - 1) {
        throw ScanError(path + ": " + std::to_string(bytes) + " bytes of text cannot hold the " +
                        std::to_string(count) + " samples its header promises");
    }
}

MallocBuffer ReadNrrdText(const std::string& path, const NrrdSources& sources, StoredType type,
                          std::size_t count) {
    CheckNrrdTextBytes(path, sources, count);
    MallocBuffer samples(std::malloc(count * std::size_t(StoredBytes(type))));
    if (samples == nullptr) throw std::bad_alloc();
    VisitType(type, [&](auto tag) {
        using T = decltype(tag);
        ReadTokens(path, sources, static_cast<T*>(samples.get()), count);
    });
    return samples;
}

}  // namespace kestrel_io
