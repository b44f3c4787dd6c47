// The views of kestrel-viewer and kestrel-render. Everything that belongs to one view lives in
// one class: its name and help, its own options (offered on both tools' command lines), the
// scene it shows in the viewer and the frame it draws off-screen for kestrel-render, and its
// viewer keys. A new view is one file under apps/common/views and one line in ViewList.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DataDefaults.h"
#include "RetStatus.h"

namespace CLI {
class App;
}
class AbstractScene;
class CoherentVolume;
class RGBATransferFunction1D;
class VolumeData;
class VRImage;

// The camera placement of kestrel-render, applied through the scene's camera operations.
struct ViewAngles {
    float azimuthDeg = 0.0f;    // turn about the screen's vertical axis, right-handed
    float elevationDeg = 0.0f;  // then tilt: positive looks down onto the top of the volume
    float zoom = 1.0f;          // camera scale; 2 shows the volume twice as large
    Quaternion start;           // the rotation the angles turn from (DataDefaults::startRotation)
};

// A view's frame for kestrel-render: cast on the CPU and composited as GL would, or drawn
// through GL by the scene itself (Init, Resize and Render on the current context).
class OffscreenView {
public:
    virtual ~OffscreenView() = default;
    virtual AbstractScene& GetScene() = 0;
    // The viewport without a GL call.
    virtual void SetViewportSize(int width, int height) = 0;
    virtual void SetView(const ViewAngles& view) = 0;
    // Casts the frame (with or without the grid's empty-space skipping).
    virtual void CastFrame(bool useGrid) = 0;
    // The cast frame over the cleared background, 8-bit RGBA, rows bottom-up.
    virtual std::vector<uint8_t> Composite() = 0;
    // What was drawn, for the tool's report: "MIP", then e.g. ", window 1 / 0.5".
    virtual std::string Title() const = 0;
    virtual std::string Settings() const = 0;
    // The cast frame's float image (premultiplied RGBA, rows bottom-up, at its window rectangle)
    // and the colour Composite clears to, for hosts that composite on their own (null: none).
    virtual const VRImage* FrameImage() { return nullptr; }
    virtual void ClearColour(float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0.0f; }
};

// Light and background settings shared by the shaded views: one set of options on the command
// line, offered to every view whose UsesLighting() is true.
struct LightingOptions {
    std::vector<float> direction;   // --light-direction X Y Z (empty: the scene's default)
    std::vector<float> background;  // --background R G B (empty: black)
    bool illustrative = false;      // --illustrative

    void Add(CLI::App& group);
    // Throws InputError naming the option for values that cannot be used together.
    void Check() const;
    // Applies the given settings through the scene's SetLightDirection, SetBackGroundColor and
    // SetIllustrativeShading.
    template <class ShadedScene>
    void ApplyTo(ShadedScene& scene) const {
        if (direction.size() == 3)
            scene.SetLightDirection(direction[0], direction[1], direction[2]);
        if (background.size() == 3)
            scene.SetBackGroundColor(background[0], background[1], background[2]);
        scene.SetIllustrativeShading(illustrative);
        // Without a fixed direction the light comes from the camera, whichever way it turns.
        scene.SetHeadlight(direction.size() != 3);
    }
};

class View {
public:
    virtual ~View() = default;
    virtual const char* Name() const = 0;
    // One line for --view in --help.
    virtual const char* Summary() const = 0;
    // False for a view without a volume: the volume options are then refused.
    virtual bool ShowsVolume() const { return true; }
    // True when kestrel-render can draw it (CreateOffscreen returns a frame).
    virtual bool RendersOffscreen() const { return false; }
    // True when the view has a twin on the GPU kernel library KestrelCUDA (--gpu).
    virtual bool HasGpuTwin() const { return false; }
    // From --gpu, before any scene is made: the view's scenes are then its GPU twin's.
    void UseGpu(bool on) { gpu_ = on; }

