// Output files that never replace what they must not and never stay half-written.
#include "OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "PngWriter.h"

namespace {

// The temporary file a signal handler removes: a name built before it is armed, so that the
// handler only calls unlink, signal and raise (all async-signal-safe).
char gTemporary[PATH_MAX];
volatile sig_atomic_t gTemporaryArmed = 0;

extern "C" void RemoveTemporaryAndDie(int signalNumber) {
    if (gTemporaryArmed) unlink(gTemporary);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered with the default action when the handler returns
}

// Installs the handler once for the signals that end a run from outside, and for those of a
// crash (which then still dumps as it would have); a signal the process was started with
// ignored (nohup) stays ignored.
void InstallSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
        struct sigaction previous;
        if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action;
        std::memset(&action, 0, sizeof(action));
        action.sa_handler = RemoveTemporaryAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

std::string SystemError() {
    return std::strerror(errno);
}

std::string FolderOf(std::string const& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SameFile(struct stat const& a, struct stat const& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

OutputFile::OutputFile(std::string option, std::string path)
    : option_(std::move(option)), path_(std::move(path)) {}

OutputFile::~OutputFile() {
    Discard();
}

void OutputFile::Discard() {
    if (temporary_.empty()) return;
    gTemporaryArmed = 0;
    unlink(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::Check(std::vector<std::string> const& inputs, std::string* error) {
    auto fail = [&](std::string const& why) {
        *error = option_ + " " + path_ + ": " + why;
        return false;
    };
    if (path_.empty()) {
        *error = option_ + ": empty file name";
        return false;
    }
    target_ = path_;
    struct stat info;
    if (lstat(path_.c_str(), &info) != 0) {
        if (errno != ENOENT) return fail("cannot examine (" + SystemError() + ")");
        // A new file: its folder must exist and take it, known before any work is done.
        const std::string folder = FolderOf(path_);
        std::string why;
        if (!CheckWritableFolder(folder, &why)) return fail("folder " + folder + " " + why);
        return true;
    }
    const bool isLink = S_ISLNK(info.st_mode);
    // A link is followed to the file it finally names; that file is judged and replaced.
    if (isLink && stat(path_.c_str(), &info) != 0) {
        return fail("is a symbolic link to nothing that can be written (" + SystemError() + ")");
    }
    if (S_ISDIR(info.st_mode)) return fail("is a folder, not a file");
    if (!S_ISREG(info.st_mode)) {
        return fail("is not a regular file (a device, a pipe or a socket); refusing to replace it");
    }
    if (isLink) {
        char resolved[PATH_MAX];
        struct stat check;
        if (realpath(path_.c_str(), resolved) == nullptr || lstat(resolved, &check) != 0 ||
            !SameFile(check, info)) {
            return fail("is a symbolic link whose file cannot be named");
        }
        target_ = resolved;
    }
    for (std::string const& input : inputs) {
        struct stat other;
        if (!input.empty() && stat(input.c_str(), &other) == 0 && SameFile(other, info)) {
            return fail("is the input file " + input + "; refusing to overwrite it");
        }
    }
    return true;
}

bool OutputFile::Open(std::vector<std::string> const& inputs, std::string* error) {
    Discard();
    inputs_ = inputs;
    if (!Check(inputs, error)) return false;
    // A short name of its own in the destination's folder: rename stays within one file
    // system, and a destination name of any legal length still fits.
    std::string pattern = FolderOf(target_) + "/kestrel-XXXXXX.part";
    if (pattern.size() >= sizeof(gTemporary)) {
        *error = option_ + " " + path_ + ": the folder's name is too long";
        return false;
    }
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    InstallSignalHandlers();
    gTemporaryArmed = 0;
    const int descriptor = mkstemps(name.data(), 5);
    if (descriptor < 0) {
        *error = option_ + " " + path_ + ": cannot create a file there (" + SystemError() + ")";
        return false;
    }
    std::memcpy(gTemporary, name.data(), name.size());
    gTemporaryArmed = 1;
    close(descriptor);
    temporary_ = name.data();
    return true;
}

bool OutputFile::CommitPng(std::vector<uint8_t> const& rgba, int width, int height,
                           std::string* error) {
    auto fail = [&](std::string const& why) {
        Discard();
        *error = option_ + " " + path_ + ": " + why;
        return false;
    };
    if (temporary_.empty()) return fail("output file not open");
    if (rgba.size() != size_t(width) * height * 4) return fail("internal error: frame size");
    std::string why;
    if (!WritePng(temporary_, width, height, rgba.data(), &why)) {
        return fail("cannot write the PNG (" + why + ")");
    }
    // mkstemps makes the file readable by its owner only: give it the mode of the file it
    // replaces, or that of a new file.
    struct stat existing;
    const mode_t mask = umask(0);
    umask(mask);
    const mode_t mode =
        stat(target_.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0666 & ~mask;
    chmod(temporary_.c_str(), mode);
    // The destination may have changed since Open: check it again just before the rename.
    const std::string target = target_;
    std::string changed;
    if (!Check(inputs_, &changed) || target_ != target) {
        *error = changed.empty() ? option_ + " " + path_ + ": changed while rendering" : changed;
        Discard();
        return false;
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        return fail("cannot move the finished file into place (" + SystemError() + ")");
    }
    gTemporaryArmed = 0;
    temporary_.clear();
    return true;
}

bool CheckWritableFolder(std::string const& folder, std::string* why) {
    struct stat info;
    if (stat(folder.c_str(), &info) != 0) {
        *why = errno == ENOENT ? "does not exist" : "cannot be examined (" + SystemError() + ")";
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        *why = "is not a folder";
        return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        *why = "cannot take new files (" + SystemError() + ")";
        return false;
    }
    return true;
}

bool ReserveNumberedFile(std::string const& folder, std::string const& prefix,
                         std::string const& suffix, std::string* path, std::string* error) {
    // The highest number present, whatever its width.
    long highest = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
                continue;
            }
            const std::string digits =
                name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
            if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) {
                continue;
            }
            highest = std::max(highest, std::strtol(digits.c_str(), nullptr, 10));
        }
        closedir(dir);
    } else {
        *error = folder + ": cannot read the folder (" + SystemError() + ")";
        return false;
    }
    for (long number = highest + 1; number < highest + 1000; ++number) {
        char digits[24];
        std::snprintf(digits, sizeof(digits), "%03ld", number);
        const std::string candidate = folder + "/" + prefix + digits + suffix;
        const int descriptor = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (descriptor >= 0) {
            close(descriptor);
            *path = candidate;
            return true;
        }
        if (errno != EEXIST) {
            *error = candidate + ": cannot create (" + SystemError() + ")";
            return false;
        }
    }
    *error = folder + ": no free screenshot name";
    return false;
}
