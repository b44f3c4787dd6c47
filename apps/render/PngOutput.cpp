// PNG output through a temporary file and an atomic rename.
#include "PngOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "PngWriter.h"

namespace {

std::string SystemError() {
    return std::strerror(errno);
}

}  // namespace

AtomicOutputFile::~AtomicOutputFile() {
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

bool AtomicOutputFile::Open(std::string* error) {
    std::string pattern = path_ + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        *error = "cannot create a file there (" + SystemError() + ")";
        return false;
    }
    close(descriptor);
    temporary_ = name.data();
    return true;
}

bool AtomicOutputFile::CommitPng(const std::vector<uint8_t>& rgba, int width, int height,
                                 std::string* error) {
    if (temporary_.empty()) {
        *error = "output file not open";
        return false;
    }
    if (rgba.size() != size_t(width) * height * 4) {
        *error = "internal error: frame size mismatch";
        return false;
    }
    std::string why;
    if (!WritePng(temporary_, width, height, rgba.data(), &why)) {
        *error = "cannot write the PNG (" + why + ")";
        return false;
    }
    // mkstemp creates the file readable by its owner only; an image is for everyone.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary_.c_str(), 0666 & ~mask);
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        *error = "cannot move the finished file into place (" + SystemError() + ")";
        return false;
    }
    committed_ = true;
    return true;
}
