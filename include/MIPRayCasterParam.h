// Grey window of the maximum-intensity projection.
#pragma once

#include "KestrelExport.h"

// The MIP kernel maps a ray's maximum m to grey = (m - windowCenter) /
// windowWidth + 0.5, clamped to [0, 1]. Owned by a scene, read by the kernel at
// the start of each frame. Plain value type, copies member-wise; nothing is
// validated (a zero width gives an all-or-nothing image).
class KESTREL_STANDARD_API MIPRayCasterParam {
public:
    float windowWidth;   ///< value span mapped onto black..white, default 256
    float windowCenter;  ///< value mapped to grey 0.5, default 128

    MIPRayCasterParam();
    MIPRayCasterParam(const MIPRayCasterParam& other) = default;
    MIPRayCasterParam& operator=(const MIPRayCasterParam& other) = default;
    ~MIPRayCasterParam() = default;
};
