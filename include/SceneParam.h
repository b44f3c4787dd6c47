// Perspective camera of the scenes: projection sized to the model's bounding
// sphere, model transform of translation, uniform scale and rotation.
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "Quaternion.h"

// Spaces: eye space is GL's (eye at the origin looking down -z, x right,
// y up). Model space is centred on the model: an extent (sx, sy, sz) spans
// [-sx/2, sx/2] x [-sy/2, sy/2] x [-sz/2, sz/2]. A model point is rotated,
// then scaled, then translated by (translate + (0, 0, zTranslateBase)).
//
// Examine operations (Translate, Rotate, Scale) compute from the reference
// saved by MakeReference, so they depend only on the total pixel
// displacement of a drag. Fly-through operations (Move, MoveTo, Turn, Roll)
// act on the current state and accumulate.
//
// Plain value class: no heap data, member-wise copies, not thread safe.
// Degenerate inputs (zero fovy, zero viewport height, zero extent, a
// singular view matrix in Turn/Roll) are not guarded.
class KESTREL_STANDARD_API SceneParam {
public:
    float fovy;              ///< vertical field of view, degrees; 0 until set
    float aspect;            ///< viewport width / height; 0 until set
    float zNear;             ///< near plane distance, eye units; from InitSceneParam
    float zFar;              ///< far plane distance, eye units; from InitSceneParam
    float zTranslateBase;    ///< eye-space z of the model centre at zero translate (< 0)
    float translate[3];      ///< model translation, eye space; default (0, 0, 0)
    float scale;             ///< uniform model scale; default 1
    Quaternion rotation;     ///< model orientation; default identity
    float refTranslate[3];   ///< translate saved by MakeReference; default (0, 0, 0)
    float refScale;          ///< scale saved by MakeReference; default 1
    Quaternion refRotation;  ///< rotation saved by MakeReference; default identity

    SceneParam();
    /// Identity transform, then InitSceneParam(fovy, aspect, size).
    SceneParam(float fovy, float aspect, float const* size);

    /// Derives zTranslateBase, zNear and zFar from the model extent size[3]
    /// and the current fovy, so that the bounding sphere fills the vertical
    /// field of view. The model transform is not touched.
    void InitSceneParam(float const* size);
    /// Sets fovy and aspect, then InitSceneParam(size).
    void InitSceneParam(float fovy, float aspect, float const* size);

    /// view = T(translate + (0, 0, zTranslateBase)) x S(scale) x R(rotation).
    void CalculateViewMatrix(Matrix4x4* view) const;
    /// Symmetric perspective projection from fovy, aspect, zNear and zFar.
    void CalculateProjectionMatrix(Matrix4x4* projection) const;
    /// Both matrices, view first.
    void CalculateMatrix(Matrix4x4* view, Matrix4x4* projection) const;

    /// Saves translate, scale and rotation as the reference of a drag.
    void MakeReference();
    /// Pans by a pixel displacement (y up) relative to the reference; reads
    /// only the viewport height viewport[1]. The model follows the pointer
    /// at the depth of the model centre.
    void Translate(int dx, int dy, int const* viewport);
    /// Rotates relative to the reference about the eye-space axis
    /// perpendicular to the drag (dx, dy), by the drag length x radPerPixel.
    void Rotate(int dx, int dy, float radPerPixel);
    /// scale = exp(dy x ratePerPixel) x refScale.
    void Scale(int dy, float ratePerPixel);

    /// Moves the eye by (dx, dy, dz) model units along its own right, up and
    /// backward axes (incremental).
    void Move(float dx, float dy, float dz);
    /// Puts the eye at the point (x, y, z) given in box coordinates (origin
    /// at the corner of the box of extent size[3]), keeping its orientation.
    void MoveTo(float x, float y, float z, float const* size);
    /// Turns the view direction about the eye by h (right) and v (up)
    /// radians; the eye keeps its place in the model (incremental).
    void Turn(float h, float v);
    /// Rolls about the view direction by `angle` radians, about the eye.
    void Roll(float angle);

private:
    // rotation = d x rotation, then translate corrected so that the eye
    // position in model coordinates stays where it was.
    void RotateAboutEye(Quaternion const& d);
};
