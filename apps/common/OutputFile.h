// Files the applications write: a PNG is written completely under a temporary name beside its
// destination and renamed over it, so that a failure or an interrupt leaves the destination as
// it was. Only a regular file (or a name not yet taken) is ever replaced; a symbolic link is
// followed and the regular file it names is replaced, the link stays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class OutputFile {
public:
    // `option` names the path in messages ("--output", "--screenshot").
    OutputFile(std::string option, std::string path);
    // Removes the temporary file unless Commit succeeded.
    ~OutputFile();
    OutputFile(OutputFile const&) = delete;
    OutputFile& operator=(OutputFile const&) = delete;

    // Checks the destination: it must be a regular file, or not exist in an existing folder that
    // takes new files, and must not be the same file (device and inode) as any of `inputs`
    // (names that do not exist are skipped). False with one line naming the option and the path in
    // `error`.
    bool Check(std::vector<std::string> const& inputs, std::string* error);
    // Check, then creates the temporary file (a short name in the destination's folder, so that
    // any legal destination name fits) and arranges for SIGINT, SIGTERM and SIGHUP to remove it.
    bool Open(std::vector<std::string> const& inputs, std::string* error);
    // Writes the image (RGBA, rows bottom-up) as PNG into the temporary file, checks the
    // destination again and renames the file over it. On failure no temporary file remains and
    // the destination is as it was.
    bool CommitPng(std::vector<uint8_t> const& rgba, int width, int height, std::string* error);

    // The file that is replaced: the destination with its symbolic links resolved.
    std::string const& Target() const { return target_; }

private:
    void Discard();

    std::string option_;
    std::string path_;
    std::string target_;
    std::string temporary_;
    std::vector<std::string> inputs_;
};

// True when `folder` exists, is a folder and lets this process create files in it; else false
// with the reason ("does not exist", "is not a folder", ...) in `why`.
bool CheckWritableFolder(std::string const& folder, std::string* why);

// The first free name kestrel-viewer-NNN.png (three digits or more) in `folder` after the
// highest number present, created empty and exclusively (O_EXCL), so that a screenshot never
// replaces an earlier one. False with a reason when the folder cannot take it.
bool ReserveNumberedFile(std::string const& folder, std::string const& prefix,
                         std::string const& suffix, std::string* path, std::string* error);
