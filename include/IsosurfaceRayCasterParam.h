// Isovalue and surface colour of the isosurface kernels.
#pragma once

#include "KestrelExport.h"

// Owned by a scene, read by the kernel at the start of each frame. Plain value
// type, copies member-wise; nothing is validated.
class KESTREL_STANDARD_API IsosurfaceRayCasterParam {
public:
    float isovalue;         ///< surface value in voxel units, default 100
    float surfaceColor[3];  ///< RGB, default (1, 1, 1)

    IsosurfaceRayCasterParam();
    IsosurfaceRayCasterParam(const IsosurfaceRayCasterParam& other) = default;
    IsosurfaceRayCasterParam& operator=(const IsosurfaceRayCasterParam& other) = default;
    ~IsosurfaceRayCasterParam() = default;
};
