// The files of a DICOM folder, found without GDCM and without opening any: sub-folders are
// entered, symbolic links followed once (a loop or a second way to one file is not taken twice),
// pseudo file systems (/proc, /sys, /dev) not entered, and special files (pipes, devices,
// sockets) left out with a note naming them, since reading one could block or never end.
#ifndef KESTREL_DICOM_FOLDER_H
#define KESTREL_DICOM_FOLDER_H

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel_io {

struct FolderFiles {
    std::vector<std::string> files;  // regular files, in name order within each folder
    std::vector<std::string> notes;  // one line per left-out entry (at most a few, then a count)
    std::uint64_t bytes = 0;         // the files' total size
};

// Files a scan takes at most: more is not a scan folder (a link to / or a home folder).
constexpr std::size_t kMaxFolderFiles = 200000;

// Throws ScanError naming `folder` when it cannot be read or holds more than kMaxFolderFiles.
FolderFiles ListFolderFiles(const std::string& folder);

}  // namespace kestrel_io

#endif  // KESTREL_DICOM_FOLDER_H
