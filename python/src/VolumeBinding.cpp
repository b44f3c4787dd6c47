// kestrel.Volume (from a numpy array, sharing its memory where the layout allows), kestrel.load
// and kestrel.save, with the checks and messages of the tools.
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "HeadPhantom.h"
#include "Module.h"
#include "OutputFile.h"
#include "VolumeLoader.h"
#include "VolumeOptions.h"

namespace {

// The sample type of a numpy dtype of kind 'i', 'u' or 'f' and `bytes` per sample; false for
// the types the library does not have.
bool SampleTypeOf(char kind, ssize_t bytes, DataType* type) {
    struct Known {
        char kind;
        ssize_t bytes;
        const DataType* type;
    };
    static const Known known[] = {{'i', 1, &VolumeData::dtInt8},   {'u', 1, &VolumeData::dtUint8},
                                  {'i', 2, &VolumeData::dtInt16},  {'u', 2, &VolumeData::dtUint16},
                                  {'i', 4, &VolumeData::dtInt32},  {'u', 4, &VolumeData::dtUint32},
                                  {'f', 4, &VolumeData::dtFloat32}};
    for (const Known& k : known) {
        if (k.kind == kind && k.bytes == bytes) {
            *type = *k.type;
            return true;
        }
    }
    return false;
}

// The struct-module format of the samples, for the buffer protocol.
std::string BufferFormat(const DataType& type) {
    if (type.isFloat) return py::format_descriptor<float>::format();
    switch (type.bitCount) {
        case 8:
            return type.isSigned ? py::format_descriptor<int8_t>::format()
                                 : py::format_descriptor<uint8_t>::format();
        case 16:
            return type.isSigned ? py::format_descriptor<int16_t>::format()
                                 : py::format_descriptor<uint16_t>::format();
        default:
            return type.isSigned ? py::format_descriptor<int32_t>::format()
                                 : py::format_descriptor<uint32_t>::format();
    }
}

void SetSpacing(PyVolume& self, const std::vector<float>& spacing) {
    if (spacing.size() != 3) throw InputError("spacing: needs three values (sx, sy, sz)");
    CheckSpacings(spacing.data(), "spacing");
    self.volume->SetSpacings(spacing.data());
}

void Warn(const std::string& message) {
    PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 2);
}

// A volume over the samples of `object` (any array-like, numpy's (z, y, x) order): the array's
// own memory when it is C-contiguous, aligned, native-endian and of one of the seven sample
// types; otherwise a converted copy, with a note and a warning saying why.
std::unique_ptr<PyVolume> VolumeFromArray(py::object object, const std::vector<float>& spacing) {
    py::module_ numpy = py::module_::import("numpy");
    py::array array = numpy.attr("asarray")(object);
    if (array.ndim() != 3) {
        throw InputError("the array has " + std::to_string(array.ndim()) +
                         " dimensions; a volume needs three, in (z, y, x) order");
    }
    std::unique_ptr<PyVolume> self(new PyVolume);
    py::dtype dtype = array.dtype();
    const std::string typeName = py::str(dtype);
    DataType type{};
    if (dtype.kind() == 'f' && dtype.itemsize() == 8) {
        type = VolumeData::dtFloat32;
        self->notes.push_back("float64 samples converted to float32 (a copy)");
    } else if (!SampleTypeOf(dtype.kind(), dtype.itemsize(), &type)) {
        throw InputError("sample type " + typeName +
                         " is not one of int8, uint8, int16, uint16, int32, uint32, float32 "
                         "(float64 is converted to float32)");
    }
    const py::dtype native = numpy.attr("dtype")(BufferFormat(type));
    const bool contiguous = (array.flags() & py::array::c_style) != 0;
    const bool aligned = py::cast<bool>(array.attr("flags").attr("aligned"));
    if (self->notes.empty() && !(contiguous && aligned && dtype.equal(native))) {
        self->notes.push_back(std::string("the samples were copied: the array is ") +
                              (!contiguous ? "not C-contiguous"
                               : !aligned  ? "not aligned"
                                           : "not in native byte order"));
    }
    if (!self->notes.empty()) {
        array = numpy.attr("ascontiguousarray")(array, native);
        self->copied = true;
        Warn("kestrel.Volume: " + self->notes.back());
    }
    int dims[3];
    for (int a = 0; a < 3; ++a) {
        const ssize_t n = array.shape(2 - a);
        if (n < 1 || n > INT_MAX) {
            throw InputError("the array's shape " + std::string(py::str(object.attr("shape"))) +
                             " has an axis of " + std::to_string(n) +
                             " samples; each needs 1 .. 2147483647");
        }
        dims[a] = int(n);
    }
    self->volume.reset(new VolumeData);
    self->volume->SetDataType(type);
    self->volume->SetDimensions(dims);
    SetSpacing(*self, spacing);
    self->volume->data = const_cast<void*>(array.data());
    self->lender = array;
    self->format = "array";
    return self;
}

