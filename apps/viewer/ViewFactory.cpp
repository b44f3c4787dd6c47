// The views of kestrel-viewer: the maximum-intensity projection of a volume file or of the
// built-in head phantom, and the camera test scene (a colour cube).
#include "ViewFactory.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "HeadPhantom.h"
#include "MIPVRScene.h"
#include "Scene.h"
#include "ViewerOptions.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

// Keys of the MIP view.
constexpr unsigned char kWiderWindow = ']';
constexpr unsigned char kNarrowerWindow = '[';
constexpr unsigned char kCentreUp = '+';
constexpr unsigned char kCentreUpUnshifted = '=';  // the '+' key without shift
constexpr unsigned char kCentreDown = '-';
constexpr unsigned char kResetWindow = 'v';
constexpr unsigned char kResetCamera = 'r';
constexpr float kWidthFactor = 1.25f;  // one key press widens or narrows by this factor
constexpr float kCentreStep = 0.05f;   // one key press moves the centre by this part of the width

// A MIP view that owns the volume it shows and remembers the window of its value range.
class ViewerMIPScene : public MIPVRScene {
public:
    explicit ViewerMIPScene(std::unique_ptr<VolumeData> volume) : volume_(std::move(volume)) {
        SetData(volume_.get());
        rangeWidth_ = GetWindowWidth();
        rangeCenter_ = GetWindowCenter();
    }
    void ResetWindow() { SetWidthCenter(rangeWidth_, rangeCenter_); }
    void GetVolumeDimensions(int* dims) const { volume_->GetDimensions(dims); }

private:
    // Deleted before the MIPVRScene destructor runs; that destructor does not
    // touch the volume it was handed (it frees only its own bricks and grid).
    std::unique_ptr<VolumeData> volume_;
    float rangeWidth_ = 0.0f;
    float rangeCenter_ = 0.0f;
};

// Strict numbers, as the rest of the command line.
bool ToInt(std::string const& text, long low, long high, int* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = int(value);
    return true;
}

bool ToFloat(std::string const& text, float* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

// Reads `count` numbers after the option at args[index] into `values`, joined into `joined`.
bool TakeFloats(std::vector<std::string> const& args, size_t index, int count, float* values,
                std::string* joined, std::string* error) {
    const std::string& option = args[index];
    if (index + size_t(count) >= args.size()) {
        *error = option + ": expected " + std::to_string(count) + " numbers";
        return false;
    }
    joined->clear();
    for (int i = 0; i < count; ++i) {
        const std::string& text = args[index + 1 + size_t(i)];
        if (!ToFloat(text, &values[i])) {
            *error = option + ": '" + text + "' is not a finite number";
            return false;
        }
        *joined += (i > 0 ? " " : "") + text;
    }
    return true;
}

std::string Setting(ViewerOptions const& options, const char* key) {
    const auto found = options.viewSettings.find(key);
    return found == options.viewSettings.end() ? std::string() : found->second;
}

// Parses the numbers of a stored setting (validated when the option was read).
void SettingFloats(ViewerOptions const& options, const char* key, int count, float* values) {
    const std::string text = Setting(options, key);
    const char* cursor = text.c_str();
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        values[i] = std::strtof(cursor, &end);
        cursor = end;
    }
}

std::unique_ptr<VolumeData> LoadViewVolume(ViewerOptions const& options) {
    const std::string file = Setting(options, "file");
    const std::string raw = Setting(options, "raw");
    const bool haveDims = !Setting(options, "dims").empty();
    const bool haveType = !Setting(options, "type").empty();
    const bool haveSpacing = !Setting(options, "spacing").empty();
    const bool havePhantomSize = !Setting(options, "phantom-size").empty();
    if (!file.empty() && !raw.empty()) {
        throw InputError("--raw: give either a volume file or --raw FILE, not both");
    }
    if (raw.empty() && (haveDims || haveType || haveSpacing)) {
        throw InputError(std::string(haveDims   ? "--dims"
                                     : haveType ? "--type"
                                                : "--spacing") +
                         ": only applies to --raw FILE");
    }
    if (havePhantomSize && (!file.empty() || !raw.empty())) {
        throw InputError("--phantom-size: only applies when no volume file is given");
    }
    if (!raw.empty()) {
        if (!haveDims) throw InputError("--raw: needs --dims X Y Z");
        if (!haveType) throw InputError("--raw: needs --type (e.g. --type uint16)");
        float dimsFloat[3];
        SettingFloats(options, "dims", 3, dimsFloat);
        const int dims[3] = {int(dimsFloat[0]), int(dimsFloat[1]), int(dimsFloat[2])};
        float spacing[3] = {1.0f, 1.0f, 1.0f};
        if (haveSpacing) SettingFloats(options, "spacing", 3, spacing);
        DataType type{};
        ParseDataTypeName(Setting(options, "type"), &type);
        return LoadRawVolume(raw, dims, type, spacing);
    }
    if (!file.empty()) return LoadStructuredVolume(file);
    int size = 256;
    if (havePhantomSize) ToInt(Setting(options, "phantom-size"), 2, 1000, &size);
    return std::unique_ptr<VolumeData>(CreateHeadPhantom(size));
}

