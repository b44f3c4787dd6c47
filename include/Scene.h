// Base of the volume scenes: owns the camera, turns mouse drags and keys
// into camera moves, loads the matrices into GL and draws its content.
#pragma once

#include "AbstractScene.h"
#include "FrameQuality.h"
#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "Quaternion.h"
#include "SceneParam.h"

// Examine mode (default): left drag rotates, middle drag pans, right drag
// zooms, each relative to the camera at the press (only the highest-priority
// held button acts: left, then middle, then right).
//
// Endoscopy mode (SetEndoscopy(true)): left drag turns the view about the
// eye, right drag (vertical) rolls it; the pointer is parked at the window
// centre (cx, cy) = (int(width / 2), int(height / 2)) after each step, so the
// turn per event follows the pointer's offset from the centre. Keys w/s/a/d
// walk forward/back/left/right at a speed that grows by `moveAcceleration`
// per key press (auto-repeat included) up to `maxMoveSpeed` and drops to 0
// at any key release. A middle drag pans in both modes.
//
// Button flags are not cleared when the mode changes: a release clears the
// flag of the mode current at the release.
//
// Interactive quality (off by default, when every frame is the full frame): while the host
// reports input under way (SetInteracting(true)), the volume scenes cast coarse frames that fit
// the frame budget (fewer rays interpolated up, for full rendering also a longer sample
// distance); once it reports input stopped, each further Render lays the next band of the full
// picture over the coarse one until NeedsRefinement() turns false. The host renders again while
// NeedsRefinement() is true and handles any input first: an event (SetInteracting(true))
// abandons the refinement. GetFrameQuality() reports the last frame.
//
// On its own, a Scene draws a placeholder: a grey background and the colour
// cube [-1, 1]^3. Derived scenes override RenderContent and GetSize3D and call
// SetSize3DModified when their extent changes.
//
// Owns no heap memory and no GL objects; copies are member-wise (the
// transient mouse state included).
class KESTREL_SCENE_API Scene : public AbstractScene {
public:
    Scene();
    Scene(Scene const&) = default;
    Scene& operator=(Scene const&) = default;
    ~Scene() override;

    /// Calls glewInit (its result is ignored).
    void Init() override;
    /// Refits the camera if the extent changed, loads the projection and
    /// model-view matrices into GL, then calls RenderContent.
    void Render() override;
    /// Stores the size, sets the camera aspect and the GL viewport.
    void Resize(int width, int height) override;
    void Keyboard(unsigned char key, int x, int y, retStatus& status) override;
    void KeyboardUp(unsigned char key, int x, int y, retStatus& status) override;
    void LButtonDown(int x, int y, retStatus& status) override;
    void LButtonUp(int x, int y, retStatus& status) override;
    void MButtonDown(int x, int y, retStatus& status) override;
    void MButtonUp(int x, int y, retStatus& status) override;
    void RButtonDown(int x, int y, retStatus& status) override;
    void RButtonUp(int x, int y, retStatus& status) override;
    void MouseMove(int x, int y, retStatus& status) override;

    void SetRotateRadPerPixel(float radPerPixel) { rotateRadPerPixel = radPerPixel; }
    float GetRotateRadPerPixel() const { return rotateRadPerPixel; }
    void SetScaleRatePerPixel(float ratePerPixel) { scaleRatePerPixel = ratePerPixel; }
    float GetScaleRatePerPixel() const { return scaleRatePerPixel; }
    float GetScale() const { return sceneParam.scale; }
    void SetScale(float scale) { sceneParam.scale = scale; }
    Quaternion const& GetRotation() const { return sceneParam.rotation; }
    void SetRotation(Quaternion const& rotation) { sceneParam.rotation = rotation; }
    /// Copies the camera translate (3 floats) out.
    void GetTranslate(float* const translate) const;
    /// Copies 3 floats into the camera translate.
    void SetTranslate(float const* const translate);
    float GetZTranslateBase() const { return sceneParam.zTranslateBase; }
    float GetFovy() const { return sceneParam.fovy; }
    /// Sets the field of view (degrees); the camera distance follows at the
    /// next Render.
    void SetFovy(float fovy);
    /// Writes width and height as set by the last Resize.
    void GetViewPort(int* viewportOut) const;
    bool GetEndoscopy() const { return endoscopy; }
    /// Switches the interaction mode; nothing else changes.
    void SetEndoscopy(bool on) { endoscopy = on; }
    void SetMoveSensitivity(float maxSpeed, float acceleration);
    void GetMoveSensitivity(float& maxSpeed, float& acceleration) const;
    /// The camera, for direct use.
    SceneParam& GetSceneParameters() { return sceneParam; }
    /// Matrices of the last Render.
    Matrix4x4 const& GetViewMatrix() const { return viewMatrix; }
    Matrix4x4 const& GetProjectionMatrix() const { return projectionMatrix; }
    /// Puts the eye at (x, y, z) in box coordinates of the GetSize3D extent.
    void MoveTo(float x, float y, float z);
    /// Walks the eye by (dx, dy, dz) model units along its own axes.
    void Move(float dx, float dy, float dz);
    /// Turns the view about the eye (radians right and up).
    void Turn(float h, float v);
    /// Rolls about the view direction (radians).
    void Roll(float angle);

