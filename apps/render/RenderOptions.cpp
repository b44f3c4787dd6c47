// Option parsing of kestrel-render: every value is checked, every mistake named.
#include "RenderOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "VolumeLoader.h"

namespace {

constexpr int kMaxImageSide = 16384;
constexpr int kMaxFrames = 100000;

class Arguments {
public:
    Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}
    bool Done() const { return next_ >= argc_; }
    std::string Next() { return argv_[next_++]; }
    // The value `index` of `count` after option `name`.
    std::string Value(const std::string& name, int count, const char* what) {
        // Another option where a value belongs means the values ran out.
        const bool missing = next_ >= argc_ || std::string(argv_[next_]).rfind("--", 0) == 0 ||
                             std::string(argv_[next_]) == "-o";
        if (missing) {
            throw InputError(name + ": expected " + std::to_string(count) + " value" +
                             (count > 1 ? "s" : "") + " (" + what + ")");
        }
        return argv_[next_++];
    }

private:
    int argc_;
    char** argv_;
    int next_ = 1;
};

int ParseInt(const std::string& option, const std::string& text, int low, int high) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0) {
        throw InputError(option + ": '" + text + "' is not an integer");
    }
    if (value < low || value > high) {
        throw InputError(option + ": " + text + " is out of range (" + std::to_string(low) +
                         " to " + std::to_string(high) + ")");
    }
    return int(value);
}

float ParseFloat(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value)) {
        throw InputError(option + ": '" + text + "' is not a finite number");
    }
    return value;
}

std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", double(value));
    return text;
}

void ParseSize(const std::string& text, int* width, int* height) {
    const size_t x = text.find('x');
    try {
        if (x == std::string::npos) throw InputError("");
        *width = ParseInt("--size", text.substr(0, x), 1, kMaxImageSide);
        *height = ParseInt("--size", text.substr(x + 1), 1, kMaxImageSide);
    } catch (const InputError&) {
        throw InputError("--size: expected WIDTHxHEIGHT with sides 1 to " +
                         std::to_string(kMaxImageSide) + " (e.g. 512x512), got '" + text + "'");
    }
}

}  // namespace

