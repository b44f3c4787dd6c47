// A DICOM folder's regular files, with links followed once and special files left out.
#include "DicomFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "ScanLoader.h"

namespace kestrel_io {

namespace {

// Left-out entries named one by one; the rest are counted.
constexpr std::size_t kNamedNotes = 5;
// Folder depth entered at most.
constexpr int kMaxDepth = 64;

// statfs magic numbers of file systems whose "files" are kernel state, not scans.
bool IsPseudoFileSystem(const std::string& folder) {
    struct statfs info;
    if (statfs(folder.c_str(), &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x9fa0UL:      // proc
        case 0x62656572UL:  // sysfs
        case 0x1cd1UL:      // devpts
        case 0x64626720UL:  // debugfs
        case 0x74726163UL:  // tracefs
        case 0x27e0ebUL:    // cgroup
        case 0x63677270UL:  // cgroup2
        case 0x73636673UL:  // securityfs
            return true;
        default:
            return false;
    }
}

std::string KindName(mode_t mode) {
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

using Identity = std::pair<dev_t, ino_t>;

class FolderWalk {
public:
    explicit FolderWalk(const std::string& top) : top_(top) {}

    void Note(const std::string& path, const std::string& why) {
        if (++leftOut_ <= kNamedNotes) found.notes.push_back("skipped " + path + ": " + why);
    }

    void Finish() {
        if (leftOut_ > kNamedNotes) {
            found.notes.push_back("skipped " + std::to_string(leftOut_ - kNamedNotes) +
                                  " more entries that are not regular files");
        }
    }

    void Enter(const std::string& folder, const struct stat& status, int depth) {
        if (!folders_.insert({status.st_dev, status.st_ino}).second) {
            Note(folder, "a folder already read (a link loop or a second link to it)");
            return;
        }
        if (depth > kMaxDepth) return Note(folder, "folders nested too deep");
        if (IsPseudoFileSystem(folder)) return Note(folder, "a system folder (/proc, /sys)");
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) {
            if (depth == 0) {
                throw ScanError(folder + ": cannot read the folder (" + std::strerror(errno) + ")");
            }
            return Note(folder, std::string("cannot be read (") + std::strerror(errno) + ")");
        }
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            Visit(folder + "/" + name, depth);
    }

    FolderFiles found;

private:
    void Visit(const std::string& path, int depth) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0) return Note(path, std::strerror(errno));
        // A link is followed to what it names, once.
        if (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) != 0) {
            return Note(path,
                        std::string("a link to nothing readable (") + std::strerror(errno) + ")");
        }
        if (S_ISDIR(status.st_mode)) return Enter(path, status, depth + 1);
        if (!S_ISREG(status.st_mode)) return Note(path, KindName(status.st_mode));
        if (!files_.insert({status.st_dev, status.st_ino}).second) return;  // seen by another name
        if (found.files.size() == kMaxFolderFiles) {
            throw ScanError(top_ + ": holds more than " + std::to_string(kMaxFolderFiles) +
                            " files; not a scan folder");
        }
        found.files.push_back(path);
        found.bytes += std::uint64_t(status.st_size);
    }

    std::string top_;
    std::set<Identity> folders_;
    std::set<Identity> files_;
    std::size_t leftOut_ = 0;
};

}  // namespace

FolderFiles ListFolderFiles(const std::string& folder) {
    struct stat status;
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw ScanError(folder + ": not a folder");
    }
    FolderWalk walk(folder);
    walk.Enter(folder, status, 0);
    walk.Finish();
    return std::move(walk.found);
}

}  // namespace kestrel_io
