// The full volume-rendering view: emission and absorption through an editable transfer function,
// with optional shading, pre-integration and (on the CPU) a per-pixel ray start offset, and keys
// for the shading, the pre-integration and the light drag.
#include <cfloat>
#include <cstdio>
#include <memory>
#include <type_traits>

#include "CUDAFullVRScene.h"
#include "CommandLine.h"
#include "FullVRScene.h"
#include "OffscreenFrame.h"
#include "RGBATransferFunction1D.h"
#include "TransferFunctionFile.h"
#include "View.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

constexpr unsigned char kShading = 'h';
constexpr unsigned char kLightDrag = 'l';
constexpr unsigned char kResetCamera = 'r';
constexpr unsigned char kPreintegration = 'i';

// The scene (FullVRScene or CUDAFullVRScene) with the transfer function it shows, which lives as
// long as the scene.
template <class FullScene>
class OffscreenFullFrame : public OffscreenScene<FullScene> {
public:
    std::unique_ptr<RGBATransferFunction1D> function;
    std::string functionName;  // preset name, file name or "ramp"

    std::string Title() const override { return "full volume rendering" + this->CastBy(); }
    // ", transfer function NAME, shading on, sample distance D[, pre-integrated]"
    std::string Settings() const override {
        std::string text = ", transfer function " + functionName + ", shading " +
                           (this->GetShade() ? "on" : "off") + ", sample distance " +
                           cmdline::Number(this->GetKernelModule().sampleDistance);
        if (this->GetPreintegration()) text += ", pre-integrated";
        if (!this->GetJitter()) text += ", no jitter";
        return text;
    }

protected:
    void BackgroundColour(float rgb[3]) override {
        this->GetBackGroundColor(rgb[0], rgb[1], rgb[2]);
    }
};

// The transfer function when none is named: a grey ramp over the volume's value range, from
// transparent at the minimum to white at opacity 0.5 at the maximum.
void MakeRamp(RGBATransferFunction1D& function, double low, double high) {
    if (!(high > low)) high = low + 1.0;
    function.SetMinPos(float(low));
    function.SetMaxPos(float(high));
    function.SetSampleNumber(256);
    function.AddPoint(float(low), Vector4(0.0f, 0.0f, 0.0f, 0.0f));
    function.AddPoint(float(high), Vector4(1.0f, 1.0f, 1.0f, 0.5f));
}

