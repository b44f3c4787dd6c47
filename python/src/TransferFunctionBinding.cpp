// kestrel.TransferFunction: an RGBATransferFunction1D made from points, a preset or a file of
// the tools' format, checked by the tools' own parser, with its table as a numpy array.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Module.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionFile.h"

namespace {

using Point = std::vector<double>;  // value, r, g, b, a

std::string Number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", double(float(value)));
    return text;
}

// The settings of range, samples and points, checked by the file parser: the text is laid out
// one statement a line, so that the parser's line number tells which argument is wrong.
TransferFunctionSettings CheckedSettings(const std::vector<Point>& points, double low, double high,
                                         int samples) {
    std::string text = "kestrel-transfer-function 1\nrange " + Number(low) + " " + Number(high) +
                       "\nsamples " + std::to_string(samples) + "\n";
    for (size_t i = 0; i < points.size(); ++i) {
        if (points[i].size() != 5)
            throw InputError("point " + std::to_string(i) + ": needs value, r, g, b, a");
        text += "point";
        for (double v : points[i])
            text += " " + Number(v);
        text += "\n";
    }
    try {
        return ParseTransferFunction(text, "");
    } catch (const InputError& error) {
        // ":<line>: <what>" -> the argument of that line
        const std::string message = error.what();
        const size_t colon = message.find(':', 1);
        const int line = std::atoi(message.c_str() + 1);
        const std::string what = colon == std::string::npos ? message : message.substr(colon + 2);
        if (line == 2) throw InputError("range: " + what);
        if (line == 3) throw InputError("samples: " + what);
        if (line >= 4) throw InputError("point " + std::to_string(line - 4) + ": " + what);
        throw InputError(what);
    }
}

std::unique_ptr<RGBATransferFunction1D> FromPoints(const std::vector<Point>& points,
                                                   py::object range, int samples) {
    double low = 0.0, high = 1.0;
    if (!range.is_none()) {
        const std::vector<double> r = py::cast<std::vector<double>>(range);
        if (r.size() != 2) throw InputError("range: needs two values (min, max)");
        low = r[0];
        high = r[1];
    } else if (!points.empty() && points.front().size() == 5) {
        low = high = points.front()[0];
        for (const Point& p : points) {
            if (p.empty()) continue;
            low = std::min(low, p[0]);
            high = std::max(high, p[0]);
        }
    }
    std::unique_ptr<RGBATransferFunction1D> function(new RGBATransferFunction1D);
    ApplyTransferFunction(CheckedSettings(points, low, high, samples), *function);
    return function;
}

std::unique_ptr<RGBATransferFunction1D> Preset(const std::string& name) {
    std::unique_ptr<RGBATransferFunction1D> function(new RGBATransferFunction1D);
    if (!LoadTransferFunctionPreset(name, *function)) {
        std::string known;
        for (const std::string& preset : TransferFunctionPresetNames())
            known += (known.empty() ? "" : ", ") + preset;
        throw InputError("unknown transfer-function preset '" + name + "' (known: " + known + ")");
    }
    return function;
}

std::unique_ptr<RGBATransferFunction1D> Read(const std::string& path) {
    std::unique_ptr<RGBATransferFunction1D> function(new RGBATransferFunction1D);
    try {
        LoadTransferFunctionFile(path, *function);
    } catch (const InputError& error) {
        ThrowLoadError(path, error.what());
    }
    return function;
}

void Write(const RGBATransferFunction1D& function, const std::string& path) {
    try {
        SaveTransferFunctionFile(path, function);
    } catch (const InputError& error) {
        throw FileAccessError(error.what());
    }
}

py::list Points(const RGBATransferFunction1D& function) {
    py::list points;
    for (const TransferFunctionSettings::Point& p : SettingsOf(function).points)
        points.append(py::make_tuple(p.value, p.rgba.x, p.rgba.y, p.rgba.z, p.rgba.w));
    return points;
}

// The table (samples x 4 RGBA floats, entry 0 at the range's minimum), a copy.
py::array_t<float> Table(RGBATransferFunction1D& function) {
    const int n = function.GetSampleNumber();
    const Vector4* data = function.GetData();
    py::array_t<float> table({n, 4});
    std::memcpy(table.mutable_data(), data, sizeof(float) * 4 * size_t(n));
    return table;
}

}  // namespace

void BindTransferFunction(py::module_& m) {
    py::class_<RGBATransferFunction1D>(m, "TransferFunction")
        .def(py::init(&FromPoints), py::arg("points") = std::vector<Point>(),
             py::arg("range") = py::none(), py::arg("samples") = 256)
        .def_static("preset", &Preset, py::arg("name"))
        .def_static("presets", &TransferFunctionPresetNames)
        .def_static("read", &Read, py::arg("path"))
        .def("write", &Write, py::arg("path"))
        .def("text",
             [](const RGBATransferFunction1D& f) { return FormatTransferFunction(SettingsOf(f)); })
        .def_property_readonly("points", &Points)
        .def_property_readonly("range",
                               [](const RGBATransferFunction1D& f) {
                                   return py::make_tuple(f.GetMinPos(), f.GetMaxPos());
                               })
        .def_property_readonly("samples", &RGBATransferFunction1D::GetSampleNumber)
        .def("table", &Table)
        .def("__copy__", [](const RGBATransferFunction1D& f) { return RGBATransferFunction1D(f); })
        .def("__repr__", [](const RGBATransferFunction1D& f) {
            return "<kestrel.TransferFunction: " + std::to_string(f.GetPointCount()) +
                   " points over " + Number(f.GetMinPos()) + " .. " + Number(f.GetMaxPos()) + ", " +
                   std::to_string(f.GetSampleNumber()) + " samples>";
        });
}
