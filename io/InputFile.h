// Opening an input file without waiting on it: a pipe, a device or a socket is refused before
// anything is read from it, so that naming one never blocks a tool.
#ifndef KESTREL_INPUT_FILE_H
#define KESTREL_INPUT_FILE_H

#include <cstdio>
#include <string>

#include "KestrelExport.h"

/// Opens `path` for reading when it is a regular file (a symbolic link is followed to one): the
/// open does not block (O_NONBLOCK), the kind is checked on the descriptor (fstat), then reads
/// block as usual. Returns null with `why` set ("is a folder", "is not a regular file (a pipe, a
/// device or a socket)", or the system's reason) otherwise. The caller closes the file.
KESTREL_IO_API std::FILE* OpenRegularFile(const std::string& path, std::string* why);

/// True when `path` names a regular file (after links); `why` as for OpenRegularFile. Opens
/// nothing.
KESTREL_IO_API bool IsRegularFile(const std::string& path, std::string* why);

#endif  // KESTREL_INPUT_FILE_H
