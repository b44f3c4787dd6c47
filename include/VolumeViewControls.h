// The settings and volume defaults that a CPU volume view and its GPU twin share. A scene derives
// from its base scene class and from its view's controls (MIPViewControls,
// IsosurfaceViewControls, FullViewControls), passing itself as the template argument; the light,
// its drag and the headlight of the shaded views are LitVolumeScene's.
#pragma once

#include <cmath>

#include "IsosurfaceRayCasterParam.h"
#include "MIPRayCasterParam.h"
#include "VolumeData.h"
#include "VolumeSceneCore.h"

// The controls act on the objects the scene's kernel points at, read through the scene's
// GetKernelModule() (and its const overload) at every call: its `vrSceneParam` (cropping),
// `mipParam` (grey window) and `isoParam` (surface), or its `shade` and sample distances (full
// rendering), whatever kernel class holds them, so a host that re-points the kernel is obeyed. With
// a null object a setter does nothing and a getter returns 0 (or leaves its outputs alone). They
// own nothing and add no state.

// The cropping box: six floats x lo, x hi, y lo, y hi, z lo, z hi in voxel coordinates
// (inclusive), copied into and out of the ray set-up.
template <class View>
class CroppingControls {
public:
    void SetCroppingBounds(float const* const bounds) {
        VolumeSceneCore::SetCropping(Self().GetKernelModule().vrSceneParam, bounds);
    }
    void GetCroppingBounds(float* const bounds) {
        VolumeSceneCore::GetCropping(Self().GetKernelModule().vrSceneParam, bounds);
    }

protected:
    View& Self() { return static_cast<View&>(*this); }
    const View& Self() const { return static_cast<const View&>(*this); }
};

// The grey window of a maximum-intensity projection: grey = (value - centre) / width + 0.5.
template <class View>
class MIPViewControls : public CroppingControls<View> {
public:
    /// Sets the grey window: values at center map to 0.5 grey, width spans black to white.
    void SetWidthCenter(float width, float center) {
        SetWindowWidth(width);
        SetWindowCenter(center);
    }
    void SetWindowWidth(float width) {
        if (MIPRayCasterParam* const window = Window()) window->windowWidth = width;
    }
    float GetWindowWidth() const {
        const MIPRayCasterParam* const window = Window();
        return window != nullptr ? window->windowWidth : 0.0f;
    }
    void SetWindowCenter(float center) {
        if (MIPRayCasterParam* const window = Window()) window->windowCenter = center;
    }
    float GetWindowCenter() const {
        const MIPRayCasterParam* const window = Window();
        return window != nullptr ? window->windowCenter : 0.0f;
    }

protected:
    /// The window of a new volume: its minimum maps to grey 0 and its maximum to grey 1
    /// (centre (min + max) / 2, width max - min; 0 for a volume of one value).
    void SetWindowToRange(double minValue, double maxValue) {
        SetWidthCenter(float(maxValue - minValue), float((minValue + maxValue) * 0.5));
    }

private:
    MIPRayCasterParam* Window() const { return this->Self().GetKernelModule().mipParam; }
};

// The isosurface: its value and colour.
template <class View>
class IsosurfaceViewControls : public CroppingControls<View> {
public:
    /// Surface value, in the volume's sample units; default 100 until the first SetData.
    void SetIsovalue(float isovalue) {
        if (IsosurfaceRayCasterParam* const iso = Iso()) iso->isovalue = isovalue;
    }
    float GetIsovalue() const {
        const IsosurfaceRayCasterParam* const iso = Iso();
        return iso != nullptr ? iso->isovalue : 0.0f;
    }
    /// Surface colour, RGB in [0, 1]; default white.
    void SetSurfaceColor(float r, float g, float b) {
        IsosurfaceRayCasterParam* const iso = Iso();
        if (iso == nullptr) return;
        iso->surfaceColor[0] = r;
        iso->surfaceColor[1] = g;
        iso->surfaceColor[2] = b;
    }
    void GetSurfaceColor(float& r, float& g, float& b) const {
        const IsosurfaceRayCasterParam* const iso = Iso();
        if (iso == nullptr) return;
        r = iso->surfaceColor[0];
        g = iso->surfaceColor[1];
        b = iso->surfaceColor[2];
    }

protected:
    /// The surface of a new volume: halfway through its value range.
    void SetIsovalueToRange(double minValue, double maxValue) {
        SetIsovalue(float((minValue + maxValue) * 0.5));
    }

private:
    IsosurfaceRayCasterParam* Iso() const { return this->Self().GetKernelModule().isoParam; }
};

// Full volume rendering: the shading switch and the sample distances of the kernel (FullVR or
// CUDAFullVR). Setting the standard sample distance is the scene's own (the GPU scene also
// rebuilds its pre-integrated table).
template <class View>
class FullViewControls : public CroppingControls<View> {
public:
    void SetShade(bool on) { this->Self().GetKernelModule().shade = on; }
    bool GetShade() const { return this->Self().GetKernelModule().shade; }
    void ShadeOn() { SetShade(true); }
    void ShadeOff() { SetShade(false); }
    /// The step length the table's opacities are given for (physical units; default 1).
    float GetStdSampleDistance() const { return this->Self().GetKernelModule().stdSampleDistance; }

protected:
    /// The sample distance of a new volume: one ninth of a voxel's diagonal,
    /// sqrt(sx^2 + sy^2 + sz^2) / 9 in physical units (computed in double precision).
    void SetSampleDistanceFor(const VolumeData& volume) {
        float s[3];
        volume.GetSpacings(s);
        this->Self().GetKernelModule().sampleDistance =
            float(std::sqrt(double(s[0]) * s[0] + double(s[1]) * s[1] + double(s[2]) * s[2]) / 9.0);
    }
};
