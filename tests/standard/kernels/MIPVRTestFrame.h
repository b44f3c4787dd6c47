// A MIP frame set up the way a scene sets it up: the shared kernel test frame with the grey
// window of the MIP kernel.
#pragma once

#include "KernelTestFrame.h"
#include "MIPRayCasterParam.h"
#include "MIPVR.h"

struct MipTestFrame : KernelTestFrame<MIPVR> {
    MIPRayCasterParam param;

    MipTestFrame() { kernel.mipParam = &param; }
};
