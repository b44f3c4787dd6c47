// Input files opened without blocking on pipes and devices.
#include "InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Why a file of this kind is not read; empty for a regular file.
std::string KindProblem(mode_t mode) {
    if (S_ISREG(mode)) return "";
    if (S_ISDIR(mode)) return "is a folder, not a file";
    return "is not a regular file (a pipe, a device or a socket)";
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, std::string* why) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = std::string("cannot open (") + std::strerror(errno) + ")";
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        *why = std::string("cannot examine (") + std::strerror(errno) + ")";
        close(fd);
        return nullptr;
    }
    *why = KindProblem(status.st_mode);
    if (!why->empty()) {
        close(fd);
        return nullptr;
    }
    // A regular file never blocks; reads behave as without the flag.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        *why = std::string("cannot open (") + std::strerror(errno) + ")";
        close(fd);
    }
    return file;
}

bool IsRegularFile(const std::string& path, std::string* why) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        *why = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    *why = KindProblem(status.st_mode);
    return why->empty();
}