RenderOptions ParseRenderOptions(int argc, char** argv) {
    RenderOptions options;
    Arguments args(argc, argv);
    while (!args.Done()) {
        const std::string arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--view") {
            const std::string view = args.Value(arg, 1, "mip");
            if (view != "mip") throw InputError("--view: unknown view '" + view + "' (known: mip)");
        } else if (arg == "--raw") {
            options.rawPath = args.Value(arg, 1, "a raw sample file");
        } else if (arg == "--dims") {
            for (int a = 0; a < 3; ++a) {
                options.rawDims[a] = ParseInt(arg, args.Value(arg, 3, "X Y Z"), 1, 0x7fffffff);
            }
            options.haveDims = true;
        } else if (arg == "--type") {
            const std::string name =
                args.Value(arg, 1, "int8, uint8, int16, uint16, int32, uint32 or float32");
            if (!ParseDataTypeName(name, &options.rawType)) {
                throw InputError("--type: unknown sample type '" + name +
                                 "' (int8, uint8, int16, uint16, int32, uint32 or float32)");
            }
            options.haveType = true;
        } else if (arg == "--spacing") {
            for (int a = 0; a < 3; ++a) {
                options.spacing[a] = ParseFloat(arg, args.Value(arg, 3, "SX SY SZ"));
                if (options.spacing[a] <= 0.0f) {
                    throw InputError("--spacing: spacings must be positive, got " +
                                     Number(options.spacing[a]));
                }
            }
            options.haveSpacing = true;
        } else if (arg == "--phantom-size") {
            options.phantomSize = ParseInt(arg, args.Value(arg, 1, "N"), 2, 1000);
            options.havePhantomSize = true;
        } else if (arg == "--size") {
            ParseSize(args.Value(arg, 1, "WIDTHxHEIGHT"), &options.width, &options.height);
        } else if (arg == "--azimuth") {
            options.view.azimuthDeg = ParseFloat(arg, args.Value(arg, 1, "degrees"));
        } else if (arg == "--elevation") {
            options.view.elevationDeg = ParseFloat(arg, args.Value(arg, 1, "degrees"));
        } else if (arg == "--zoom") {
            options.view.zoom = ParseFloat(arg, args.Value(arg, 1, "a factor"));
            if (options.view.zoom <= 0.0f) {
                throw InputError("--zoom: the factor must be positive, got " +
                                 Number(options.view.zoom));
            }
        } else if (arg == "--window") {
            options.windowWidth = ParseFloat(arg, args.Value(arg, 2, "WIDTH CENTRE"));
            options.windowCenter = ParseFloat(arg, args.Value(arg, 2, "WIDTH CENTRE"));
            if (options.windowWidth <= 0.0f) {
                throw InputError("--window: the width must be positive, got " +
                                 Number(options.windowWidth));
            }
            options.haveWindow = true;
        } else if (arg == "--crop") {
            for (int i = 0; i < 6; ++i) {
                options.crop[i] = ParseFloat(arg, args.Value(arg, 6, "X0 X1 Y0 Y1 Z0 Z1"));
            }
            for (int a = 0; a < 3; ++a) {
                if (options.crop[2 * a] > options.crop[2 * a + 1]) {
                    throw InputError("--crop: the low bound of axis " + std::string(1, "xyz"[a]) +
                                     " exceeds its high bound");
                }
            }
            options.haveCrop = true;
        } else if (arg == "--frames") {
            options.frames = ParseInt(arg, args.Value(arg, 1, "N"), 1, kMaxFrames);
        } else if (arg == "--output" || arg == "-o") {
            options.outputPath = args.Value(arg, 1, "a PNG file");
            if (options.outputPath.empty()) throw InputError(arg + ": empty file name");
        } else if (arg == "--gl") {
            options.useGL = true;
        } else if (arg == "--no-grid") {
            options.useGrid = false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw InputError(arg + ": unknown option (see --help)");
        } else if (options.volumePath.empty()) {
            options.volumePath = arg;
        } else {
            throw InputError(arg + ": more than one volume file given (already '" +
                             options.volumePath + "')");
        }
    }
    if (options.help) return options;

    const bool raw = !options.rawPath.empty();
    if (raw && !options.volumePath.empty()) {
        throw InputError("--raw: give either a volume file or --raw FILE, not both");
    }
    if (raw && !options.haveDims) throw InputError("--raw: needs --dims X Y Z");
    if (raw && !options.haveType) throw InputError("--raw: needs --type (e.g. --type uint16)");
    if (!raw && options.haveDims) throw InputError("--dims: only applies to --raw FILE");
    if (!raw && options.haveType) throw InputError("--type: only applies to --raw FILE");
    if (!raw && options.haveSpacing) throw InputError("--spacing: only applies to --raw FILE");
    if (options.havePhantomSize && (raw || !options.volumePath.empty())) {
        throw InputError("--phantom-size: only applies when no volume file is given");
    }
    return options;
}

std::string RenderUsage() {
    return R"(Usage: kestrel-render [options] [VOLUME]

Renders a maximum-intensity projection of a volume to a PNG file, without a display.

Volume (default: the built-in head phantom):
  VOLUME                    structured volume file (32-byte header, then the samples)
  --raw FILE                raw samples, x fastest, little endian, no header; needs:
  --dims X Y Z                voxel counts
  --type T                    int8, uint8, int16, uint16, int32, uint32 or float32
  --spacing SX SY SZ          voxel size (default 1 1 1)
  --phantom-size N          grid of the built-in phantom, N^3, N from 2 to 1000 (default 256)

View:
  --view NAME               the view to render: mip (maximum-intensity projection, the
                            default and for now the only one)
  --size WxH                image size in pixels (default 512x512)
  --azimuth DEG             turn about the vertical screen axis (default 0: front view)
  --elevation DEG           then tilt; positive looks down onto the top (default 0)
  --zoom F                  magnification (default 1: the volume's bounding sphere fills
                            the image height)
  --window WIDTH CENTRE     grey window (default: the volume's value range)
  --crop X0 X1 Y0 Y1 Z0 Z1  cropping box in voxel coordinates (default: the whole volume)

Run:
  --output FILE, -o FILE    PNG to write (default kestrel-mip.png); written completely or
                            not at all
  --frames N                render N frames around the vertical axis, starting at the
                            view above, and print the median and minimum time per frame
  --no-grid                 use the kernel without empty-space skipping
  --gl                      draw through an off-screen OpenGL context (needs $DISPLAY)
                            instead of compositing the frame on the CPU
  --help, -h                this text

Exit status: 0 on success, 2 for a bad file or option (one line on stderr), 1 otherwise.
)";
}