    // Adds the view's own options to `group`, under the view's heading in --help; their values
    // land in this object. Option names must differ from every other view's.
    virtual void AddOptions(CLI::App& group) { (void)group; }
    // True for a view that takes the shared light and background options (lighting()).
    virtual bool UsesLighting() const { return false; }
    void SetLighting(const LightingOptions* options) { lighting_ = options; }
    // Defaults derived from the volume (borrowed; outlives the scenes), set by the tool before a
    // scene is made. Null: the scenes keep the library's own defaults and camera.
    void SetDataDefaults(const DataDefaults* defaults) { dataDefaults_ = defaults; }
    // Checks the parsed values against each other; throws InputError naming the option.
    virtual void CheckOptions() {}

    // The viewer's scene, owning `volume` (null when !ShowsVolume()). Called before the GL
    // context exists. Throws InputError for data the view cannot show.
    // `crop` is the cropping box (six voxel coordinates) or null for the whole volume.
    virtual AbstractScene* CreateViewerScene(std::unique_ptr<VolumeData> volume, const float* crop,
                                             bool endoscopy) = 0;
    // The bricked volume the viewer scene renders, which the endoscopy slice beside it cuts
    // (borrowed from the scene); null for a view without one, which then has no slice companion.
    virtual CoherentVolume* GetBrickedVolume() { return nullptr; }
    // A key pressed in the viewer after the scene's own handler: true when the view used it
    // (the viewer then skips its own binding); sets status.redraw when the picture changed.
    virtual bool Key(unsigned char key, retStatus& status) {
        (void)key;
        (void)status;
        return false;
    }
    // A special key (GLUT_KEY_UP, ...) pressed in the viewer after the scene's own handler; as
    // Key.
    virtual bool SpecialKey(int key, retStatus& status) {
        (void)key;
        (void)status;
        return false;
    }
    // The transfer function the viewer's editor panel edits (null: the view has none). The
    // scene reads it every frame, so an edit shows at the next redraw.
    virtual RGBATransferFunction1D* EditableTransferFunction() { return nullptr; }
    // Help lines of those keys (empty: none).
    virtual std::string KeysHelp() const { return ""; }

    // kestrel-render's frame of `volume` (borrowed; outlives the frame), `crop` as above.
    virtual std::unique_ptr<OffscreenView> CreateOffscreen(VolumeData* volume, const float* crop) {
        (void)volume;
        (void)crop;
        return nullptr;
    }

protected:
    // The parsed light and background options (set before CheckOptions for views that use them).
    const LightingOptions& lighting() const { return *lighting_; }
    // The derived defaults when they apply (set and usable), else null.
    const DataDefaults* dataDefaults() const {
        return dataDefaults_ != nullptr && dataDefaults_->usable ? dataDefaults_ : nullptr;
    }
    // The camera rotation a new scene and the 'r' key start from.
    Quaternion StartRotation() const {
        return dataDefaults_ != nullptr ? dataDefaults_->startRotation : Quaternion();
    }
    bool gpu_ = false;  // make the GPU twin's scenes (UseGpu)

private:
    const LightingOptions* lighting_ = nullptr;
    const DataDefaults* dataDefaults_ = nullptr;
};

// Every registered view, in ViewList.h order (the first is the default), made afresh.
std::vector<std::unique_ptr<View>> MakeViews();

// The views of one tool with their options on its command line, and the one --view picked.
class ViewChoice {
public:
    // Adds --view and every view's option group to `app`; `offscreenOnly` keeps the views
    // kestrel-render can draw.
    ViewChoice(CLI::App& app, bool offscreenOnly);
    // After parsing: the chosen view checks its options; options of other views are refused,
    // and so is --gpu for a view without a GPU twin.
    View& Check();
    View& Chosen() const { return *chosen_; }
    // --gpu: the view casts on the GPU kernel library.
    bool Gpu() const { return gpu_; }
    // "mip, cube"
    std::string Names() const;
    std::string KeysHelp() const;

private:
    CLI::App& app_;
    std::vector<std::unique_ptr<View>> views_;
    std::vector<CLI::App*> groups_;
    LightingOptions lighting_;
    CLI::App* lightingGroup_ = nullptr;  // null when no view uses lighting
    std::string lightingViews_;          // "iso, full"

    std::string name_;
    View* chosen_ = nullptr;
    bool gpu_ = false;
};