    /// Coarse frames while interacting and refinement afterwards; off by default. Either way
    /// the next frame is a full one unless input is reported.
    void SetInteractiveQuality(bool on);
    bool GetInteractiveQuality() const { return quality.enabled; }
    /// Milliseconds a coarse frame or refinement step aims at; default 60; ignored unless > 0.
    void SetFrameBudget(float milliseconds);
    float GetFrameBudget() const { return quality.budgetMs; }
    /// The host's report that input is under way (true, after every event that changed the
    /// scene) or has stopped (false). true also abandons any refinement in progress.
    void SetInteracting(bool on);
    bool GetInteracting() const { return quality.interacting; }
    /// With interactive quality on and input stopped: the picture shown is not yet the full one,
    /// so the host should render again.
    bool NeedsRefinement() const {
        return quality.enabled && !quality.interacting && !quality.complete;
    }
    /// The settings and the report of the last frame.
    FrameQuality const& GetFrameQuality() const { return quality; }

protected:
    /// Draws the frame content; the matrices are already loaded.
    virtual void RenderContent();
    /// Writes the extent of what is drawn (model units, 3 floats).
    virtual void GetSize3D(float* const size);
    /// The extent returned by GetSize3D changed: refit at the next Render.
    void SetSize3DModified() { size3DModified = true; }
    /// The camera part of Render without GL: refits the camera when the extent changed and
    /// recomputes viewMatrix and projectionMatrix.
    void UpdateCamera();

    int pressX;                  ///< x at the press that started a drag, window coords
    int pressY;                  ///< y at the press that started a drag, window coords
    int viewport[2];             ///< width, height in pixels, set by Resize (0 before)
    SceneParam sceneParam;       ///< the camera
    bool size3DModified;         ///< refit the camera at the next Render; true initially
    Matrix4x4 viewMatrix;        ///< model-view matrix of the last Render; identity initially
    Matrix4x4 projectionMatrix;  ///< projection matrix of the last Render; identity initially
    float rotateRadPerPixel;     ///< radians per pixel of rotate/turn/roll; 0.005
    float scaleRatePerPixel;     ///< log scale change per pixel of zoom; ln(1.002)
    bool leftButtonDown;         ///< examine rotate drag in progress
    bool rightButtonDown;        ///< examine zoom drag in progress
    bool middleButtonDown;       ///< pan drag in progress (both modes)
    bool endoscopy;              ///< endoscopy interaction mode; false
    bool endoscopyTurning;       ///< endoscopy left button held (turn)
    bool endoscopyRolling;       ///< endoscopy right button held (roll)
    float maxMoveSpeed;          ///< walking speed limit, model units per key; 10
    float moveSpeed;             ///< current walking speed; 0
    float moveAcceleration;      ///< speed added per key press; 0.1
    FrameQuality quality;        ///< interactive-quality settings and last frame; off

private:
    // Saves the camera reference and the press position of a drag.
    void StartDrag(int x, int y);
    // Window centre (cx, cy) at which endoscopy mode parks the pointer.
    void Centre(int* cx, int* cy) const;
};
