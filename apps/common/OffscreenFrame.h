// Frames of a volume scene without a window: the camera, the ray set-up and the kernel run exactly
// as in the scene's Render, and the float image is composited over the cleared frame on the CPU
// with the arithmetic of the GL blend.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MIPVRScene.h"
#include "View.h"
#include "VolumeData.h"

class SceneParam;
class VRImage;

// Rotation = elevation about the eye x axis after azimuth about the eye y axis, both from the
// identity, and scale = zoom; the translation stays at zero. Uses SceneParam's MakeReference,
// Rotate and Scale, as a drag in a scene would.
void ApplyViewAngles(SceneParam& camera, const ViewAngles& view);

// The frame as 8-bit RGBA, rows bottom-up as glReadPixels returns them: `background` (alpha 1)
// everywhere, and inside the image rectangle dst = src + (1 - src.a) * dst per channel with the
// source clamped to [0, 1], then quantised as GL does, round(255 * value). A null image or one
// without pixels leaves the background.
std::vector<uint8_t> CompositeOverBackground(const VRImage* image, int width, int height,
                                             const float background[3]);

// A volume scene (MIPVRScene, IsosurfaceVRScene, ...) that can also produce its frames
// off-screen. SetViewportSize is Resize without the GL call. CastFrame does what Render and
// RenderContent do up to the kernel: refit the camera when the extent changed, compute the view
// and projection matrices, set up the rays and the image rectangle, allocate the image and run
// the kernel. Composite then forms the frame that VRImage::Render would leave in an RGBA8 frame
// buffer cleared to the scene's background. Rendering on a GL context stays available through the
// inherited Init, Resize and Render.
template <class VolumeScene>
class OffscreenScene : public VolumeScene, public OffscreenView {
public:
    AbstractScene& GetScene() override { return *this; }

    void SetViewportSize(int width, int height) override {
        this->viewport[0] = width;
        this->viewport[1] = height;
        this->sceneParam.aspect = float(width) / float(height);
    }

    void SetView(const ViewAngles& view) override { ApplyViewAngles(this->sceneParam, view); }

    // Casts the frame into the kernel's image (with the grid's empty-space skipping, or the
    // plain cell walk when `useGrid` is false).
    void CastFrame(bool useGrid = true) override {
        this->UpdateCamera();
        this->CastImage(useGrid);
    }

    std::vector<uint8_t> Composite() override {
        float background[3];
        BackgroundColour(background);
        return CompositeOverBackground(this->GetKernelModule().image, this->viewport[0],
                                       this->viewport[1], background);
    }

protected:
    // The colour RenderContent clears to; black unless the scene has its own.
    virtual void BackgroundColour(float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0.0f; }
};

// The MIP view's frames.
class OffscreenMIPScene : public OffscreenScene<MIPVRScene> {
public:
    std::string Title() const override { return "MIP"; }
    // ", window WIDTH / CENTRE"
    std::string Settings() const override;
};

// A view over a volume scene that can draw off-screen (FrameScene: an OffscreenScene): the
// viewer's scene, whose volume the view keeps alive, and kestrel-render's, which borrows it. Make
// applies the view's own settings.
template <class FrameScene>
class VolumeSceneView : public View {
public:
    bool RendersOffscreen() const override { return true; }

    AbstractScene* CreateViewerScene(std::unique_ptr<VolumeData> volume, const float* crop,
                                     bool endoscopy) override {
        volume_ = std::move(volume);
        std::unique_ptr<FrameScene> scene = Make(volume_.get(), crop);
        scene->SetEndoscopy(endoscopy);
        scene_ = scene.get();
        return scene.release();
    }

    std::unique_ptr<OffscreenView> CreateOffscreen(VolumeData* volume, const float* crop) override {
        return Make(volume, crop);
    }

    CoherentVolume* GetBrickedVolume() override {
        return scene_ != nullptr ? scene_->GetKernelModule().volume : nullptr;
    }

protected:
    // A scene of `volume` (borrowed) with the view's settings and the cropping box `crop` (six
    // voxel coordinates, or null for the whole volume).
    virtual std::unique_ptr<FrameScene> Make(VolumeData* volume, const float* crop) = 0;

    FrameScene* scene_ = nullptr;  // the viewer's scene (owned by the viewer)

private:
    std::unique_ptr<VolumeData> volume_;  // the viewer's volume, outliving its scene
};

// The camera as a new scene places it: initial rotation, zoom 1, no pan.
void ResetCamera(Scene& scene);

// GL's conversion of a colour in [0, 1] to an 8-bit unsigned normalised value.
inline uint8_t QuantiseUnorm8(float value) {
    const float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;  // NaN -> 0
    return uint8_t(clamped * 255.0f + 0.5f);
}