class FullView : public VolumeSceneView<FullView, OffscreenFullFrame<FullVRScene>,
                                        OffscreenFullFrame<CUDAFullVRScene>> {
public:
    const char* Name() const override { return "full"; }
    const char* Summary() const override {
        return "emission-absorption volume rendering through a transfer function";
    }
    bool UsesLighting() const override { return true; }

    void AddOptions(CLI::App& group) override {
        std::string presets;
        for (const std::string& name : TransferFunctionPresetNames())
            presets += (presets.empty() ? "" : ", ") + name;
        group
            .add_option(
                "--tf", function_,
                "transfer function: a file (see the README's format) or a preset: " + presets +
                    " (default: from the volume's histogram, the outer surface faint "
                    "and the tissue behind it; a grey ramp over the value range when "
                    "the volume has no spread)")
            ->type_name("FILE|PRESET")
            ->check(cmdline::Value("transfer function"));
        group.add_flag("--no-shading", noShading_, "classified colours without lighting");
        sampleDistanceOption_ =
            group
                .add_option("--sample-distance", sampleDistance_,
                            "step between samples along a ray, physical units (default: one "
                            "ninth of a voxel's diagonal)")
                ->type_name("D")
                ->check(cmdline::Float(1e-6, 1e6, "the sample distance"));
        group.add_flag("--preintegration", preintegration_,
                       "composite the segments between samples through a pre-integrated table of "
                       "the transfer function (no wood grain on steep opacity ramps, more "
                       "accurate at large sample distances)");
        group.add_flag("--no-jitter", noJitter_,
                       "start every ray's samples at its entry into the volume instead of at a "
                       "per-pixel offset (which turns banding into fine noise)");
    }

    // The function is read here, so that a bad file fails before any volume is loaded.
    void CheckOptions() override {
        if (function_.empty()) return;
        RGBATransferFunction1D probe;
        if (!LoadTransferFunctionPreset(function_, probe))
            LoadTransferFunctionFile(function_, probe);
    }

    bool Key(unsigned char key, retStatus& status) override {
        return WithScene([&](auto& full) { return FullKey(full, key, status); });
    }

    std::string KeysHelp() const override {
        return "Full view keys:\n"
               "  h           shading on / off\n"
               "  l           left drag turns the light / the camera (toggle)\n"
               "  r           reset the camera (initial rotation, zoom and position)\n"
               "  i           pre-integration on / off\n"
               "  the transfer-function editor: click adds a point, drag moves it, right click\n"
               "  deletes it; colour, presets, save and load in its panel\n";
    }

    RGBATransferFunction1D* EditableTransferFunction() override {
        if (!HasViewerScene()) return nullptr;
        return WithScene([](auto& full) { return full.function.get(); });
    }

    // Applies the view's settings to a new scene of either twin.
    template <class Scene>
    void Configure(Scene& scene, VolumeData* volume, const float* crop) {
        scene.function.reset(new RGBATransferFunction1D);
        if (function_.empty() && dataDefaults() != nullptr) {
            MakeDefaultTransferFunction(*dataDefaults(), *scene.function);
            scene.functionName = "from the data";
        } else if (function_.empty()) {
            double low = 0.0, high = 0.0;
            volume->GetMinMaxValue(low, high);
            MakeRamp(*scene.function, low, high);
            scene.functionName = "ramp";
        } else {
            if (!LoadTransferFunctionPreset(function_, *scene.function, dataDefaults()))
                LoadTransferFunctionFile(function_, *scene.function);
            scene.functionName = function_;
        }
        scene.SetData(volume);
        scene.SetTransferFunction(scene.function.get());
        scene.SetShade(!noShading_);
        if (sampleDistanceOption_->count() > 0)
            scene.GetKernelModule().sampleDistance =
                LimitSampleDistance(sampleDistance_, *volume, "--sample-distance");
        lighting().ApplyTo(scene);
        if (crop != nullptr) scene.SetCroppingBounds(crop);
        scene.SetPreintegration(preintegration_);
        scene.SetJitter(!noJitter_);
    }

private:
    template <class Scene>
    bool FullKey(Scene& full, unsigned char key, retStatus& status) {
        switch (key) {
            case kShading:
                full.SetShade(!full.GetShade());
                std::printf("kestrel-viewer: shading %s\n", full.GetShade() ? "on" : "off");
                std::fflush(stdout);
                break;
            case kLightDrag:
                lightDrag_ = !lightDrag_;
                full.RotateLightDirection(lightDrag_);
                std::printf("kestrel-viewer: left drag turns the %s\n",
                            lightDrag_ ? "light" : "camera");
                std::fflush(stdout);
                return true;
            case kResetCamera:
                ResetCamera(full, StartRotation());
                break;
            case kPreintegration:
                full.SetPreintegration(!full.GetPreintegration());
                std::printf("kestrel-viewer: pre-integration %s\n",
                            full.GetPreintegration() ? "on" : "off");
                std::fflush(stdout);
                break;
            default:
                return false;
        }
        status.redraw = true;
        return true;
    }

    std::string function_;         // --tf
    bool noShading_ = false;       // --no-shading
    float sampleDistance_ = 0.0f;  // --sample-distance
    CLI::Option* sampleDistanceOption_ = nullptr;
    bool preintegration_ = false;  // --preintegration
    bool noJitter_ = false;        // --no-jitter
    bool lightDrag_ = false;       // the 'l' toggle
};

}  // namespace

std::unique_ptr<View> MakeFullView() {
    return std::unique_ptr<View>(new FullView);
}
