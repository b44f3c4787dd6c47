// The maximum-intensity projection view: a grey window over the volume's value range, with keys
// that widen, narrow and move the window.
#include <cfloat>
#include <cstdio>

#include "CommandLine.h"
#include "OffscreenFrame.h"
#include "View.h"
#include "VolumeData.h"

namespace {

constexpr unsigned char kWiderWindow = ']';
constexpr unsigned char kNarrowerWindow = '[';
constexpr unsigned char kCentreUp = '+';
constexpr unsigned char kCentreUpUnshifted = '=';  // the '+' key without shift
constexpr unsigned char kCentreDown = '-';
constexpr unsigned char kResetWindow = 'v';
constexpr unsigned char kResetCamera = 'r';
constexpr float kWidthFactor = 1.25f;  // one key press widens or narrows by this factor
constexpr float kCentreStep = 0.05f;   // one key press moves the centre by this part of the width

class MIPView
    : public VolumeSceneView<MIPView, OffscreenMIPScene, OffscreenMIPFrame<CUDAMIPVRScene>> {
public:
    const char* Name() const override { return "mip"; }
    const char* Summary() const override {
        return "maximum-intensity projection through a grey window";
    }
    void AddOptions(CLI::App& group) override {
        group
            .add_option("--window", window_,
                        "grey window: grey = (value - CENTRE) / WIDTH + 0.5 (default: from the "
                        "0.5th to the 99.5th percentile of the voxels above the background; "
                        "the value range when they have no spread)")
            ->type_name("WIDTH CENTRE")
            ->expected(2)
            ->check(cmdline::Float(FLT_MIN, FLT_MAX, "the width").application_index(0))
            ->check(cmdline::Float(-FLT_MAX, FLT_MAX, "the centre").application_index(1));
    }

    bool Key(unsigned char key, retStatus& status) override {
        return WithScene([&](auto& mip) { return WindowKey(mip, key, status); });
    }

    // Applies the view's settings to a new scene of either twin.
    template <class Scene>
    void Configure(Scene& scene, VolumeData* volume, const float* crop) {
        scene.SetData(volume);
        if (const DataDefaults* defaults = dataDefaults()) {
            float width = 0.0f, centre = 0.0f;
            DefaultWindow(*defaults, &width, &centre);
            scene.SetWidthCenter(width, centre);
        }
        rangeWidth_ = scene.GetWindowWidth();
        rangeCenter_ = scene.GetWindowCenter();
        if (window_.size() == 2) scene.SetWidthCenter(window_[0], window_[1]);
        if (crop != nullptr) scene.SetCroppingBounds(crop);
    }

    std::string KeysHelp() const override {
        return "MIP view keys:\n"
               "  ] [         widen / narrow the grey window (x 1.25)\n"
               "  + (=) -     raise / lower the window centre (by 5% of the width)\n"
               "  v           window back to its default (from the data)\n"
               "  r           reset the camera (initial rotation, zoom and position)\n";
    }

private:
    template <class Scene>
    bool WindowKey(Scene& mip, unsigned char key, retStatus& status) {
        switch (key) {
            case kWiderWindow:
                mip.SetWindowWidth(mip.GetWindowWidth() * kWidthFactor);
                break;
            case kNarrowerWindow:
                mip.SetWindowWidth(mip.GetWindowWidth() / kWidthFactor);
                break;
            case kCentreUp:
            case kCentreUpUnshifted:
                mip.SetWindowCenter(mip.GetWindowCenter() + kCentreStep * mip.GetWindowWidth());
                break;
            case kCentreDown:
                mip.SetWindowCenter(mip.GetWindowCenter() - kCentreStep * mip.GetWindowWidth());
                break;
            case kResetWindow:
                mip.SetWidthCenter(rangeWidth_, rangeCenter_);
                break;
            case kResetCamera: {
                ResetCamera(mip, StartRotation());
                status.redraw = true;
                return true;
            }
            default:
                return false;
        }
        std::printf("kestrel-viewer: window width %g, centre %g\n", double(mip.GetWindowWidth()),
                    double(mip.GetWindowCenter()));
        std::fflush(stdout);
        status.redraw = true;
        return true;
    }

    std::vector<float> window_;  // --window WIDTH CENTRE
    float rangeWidth_ = 0.0f;    // the default window, for 'v'
    float rangeCenter_ = 0.0f;
};

}  // namespace

std::unique_ptr<View> MakeMIPView() {
    return std::unique_ptr<View>(new MIPView);
}