AbstractScene* CreateMIPView(ViewerOptions const& options) {
    std::unique_ptr<VolumeData> volume = LoadViewVolume(options);
    if (volume == nullptr) throw InputError("cannot build the head phantom");
    std::unique_ptr<ViewerMIPScene> scene(new ViewerMIPScene(std::move(volume)));
    if (!Setting(options, "window").empty()) {
        float window[2];
        SettingFloats(options, "window", 2, window);
        scene->SetWidthCenter(window[0], window[1]);
    }
    if (!Setting(options, "crop").empty()) {
        float crop[6];
        SettingFloats(options, "crop", 6, crop);
        int dims[3];
        scene->GetVolumeDimensions(dims);
        for (int a = 0; a < 3; ++a) {
            if (crop[2 * a] < 0.0f || crop[2 * a + 1] > float(dims[a] - 1)) {
                char message[160];
                std::snprintf(message, sizeof(message),
                              "--crop: axis %c bounds %g .. %g lie outside the volume (0 .. %d)",
                              "xyz"[a], double(crop[2 * a]), double(crop[2 * a + 1]), dims[a] - 1);
                throw InputError(message);
            }
        }
        scene->SetCroppingBounds(crop);
    }
    scene->SetEndoscopy(options.endoscopy);
    return scene.release();
}

void PrintWindow(MIPVRScene const& scene) {
    std::printf("kestrel-viewer: window width %g, centre %g\n", double(scene.GetWindowWidth()),
                double(scene.GetWindowCenter()));
    std::fflush(stdout);
}

}  // namespace

std::vector<std::string> ViewNames() {
    return {"mip", "cube"};
}

AbstractScene* CreateView(ViewerOptions const& options, std::string* error) {
    try {
        if (options.view == "mip") return CreateMIPView(options);
        if (options.view == "cube") {
            if (!options.viewSettings.empty()) {
                throw InputError(
                    "--view cube shows no volume: drop the volume options or use "
                    "--view mip");
            }
            Scene* scene = new Scene;
            scene->SetEndoscopy(options.endoscopy);
            return scene;
        }
        throw InputError("unknown view '" + options.view + "'");
    } catch (const InputError& failure) {
        if (error) *error = failure.what();
        return nullptr;
    }
}

