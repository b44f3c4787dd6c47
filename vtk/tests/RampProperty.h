// The volume property the mapper comparison and the frame bench share: a colour ramp from black
// through orange to white and an opacity ramp over the image's scalar range, linear interpolation.
#pragma once

#include <vtkColorTransferFunction.h>
#include <vtkImageData.h>
#include <vtkNew.h>
#include <vtkPiecewiseFunction.h>
#include <vtkVolumeProperty.h>

inline void SetRampProperty(vtkImageData* image, vtkVolumeProperty* property) {
    double range[2];
    image->GetScalarRange(range);
    const double span = range[1] - range[0];
    vtkNew<vtkColorTransferFunction> colour;
    colour->AddRGBPoint(range[0], 0.0, 0.0, 0.0);
    colour->AddRGBPoint(range[0] + 0.3 * span, 0.9, 0.4, 0.2);
    colour->AddRGBPoint(range[1], 1.0, 1.0, 0.9);
    vtkNew<vtkPiecewiseFunction> opacity;
    opacity->AddPoint(range[0] + 0.1 * span, 0.0);
    opacity->AddPoint(range[0] + 0.5 * span, 0.1);
    opacity->AddPoint(range[1], 0.6);
    property->SetColor(colour);
    property->SetScalarOpacity(opacity);
    property->SetInterpolationTypeToLinear();
}
