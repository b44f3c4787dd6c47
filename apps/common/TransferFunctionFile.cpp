// Reading, writing and the built-in presets of transfer-function files.
#include "TransferFunctionFile.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <locale>
#include <memory>
#include <sstream>

#include "DataDefaults.h"
#include "InputFile.h"
#include "RGBATransferFunction1D.h"

namespace {

const char kMagic[] = "kestrel-transfer-function";
constexpr int kVersion = 1;
constexpr int kMinSamples = 2;
constexpr int kMaxSamples = 65536;
constexpr std::size_t kMaxPoints = 4096;
constexpr std::size_t kMaxFileBytes = 1 << 20;

// MR intensities have no fixed scale: with the data at hand, this preset's points move to the
// data's percentiles (MakeRelativeMRFunction); CT numbers are absolute, so the CT presets stay.
const char kRelativePreset[] = "mr-default";
// The CT presets are written on the scale CT number + 1024. Values below this occur only in
// Hounsfield units (air is -1000 there, 24 on the shifted scale): on such a volume the CT
// presets move down by the offset, so that bone stays bone.
constexpr double kLowestShiftedValue = -500.0;
constexpr float kCTOffset = 1024.0f;

struct Preset {
    const char* name;
    const char* text;
    bool shiftedCT;  // written in CT numbers + 1024
};

// Values on the head phantom's scale (CT number + 1024): air 0, fat 940, soft tissue
// 1030 .. 1090, bone 1500 .. 2600, dense structures 3000 .. 3500.
const Preset kPresets[] = {
    {"ct-soft-tissue-bone",
     "kestrel-transfer-function 1\n"
     "range 0 4096\n"
     "samples 512\n"
     "point 900 0.55 0.25 0.15 0\n"
     "point 1040 0.85 0.55 0.45 0.05\n"
     "point 1100 0.9 0.7 0.6 0.03\n"
     "point 1300 0.9 0.8 0.7 0\n"
     "point 1500 0.95 0.9 0.8 0.3\n"
     "point 2400 1 0.98 0.92 0.85\n"
     "point 4096 1 1 1 0.95\n",
     true},
    {"ct-bone",
     "kestrel-transfer-function 1\n"
     "range 0 4096\n"
     "samples 512\n"
     "point 1300 0.9 0.8 0.7 0\n"
     "point 1600 0.95 0.9 0.8 0.5\n"
     "point 2400 1 0.98 0.92 0.9\n"
     "point 4096 1 1 1 1\n",
     true},
    {"mr-default",
     "kestrel-transfer-function 1\n"
     "range 0 1024\n"
     "samples 256\n"
     "point 80 0 0 0 0\n"
     "point 200 0.6 0.5 0.45 0.05\n"
     "point 500 0.9 0.8 0.7 0.25\n"
     "point 1024 1 1 1 0.6\n",
     false},
};

[[noreturn]] void Fail(const std::string& name, int line, const std::string& what) {
    throw InputError(name + ":" + std::to_string(line) + ": " + what);
}

// Reads one number from a statement; false when there is none. A word that is not a number, or
// one that is not finite (nan, inf), fails with its own message.
bool ReadNumber(std::istringstream& in, double& value, const std::string& name, int line) {
    std::string word;
    if (!(in >> word)) return false;
    char* end = nullptr;
    value = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || *end != '\0') Fail(name, line, "'" + word + "' is not a number");
    if (!std::isfinite(value)) Fail(name, line, "'" + word + "' is not a finite number");
    return true;
}

// The names of the presets, for messages: "a, b, c".
std::string PresetList() {
    std::string names;
    for (const Preset& preset : kPresets)
        names += (names.empty() ? "" : ", ") + std::string(preset.name);
    return names;
}

}  // namespace

TransferFunctionSettings ParseTransferFunction(const std::string& text, const std::string& name) {
    TransferFunctionSettings settings;
    std::istringstream lines(text);
    std::string raw;
    int line = 0;
    bool sawMagic = false, sawRange = false, sawSamples = false;
    while (std::getline(lines, raw)) {
        ++line;
        const std::string content = raw.substr(0, raw.find('#'));
        std::istringstream in(content);
        in.imbue(std::locale::classic());
        std::string keyword;
        if (!(in >> keyword)) continue;  // blank or comment
        if (!sawMagic) {
            int version = 0;
            if (keyword != kMagic || !(in >> version))
                Fail(name, line,
                     std::string("not a transfer-function file (expected '") + kMagic + " " +
                         std::to_string(kVersion) + "' first)");
            if (version != kVersion)
                Fail(name, line, "unsupported format version " + std::to_string(version));
            sawMagic = true;
        } else if (keyword == "range") {
            double lo, hi;
            if (sawRange) Fail(name, line, "second 'range' statement");
            if (!ReadNumber(in, lo, name, line) || !ReadNumber(in, hi, name, line))
                Fail(name, line, "'range' needs two numbers: range <min> <max>");
            if (!std::isfinite(float(lo)) || !std::isfinite(float(hi)) || !(float(lo) < float(hi)))
                Fail(name, line, "range must be finite with min < max");
            // The table steps over max - min in single precision: it must be a number too.
            if (!std::isfinite(float(hi) - float(lo)))
                Fail(name, line, "range is too wide: max - min exceeds 3.4e38");
            settings.minPos = float(lo);
            settings.maxPos = float(hi);
            sawRange = true;
        } else if (keyword == "samples") {
            double count;
            if (sawSamples) Fail(name, line, "second 'samples' statement");
            if (!ReadNumber(in, count, name, line) || count != std::floor(count) ||
                count < kMinSamples || count > kMaxSamples)
                Fail(name, line,
                     "'samples' needs a whole number from " + std::to_string(kMinSamples) + " to " +
                         std::to_string(kMaxSamples));
            settings.samples = int(count);
            sawSamples = true;
        } else if (keyword == "point") {
            if (!sawRange || !sawSamples)
                Fail(name, line, "'point' before the 'range' and 'samples' statements");
            double v[5];
            for (double& x : v)
                if (!ReadNumber(in, x, name, line))
                    Fail(name, line, "'point' needs five numbers: point <value> <r> <g> <b> <a>");
            if (!std::isfinite(float(v[0]))) Fail(name, line, "point value is not finite");
            for (int c = 1; c < 5; ++c)
                if (!(v[c] >= 0.0 && v[c] <= 1.0))
                    Fail(name, line, "point colour channels must lie in [0, 1]");
            if (settings.points.size() >= kMaxPoints)
                Fail(name, line, "more than " + std::to_string(kMaxPoints) + " points");
            settings.points.push_back(
                {float(v[0]), Vector4(float(v[1]), float(v[2]), float(v[3]), float(v[4]))});
        } else {
            Fail(name, line, "unknown statement '" + keyword + "'");
        }
        std::string extra;
        if (in >> extra) Fail(name, line, "unexpected '" + extra + "' after the statement");
    }
    if (!sawMagic) Fail(name, line, "empty file: not a transfer-function file");
    if (!sawRange || !sawSamples)
        Fail(name, line,
             std::string("end of file without a '") + (sawRange ? "samples" : "range") +
                 "' statement");
    return settings;
}