int ParseViewOption(std::vector<std::string> const& args, size_t index, ViewerOptions* options,
                    std::string* error) {
    const std::string& option = args[index];
    std::string joined;
    float values[6];
    auto needValue = [&]() {
        if (index + 1 >= args.size() || args[index + 1].rfind("--", 0) == 0) {
            *error = option + ": needs a value (see --help)";
            return false;
        }
        return true;
    };
    if (option == "--raw") {
        if (!needValue()) return -1;
        options->viewSettings["raw"] = args[index + 1];
        return 2;
    }
    if (option == "--type") {
        if (!needValue()) return -1;
        DataType type{};
        if (!ParseDataTypeName(args[index + 1], &type)) {
            *error = "--type: unknown sample type '" + args[index + 1] +
                     "' (int8, uint8, int16, uint16, int32, uint32 or float32)";
            return -1;
        }
        options->viewSettings["type"] = args[index + 1];
        return 2;
    }
    if (option == "--dims") {
        int dims[3];
        for (int i = 0; i < 3; ++i) {
            if (index + 1 + size_t(i) >= args.size() ||
                !ToInt(args[index + 1 + size_t(i)], 1, 0x7fffffff, &dims[i])) {
                *error = "--dims: expected 3 positive integers X Y Z";
                return -1;
            }
        }
        options->viewSettings["dims"] =
            std::to_string(dims[0]) + " " + std::to_string(dims[1]) + " " + std::to_string(dims[2]);
        return 4;
    }
    if (option == "--spacing") {
        if (!TakeFloats(args, index, 3, values, &joined, error)) return -1;
        for (int i = 0; i < 3; ++i) {
            if (values[i] <= 0.0f) {
                *error = "--spacing: spacings must be positive, got '" +
                         args[index + 1 + size_t(i)] + "'";
                return -1;
            }
        }
        options->viewSettings["spacing"] = joined;
        return 4;
    }
    if (option == "--phantom-size") {
        int size = 0;
        if (index + 1 >= args.size() || !ToInt(args[index + 1], 2, 1000, &size)) {
            *error = "--phantom-size: expected an integer from 2 to 1000";
            return -1;
        }
        options->viewSettings["phantom-size"] = args[index + 1];
        return 2;
    }
    if (option == "--window") {
        if (!TakeFloats(args, index, 2, values, &joined, error)) return -1;
        if (values[0] <= 0.0f) {
            *error = "--window: the width must be positive, got '" + args[index + 1] + "'";
            return -1;
        }
        options->viewSettings["window"] = joined;
        return 3;
    }
    if (option == "--crop") {
        if (!TakeFloats(args, index, 6, values, &joined, error)) return -1;
        for (int a = 0; a < 3; ++a) {
            if (values[2 * a] > values[2 * a + 1]) {
                *error = std::string("--crop: the low bound of axis ") + "xyz"[a] +
                         " exceeds its high bound";
                return -1;
            }
        }
        options->viewSettings["crop"] = joined;
        return 7;
    }
    if (!option.empty() && option[0] != '-') {
        if (!Setting(*options, "file").empty()) {
            *error = option + ": more than one volume file given (already '" +
                     Setting(*options, "file") + "')";
            return -1;
        }
        options->viewSettings["file"] = option;
        return 1;
    }
    return 0;
}

std::string ViewOptionsHelp() {
    return "\n"
           "MIP view (--view mip, the default): the built-in head phantom, or\n"
           "  FILE                 a structured volume file (32-byte header + samples)\n"
           "  --raw FILE           raw samples (x fastest, little endian), with\n"
           "  --dims X Y Z         voxel counts, --type T (int8, uint8, int16, uint16,\n"
           "  --spacing SX SY SZ   int32, uint32, float32) and the voxel size (1 1 1)\n"
           "  --phantom-size N     phantom grid N^3 (2 to 1000, default 256)\n"
           "  --window WIDTH CENTRE  grey window (default: the volume's value range)\n"
           "  --crop X0 X1 Y0 Y1 Z0 Z1  cropping box, voxel coordinates\n";
}

std::string ViewKeysHelp() {
    return "MIP view keys:\n"
           "  ] [         widen / narrow the grey window (x 1.25)\n"
           "  + (=) -     raise / lower the window centre (by 5% of the width)\n"
           "  v           window back to the volume's value range\n"
           "  r           reset the camera (initial rotation, zoom and position)\n";
}

bool ViewKey(AbstractScene* scene, ViewerOptions const&, unsigned char key, retStatus& status) {
    ViewerMIPScene* mip = dynamic_cast<ViewerMIPScene*>(scene);
    if (mip == nullptr) return false;
    switch (key) {
        case kWiderWindow:
            mip->SetWindowWidth(mip->GetWindowWidth() * kWidthFactor);
            break;
        case kNarrowerWindow:
            mip->SetWindowWidth(mip->GetWindowWidth() / kWidthFactor);
            break;
        case kCentreUp:
        case kCentreUpUnshifted:
            mip->SetWindowCenter(mip->GetWindowCenter() + kCentreStep * mip->GetWindowWidth());
            break;
        case kCentreDown:
            mip->SetWindowCenter(mip->GetWindowCenter() - kCentreStep * mip->GetWindowWidth());
            break;
        case kResetWindow:
            mip->ResetWindow();
            break;
        case kResetCamera: {
            const float origin[3] = {0.0f, 0.0f, 0.0f};
            mip->SetRotation(Quaternion());
            mip->SetScale(1.0f);
            mip->SetTranslate(origin);
            status.redraw = true;
            return true;
        }
        default:
            return false;
    }
    PrintWindow(*mip);
    status.redraw = true;
    return true;
}
