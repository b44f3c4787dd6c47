// A VTK volume mapper that ray-casts its vtkImageData with Kestrel's CPU kernels on all
// processors and blends the result into the renderer's frame.
#pragma once

#include <vtkVolumeMapper.h>

#ifndef KESTREL_VTK_API
#define KESTREL_VTK_API __attribute__((visibility("default")))
#endif

class vtkKestrelFrame;

// Renders point scalars of one component (component 0 of several) of a vtkImageData:
//   - composite blend: emission-absorption rendering through the property's colour and scalar
//     opacity functions, opacity corrected for SampleDistance against the property's scalar
//     opacity unit distance, shaded (ambient, diffuse, specular, power) when the property says so;
//   - maximum intensity: the exact maximum of the trilinear interpolant along each ray, coloured
//     by the two functions at that maximum;
//   - isosurface: the exact first crossing of the property's first isovalue, coloured by the
//     colour function there and shaded with the property's material;
//   other blend modes render as composite. The light is the renderer's first switched-on light.
// Interpolation is always trilinear. Cropping with the centre region only (VTK_CROP_SUBVOLUME)
// becomes the kernels' cropping box; other region flags are ignored. Cells marked as ghosts
// (vtkGhostType) are cropped away, so that pieces of one image that overlap by ghost layers
// render without double counting.
//
// The image is premultiplied RGBA and blended over the frame; each ray stops at the depth of the
// geometry already drawn. Perspective cameras only: with a parallel projection nothing is drawn.
// The converted, bricked scalars are kept until the input or its scalars change.
class KESTREL_VTK_API vtkKestrelVolumeMapper : public vtkVolumeMapper {
public:
    static vtkKestrelVolumeMapper* New();
    vtkTypeMacro(vtkKestrelVolumeMapper, vtkVolumeMapper);
    void PrintSelf(ostream& os, vtkIndent indent) override;

    // Distance between samples of the composite blend, world units; default 1. A value not above
    // zero takes the smallest voxel spacing.
    vtkSetMacro(SampleDistance, double);
    vtkGetMacro(SampleDistance, double);

    // Seconds the last frame spent ray-casting (set-up, kernels and the copy to the frame).
    vtkGetMacro(LastRenderSeconds, double);

    void Render(vtkRenderer* renderer, vtkVolume* volume) override;
    void ReleaseGraphicsResources(vtkWindow* window) override;

protected:
    vtkKestrelVolumeMapper();
    ~vtkKestrelVolumeMapper() override;
    int FillInputPortInformation(int port, vtkInformation* info) override;

    double SampleDistance = 1.0;
    double LastRenderSeconds = 0.0;

private:
    vtkKestrelVolumeMapper(const vtkKestrelVolumeMapper&) = delete;
    void operator=(const vtkKestrelVolumeMapper&) = delete;

    vtkKestrelFrame* Frame;  // the kernels' objects and the cached bricks, owned
};
