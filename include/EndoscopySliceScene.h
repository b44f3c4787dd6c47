// Companion view of an endoscopic fly-through: a grey cut through the volume at the camera of
// another view, with that camera's field of view drawn over it, steered from the cut.
#pragma once

#include "AbstractScene.h"
#include "EndoscopySliceRendering.h"
#include "KestrelExport.h"

class CoherentVolume;
class SceneParam;
class VRImage;

// Shows the horizontal cut (camera's right axis and viewing direction; the camera at the middle
// of the bottom edge, looking up the window) or the vertical cut (viewing direction and up axis;
// the camera at the middle of the left edge, looking right) through the borrowed volume, one
// slice pixel being gridSpacing model (physical) units, and draws the two edges of the camera's
// field of view in yellow from the camera's place on screen.
//
// Interaction (event coordinates, y down; the pointer is parked at the window centre
// (cx, cy) = (int(width / 2), int(height / 2)) by every press and every step of a move or turn):
//   left drag    moves the camera within the cut by one slice pixel per pixel of pointer offset
//                from the centre (the volume under the pointer follows the drag);
//   right drag   turns it about the eye, rotateRadPerPixel radians per pixel of offset (the
//                horizontal offset in the horizontal cut, the vertical one in the vertical cut);
//   middle drag  scales the grey window relative to the press: a drag across the whole width to
//                the right doubles its width, one over the whole height upward its centre;
//   wheel        gridSpacing *= exp(delta / 1000): a positive delta shows more of the volume.
// Presses and releases never ask for a redraw; moves that change something and the wheel do.
//
// Ownership: the camera (SetSceneParam, typically Scene::GetSceneParameters of the view this one
// accompanies) and the volume belong to the host and are shared with that view, so that both
// show and steer one camera; the host redraws both when either reports `redraw`. The scene owns
// the VRImage its constructor allocates and deletes it, even if the host re-points the kernel's
// image. Copying is forbidden: a member-wise copy would delete that image twice.
//
// Init is empty: GLEW must already be initialised in the context (for example by the Init of the
// scene whose camera this view shares). Without a camera or a volume a frame is black and the
// move and turn drags do nothing; the window drag and the wheel still work. SetVolume(nullptr)
// is ignored. GL thread only; not thread-safe.
class KESTREL_SCENE_API EndoscopySliceScene : public AbstractScene {
public:
    EndoscopySliceScene();
    ~EndoscopySliceScene() override;
    EndoscopySliceScene(EndoscopySliceScene const&) = delete;
    EndoscopySliceScene& operator=(EndoscopySliceScene const&) = delete;

    /// Clears to black, draws the cut over the whole window and the field-of-view lines.
    void Render() override;
    /// Stores the size, sets the attached camera's aspect (the shared camera follows the view
    /// resized last) and the GL viewport.
    void Resize(int width, int height) override;
    void LButtonDown(int x, int y, retStatus& status) override;
    void LButtonUp(int x, int y, retStatus& status) override;
    void MButtonDown(int x, int y, retStatus& status) override;
    void MButtonUp(int x, int y, retStatus& status) override;
    void RButtonDown(int x, int y, retStatus& status) override;
    void RButtonUp(int x, int y, retStatus& status) override;
    void Wheel(int delta, retStatus& status) override;
    void MouseMove(int x, int y, retStatus& status) override;

    /// The kernel's volume; sliceBounds = (0, dimX - 1, 0, dimY - 1, 0, dimZ - 1) and gridSpacing
    /// = the mean voxel spacing. Ignored for null.
    void SetVolume(CoherentVolume* volume);
    /// sliceBounds and gridSpacing as SetVolume sets them, from three dimensions and three
    /// spacings; the kernel's volume pointer is not changed. Ignored when either is null.
    void SetVolumeInfo(int* const dims, float* const spacings);
    CoherentVolume* GetVolume() const { return kernelModule.volume; }
    /// Attaches the camera to show and steer (borrowed; null detaches).
    void SetSceneParam(SceneParam* sceneParam) { camera = sceneParam; }
    SceneParam* GetSceneParam() const { return camera; }
    /// Horizontal / vertical cut. The spelling `Horizontial` is part of the interface.
    void SetHorizontial() { horizontal = true; }
    void SetVertical() { horizontal = false; }
    bool IsHorizontial() const { return horizontal; }
    /// Side of one slice pixel in model (physical) units.
    void SetGridSpacing(float spacing) { gridSpacing = spacing; }
    float GetGridSpacing() const { return gridSpacing; }
    void SetRotateRadPerPixel(float radPerPixel) { rotateRadPerPixel = radPerPixel; }
    float GetRotateRadPerPixel() const { return rotateRadPerPixel; }
    /// The grey window: values at center map to 0.5 grey, width spans black to white.
    void SetWidthCenter(float width, float center);
    void SetWindowWidth(float width) { kernelModule.windowWidth = width; }
    void SetWindowCenter(float center) { kernelModule.windowCenter = center; }
    float GetWindowWidth() const { return kernelModule.windowWidth; }
    float GetWindowCenter() const { return kernelModule.windowCenter; }
    /// The kernel: volume, image, grey window and sliceBounds.
    EndoscopySliceRendering& GetKernelModule() { return kernelModule; }

protected:
    /// The GL-free part of Render: sizes the kernel's image to the viewport (window position
    /// 0, 0), computes the pixel-to-voxel map for the camera (pixel side gridSpacing x the
    /// camera's scale in eye units), allocates the image and renders the cut into it. False
    /// (image untouched) without a camera, a volume or an image.
    bool RenderSlice();
    /// The two field-of-view edges in event coordinates (x right, y down from the top-left
    /// corner; the drawing projection maps 0 .. width - 1 and 0 .. height - 1 onto the window),
    /// each from the camera's place on screen: lines[0..3] = x0, y0, x1, y1 of the left (upper)
    /// edge and lines[4..7] of the right (lower) edge. False without a camera.
    bool CalculateFieldOfViewLines(float lines[8]) const;

    int pressX;                            ///< 0; x at the last middle press, window coords
    int pressY;                            ///< 0; y at the last middle press, window coords
    EndoscopySliceRendering kernelModule;  ///< the kernel; its image is the scene's
    bool horizontal;                       ///< true; which cut is shown
    float gridSpacing;                     ///< 1; side of one slice pixel, model units
    int viewport[2];                       ///< 0, 0; width, height in pixels, set by Resize
    SceneParam* camera;                    ///< null; the shared camera; borrowed
    float rotateRadPerPixel;               ///< 0.005; radians of turn per pixel of offset
    float windowWidthAtPress;              ///< 0; windowWidth at the last middle press
    float windowCenterAtPress;             ///< 0; windowCenter at the last middle press
    bool middleButtonDown;                 ///< false; window drag in progress
    bool leftButtonDown;                   ///< false; move drag in progress
    bool rightButtonDown;                  ///< false; turn drag in progress

private:
    // Parks the pointer at the window centre and returns that centre.
    void ParkPointer(retStatus& status, int& cx, int& cy) const;

    VRImage* ownedImage;  // the image the constructor allocated, deleted by the destructor
};
