// Frames of a volume scene without a window: the camera, the ray set-up and the kernel run exactly
// as in the scene's Render, and the float image is composited over the cleared frame on the CPU
// with the arithmetic of the GL blend.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "CUDAInit.h"
#include "CUDAMIPVRScene.h"
#include "CUDAVRImage.h"
#include "MIPVRScene.h"
#include "View.h"
#include "VolumeData.h"

class SceneParam;
class VRImage;

// Rotation = elevation about the eye x axis after azimuth about the eye y axis, both from
// view.start, and scale = zoom; the translation stays at zero. Uses SceneParam's MakeReference,
// Rotate and Scale, as a drag in a scene would.
void ApplyViewAngles(SceneParam& camera, const ViewAngles& view);

// The frame as 8-bit RGBA, rows bottom-up as glReadPixels returns them: `background` (alpha 1)
// everywhere, and inside the image rectangle dst = src + (1 - src.a) * dst per channel with the
// source clamped to [0, 1], then quantised as GL does, round(255 * value). A null image or one
// without pixels leaves the background.
std::vector<uint8_t> CompositeOverBackground(const VRImage* image, int width, int height,
                                             const float background[3]);

// The float image a scene's image draws: a CPU scene's VRImage, or the host pixels of a GPU
// scene's CUDAVRImage.
inline const VRImage* DrawnImage(const VRImage* image) {
    return image;
}
inline const VRImage* DrawnImage(const CUDAVRImage* image) {
    return image != nullptr ? image->hostImage : nullptr;
}

// A volume scene (MIPVRScene, IsosurfaceVRScene, their GPU twins, ...) that can also produce its
// frames off-screen. SetViewportSize is Resize without the GL call. CastFrame does what Render and
// RenderContent do up to the kernel: refit the camera when the extent changed, compute the view
// and projection matrices, set up the rays and the image rectangle, allocate the image and run
// the kernel. Composite then forms the frame that VRImage::Render would leave in an RGBA8 frame
// buffer cleared to the scene's background. Rendering on a GL context stays available through the
// inherited Init, Resize and Render. A GPU twin casts on the GPU library's active back end (the
// host starts the library with CUDAInit; the first Render does it too) and always with the grid.
template <class VolumeScene>
class OffscreenScene : public VolumeScene, public OffscreenView {
public:
    static constexpr bool kOnGpu =
        std::is_same_v<decltype(std::declval<VolumeScene&>().GetKernelModule().image),
                       CUDAVRImage*>;

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
        if constexpr (kOnGpu)
            this->CastImage();
        else
            this->CastImage(useGrid);
    }

    std::vector<uint8_t> Composite() override {
        float background[3];
        BackgroundColour(background);
        return CompositeOverBackground(DrawnImage(this->GetKernelModule().image), this->viewport[0],
                                       this->viewport[1], background);
    }

    const VRImage* FrameImage() override { return DrawnImage(this->GetKernelModule().image); }
    void ClearColour(float rgb[3]) override { BackgroundColour(rgb); }

protected:
    // What casts the frames, for Title: nothing for the CPU scenes, the GPU library's back end
    // for a GPU twin.
    static std::string CastBy() {
        if constexpr (kOnGpu)
            return std::string(" (KestrelCUDA, ") + CUDAActiveBackEnd() + " back end)";
        else
            return "";
    }

    // The colour RenderContent clears to; black unless the scene has its own.
    virtual void BackgroundColour(float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0.0f; }
};

// The MIP view's frames, of MIPVRScene or CUDAMIPVRScene.
template <class MIPScene>
class OffscreenMIPFrame : public OffscreenScene<MIPScene> {
public:
    std::string Title() const override { return "MIP" + this->CastBy(); }
    // ", window WIDTH / CENTRE"
    std::string Settings() const override {
        char text[80];
        std::snprintf(text, sizeof(text), ", window %g / %g", double(this->GetWindowWidth()),
                      double(this->GetWindowCenter()));
        return text;
    }
};
using OffscreenMIPScene = OffscreenMIPFrame<MIPVRScene>;

// A view over a volume scene that can draw off-screen, and over its GPU twin if it has one
// (CpuFrame, GpuFrame: OffscreenScenes, GpuFrame void for none; --gpu picks the twin): the
// viewer's scene, whose volume the view keeps alive, and kestrel-render's, which borrows it. The
// view (Derived) applies its own settings to either scene in a member template
// Configure(scene, volume, crop), `crop` being six voxel coordinates or null for the whole volume.
template <class Derived, class CpuFrame, class GpuFrame = void>
class VolumeSceneView : public View {
public:
    bool RendersOffscreen() const override { return true; }
    bool HasGpuTwin() const override { return !std::is_void_v<GpuFrame>; }

    AbstractScene* CreateViewerScene(std::unique_ptr<VolumeData> volume, const float* crop,
                                     bool endoscopy) override {
        volume_ = std::move(volume);
        if constexpr (!std::is_void_v<GpuFrame>) {
            if (gpu_) return Keep(Make<GpuFrame>(volume_.get(), crop), endoscopy, gpuScene_);
        }
        return Keep(Make<CpuFrame>(volume_.get(), crop), endoscopy, scene_);
    }

    std::unique_ptr<OffscreenView> CreateOffscreen(VolumeData* volume, const float* crop) override {
        if constexpr (!std::is_void_v<GpuFrame>) {
            if (gpu_) return Make<GpuFrame>(volume, crop);
        }
        return Make<CpuFrame>(volume, crop);
    }

    // The CPU scene's bricked volume; the GPU twin keeps none, so it has no slice companion.
    CoherentVolume* GetBrickedVolume() override {
        return scene_ != nullptr ? scene_->GetKernelModule().volume : nullptr;
    }

protected:
    // Whether the viewer's scene (of either twin) has been made.
    bool HasViewerScene() const { return scene_ != nullptr || gpuScene_ != nullptr; }
    // act(scene) on the viewer's scene, whichever twin it is.
    template <class Act>
    auto WithScene(Act&& act) {
        if constexpr (!std::is_void_v<GpuFrame>) {
            if (gpuScene_ != nullptr) return act(*gpuScene_);
        }
        return act(*scene_);
    }

    CpuFrame* scene_ = nullptr;  // the viewer's CPU scene (owned by the viewer), or null

private:
    template <class Frame>
    std::unique_ptr<Frame> Make(VolumeData* volume, const float* crop) {
        std::unique_ptr<Frame> scene(new Frame);
        static_cast<Derived*>(this)->Configure(*scene, volume, crop);
        scene->SetRotation(StartRotation());
        return scene;
    }
    template <class Frame>
    static AbstractScene* Keep(std::unique_ptr<Frame> scene, bool endoscopy, Frame*& kept) {
        scene->SetEndoscopy(endoscopy);
        kept = scene.get();
        return scene.release();
    }

    GpuFrame* gpuScene_ = nullptr;        // the viewer's GPU twin with --gpu, or null
    std::unique_ptr<VolumeData> volume_;  // the viewer's volume, outliving its scene
};

// The camera as a new scene places it: rotation `start`, zoom 1, no pan.
void ResetCamera(Scene& scene, const Quaternion& start = Quaternion());

// GL's conversion of a colour in [0, 1] to an 8-bit unsigned normalised value.
inline uint8_t QuantiseUnorm8(float value) {
    const float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;  // NaN -> 0
    return uint8_t(clamped * 255.0f + 0.5f);
}
