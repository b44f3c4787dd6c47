// Defaults of the isosurface and MIP technique parameters.
#include "IsosurfaceRayCasterParam.h"
#include "MIPRayCasterParam.h"

IsosurfaceRayCasterParam::IsosurfaceRayCasterParam()
    : isovalue(100.0f), surfaceColor{1.0f, 1.0f, 1.0f} {}

MIPRayCasterParam::MIPRayCasterParam() : windowWidth(256.0f), windowCenter(128.0f) {}
