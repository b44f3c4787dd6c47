// Light, material and background parameters of the shaded kernels
// (isosurface and full volume rendering).
#pragma once

#include "KestrelExport.h"
#include "Matrix4x4.h"
#include "Vector.h"

// A scene owns one BasicLightParam, edits its public members and hands the
// kernel a pointer; the kernel copies what it needs at the start of a frame.
// Plain value type: no heap data, copies member-wise, not shared between
// threads while a frame is being set up. Nothing is validated.
class KESTREL_STANDARD_API BasicLightParam {
public:
    Vector4 lightDirection;    ///< direction of travel (light into scene), physical space;
                               ///< default (1, 0, 0, 0); kernels read x, y, z only
    float lightIntensity;      ///< default 1
    float lightColor[3];       ///< RGB, default (1, 1, 1)
    float ambient;             ///< ambient coefficient, default 0.1
    float diffuse;             ///< diffuse coefficient, default 1
    float specular;            ///< specular coefficient, default 0.5
    float specularPower;       ///< Phong exponent, default 10
    float backgroundColor[3];  ///< RGB the scenes clear to, default (0, 0, 0)
    bool illustrativeShading;  ///< contour style towards the background, default false

    BasicLightParam();
    BasicLightParam(const BasicLightParam& other) = default;
    BasicLightParam& operator=(const BasicLightParam& other) = default;
    ~BasicLightParam() = default;

    /// Sets lightDirection from a direction given in eye coordinates:
    /// lightDirection = inverse(modelView) x direction, then x, y, z scaled to
    /// unit length (w keeps the transformed value). A zero-length result is not
    /// guarded and gives non-finite x, y, z; a singular modelView is used
    /// uninverted.
    void GlobalLightDir(Vector4 direction, Matrix4x4 modelView);
};
