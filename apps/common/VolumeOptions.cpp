// The volume options shared by kestrel-render and kestrel-viewer.
#include "VolumeOptions.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

#include "CommandLine.h"
#include "HeadPhantom.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

constexpr char kTypes[] = "int8, uint8, int16, uint16, int32, uint32 or float32";

bool Given(const CLI::App& app, const char* name) {
    return app.count(name) > 0;
}

// Samples of a float volume that are NaN or infinite.
long long NonFiniteSamples(const VolumeData& volume) {
    if (!volume.GetDataType().isFloat || volume.GetData() == nullptr) return 0;
    int dims[3];
    volume.GetDimensions(dims);
    const long long count = (long long)dims[0] * dims[1] * dims[2];
    const float* samples = static_cast<const float*>(volume.GetData());
    long long bad = 0;
    for (long long i = 0; i < count; ++i)
        bad += !std::isfinite(samples[i]);
    return bad;
}

}  // namespace

void CheckSpacings(const float spacings[3], const std::string& where) {
    for (int a = 0; a < 3; ++a) {
        if (!(spacings[a] >= kMinSpacing && spacings[a] <= kMaxSpacing)) {
            throw InputError(where + ": spacing " + cmdline::Number(spacings[a]) +
                             " is outside the usable range " + cmdline::Number(kMinSpacing) +
                             " to " + cmdline::Number(kMaxSpacing));
        }
    }
}

void VolumeOptions::AddTo(CLI::App& app) {
    app.add_option("VOLUME", file,
                   "a DICOM series (folder, DICOMDIR or multi-frame file), NIfTI (.nii, "
                   ".nii.gz, .hdr/.img), NRRD (.nrrd, .nhdr) or a structured volume file "
                   "(32-byte header, then the samples)")
        ->check(cmdline::Value("volume file name"));
    app.add_option("--series", series,
                   "  DICOM series to open: UID, number or position in the listing (default: "
                   "the one with the most images)")
        ->type_name("S")
        ->check(cmdline::Value("series UID, number or position"));
    app.add_option("--volume", volumeNumber,
                   "  volume of a 4-D NIfTI or NRRD file to open, from 0 (default 0)")
        ->type_name("N")
        ->check(cmdline::Integer(0, 0x7fffffff));
    app.add_option("--raw", raw, "raw samples, x fastest, little endian, no header; needs:")
        ->type_name("FILE")
        ->check(cmdline::Value("raw sample file name"));
    app.add_option("--dims", dims, "  voxel counts of --raw")
        ->type_name("X Y Z")
        ->expected(3)
        ->check(cmdline::Integer(1, 0x7fffffff));
    app.add_option("--type", typeName, std::string("  sample type of --raw: ") + kTypes)
        ->type_name("T")
        ->check(CLI::Validator(
            [](std::string& name) {
                DataType type{};
                return ParseDataTypeName(name, &type)
                           ? std::string()
                           : "unknown sample type '" + name + "' (" + kTypes + ")";
            },
            ""));
    app.add_option("--spacing", spacing, "  voxel size of --raw (default 1 1 1)")
        ->type_name("SX SY SZ")
        ->expected(3)
        ->check(cmdline::Float(kMinSpacing, kMaxSpacing, "the spacing"));
    app.add_option("--phantom-size", phantomSize,
                   "grid of the built-in phantom, N^3 (default 256; without a volume file)")
        ->type_name("N")
        ->check(cmdline::Integer(2, 1000));
    app.add_option("--crop", crop, "cropping box in voxel coordinates (default: the whole volume)")
        ->type_name("X0 X1 Y0 Y1 Z0 Z1")
        ->expected(6)
        ->check(cmdline::Float(-FLT_MAX, FLT_MAX));
    app.add_option("--view-from", viewFrom,
                   "start from this side of the patient, superior up (default: anterior for "
                   "scans that know the patient's axes; others start looking along -z with +y "
                   "up, or, with this option, take x, y, z as left, posterior, superior)")
        ->type_name("SIDE")
        ->check(CLI::IsMember({"anterior", "posterior", "left", "right", "superior", "inferior"}));
}

