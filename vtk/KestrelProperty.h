// What a vtkVolumeProperty asks of Kestrel's kernels: the RGBA table of the composite view, the
// colour map of the MIP, the isosurface's value and colour, and the light and material.
#pragma once

class BasicLightParam;
class IsosurfaceRayCasterParam;
class Lut1D;
class vtkVolumeProperty;

// Entries of the RGBA table over the volume's value range.
constexpr int kPropertyTableSize = 4096;

// Fills table with kPropertyTableSize entries of the property's colour and scalar opacity over
// [lo, hi] (colour not premultiplied). A range of zero width is widened by one.
void FillPropertyTable(vtkVolumeProperty* property, double lo, double hi, Lut1D& table);

// Fills ambient, diffuse, specular and power from the property; shading off leaves the kernel's
// shade flag to the caller.
void FillMaterial(vtkVolumeProperty* property, BasicLightParam& light);

// The isovalue (the property's first; the middle of [lo, hi] without one) and the colour the
// colour transfer function gives it.
void FillIsosurface(vtkVolumeProperty* property, double lo, double hi,
                    IsosurfaceRayCasterParam& iso);