std::unique_ptr<PyVolume> Load(const std::string& path, const std::string& series, int number) {
    std::unique_ptr<PyVolume> self(new PyVolume);
    {
        py::gil_scoped_release release;
        try {
            self->volume = LoadVolumeFile(path, VolumeFileChoice{series, number}, &self->info);
        } catch (const InputError& error) {
            ThrowLoadError(path, error.what());
        }
    }
    float spacings[3];
    self->volume->GetSpacings(spacings);
    CheckSpacings(spacings, path);
    self->format = ScanFormatName(self->info.format);
    self->path = path;
    self->notes = self->info.notes;
    return self;
}

// Writes the structured file as `kestrel-render --convert` does: beside the destination, then
// renamed, so that the file is complete or absent; never over the volume's own file.
void Save(PyVolume& self, const std::string& path) {
    OutputFile destination("kestrel.save", path);
    std::string reason;
    if (!destination.Check({self.path}, &reason)) throw FileAccessError(reason);
    py::gil_scoped_release release;
    const std::string partial = path + ".part";
    self.volume->WriteStructuredFile(partial.c_str());
    int dims[3];
    self.volume->GetDimensions(dims);
    const long long bytes = 32 + (long long)(self.volume->GetDataType().bitCount >> 3) * dims[0] *
                                     (long long)dims[1] * dims[2];
    struct stat written;
    if (stat(partial.c_str(), &written) != 0 || written.st_size != bytes ||
        std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        throw FileAccessError("kestrel.save " + path + ": cannot write the file");
    }
}

std::unique_ptr<PyVolume> Phantom(int size) {
    if (size < 2 || size > 1000)
        throw InputError("--phantom-size: " + std::to_string(size) + " is outside 2 .. 1000");
    std::unique_ptr<PyVolume> self(new PyVolume);
    py::gil_scoped_release release;
    self->volume.reset(CreateHeadPhantom(size));
    self->format = "phantom";
    return self;
}

py::tuple ValueRange(PyVolume& self) {
    if (!self.rangeKnown) {
        py::gil_scoped_release release;
        self.volume->GetMinMaxValue(self.low, self.high);
        self.rangeKnown = true;
    }
    return py::make_tuple(self.low, self.high);
}

py::dict Orientation(const PyVolume& self) {
    const ScanInfo& info = self.info;
    py::dict orientation;
    orientation["axis_order"] =
        py::make_tuple(info.axisOrder[0], info.axisOrder[1], info.axisOrder[2]);
    orientation["flipped"] =
        py::make_tuple(info.axisFlipped[0], info.axisFlipped[1], info.axisFlipped[2]);
    orientation["oblique_degrees"] = info.oblique ? info.obliqueDegrees : 0.0;
    return orientation;
}

py::buffer_info Samples(PyVolume& self) {
    const VolumeData& v = *self.volume;
    const ssize_t bytes = v.GetDataType().bitCount >> 3;
    const ssize_t nx = v.dimensions[0], ny = v.dimensions[1], nz = v.dimensions[2];
    bool readonly = false;
    if (self.lender) readonly = !py::cast<py::array>(self.lender).writeable();
    return py::buffer_info(v.GetData(), bytes, BufferFormat(v.GetDataType()), 3, {nz, ny, nx},
                           {nx * ny * bytes, nx * bytes, bytes}, readonly);
}

}  // namespace

void BindVolume(py::module_& m) {
    py::class_<PyVolume>(m, "Volume", py::buffer_protocol(), py::dynamic_attr())
        .def(py::init(&VolumeFromArray), py::arg("array"),
             py::arg("spacing") = std::vector<float>{1.0f, 1.0f, 1.0f})
        .def_buffer(&Samples)
        .def_property_readonly("shape",
                               [](const PyVolume& s) {
                                   const int* d = s.volume->dimensions;
                                   return py::make_tuple(d[2], d[1], d[0]);
                               })
        .def_property(
            "spacing",
            [](const PyVolume& s) {
                const float* sp = s.volume->spacings;
                return py::make_tuple(sp[0], sp[1], sp[2]);
            },
            &SetSpacing)
        .def_property_readonly("sample_type",
                               [](const PyVolume& s) { return DataTypeName(s.volume->dataType); })
        .def_readonly("copied", &PyVolume::copied)
        .def_readonly("format", &PyVolume::format)
        .def_readonly("path", &PyVolume::path)
        .def_readonly("notes", &PyVolume::notes)
        .def_property_readonly("value_range", &ValueRange)
        .def_property_readonly("orientation", &Orientation)
        .def_property_readonly("stored_type", [](const PyVolume& s) { return s.info.storedType; })
        .def_property_readonly("rescale",
                               [](const PyVolume& s) -> py::object {
                                   if (!s.info.rescaled) return py::none();
                                   return py::make_tuple(s.info.slope, s.info.intercept);
                               })
        .def_property_readonly("chosen", [](const PyVolume& s) { return s.info.chosen; })
        .def("describe", [](PyVolume& s) {
            return DescribeVolume(s.path.empty() ? "array" : s.path, *s.volume, s.info);
        });
    m.def("load", &Load, py::arg("path"), py::arg("series") = "", py::arg("volume") = 0);
    m.def("phantom", &Phantom, py::arg("size") = 256);
    m.def("save", &Save, py::arg("volume"), py::arg("path"));
}