bool VolumeOptions::AnyGiven(const CLI::App& app) const {
    for (const char* name : {"VOLUME", "--series", "--volume", "--raw", "--dims", "--type",
                             "--spacing", "--phantom-size", "--crop", "--view-from"}) {
        if (Given(app, name)) return true;
    }
    return false;
}

void VolumeOptions::Check(const CLI::App& app) {
    const bool isRaw = Given(app, "--raw");
    if (isRaw && Given(app, "VOLUME")) {
        throw InputError("--raw: give either a volume file or --raw FILE, not both");
    }
    if (isRaw && !Given(app, "--dims")) throw InputError("--raw: needs --dims X Y Z");
    if (isRaw && !Given(app, "--type")) {
        throw InputError("--raw: needs --type (e.g. --type uint16)");
    }
    for (const char* name : {"--dims", "--type", "--spacing"}) {
        if (!isRaw && Given(app, name)) {
            throw InputError(std::string(name) + ": only applies to --raw FILE");
        }
    }
    for (const char* name : {"--series", "--volume"}) {
        if (Given(app, name) && !Given(app, "VOLUME")) {
            throw InputError(std::string(name) + ": only applies to a VOLUME file");
        }
    }
    if (Given(app, "--phantom-size") && (isRaw || Given(app, "VOLUME"))) {
        throw InputError("--phantom-size: only applies when no volume file is given");
    }
    for (size_t a = 0; a < crop.size() / 2; ++a) {
        if (crop[2 * a] > crop[2 * a + 1]) {
            throw InputError("--crop: the low bound of axis " + std::string(1, "xyz"[a]) +
                             " exceeds its high bound");
        }
    }
}

std::unique_ptr<VolumeData> VolumeOptions::Load(const char* program) {
    std::unique_ptr<VolumeData> volume;
    if (!raw.empty()) {
        DataType type{};
        ParseDataTypeName(typeName, &type);
        const float unit[3] = {1.0f, 1.0f, 1.0f};
        description = raw;
        volume = LoadRawVolume(raw, dims.data(), type, spacing.empty() ? unit : spacing.data());
    } else if (!file.empty()) {
        description = file;
        volume = LoadVolumeFile(file, VolumeFileChoice{series, volumeNumber}, &scanInfo);
        float spacings[3];
        volume->GetSpacings(spacings);
        CheckSpacings(spacings, file);
    } else {
        volume.reset(CreateHeadPhantom(phantomSize));
        if (volume == nullptr) throw InputError("cannot build the head phantom");
    }
    int size[3];
    volume->GetDimensions(size);
    for (size_t a = 0; a < crop.size() / 2; ++a) {
        const float lo = crop[2 * a];
        const float hi = crop[2 * a + 1];
        if (lo < 0.0f || hi > float(size[a] - 1)) {
            char message[200];
            std::snprintf(message, sizeof(message),
                          "--crop: axis %c bounds %g .. %g lie outside the volume (0 .. %d)",
                          "xyz"[a], double(lo), double(hi), size[a] - 1);
            throw InputError(message);
        }
    }
    // A box flat along one axis shows its plane (rays crossing it sample it once); flat along
    // two or three axes it is a line or a point, which no ray hits: say why the picture is empty.
    int flatAxes = 0;
    for (int a = 0; a < 3; ++a) {
        const bool cropFlat = crop.size() == 6 && crop[2 * a] == crop[2 * a + 1];
        flatAxes += size[a] == 1 || cropFlat;
    }
    if (flatAxes >= 2) {
        std::fprintf(stderr,
                     "%s: %s: warning: the volume (or its cropping box) is %s, which has no area "
                     "to show: the picture is empty\n",
                     program, description.c_str(), flatAxes == 3 ? "a single point" : "a line");
    }
    if (const long long bad = NonFiniteSamples(*volume); bad > 0) {
        std::fprintf(stderr,
                     "%s: %s: %lld samples are not finite (NaN or infinity); the value range "
                     "leaves them out\n",
                     program, description.c_str(), bad);
    }
    defaults = ComputeDataDefaults(*volume);
    defaults.patientFrame = !file.empty() && scanInfo.patientFrame;
    defaults.startRotation = StartRotation(defaults.patientFrame, viewFrom);
    return volume;
}
