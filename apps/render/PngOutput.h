// Writing the rendered frame as a PNG file without ever leaving a partial file behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An output file that is written under a temporary name in the same folder and renamed to its
// final name only when complete. Open() creates the temporary file at once, so that an
// unwritable destination is reported before any rendering; the destructor removes the temporary
// file unless CommitPng() succeeded.
class AtomicOutputFile {
public:
    explicit AtomicOutputFile(std::string path) : path_(std::move(path)) {}
    ~AtomicOutputFile();
    AtomicOutputFile(AtomicOutputFile const&) = delete;
    AtomicOutputFile& operator=(AtomicOutputFile const&) = delete;

    // Creates the temporary file; false with a reason in `error` when that is impossible.
    bool Open(std::string* error);
    // Writes `rgba` (width x height pixels, 4 bytes each, rows bottom-up as GL reads them) as a
    // PNG into the temporary file and renames it to the final path; false with a reason on
    // failure, and then no file of either name remains.
    bool CommitPng(const std::vector<uint8_t>& rgba, int width, int height, std::string* error);

private:
    std::string path_;
    std::string temporary_;
    bool committed_ = false;
};
