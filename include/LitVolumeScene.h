// The part the shaded volume scenes (isosurface, full volume rendering) share: one directional
// light with its material and background settings, the left drag that turns the light, and the
// headlight of endoscopy mode.
#pragma once

#include "KestrelExport.h"
#include "Scene.h"
#include "Vector.h"

class BasicLightParam;

// The light parameters are the derived scene's kernel's (BasicLightParam), reached through the
// kernel's pointer member, which the derived scene names once with BindLight; so a host that
// re-points the kernel's light is obeyed. Every accessor is a no-op (getters return 0 / false)
// while that pointer is null.
//
// Light: a direction of travel (from the light into the scene) in the volume's physical space,
// used as set: its length scales the diffuse term. With RotateLightDirection(true) a left drag
// turns the light instead of the camera, about the screen-plane axis perpendicular to the drag,
// by rotateRadPerPixel per pixel of the drag so far (the light is taken into eye space, turned
// and taken back: light = V^-1 R V lightAtDragStart); a move back to the press point restores the
// direction the drag began with. Middle and right drags stay with the camera, and a release ends
// a light drag even if light rotation was switched off meanwhile.
//
// Spelling note: GetBackGroundColor / SetBackGroundColor are spelled so on purpose; the spelling
// is part of the interface. Owns nothing. GL thread only; not thread-safe.
class KESTREL_SCENE_API LitVolumeScene : public Scene {
public:
    LitVolumeScene();
    ~LitVolumeScene() override;
    LitVolumeScene(LitVolumeScene const&) = delete;
    LitVolumeScene& operator=(LitVolumeScene const&) = delete;

    /// Direction of travel of the light, physical space, not normalised (w unchanged); default
    /// (1, 0, 0).
    void SetLightDirection(float x, float y, float z);
    void GetLightDirection(float& x, float& y, float& z) const;
    /// Light colour, RGB; default white.
    void SetLightColor(float r, float g, float b);
    /// Scales the ambient, diffuse and specular terms; default 1.
    void SetLightIntensity(float intensity);
    void SetAmbient(float ambient);  ///< default 0.1
    float GetAmbient() const;
    void SetDiffuse(float diffuse);  ///< default 1
    float GetDiffuse() const;
    void SetSpecular(float specular);  ///< default 0.5
    float GetSpecular() const;
    void SetSpecularPower(float power);  ///< default 10
    float GetSpecularPower() const;
    /// Clear colour of every frame and target of illustrative shading, RGB; default black.
    void SetBackGroundColor(float r, float g, float b);
    void GetBackGroundColor(float& r, float& g, float& b) const;
    /// Contour style: faces towards the viewer fade to the background; default off.
    void SetIllustrativeShading(bool on);
    bool GetIllustrativeShading() const;
    /// While on, a left drag turns the light instead of the camera; a drag already in progress
    /// keeps going until its release.
    void RotateLightDirection(bool on) { rotateLight = on; }
    /// While on, every frame points the light along the viewing direction (a headlight, as in
    /// endoscopy mode); default off. A light drag switches it off: the dragged light then stays
    /// fixed in the volume's frame.
    void SetHeadlight(bool on) { headlight = on; }
    bool GetHeadlight() const { return headlight; }

    /// With light rotation on: starts a light drag at (x, y). Otherwise Scene's.
    void LButtonDown(int x, int y, retStatus& status) override;
    /// Ends a light drag; Scene's when light rotation is off.
    void LButtonUp(int x, int y, retStatus& status) override;
    /// With light rotation on and a light drag in progress: turns the light by the drag so far
    /// and asks for a redraw. Scene's when light rotation is off.
    void MouseMove(int x, int y, retStatus& status) override;

protected:
    /// Names the kernel's light pointer member (called once by the derived constructor).
    void BindLight(BasicLightParam* const* kernelLight) { lightSlot = kernelLight; }
    /// The kernel's light parameters; null when unbound or re-pointed to null.
    BasicLightParam* Light() const { return lightSlot != nullptr ? *lightSlot : nullptr; }
    /// glClearColor (background, alpha 1), glClearDepth(1), clears colour and depth.
    void ClearToBackground();
    /// In endoscopy mode or with the headlight on: points the light along the viewing direction
    /// of the current view matrix, overriding any other setting. Nothing otherwise.
    void FollowHeadlight();

    bool rotateLight;          ///< left drags turn the light; false
    bool lightDragging;        ///< a light drag is in progress; false
    Vector4 lightAtDragStart;  ///< light direction at the press of the drag; (0, 0, 0, 1)
    bool headlight;            ///< the light follows the camera (SetHeadlight); false

private:
    BasicLightParam* const* lightSlot;  // the kernel's light pointer member; not owned
};
