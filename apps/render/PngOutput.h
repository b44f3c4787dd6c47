// Writing the rendered frame as a PNG file without ever leaving a partial file behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An output file that is written under a temporary name in the same folder and renamed to its
// final name only when complete. Open() creates the temporary file at once, so that an
// unwritable destination is reported before any rendering; the destructor removes the temporary
// file unless Commit() succeeded.
class AtomicOutputFile {
public:
    explicit AtomicOutputFile(std::string path) : path_(std::move(path)) {}
    ~AtomicOutputFile();
    AtomicOutputFile(AtomicOutputFile const&) = delete;
    AtomicOutputFile& operator=(AtomicOutputFile const&) = delete;

    // Creates the temporary file; false with a reason in `error` when the folder is not
    // writable.
    bool Open(std::string* error);
    // Encodes `rgba` (width x height pixels, 4 bytes each, rows top-down) as an 8-bit RGB PNG
    // into the temporary file and renames it to the final path; false with a reason on failure.
    bool CommitPng(const std::vector<uint8_t>& rgba, int width, int height, std::string* error);

private:
    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
    bool committed_ = false;
};
