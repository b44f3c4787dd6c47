// The pieces of the Python module kestrel._kestrel, one file each, and the errors they raise.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScanLoader.h"
#include "VolumeData.h"

namespace py = pybind11;

// A file that cannot be opened, read or written: raised in Python as OSError with what() as its
// message. Bad contents and bad values are InputError (VolumeLoader.h), raised as ValueError.
class FileAccessError : public std::runtime_error {
public:
    explicit FileAccessError(const std::string& message) : std::runtime_error(message) {}
};

// Throws the tools' one-line message as FileAccessError when `path` cannot be read at all (so
// that a missing file is an OSError), else as InputError.
[[noreturn]] void ThrowLoadError(const std::string& path, const std::string& message);

// kestrel.Volume: a VolumeData and what its load found. The samples belong to the VolumeData
// (a loaded file) or are borrowed from the numpy array `lender`, kept alive here; the borrowed
// pointer is taken back before the VolumeData frees its buffer. Not copyable.
struct PyVolume {
    std::unique_ptr<VolumeData> volume;
    py::object lender;    // the numpy array whose memory the samples are, or null
    bool copied = false;  // the samples were copied from the given array
    std::string format;   // "array", "structured", "DICOM", "NIfTI", "NRRD"
    std::string path;     // the file loaded ("" for an array)
    ScanInfo info;        // what the load found and did
    std::vector<std::string> notes;
    bool rangeKnown = false;  // value range computed (lazily: a pass over every sample)
    double low = 0.0, high = 0.0;

    PyVolume() = default;
    PyVolume(const PyVolume&) = delete;
    PyVolume& operator=(const PyVolume&) = delete;
    ~PyVolume() {
        if (lender && volume != nullptr) volume->data = nullptr;
    }
};

void BindVolume(py::module_& m);
void BindTransferFunction(py::module_& m);
void BindRender(py::module_& m);
void BindScenes(py::module_& m);
