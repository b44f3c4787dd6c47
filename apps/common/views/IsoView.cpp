// The isosurface view: the surface where the volume equals the isovalue, lit by one directional
// light (or drawn in the illustrative contour style), with keys for the isovalue, light dragging
// and the style.
#include <GL/freeglut.h>

#include <cfloat>
#include <cstdio>

#include "CommandLine.h"
#include "CUDAIsosurfaceVRScene.h"
#include "IsosurfaceVRScene.h"
#include "OffscreenFrame.h"
#include "View.h"
#include "VolumeData.h"
#include "VolumeLoader.h"

namespace {

constexpr unsigned char kLightDrag = 'l';
constexpr unsigned char kIllustrative = 'i';
constexpr unsigned char kResetCamera = 'r';
constexpr double kIsovalueStep = 0.01;  // one arrow key press moves by this part of the range

// The isosurface view's frames, of IsosurfaceVRScene or CUDAIsosurfaceVRScene.
template <class IsoScene>
class OffscreenIsoFrame : public OffscreenScene<IsoScene> {
public:
    std::string Title() const override { return "isosurface" + this->CastBy(); }
    // ", isovalue V" and the style
    std::string Settings() const override {
        return ", isovalue " + cmdline::Number(this->GetIsovalue()) +
               (this->GetIllustrativeShading() ? ", illustrative" : "");
    }

protected:
    void BackgroundColour(float rgb[3]) override {
        this->GetBackGroundColor(rgb[0], rgb[1], rgb[2]);
    }
};

class IsoView : public VolumeSceneView<IsoView, OffscreenIsoFrame<IsosurfaceVRScene>,
                                       OffscreenIsoFrame<CUDAIsosurfaceVRScene>> {
public:
    const char* Name() const override { return "iso"; }
    const char* Summary() const override {
        return "lit isosurface at an isovalue (exact first hit along each ray)";
    }
    void AddOptions(CLI::App& group) override {
        isovalueOption_ =
            group
                .add_option("--isovalue", isovalue_,
                            "surface value (default: the background/tissue threshold of the "
                            "volume's histogram, Otsu's; the middle of the value range when "
                            "the volume has no spread)")
                ->type_name("VALUE")
                ->check(cmdline::Float(-FLT_MAX, FLT_MAX, "the isovalue"));
        group
            .add_option("--surface-colour", surface_, "surface colour, each 0 .. 1 (default white)")
            ->type_name("R G B")
            ->expected(3)
            ->check(cmdline::Float(0.0, 1.0, "a colour channel"));
    }
    bool UsesLighting() const override { return true; }

    bool Key(unsigned char key, retStatus& status) override {
        return WithScene([&](auto& iso) { return SurfaceKey(iso, key, status); });
    }

    bool SpecialKey(int key, retStatus& status) override {
        if (key != GLUT_KEY_UP && key != GLUT_KEY_DOWN) return false;
        const double step = kIsovalueStep * (rangeHigh_ - rangeLow_);
        WithScene([&](auto& iso) {
            iso.SetIsovalue(float(iso.GetIsovalue() + (key == GLUT_KEY_UP ? step : -step)));
            std::printf("kestrel-viewer: isovalue %g\n", double(iso.GetIsovalue()));
        });
        std::fflush(stdout);
        status.redraw = true;
        return true;
    }

    std::string KeysHelp() const override {
        return "Isosurface view keys:\n"
               "  Up Down     raise / lower the isovalue (by 1% of the value range)\n"
               "  l           left drag turns the light / the camera (toggle)\n"
               "  i           illustrative style on / off\n"
               "  r           reset the camera (initial rotation, zoom and position)\n";
    }

    // Applies the view's settings to a new scene of either twin.
    template <class Scene>
    void Configure(Scene& scene, VolumeData* volume, const float* crop) {
        scene.SetData(volume);
        volume->GetMinMaxValue(rangeLow_, rangeHigh_);
        if (isovalueOption_->count() > 0)
            scene.SetIsovalue(isovalue_);
        else if (const DataDefaults* defaults = dataDefaults())
            scene.SetIsovalue(float(defaults->threshold));
        if (surface_.size() == 3) scene.SetSurfaceColor(surface_[0], surface_[1], surface_[2]);
        lighting().ApplyTo(scene);
        if (crop != nullptr) scene.SetCroppingBounds(crop);
    }

private:
    template <class Scene>
    bool SurfaceKey(Scene& iso, unsigned char key, retStatus& status) {
        switch (key) {
            case kLightDrag:
                lightDrag_ = !lightDrag_;
                iso.RotateLightDirection(lightDrag_);
                std::printf("kestrel-viewer: left drag turns the %s\n",
                            lightDrag_ ? "light" : "camera");
                std::fflush(stdout);
                return true;
            case kIllustrative:
                iso.SetIllustrativeShading(!iso.GetIllustrativeShading());
                break;
            case kResetCamera: {
                ResetCamera(iso, StartRotation());
                break;
            }
            default:
                return false;
        }
        status.redraw = true;
        return true;
    }

    float isovalue_ = 0.0f;                    // --isovalue
    CLI::Option* isovalueOption_ = nullptr;    // whether --isovalue was given
    std::vector<float> surface_;               // --surface-colour R G B
    bool lightDrag_ = false;                   // the 'l' toggle
    double rangeLow_ = 0.0, rangeHigh_ = 0.0;  // the volume's value range, for the key step
};

}  // namespace

std::unique_ptr<View> MakeIsoView() {
    return std::unique_ptr<View>(new IsoView);
}