std::string FormatTransferFunction(const TransferFunctionSettings& settings) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(9);
    out << kMagic << ' ' << kVersion << '\n';
    out << "range " << settings.minPos << ' ' << settings.maxPos << '\n';
    out << "samples " << settings.samples << '\n';
    for (const TransferFunctionSettings::Point& p : settings.points)
        out << "point " << p.value << ' ' << p.rgba.x << ' ' << p.rgba.y << ' ' << p.rgba.z << ' '
            << p.rgba.w << '\n';
    return out.str();
}

TransferFunctionSettings SettingsOf(const RGBATransferFunction1D& function) {
    TransferFunctionSettings settings;
    settings.minPos = function.GetMinPos();
    settings.maxPos = function.GetMaxPos();
    settings.samples = function.GetSampleNumber();
    for (int i = 0; i < function.GetPointCount(); ++i)
        settings.points.push_back({function.GetPos(i), function.GetValue(i)});
    return settings;
}

void ApplyTransferFunction(const TransferFunctionSettings& settings,
                           RGBATransferFunction1D& function) {
    function.RemoveAllPoints();
    function.SetSampleNumber(settings.samples);
    function.SetMinPos(settings.minPos);
    function.SetMaxPos(settings.maxPos);
    for (const TransferFunctionSettings::Point& p : settings.points)
        function.AddPoint(p.value, p.rgba);
}

void LoadTransferFunctionFile(const std::string& path, RGBATransferFunction1D& function) {
    // A pipe or a device is refused before it is read: it could block or never end.
    std::string why;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenRegularFile(path, &why), &std::fclose);
    const bool missing = file == nullptr && access(path.c_str(), F_OK) != 0 && errno == ENOENT;
    if (missing && path.find('/') == std::string::npos) {
        throw InputError(
            path + ": no such file, and no preset of that name (presets: " + PresetList() + ")");
    }
    if (file == nullptr) throw InputError(path + ": " + why);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
        text.append(buffer, n);
        if (text.size() > kMaxFileBytes)
            throw InputError(path + ": larger than 1 MiB: not a transfer-function file");
    }
    if (std::ferror(file.get())) throw InputError(path + ": read error");
    // Parse everything first: a bad file changes nothing.
    ApplyTransferFunction(ParseTransferFunction(text, path), function);
}

void SaveTransferFunctionFile(const std::string& path, const RGBATransferFunction1D& function) {
    const std::string text = FormatTransferFunction(SettingsOf(function));
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) throw InputError(path + ": cannot write: " + std::strerror(errno));
        file << text;
        file.close();
        if (!file) {
            std::remove(temporary.c_str());
            throw InputError(path + ": write error");
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw InputError(path + ": cannot replace: " + reason);
    }
}

std::vector<std::string> TransferFunctionPresetNames() {
    std::vector<std::string> names;
    for (const Preset& preset : kPresets)
        names.push_back(preset.name);
    return names;
}

namespace {

const Preset* FindPreset(const std::string& name) {
    for (const Preset& preset : kPresets)
        if (name == preset.name) return &preset;
    return nullptr;
}

}  // namespace

std::string TransferFunctionPresetText(const std::string& name) {
    const Preset* const preset = FindPreset(name);
    return preset != nullptr ? preset->text : std::string();
}

bool LoadTransferFunctionPreset(const std::string& name, RGBATransferFunction1D& function,
                                const DataDefaults* data) {
    const Preset* const preset = FindPreset(name);
    if (preset == nullptr) return false;
    if (data != nullptr && name == kRelativePreset) {
        MakeRelativeMRFunction(*data, function);
        return true;
    }
    TransferFunctionSettings settings = ParseTransferFunction(preset->text, "preset " + name);
    if (preset->shiftedCT && data != nullptr && data->histogram.minValue < kLowestShiftedValue) {
        settings.minPos -= kCTOffset;
        settings.maxPos -= kCTOffset;
        for (TransferFunctionSettings::Point& point : settings.points)
            point.value -= kCTOffset;
    }
    ApplyTransferFunction(settings, function);
    return true;
}
