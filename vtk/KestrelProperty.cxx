// Transfer functions, material and isovalue of a vtkVolumeProperty in Kestrel's terms.
#include "KestrelProperty.h"

#include <vtkColorTransferFunction.h>
#include <vtkContourValues.h>
#include <vtkPiecewiseFunction.h>
#include <vtkVolumeProperty.h>

#include <vector>

#include "BasicLightParam.h"
#include "IsosurfaceRayCasterParam.h"
#include "Lut1D.h"

void FillPropertyTable(vtkVolumeProperty* property, double lo, double hi, Lut1D& table) {
    if (!(hi > lo)) hi = lo + 1.0;
    if (table.sampleCount != kPropertyTableSize || !table.data) {
        table.sampleCount = kPropertyTableSize;
        table.Allocate();
    }
    table.minPos = float(lo);
    table.maxPos = float(hi);
    // Entry i holds the functions at lo + i (hi - lo) / (N - 1), as GetTable samples them.
    std::vector<float> rgb(3 * kPropertyTableSize), alpha(kPropertyTableSize);
    if (property->GetColorChannels(0) == 1) {
        // A grey transfer function: one value for all three channels.
        std::vector<float> grey(kPropertyTableSize);
        property->GetGrayTransferFunction(0)->GetTable(lo, hi, kPropertyTableSize, grey.data());
        for (int i = 0; i < 3 * kPropertyTableSize; ++i)
            rgb[i] = grey[i / 3];
    } else {
        property->GetRGBTransferFunction(0)->GetTable(lo, hi, kPropertyTableSize, rgb.data());
    }
    property->GetScalarOpacity(0)->GetTable(lo, hi, kPropertyTableSize, alpha.data());
    for (int i = 0; i < kPropertyTableSize; ++i)
        table.data[i] = Vector4(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], alpha[i]);
}

void FillMaterial(vtkVolumeProperty* property, BasicLightParam& light) {
    light.ambient = float(property->GetAmbient(0));
    light.diffuse = float(property->GetDiffuse(0));
    light.specular = float(property->GetSpecular(0));
    light.specularPower = float(property->GetSpecularPower(0));
}

void FillIsosurface(vtkVolumeProperty* property, double lo, double hi,
                    IsosurfaceRayCasterParam& iso) {
    vtkContourValues* values = property->GetIsoSurfaceValues();
    const double isovalue =
        values && values->GetNumberOfContours() > 0 ? values->GetValue(0) : 0.5 * (lo + hi);
    iso.isovalue = float(isovalue);
    double rgb[3];
    property->GetRGBTransferFunction(0)->GetColor(isovalue, rgb);
    for (int c = 0; c < 3; ++c)
        iso.surfaceColor[c] = float(rgb[c]);
}
